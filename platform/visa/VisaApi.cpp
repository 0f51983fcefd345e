// The VISA C entry points. Each one finds its session in the handle table,
// holds the session's lock for the whole operation and turns any exception
// into a status before returning to C. A failing operation raises
// VI_EVENT_EXCEPTION on its session once it has released the lock.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "ApiFrame.h"
#include "Events.h"
#include "Find.h"
#include "MessageIo.h"
#include "Session.h"
#include "visa.h"

namespace tkvisa {

const char* FindStatusDescription(ViStatus status);

namespace {

ViStatus ParseForRm(ViSession rmSesn, ViConstRsrc rsrcName, ResourceName& resource) {
    const SessionPtr pRm = SessionTable::Instance().Find(rmSesn);
    if (!pRm || pRm->m_eKind != SessionKind::ResourceManager) {
        return VI_ERROR_INV_OBJECT;
    }
    if (rsrcName == nullptr) {
        return VI_ERROR_INV_RSRC_NAME;
    }
    return ParseResourceName(rsrcName, resource);
}

// The formatted calls, entered in the trace under the name the caller used
// (viPrintf or viVPrintf); exceptions are raised as the v-form's.
ViStatus PrintfAs(const char* pszCall, ViSession vi, ViConstString writeFmt, va_list params) {
    const ViStatus callStatus = WithSession(vi, true, pszCall, [&](Session& session) {
        VaList list;
        va_copy(list.args, params);
        const ViStatus status = session.Printf(writeFmt, list);
        va_end(list.args);
        return status;
    });
    return RaiseException(vi, "viVPrintf", callStatus);
}

ViStatus ScanfAs(const char* pszCall, ViSession vi, ViConstString readFmt, va_list params) {
    const ViStatus callStatus = WithSession(vi, true, pszCall, [&](Session& session) {
        VaList list;
        va_copy(list.args, params);
        const ViStatus status = session.Scanf(readFmt, list);
        va_end(list.args);
        return status;
    });
    return RaiseException(vi, "viVScanf", callStatus);
}

ViStatus QueryfAs(const char* pszCall, ViSession vi, ViConstString writeFmt, ViConstString readFmt,
                  va_list params) {
    const ViStatus callStatus = WithSession(vi, true, pszCall, [&](Session& session) -> ViStatus {
        // The write side takes its arguments first, the read side the rest.
        VaList list;
        va_copy(list.args, params);
        ViStatus status = session.Printf(writeFmt, list);
        if (status >= VI_SUCCESS) {
            status = session.Scanf(readFmt, list);
        }
        va_end(list.args);
        return status;
    });
    return RaiseException(vi, "viVQueryf", callStatus);
}

void CopyText(ViChar* pDest, const std::string& strText) {
    if (pDest == nullptr) {
        return;
    }
    const std::size_t nLength = std::min(strText.size(), std::size_t{VI_FIND_BUFLEN - 1});
    std::memcpy(pDest, strText.data(), nLength);
    pDest[nLength] = '\0';
}

}  // namespace
}  // namespace tkvisa

using namespace tkvisa;

