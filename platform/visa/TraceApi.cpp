// The entry points of the I/O trace that attributes cannot carry: reading
// the ring as text and emptying it. Neither does I/O, so neither waits for
// another session's lock on the resource.
#include <cstring>
#include <string>

#include "ApiFrame.h"
#include "IoTrace.h"
#include "Session.h"
#include "visa.h"

using namespace tkvisa;

extern "C" {

ViStatus _VI_FUNC viTkReadTrace(ViSession vi, ViChar _VI_FAR buf[], ViUInt32 bufSize,
                                ViPUInt32 needed) {
    if (needed != nullptr) {
        *needed = 0;
    }
    if (buf == nullptr && (bufSize != 0 || needed == nullptr)) {
        return VI_ERROR_USER_BUF;
    }
    return WithSession(vi, false, [&](Session& session) -> ViStatus {
        if (session.m_eKind != SessionKind::Instrument) {
            return VI_ERROR_NSUP_OPER;
        }
        const std::string strText = session.m_pTrace ? session.m_pTrace->Text() : std::string();
        if (strText.size() >= 0xFFFFFFFFu) {
            return VI_ERROR_ALLOC;
        }
        const auto nNeeded = static_cast<ViUInt32>(strText.size() + 1);
        if (needed != nullptr) {
            *needed = nNeeded;
        }
        if (bufSize == 0) {
            return VI_SUCCESS;
        }
        if (bufSize < nNeeded) {
            buf[0] = '\0';
            return VI_ERROR_INV_LENGTH;
        }
        std::memcpy(buf, strText.c_str(), nNeeded);
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC viTkClearTrace(ViSession vi) {
    return WithSession(vi, false, [&](Session& session) -> ViStatus {
        if (session.m_eKind != SessionKind::Instrument) {
            return VI_ERROR_NSUP_OPER;
        }
        if (session.m_pTrace) {
            session.m_pTrace->Clear();
        }
        return VI_SUCCESS;
    });
}

}  // extern "C"
