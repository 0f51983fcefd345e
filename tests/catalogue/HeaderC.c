/* The public header must stand alone in a strict C translation unit. */
#include "TARVEK.h"

/* Identifiers are plain integer constants usable in case labels. */
static int IsClassAttribute(ViAttr nId) {
    switch (nId) {
        case TARVEK_ATTR_VOLTAGE_LEVEL:
        case TARVEK_ATTR_TRIGGERED_VOLTAGE_LEVEL:
            return 1;
        default:
            return 0;
    }
}

int main(void) {
    ViStatus (*pGet)(ViSession, ViConstString, ViAttr, ViReal64*) = 0;
    (void)pGet;
    return IsClassAttribute(TARVEK_ATTR_VOLTAGE_LEVEL) && !IsClassAttribute(TARVEK_ATTR_CACHE) &&
                   TARVEK_VAL_TRIG_RTSI_6 == 20
               ? 0
               : 1;
}
