/* Two supplies from two threads.
 *
 *   multithread RESOURCE_A RESOURCE_B
 *
 * Each thread opens its own session and ramps the first output of its supply
 * while measuring it. Calls on different sessions run in parallel; calls on
 * one session are serialised by the driver, so a session may also be shared
 * between threads, though then each thread's channel selection and the
 * exchanges that depend on it should be wrapped in TARVEK_LockSession and
 * TARVEK_UnlockSession. */
#define _POSIX_C_SOURCE 200809L

#include <pthread.h>
#include <stdio.h>

#include "TARVEK.h"

typedef struct {
    const char* pszName;
    const char* pszResource;
    ViReal64 dTopVoltage;
    int nFailed;
} Supply;

static int Check(const Supply* pSupply, ViSession vi, ViStatus status, const char* pszWhat) {
    if (status >= VI_SUCCESS) {
        return 1;
    }
    ViStatus code = VI_SUCCESS;
    ViChar szText[1024] = "";
    TARVEK_GetError(vi, &code, (ViInt32)sizeof szText, szText);
    fprintf(stderr, "[%s] %s failed with 0x%08X: %s\n", pSupply->pszName, pszWhat, (unsigned)status,
            szText);
    return 0;
}

#define CHECK(call)                               \
    do {                                          \
        if (!Check(pSupply, vi, (call), #call)) { \
            goto done;                            \
        }                                         \
    } while (0)

static void* Ramp(void* pArgument) {
    Supply* pSupply = (Supply*)pArgument;
    pSupply->nFailed = 1;
    ViSession vi = VI_NULL;
    /* The handle variable is VI_NULL after a failed open; its error is
     * recorded for this thread and read with VI_NULL. */
    if (!Check(pSupply, VI_NULL,
               TARVEK_InitWithOptions((ViRsrc)pSupply->pszResource, VI_TRUE, VI_TRUE,
                                      "QueryInstrStatus=1", &vi),
               "TARVEK_InitWithOptions")) {
        return NULL;
    }
    ViChar szModel[256] = "";
    CHECK(
        TARVEK_GetAttributeViString(vi, "", TARVEK_ATTR_INSTRUMENT_MODEL, sizeof szModel, szModel));
    printf("[%s] opened model %s\n", pSupply->pszName, szModel);
    CHECK(TARVEK_ConfigureCurrentLimit(vi, "CH1", TARVEK_VAL_CURRENT_REGULATE, 1.0));
    CHECK(TARVEK_ConfigureOutputEnabled(vi, "CH1", VI_TRUE));
    for (int nStep = 1; nStep <= 5; ++nStep) {
        const ViReal64 dLevel = pSupply->dTopVoltage * nStep / 5.0;
        ViReal64 dVolts = 0.0;
        ViReal64 dAmps = 0.0;
        CHECK(TARVEK_ConfigureVoltageLevel(vi, "CH1", dLevel));
        CHECK(TARVEK_Measure(vi, "CH1", TARVEK_VAL_MEASURE_VOLTAGE, &dVolts));
        CHECK(TARVEK_Measure(vi, "CH1", TARVEK_VAL_MEASURE_CURRENT, &dAmps));
        printf("[%s] CH1 set to %6.2f V: measured %6.3f V, %7.4f A\n", pSupply->pszName, dLevel,
               dVolts, dAmps);
    }
    CHECK(TARVEK_ConfigureOutputEnabled(vi, "CH1", VI_FALSE));
    printf("[%s] output off\n", pSupply->pszName);
    pSupply->nFailed = 0;
done:
    if (!Check(pSupply, vi, TARVEK_close(vi), "TARVEK_close")) {
        pSupply->nFailed = 1;
    }
    return NULL;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s RESOURCE_A RESOURCE_B\n", argv[0]);
        return 2;
    }
    Supply supplies[2] = {{"A", argv[1], 10.0, 0}, {"B", argv[2], 24.0, 0}};
    pthread_t threads[2];
    int nStarted = 0;
    for (; nStarted < 2; ++nStarted) {
        if (pthread_create(&threads[nStarted], NULL, Ramp, &supplies[nStarted]) != 0) {
            fprintf(stderr, "cannot start a thread\n");
            supplies[nStarted].nFailed = 1;
            break;
        }
    }
    int nExit = 0;
    for (int n = 0; n < nStarted; ++n) {
        pthread_join(threads[n], NULL);
    }
    for (int n = 0; n < 2; ++n) {
        nExit |= supplies[n].nFailed;
    }
    printf(nExit == 0 ? "Both supplies ramped and switched off.\n" : "A supply failed.\n");
    return nExit;
}
