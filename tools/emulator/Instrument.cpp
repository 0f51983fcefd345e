#include "Instrument.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

#include "ScpiParser.h"

namespace emu {

using scpi::ScpiError;
using scpi::Unit;

namespace {

constexpr int kBoth = 3;
constexpr int k6310 = 1;
constexpr int k6510 = 2;
constexpr size_t kErrorQueueSize = 20;

// Character-data words, mixed case giving the short form.
const std::vector<std::string_view> kTriggerWords = {"BUS", "EXTernal", "IMMediate"};
const std::vector<std::string_view> kTriggerReplies = {"BUS", "EXT", "IMM"};
const std::vector<std::string_view> kPairWords = {"OFF",     "PARAllel2", "PARAllel3", "SERIes2",
                                                  "SERIes3", "TRACk2",    "TRACk3"};
const std::vector<std::string_view> kPairReplies = {"OFF",   "PARA2", "PARA3", "SERI2",
                                                    "SERI3", "TRAC2", "TRAC3"};
const std::vector<std::string_view> kPinFunctionWords = {"NONE",   "DOUTput", "DINPut", "TOUTput",
                                                         "TINPut", "FAULt",   "INHibit"};
const std::vector<std::string_view> kPinFunctionReplies = {"NONE", "DOUT", "DINP", "TOUT",
                                                           "TINP", "FAUL", "INH"};
const std::vector<std::string_view> kPolarityWords = {"POSitive", "NEGative"};
const std::vector<std::string_view> kPolarityReplies = {"POS", "NEG"};
const std::vector<std::string_view> kInhibitWords = {"LATChing", "LIVE", "OFF"};
const std::vector<std::string_view> kInhibitReplies = {"LATC", "LIVE", "OFF"};
const std::vector<std::string_view> kRemoteWords = {"REMote", "LOCal", "RWLock"};
const std::vector<std::string_view> kRemoteReplies = {"REM", "LOC", "RWL"};
const std::vector<std::string_view> kPowerOnWords = {"OFF", "LAST", "USER"};
const std::vector<std::string_view> kChannelWords = {"CH1", "CH2", "CH3"};
const std::vector<std::string_view> kOutputModeWords = {"FIXed", "LIST"};

constexpr int kPinFunctionOutput = 1;
constexpr int kPinFunctionInhibit = 6;
constexpr int kInhibitLatching = 0;
constexpr int kInhibitLive = 1;

Clock::time_point After(Clock::time_point tp, double dSeconds) {
    return tp +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(dSeconds));
}

double SecondsBetween(Clock::time_point tpFrom, Clock::time_point tpTo) {
    return std::chrono::duration<double>(tpTo - tpFrom).count();
}

// A duration given as seconds ("90", "1.5") or as "hh:mm:ss"; 0 when unreadable.
double DurationSeconds(const std::string& strText) {
    std::string str = scpi::Trim(strText);
    int nHours = 0;
    int nMinutes = 0;
    double dSeconds = 0.0;
    if (std::sscanf(str.c_str(), "%d:%d:%lf", &nHours, &nMinutes, &dSeconds) == 3) {
        return nHours * 3600.0 + nMinutes * 60.0 + dSeconds;
    }
    char* pEnd = nullptr;
    double dValue = std::strtod(str.c_str(), &pEnd);
    return (pEnd != str.c_str() && std::isfinite(dValue) && dValue > 0.0) ? dValue : 0.0;
}

std::string Bool(bool b) {
    return b ? "1" : "0";
}

std::string CurrentDateTime(bool bDate) {
    std::time_t tNow = std::time(nullptr);
    std::tm tmNow{};
    localtime_r(&tNow, &tmNow);
    char szBuffer[32];
    if (bDate) {
        std::snprintf(szBuffer, sizeof szBuffer, "%04d,%02d,%02d", tmNow.tm_year + 1900,
                      tmNow.tm_mon + 1, tmNow.tm_mday);
    } else {
        std::snprintf(szBuffer, sizeof szBuffer, "%02d,%02d,%02d", tmNow.tm_hour, tmNow.tm_min,
                      tmNow.tm_sec);
    }
    return szBuffer;
}

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

// Arguments and reply of one program message unit.
struct Instrument::Call {
    const std::vector<std::string>& vecParameters;
    const std::vector<int>& vecSuffixes;
    std::string strReply;

