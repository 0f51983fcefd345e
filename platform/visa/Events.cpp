// viEnableEvent, viDisableEvent, viDiscardEvents, viWaitOnEvent and the
// handler calls. A session accepts only the event types its interface can
// raise (exceptions on every session, I/O completion on instruments, service
// requests on VXI-11 and USB instruments) and answers
// VI_ERROR_INV_EVENT for the rest. Asynchronous transfers complete before
// their call returns, so the I/O completion event is posted from the calling
// thread; so is an exception, by the failing operation itself once it has
// released the session.
#include "Events.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "ApiFrame.h"
#include "Session.h"

namespace tkvisa {
namespace {

// kMaxEventQueueLength events wait in the queue; later ones are dropped.
constexpr ViUInt16 kMechanisms = VI_QUEUE | VI_HNDLR | VI_SUSPEND_HNDLR;

struct Handler {
    ViHndlr pfnHandler;
    ViAddr pUserHandle;
};

struct TypeState {
    ViUInt16 nMechanisms = 0;
    std::vector<Handler> vecHandlers;
    std::deque<EventData> queSuspended;
};

struct SessionEvents {
    std::map<ViEventType, TypeState> mapTypes;
    std::deque<EventData> queEvents;
    bool bOverflowed = false;
};

struct EventContext {
    ViSession nSession;
    EventData data;
};

class EventTable {
  public:
    static EventTable& Instance() {
        static EventTable* pTable = new EventTable;  // outlives clients' static destructors
        return *pTable;
    }
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::unordered_map<ViSession, SessionEvents> m_mapSessions;
    std::unordered_map<ViObject, EventContext> m_mapContexts;
};

std::atomic<ViObject> g_nNextObject{0x40000000};
// Set while this thread runs an exception handler.
thread_local bool t_bInExceptionHandler = false;

// Marks the thread as in an exception handler for a scope, even when the
// handler leaves by throwing.
class InExceptionHandler {
  public:
    explicit InExceptionHandler(bool bException) : m_bOuter(t_bInExceptionHandler) {
        t_bInExceptionHandler = m_bOuter || bException;
    }
    ~InExceptionHandler() { t_bInExceptionHandler = m_bOuter; }
    InExceptionHandler(const InExceptionHandler&) = delete;
    InExceptionHandler& operator=(const InExceptionHandler&) = delete;

