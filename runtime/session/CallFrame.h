// The frame of every exported call: fetch the session object of the handle,
// take the handle's lock, run the body, release the lock on every path. No
// exception leaves the frame: it becomes a status recorded on the session.
#pragma once

#include <exception>
#include <new>
#include <utility>

#include "IviSession.h"
#include "runtime/errors/Assert.h"
#include "runtime/session/DriverSession.h"

namespace drt {

// The session object attached to vi, or null (with 0xBFFA1190) when vi does
// not name a driver session.
ViStatus FetchSession(ViSession vi, DriverSession*& pSession) noexcept;

// Records the status an escaped exception stands for and returns it.
ViStatus StatusFromException(ViSession vi, std::exception_ptr pException) noexcept;

// Runs body() and turns any exception it throws into a status.
template <class Body>
ViStatus GuardExceptions(ViSession vi, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return StatusFromException(vi, std::current_exception());
    }
}

// The full frame: body(Session&) runs under the handle's lock.
template <class Session = DriverSession, class Body>
ViStatus CallLocked(ViSession vi, Body&& body) noexcept {
    DriverSession* pSession = nullptr;
    if (FetchSession(vi, pSession) < 0) {
        return IVI_ERROR_INVALID_SESSION_HANDLE;
    }
    ViStatus status = IviSession_Lock(vi, VI_NULL);
    DRT_ASSERT(status >= 0);
    if (status < 0) {
        return status;
    }
    pSession->BeginCall();
    ViStatus nResult = GuardExceptions(vi, [&] { return body(static_cast<Session&>(*pSession)); });
    // Held commands leave now; their failure is the call's failure.
    const ViStatus nFlushed = pSession->EndCall();
    if (nFlushed < 0 && nResult >= 0) {
        nResult = nFlushed;
    }
    status = IviSession_Unlock(vi, VI_NULL);
    DRT_ASSERT(status >= 0);
    return nResult;
}

// The frame without the lock, for close: body(Session&) runs at once.
template <class Session = DriverSession, class Body>
ViStatus CallUnlocked(ViSession vi, Body&& body) noexcept {
    DriverSession* pSession = nullptr;
    if (FetchSession(vi, pSession) < 0) {
        return IVI_ERROR_INVALID_SESSION_HANDLE;
    }
    return GuardExceptions(vi, [&] { return body(static_cast<Session&>(*pSession)); });
}

// Returns the session's post-operation status check, or 0xBFFA1190 when vi
// names no session.
ViStatus CheckSessionStatus(ViSession vi) noexcept;

}  // namespace drt
