/*
 * A bench sequence on two supplies, written against TARVEK.h alone:
 *
 *   tarvek_sequence <three-output resource> <one-output resource>
 *
 * On the three-output supply: configure the three outputs, enable them,
 * measure them, trip and clear an over-voltage protection, run a three-step
 * list. On the one-output supply: the same for its output, then a battery
 * test. Exits 0 when every step behaved as expected, 1 otherwise.
 */
#define _POSIX_C_SOURCE 200809L

#include <math.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "TARVEK.h"

static const char* const kOutputs[] = {"CH1", "CH2", "CH3"};

/* Reports a failed call with the driver's error text. */
static int Fail(ViSession vi, const char* pWhat, ViStatus status) {
    ViStatus nCode = 0;
    ViChar szText[1024] = "";
    TARVEK_GetError(vi, &nCode, (ViInt32)sizeof szText, szText);
    fprintf(stderr, "FAILED: %s returned 0x%08X: %s\n", pWhat, (unsigned)status, szText);
    return 0;
}

#define CHECK(vi, call)                        \
    do {                                       \
        const ViStatus status_ = (call);       \
        if (status_ < 0) {                     \
            return Fail((vi), #call, status_); \
        }                                      \
    } while (0)

#define EXPECT(condition)                                         \
    do {                                                          \
        if (!(condition)) {                                       \
            fprintf(stderr, "FAILED: expected %s\n", #condition); \
            return 0;                                             \
        }                                                         \
    } while (0)

static void Sleep(double dSeconds) {
    struct timespec ts;
    ts.tv_sec = (time_t)dSeconds;
    ts.tv_nsec = (long)((dSeconds - (double)ts.tv_sec) * 1e9);
    nanosleep(&ts, NULL);
}

/* Levels, limits and protection of one output, then enabled. */
static int ConfigureOutput(ViSession vi, const char* pOutput, ViReal64 dVolts) {
    CHECK(vi, TARVEK_ConfigureVoltageLevel(vi, pOutput, dVolts));
    CHECK(vi, TARVEK_ConfigureCurrentLimit(vi, pOutput, TARVEK_VAL_CURRENT_REGULATE, 1.0));
    CHECK(vi, TARVEK_ConfigureOVP(vi, pOutput, VI_TRUE, dVolts + 5.0));
    CHECK(vi, TARVEK_ConfigureOutputRange(vi, pOutput, 0, 1.0));
    return 1;
}

/* Measures an output and checks that it regulates at its voltage. */
static int MeasureOutput(ViSession vi, const char* pOutput, ViReal64 dVolts) {
    ViReal64 dVoltage = 0.0;
    ViReal64 dCurrent = 0.0;
    ViBoolean bConstantVoltage = VI_FALSE;
    CHECK(vi, TARVEK_Measure(vi, pOutput, TARVEK_VAL_MEASURE_VOLTAGE, &dVoltage));
    CHECK(vi, TARVEK_Measure(vi, pOutput, TARVEK_VAL_MEASURE_CURRENT, &dCurrent));
    CHECK(vi, TARVEK_QueryOutputState(vi, pOutput, TARVEK_VAL_OUTPUT_CONSTANT_VOLTAGE,
                                      &bConstantVoltage));
    printf("  %s: %.3f V, %.4f A, %s\n", pOutput, dVoltage, dCurrent,
           bConstantVoltage ? "constant voltage" : "not regulating on voltage");
    EXPECT(fabs(dVoltage - dVolts) < 1e-6);
    EXPECT(bConstantVoltage == VI_TRUE);
    return 1;
}

/* Lowers the over-voltage protection under the output, sees it trip, then
 * raises it again and clears the trip. */
static int TripAndClear(ViSession vi, const char* pOutput, ViReal64 dVolts) {
    ViBoolean bOverVoltage = VI_FALSE;
    ViBoolean bTripped = VI_FALSE;
    CHECK(vi, TARVEK_ConfigureOVP(vi, pOutput, VI_TRUE, dVolts - 1.0));
    CHECK(vi, TARVEK_QueryOutputState(vi, pOutput, TARVEK_VAL_OUTPUT_OVER_VOLTAGE, &bOverVoltage));
    CHECK(vi, TARVEK_GetOVPTripped(vi, &bTripped)); /* the output just addressed */
    printf("  %s: over-voltage protection %s\n", pOutput, bTripped ? "tripped" : "not tripped");
    EXPECT(bOverVoltage == VI_TRUE && bTripped == VI_TRUE);
    CHECK(vi, TARVEK_ConfigureOVP(vi, pOutput, VI_TRUE, dVolts + 5.0));
    CHECK(vi, TARVEK_ResetOutputProtection(vi, pOutput));
    CHECK(vi, TARVEK_QueryOutputState(vi, pOutput, TARVEK_VAL_OUTPUT_OVER_VOLTAGE, &bOverVoltage));
    EXPECT(bOverVoltage == VI_FALSE);
    CHECK(vi, TARVEK_ClearOCP(vi));
    printf("  %s: protection cleared\n", pOutput);
    return MeasureOutput(vi, pOutput, dVolts);
}

/* A three-step list on an output, started by a software trigger, run once and
 * left at its last step. */
static int RunList(ViSession vi, const char* pOutput, ViInt32 nChannel) {
    ViInt32 nStep = 0;
    ViReal64 dVoltage = 0.0;
    CHECK(vi, TARVEK_ConfigureTriggerSource(vi, pOutput, TARVEK_VAL_SOFTWARE_TRIG));
    CHECK(vi, TARVEK_SetSelectedList(vi, 1));
    for (nStep = 1; nStep <= 3; ++nStep) {
        CHECK(vi, TARVEK_SetSelectedStep(vi, nStep));
        CHECK(vi, TARVEK_SetStepVoltage(vi, 1.5 * nStep));
        CHECK(vi, TARVEK_SetStepCurrent(vi, 0.5));
        CHECK(vi, TARVEK_SetListDwell(vi, 0.05));
    }
    CHECK(vi, TARVEK_SetListPace(vi, TARVEK_VAL_LIST_PACE_DWELL));
    CHECK(vi, TARVEK_SetListRepeatCount(vi, 1));
    CHECK(vi, TARVEK_SetListTerminateState(vi, TARVEK_VAL_LIST_TERMINATE_STATE_LAST));
    CHECK(vi, TARVEK_SaveListData(vi));
    CHECK(vi, TARVEK_EnableList(vi, 1));
    CHECK(vi, TARVEK_StartList(vi, nChannel));
    CHECK(vi, TARVEK_SendSoftwareTrigger(vi));
    Sleep(0.4);
    CHECK(vi, TARVEK_Measure(vi, pOutput, TARVEK_VAL_MEASURE_VOLTAGE, &dVoltage));
    printf("  %s: list done, holding %.3f V\n", pOutput, dVoltage);
    EXPECT(fabs(dVoltage - 4.5) < 1e-6);
    CHECK(vi, TARVEK_AbortList(vi, nChannel));
    CHECK(vi, TARVEK_DisableList(vi));
    return 1;
}

static int RunThreeOutputSupply(ViSession vi) {
    int i = 0;
    ViInt32 nCount = 0;
    CHECK(vi, TARVEK_GetAttributeViInt32(vi, NULL, TARVEK_ATTR_CHANNEL_COUNT, &nCount));
    EXPECT(nCount == 3);
    for (i = 0; i < 3; ++i) {
        if (!ConfigureOutput(vi, kOutputs[i], 5.0 * (i + 1))) {
            return 0;
        }
    }
    CHECK(vi, TARVEK_ConfigureOutputEnabled(vi, "CH1-CH3", VI_TRUE));
    for (i = 0; i < 3; ++i) {
        if (!MeasureOutput(vi, kOutputs[i], 5.0 * (i + 1))) {
            return 0;
        }
    }
    if (!TripAndClear(vi, "CH2", 10.0) || !RunList(vi, "CH1", TARVEK_VAL_CHANNEL1)) {
        return 0;
    }
    /* The battery test belongs to the other family. */
    EXPECT(TARVEK_StartBatteryTest(vi) == IVI_ERROR_FUNCTION_NOT_SUPPORTED);
    CHECK(vi, TARVEK_Abort(vi));
    return 1;
}

static int RunBatteryTest(ViSession vi) {
    ViBoolean bRunning = VI_FALSE;
    ViReal64 dCurrent = 0.0;
    CHECK(vi, TARVEK_SetBatteryTestVoltage(vi, 12.6));
    CHECK(vi, TARVEK_SetBatteryTestCurrent(vi, 2.0));
    CHECK(vi, TARVEK_SetBatteryTestEndCurrent(vi, 0.1));
    CHECK(vi, TARVEK_SetBatteryTestEndDelay(vi, 10));
    CHECK(vi, TARVEK_SetBatteryTestTriggerSource(vi, TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_IMMEDIATE));
    CHECK(vi, TARVEK_StartBatteryTest(vi));
    CHECK(vi, TARVEK_GetBatteryTestIsRunning(vi, &bRunning));
    CHECK(vi, TARVEK_MeasureCurrent(vi, &dCurrent));
    printf("  battery test %s, %.4f A\n", bRunning ? "running" : "stopped", dCurrent);
    EXPECT(bRunning == VI_TRUE && dCurrent > 0.1);
    CHECK(vi, TARVEK_StopBatteryTest(vi));
    CHECK(vi, TARVEK_GetBatteryTestIsRunning(vi, &bRunning));
    EXPECT(bRunning == VI_FALSE);
    printf("  battery test stopped\n");
    return 1;
}

static int RunOneOutputSupply(ViSession vi) {
    ViInt32 nCount = 0;
    CHECK(vi, TARVEK_GetAttributeViInt32(vi, NULL, TARVEK_ATTR_CHANNEL_COUNT, &nCount));
    EXPECT(nCount == 1);
    if (!ConfigureOutput(vi, "CH1", 12.0)) {
        return 0;
    }
    CHECK(vi, TARVEK_ConfigureOutputEnabled(vi, "CH1", VI_TRUE));
    if (!MeasureOutput(vi, "CH1", 12.0) || !TripAndClear(vi, "CH1", 12.0) ||
        !RunList(vi, "CH1", TARVEK_VAL_CHANNEL1)) {
        return 0;
    }
    CHECK(vi, TARVEK_ConfigureOutputEnabled(vi, "CH1", VI_FALSE));
    return RunBatteryTest(vi);
}

static int RunSupply(ViRsrc pResource, int (*pSequence)(ViSession)) {
    ViSession vi = VI_NULL;
    ViChar szModel[256] = "";
    int bPassed = 0;
    const ViStatus status =
        TARVEK_InitWithOptions(pResource, VI_TRUE, VI_TRUE, "QueryInstrStatus=1", &vi);
    if (status < 0) {
        return Fail(VI_NULL, "TARVEK_InitWithOptions", status);
    }
    TARVEK_GetAttributeViString(vi, NULL, TARVEK_ATTR_INSTRUMENT_MODEL, (ViInt32)sizeof szModel,
                                szModel);
    printf("%s: model %s\n", pResource, szModel);
    bPassed = pSequence(vi);
    TARVEK_close(vi);
    return bPassed;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s <three-output resource> <one-output resource>\n", argv[0]);
        return 2;
    }
    if (!RunSupply(argv[1], RunThreeOutputSupply) || !RunSupply(argv[2], RunOneOutputSupply)) {
        return 1;
    }
    printf("sequence passed\n");
    return 0;
}