  private:
    bool m_bOuter;
};
std::atomic<ViJobId> g_nNextJob{0};

// Whether a session can raise events of a type; every other type, standard
// or not, is VI_ERROR_INV_EVENT.
bool Raises(const Session& session, ViEventType nType) {
    if (nType == VI_EVENT_EXCEPTION) {
        return true;
    }
    if (session.m_eKind != SessionKind::Instrument) {
        return false;
    }
    if (nType == VI_EVENT_IO_COMPLETION) {
        return true;
    }
    return nType == VI_EVENT_SERVICE_REQ &&
           (session.m_resource.nIntfType == VI_INTF_TCPIP ||
            session.m_resource.nIntfType == VI_INTF_USB) &&
           session.m_resource.strClass == "INSTR";
}

// VI_SUCCESS when vi is a live session that can raise nType (or, with
// bAllowAll, when nType is VI_ALL_ENABLED_EVENTS).
ViStatus CheckType(ViSession vi, ViEventType nType, bool bAllowAll) {
    const SessionPtr pSession = SessionTable::Instance().Find(vi);
    if (!pSession) {
        return VI_ERROR_INV_OBJECT;
    }
    if (bAllowAll && nType == VI_ALL_ENABLED_EVENTS) {
        return VI_SUCCESS;
    }
    std::lock_guard<std::mutex> lock(pSession->m_mutex);
    if (pSession->m_bClosed) {
        return VI_ERROR_INV_OBJECT;
    }
    return Raises(*pSession, nType) ? VI_SUCCESS : VI_ERROR_INV_EVENT;
}

// Asks the session's link to start or stop delivering service requests.
ViStatus SetServiceRequests(ViSession vi, bool bEnable) {
    const SessionPtr pSession = SessionTable::Instance().Find(vi);
    if (!pSession) {
        return VI_ERROR_INV_OBJECT;
    }
    std::lock_guard<std::mutex> lock(pSession->m_mutex);
    if (pSession->m_bClosed || !pSession->m_pTransport) {
        return VI_ERROR_INV_OBJECT;
    }
    return pSession->m_pTransport->EnableServiceRequests(vi, bEnable,
                                                         Deadline(pSession->m_nTimeoutMs));
}

bool Matches(ViEventType nWanted, ViEventType nType) {
    return nWanted == VI_ALL_ENABLED_EVENTS || nWanted == nType;
}

ViObject NewContext(EventTable& table, ViSession vi, const EventData& data) {
    const ViObject nHandle = NewObjectHandle();
    table.m_mapContexts.emplace(nHandle, EventContext{vi, data});
    return nHandle;
}

// Calls the handlers for each event, newest handler first, each with a
// context of its own that is closed when the handler returns.
void RunHandlers(ViSession vi, const std::vector<Handler>& vecHandlers,
                 const std::vector<EventData>& vecEvents) {
    EventTable& table = EventTable::Instance();
    for (const EventData& event : vecEvents) {
        for (auto it = vecHandlers.rbegin(); it != vecHandlers.rend(); ++it) {
            ViObject nContext = VI_NULL;
            {
                std::lock_guard<std::mutex> lock(table.m_mutex);
                nContext = NewContext(table, vi, event);
            }
            // A call that fails inside an exception handler raises nothing,
            // so that a handler cannot recurse.
            {
                const InExceptionHandler scope(event.nType == VI_EVENT_EXCEPTION);
                it->pfnHandler(vi, event.nType, nContext, it->pUserHandle);
            }
            std::lock_guard<std::mutex> lock(table.m_mutex);
            table.m_mapContexts.erase(nContext);
        }
    }
}

}  // namespace

ViObject NewObjectHandle() {
    return g_nNextObject.fetch_add(1);
}

ViJobId NewJobId() {
    ViJobId nJob = VI_NULL_JOB;
    while (nJob == VI_NULL_JOB) {
        nJob = ++g_nNextJob;
    }
    return nJob;
}

void PostEvent(ViSession vi, const EventData& event) {
    EventTable& table = EventTable::Instance();
    std::vector<Handler> vecHandlers;
    {
        std::lock_guard<std::mutex> lock(table.m_mutex);
        const auto itSession = table.m_mapSessions.find(vi);
        if (itSession == table.m_mapSessions.end()) {
            return;
        }
        SessionEvents& events = itSession->second;
        const auto itType = events.mapTypes.find(event.nType);
        if (itType == events.mapTypes.end()) {
            return;
        }
        TypeState& state = itType->second;
        if (state.nMechanisms & VI_QUEUE) {
            if (events.queEvents.size() < kMaxEventQueueLength) {
                events.queEvents.push_back(event);
                table.m_changed.notify_all();
            } else {
                events.bOverflowed = true;
            }
        }
        if (state.nMechanisms & VI_SUSPEND_HNDLR) {
            if (state.queSuspended.size() < kMaxEventQueueLength) {
                state.queSuspended.push_back(event);
            }
        } else if (state.nMechanisms & VI_HNDLR) {
            vecHandlers = state.vecHandlers;
        }
    }
    RunHandlers(vi, vecHandlers, {event});
}

bool GetEventAttribute(ViObject vi, ViAttr nAttribute, void* pValue, ViStatus& status) {
    EventTable& table = EventTable::Instance();
    std::lock_guard<std::mutex> lock(table.m_mutex);
    const auto it = table.m_mapContexts.find(vi);
    if (it == table.m_mapContexts.end()) {
        return false;
    }
    const EventData& data = it->second.data;
    const bool bIo = data.nType == VI_EVENT_IO_COMPLETION;
    // An exception carries the failed operation's status and name.
    const bool bFailure = bIo || data.nType == VI_EVENT_EXCEPTION;
    if (pValue == nullptr) {
        status = VI_ERROR_USER_BUF;
        return true;
    }
    status = VI_SUCCESS;
    if (nAttribute == VI_ATTR_EVENT_TYPE) {
        *static_cast<ViEventType*>(pValue) = data.nType;
    } else if (bFailure && nAttribute == VI_ATTR_STATUS) {
        *static_cast<ViStatus*>(pValue) = data.status;
    } else if (bIo && nAttribute == VI_ATTR_JOB_ID) {
        *static_cast<ViJobId*>(pValue) = data.nJobId;
    } else if (bIo && nAttribute == VI_ATTR_RET_COUNT) {
        *static_cast<ViUInt32*>(pValue) = static_cast<ViUInt32>(data.nRetCount);
    } else if (bIo && nAttribute == VI_ATTR_RET_COUNT_64) {
        *static_cast<ViUInt64*>(pValue) = data.nRetCount;
    } else if (bIo && nAttribute == VI_ATTR_BUFFER) {
        *static_cast<ViBuf*>(pValue) = data.pBuffer;
    } else if (bFailure && nAttribute == VI_ATTR_OPER_NAME) {
        const std::size_t nLength =
            std::min(std::strlen(data.pszOperation), std::size_t{VI_FIND_BUFLEN - 1});
        std::memcpy(pValue, data.pszOperation, nLength);
        static_cast<char*>(pValue)[nLength] = '\0';
    } else {
        status = VI_ERROR_NSUP_ATTR;
    }
    return true;
}

ViStatus RaiseException(ViObject vi, const char* pszOperation, ViStatus status) {
    if (status >= VI_SUCCESS || t_bInExceptionHandler) {
        return status;
    }
    EventData event;
    event.nType = VI_EVENT_EXCEPTION;
    event.status = status;
    event.pszOperation = pszOperation;
    try {
        PostEvent(vi, event);
    } catch (...) {
        // The operation's own status matters more than a failed report of it.
    }
    return status;
}

bool SetEventAttribute(ViObject vi, ViAttr nAttribute, ViStatus& status) {
    EventTable& table = EventTable::Instance();
    std::lock_guard<std::mutex> lock(table.m_mutex);
    if (table.m_mapContexts.count(vi) == 0) {
        return false;
    }
    static constexpr ViAttr kReadOnly[] = {VI_ATTR_EVENT_TYPE, VI_ATTR_STATUS,       VI_ATTR_JOB_ID,
                                           VI_ATTR_RET_COUNT,  VI_ATTR_RET_COUNT_64, VI_ATTR_BUFFER,
                                           VI_ATTR_OPER_NAME};
    status =
        std::find(std::begin(kReadOnly), std::end(kReadOnly), nAttribute) != std::end(kReadOnly)
            ? VI_ERROR_ATTR_READONLY
            : VI_ERROR_NSUP_ATTR;
    return true;
}

bool CloseEvent(ViObject vi) {
    EventTable& table = EventTable::Instance();
    std::lock_guard<std::mutex> lock(table.m_mutex);
    return table.m_mapContexts.erase(vi) != 0;
}

void ForgetSessionEvents(ViSession vi) {
    EventTable& table = EventTable::Instance();
    std::lock_guard<std::mutex> lock(table.m_mutex);
    table.m_mapSessions.erase(vi);
    for (auto it = table.m_mapContexts.begin(); it != table.m_mapContexts.end();) {
        it = it->second.nSession == vi ? table.m_mapContexts.erase(it) : std::next(it);
    }
    table.m_changed.notify_all();
}

}  // namespace tkvisa

