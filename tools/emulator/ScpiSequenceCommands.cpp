// The commands that run things over time or with the outside world:
// triggering, lists, the battery test, the data logger, digital I/O.
#include <algorithm>
#include <cmath>

#include "CommandTable.h"

namespace emu {

// TRIGger, INITiate and ABORt: triggering and list execution.
std::vector<Instrument::Command> CommandTable::TriggerCommands() {
    return {
        Row("TRIGger:[SEQuence]:SOURce", kBoth,
            ChoiceOf([](I& inst) -> int& { return Selected(inst).settings.nTriggerSource; },
                     &kTriggerWords, &kTriggerReplies)),
        Row("TRIGger:[SEQuence]:[IMMediate]", kBoth, Action([](I& inst, C&) { inst.Trigger(); })),
        Row("INITiate:[IMMediate]", kBoth,
            {[](I& inst, C& call) {
                 call.Expect(0, 1);
                 int nChannel = call.vecParameters.empty() ? inst.m_settings.nSelected
                                                           : ChannelWord(inst, call.Parameter(0));
                 inst.StartList(nChannel, false);
             },
             nullptr}),
        Row("INITiate:CONTinuous", kBoth,
            {[](I& inst, C& call) {
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
             [](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = Bool(Selected(inst).settings.bContinuous);
             }}),
        Row("ABORt", kBoth,
            {[](I& inst, C& call) {
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
    };
}

// [SOURce]:LIST: list programming.
std::vector<Instrument::Command> CommandTable::ListCommands() {
    return {
        Row("[SOURce]:LIST:NUMBer", kBoth,
            IntOf([](I& inst) -> int& { return inst.m_nSelectedList; }, 1, kListCount, 1)),
        Row("[SOURce]:LIST:STEP:NUMBer", kBoth,
            IntOf([](I& inst) -> int& { return inst.m_nSelectedStep; }, 1, kStepCount, 1)),
        Row("[SOURce]:LIST:STEP", kBoth,
            BoolOf([](I& inst) -> bool& { return List(inst).bPaceTrigger; })),
        Row("[SOURce]:LIST:VOLTage:[LEVel]", kBoth,
            StepReal(&ListStep::dVoltage, Unit::Volt, Ratings::kVoltageMax)),
        Row("[SOURce]:LIST:CURRent:[LEVel]", kBoth,
            StepReal(&ListStep::dCurrent, Unit::Ampere, Ratings::kCurrentMax)),
        Row("[SOURce]:LIST:DWELl", kBoth, StepReal(&ListStep::dDwell, Unit::Second, 86400.0)),
        Row("[SOURce]:LIST:TOUTput:BOSTep:[DATA]", kBoth, StepBool(&ListStep::bBeginTrigger)),
        Row("[SOURce]:LIST:TOUTput:EOSTep:[DATA]", kBoth, StepBool(&ListStep::bEndTrigger)),
        Row("[SOURce]:LIST:COUNt", kBoth,
            IntOf([](I& inst) -> long& { return List(inst).nRepeatCount; }, 0, 65535, 1)),
        Row("[SOURce]:LIST:TERMinate:LAST", kBoth,
            BoolOf([](I& inst) -> bool& { return List(inst).bTerminateLast; })),
        Row("[SOURce]:LIST:NEXT", kBoth,
            IntOf([](I& inst) -> long& { return List(inst).nNextList; }, 0, kListCount, 0)),
        Row("[SOURce]:LIST:SAVE", kBoth, Action([](I&, C&) {})),
    };
}

// BATTery: battery test (one-output family only).
std::vector<Instrument::Command> CommandTable::BatteryCommands() {
    return {
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
            RealOf([](I& inst) -> double& { return inst.m_battery.dEndCurrent; }, Unit::Ampere, 0.0,
                   Ratings::kCurrentMax, 0.0)),
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
        Row("BATTery:STATe", k6510, Query([](I& inst) { return Bool(inst.m_battery.bRunning); })),
        Row("BATTery:FAILSAFe:STATe", k6510,
            BoolOf([](I& inst) -> bool& { return inst.m_battery.bFailSafe; })),
        Row("BATTery:FAILSAFe:A", k6510,
            RealOf([](I& inst) -> double& { return inst.m_battery.dFailSafeAh; }, Unit::None, 0.0,
                   1e6, 0.0)),
        Row("BATTery:FAILSAFe:W", k6510,
            RealOf([](I& inst) -> double& { return inst.m_battery.dFailSafeWh; }, Unit::None, 0.0,
                   1e6, 0.0)),
        Row("BATTery:FAILSAFe:OVP", k6510,
            RealOf([](I& inst) -> double& { return inst.m_battery.dFailSafeOvp; }, Unit::Volt, 0.0,
                   Ratings::kOvpMax, 0.0)),
        Row("BATTery:FAILSAFe:TIMe", k6510,
            TextOf([](I& inst) -> std::string& { return inst.m_battery.strFailSafeTime; })),
        Row("BATTery:AH", k6510,
            Query([](I& inst) { return scpi::FormatReal(inst.m_battery.dAmpHours); })),
        Row("BATTery:WH", k6510,
            Query([](I& inst) { return scpi::FormatReal(inst.m_battery.dWattHours); })),
    };
}

// SENSe:DLOG, TRIGger:DLOG, INITiate:DLOG, FETCh:DLOG: the data logger.
std::vector<Instrument::Command> CommandTable::LoggerCommands() {
    return {
        Row("SENSe:DLOG:FUNCtion:TINTerval", kBoth,
            RealOf([](I& inst) -> double& { return inst.m_logger.dInterval; }, Unit::Second, 0.001,
                   86400.0, 1.0)),
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
    };
}

// [SOURce]:DIGital: digital I/O pins.
std::vector<Instrument::Command> CommandTable::DigitalCommands() {
    return {
        Row("[SOURce]:DIGital:PIN#:FUNCtion", kBoth,
            {[](I& inst, C& call) {
                 call.Expect(1, 1);
                 size_t nPin = Pin(call);
                 inst.m_digital.arrFunction[nPin] =
                     static_cast<int>(scpi::ParseChoice(call.Parameter(0), kPinFunctionWords));
             },
             [](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = std::string(kPinFunctionReplies[static_cast<size_t>(
                     inst.m_digital.arrFunction[Pin(call)])]);
             }}),
        Row("[SOURce]:DIGital:PIN#:POLarity", kBoth,
            {[](I& inst, C& call) {
                 call.Expect(1, 1);
                 size_t nPin = Pin(call);
                 inst.m_digital.arrNegative[nPin] =
                     scpi::ParseChoice(call.Parameter(0), kPolarityWords) == 1;
             },
             [](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply =
                     std::string(kPolarityReplies[inst.m_digital.arrNegative[Pin(call)] ? 1 : 0]);
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
    };
}

}  // namespace emu
