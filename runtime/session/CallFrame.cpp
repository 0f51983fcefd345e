#include "runtime/session/CallFrame.h"

namespace drt {

ViStatus FetchSession(ViSession vi, DriverSession*& pSession) noexcept {
    void* pData = nullptr;
    if (IviSession_GetDataPtr(vi, &pData) < 0 || pData == nullptr) {
        pSession = nullptr;
        return IVI_ERROR_INVALID_SESSION_HANDLE;
    }
    pSession = static_cast<DriverSession*>(pData);
    return VI_SUCCESS;
}

ViStatus StatusFromException(ViSession vi, std::exception_ptr pException) noexcept {
    ViStatus nStatus = IVI_ERROR_CANNOT_RECOVER;
    try {
        try {
            std::rethrow_exception(pException);
        } catch (const std::bad_alloc&) {
            nStatus = IVI_ERROR_OUT_OF_MEMORY;
            return SetSessionError(vi, nStatus);
        } catch (const std::exception& e) {
            return SetSessionError(vi, nStatus, "Internal error: %s", {e.what()});
        } catch (...) {
            return SetSessionError(vi, nStatus, "Internal error of unknown kind.", {});
        }
    } catch (...) {
        // Recording failed as well (no memory): the status alone must do.
        return nStatus;
    }
}

ViStatus CheckSessionStatus(ViSession vi) noexcept {
    DriverSession* pSession = nullptr;
    if (FetchSession(vi, pSession) < 0) {
        return IVI_ERROR_INVALID_SESSION_HANDLE;
    }
    return GuardExceptions(vi, [&] { return pSession->CheckStatus(); });
}

}  // namespace drt