using namespace tkvisa;

extern "C" {

ViStatus _VI_FUNC viEnableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism,
                                ViEventFilter context) {
    return Guarded([&]() -> ViStatus {
        ViStatus status = CheckType(vi, eventType, false);
        if (status < VI_SUCCESS) {
            return status;
        }
        if (context != VI_NULL) {
            return VI_ERROR_INV_CONTEXT;
        }
        if (mechanism == 0 || (mechanism & ~kMechanisms) != 0 ||
            ((mechanism & VI_HNDLR) && (mechanism & VI_SUSPEND_HNDLR))) {
            return VI_ERROR_INV_MECH;
        }
        // An exception reaches its handler in the failing call; a queue
        // would hand it to a waiter after the call has already returned.
        if (eventType == VI_EVENT_EXCEPTION && (mechanism & VI_QUEUE)) {
            return VI_ERROR_INV_MECH;
        }
        if (eventType == VI_EVENT_SERVICE_REQ) {
            // The device is asked for requests only once the enable can succeed.
            if (mechanism & VI_HNDLR) {
                EventTable& table = EventTable::Instance();
                std::lock_guard<std::mutex> lock(table.m_mutex);
                const auto it = table.m_mapSessions.find(vi);
                if (it == table.m_mapSessions.end() || it->second.mapTypes.count(eventType) == 0 ||
                    it->second.mapTypes[eventType].vecHandlers.empty()) {
                    return VI_ERROR_HNDLR_NINSTALLED;
                }
            }
            status = SetServiceRequests(vi, true);
            if (status < VI_SUCCESS) {
                return status;
            }
        }
        EventTable& table = EventTable::Instance();
        std::vector<Handler> vecHandlers;
        std::vector<EventData> vecResumed;
        {
            std::lock_guard<std::mutex> lock(table.m_mutex);
            TypeState& state = table.m_mapSessions[vi].mapTypes[eventType];
            if ((mechanism & VI_HNDLR) && state.vecHandlers.empty()) {
                return VI_ERROR_HNDLR_NINSTALLED;
            }
            const ViUInt16 nBefore = state.nMechanisms;
            if (mechanism & VI_HNDLR) {
                state.nMechanisms = static_cast<ViUInt16>(state.nMechanisms & ~VI_SUSPEND_HNDLR);
                // Events held while the handlers were suspended go to them now.
                vecResumed.assign(state.queSuspended.begin(), state.queSuspended.end());
                state.queSuspended.clear();
                vecHandlers = state.vecHandlers;
            } else if (mechanism & VI_SUSPEND_HNDLR) {
                state.nMechanisms = static_cast<ViUInt16>(state.nMechanisms & ~VI_HNDLR);
            }
            state.nMechanisms |= mechanism;
            status = (nBefore & mechanism) == mechanism ? VI_SUCCESS_EVENT_EN : VI_SUCCESS;
        }
        RunHandlers(vi, vecHandlers, vecResumed);
        return status;
    });
}

