// The generated header in a C++ translation unit: its functions keep C
// linkage, so this links against the C library.
#include "tk6x1x.h"

extern "C" int HeaderCxxUses(void) {
    bool bSimulate = true;
    const int32_t status = TK6x1x_simulate_get(TK6X1X_INVALID_SESSION, &bSimulate);
    const TK6x1xTriggerSource source = TK6X1X_TRIGGER_SOURCE_TRIG_EXTERNAL;
    return status == TK6X1X_ERROR_INVALID_SESSION && source == 1 ? 0 : 1;
}
