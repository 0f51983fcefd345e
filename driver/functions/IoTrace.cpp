// The I/O trace of the session's instrument connection: the VISA layer's
// trace ring (VI_ATTR_TKVISA_TRACE_EN, viTkReadTrace) reached through the
// driver's handle. A session without a connection (simulation) keeps the
// switch, so that it reads back as set, and has nothing to record.
#include <algorithm>
#include <cstring>
#include <string>

#include "TARVEK.h"
#include "driver/TARVEKDriverSession.h"
#include "runtime/session/CallFrame.h"
#include "visa.h"

using tarvek::TARVEKDriverSession;

namespace {

// The ring's text, read whole: it may grow between asking its size and
// reading it when another handle on the same connection is in a call.
ViStatus ReadTrace(ViSession io, std::string& strText) {
    for (;;) {
        ViUInt32 nNeeded = 0;
        ViStatus status = viTkReadTrace(io, nullptr, 0, &nNeeded);
        if (status < VI_SUCCESS) {
            return status;
        }
        strText.assign(nNeeded, '\0');
        status = viTkReadTrace(io, strText.data(), nNeeded, &nNeeded);
        if (status != VI_ERROR_INV_LENGTH) {
            strText.resize(status >= VI_SUCCESS && nNeeded > 0 ? nNeeded - 1 : 0);
            return status;
        }
    }
}

}  // namespace

extern "C" {

ViStatus _VI_FUNC TARVEK_ConfigureIoTrace(ViSession vi, ViBoolean Enabled) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        if (Enabled != VI_TRUE && Enabled != VI_FALSE) {
            return session.ReportError(IVI_ERROR_INVALID_VALUE,
                                       {std::to_string(Enabled), "ConfigureIoTrace", "Enabled"});
        }
        const ViSession io = session.GetInstrumentHandle();
        if (io == VI_NULL) {
            session.m_bIoTraceWithoutConnection = Enabled == VI_TRUE;
            return VI_SUCCESS;
        }
        return viSetAttribute(io, VI_ATTR_TKVISA_TRACE_EN, Enabled);
    });
}

ViStatus _VI_FUNC TARVEK_QueryIoTraceEnabled(ViSession vi, ViBoolean* Enabled) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        if (Enabled == nullptr) {
            return session.ReportError(IVI_ERROR_NULL_POINTER, {"QueryIoTraceEnabled", "Enabled"});
        }
        const ViSession io = session.GetInstrumentHandle();
        if (io == VI_NULL) {
            *Enabled = session.m_bIoTraceWithoutConnection ? VI_TRUE : VI_FALSE;
            return VI_SUCCESS;
        }
        return viGetAttribute(io, VI_ATTR_TKVISA_TRACE_EN, Enabled);
    });
}

ViStatus _VI_FUNC TARVEK_GetIoTrace(ViSession vi, ViInt32 BufferSize, ViChar Trace[]) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        if (Trace == nullptr && BufferSize != 0) {
            return session.ReportError(IVI_ERROR_NULL_POINTER, {"GetIoTrace", "Trace"});
        }
        std::string strText;
        const ViSession io = session.GetInstrumentHandle();
        if (io != VI_NULL) {
            if (const ViStatus status = ReadTrace(io, strText); status < VI_SUCCESS) {
                return status;
            }
        }
        if (strText.size() >= 0x7FFFFFFF) {
            return session.ReportErrorText(IVI_ERROR_OUT_OF_MEMORY,
                                           "The I/O trace is too long for one read.");
        }
        const auto nNeeded = static_cast<ViInt32>(strText.size() + 1);
        if (BufferSize == 0) {
            return nNeeded;
        }
        // A negative size means the caller vouches for room for the whole text.
        const std::size_t nCopy =
            BufferSize < 0
                ? strText.size()
                : std::min<std::size_t>(strText.size(), static_cast<std::size_t>(BufferSize - 1));
        std::memcpy(Trace, strText.data(), nCopy);
        Trace[nCopy] = '\0';
        return BufferSize > 0 && BufferSize < nNeeded ? nNeeded : VI_SUCCESS;
    });
}

ViStatus _VI_FUNC TARVEK_ClearIoTrace(ViSession vi) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        const ViSession io = session.GetInstrumentHandle();
        return io == VI_NULL ? VI_SUCCESS : viTkClearTrace(io);
    });
}

}  // extern "C"
