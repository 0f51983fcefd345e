/* TARVEK: IVI-C driver for 631X and 651X Series DC power supplies.
 *
 * Open a session with TARVEK_init or TARVEK_InitWithOptions, naming a VISA
 * resource (for example "TCPIP::192.168.1.20::5025::SOCKET") or a logical name
 * of the configuration store; every other function takes the session handle
 * and returns a ViStatus (0 success, negative error, positive warning). Read
 * the text of a failure with TARVEK_GetError; with handle VI_NULL it explains
 * a failed initialization. */
#ifndef TARVEK_H
#define TARVEK_H

#include "ivi.h"
#include "visatype.h"

#if defined(_WIN32)
#if defined(TARVEK_BUILDING_LIBRARY)
#define TARVEK_API __declspec(dllexport)
#else
#define TARVEK_API __declspec(dllimport)
#endif
#else
#define TARVEK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*- Session -----------------------------------------------------------------*/

TARVEK_API ViStatus _VI_FUNC TARVEK_init(ViRsrc ResourceName, ViBoolean IdQuery, ViBoolean Reset,
                                         ViSession* vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_InitWithOptions(ViRsrc ResourceName, ViBoolean IdQuery,
                                                    ViBoolean Reset, ViConstString OptionString,
                                                    ViSession* vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_close(ViSession vi);

/*- Inherent utilities ------------------------------------------------------*/

TARVEK_API ViStatus _VI_FUNC TARVEK_reset(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_ResetWithDefaults(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_Disable(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_self_test(ViSession vi, ViInt16* TestResult,
                                              ViChar TestMessage[]);
TARVEK_API ViStatus _VI_FUNC TARVEK_revision_query(ViSession vi, ViChar DriverRev[],
                                                   ViChar InstrRev[]);
TARVEK_API ViStatus _VI_FUNC TARVEK_InvalidateAllAttributes(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_LockSession(ViSession vi, ViBoolean* CallerHasLock);
TARVEK_API ViStatus _VI_FUNC TARVEK_UnlockSession(ViSession vi, ViBoolean* CallerHasLock);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetOperationComplete(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_WaitForOperationComplete(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_WaitToContinue(ViSession vi);

/*- Errors ------------------------------------------------------------------*/

TARVEK_API ViStatus _VI_FUNC TARVEK_error_message(ViSession vi, ViStatus ErrorCode,
                                                  ViChar ErrorMessage[256]);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetError(ViSession vi, ViStatus* ErrorCode,
                                             ViInt32 ErrorDescriptionBufferSize,
                                             ViChar ErrorDescription[]);
TARVEK_API ViStatus _VI_FUNC TARVEK_ClearError(ViSession vi);

#ifdef __cplusplus
}
#endif

#endif /* TARVEK_H */
