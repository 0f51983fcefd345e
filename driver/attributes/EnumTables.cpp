#include "driver/attributes/EnumTables.h"

#include "TARVEK.h"

namespace tarvek {

// Each row: name, value, instrument strings (the first is written), models
// (empty: every model). BuildEnumMapWithNames puts the "!!!" naming rows first.

const drt::EnumCommandMap& ChannelMap() {
    static const drt::EnumCommandMap map = drt::BuildEnumMapWithNames({
        {"TARVEK_VAL_CHANNEL1", TARVEK_VAL_CHANNEL1, "0, CH1", ""},
        {"TARVEK_VAL_CHANNEL2", TARVEK_VAL_CHANNEL2, "1, CH2", ""},
        {"TARVEK_VAL_CHANNEL3", TARVEK_VAL_CHANNEL3, "2, CH3", ""},
    });
    return map;
}

const drt::EnumCommandMap& DigitalPinFunctionMap() {
    static const drt::EnumCommandMap map = drt::BuildEnumMapWithNames({
        {"TARVEK_VAL_DIGITAL_PIN_FUNCTION_NONE", TARVEK_VAL_DIGITAL_PIN_FUNCTION_NONE, "NONE", ""},
        {"TARVEK_VAL_DIGITAL_PIN_FUNCTION_DIGITAL_OUTPUT",
         TARVEK_VAL_DIGITAL_PIN_FUNCTION_DIGITAL_OUTPUT, "DOUT", ""},
        {"TARVEK_VAL_DIGITAL_PIN_FUNCTION_DIGITAL_INPUT",
         TARVEK_VAL_DIGITAL_PIN_FUNCTION_DIGITAL_INPUT, "DINP", ""},
        {"TARVEK_VAL_DIGITAL_PIN_FUNCTION_TRIGGER_OUTPUT",
         TARVEK_VAL_DIGITAL_PIN_FUNCTION_TRIGGER_OUTPUT, "TOUT", ""},
        {"TARVEK_VAL_DIGITAL_PIN_FUNCTION_TRIGGER_INPUT",
         TARVEK_VAL_DIGITAL_PIN_FUNCTION_TRIGGER_INPUT, "TINP", ""},
        {"TARVEK_VAL_DIGITAL_PIN_FUNCTION_FAULT", TARVEK_VAL_DIGITAL_PIN_FUNCTION_FAULT, "FAUL",
         ""},
        {"TARVEK_VAL_DIGITAL_PIN_FUNCTION_INHIBIT", TARVEK_VAL_DIGITAL_PIN_FUNCTION_INHIBIT, "INH",
         ""},
    });
    return map;
}

const drt::EnumCommandMap& DigitalPinPolarityMap() {
    static const drt::EnumCommandMap map = drt::BuildEnumMapWithNames({
        {"TARVEK_VAL_DIGITAL_PIN_POLARITY_POSITIVE", TARVEK_VAL_DIGITAL_PIN_POLARITY_POSITIVE,
         "POS", ""},
        {"TARVEK_VAL_DIGITAL_PIN_POLARITY_NEGATIVE", TARVEK_VAL_DIGITAL_PIN_POLARITY_NEGATIVE,
         "NEG", ""},
    });
    return map;
}

const drt::EnumCommandMap& InhibitModeMap() {
    static const drt::EnumCommandMap map = drt::BuildEnumMapWithNames({
        {"TARVEK_VAL_INHIBIT_MODE_LATCHING", TARVEK_VAL_INHIBIT_MODE_LATCHING, "LATC", ""},
        {"TARVEK_VAL_INHIBIT_MODE_LIVE", TARVEK_VAL_INHIBIT_MODE_LIVE, "LIVE", ""},
        {"TARVEK_VAL_INHIBIT_MODE_OFF", TARVEK_VAL_INHIBIT_MODE_OFF, "OFF", ""},
    });
    return map;
}

// TRIGGER comes first.
const drt::EnumCommandMap& ListPaceMap() {
    static const drt::EnumCommandMap map = drt::BuildEnumMapWithNames({
        {"TARVEK_VAL_LIST_PACE_TRIGGER", TARVEK_VAL_LIST_PACE_TRIGGER, "1, ON", ""},
        {"TARVEK_VAL_LIST_PACE_DWELL", TARVEK_VAL_LIST_PACE_DWELL, "0, OFF", ""},
    });
    return map;
}

const drt::EnumCommandMap& ListTerminateStateMap() {
    static const drt::EnumCommandMap map = drt::BuildEnumMapWithNames({
        {"TARVEK_VAL_LIST_TERMINATE_STATEDC", TARVEK_VAL_LIST_TERMINATE_STATEDC, "0, OFF", ""},
        {"TARVEK_VAL_LIST_TERMINATE_STATE_LAST", TARVEK_VAL_LIST_TERMINATE_STATE_LAST, "1, ON", ""},
    });
    return map;
}

const drt::EnumCommandMap& OutputModeMap() {
    static const drt::EnumCommandMap map = drt::BuildEnumMapWithNames({
        {"TARVEK_VAL_OUTPUT_MODE_OFF", TARVEK_VAL_OUTPUT_MODE_OFF, "OFF", ""},
        {"TARVEK_VAL_OUTPUT_MODE_PARALLEL2", TARVEK_VAL_OUTPUT_MODE_PARALLEL2, "PARA2", ""},
        {"TARVEK_VAL_OUTPUT_MODE_PARALLEL3", TARVEK_VAL_OUTPUT_MODE_PARALLEL3, "PARA3", ""},
        {"TARVEK_VAL_OUTPUT_MODE_SERIES2", TARVEK_VAL_OUTPUT_MODE_SERIES2, "SERI2", ""},
        {"TARVEK_VAL_OUTPUT_MODE_SERIES3", TARVEK_VAL_OUTPUT_MODE_SERIES3, "SERI3", ""},
        {"TARVEK_VAL_OUTPUT_MODE_TRACK2", TARVEK_VAL_OUTPUT_MODE_TRACK2, "TRAC2", ""},
        {"TARVEK_VAL_OUTPUT_MODE_TRACK3", TARVEK_VAL_OUTPUT_MODE_TRACK3, "TRAC3", ""},
    });
    return map;
}

const drt::EnumCommandMap& PowerOnStateMap() {
    static const drt::EnumCommandMap map = drt::BuildEnumMapWithNames({
        {"TARVEK_VAL_POWER_ON_STATE_DISABLED", TARVEK_VAL_POWER_ON_STATE_DISABLED, "OFF", ""},
        {"TARVEK_VAL_POWER_ON_STATE_LAST_STATE", TARVEK_VAL_POWER_ON_STATE_LAST_STATE, "LAST", ""},
        {"TARVEK_VAL_POWER_ON_STATE_USER_STATE", TARVEK_VAL_POWER_ON_STATE_USER_STATE, "USER", ""},
    });
    return map;
}

const drt::EnumCommandMap& RemoteStateMap() {
    static const drt::EnumCommandMap map = drt::BuildEnumMapWithNames({
        {"TARVEK_VAL_REMOTE_STATE_REMOTE", TARVEK_VAL_REMOTE_STATE_REMOTE, "REM", ""},
        {"TARVEK_VAL_REMOTE_STATE_LOCAL", TARVEK_VAL_REMOTE_STATE_LOCAL, "LOC", ""},
        {"TARVEK_VAL_REMOTE_STATE_REMOTE_WITH_LOCK", TARVEK_VAL_REMOTE_STATE_REMOTE_WITH_LOCK,
         "RWL", ""},
    });
    return map;
}

const drt::EnumCommandMap& SpecificTriggerSourceMap() {
    static const drt::EnumCommandMap map = drt::BuildEnumMapWithNames({
        {"TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_BUS", TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_BUS, "BUS",
         ""},
        {"TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_EXTERNAL", TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_EXTERNAL,
         "EXT", ""},
        {"TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_IMMEDIATE",
         TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_IMMEDIATE, "IMM", ""},
    });
    return map;
}

const drt::EnumCommandMap& MeasurementTypeMap() {
    static const drt::EnumCommandMap map = drt::BuildEnumMapWithNames({
        {"TARVEK_VAL_MEASURE_CURRENT", TARVEK_VAL_MEASURE_CURRENT, nullptr, nullptr},
        {"TARVEK_VAL_MEASURE_VOLTAGE", TARVEK_VAL_MEASURE_VOLTAGE, nullptr, nullptr},
    });
    return map;
}

const drt::EnumCommandMap& CurrentLimitBehaviorMap() {
    static const drt::EnumCommandMap map = drt::BuildEnumMapWithNames({
        {"TARVEK_VAL_CURRENT_REGULATE", TARVEK_VAL_CURRENT_REGULATE, nullptr, nullptr},
        {"TARVEK_VAL_CURRENT_TRIP", TARVEK_VAL_CURRENT_TRIP, nullptr, nullptr},
    });
    return map;
}

const drt::EnumCommandMap& OutputStateMap() {
    static const drt::EnumCommandMap map = drt::BuildEnumMapWithNames({
        {"TARVEK_VAL_OUTPUT_CONSTANT_VOLTAGE", TARVEK_VAL_OUTPUT_CONSTANT_VOLTAGE, nullptr,
         nullptr},
        {"TARVEK_VAL_OUTPUT_CONSTANT_CURRENT", TARVEK_VAL_OUTPUT_CONSTANT_CURRENT, nullptr,
         nullptr},
        {"TARVEK_VAL_OUTPUT_OVER_VOLTAGE", TARVEK_VAL_OUTPUT_OVER_VOLTAGE, nullptr, nullptr},
        {"TARVEK_VAL_OUTPUT_OVER_CURRENT", TARVEK_VAL_OUTPUT_OVER_CURRENT, nullptr, nullptr},
        {"TARVEK_VAL_OUTPUT_UNREGULATED", TARVEK_VAL_OUTPUT_UNREGULATED, nullptr, nullptr},
    });
    return map;
}

const drt::EnumCommandMap& ClassTriggerSourceMap() {
    static const drt::EnumCommandMap map = drt::BuildEnumMapWithNames({
        {"TARVEK_VAL_TRIG_IMMEDIATE", TARVEK_VAL_TRIG_IMMEDIATE, nullptr, nullptr},
        {"TARVEK_VAL_TRIG_EXTERNAL", TARVEK_VAL_TRIG_EXTERNAL, nullptr, nullptr},
        {"TARVEK_VAL_SOFTWARE_TRIG", TARVEK_VAL_SOFTWARE_TRIG, nullptr, nullptr},
        {"TARVEK_VAL_TRIG_TTL0", TARVEK_VAL_TRIG_TTL0, nullptr, nullptr},
        {"TARVEK_VAL_TRIG_TTL1", TARVEK_VAL_TRIG_TTL1, nullptr, nullptr},
        {"TARVEK_VAL_TRIG_TTL2", TARVEK_VAL_TRIG_TTL2, nullptr, nullptr},
        {"TARVEK_VAL_TRIG_TTL3", TARVEK_VAL_TRIG_TTL3, nullptr, nullptr},
        {"TARVEK_VAL_TRIG_TTL4", TARVEK_VAL_TRIG_TTL4, nullptr, nullptr},
        {"TARVEK_VAL_TRIG_TTL5", TARVEK_VAL_TRIG_TTL5, nullptr, nullptr},
        {"TARVEK_VAL_TRIG_TTL6", TARVEK_VAL_TRIG_TTL6, nullptr, nullptr},
        {"TARVEK_VAL_TRIG_TTL7", TARVEK_VAL_TRIG_TTL7, nullptr, nullptr},
        {"TARVEK_VAL_TRIG_ECL0", TARVEK_VAL_TRIG_ECL0, nullptr, nullptr},
        {"TARVEK_VAL_TRIG_ECL1", TARVEK_VAL_TRIG_ECL1, nullptr, nullptr},
        {"TARVEK_VAL_TRIG_PXI_STAR", TARVEK_VAL_TRIG_PXI_STAR, nullptr, nullptr},
        {"TARVEK_VAL_TRIG_RTSI_0", TARVEK_VAL_TRIG_RTSI_0, nullptr, nullptr},
        {"TARVEK_VAL_TRIG_RTSI_1", TARVEK_VAL_TRIG_RTSI_1, nullptr, nullptr},
        {"TARVEK_VAL_TRIG_RTSI_2", TARVEK_VAL_TRIG_RTSI_2, nullptr, nullptr},
        {"TARVEK_VAL_TRIG_RTSI_3", TARVEK_VAL_TRIG_RTSI_3, nullptr, nullptr},
        {"TARVEK_VAL_TRIG_RTSI_4", TARVEK_VAL_TRIG_RTSI_4, nullptr, nullptr},
        {"TARVEK_VAL_TRIG_RTSI_5", TARVEK_VAL_TRIG_RTSI_5, nullptr, nullptr},
        {"TARVEK_VAL_TRIG_RTSI_6", TARVEK_VAL_TRIG_RTSI_6, nullptr, nullptr},
    });
    return map;
}

std::span<const DefinedValueGroup> DefinedValueGroups() {
    static constexpr DefinedValueGroup kGroups[] = {
        {"TARVEK_ATTR_SELECTED_CHANNEL; TARVEK_StartList, TARVEK_AbortList, "
         "TARVEK_ConfigureContinuousTrigger",
         &ChannelMap},
        {"TARVEK_ATTR_CURRENT_LIMIT_BEHAVIOR; TARVEK_ConfigureCurrentLimit",
         &CurrentLimitBehaviorMap},
        {"TARVEK_ConfigureDigitalFunction", &DigitalPinFunctionMap},
        {"TARVEK_ConfigureDigitalPolarity", &DigitalPinPolarityMap},
        {"TARVEK_ATTR_DIGITAL_INHIBIT_MODE", &InhibitModeMap},
        {"TARVEK_ATTR_LIST_PACE", &ListPaceMap},
        {"TARVEK_ATTR_LIST_TERMINATE_STATE", &ListTerminateStateMap},
        {"TARVEK_ATTR_OUTPUT_MODE (output pairing; Series6310 only)", &OutputModeMap},
        {"TARVEK_ConfigurePowerOnState, TARVEK_QueryPowerOnState", &PowerOnStateMap},
        {"TARVEK_ATTR_REMOTE_STATE", &RemoteStateMap},
        {"TARVEK_ATTR_LIST_TRIGGER_SOURCE, TARVEK_ATTR_BATTERY_TEST_TRIGGER_SOURCE, "
         "TARVEK_ATTR_DATA_LOGGER_TRIGGER_SOURCE",
         &SpecificTriggerSourceMap},
        {"TARVEK_Measure", &MeasurementTypeMap},
        {"TARVEK_QueryOutputState", &OutputStateMap},
        {"TARVEK_ATTR_TRIGGER_SOURCE; TARVEK_ConfigureTriggerSource. Only IMMEDIATE, EXTERNAL "
         "and SOFTWARE_TRIG are accepted by these instruments.",
         &ClassTriggerSourceMap},
    };
    return kGroups;
}

}  // namespace tarvek
