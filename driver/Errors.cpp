// Status messages and the session's error record.
#include <cstring>
#include <string>

#include "IviSession.h"
#include "TARVEK.h"
#include "runtime/errors/StatusMessages.h"

extern "C" {

ViStatus _VI_FUNC TARVEK_error_message(ViSession vi, ViStatus ErrorCode, ViChar ErrorMessage[256]) {
    try {
        if (ErrorMessage == nullptr) {
            return drt::CheckNullPointers(vi, "TARVEK_error_message", "ErrorMessage", nullptr,
                                          nullptr);
        }
        const std::string strMessage = drt::FindStatusMessage(ErrorCode);
        if (!strMessage.empty()) {
            const std::size_t nCount = std::min<std::size_t>(strMessage.size(), 255);
            std::memcpy(ErrorMessage, strMessage.data(), nCount);
            ErrorMessage[nCount] = '\0';
            return VI_SUCCESS;
        }
        if (vi == VI_NULL) {
            return IVI_ERROR_INVALID_VALUE;
        }
        return drt::SetSessionError(vi, IVI_ERROR_INVALID_VALUE,
                                    "The error code supplied is not defined by the driver.",
                                    {std::to_string(ErrorCode), "error_message", "ErrorCode"});
    } catch (...) {
        return IVI_ERROR_OUT_OF_MEMORY;
    }
}

ViStatus _VI_FUNC TARVEK_GetError(ViSession vi, ViStatus* ErrorCode,
                                  ViInt32 ErrorDescriptionBufferSize, ViChar ErrorDescription[]) {
    return IviSession_GetError(vi, ErrorDescriptionBufferSize, ErrorCode, ErrorDescription);
}

ViStatus _VI_FUNC TARVEK_ClearError(ViSession vi) {
    return IviSession_ClearError(vi);
}

}  // extern "C"
