/* The generated header as a strict C99 translation unit: every declaration,
 * type and constant must be C99, and the header must survive a second
 * inclusion. */
#include "tk6x1x.h"

int HeaderCxxUses(void);

int main(void) {
    TK6x1xSession session = TK6X1X_INVALID_SESSION;
    TK6x1xOutputMode mode = TK6X1X_OUTPUT_MODE_SERIES2;
    size_t size = 0;
    int32_t (*get)(TK6x1xSession, const char*, double*) = TK6x1x_voltage_level_get;
    /* With no session the driver answers, and nothing is opened. */
    if (TK6x1x_driver_vendor_get(session, 0, NULL, &size) != TK6X1X_ERROR_INVALID_SESSION) {
        return 1;
    }
    return (get != NULL && mode == 3 && HeaderCxxUses() == 0) ? 0 : 1;
}