extern "C" {

ViStatus _VI_FUNC viOpenDefaultRM(ViPSession vi) {
    if (vi == nullptr) {
        return VI_ERROR_USER_BUF;
    }
    *vi = VI_NULL;
    return Guarded([&]() -> ViStatus {
        *vi = SessionTable::Instance().CreateResourceManager()->m_nHandle;
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC viParseRsrc(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType,
                              ViPUInt16 intfNum) {
    return Guarded([&]() -> ViStatus {
        ResourceName resource;
        const ViStatus status = ParseForRm(rmSesn, rsrcName, resource);
        if (status < VI_SUCCESS) {
            return status;
        }
        if (intfType != nullptr) {
            *intfType = resource.nIntfType;
        }
        if (intfNum != nullptr) {
            *intfNum = resource.nIntfNum;
        }
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC viParseRsrcEx(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType,
                                ViPUInt16 intfNum, ViChar _VI_FAR rsrcClass[],
                                ViChar _VI_FAR expandedUnaliasedName[],
                                ViChar _VI_FAR aliasIfExists[]) {
    return Guarded([&]() -> ViStatus {
        ResourceName resource;
        const ViStatus status = ParseForRm(rmSesn, rsrcName, resource);
        if (status < VI_SUCCESS) {
            return status;
        }
        if (intfType != nullptr) {
            *intfType = resource.nIntfType;
        }
        if (intfNum != nullptr) {
            *intfNum = resource.nIntfNum;
        }
        CopyText(rsrcClass, resource.strClass);
        CopyText(expandedUnaliasedName, resource.strCanonical);
        CopyText(aliasIfExists, std::string());
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
                         ViPSession vi) {
    if (vi == nullptr) {
        return VI_ERROR_USER_BUF;
    }
    *vi = VI_NULL;
    const ViStatus callStatus = Guarded([&]() -> ViStatus {
        ResourceName resource;
        ViStatus status = ParseForRm(sesn, name, resource);
        if (status < VI_SUCCESS) {
            return status;
        }
        if ((mode & ~static_cast<ViAccessMode>(VI_EXCLUSIVE_LOCK | VI_SHARED_LOCK |
                                               VI_LOAD_CONFIG)) != 0 ||
            ((mode & VI_EXCLUSIVE_LOCK) && (mode & VI_SHARED_LOCK))) {
            return VI_ERROR_INV_ACC_MODE;
        }
        const TransportEntry* pEntry = FindTransport(resource);
        if (pEntry == nullptr) {
            return VI_ERROR_RSRC_NFOUND;
        }
        auto pSession = std::make_unique<Session>(SessionKind::Instrument, VI_NULL, sesn);
        pSession->m_resource = resource;
        pSession->m_pTransport = pEntry->pfnCreate();
        // Connecting may take up to the open timeout; no lock is held meanwhile.
        status = pSession->m_pTransport->Open(resource, timeout, pSession->m_line);
        if (status < VI_SUCCESS) {
            return status;
        }
        const SessionPtr pAdded = SessionTable::Instance().AddInstrument(sesn, std::move(pSession));
        if (!pAdded) {
            return VI_ERROR_INV_OBJECT;
        }
        if (ProcessTraceOn()) {
            // The process's trace file names the resource behind each handle.
            std::lock_guard<std::mutex> lock(pAdded->m_mutex);
            pAdded->TraceOf();
            pAdded->TraceEvent(("open " + pAdded->m_resource.strCanonical).c_str());
            pAdded->m_pTrace->EndCall("viOpen", VI_SUCCESS);
        }
        if (mode & (VI_EXCLUSIVE_LOCK | VI_SHARED_LOCK)) {
            // Opened with a lock: the session exists only if the lock is granted.
            status = AcquireLock(pAdded->m_nHandle,
                                 (mode & VI_EXCLUSIVE_LOCK) ? VI_EXCLUSIVE_LOCK : VI_SHARED_LOCK,
                                 timeout, nullptr, nullptr);
            if (status < VI_SUCCESS) {
                viClose(pAdded->m_nHandle);
                return status == VI_ERROR_TMO ? VI_ERROR_RSRC_LOCKED : status;
            }
        }
        *vi = pAdded->m_nHandle;
        return VI_SUCCESS;
    });
    return RaiseException(sesn, "viOpen", callStatus);
}

ViStatus _VI_FUNC viClose(ViObject vi) {
    return Guarded([&]() -> ViStatus {
        if (vi == VI_NULL) {
            return VI_WARN_NULL_OBJECT;
        }
        if (CloseEvent(vi) || CloseFindList(vi)) {
            return VI_SUCCESS;
        }
        const std::vector<SessionPtr> vecRemoved = SessionTable::Instance().Remove(vi);
        if (vecRemoved.empty()) {
            return VI_ERROR_INV_OBJECT;
        }
        for (const SessionPtr& pSession : vecRemoved) {
            // Wake an operation blocked on the connection in another thread so
            // that the close does not wait for its timeout.
            if (pSession->m_pTransport) {
                pSession->m_pTransport->Interrupt();
            }
            std::lock_guard<std::mutex> lock(pSession->m_mutex);
            if (pSession->m_pTrace && pSession->m_eKind == SessionKind::Instrument) {
                pSession->TraceEvent("close");
                pSession->m_pTrace->EndCall("viClose", VI_SUCCESS);
            }
            pSession->m_bClosed = true;
            pSession->CloseTransport();
        }
        for (const SessionPtr& pSession : vecRemoved) {
            ReleaseLocks(pSession->m_nHandle);
            ForgetSessionEvents(pSession->m_nHandle);
            ForgetFindLists(pSession->m_nHandle);
        }
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC viGetAttribute(ViObject vi, ViAttr attrName, void _VI_PTR attrValue) {
    ViStatus eventStatus = VI_SUCCESS;
    if (GetEventAttribute(vi, attrName, attrValue, eventStatus)) {
        return eventStatus;
    }
    const ViStatus callStatus = WithSession(vi, false, "viGetAttribute", [&](Session& session) {
        return session.GetAttribute(attrName, attrValue);
    });
    return RaiseException(vi, "viGetAttribute", callStatus);
}

ViStatus _VI_FUNC viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue) {
    ViStatus eventStatus = VI_SUCCESS;
    if (SetEventAttribute(vi, attrName, eventStatus)) {
        return eventStatus;
    }
    const ViStatus callStatus = WithSession(vi, false, "viSetAttribute", [&](Session& session) {
        return session.SetAttribute(attrName, attrValue);
    });
    return RaiseException(vi, "viSetAttribute", callStatus);
}

ViStatus _VI_FUNC viStatusDesc(ViObject vi, ViStatus status, ViChar _VI_FAR desc[]) {
    (void)vi;  // descriptions do not depend on the session
    if (desc == nullptr) {
        return VI_ERROR_USER_BUF;
    }
    const char* pszText = FindStatusDescription(status);
    if (pszText == nullptr) {
        std::snprintf(desc, VI_FIND_BUFLEN, "Unknown status code 0x%08X.",
                      static_cast<unsigned>(status));
        return VI_WARN_UNKNOWN_STATUS;
    }
    std::snprintf(desc, VI_FIND_BUFLEN, "%s", pszText);
    return VI_SUCCESS;
}

ViStatus _VI_FUNC viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    if (retCnt != nullptr) {
        *retCnt = 0;
    }
    const ViStatus callStatus = WithSession(vi, true, "viRead", [&](Session& session) -> ViStatus {
        if (buf == nullptr && cnt != 0) {
            return VI_ERROR_USER_BUF;
        }
        ViUInt32 nRead = 0;
        const ViStatus status = session.Read(buf, cnt, &nRead);
        if (retCnt != nullptr) {
            *retCnt = nRead;
        }
        return status;
    });
    return RaiseException(vi, "viRead", callStatus);
}

ViStatus _VI_FUNC viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    if (retCnt != nullptr) {
        *retCnt = 0;
    }
    const ViStatus callStatus = WithSession(vi, true, "viWrite", [&](Session& session) -> ViStatus {
        if (buf == nullptr && cnt != 0) {
            return VI_ERROR_USER_BUF;
        }
        ViUInt32 nWritten = 0;
        const ViStatus status = session.Write(buf, cnt, &nWritten);
        if (retCnt != nullptr) {
            *retCnt = nWritten;
        }
        return status;
    });
    return RaiseException(vi, "viWrite", callStatus);
}

ViStatus _VI_FUNC viClear(ViSession vi) {
    const ViStatus callStatus =
        WithSession(vi, true, "viClear", [&](Session& session) { return session.Clear(); });
    return RaiseException(vi, "viClear", callStatus);
}

ViStatus _VI_FUNC viReadSTB(ViSession vi, ViPUInt16 status) {
    if (status == nullptr) {
        return VI_ERROR_USER_BUF;
    }
    const ViStatus callStatus = WithSession(vi, true, "viReadSTB", [&](Session& session) {
        const ViStatus result =
            session.m_pTransport->ReadStatusByte(status, session.m_callDeadline);
        if (result == VI_ERROR_NSUP_OPER) {
            return ReadStatusByteByMessage(session, status);
        }
        if (session.m_pTrace && result >= VI_SUCCESS) {
            session.TraceEvent(("status byte " + std::to_string(*status)).c_str());
        }
        return result;
    });
    return RaiseException(vi, "viReadSTB", callStatus);
}

ViStatus _VI_FUNC viAssertTrigger(ViSession vi, ViUInt16 protocol) {
    if (protocol != VI_TRIG_PROT_DEFAULT) {
        return VI_ERROR_INV_PROT;
    }
    const ViStatus callStatus = WithSession(vi, true, "viAssertTrigger", [&](Session& session) {
        const ViStatus result = session.m_pTransport->AssertTrigger(session.m_callDeadline);
        if (result == VI_ERROR_NSUP_OPER) {
            return AssertTriggerByMessage(session);
        }
        session.TraceEvent("trigger");
        return result;
    });
    return RaiseException(vi, "viAssertTrigger", callStatus);
}

// Remote and local control; only USB488 instruments carry it here.
ViStatus _VI_FUNC viGpibControlREN(ViSession vi, ViUInt16 mode) {
    const ViStatus callStatus = WithSession(vi, true, [&](Session& session) {
        return session.m_pTransport->ControlRen(mode, session.m_callDeadline);
    });
    return RaiseException(vi, "viGpibControlREN", callStatus);
}

ViStatus _VI_FUNC viFlush(ViSession vi, ViUInt16 mask) {
    const ViStatus callStatus =
        WithSession(vi, true, "viFlush", [&](Session& session) { return session.Flush(mask); });
    return RaiseException(vi, "viFlush", callStatus);
}

ViStatus _VI_FUNC viVPrintf(ViSession vi, ViConstString writeFmt, ViVAList params) {
    return PrintfAs("viVPrintf", vi, writeFmt, params);
}

ViStatus _VI_FUNCC viPrintf(ViSession vi, ViConstString writeFmt, ...) {
    va_list args;
    va_start(args, writeFmt);
    const ViStatus status = PrintfAs("viPrintf", vi, writeFmt, args);
    va_end(args);
    return status;
}

ViStatus _VI_FUNC viVScanf(ViSession vi, ViConstString readFmt, ViVAList params) {
    return ScanfAs("viVScanf", vi, readFmt, params);
}

ViStatus _VI_FUNCC viScanf(ViSession vi, ViConstString readFmt, ...) {
    va_list args;
    va_start(args, readFmt);
    const ViStatus status = ScanfAs("viScanf", vi, readFmt, args);
    va_end(args);
    return status;
}

ViStatus _VI_FUNC viVQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt,
                            ViVAList params) {
    return QueryfAs("viVQueryf", vi, writeFmt, readFmt, params);
}

ViStatus _VI_FUNCC viQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ...) {
    va_list args;
    va_start(args, readFmt);
    const ViStatus status = QueryfAs("viQueryf", vi, writeFmt, readFmt, args);
    va_end(args);
    return status;
}

}  // extern "C"