    void Expect(size_t nMin, size_t nMax) const {
        if (vecParameters.size() < nMin) {
            throw ScpiError(-109);
        }
        if (vecParameters.size() > nMax) {
            throw ScpiError(-108);
        }
    }
    const std::string& Parameter(size_t n) const {
        if (n >= vecParameters.size()) {
            throw ScpiError(-109);
        }
        return vecParameters[n];
    }
    int Suffix(size_t n) const {
        return (n < vecSuffixes.size() && vecSuffixes[n] >= 0) ? vecSuffixes[n] : 1;
    }
    bool SuffixGiven(size_t n) const { return n < vecSuffixes.size() && vecSuffixes[n] >= 0; }
};

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
    using I = Instrument;
    using C = Call;
    // Factories for the many settings that are stored and read back unchanged.
    auto Selected = [](I& inst) -> ChannelState& {
        return inst.m_arrChannels[static_cast<size_t>(inst.m_settings.nSelected)];
    };
    auto RealSetting = [Selected](double ChannelSettings::*pField, Unit unit, double dMin,
                                  double dMax, double dDefault) {
        return std::pair<Handler, Handler>{
            [=](I& inst, C& call) {
                call.Expect(1, 1);
                Selected(inst).settings.*pField =
                    scpi::ParseReal(call.Parameter(0), unit, dMin, dMax, dDefault);
            },
            [=](I& inst, C& call) {
                call.Expect(0, 0);
                call.strReply = scpi::FormatReal(Selected(inst).settings.*pField);
            }};
    };
    auto BoolSetting = [Selected](bool ChannelSettings::*pField) {
        return std::pair<Handler, Handler>{
            [=](I& inst, C& call) {
                call.Expect(1, 1);
                Selected(inst).settings.*pField = scpi::ParseBoolean(call.Parameter(0));
            },
            [=](I& inst, C& call) {
                call.Expect(0, 0);
                call.strReply = Bool(Selected(inst).settings.*pField);
            }};
    };
    // Settings of the instrument as a whole, reached through a member accessor.
    auto RealOf = [](auto get, Unit unit, double dMin, double dMax, double dDefault) {
        return std::pair<Handler, Handler>{[=](I& inst, C& call) {
                                               call.Expect(1, 1);
                                               get(inst) = scpi::ParseReal(call.Parameter(0), unit,
                                                                           dMin, dMax, dDefault);
                                           },
                                           [=](I& inst, C& call) {
                                               call.Expect(0, 0);
                                               call.strReply = scpi::FormatReal(get(inst));
                                           }};
    };
    auto IntOf = [](auto get, long nMin, long nMax, long nDefault) {
        return std::pair<Handler, Handler>{
            [=](I& inst, C& call) {
                call.Expect(1, 1);
                get(inst) = static_cast<std::remove_reference_t<decltype(get(inst))>>(
                    scpi::ParseInteger(call.Parameter(0), nMin, nMax, nDefault));
            },
            [=](I& inst, C& call) {
                call.Expect(0, 0);
                call.strReply = std::to_string(get(inst));
            }};
    };
    auto BoolOf = [](auto get) {
        return std::pair<Handler, Handler>{[=](I& inst, C& call) {
                                               call.Expect(1, 1);
                                               get(inst) = scpi::ParseBoolean(call.Parameter(0));
                                           },
                                           [=](I& inst, C& call) {
                                               call.Expect(0, 0);
                                               call.strReply = Bool(get(inst));
                                           }};
    };
    auto ChoiceOf = [](auto get, const std::vector<std::string_view>* pWords,
                       const std::vector<std::string_view>* pReplies) {
        return std::pair<Handler, Handler>{
            [=](I& inst, C& call) {
                call.Expect(1, 1);
                get(inst) = static_cast<int>(scpi::ParseChoice(call.Parameter(0), *pWords));
            },
            [=](I& inst, C& call) {
                call.Expect(0, 0);
                call.strReply = std::string((*pReplies)[static_cast<size_t>(get(inst))]);
            }};
    };
    // Free text: several comma-separated pieces are kept as one text.
    auto JoinText = [](const C& call) {
        call.Expect(1, 16);
        std::string strText;
        for (const std::string& str : call.vecParameters) {
            if (!strText.empty()) {
                strText += ',';
            }
            strText += scpi::ParseText(str);
        }
        return strText;
    };
    auto TextOf = [JoinText](auto get) {
        return std::pair<Handler, Handler>{[=](I& inst, C& call) { get(inst) = JoinText(call); },
                                           [=](I& inst, C& call) {
                                               call.Expect(0, 0);
                                               call.strReply = get(inst);
                                           }};
    };
    auto Action = [](std::function<void(I&, C&)> action) {
        return std::pair<Handler, Handler>{[action](I& inst, C& call) {
                                               call.Expect(0, 0);
                                               action(inst, call);
                                           },
                                           nullptr};
    };
    auto Query = [](std::function<std::string(I&)> query) {
        return std::pair<Handler, Handler>{nullptr, [query](I& inst, C& call) {
                                               call.Expect(0, 0);
                                               call.strReply = query(inst);
                                           }};
    };
    auto Row = [](std::string strPattern, int nFamilies, std::pair<Handler, Handler> handlers) {
        return Command{std::move(strPattern), nFamilies, std::move(handlers.first),
                       std::move(handlers.second)};
    };
    auto Step = [](I& inst) -> ListStep& {
        return inst.m_arrLists[static_cast<size_t>(inst.m_nSelectedList - 1)]
            .arrSteps[static_cast<size_t>(inst.m_nSelectedStep - 1)];
    };
    auto List = [](I& inst) -> ListData& {
        return inst.m_arrLists[static_cast<size_t>(inst.m_nSelectedList - 1)];
    };
    // A step value write also extends the list to the selected step.
    auto StepReal = [Step](double ListStep::*pField, Unit unit, double dMax) {
        return std::pair<Handler, Handler>{
            [=](I& inst, C& call) {
                call.Expect(1, 1);
                Step(inst).*pField = scpi::ParseReal(call.Parameter(0), unit, 0.0, dMax, 0.0);
                ListData& list = inst.m_arrLists[static_cast<size_t>(inst.m_nSelectedList - 1)];
                list.nLength = std::max(list.nLength, inst.m_nSelectedStep);
            },
            [=](I& inst, C& call) {
                call.Expect(0, 0);
                call.strReply = scpi::FormatReal(Step(inst).*pField);
            }};
    };
    auto StepBool = [Step](bool ListStep::*pField) {
        return std::pair<Handler, Handler>{[=](I& inst, C& call) {
                                               call.Expect(1, 1);
                                               Step(inst).*pField =
                                                   scpi::ParseBoolean(call.Parameter(0));
                                           },
                                           [=](I& inst, C& call) {
                                               call.Expect(0, 0);
                                               call.strReply = Bool(Step(inst).*pField);
                                           }};
    };
    // Instrument-summary registers: numbered 1..3 on the three-output family,
    // a single unnumbered (or "1") register on the one-output family.
    auto Summary = [](I& inst, C& call) -> size_t {
        int nIndex = call.Suffix(0);
        if (nIndex < 1 || nIndex > 3) {
            throw ScpiError(-114);
        }
        if (nIndex > inst.ChannelCount()) {
            throw ScpiError(-113);  // the one-output model has no such register
        }
        return static_cast<size_t>(nIndex - 1);
    };
    auto Pin = [](C& call) -> size_t {
        int nPin = call.Suffix(0);
        if (nPin < 1 || nPin > kPinCount) {
            throw ScpiError(-114);
        }
        return static_cast<size_t>(nPin - 1);
    };
    auto ChannelWord = [](I& inst, const std::string& strText) -> int {
        std::string str = scpi::Trim(strText);
        for (size_t i = 0; i < kChannelWords.size(); ++i) {
            if (scpi::ToUpper(str) == kChannelWords[i]) {
                if (static_cast<int>(i) >= inst.ChannelCount()) {
                    throw ScpiError(-222);
                }
                return static_cast<int>(i);
            }
        }
        return static_cast<int>(scpi::ParseInteger(str, 0, inst.ChannelCount() - 1, 0));
    };

