// The simulated supply: how settings become output levels (protection trips,
// constant-voltage and constant-current operation, the power limit), what
// the outputs measure, and the timed behaviour of lists, the battery test and
// the data logger.
#include <algorithm>
#include <cmath>

#include "CommandTable.h"

namespace emu {

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

}  // namespace emu