ViStatus _VI_FUNC viDisableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
    return Guarded([&]() -> ViStatus {
        const ViStatus status = CheckType(vi, eventType, true);
        if (status < VI_SUCCESS) {
            return status;
        }
        if (mechanism == 0 || (mechanism != VI_ALL_MECH && (mechanism & ~kMechanisms) != 0)) {
            return VI_ERROR_INV_MECH;
        }
        EventTable& table = EventTable::Instance();
        bool bWasEnabled = false;
        bool bStopRequests = false;
        {
            std::lock_guard<std::mutex> lock(table.m_mutex);
            const auto itSession = table.m_mapSessions.find(vi);
            if (itSession != table.m_mapSessions.end()) {
                for (auto& [nType, state] : itSession->second.mapTypes) {
                    if (Matches(eventType, nType)) {
                        bWasEnabled = bWasEnabled || (state.nMechanisms & mechanism) != 0;
                        state.nMechanisms = static_cast<ViUInt16>(state.nMechanisms & ~mechanism);
                        bStopRequests = bStopRequests ||
                                        (nType == VI_EVENT_SERVICE_REQ && state.nMechanisms == 0);
                    }
                }
            }
            table.m_changed.notify_all();
        }
        // The device stops sending requests nobody takes any more.
        if (bStopRequests && bWasEnabled) {
            SetServiceRequests(vi, false);
        }
        return bWasEnabled ? VI_SUCCESS : VI_SUCCESS_EVENT_DIS;
    });
}

ViStatus _VI_FUNC viDiscardEvents(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
    return Guarded([&]() -> ViStatus {
        const ViStatus status = CheckType(vi, eventType, true);
        if (status < VI_SUCCESS) {
            return status;
        }
        if (mechanism == 0 || (mechanism != VI_ALL_MECH && (mechanism & ~kMechanisms) != 0)) {
            return VI_ERROR_INV_MECH;
        }
        EventTable& table = EventTable::Instance();
        std::lock_guard<std::mutex> lock(table.m_mutex);
        bool bDiscarded = false;
        const auto itSession = table.m_mapSessions.find(vi);
        if (itSession != table.m_mapSessions.end()) {
            SessionEvents& events = itSession->second;
            if (mechanism & VI_QUEUE) {
                const auto itEnd = std::remove_if(
                    events.queEvents.begin(), events.queEvents.end(),
                    [&](const EventData& event) { return Matches(eventType, event.nType); });
                bDiscarded = itEnd != events.queEvents.end();
                events.queEvents.erase(itEnd, events.queEvents.end());
                events.bOverflowed = false;
            }
            if (mechanism & (VI_SUSPEND_HNDLR | VI_HNDLR)) {
                for (auto& [nType, state] : events.mapTypes) {
                    if (Matches(eventType, nType) && !state.queSuspended.empty()) {
                        bDiscarded = true;
                        state.queSuspended.clear();
                    }
                }
            }
        }
        return bDiscarded ? VI_SUCCESS : VI_SUCCESS_QUEUE_EMPTY;
    });
}

