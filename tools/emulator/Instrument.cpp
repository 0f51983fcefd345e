#include "Instrument.h"

#include <algorithm>
#include <iterator>

#include "CommandTable.h"

namespace emu {

namespace {

const std::vector<scpi::HeaderPattern>& CompiledPatterns(
    const std::vector<Instrument::Command>& vecCommands) {
    static const std::vector<scpi::HeaderPattern> vecPatterns = [&vecCommands] {
        std::vector<scpi::HeaderPattern> vecCompiled;
        for (const Instrument::Command& command : vecCommands) {
            vecCompiled.push_back(scpi::CompilePattern(command.strPattern));
        }
        return vecCompiled;
    }();
    return vecPatterns;
}

}  // namespace

Instrument::Instrument(Identity identity, Family family)
    : m_identity(std::move(identity)), m_family(family) {
    Reset();
    m_nEsr = 0x80;  // power on
}

ChannelState& Instrument::Channel(int nChannel) {
    if (nChannel < 0 || nChannel >= ChannelCount()) {
        throw std::out_of_range("no such output channel");
    }
    return m_arrChannels[static_cast<size_t>(nChannel)];
}

const ChannelState& Instrument::Channel(int nChannel) const {
    if (nChannel < 0 || nChannel >= ChannelCount()) {
        throw std::out_of_range("no such output channel");
    }
    return m_arrChannels[static_cast<size_t>(nChannel)];
}

const std::vector<Instrument::Command>& Instrument::Commands() {
    static const std::vector<Command> vecCommands = [] {
        std::vector<Command> vecAll;
        for (auto* pTable : {&CommandTable::CommonCommands, &CommandTable::SystemCommands,
                             &CommandTable::ChannelsCommands, &CommandTable::SourceCommands,
                             &CommandTable::OutputCommands, &CommandTable::MeasureCommands,
                             &CommandTable::TriggerCommands, &CommandTable::ListCommands,
                             &CommandTable::BatteryCommands, &CommandTable::LoggerCommands,
                             &CommandTable::DigitalCommands, &CommandTable::StatusCommands}) {
            std::vector<Command> vecTable = pTable();
            std::move(vecTable.begin(), vecTable.end(), std::back_inserter(vecAll));
        }
        return vecAll;
    }();
    return vecCommands;
}

std::optional<Instrument::Resolved> Instrument::Resolve(const std::vector<std::string>& vecNodes,
                                                        bool bCommon) const {
    const std::vector<Command>& vecCommands = Commands();
    const std::vector<scpi::HeaderPattern>& vecPatterns = CompiledPatterns(vecCommands);
    int nFamilyBit = m_family == Family::Series6310 ? k6310 : k6510;
    Resolved resolved;
    for (size_t i = 0; i < vecCommands.size(); ++i) {
        if ((vecCommands[i].nFamilies & nFamilyBit) == 0) {
            continue;
        }
        if (bCommon != (vecCommands[i].strPattern.front() == '*')) {
            continue;
        }
        if (scpi::MatchHeader(vecPatterns[i], vecNodes, resolved.vecSuffixes)) {
            resolved.pCommand = &vecCommands[i];
            resolved.nIndex = i;
            return resolved;
        }
    }
    return std::nullopt;
}

std::string Instrument::FaultKey(const std::string& strHeaderText, bool bQuery,
                                 const std::vector<std::string>& vecNodes, bool bCommon) const {
    std::optional<Resolved> resolved;
    try {
        resolved = Resolve(vecNodes, bCommon);
    } catch (const ScpiError&) {
        resolved.reset();
    }
    if (!resolved) {
        return "raw:" + scpi::ToUpper(strHeaderText);
    }
    std::string strKey = "cmd:" + std::to_string(resolved->nIndex);
    for (int nSuffix : resolved->vecSuffixes) {
        strKey += ':';
        strKey += std::to_string(nSuffix < 0 ? 1 : nSuffix);
    }
    if (bQuery) {
        strKey += '?';
    }
    return strKey;
}

void Instrument::SetQueryFault(const std::string& strQuery, QueryFault fault) {
    scpi::ProgramUnit unit;
    std::string strKey;
    try {
        if (scpi::ParseUnit(strQuery, unit)) {
            strKey = FaultKey(unit.strHeaderText, unit.bQuery, unit.vecNodes, unit.bCommon);
        }
    } catch (const ScpiError&) {
        strKey.clear();
    }
    if (strKey.empty()) {
        strKey = "raw:" + scpi::ToUpper(scpi::Trim(strQuery));
    }
    m_mapFaults[strKey] = std::move(fault);
}

Reply Instrument::Execute(const std::string& strMessage, bool bReplyWaiting) {
    Advance();
    Reply reply;
    std::vector<std::string> vecUnits;
    try {
        vecUnits = scpi::SplitUnits(strMessage);
    } catch (const ScpiError& error) {
        PushError(error.Code());
        return reply;
    }
    std::vector<std::string> vecReplies;
    m_vecPath.clear();
    for (const std::string& strUnit : vecUnits) {
        try {
            scpi::ProgramUnit unit;
            if (!scpi::ParseUnit(strUnit, unit)) {
                continue;
            }
            std::vector<std::string> vecNodes = unit.vecNodes;
            std::optional<Resolved> resolved;
            if (!unit.bCommon && !unit.bAbsolute && !m_vecPath.empty()) {
                std::vector<std::string> vecPrefixed = m_vecPath;
                vecPrefixed.insert(vecPrefixed.end(), vecNodes.begin(), vecNodes.end());
                resolved = Resolve(vecPrefixed, false);
                if (resolved) {
                    vecNodes = vecPrefixed;
                }
            }
            if (!resolved) {
                resolved = Resolve(vecNodes, unit.bCommon);
            }
            // An injected fault answers even a query the instrument does not know.
            if (unit.bQuery && !m_mapFaults.empty()) {
                auto it = m_mapFaults.end();
                if (resolved) {
                    it = m_mapFaults.find(
                        FaultKey(unit.strHeaderText, true, vecNodes, unit.bCommon));
                }
                if (it == m_mapFaults.end()) {
                    it = m_mapFaults.find("raw:" + scpi::ToUpper(unit.strHeaderText));
                }
                if (it != m_mapFaults.end()) {
                    const QueryFault& fault = it->second;
                    switch (fault.kind) {
                        case QueryFault::Kind::Fixed:
                            vecReplies.push_back(fault.strReply);
                            break;
                        case QueryFault::Kind::NoReply:
                            break;
                        case QueryFault::Kind::Garbled:
                            vecReplies.push_back("\x01#?\xff\xfeGARBLED@@\x7f");
                            break;
                        case QueryFault::Kind::Oversized: {
                            std::string strBig = "0123456789";
                            while (strBig.size() < fault.nBytes) {
                                strBig += strBig;
                            }
                            strBig.resize(fault.nBytes);
                            vecReplies.push_back(std::move(strBig));
                            break;
                        }
                    }
                    continue;
                }
            }
            if (!resolved) {
                throw ScpiError(-113);
            }
            if (!unit.bCommon) {
                m_vecPath.assign(vecNodes.begin(), vecNodes.end() - 1);
            }
            const Handler& handler =
                unit.bQuery ? resolved->pCommand->getter : resolved->pCommand->setter;
            if (!handler) {
                throw ScpiError(-113);
            }
            std::vector<std::string> vecParameters = scpi::SplitParameters(unit.strParameters);
            Call call{vecParameters, resolved->vecSuffixes, {}};
            // MAV as the unit sees it: "*IDN?;*STB?" finds the identity queued.
            m_bOutputQueued = bReplyWaiting || !vecReplies.empty();
            handler(*this, call);
            if (unit.bQuery) {
                vecReplies.push_back(std::move(call.strReply));
            }
            SettleOutputs();
        } catch (const ScpiError& error) {
            PushError(error.Code());
            if (error.Code() <= -100 && error.Code() > -200) {
                break;  // the rest of a malformed message is not executed
            }
        }
    }
    m_bOutputQueued = false;
    SettleOutputs();
    UpdateStatus();
    if (!vecReplies.empty()) {
        reply.bHasReply = true;
        for (size_t i = 0; i < vecReplies.size(); ++i) {
            reply.strText += (i == 0 ? "" : ";") + vecReplies[i];
        }
    }
    return reply;
}

void Instrument::PushError(int nCode, const std::string& strMessage) {
    m_nEsr |= scpi::EsrBitForError(nCode);
    std::string strText = strMessage.empty() ? scpi::ErrorText(nCode) : strMessage;
    if (m_deqErrors.size() >= kErrorQueueSize) {
        m_deqErrors.back() = {-350, scpi::ErrorText(-350)};
        return;
    }
    m_deqErrors.emplace_back(nCode, strText);
}

void Instrument::Reset() {
    for (int n = 0; n < 3; ++n) {
        ChannelState& channel = m_arrChannels[static_cast<size_t>(n)];
        channel.settings = ChannelSettings{};
        channel.bOvpTripped = false;
        channel.bOcpTripped = false;
        channel.bRestoreOnClear = false;
        channel.run = ListRun{};
        channel.tpTimerOff.reset();
    }
    m_settings = InstrumentState{};
    m_nSelectedList = 1;
    m_nSelectedStep = 1;
    BatteryTest battery;
    m_battery = battery;
    m_logger = DataLogger{};
    long nExternal = m_digital.nExternalInput;
    m_digital = DigitalIo{};
    m_digital.nExternalInput = nExternal;
    m_vecPath.clear();
}

void Instrument::ClearStatus() {
    m_nEsr = 0;
    m_deqErrors.clear();
    m_nQuesEvent = 0;
    m_nInstEvent = 0;
    m_arrIsumEvent = {};
}

void Instrument::PowerCycle() {
    for (int n = 0; n < ChannelCount(); ++n) {
        AbortList(n);
    }
    StopBattery();
    m_logger.bArmed = false;
    m_logger.bRunning = false;
    if (m_nPowerOnState == kPowerOnOff) {
        Reset();
    } else if (m_nPowerOnState == kPowerOnUser) {
        const auto& slot = m_arrSlots[static_cast<size_t>(m_nPowerOnSlot)];
        Reset();
        if (slot) {
            Restore(*slot);
        }
    }
    for (ChannelState& channel : m_arrChannels) {
        channel.bOvpTripped = false;
        channel.bOcpTripped = false;
        channel.bRestoreOnClear = false;
    }
    m_deqErrors.clear();
    m_nQuesEvent = 0;
    m_nInstEvent = 0;
    m_arrIsumEvent = {};
    m_nEsr = 0x80;
    if (m_bPsc) {
        m_nEse = 0;
        m_nSre = 0;
        m_nQuesEnable = 0;
        m_nInstEnable = 0;
        m_arrIsumEnable = {};
    }
    SettleOutputs();
    UpdateStatus();
}

std::vector<Instrument::PatternInfo> Instrument::CommandPatterns() {
    std::vector<PatternInfo> vecPatterns;
    for (const Command& command : Commands()) {
        vecPatterns.push_back({command.strPattern, command.nFamilies, command.setter != nullptr,
                               command.getter != nullptr});
    }
    return vecPatterns;
}

}  // namespace emu