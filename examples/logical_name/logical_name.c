/* Opening a supply by logical name and using virtual channel names.
 *
 *   IVI_CONFIG_STORE=examples/logical_name/tarvek-store.xml logical_name [BenchPSU]
 *
 * The configuration store maps the logical name to a driver session (its
 * options and its instrument's address) and names the outputs "Logic" and
 * "Motor", so this program holds no address and no channel numbers. */
#include <stdio.h>

#include "TARVEK.h"

static int Check(ViSession vi, ViStatus status, const char* pszWhat) {
    if (status >= VI_SUCCESS) {
        return 1;
    }
    ViStatus code = VI_SUCCESS;
    ViChar szText[1024] = "";
    TARVEK_GetError(vi, &code, (ViInt32)sizeof szText, szText);
    fprintf(stderr, "%s failed with 0x%08X: %s\n", pszWhat, (unsigned)status, szText);
    return 0;
}

#define CHECK(call)                      \
    do {                                 \
        if (!Check(vi, (call), #call)) { \
            goto done;                   \
        }                                \
    } while (0)

static const struct {
    const char* pszOutput; /* a virtual name from the store */
    ViReal64 dVoltage;
    ViReal64 dCurrentLimit;
} kRails[] = {
    {"Logic", 3.3, 0.5},
    {"Motor", 12.0, 2.0},
};

int main(int argc, char** argv) {
    const char* pszName = argc > 1 ? argv[1] : "BenchPSU";
    ViSession vi = VI_NULL;
    int nExit = 1;
    if (!Check(VI_NULL, TARVEK_InitWithOptions((ViRsrc)pszName, VI_TRUE, VI_TRUE, "", &vi),
               "TARVEK_InitWithOptions")) {
        fprintf(stderr, "(is IVI_CONFIG_STORE set to a store that defines \"%s\"?)\n", pszName);
        return 1;
    }
    ViChar szResource[256] = "";
    ViChar szLogicalName[256] = "";
    ViBoolean bQueryStatus = VI_FALSE;
    CHECK(TARVEK_GetAttributeViString(vi, "", TARVEK_ATTR_IO_RESOURCE_DESCRIPTOR, sizeof szResource,
                                      szResource));
    CHECK(TARVEK_GetAttributeViString(vi, "", TARVEK_ATTR_LOGICAL_NAME, sizeof szLogicalName,
                                      szLogicalName));
    CHECK(TARVEK_GetAttributeViBoolean(vi, "", TARVEK_ATTR_QUERY_INSTRUMENT_STATUS, &bQueryStatus));
    printf("Opened logical name %s: the store says the supply is at %s,\n", szLogicalName,
           szResource);
    printf("and asks for the instrument status check after each command (%s).\n",
           bQueryStatus ? "on" : "off");

    for (size_t n = 0; n < sizeof kRails / sizeof kRails[0]; ++n) {
        CHECK(TARVEK_ConfigureVoltageLevel(vi, kRails[n].pszOutput, kRails[n].dVoltage));
        CHECK(TARVEK_ConfigureCurrentLimit(vi, kRails[n].pszOutput, TARVEK_VAL_CURRENT_REGULATE,
                                           kRails[n].dCurrentLimit));
    }
    /* Virtual names work in lists too. */
    CHECK(TARVEK_ConfigureOutputEnabled(vi, "Logic,Motor", VI_TRUE));
    for (size_t n = 0; n < sizeof kRails / sizeof kRails[0]; ++n) {
        ViReal64 dVolts = 0.0;
        ViReal64 dAmps = 0.0;
        CHECK(TARVEK_Measure(vi, kRails[n].pszOutput, TARVEK_VAL_MEASURE_VOLTAGE, &dVolts));
        CHECK(TARVEK_Measure(vi, kRails[n].pszOutput, TARVEK_VAL_MEASURE_CURRENT, &dAmps));
        printf("  %-6s set %5.2f V: measured %6.3f V, %7.4f A\n", kRails[n].pszOutput,
               kRails[n].dVoltage, dVolts, dAmps);
    }
    CHECK(TARVEK_ConfigureOutputEnabled(vi, "Logic,Motor", VI_FALSE));
    printf("Both rails off.\n");
    nExit = 0;
done:
    if (!Check(vi, TARVEK_close(vi), "TARVEK_close")) {
        nExit = 1;
    }
    return nExit;
}
