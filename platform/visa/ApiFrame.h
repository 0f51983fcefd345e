// The frame of every VISA entry point: no exception crosses into C, and an
// operation on a session runs under the session's lock.
#pragma once

#include <mutex>
#include <new>
#include <utility>

#include "Locks.h"
#include "Session.h"
#include "visa.h"

namespace tkvisa {

// Ends the call in the session's trace on every path; an escaping exception
// leaves VI_ERROR_SYSTEM_ERROR, close enough for a trace (allocation failures
// lose the entries anyway).
struct TracedCall {
    TracedCall(Session& session, const char* pszName) : rSession(session), pszCall(pszName) {}
    ~TracedCall() {
        if (rSession.m_pTrace) {
            rSession.m_pTrace->EndCall(pszCall, status);
        }
    }
    TracedCall(const TracedCall&) = delete;
    TracedCall& operator=(const TracedCall&) = delete;

    Session& rSession;
    const char* pszCall;
    ViStatus status = VI_ERROR_SYSTEM_ERROR;
};

template <typename Body>
ViStatus Guarded(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return VI_ERROR_ALLOC;
    } catch (...) {
        return VI_ERROR_SYSTEM_ERROR;
    }
}

// Runs body(session) under the session's lock when vi names a live session of
// the wanted kind; VI_ERROR_INV_OBJECT otherwise. Instrument operations fail
// with VI_ERROR_RSRC_LOCKED while another session's lock holds the resource.
// The transfers of a traced session are entered under pszCall (the VISA call
// the caller made) with the status the body returns.
template <typename Body>
ViStatus WithSession(ViObject vi, bool bInstrumentOnly, const char* pszCall, Body body) noexcept {
    return Guarded([&]() -> ViStatus {
        const SessionPtr pSession = SessionTable::Instance().Find(vi);
        if (!pSession) {
            return VI_ERROR_INV_OBJECT;
        }
        std::lock_guard<std::mutex> lock(pSession->m_mutex);
        if (pSession->m_bClosed) {
            return VI_ERROR_INV_OBJECT;
        }
        if (bInstrumentOnly) {
            if (pSession->m_eKind != SessionKind::Instrument) {
                return VI_ERROR_NSUP_OPER;
            }
            if (LockedAgainst(vi, pSession->m_resource.strCanonical)) {
                return VI_ERROR_RSRC_LOCKED;
            }
        }
        // One deadline for all the I/O of this call, running from now.
        pSession->BeginCall();
        TracedCall call(*pSession, pszCall);
        call.status = body(*pSession);
        return call.status;
    });
}

template <typename Body>
ViStatus WithSession(ViObject vi, bool bInstrumentOnly, Body body) noexcept {
    return WithSession(vi, bInstrumentOnly, nullptr, std::move(body));
}

}  // namespace tkvisa
