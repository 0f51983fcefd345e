// The commands that set and read the outputs: channel selection, levels and
// protection, output state, measurement.
#include <algorithm>
#include <cmath>

#include "CommandTable.h"

namespace emu {

// INSTrument and OUTPut:PAIR: channel selection and pairing (three-output family only).
std::vector<Instrument::Command> CommandTable::ChannelsCommands() {
    return {
        Row("INSTrument:[SELect]", k6310,
            {[](I& inst, C& call) {
                 call.Expect(1, 1);
                 inst.m_settings.nSelected = ChannelWord(inst, call.Parameter(0));
                 inst.m_vecPath.clear();
             },
             [](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply =
                     std::string(kChannelWords[static_cast<size_t>(inst.m_settings.nSelected)]);
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
    };
}

// [SOURce]: output levels and protection of the selected output.
std::vector<Instrument::Command> CommandTable::SourceCommands() {
    return {
        Row("[SOURce]:VOLTage:[LEVel]:[IMMediate]:[AMPLitude]", kBoth,
            {[](I& inst, C& call) {
                 call.Expect(1, 1);
                 ChannelSettings& settings = Selected(inst).settings;
                 settings.dVoltage =
                     scpi::ParseReal(call.Parameter(0), Unit::Volt, settings.dVoltageMin,
                                     settings.dVoltageMax, settings.dVoltageMin);
             },
             [](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = scpi::FormatReal(Selected(inst).settings.dVoltage);
             }}),
        Row("[SOURce]:CURRent:[LEVel]:[IMMediate]:[AMPLitude]", kBoth,
            RealSetting(&ChannelSettings::dCurrent, Unit::Ampere, 0.0, Ratings::kCurrentMax, 1.0)),
        Row("[SOURce]:VOLTage:PROTection:[LEVel]:[AMPLitude]", kBoth,
            RealSetting(&ChannelSettings::dOvpLevel, Unit::Volt, 0.0, Ratings::kOvpMax,
                        Ratings::kOvpMax)),
        Row("[SOURce]:VOLTage:PROTection:TRIPped", kBoth,
            Query([](I& inst) { return Bool(Selected(inst).bOvpTripped); })),
        Row("[SOURce]:VOLTage:PROTection:CLEar", kBoth, Action([](I& inst, C&) {
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
        Row("[SOURce]:CURRent:PROTection:STATe", kBoth, BoolSetting(&ChannelSettings::bOcpEnabled)),
        Row("[SOURce]:CURRent:PROTection:TRIPped", kBoth,
            Query([](I& inst) { return Bool(Selected(inst).bOcpTripped); })),
        Row("[SOURce]:CURRent:PROTection:CLEar", kBoth, Action([](I& inst, C&) {
                ChannelState& channel = Selected(inst);
                channel.bOcpTripped = false;
                if (!channel.bOvpTripped && channel.bRestoreOnClear) {
                    channel.settings.bOutput = true;
                    channel.bRestoreOnClear = false;
                }
            })),
        Row("[SOURce]:VOLTage:SLOPe", kBoth,
            RealSetting(&ChannelSettings::dVoltageSlew, Unit::VoltPerSecond, 0.0, Ratings::kSlewMax,
                        0.0)),
        Row("[SOURce]:CURRent:SLOPe", kBoth,
            RealSetting(&ChannelSettings::dCurrentSlew, Unit::AmperePerSecond, 0.0,
                        Ratings::kSlewMax, 0.0)),
        Row("[SOURce]:VOLTage:MAXimum", kBoth,
            {[](I& inst, C& call) {
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
             [](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = scpi::FormatReal(Selected(inst).settings.dVoltageMax);
             }}),
        Row("[SOURce]:VOLTage:MINimum", kBoth,
            {[](I& inst, C& call) {
                 call.Expect(1, 1);
                 ChannelSettings& settings = Selected(inst).settings;
                 double dValue =
                     scpi::ParseReal(call.Parameter(0), Unit::Volt, 0.0, Ratings::kVoltageMax, 0.0);
                 if (dValue > settings.dVoltageMax) {
                     throw ScpiError(-221);
                 }
                 settings.dVoltageMin = dValue;
                 settings.dVoltage = std::max(settings.dVoltage, dValue);
             },
             [](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = scpi::FormatReal(Selected(inst).settings.dVoltageMin);
             }}),
        Row("[SOURce]:VOLTage:SENSe", kBoth, BoolSetting(&ChannelSettings::bSense)),
    };
}

// OUTPut: output state, protection clear, timer, inhibit, power-on state and mode.
std::vector<Instrument::Command> CommandTable::OutputCommands() {
    return {
        Row("OUTPut:[STATe]", kBoth,
            {[](I& inst, C& call) {
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
             [](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = Bool(Selected(inst).settings.bOutput);
             }}),
        Row("OUTPut:PROTection:CLEar", kBoth, Action([](I& inst, C&) {
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
            TextOf([](I& inst) -> std::string& { return Selected(inst).settings.strTimerCount; })),
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
                 call.strReply =
                     std::string(kPowerOnWords[static_cast<size_t>(inst.m_nPowerOnState)]);
                 if (inst.m_nPowerOnState == kPowerOnUser) {
                     call.strReply += "," + std::to_string(inst.m_nPowerOnSlot);
                 }
             }}),
        Row("OUTPut:MODE", kBoth,
            {[](I& inst, C& call) {
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
             [](I& inst, C& call) {
                 call.Expect(0, 0);
                 const ChannelSettings& settings = Selected(inst).settings;
                 call.strReply = settings.bListMode ? "LIST," + std::to_string(settings.nModeList)
                                                    : std::string("FIX");
             }}),
    };
}

// MEASure and APPLy: measured and programmed values.
std::vector<Instrument::Command> CommandTable::MeasureCommands() {
    return {
        Row("MEASure:[SCALar]:VOLTage:[DC]", kBoth, Query([](I& inst) {
                return scpi::FormatReal(inst.OperatingPoint(inst.m_settings.nSelected).dVoltage);
            })),
        Row("MEASure:[SCALar]:CURRent:[DC]", kBoth, Query([](I& inst) {
                return scpi::FormatReal(inst.OperatingPoint(inst.m_settings.nSelected).dCurrent);
            })),
        Row("MEASure:[SCALar]:POWer:[DC]", kBoth, Query([](I& inst) {
                Instrument::Operating op = inst.OperatingPoint(inst.m_settings.nSelected);
                return scpi::FormatReal(op.dVoltage * op.dCurrent);
            })),
        Row("APPLy", kBoth,
            {[](I& inst, C& call) {
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
             [](I& inst, C& call) {
                 call.Expect(0, 0);
                 const ChannelSettings& settings = Selected(inst).settings;
                 call.strReply = scpi::FormatReal(settings.dVoltage) + "," +
                                 scpi::FormatReal(settings.dCurrent);
             }}),
    };
}

}  // namespace emu
