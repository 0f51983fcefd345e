// The frame of every VISA entry point: no exception crosses into C, and an
// operation on a session runs under the session's lock.
#pragma once

#include <mutex>
#include <new>

#include "Locks.h"
#include "Session.h"
#include "visa.h"

namespace tkvisa {

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
template <typename Body>
ViStatus WithSession(ViObject vi, bool bInstrumentOnly, Body body) noexcept {
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
        return body(*pSession);
    });
}

}  // namespace tkvisa
