// Opening and closing sessions.
#include <memory>
#include <string>

#include "TARVEK.h"
#include "driver/Inherent.h"
#include "driver/TARVEKDriverSession.h"
#include "runtime/errors/StatusMessages.h"
#include "runtime/session/CallFrame.h"
#include "runtime/session/SessionRelease.h"

using tarvek::TARVEKDriverSession;

namespace {

// A failed initialization gives its handle back; its error moves to the
// calling thread's record, where TARVEK_GetError(VI_NULL, ...) finds it. A
// status nobody recorded (VISA's, passed up unchanged: a refused connection, a
// timeout) is recorded there with its description, so the record is never
// an empty text for the status the call returned.
void DisposeFailedHandle(ViSession vi, ViStatus nStatus) {
    ViStatus nCode = VI_SUCCESS;
    const ViStatus nSize = IviSession_GetError(vi, 0, &nCode, nullptr);
    std::string strText;
    if (nSize > 0) {
        strText.resize(static_cast<std::size_t>(nSize));
        IviSession_GetError(vi, nSize, &nCode, strText.data());
        strText.resize(strText.find('\0') == std::string::npos ? strText.size()
                                                               : strText.find('\0'));
    }
    IviSession_Dispose(vi);
    if (nCode != nStatus || strText.empty()) {
        nCode = nStatus;
        strText = drt::DescribeStatus(nStatus);
    }
    IviSession_SetError(VI_NULL, nCode, strText.c_str());
}

ViStatus InitWithOptions(ViConstString pResourceName, ViBoolean bIdQuery, ViBoolean bReset,
                         ViConstString pOptionString, ViSession* pVi) {
    if (pVi == nullptr) {
        return IVI_ERROR_NULL_POINTER;
    }
    *pVi = VI_NULL;
    ViSession vi = VI_NULL;
    ViStatus status = IviSession_New(&vi);
    if (status < 0) {
        return status;
    }
    IviSession_ClearError(VI_NULL);
    std::unique_ptr<TARVEKDriverSession> pSession;
    try {
        pSession = std::make_unique<TARVEKDriverSession>(vi);
    } catch (const std::bad_alloc&) {
        IviSession_Dispose(vi);
        IviSession_SetError(VI_NULL, IVI_ERROR_OUT_OF_MEMORY,
                            "Could not allocate necessary memory.");
        return IVI_ERROR_OUT_OF_MEMORY;
    }
    status = IviSession_SetDataPtr(vi, static_cast<drt::DriverSession*>(pSession.get()));
    if (status < 0) {
        IviSession_Dispose(vi);
        return status;
    }
    status = drt::GuardExceptions(vi, [&] {
        return pSession->Initialize(pResourceName != nullptr ? pResourceName : "",
                                    static_cast<ViBoolean>(bIdQuery == VI_TRUE),
                                    static_cast<ViBoolean>(bReset == VI_TRUE),
                                    pOptionString != nullptr ? pOptionString : "");
    });
    if (status < 0) {
        // Initialize closed whatever I/O it had opened.
        IviSession_SetDataPtr(vi, nullptr);
        pSession.reset();
        DisposeFailedHandle(vi, status);
        return status;
    }
    pSession.release();  // owned by the handle from now on
    *pVi = vi;
    if (bReset != VI_FALSE) {
        return drt::CallLocked<TARVEKDriverSession>(
            vi, [](TARVEKDriverSession& session) { return tarvek::ResetInstrument(session); });
    }
    return status;
}

}  // namespace

extern "C" {

ViStatus _VI_FUNC TARVEK_InitWithOptions(ViRsrc ResourceName, ViBoolean IdQuery, ViBoolean Reset,
                                         ViConstString OptionString, ViSession* vi) {
    return InitWithOptions(ResourceName, IdQuery, Reset, OptionString, vi);
}

ViStatus _VI_FUNC TARVEK_init(ViRsrc ResourceName, ViBoolean IdQuery, ViBoolean Reset,
                              ViSession* vi) {
    return InitWithOptions(ResourceName, IdQuery, Reset, "", vi);
}

ViStatus _VI_FUNC TARVEK_close(ViSession vi) {
    drt::DriverSession* pSession = nullptr;
    if (drt::FetchSession(vi, pSession) < 0) {
        return IVI_ERROR_INVALID_SESSION_HANDLE;
    }
    const ViStatus nReleased = drt::GuardExceptions(vi, [&] {
        drt::RunSessionReleaseCallbacks(vi);
        return VI_SUCCESS;
    });
    (void)nReleased;
    const ViStatus nFetch = drt::FetchSession(vi, pSession);
    DRT_ASSERT(pSession != nullptr && "Failed to retrieve driver session.");
    if (nFetch < 0 || pSession == nullptr) {
        return nFetch < 0 ? nFetch : IVI_ERROR_INVALID_SESSION_HANDLE;
    }
    drt::GuardExceptions(vi, [&] { return pSession->CloseSession(); });
    IviSession_SetDataPtr(vi, nullptr);
    delete static_cast<TARVEKDriverSession*>(pSession);
    return IviSession_Dispose(vi);
}

}  // extern "C"
