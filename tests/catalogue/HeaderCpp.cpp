// The public header must also compile cleanly as C++ with strict warnings.
#include "TARVEK.h"

#include <type_traits>

static_assert(TARVEK_ATTR_VOLTAGE_LEVEL == 1250001);
static_assert(TARVEK_ATTR_SPECIFIC_DRIVER_REVISION == 1050551);
static_assert(TARVEK_VAL_LIST_PACE_TRIGGER == 1 && TARVEK_VAL_LIST_PACE_DWELL == 0);
static_assert(std::is_same_v<decltype(&TARVEK_GetAttributeViString),
                             ViStatus (*)(ViSession, ViConstString, ViAttr, ViInt32, ViChar*)>);
static_assert(std::is_same_v<decltype(&TARVEK_GetOCPEnabled), ViStatus (*)(ViSession, ViBoolean*)>);
static_assert(std::is_same_v<decltype(&TARVEK_viWrite),
                             ViStatus (*)(ViSession, ViInt64, ViConstBuf, ViInt64*)>);
