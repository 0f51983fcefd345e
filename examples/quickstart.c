/* Quickstart: a tour of a TARVEK supply in one short program.
 *
 *   quickstart TCPIP::127.0.0.1::5025::SOCKET      (or a logical name)
 *
 * It opens the supply, sets up every output, switches them on, measures,
 * trips and clears the over-current protection of one output, runs a short
 * list, reads the instrument's error queue and closes. Every call is checked;
 * a failure prints the driver's own explanation (TARVEK_GetError).
 *
 * Built with QUICKSTART_SIMULATE defined, the same program runs in simulation
 * and needs no instrument (examples/simulation). */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>

#include "TARVEK.h"

/* Prints what went wrong, in the driver's words, and tells the caller whether
 * the call succeeded. Warnings (positive statuses) count as success. */
static int Check(ViSession vi, ViStatus status, const char* pszWhat) {
    if (status >= VI_SUCCESS) {
        return 1;
    }
    ViStatus code = VI_SUCCESS;
    ViChar szText[1024] = "";
    TARVEK_GetError(vi, &code, (ViInt32)sizeof szText, szText);
    fprintf(stderr, "  ! %s failed with 0x%08X: %s\n", pszWhat, (unsigned)status, szText);
    return 0;
}

/* Stops the tour at the first failure; the session is still closed. */
#define CHECK(call)                      \
    do {                                 \
        if (!Check(vi, (call), #call)) { \
            goto done;                   \
        }                                \
    } while (0)

/* What each output is set to. */
static const struct {
    const char* pszChannel;
    ViReal64 dVoltage;
    ViReal64 dCurrentLimit;
} kOutputs[] = {
    {"CH1", 5.0, 1.0},
    {"CH2", 12.0, 0.5},
    {"CH3", 3.3, 2.0},
};

/* A three-step list: volts, amperes. */
static const struct {
    ViReal64 dVoltage;
    ViReal64 dCurrent;
} kSteps[] = {
    {1.0, 1.0},
    {2.0, 1.0},
    {3.0, 1.0},
};

#define COUNT_OF(a) ((int)(sizeof(a) / sizeof((a)[0])))

int main(int argc, char** argv) {
#ifdef QUICKSTART_SIMULATE
    const char* pszResource = argc > 1 ? argv[1] : "";
    const char* pszOptions = "Simulate=1,QueryInstrStatus=1";
#else
    if (argc < 2) {
        fprintf(stderr, "usage: %s RESOURCE\n  e.g. %s TCPIP::127.0.0.1::5025::SOCKET\n", argv[0],
                argv[0]);
        return 2;
    }
    const char* pszResource = argv[1];
    /* Ask the instrument after every command whether it was happy with it. */
    const char* pszOptions = "QueryInstrStatus=1";
#endif
    ViSession vi = VI_NULL;
    int nExit = 1;

    /* -- Open ---------------------------------------------------------------- */
    printf("Opening %s with an identity query and a reset.\n",
           pszResource[0] != '\0' ? pszResource : "a simulated supply");
    ViStatus status =
        TARVEK_InitWithOptions((ViRsrc)pszResource, VI_TRUE, VI_TRUE, pszOptions, &vi);
    if (!Check(VI_NULL, status, "TARVEK_InitWithOptions")) {
        return 1;
    }
    ViChar szManufacturer[256] = "";
    ViChar szModel[256] = "";
    ViChar szFirmware[256] = "";
    ViInt32 nOutputs = 0;
    ViBoolean bSimulated = VI_FALSE;
    CHECK(TARVEK_GetAttributeViString(vi, "", TARVEK_ATTR_INSTRUMENT_MANUFACTURER,
                                      sizeof szManufacturer, szManufacturer));
    CHECK(
        TARVEK_GetAttributeViString(vi, "", TARVEK_ATTR_INSTRUMENT_MODEL, sizeof szModel, szModel));
    CHECK(TARVEK_GetAttributeViString(vi, "", TARVEK_ATTR_INSTRUMENT_FIRMWARE_REVISION,
                                      sizeof szFirmware, szFirmware));
    CHECK(TARVEK_GetAttributeViInt32(vi, "", TARVEK_ATTR_CHANNEL_COUNT, &nOutputs));
    CHECK(TARVEK_GetAttributeViBoolean(vi, "", TARVEK_ATTR_SIMULATE, &bSimulated));
    if (nOutputs > COUNT_OF(kOutputs)) {
        nOutputs = COUNT_OF(kOutputs);
    }
    printf("  It is a %s %s (firmware %s) with %d output%s%s.\n\n", szManufacturer, szModel,
           szFirmware, (int)nOutputs, nOutputs == 1 ? "" : "s",
           bSimulated ? ", simulated by the driver" : "");

    /* -- Configure and enable ------------------------------------------------ */
    printf("Setting up the outputs:\n");
    for (int n = 0; n < nOutputs; ++n) {
        const char* pszChannel = kOutputs[n].pszChannel;
        const ViReal64 dOvp = kOutputs[n].dVoltage * 1.1;
        CHECK(TARVEK_ConfigureOVP(vi, pszChannel, VI_TRUE, dOvp));
        CHECK(TARVEK_ConfigureVoltageLevel(vi, pszChannel, kOutputs[n].dVoltage));
        CHECK(TARVEK_ConfigureCurrentLimit(vi, pszChannel, TARVEK_VAL_CURRENT_REGULATE,
                                           kOutputs[n].dCurrentLimit));
        printf("  %s  %5.2f V, current limit %.3f A, over-voltage protection at %.2f V\n",
               pszChannel, kOutputs[n].dVoltage, kOutputs[n].dCurrentLimit, dOvp);
    }
    /* One call for all outputs: a selector may name a range of channels. */
    char szAll[16];
    snprintf(szAll, sizeof szAll, nOutputs > 1 ? "CH1-CH%d" : "CH1", (int)nOutputs);
    printf("Switching on %s.\n\n", szAll);
    CHECK(TARVEK_ConfigureOutputEnabled(vi, szAll, VI_TRUE));

    /* -- Measure ------------------------------------------------------------- */
    printf("What the outputs deliver:\n");
    printf("  Output  Set (V)  Measured (V)  Measured (A)  Regulation\n");
    for (int n = 0; n < nOutputs; ++n) {
        const char* pszChannel = kOutputs[n].pszChannel;
        ViReal64 dVolts = 0.0;
        ViReal64 dAmps = 0.0;
        ViBoolean bConstantCurrent = VI_FALSE;
        CHECK(TARVEK_Measure(vi, pszChannel, TARVEK_VAL_MEASURE_VOLTAGE, &dVolts));
        CHECK(TARVEK_Measure(vi, pszChannel, TARVEK_VAL_MEASURE_CURRENT, &dAmps));
        CHECK(TARVEK_QueryOutputState(vi, pszChannel, TARVEK_VAL_OUTPUT_CONSTANT_CURRENT,
                                      &bConstantCurrent));
        printf("  %-6s  %7.2f  %12.3f  %12.4f  %s\n", pszChannel, kOutputs[n].dVoltage, dVolts,
               dAmps, bConstantCurrent ? "constant current" : "constant voltage");
    }
    if (bSimulated) {
        printf("  (A simulated supply measures nothing, so it reads 0.)\n");
    }
    printf("\n");

    /* -- Over-current protection ---------------------------------------------- */
    const char* pszTrip = nOutputs > 1 ? "CH2" : "CH1";
    ViReal64 dDrawn = 0.0;
    CHECK(TARVEK_Measure(vi, pszTrip, TARVEK_VAL_MEASURE_CURRENT, &dDrawn));
    printf("Tripping the over-current protection of %s, which delivers %.1f mA:\n", pszTrip,
           dDrawn * 1000.0);
    printf("  Setting its over-current limit to 5 mA (trip behaviour).\n");
    CHECK(TARVEK_ConfigureCurrentLimit(vi, pszTrip, TARVEK_VAL_CURRENT_TRIP, 0.005));
    /* The over-current settings act on the selected output, which the call
     * above left at pszTrip. */
    CHECK(TARVEK_SetOCPEnabled(vi, VI_TRUE));
    /* The supply has changed its own state; drop the driver's cached values so
     * that the next reads ask the instrument. */
    CHECK(TARVEK_InvalidateAllAttributes(vi));
    ViBoolean bOutputOn = VI_FALSE;
    ViBoolean bTripped = VI_FALSE;
    CHECK(TARVEK_GetAttributeViBoolean(vi, pszTrip, TARVEK_ATTR_OUTPUT_ENABLED, &bOutputOn));
    CHECK(TARVEK_GetOCPTripped(vi, &bTripped));
    printf("  %s: over-current protection %s, output %s.\n", pszTrip,
           bTripped ? "TRIPPED" : "not tripped", bOutputOn ? "on" : "off");
    printf("  Raising the limit back to %.3f A and clearing the protection.\n",
           kOutputs[nOutputs > 1 ? 1 : 0].dCurrentLimit);
    CHECK(TARVEK_ConfigureCurrentLimit(vi, pszTrip, TARVEK_VAL_CURRENT_TRIP,
                                       kOutputs[nOutputs > 1 ? 1 : 0].dCurrentLimit));
    CHECK(TARVEK_ResetOutputProtection(vi, pszTrip));
    CHECK(TARVEK_InvalidateAllAttributes(vi));
    ViReal64 dVolts = 0.0;
    CHECK(TARVEK_GetAttributeViBoolean(vi, pszTrip, TARVEK_ATTR_OUTPUT_ENABLED, &bOutputOn));
    CHECK(TARVEK_GetOCPTripped(vi, &bTripped));
    CHECK(TARVEK_Measure(vi, pszTrip, TARVEK_VAL_MEASURE_VOLTAGE, &dVolts));
    printf("  %s: over-current protection %s, output %s at %.3f V.\n\n", pszTrip,
           bTripped ? "still tripped" : "clear", bOutputOn ? "on" : "off", dVolts);

    /* -- List mode ------------------------------------------------------------ */
    printf("Running a %d-step list on CH1:\n", COUNT_OF(kSteps));
    if (nOutputs > 1) {
        CHECK(TARVEK_SetSelectedChannel(vi, TARVEK_VAL_CHANNEL1));
    }
    /* The list and step attributes act on the selected list and step. */
    CHECK(TARVEK_SetSelectedList(vi, 1));
    for (int n = 0; n < COUNT_OF(kSteps); ++n) {
        CHECK(TARVEK_SetSelectedStep(vi, n + 1));
        CHECK(TARVEK_SetStepVoltage(vi, kSteps[n].dVoltage));
        CHECK(TARVEK_SetStepCurrent(vi, kSteps[n].dCurrent));
    }
    /* Paced by the bus trigger: the program moves the supply from step to
       step, so each reading falls inside its step however busy the computer is. */
    CHECK(TARVEK_SetListPace(vi, TARVEK_VAL_LIST_PACE_TRIGGER));
    CHECK(TARVEK_SetListRepeatCount(vi, 1));
    CHECK(TARVEK_SetListTerminateState(vi, TARVEK_VAL_LIST_TERMINATE_STATEDC));
    CHECK(TARVEK_SetListTriggerSource(vi, TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_BUS));
    CHECK(TARVEK_SaveListData(vi));
    CHECK(TARVEK_EnableList(vi, 1));
    CHECK(TARVEK_StartList(vi, TARVEK_VAL_CHANNEL1));
    for (int n = 0; n < COUNT_OF(kSteps); ++n) {
        CHECK(TARVEK_SendSoftwareTrigger(vi));
        CHECK(TARVEK_Measure(vi, "CH1", TARVEK_VAL_MEASURE_VOLTAGE, &dVolts));
        printf("  step %d: programmed %.2f V, measured %.3f V\n", n + 1, kSteps[n].dVoltage,
               dVolts);
    }
    CHECK(TARVEK_DisableList(vi));
    CHECK(TARVEK_Measure(vi, "CH1", TARVEK_VAL_MEASURE_VOLTAGE, &dVolts));
    printf("  The list is over; CH1 is back at its fixed level: %.3f V.\n\n", dVolts);

    /* -- Error queue ---------------------------------------------------------- */
    const char* pszLast = kOutputs[nOutputs - 1].pszChannel;
    printf("Asking %s for 75 V, beyond the 60 V the supply is rated for:\n", pszLast);
    status = TARVEK_ConfigureVoltageLevel(vi, pszLast, 75.0);
    if (status < VI_SUCCESS) {
        /* Expected: the instrument refuses, and the status check reports it. */
        ViStatus code = VI_SUCCESS;
        ViChar szText[1024] = "";
        TARVEK_GetError(vi, &code, (ViInt32)sizeof szText, szText);
        printf("  Refused (0x%08X): %s\n", (unsigned)status, szText);
    } else {
        printf("  The driver accepted it%s.\n", bSimulated ? ": a simulation checks nothing" : "");
    }
    printf("Reading the instrument's error queue:\n");
    for (int n = 0; n < 20; ++n) {
        ViInt32 nCode = 0;
        ViChar szMessage[256] = "";
        CHECK(TARVEK_error_query(vi, &nCode, szMessage));
        if (nCode == 0) {
            printf("  %s\n", n == 0 ? "The queue is empty." : "That was all; the queue is empty.");
            break;
        }
        printf("  error %d: %s\n", (int)nCode, szMessage);
    }
    printf("\n");

    /* -- Close ---------------------------------------------------------------- */
    printf("Switching %s off and closing the session.\n", szAll);
    CHECK(TARVEK_ConfigureOutputEnabled(vi, szAll, VI_FALSE));
    nExit = 0;

done:
    if (!Check(vi, TARVEK_close(vi), "TARVEK_close")) {
        nExit = 1;
    }
    if (nExit == 0) {
        printf("Done.\n");
    }
    return nExit;
}