    static const std::vector<Command> vecCommands = {
        // IEEE 488.2 common commands
        Row("*IDN", kBoth,
            Query([](I& inst) {
                return inst.m_identity.strManufacturer + "," + inst.m_identity.strModel + "," +
                       inst.m_identity.strSerial + "," + inst.m_identity.strFirmware;
            })),
        Row("*RST", kBoth, Action([](I& inst, C&) { inst.Reset(); })),
        Row("*CLS", kBoth, Action([](I& inst, C&) { inst.ClearStatus(); })),
        Row("*ESR", kBoth, Query([](I& inst) {
                int nValue = inst.m_nEsr;
                inst.m_nEsr = 0;
                return std::to_string(nValue);
            })),
        Row("*ESE", kBoth, IntOf([](I& inst) -> int& { return inst.m_nEse; }, 0, 255, 0)),
        Row("*SRE", kBoth, IntOf([](I& inst) -> int& { return inst.m_nSre; }, 0, 255, 0)),
        Row("*STB", kBoth, Query([](I& inst) { return std::to_string(inst.StatusByte()); })),
        Row("*OPC", kBoth,
            {[](I& inst, C& call) {
                 call.Expect(0, 0);
                 inst.m_nEsr |= 0x01;  // every operation completes at once
             },
             [](I&, C& call) {
                 call.Expect(0, 0);
                 call.strReply = "1";
             }}),
        Row("*WAI", kBoth, Action([](I&, C&) {})),
        Row("*TRG", kBoth, Action([](I& inst, C&) { inst.Trigger(); })),
        Row("*TST", kBoth, Query([](I&) { return std::string("0"); })),
        Row("*PSC", kBoth, BoolOf([](I& inst) -> bool& { return inst.m_bPsc; })),
        Row("*SAV", kBoth, {[](I& inst, C& call) {
                                call.Expect(1, 1);
                                long nSlot = scpi::ParseInteger(call.Parameter(0), 0,
                                                                kSlotCount - 1, 0);
                                inst.m_arrSlots[static_cast<size_t>(nSlot)] = inst.Snapshot();
                            },
                            nullptr}),
        Row("*RCL", kBoth, {[](I& inst, C& call) {
                                call.Expect(1, 1);
                                long nSlot = scpi::ParseInteger(call.Parameter(0), 0,
                                                                kSlotCount - 1, 0);
                                const auto& slot = inst.m_arrSlots[static_cast<size_t>(nSlot)];
                                inst.Restore(slot ? *slot : InstrumentSettings{});
                            },
                            nullptr}),

        // System
        Row("SYSTem:ERRor:[NEXT]", kBoth, Query([](I& inst) {
                if (inst.m_deqErrors.empty()) {
                    return std::string("0,\"No error\"");
                }
                auto error = inst.m_deqErrors.front();
                inst.m_deqErrors.pop_front();
                return std::to_string(error.first) + ",\"" + error.second + "\"";
            })),
        Row("SYSTem:ERRor:COUNt", kBoth,
            Query([](I& inst) { return std::to_string(inst.m_deqErrors.size()); })),
        Row("SYSTem:VERSion", kBoth, Query([](I&) { return std::string("1999.0"); })),
        Row("SYSTem:BEEPer:STATe", kBoth,
            BoolOf([](I& inst) -> bool& { return inst.m_system.bBeeper; })),
        Row("SYSTem:BEEPer:[IMMediate]", kBoth,
            Action([](I& inst, C&) { ++inst.m_system.nBeeps; })),
        Row("SYSTem:COMMunicate:RLSTate", kBoth,
            ChoiceOf([](I& inst) -> int& { return inst.m_system.nRemoteState; }, &kRemoteWords,
                     &kRemoteReplies)),
        Row("SYSTem:RWLock", kBoth, Action([](I& inst, C&) { inst.m_system.nRemoteState = 2; })),
        Row("SYSTem:REMote", kBoth, Action([](I& inst, C&) { inst.m_system.nRemoteState = 0; })),
        Row("SYSTem:LOCal", kBoth, Action([](I& inst, C&) { inst.m_system.nRemoteState = 1; })),
        Row("SYSTem:SECure:IMMediate", kBoth, Action([](I& inst, C&) {
                inst.m_arrSlots = {};
                inst.m_arrLists = {};
                inst.m_nPowerOnState = kPowerOnOff;
                inst.m_nPowerOnSlot = 0;
                inst.PowerCycle();
            })),
        Row("SYSTem:DATE", kBoth, {[JoinText](I& inst, C& call) { inst.m_system.strDate = JoinText(call); },
                                   [](I& inst, C& call) {
                                       call.Expect(0, 0);
                                       call.strReply = inst.m_system.strDate.empty()
                                                           ? CurrentDateTime(true)
                                                           : inst.m_system.strDate;
                                   }}),
        Row("SYSTem:TIME", kBoth, {[JoinText](I& inst, C& call) { inst.m_system.strTime = JoinText(call); },
                                   [](I& inst, C& call) {
                                       call.Expect(0, 0);
                                       call.strReply = inst.m_system.strTime.empty()
                                                           ? CurrentDateTime(false)
                                                           : inst.m_system.strTime;
                                   }}),
        Row("DISPlay:[WINDow]:STATe", kBoth,
            BoolOf([](I& inst) -> bool& { return inst.m_system.bDisplay; })),
        Row("LXI:IDENtify:[STATe]", kBoth,
            BoolOf([](I& inst) -> bool& { return inst.m_system.bLxiIdentify; })),

        // Channel selection and pairing (three-output family only)
        Row("INSTrument:[SELect]", k6310,
            {[ChannelWord](I& inst, C& call) {
                 call.Expect(1, 1);
                 inst.m_settings.nSelected = ChannelWord(inst, call.Parameter(0));
                 inst.m_vecPath.clear();
             },
             [](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = std::string(
                     kChannelWords[static_cast<size_t>(inst.m_settings.nSelected)]);
             }}),
        Row("INSTrument:NSELect", k6310,
            {[](I& inst, C& call) {
                 call.Expect(1, 1);
                 inst.m_settings.nSelected =
                     static_cast<int>(scpi::ParseInteger(call.Parameter(0), 1, 3, 1)) - 1;
             },
             [](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = std::to_string(inst.m_settings.nSelected + 1);
             }}),
        Row("OUTPut:PAIR", k6310,
            ChoiceOf([](I& inst) -> int& { return inst.m_settings.nPairMode; }, &kPairWords,
                     &kPairReplies)),

        // Output levels and protection of the selected output
        Row("[SOURce]:VOLTage:[LEVel]:[IMMediate]:[AMPLitude]", kBoth,
            {[Selected](I& inst, C& call) {
                 call.Expect(1, 1);
                 ChannelSettings& settings = Selected(inst).settings;
                 settings.dVoltage =
                     scpi::ParseReal(call.Parameter(0), Unit::Volt, settings.dVoltageMin,
                                     settings.dVoltageMax, settings.dVoltageMin);
             },
             [Selected](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = scpi::FormatReal(Selected(inst).settings.dVoltage);
             }}),
        Row("[SOURce]:CURRent:[LEVel]:[IMMediate]:[AMPLitude]", kBoth,
            RealSetting(&ChannelSettings::dCurrent, Unit::Ampere, 0.0, Ratings::kCurrentMax,
                        1.0)),
        Row("[SOURce]:VOLTage:PROTection:[LEVel]:[AMPLitude]", kBoth,
            RealSetting(&ChannelSettings::dOvpLevel, Unit::Volt, 0.0, Ratings::kOvpMax,
                        Ratings::kOvpMax)),
        Row("[SOURce]:VOLTage:PROTection:TRIPped", kBoth,
            Query([Selected](I& inst) { return Bool(Selected(inst).bOvpTripped); })),
        Row("[SOURce]:VOLTage:PROTection:CLEar", kBoth, Action([Selected](I& inst, C&) {
                ChannelState& channel = Selected(inst);
                channel.bOvpTripped = false;
                if (!channel.bOcpTripped && channel.bRestoreOnClear) {
                    channel.settings.bOutput = true;
                    channel.bRestoreOnClear = false;
                }
            })),
        Row("[SOURce]:CURRent:PROTection:[LEVel]", kBoth,
            RealSetting(&ChannelSettings::dOcpLevel, Unit::Ampere, 0.0, Ratings::kOcpMax,
                        Ratings::kOcpMax)),
        Row("[SOURce]:CURRent:PROTection:STATe", kBoth,
            BoolSetting(&ChannelSettings::bOcpEnabled)),
        Row("[SOURce]:CURRent:PROTection:TRIPped", kBoth,
            Query([Selected](I& inst) { return Bool(Selected(inst).bOcpTripped); })),
        Row("[SOURce]:CURRent:PROTection:CLEar", kBoth, Action([Selected](I& inst, C&) {
                ChannelState& channel = Selected(inst);
                channel.bOcpTripped = false;
                if (!channel.bOvpTripped && channel.bRestoreOnClear) {
                    channel.settings.bOutput = true;
                    channel.bRestoreOnClear = false;
                }
            })),
        Row("[SOURce]:VOLTage:SLOPe", kBoth,
            RealSetting(&ChannelSettings::dVoltageSlew, Unit::VoltPerSecond, 0.0,
                        Ratings::kSlewMax, 0.0)),
        Row("[SOURce]:CURRent:SLOPe", kBoth,
            RealSetting(&ChannelSettings::dCurrentSlew, Unit::AmperePerSecond, 0.0,
                        Ratings::kSlewMax, 0.0)),
        Row("[SOURce]:VOLTage:MAXimum", kBoth,
            {[Selected](I& inst, C& call) {
                 call.Expect(1, 1);
                 ChannelSettings& settings = Selected(inst).settings;
                 double dValue = scpi::ParseReal(call.Parameter(0), Unit::Volt, 0.0,
                                                 Ratings::kVoltageMax, Ratings::kVoltageMax);
                 if (dValue < settings.dVoltageMin) {
                     throw ScpiError(-221);
                 }
                 settings.dVoltageMax = dValue;
                 settings.dVoltage = std::min(settings.dVoltage, dValue);
             },
             [Selected](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = scpi::FormatReal(Selected(inst).settings.dVoltageMax);
             }}),
        Row("[SOURce]:VOLTage:MINimum", kBoth,
            {[Selected](I& inst, C& call) {
                 call.Expect(1, 1);
                 ChannelSettings& settings = Selected(inst).settings;
                 double dValue = scpi::ParseReal(call.Parameter(0), Unit::Volt, 0.0,
                                                 Ratings::kVoltageMax, 0.0);
                 if (dValue > settings.dVoltageMax) {
                     throw ScpiError(-221);
                 }
                 settings.dVoltageMin = dValue;
                 settings.dVoltage = std::max(settings.dVoltage, dValue);
             },
             [Selected](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = scpi::FormatReal(Selected(inst).settings.dVoltageMin);
             }}),
        Row("[SOURce]:VOLTage:SENSe", kBoth, BoolSetting(&ChannelSettings::bSense)),
        Row("OUTPut:[STATe]", kBoth,
            {[Selected](I& inst, C& call) {
                 call.Expect(1, 1);
                 ChannelState& channel = Selected(inst);
                 bool bOn = scpi::ParseBoolean(call.Parameter(0));
                 if (bOn && (channel.bOvpTripped || channel.bOcpTripped)) {
                     // A tripped output stays off; clearing the trip switches it on.
                     channel.bRestoreOnClear = true;
                     return;
                 }
                 if (bOn && !channel.settings.bOutput && channel.settings.bTimerEnabled) {
                     double dSeconds = DurationSeconds(channel.settings.strTimerCount);
                     if (dSeconds > 0.0) {
                         channel.tpTimerOff = After(Clock::now(), dSeconds);
                     }
                 }
                 if (!bOn) {
                     channel.tpTimerOff.reset();
                     channel.bRestoreOnClear = false;
                 }
                 channel.settings.bOutput = bOn;
             },
             [Selected](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = Bool(Selected(inst).settings.bOutput);
             }}),
        Row("OUTPut:PROTection:CLEar", kBoth, Action([Selected](I& inst, C&) {
                ChannelState& channel = Selected(inst);
                channel.bOvpTripped = false;
                channel.bOcpTripped = false;
                if (channel.bRestoreOnClear) {
                    channel.settings.bOutput = true;
                    channel.bRestoreOnClear = false;
                }
                inst.m_digital.bInhibitLatched = false;
            })),
        Row("OUTPut:TIMer:[STATe]", kBoth, BoolSetting(&ChannelSettings::bTimerEnabled)),
        Row("OUTPut:TIMer:COUNt", kBoth,
            TextOf([Selected](I& inst) -> std::string& {
                return Selected(inst).settings.strTimerCount;
            })),
        Row("OUTPut:INHibit:MODE", kBoth,
            ChoiceOf([](I& inst) -> int& { return inst.m_digital.nInhibitMode; }, &kInhibitWords,
                     &kInhibitReplies)),
        Row("OUTPut:PON:STATe", kBoth,
            {[](I& inst, C& call) {
                 call.Expect(1, 2);
                 int nState = static_cast<int>(scpi::ParseChoice(call.Parameter(0), kPowerOnWords));
                 if (nState == kPowerOnUser) {
                     inst.m_nPowerOnSlot =
                         call.vecParameters.size() > 1
                             ? scpi::ParseInteger(call.Parameter(1), 0, kSlotCount - 1, 0)
                             : 0;
                 } else if (call.vecParameters.size() > 1) {
                     throw ScpiError(-108);
                 }
                 inst.m_nPowerOnState = nState;
             },
             [](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = std::string(kPowerOnWords[static_cast<size_t>(inst.m_nPowerOnState)]);
                 if (inst.m_nPowerOnState == kPowerOnUser) {
                     call.strReply += "," + std::to_string(inst.m_nPowerOnSlot);
                 }
             }}),
        Row("OUTPut:MODE", kBoth,
            {[Selected](I& inst, C& call) {
                 call.Expect(1, 2);
                 size_t nMode = scpi::ParseChoice(call.Parameter(0), kOutputModeWords);
                 ChannelState& channel = Selected(inst);
                 int nChannel = inst.m_settings.nSelected;
                 if (nMode == 0) {
                     if (call.vecParameters.size() > 1) {
                         throw ScpiError(-108);
                     }
                     inst.AbortList(nChannel);
                     channel.settings.bListMode = false;
                 } else {
                     long nList = call.vecParameters.size() > 1
                                      ? scpi::ParseInteger(call.Parameter(1), 1, kListCount, 1)
                                      : channel.settings.nModeList;
                     inst.AbortList(nChannel);
                     channel.settings.bListMode = true;
                     channel.settings.nModeList = nList;
                 }
             },
             [Selected](I& inst, C& call) {
                 call.Expect(0, 0);
                 const ChannelSettings& settings = Selected(inst).settings;
                 call.strReply = settings.bListMode
                                     ? "LIST," + std::to_string(settings.nModeList)
                                     : std::string("FIX");
             }}),

        // Measurement and programmed values
        Row("MEASure:[SCALar]:VOLTage:[DC]", kBoth, Query([](I& inst) {
                return scpi::FormatReal(inst.OperatingPoint(inst.m_settings.nSelected).dVoltage);
            })),
        Row("MEASure:[SCALar]:CURRent:[DC]", kBoth, Query([](I& inst) {
                return scpi::FormatReal(inst.OperatingPoint(inst.m_settings.nSelected).dCurrent);
            })),
        Row("MEASure:[SCALar]:POWer:[DC]", kBoth, Query([](I& inst) {
                Operating op = inst.OperatingPoint(inst.m_settings.nSelected);
                return scpi::FormatReal(op.dVoltage * op.dCurrent);
            })),
        Row("APPLy", kBoth,
            {[Selected](I& inst, C& call) {
                 call.Expect(1, 2);
                 ChannelSettings& settings = Selected(inst).settings;
                 double dVoltage =
                     scpi::ParseReal(call.Parameter(0), Unit::Volt, settings.dVoltageMin,
                                     settings.dVoltageMax, settings.dVoltageMin);
                 double dCurrent = call.vecParameters.size() > 1
                                       ? scpi::ParseReal(call.Parameter(1), Unit::Ampere, 0.0,
                                                         Ratings::kCurrentMax, 1.0)
                                       : settings.dCurrent;
                 settings.dVoltage = dVoltage;
                 settings.dCurrent = dCurrent;
             },
             [Selected](I& inst, C& call) {
                 call.Expect(0, 0);
                 const ChannelSettings& settings = Selected(inst).settings;
                 call.strReply = scpi::FormatReal(settings.dVoltage) + "," +
                                 scpi::FormatReal(settings.dCurrent);
             }}),

        // Triggering and list execution
        Row("TRIGger:[SEQuence]:SOURce", kBoth,
            ChoiceOf([Selected](I& inst) -> int& { return Selected(inst).settings.nTriggerSource; },
                     &kTriggerWords, &kTriggerReplies)),
        Row("TRIGger:[SEQuence]:[IMMediate]", kBoth,
            Action([](I& inst, C&) { inst.Trigger(); })),
        Row("INITiate:[IMMediate]", kBoth,
            {[ChannelWord](I& inst, C& call) {
                 call.Expect(0, 1);
                 int nChannel = call.vecParameters.empty()
                                    ? inst.m_settings.nSelected
                                    : ChannelWord(inst, call.Parameter(0));
                 inst.StartList(nChannel, false);
             },
             nullptr}),
        Row("INITiate:CONTinuous", kBoth,
            {[ChannelWord, Selected](I& inst, C& call) {
                 if (inst.m_family == Family::Series6510) {
                     call.Expect(1, 1);
                     Selected(inst).settings.bContinuous = scpi::ParseBoolean(call.Parameter(0));
                     return;
                 }
                 call.Expect(1, 2);
                 if (call.vecParameters.size() == 1) {
                     Selected(inst).settings.bContinuous = scpi::ParseBoolean(call.Parameter(0));
                     return;
                 }
                 int nChannel = ChannelWord(inst, call.Parameter(0));
                 inst.m_arrChannels[static_cast<size_t>(nChannel)].settings.bContinuous =
                     scpi::ParseBoolean(call.Parameter(1));
             },
             [Selected](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = Bool(Selected(inst).settings.bContinuous);
             }}),
        Row("ABORt", kBoth, {[ChannelWord](I& inst, C& call) {
                                 if (inst.m_family == Family::Series6510) {
                                     call.Expect(0, 0);
                                     inst.AbortList(0);
                                     return;
                                 }
                                 call.Expect(0, 1);
                                 if (call.vecParameters.empty()) {
                                     for (int n = 0; n < inst.ChannelCount(); ++n) {
                                         inst.AbortList(n);
                                     }
                                 } else {
                                     inst.AbortList(ChannelWord(inst, call.Parameter(0)));
                                 }
                             },
                             nullptr}),

        // List programming
        Row("[SOURce]:LIST:NUMBer", kBoth,
            IntOf([](I& inst) -> int& { return inst.m_nSelectedList; }, 1, kListCount, 1)),
        Row("[SOURce]:LIST:STEP:NUMBer", kBoth,
            IntOf([](I& inst) -> int& { return inst.m_nSelectedStep; }, 1, kStepCount, 1)),
        Row("[SOURce]:LIST:STEP", kBoth,
            BoolOf([List](I& inst) -> bool& { return List(inst).bPaceTrigger; })),
        Row("[SOURce]:LIST:VOLTage:[LEVel]", kBoth,
            StepReal(&ListStep::dVoltage, Unit::Volt, Ratings::kVoltageMax)),
        Row("[SOURce]:LIST:CURRent:[LEVel]", kBoth,
            StepReal(&ListStep::dCurrent, Unit::Ampere, Ratings::kCurrentMax)),
        Row("[SOURce]:LIST:DWELl", kBoth, StepReal(&ListStep::dDwell, Unit::Second, 86400.0)),
        Row("[SOURce]:LIST:TOUTput:BOSTep:[DATA]", kBoth, StepBool(&ListStep::bBeginTrigger)),
        Row("[SOURce]:LIST:TOUTput:EOSTep:[DATA]", kBoth, StepBool(&ListStep::bEndTrigger)),
        Row("[SOURce]:LIST:COUNt", kBoth,
            IntOf([List](I& inst) -> long& { return List(inst).nRepeatCount; }, 0, 65535, 1)),
        Row("[SOURce]:LIST:TERMinate:LAST", kBoth,
            BoolOf([List](I& inst) -> bool& { return List(inst).bTerminateLast; })),
        Row("[SOURce]:LIST:NEXT", kBoth,
            IntOf([List](I& inst) -> long& { return List(inst).nNextList; }, 0, kListCount, 0)),
        Row("[SOURce]:LIST:SAVE", kBoth, Action([](I&, C&) {})),

        // Battery test (one-output family only)
        Row("BATTery:CONFigure:AH", k6510,
            BoolOf([](I& inst) -> bool& { return inst.m_battery.bAhLogging; })),
        Row("BATTery:CONFigure:WH", k6510,
            BoolOf([](I& inst) -> bool& { return inst.m_battery.bWhLogging; })),
        Row("BATTery:CONFigure:SAMPLe", k6510,
            RealOf([](I& inst) -> double& { return inst.m_battery.dSampleTime; }, Unit::Second,
                   0.001, 86400.0, 1.0)),
        Row("BATTery:CONFigure:TRIGger:SOURce", k6510,
            ChoiceOf([](I& inst) -> int& { return inst.m_battery.nTriggerSource; }, &kTriggerWords,
                     &kTriggerReplies)),
        Row("BATTery:MODe:ENABle", k6510,
            BoolOf([](I& inst) -> bool& { return inst.m_battery.bChargeMode; })),
        Row("BATTery:MODe:VOLTage", k6510,
            RealOf([](I& inst) -> double& { return inst.m_battery.dVoltage; }, Unit::Volt, 0.0,
                   Ratings::kVoltageMax, 0.0)),
        Row("BATTery:MODe:CURRent", k6510,
            RealOf([](I& inst) -> double& { return inst.m_battery.dCurrent; }, Unit::Ampere, 0.0,
                   Ratings::kCurrentMax, 0.0)),
        Row("BATTery:MODe:END:CURRent", k6510,
            RealOf([](I& inst) -> double& { return inst.m_battery.dEndCurrent; }, Unit::Ampere,
                   0.0, Ratings::kCurrentMax, 0.0)),
        Row("BATTery:MODe:END:DELay", k6510,
            IntOf([](I& inst) -> long& { return inst.m_battery.nEndDelay; }, 0, 86400, 0)),
        Row("BATTery:MODe:STATe", k6510,
            {[](I& inst, C& call) {
                 call.Expect(1, 1);
                 if (scpi::ParseBoolean(call.Parameter(0))) {
                     if (!inst.m_battery.bRunning && !inst.m_battery.bArmed) {
                         inst.m_battery.bArmed = true;
                         if (inst.m_battery.nTriggerSource == kTriggerImmediate) {
                             inst.StartBattery(Clock::now());
                         }
                     }
                 } else {
                     inst.StopBattery();
                 }
             },
             [](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = Bool(inst.m_battery.bRunning || inst.m_battery.bArmed);
             }}),
        Row("BATTery:STATe", k6510,
            Query([](I& inst) { return Bool(inst.m_battery.bRunning); })),
        Row("BATTery:FAILSAFe:STATe", k6510,
            BoolOf([](I& inst) -> bool& { return inst.m_battery.bFailSafe; })),
        Row("BATTery:FAILSAFe:A", k6510,
            RealOf([](I& inst) -> double& { return inst.m_battery.dFailSafeAh; }, Unit::None, 0.0,
                   1e6, 0.0)),
        Row("BATTery:FAILSAFe:W", k6510,
            RealOf([](I& inst) -> double& { return inst.m_battery.dFailSafeWh; }, Unit::None, 0.0,
                   1e6, 0.0)),
        Row("BATTery:FAILSAFe:OVP", k6510,
            RealOf([](I& inst) -> double& { return inst.m_battery.dFailSafeOvp; }, Unit::Volt,
                   0.0, Ratings::kOvpMax, 0.0)),
        Row("BATTery:FAILSAFe:TIMe", k6510,
            TextOf([](I& inst) -> std::string& { return inst.m_battery.strFailSafeTime; })),
        Row("BATTery:AH", k6510,
            Query([](I& inst) { return scpi::FormatReal(inst.m_battery.dAmpHours); })),
        Row("BATTery:WH", k6510,
            Query([](I& inst) { return scpi::FormatReal(inst.m_battery.dWattHours); })),

        // Data logger
        Row("SENSe:DLOG:FUNCtion:TINTerval", kBoth,
            RealOf([](I& inst) -> double& { return inst.m_logger.dInterval; }, Unit::Second,
                   0.001, 86400.0, 1.0)),
        Row("TRIGger:DLOG:SOURce", kBoth,
            ChoiceOf([](I& inst) -> int& { return inst.m_logger.nTriggerSource; }, &kTriggerWords,
                     &kTriggerReplies)),
        Row("INITiate:[IMMediate]:DLOG", kBoth, Action([](I& inst, C&) {
                if (inst.m_logger.bRunning) {
                    return;
                }
                inst.m_logger.bArmed = true;
                if (inst.m_logger.nTriggerSource == kTriggerImmediate) {
                    inst.m_logger.bArmed = false;
                    inst.m_logger.bRunning = true;
                    inst.m_logger.tpStart = Clock::now();
                }
            })),
        Row("TRIGger:DLOG:[IMMediate]", kBoth, Action([](I& inst, C&) {
                if (!inst.m_logger.bRunning) {
                    inst.m_logger.bArmed = false;
                    inst.m_logger.bRunning = true;
                    inst.m_logger.tpStart = Clock::now();
                }
            })),
        Row("ABORt:DLOG", kBoth, Action([](I& inst, C&) {
                inst.m_logger.bArmed = false;
                inst.m_logger.bRunning = false;
            })),
        Row("FETCh:DLOG:COUNt", kBoth,
            Query([](I& inst) { return std::to_string(inst.DataLoggerSamples()); })),

        // Digital I/O
        Row("[SOURce]:DIGital:PIN#:FUNCtion", kBoth,
            {[Pin](I& inst, C& call) {
                 call.Expect(1, 1);
                 size_t nPin = Pin(call);
                 inst.m_digital.arrFunction[nPin] =
                     static_cast<int>(scpi::ParseChoice(call.Parameter(0), kPinFunctionWords));
             },
             [Pin](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = std::string(kPinFunctionReplies[static_cast<size_t>(
                     inst.m_digital.arrFunction[Pin(call)])]);
             }}),
        Row("[SOURce]:DIGital:PIN#:POLarity", kBoth,
            {[Pin](I& inst, C& call) {
                 call.Expect(1, 1);
                 size_t nPin = Pin(call);
                 inst.m_digital.arrNegative[nPin] =
                     scpi::ParseChoice(call.Parameter(0), kPolarityWords) == 1;
             },
             [Pin](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = std::string(kPolarityReplies[inst.m_digital.arrNegative[Pin(call)] ? 1 : 0]);
             }}),
        Row("[SOURce]:DIGital:INPut:DATA", kBoth, Query([](I& inst) {
                long nLevels = 0;
                for (size_t i = 0; i < kPinCount; ++i) {
                    bool bLevel = inst.m_digital.arrFunction[i] == kPinFunctionOutput
                                      ? ((inst.m_digital.nOutputData >> i) & 1) != 0
                                      : ((inst.m_digital.nExternalInput >> i) & 1) != 0;
                    if (bLevel != inst.m_digital.arrNegative[i]) {
                        nLevels |= 1L << i;
                    }
                }
                return std::to_string(nLevels);
            })),
        Row("[SOURce]:DIGital:OUTPut:DATA", kBoth,
            IntOf([](I& inst) -> long& { return inst.m_digital.nOutputData; }, 0,
                  (1L << kPinCount) - 1, 0)),

        // SCPI status registers
        Row("STATus:QUEStionable:[EVENt]", kBoth, Query([](I& inst) {
                int nValue = inst.m_nQuesEvent;
                inst.m_nQuesEvent = 0;
                return std::to_string(nValue);
            })),
        Row("STATus:QUEStionable:CONDition", kBoth,
            Query([](I& inst) { return std::to_string(inst.m_nQuesCondition); })),
        Row("STATus:QUEStionable:ENABle", kBoth,
            IntOf([](I& inst) -> int& { return inst.m_nQuesEnable; }, 0, 32767, 0)),
        Row("STATus:QUEStionable:INSTrument:[EVENt]", kBoth, Query([](I& inst) {
                int nValue = inst.m_nInstEvent;
                inst.m_nInstEvent = 0;
                return std::to_string(nValue);
            })),
        Row("STATus:QUEStionable:INSTrument:CONDition", kBoth,
            Query([](I& inst) { return std::to_string(inst.m_nInstCondition); })),
        Row("STATus:QUEStionable:INSTrument:ENABle", kBoth,
            IntOf([](I& inst) -> int& { return inst.m_nInstEnable; }, 0, 32767, 0)),
        Row("STATus:QUEStionable:ISUMmary#:[EVENt]", kBoth,
            {nullptr,
             [Summary](I& inst, C& call) {
                 call.Expect(0, 0);
                 size_t nIndex = Summary(inst, call);
                 call.strReply = std::to_string(inst.m_arrIsumEvent[nIndex]);
                 inst.m_arrIsumEvent[nIndex] = 0;
             }}),
        Row("STATus:QUEStionable:ISUMmary#:CONDition", kBoth,
            {nullptr,
             [Summary](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = std::to_string(inst.m_arrIsumCondition[Summary(inst, call)]);
             }}),
        Row("STATus:QUEStionable:ISUMmary#:ENABle", kBoth,
            {[Summary](I& inst, C& call) {
                 call.Expect(1, 1);
                 size_t nIndex = Summary(inst, call);
                 inst.m_arrIsumEnable[nIndex] =
                     static_cast<int>(scpi::ParseInteger(call.Parameter(0), 0, 32767, 0));
             },
             [Summary](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = std::to_string(inst.m_arrIsumEnable[Summary(inst, call)]);
             }}),
        Row("STATus:PRESet", kBoth, Action([](I& inst, C&) {
                inst.m_nQuesEnable = 0;
                inst.m_nInstEnable = 0;
                inst.m_arrIsumEnable = {};
            })),
    };
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

InstrumentSettings Instrument::Snapshot() const {
    InstrumentSettings settings;
    for (size_t n = 0; n < 3; ++n) {
        settings.arrChannels[n] = m_arrChannels[n].settings;
    }
    settings.nSelected = m_settings.nSelected;
    settings.nPairMode = m_settings.nPairMode;
    return settings;
}

void Instrument::Restore(const InstrumentSettings& settings) {
    for (int n = 0; n < 3; ++n) {
        AbortList(n);
        ChannelState& channel = m_arrChannels[static_cast<size_t>(n)];
        channel.settings = settings.arrChannels[static_cast<size_t>(n)];
        channel.bRestoreOnClear = false;
        channel.tpTimerOff.reset();
    }
    m_settings.nSelected = std::min(settings.nSelected, ChannelCount() - 1);
    m_settings.nPairMode = settings.nPairMode;
}

bool Instrument::Inhibited() const {
    if (m_digital.nInhibitMode == kInhibitLatching && m_digital.bInhibitLatched) {
        return true;
    }
    if (m_digital.nInhibitMode != kInhibitLive && m_digital.nInhibitMode != kInhibitLatching) {
        return false;
    }
    for (size_t i = 0; i < kPinCount; ++i) {
        if (m_digital.arrFunction[i] == kPinFunctionInhibit) {
            bool bLevel = ((m_digital.nExternalInput >> i) & 1) != 0;
            if (bLevel != m_digital.arrNegative[i]) {
                return true;
            }
        }
    }
    return false;
}

void Instrument::ActiveSetpoints(int nChannel, double& dVoltage, double& dCurrent) const {
    const ChannelState& channel = m_arrChannels[static_cast<size_t>(nChannel)];
    if (channel.run.bRunning) {
        const ListStep& step = m_arrLists[static_cast<size_t>(channel.run.nList - 1)]
                                   .arrSteps[static_cast<size_t>(channel.run.nStep)];
        dVoltage = step.dVoltage;
        dCurrent = step.dCurrent;
    } else if (channel.run.bHolding) {
        dVoltage = channel.run.dHoldVoltage;
        dCurrent = channel.run.dHoldCurrent;
    } else {
        dVoltage = channel.settings.dVoltage;
        dCurrent = channel.settings.dCurrent;
    }
}

Instrument::Operating Instrument::OperatingPoint(int nChannel) const {
    const ChannelState& channel = m_arrChannels[static_cast<size_t>(nChannel)];
    Operating op;
    if (nChannel == 0 && m_battery.bRunning) {
        op.dVoltage = m_battery.dVoltage;
        op.dCurrent = m_battery.dPresentCurrent;
        op.bConstantCurrent = false;
        return op;
    }
    if (!channel.settings.bOutput || Inhibited()) {
        return op;
    }
    double dVoltage = 0.0;
    double dCurrent = 0.0;
    ActiveSetpoints(nChannel, dVoltage, dCurrent);
    double dLoad = channel.dLoad;
    if (!(dLoad > 0.0) || std::isinf(dLoad)) {
        op.dVoltage = dVoltage;
        op.dCurrent = 0.0;
    } else if (dVoltage / dLoad <= dCurrent) {
        op.dVoltage = dVoltage;
        op.dCurrent = dVoltage / dLoad;
    } else {
        op.dVoltage = dCurrent * dLoad;
        op.dCurrent = dCurrent;
        op.bConstantCurrent = true;
    }
    op.bUnregulated = op.dVoltage * op.dCurrent > Ratings::kPowerMax * (1.0 + 1e-9);
    return op;
}

// Protection trips switch the output off and remember to restore it when the
// trip is cleared.
void Instrument::SettleOutputs() {
    if (m_digital.nInhibitMode == kInhibitLatching) {
        for (size_t i = 0; i < kPinCount; ++i) {
            if (m_digital.arrFunction[i] == kPinFunctionInhibit &&
                (((m_digital.nExternalInput >> i) & 1) != 0) != m_digital.arrNegative[i]) {
                m_digital.bInhibitLatched = true;
            }
        }
    }
    for (int n = 0; n < ChannelCount(); ++n) {
        ChannelState& channel = m_arrChannels[static_cast<size_t>(n)];
        Operating op = OperatingPoint(n);
        bool bOvp = op.dVoltage > channel.settings.dOvpLevel * (1.0 + 1e-9);
        bool bOcp =
            channel.settings.bOcpEnabled && op.dCurrent > channel.settings.dOcpLevel * (1.0 + 1e-9);
        if ((bOvp || bOcp) && channel.settings.bOutput) {
            channel.bOvpTripped = channel.bOvpTripped || bOvp;
            channel.bOcpTripped = channel.bOcpTripped || bOcp;
            channel.settings.bOutput = false;
            channel.bRestoreOnClear = true;
            channel.tpTimerOff.reset();
            if (n == 0 && m_battery.bRunning) {
                StopBattery();
            }
        }
    }
}

void Instrument::UpdateStatus() {
    int nInstSummary = 0;
    int nQuesCondition = 0;
    for (int n = 0; n < ChannelCount(); ++n) {
        const ChannelState& channel = m_arrChannels[static_cast<size_t>(n)];
        Operating op = OperatingPoint(n);
        int nCondition = (op.bConstantCurrent ? 0x01 : 0) | (channel.bOvpTripped ? 0x02 : 0) |
                         (op.bUnregulated ? 0x04 : 0) | (channel.bOcpTripped ? 0x08 : 0);
        size_t nIndex = static_cast<size_t>(n);
        m_arrIsumEvent[nIndex] |= nCondition & ~m_arrIsumCondition[nIndex];
        m_arrIsumCondition[nIndex] = nCondition;
        if ((m_arrIsumEvent[nIndex] & m_arrIsumEnable[nIndex]) != 0) {
            nInstSummary |= 1 << (n + 1);
        }
        nQuesCondition |= (channel.bOvpTripped ? 0x01 : 0) | (channel.bOcpTripped ? 0x02 : 0);
    }
    m_nInstEvent |= nInstSummary & ~m_nInstCondition;
    m_nInstCondition = nInstSummary;
    if ((m_nInstEvent & m_nInstEnable) != 0) {
        nQuesCondition |= 1 << 13;
    }
    m_nQuesEvent |= nQuesCondition & ~m_nQuesCondition;
    m_nQuesCondition = nQuesCondition;
}

int Instrument::StatusByte() const {
    int nStb = 0;
    if (!m_deqErrors.empty()) {
        nStb |= 0x04;
    }
    if ((m_nQuesEvent & m_nQuesEnable) != 0) {
        nStb |= 0x08;
    }
    if (m_bOutputQueued) {
        nStb |= 0x10;
    }
    if ((m_nEsr & m_nEse) != 0) {
        nStb |= 0x20;
    }
    if ((nStb & m_nSre & ~0x40) != 0) {
        nStb |= 0x40;
    }
    return nStb;
}

// List execution ---------------------------------------------------------

void Instrument::StartList(int nChannel, bool bFromTrigger) {
    ChannelState& channel = m_arrChannels[static_cast<size_t>(nChannel)];
    if (!channel.settings.bListMode) {
        throw ScpiError(-221);
    }
    int nList = static_cast<int>(channel.settings.nModeList);
    if (m_arrLists[static_cast<size_t>(nList - 1)].nLength == 0) {
        throw ScpiError(-221);
    }
    if (channel.run.bRunning || channel.run.bArmed) {
        return;
    }
    channel.run = ListRun{};
    channel.run.nList = nList;
    if (bFromTrigger || channel.settings.nTriggerSource == kTriggerImmediate) {
        BeginListRun(nChannel, nList, Clock::now());
    } else {
        channel.run.bArmed = true;
    }
}

void Instrument::BeginListRun(int nChannel, int nList, Clock::time_point tpStart) {
    ListRun& run = m_arrChannels[static_cast<size_t>(nChannel)].run;
    run.bArmed = false;
    run.bRunning = true;
    run.bHolding = false;
    run.nList = nList;
    run.nStep = 0;
    run.nPass = 0;
    run.tpStepStart = tpStart;
}

void Instrument::NextStep(int nChannel, Clock::time_point tpAt) {
    ListRun& run = m_arrChannels[static_cast<size_t>(nChannel)].run;
    const ListData& list = m_arrLists[static_cast<size_t>(run.nList - 1)];
    run.tpStepStart = tpAt;
    if (++run.nStep < list.nLength) {
        return;
    }
    ++run.nPass;
    if (list.nRepeatCount == 0 || run.nPass < list.nRepeatCount) {
        run.nStep = 0;
        return;
    }
    FinishList(nChannel, tpAt);
}

void Instrument::FinishList(int nChannel, Clock::time_point tpAt) {
    ChannelState& channel = m_arrChannels[static_cast<size_t>(nChannel)];
    ListRun& run = channel.run;
    const ListData& list = m_arrLists[static_cast<size_t>(run.nList - 1)];
    if (list.nNextList > 0 && m_arrLists[static_cast<size_t>(list.nNextList - 1)].nLength > 0) {
        BeginListRun(nChannel, static_cast<int>(list.nNextList), tpAt);
        return;
    }
    const ListStep& last = list.arrSteps[static_cast<size_t>(std::max(list.nLength, 1) - 1)];
    run.bRunning = false;
    run.bHolding = list.bTerminateLast;
    run.dHoldVoltage = last.dVoltage;
    run.dHoldCurrent = last.dCurrent;
    if (channel.settings.bContinuous) {
        if (channel.settings.nTriggerSource == kTriggerImmediate) {
            BeginListRun(nChannel, static_cast<int>(channel.settings.nModeList), tpAt);
        } else {
            run.bArmed = true;
        }
    }
}

void Instrument::AbortList(int nChannel) {
    m_arrChannels[static_cast<size_t>(nChannel)].run = ListRun{};
}

void Instrument::AdvanceList(int nChannel, Clock::time_point tpNow) {
    ListRun& run = m_arrChannels[static_cast<size_t>(nChannel)].run;
    // Each step lasts at least a millisecond, so a list of zero dwells that
    // repeats forever still moves forward in time.
    for (int nGuard = 0; run.bRunning && nGuard < 1000000; ++nGuard) {
        const ListData& list = m_arrLists[static_cast<size_t>(run.nList - 1)];
        if (list.bPaceTrigger) {
            return;
        }
        double dDwell = std::max(list.arrSteps[static_cast<size_t>(run.nStep)].dDwell, 0.001);
        Clock::time_point tpEnd = After(run.tpStepStart, dDwell);
        if (tpNow < tpEnd) {
            return;
        }
        NextStep(nChannel, tpEnd);
    }
}

void Instrument::Trigger() {
    Clock::time_point tpNow = Clock::now();
    for (int n = 0; n < ChannelCount(); ++n) {
        ChannelState& channel = m_arrChannels[static_cast<size_t>(n)];
        if (channel.settings.nTriggerSource != kTriggerBus) {
            continue;
        }
        if (channel.run.bArmed) {
            BeginListRun(n, channel.run.nList, tpNow);
        } else if (channel.run.bRunning &&
                   m_arrLists[static_cast<size_t>(channel.run.nList - 1)].bPaceTrigger) {
            NextStep(n, tpNow);
        }
    }
    if (m_battery.bArmed && !m_battery.bRunning && m_battery.nTriggerSource == kTriggerBus) {
        StartBattery(tpNow);
    }
    if (m_logger.bArmed && m_logger.nTriggerSource == kTriggerBus) {
        m_logger.bArmed = false;
        m_logger.bRunning = true;
        m_logger.tpStart = tpNow;
    }
}

// Battery test -----------------------------------------------------------

void Instrument::StartBattery(Clock::time_point tpNow) {
    m_battery.bArmed = false;
    m_battery.bRunning = true;
    m_battery.tpStart = tpNow;
    m_battery.tpLast = tpNow;
    m_battery.tpBelowEnd.reset();
    m_battery.dAmpHours = 0.0;
    m_battery.dWattHours = 0.0;
    m_battery.dPresentCurrent = m_battery.dCurrent;
}

void Instrument::StopBattery() {
    m_battery.bArmed = false;
    m_battery.bRunning = false;
    m_battery.dPresentCurrent = 0.0;
}

// The battery takes the programmed current at first; the current falls with
// the battery's time constant as it charges (or discharges). The test ends
// when the current has stayed at or below the end current for the end delay,
// or when an enabled fail-safe limit is reached.
void Instrument::AdvanceBattery(Clock::time_point tpNow) {
    if (!m_battery.bRunning) {
        return;
    }
    double dGap = SecondsBetween(m_battery.tpLast, tpNow);
    double dStep = std::max(0.01, dGap / 10000.0);
    while (m_battery.bRunning && m_battery.tpLast < tpNow) {
        double dDt = std::min(dStep, SecondsBetween(m_battery.tpLast, tpNow));
        Clock::time_point tpAt = After(m_battery.tpLast, dDt);
        if (tpAt <= m_battery.tpLast) {
            tpAt = tpNow;
        }
        double dElapsed = SecondsBetween(m_battery.tpStart, tpAt);
        double dCurrent = m_battery.dCurrent * std::exp(-dElapsed / kBatteryTimeConstant);
        m_battery.dPresentCurrent = dCurrent;
        m_battery.dAmpHours += dCurrent * dDt / 3600.0;
        m_battery.dWattHours += m_battery.dVoltage * dCurrent * dDt / 3600.0;
        m_battery.tpLast = tpAt;
        if (m_battery.dEndCurrent > 0.0 && dCurrent <= m_battery.dEndCurrent) {
            if (!m_battery.tpBelowEnd) {
                m_battery.tpBelowEnd = tpAt;
            }
            if (SecondsBetween(*m_battery.tpBelowEnd, tpAt) >=
                static_cast<double>(m_battery.nEndDelay)) {
                StopBattery();
                break;
            }
        }
        if (m_battery.bFailSafe) {
            double dTimeLimit = DurationSeconds(m_battery.strFailSafeTime);
            bool bStop =
                (m_battery.dFailSafeAh > 0.0 && m_battery.dAmpHours >= m_battery.dFailSafeAh) ||
                (m_battery.dFailSafeWh > 0.0 && m_battery.dWattHours >= m_battery.dFailSafeWh) ||
                (dTimeLimit > 0.0 && dElapsed >= dTimeLimit) ||
                (m_battery.dFailSafeOvp > 0.0 && m_battery.dVoltage > m_battery.dFailSafeOvp);
            if (bStop) {
                StopBattery();
                break;
            }
        }
    }
}

void Instrument::Advance() {
    Clock::time_point tpNow = Clock::now();
    for (int n = 0; n < ChannelCount(); ++n) {
        ChannelState& channel = m_arrChannels[static_cast<size_t>(n)];
        AdvanceList(n, tpNow);
        if (channel.tpTimerOff && tpNow >= *channel.tpTimerOff) {
            channel.settings.bOutput = false;
            channel.tpTimerOff.reset();
        }
    }
    AdvanceBattery(tpNow);
    SettleOutputs();
    UpdateStatus();
}

// Inspection -------------------------------------------------------------

void Instrument::SetLoadResistance(int nChannel, double dOhms) {
    Channel(nChannel).dLoad = dOhms;
    SettleOutputs();
    UpdateStatus();
}

double Instrument::MeasuredVoltage(int nChannel) {
    Channel(nChannel);
    Advance();
    return OperatingPoint(nChannel).dVoltage;
}

double Instrument::MeasuredCurrent(int nChannel) {
    Channel(nChannel);
    Advance();
    return OperatingPoint(nChannel).dCurrent;
}

int Instrument::ListStepNumber(int nChannel) {
    Advance();
    const ListRun& run = Channel(nChannel).run;
    return run.bRunning ? run.nStep + 1 : 0;
}

bool Instrument::ListRunning(int nChannel) {
    Advance();
    return Channel(nChannel).run.bRunning;
}

bool Instrument::BatteryTestRunning() {
    Advance();
    return m_battery.bRunning;
}

bool Instrument::DataLoggerRunning() {
    Advance();
    return m_logger.bRunning;
}

size_t Instrument::DataLoggerSamples() {
    if (!m_logger.bRunning) {
        return 0;
    }
    double dElapsed = SecondsBetween(m_logger.tpStart, Clock::now());
    return static_cast<size_t>(std::floor(dElapsed / m_logger.dInterval)) + 1;
}

void Instrument::SetDigitalInput(long nLevels) {
    m_digital.nExternalInput = nLevels;
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
