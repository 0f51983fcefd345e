// The driver's enumerations: each map pairs the TARVEK_VAL_* values with the
// instrument words that stand for them. Every map starts with one naming row
// per value (models "!!!", never applicable) and then the rows that apply;
// the name-only maps serve to name refused values in messages. Booleans use
// drt::BooleanMap().
#pragma once

#include <span>

#include "runtime/enums/EnumCommandMap.h"

namespace tarvek {

// A group of defined values as the public header presents them: what takes
// the values (the attributes and functions, as the comment introducing the
// group names them) and the map whose naming rows give the values in order.
struct DefinedValueGroup {
    const char* pTakenBy;
    const drt::EnumCommandMap& (*values)();
};

// Every group, in the order of the header.
std::span<const DefinedValueGroup> DefinedValueGroups();

const drt::EnumCommandMap& ChannelMap();                // TARVEK_ATTR_SELECTED_CHANNEL
const drt::EnumCommandMap& DigitalPinFunctionMap();     // TARVEK_ConfigureDigitalFunction
const drt::EnumCommandMap& DigitalPinPolarityMap();     // TARVEK_ConfigureDigitalPolarity
const drt::EnumCommandMap& InhibitModeMap();            // TARVEK_ATTR_DIGITAL_INHIBIT_MODE
const drt::EnumCommandMap& ListPaceMap();               // TARVEK_ATTR_LIST_PACE
const drt::EnumCommandMap& ListTerminateStateMap();     // TARVEK_ATTR_LIST_TERMINATE_STATE
const drt::EnumCommandMap& OutputModeMap();             // TARVEK_ATTR_OUTPUT_MODE
const drt::EnumCommandMap& PowerOnStateMap();           // TARVEK_ConfigurePowerOnState
const drt::EnumCommandMap& RemoteStateMap();            // TARVEK_ATTR_REMOTE_STATE
const drt::EnumCommandMap& SpecificTriggerSourceMap();  // list, data-logger, battery triggers
const drt::EnumCommandMap& MeasurementTypeMap();        // name-only: TARVEK_Measure
const drt::EnumCommandMap& OutputStateMap();            // name-only: TARVEK_QueryOutputState
const drt::EnumCommandMap& ClassTriggerSourceMap();     // name-only: TARVEK_ATTR_TRIGGER_SOURCE
const drt::EnumCommandMap& CurrentLimitBehaviorMap();   // name-only: CURRENT_LIMIT_BEHAVIOR

}  // namespace tarvek