ViStatus _VI_FUNC viWaitOnEvent(ViSession vi, ViEventType inEventType, ViUInt32 timeout,
                                ViPEventType outEventType, ViPEvent outContext) {
    if (outEventType != nullptr) {
        *outEventType = 0;
    }
    if (outContext != nullptr) {
        *outContext = VI_NULL;
    }
    return Guarded([&]() -> ViStatus {
        const ViStatus status = CheckType(vi, inEventType, true);
        if (status < VI_SUCCESS) {
            return status;
        }
        const Deadline deadline(timeout);
        EventTable& table = EventTable::Instance();
        std::unique_lock<std::mutex> lock(table.m_mutex);
        for (;;) {
            const auto itSession = table.m_mapSessions.find(vi);
            if (itSession == table.m_mapSessions.end()) {
                return SessionTable::Instance().Find(vi) ? VI_ERROR_NENABLED : VI_ERROR_INV_OBJECT;
            }
            SessionEvents& events = itSession->second;
            const bool bEnabled =
                std::any_of(events.mapTypes.begin(), events.mapTypes.end(), [&](const auto& entry) {
                    return Matches(inEventType, entry.first) &&
                           (entry.second.nMechanisms & VI_QUEUE) != 0;
                });
            const auto itEvent = std::find_if(
                events.queEvents.begin(), events.queEvents.end(),
                [&](const EventData& event) { return Matches(inEventType, event.nType); });
            if (itEvent != events.queEvents.end()) {
                const EventData event = *itEvent;
                events.queEvents.erase(itEvent);
                ViStatus result = VI_SUCCESS;
                if (events.bOverflowed) {
                    events.bOverflowed = false;
                    result = VI_WARN_QUEUE_OVERFLOW;
                } else if (std::any_of(events.queEvents.begin(), events.queEvents.end(),
                                       [&](const EventData& other) {
                                           return Matches(inEventType, other.nType);
                                       })) {
                    result = VI_SUCCESS_QUEUE_NEMPTY;
                }
                if (outEventType != nullptr) {
                    *outEventType = event.nType;
                }
                if (outContext != nullptr) {
                    *outContext = NewContext(table, vi, event);
                }
                return result;
            }
            if (!bEnabled) {
                return VI_ERROR_NENABLED;
            }
            const int nLeftMs = deadline.RemainingMs();
            if (nLeftMs == 0) {
                return VI_ERROR_TMO;
            }
            if (nLeftMs < 0) {
                table.m_changed.wait(lock);
            } else {
                table.m_changed.wait_for(lock, std::chrono::milliseconds(nLeftMs));
            }
        }
    });
}

ViStatus _VI_FUNC viInstallHandler(ViSession vi, ViEventType eventType, ViHndlr handler,
                                   ViAddr userHandle) {
    return Guarded([&]() -> ViStatus {
        const ViStatus status = CheckType(vi, eventType, false);
        if (status < VI_SUCCESS) {
            return status;
        }
        if (handler == nullptr) {
            return VI_ERROR_INV_HNDLR_REF;
        }
        EventTable& table = EventTable::Instance();
        std::lock_guard<std::mutex> lock(table.m_mutex);
        table.m_mapSessions[vi].mapTypes[eventType].vecHandlers.push_back({handler, userHandle});
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC viUninstallHandler(ViSession vi, ViEventType eventType, ViHndlr handler,
                                     ViAddr userHandle) {
    return Guarded([&]() -> ViStatus {
        const ViStatus status = CheckType(vi, eventType, false);
        if (status < VI_SUCCESS) {
            return status;
        }
        EventTable& table = EventTable::Instance();
        std::lock_guard<std::mutex> lock(table.m_mutex);
        const auto itSession = table.m_mapSessions.find(vi);
        if (itSession == table.m_mapSessions.end()) {
            return VI_ERROR_INV_HNDLR_REF;
        }
        std::vector<Handler>& vecHandlers = itSession->second.mapTypes[eventType].vecHandlers;
        // A null handler (VI_ANY_HNDLR) removes every handler of the type.
        const auto itEnd =
            std::remove_if(vecHandlers.begin(), vecHandlers.end(), [&](const Handler& h) {
                return handler == nullptr ||
                       (h.pfnHandler == handler && h.pUserHandle == userHandle);
            });
        if (itEnd == vecHandlers.end()) {
            return VI_ERROR_INV_HNDLR_REF;
        }
        vecHandlers.erase(itEnd, vecHandlers.end());
        return VI_SUCCESS;
    });
}

}  // extern "C"
