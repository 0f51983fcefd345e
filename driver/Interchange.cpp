// Coercion records and interchangeability checking. The driver never coerces
// a value, so the record list stays empty; interchange checking is not
// supported and its functions say so.
#include <cstring>
#include <string>

#include "TARVEK.h"
#include "driver/TARVEKDriverSession.h"
#include "runtime/session/CallFrame.h"

using tarvek::TARVEKDriverSession;

namespace {

ViStatus NotSupported(ViSession vi, const char* pFunction) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) {
        return session.ReportError(IVI_ERROR_FUNCTION_NOT_SUPPORTED, {pFunction});
    });
}

}  // namespace

extern "C" {

ViStatus _VI_FUNC TARVEK_GetNextCoercionRecord(ViSession vi, ViInt32 BufferSize,
                                               ViChar CoercionRecord[]) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        if (CoercionRecord == nullptr && BufferSize != 0) {
            return session.ReportError(IVI_ERROR_NULL_POINTER,
                                       {"GetNextCoercionRecord", "CoercionRecord"});
        }
        auto& records = session.CoercionRecords();
        const std::string strRecord = records.empty() ? std::string() : records.front();
        const auto nNeeded = static_cast<ViInt32>(strRecord.size() + 1);
        if (BufferSize == 0) {
            return nNeeded;
        }
        // A negative size means the caller vouches for room for the whole text.
        const std::size_t nCopy =
            BufferSize < 0
                ? strRecord.size()
                : std::min<std::size_t>(strRecord.size(), static_cast<std::size_t>(BufferSize - 1));
        std::memcpy(CoercionRecord, strRecord.data(), nCopy);
        CoercionRecord[nCopy] = '\0';
        if (!records.empty()) {
            records.pop_front();
        }
        return BufferSize > 0 && BufferSize < nNeeded ? nNeeded : VI_SUCCESS;
    });
}

ViStatus _VI_FUNC TARVEK_GetNextInterchangeWarning(ViSession vi, ViInt32, ViChar[]) {
    return NotSupported(vi, "GetNextInterchangeWarning");
}

ViStatus _VI_FUNC TARVEK_ClearInterchangeWarnings(ViSession vi) {
    return NotSupported(vi, "ClearInterchangeWarnings");
}

ViStatus _VI_FUNC TARVEK_ResetInterchangeCheck(ViSession vi) {
    return NotSupported(vi, "ResetInterchangeCheck");
}

}  // extern "C"
