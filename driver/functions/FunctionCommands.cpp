#include "driver/functions/FunctionCommands.h"

#include "driver/Identity.h"

namespace tarvek {

namespace {

// clang-format off
constexpr FunctionCommand kCommands[] = {
    // Session services (every function that talks to the instrument)
    {"TARVEK_init, TARVEK_InitWithOptions", "*IDN?", nullptr},
    {"TARVEK_init, TARVEK_InitWithOptions (QueryInstrStatus)", "*CLS", nullptr},
    {"status check after each exchange (QueryInstrStatus)", "*ESR?", nullptr},
    {"TARVEK_error_query", ":SYST:ERR?", nullptr},
    {"TARVEK_reset, TARVEK_ResetWithDefaults, TARVEK_Disable", "*RST", nullptr},
    {"TARVEK_reset, TARVEK_WaitForOperationComplete", "*OPC?", nullptr},
    {"TARVEK_SetOperationComplete", "*OPC", nullptr},
    {"TARVEK_WaitToContinue", "*WAI", nullptr},
    {"TARVEK_ATTR_SELECTED_CHANNEL; before every per-channel attribute and TARVEK_Measure",
     "INST:SEL %s", kFamily6310},
    {"TARVEK_ATTR_SELECTED_CHANNEL", "INST:SEL?", kFamily6310},
    // Output
    {"TARVEK_Measure, TARVEK_MeasureCurrent", "MEAS:SCAL:CURR:DC?", nullptr},
    {"TARVEK_Measure, TARVEK_MeasureVoltage", "MEAS:SCAL:VOLT:DC?", nullptr},
    {"TARVEK_QueryChannel", "APPL?", nullptr},
    {"TARVEK_ResetOutputProtection, TARVEK_ClearProtectionErrors", "OUTP:PROT:CLE", nullptr},
    {"TARVEK_ClearOCP", "SOUR:CURR:PROT:CLE", nullptr},
    {"TARVEK_ClearOVP", "SOUR:VOLT:PROT:CLE", nullptr},
    // Triggering
    {"TARVEK_SendSoftwareTrigger, TARVEK_GenerateImmediate", "*TRG", nullptr},
    {"TARVEK_ConfigureContinuousTrigger", "INIT:CONT %s", kFamily6510},
    {"TARVEK_ConfigureContinuousTrigger", "INIT:CONT %s,%s", kFamily6310},
    {"TARVEK_Abort", "ABOR", kFamily6510},
    {"TARVEK_Abort", "ABOR %s", kFamily6310},
    // List mode
    {"TARVEK_EnableList", "OUTP:MODE LIST,%ld", nullptr},
    {"TARVEK_DisableList", "OUTP:MODE FIX", nullptr},
    {"TARVEK_SaveListData", "SOUR:LIST:SAVE", nullptr},
    {"TARVEK_StartList", "INIT:IMM %s", nullptr},
    // Battery test and data logger
    {"TARVEK_StartBatteryTest", "BATT:MOD:STAT 1", kFamily6510},
    {"TARVEK_StopBatteryTest", "BATT:MOD:STAT 0", kFamily6510},
    {"TARVEK_InitiateDataLogger", "INIT:IMM:DLOG", nullptr},
    {"TARVEK_StartDataLogger", "TRIG:DLOG:IMM", nullptr},
    {"TARVEK_StopDataLogger", "ABOR:DLOG", nullptr},
    // System
    {"TARVEK_ConfigureDigitalFunction", "SOUR:DIG:PIN%ld:FUNC %s", nullptr},
    {"TARVEK_ConfigureDigitalPolarity", "SOUR:DIG:PIN%ld:POL %s", nullptr},
    {"TARVEK_ConfigurePowerOnState", "OUTP:PON:STAT %s", nullptr},
    {"TARVEK_ConfigurePowerOnState", "OUTP:PON:STAT %s,%d", nullptr},
    {"TARVEK_QueryPowerOnState", "OUTP:PON:STAT?", nullptr},
    {"TARVEK_SaveState", "*SAV %ld", nullptr},
    {"TARVEK_RecallState", "*RCL %ld", nullptr},
    {"TARVEK_ClearStatus", "*CLS", nullptr},
    {"TARVEK_Preset", "STAT:PRES", nullptr},
    {"TARVEK_Beep", "SYST:BEEP:IMM", nullptr},
    {"TARVEK_RemoteLock", "SYST:RWL", nullptr},
    {"TARVEK_ClearAndReboot", "SYST:SEC:IMM", nullptr},
};
// clang-format on

}  // namespace

std::span<const FunctionCommand> FunctionCommands() {
    return kCommands;
}

}  // namespace tarvek
