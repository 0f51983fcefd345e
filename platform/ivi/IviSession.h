/* IVI session services: handles with a data pointer, a recursive per-handle
 * lock and a per-handle error record (status and text). Handle 0 addresses an
 * error record kept per thread, so a failed initialization can be explained
 * to a caller that never received a handle. */
#ifndef TARVEK_IVI_SESSION_H
#define TARVEK_IVI_SESSION_H

#include "ivi.h"

#ifdef __cplusplus
extern "C" {
#endif

ViStatus IviSession_New(ViSession* pNewVi);
ViStatus IviSession_Dispose(ViSession vi);
ViStatus IviSession_SetDataPtr(ViSession vi, void* pData);
ViStatus IviSession_GetDataPtr(ViSession vi, void** ppData);

/* Recursive per-handle lock. With pCallerHasLock null the call locks or
 * unlocks unconditionally; otherwise Lock acts only when *pCallerHasLock is
 * VI_FALSE (and sets it VI_TRUE), Unlock only when it is VI_TRUE (and sets it
 * VI_FALSE). */
ViStatus IviSession_Lock(ViSession vi, ViBoolean* pCallerHasLock);
ViStatus IviSession_Unlock(ViSession vi, ViBoolean* pCallerHasLock);

ViStatus IviSession_SetError(ViSession vi, ViStatus nErrorCode, ViConstString pDescription);
/* IVI string convention: nBufferSize 0 returns the size needed (terminator
 * included) without copying; a smaller buffer receives a truncated, terminated
 * text and the size needed is returned; a large enough one gets VI_SUCCESS. */
ViStatus IviSession_GetError(ViSession vi, ViInt32 nBufferSize, ViStatus* pErrorCode,
                             ViChar pDescription[]);
ViStatus IviSession_ClearError(ViSession vi);

#ifdef __cplusplus
}
#endif

#endif /* TARVEK_IVI_SESSION_H */
