/* A program outside the project, built against an installed TARVEK: opens a
 * session (in simulation, or through a logical name), sets and reads back a
 * level, and opens the VISA resource manager of the installed libtkvisa. */
#include <stdio.h>

#include "TARVEK.h"
#include "visa.h"

int main(int argc, char** argv) {
    const char* pszResource = argc > 1 ? argv[1] : "";
    const char* pszOptions = argc > 2 ? argv[2] : "Simulate=1,DriverSetup=Model:6512";
    ViSession vi = VI_NULL;
    ViStatus status =
        TARVEK_InitWithOptions((ViRsrc)pszResource, VI_TRUE, VI_TRUE, (ViString)pszOptions, &vi);
    if (status < 0) {
        ViChar szText[256] = "";
        ViStatus code = 0;
        TARVEK_GetError(VI_NULL, &code, sizeof szText, szText);
        fprintf(stderr, "init failed: 0x%08lX %s\n", (unsigned long)status, szText);
        return 1;
    }
    ViReal64 dLevel = 0.0;
    ViChar szModel[256] = "";
    status = TARVEK_ConfigureVoltageLevel(vi, "CH1", 4.5);
    if (status >= 0) {
        status = TARVEK_GetAttributeViReal64(vi, "CH1", TARVEK_ATTR_VOLTAGE_LEVEL, &dLevel);
    }
    if (status >= 0) {
        status = TARVEK_GetAttributeViString(vi, "", TARVEK_ATTR_INSTRUMENT_MODEL, sizeof szModel,
                                             szModel);
    }
    TARVEK_close(vi);
    if (status < 0) {
        fprintf(stderr, "call failed: 0x%08lX\n", (unsigned long)status);
        return 1;
    }
    ViSession rm = VI_NULL;
    if (viOpenDefaultRM(&rm) < VI_SUCCESS || viClose(rm) < VI_SUCCESS) {
        fprintf(stderr, "viOpenDefaultRM failed\n");
        return 1;
    }
    printf("model %s, CH1 at %.2f V\n", szModel, dLevel);
    return 0;
}
