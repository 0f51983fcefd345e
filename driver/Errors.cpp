// Status messages and the session's error record.
#include <cstring>
#include <string>

#include "IviSession.h"
#include "TARVEK.h"
#include "driver/TARVEKDriverSession.h"
#include "runtime/errors/StatusMessages.h"
#include "runtime/session/CallFrame.h"
#include "runtime/text/TextUtils.h"

namespace {

constexpr char kErrorQueryFormat[] =
    "Failed to parse the response to the SYST:ERR? query.  The response is expected to be a "
    "comma-separated list of 2 items in the form '<error code>,<error message>'.";

void CopyToBuffer256(ViChar* pBuffer, const std::string& strText) {
    const std::size_t nCount = std::min<std::size_t>(strText.size(), 255);
    std::memcpy(pBuffer, strText.data(), nCount);
    pBuffer[nCount] = '\0';
}

// Reads the optional sign and the digits that start strText; false when there
// are no digits or the number does not fit 32 bits.
bool ParseErrorCode(const std::string& strText, ViInt32& nCode) {
    std::size_t nPos = 0;
    bool bNegative = false;
    if (nPos < strText.size() && (strText[nPos] == '-' || strText[nPos] == '+')) {
        bNegative = strText[nPos] == '-';
        ++nPos;
    }
    long long nValue = 0;
    const std::size_t nDigits = nPos;
    while (nPos < strText.size() && strText[nPos] >= '0' && strText[nPos] <= '9') {
        nValue = nValue * 10 + (strText[nPos] - '0');
        if (nValue > 2147483648LL) {
            return false;
        }
        ++nPos;
    }
    if (nPos == nDigits) {
        return false;
    }
    nValue = bNegative ? -nValue : nValue;
    if (nValue > 2147483647LL) {
        return false;
    }
    nCode = static_cast<ViInt32>(nValue);
    return true;
}

ViStatus ErrorQuery(tarvek::TARVEKDriverSession& session, ViInt32* pErrorCode,
                    ViChar* pErrorMessage) {
    if (session.GetSimulate()) {
        *pErrorCode = 0;
        CopyToBuffer256(pErrorMessage, "No error.");
        return VI_SUCCESS;
    }
    ViChar response[256] = {};
    const ViStatus status = session.Queryf(":SYST:ERR?\n", "%T", response);
    if (status < 0) {
        return status;
    }
    const std::string strResponse = drt::TrimString(drt::TrimString(response), "\"");
    const auto nComma = strResponse.find(',');
    ViInt32 nCode = 0;
    if (nComma == std::string::npos ||
        !ParseErrorCode(drt::TrimString(strResponse.substr(0, nComma)), nCode)) {
        return session.ReportErrorText(IVI_ERROR_UNEXPECTED_RESPONSE, kErrorQueryFormat);
    }
    *pErrorCode = nCode;
    CopyToBuffer256(pErrorMessage,
                    drt::TrimString(drt::TrimString(strResponse.substr(nComma + 1)), "\""));
    return status;
}

}  // namespace

extern "C" {

ViStatus _VI_FUNC TARVEK_error_message(ViSession vi, ViStatus ErrorCode, ViChar ErrorMessage[256]) {
    try {
        if (ErrorMessage == nullptr) {
            return drt::CheckNullPointers(vi, "TARVEK_error_message", "ErrorMessage", nullptr,
                                          nullptr);
        }
        const std::string strMessage = drt::DescribeStatus(ErrorCode);
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
                                    "The error code supplied is not defined by the driver or VISA.",
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

extern "C" ViStatus _VI_FUNC TARVEK_error_query(ViSession vi, ViInt32* ErrorCode,
                                                ViChar ErrorMessage[]) {
    drt::DriverSession* pSession = nullptr;
    if (drt::FetchSession(vi, pSession) < 0) {
        return IVI_ERROR_INVALID_SESSION_HANDLE;
    }
    // The pointers are checked before the lock is taken.
    const ViStatus status = drt::GuardExceptions(vi, [&] {
        return drt::CheckNullPointers(vi, "TARVEK_error_query", "ErrorCode, ErrorMessage",
                                      ErrorCode, ErrorMessage);
    });
    if (status < 0) {
        return status;
    }
    return drt::CallLocked<tarvek::TARVEKDriverSession>(
        vi, [&](tarvek::TARVEKDriverSession& session) {
            return ErrorQuery(session, ErrorCode, ErrorMessage);
        });
}
