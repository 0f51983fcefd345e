// VISA events of a session: which types are enabled for which mechanism, the
// event queue, installed handlers and the event contexts handed to callers.
// The event table has a lock of its own, never held while a session's lock
// is taken or a handler runs, so that a handler may call VISA on the session.
#pragma once

#include <string>

#include "visa.h"

namespace tkvisa {

struct EventData {
    ViEventType nType = 0;
    ViStatus status = VI_SUCCESS;
    ViJobId nJobId = VI_NULL_JOB;
    ViUInt64 nRetCount = 0;
    ViBuf pBuffer = nullptr;
    const char* pszOperation = "";
};

// A handle for an object that is not a session (event contexts, find lists),
// from a range that session handles never reach.
constexpr ViUInt32 kMaxEventQueueLength = 50;

ViObject NewObjectHandle();

// Delivers an event to session vi: queued, suspended or passed to the
// handlers, as enabled. The caller must not hold the session's lock.
void PostEvent(ViSession vi, const EventData& event);
// Raises VI_EVENT_EXCEPTION on vi when status is an error, with the status
// and the operation's name, and returns status. The caller must not hold
// the session's lock: the handlers run in this call.
ViStatus RaiseException(ViObject vi, const char* pszOperation, ViStatus status);
// A job id for an asynchronous transfer, never VI_NULL_JOB.
ViJobId NewJobId();

// Event contexts: attribute reads and close. False when vi is no event.
bool GetEventAttribute(ViObject vi, ViAttr nAttribute, void* pValue, ViStatus& status);
bool SetEventAttribute(ViObject vi, ViAttr nAttribute, ViStatus& status);
bool CloseEvent(ViObject vi);
// Drops every event state and context of a closed session, waking waiters.
void ForgetSessionEvents(ViSession vi);

}  // namespace tkvisa
