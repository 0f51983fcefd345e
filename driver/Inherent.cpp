// The IVI inherent utility functions.
#include "driver/Inherent.h"

#include <cstring>

#include "TARVEK.h"
#include "driver/Identity.h"
#include "runtime/io/IoTimeoutScope.h"
#include "runtime/session/CallFrame.h"

using tarvek::TARVEKDriverSession;

namespace tarvek {

namespace {

// The sequence without the final cache step; also reports whether it ran.
ViStatus RunReset(TARVEKDriverSession& session) {
    drt::IoTimeoutScope timeout(session.GetInstrumentHandle(), session.GetResetTimeout());
    ViStatus status = session.Printf("*RST\n");
    if (status < 0) {
        return status;
    }
    ViInt32 nComplete = 0;
    status = session.Queryf("*OPC?\n", "%ld%*T", &nComplete);
    if (status < 0) {
        return status;
    }
    return session.CheckStatus();
}

// Copies text into a caller's fixed 256-character buffer, cut if longer.
void CopyToBuffer256(ViChar* pBuffer, const std::string& strText) {
    if (pBuffer == nullptr) {
        return;
    }
    const std::size_t nCount = std::min<std::size_t>(strText.size(), 255);
    std::memcpy(pBuffer, strText.data(), nCount);
    pBuffer[nCount] = '\0';
}

template <class Body>
ViStatus Call(ViSession vi, Body&& body) {
    return drt::CallLocked<TARVEKDriverSession>(vi, std::forward<Body>(body));
}

// A single command or query whose only outcome is its status, skipped in
// simulation.
ViStatus SendSimple(TARVEKDriverSession& session, const char* pCommand) {
    if (session.GetSimulate()) {
        return VI_SUCCESS;
    }
    const ViStatus status = session.Printf(pCommand);
    return status < 0 ? status : session.CheckStatus();
}

}  // namespace

ViStatus ResetSequence(TARVEKDriverSession& session) {
    if (session.GetSimulate()) {
        return VI_SUCCESS;
    }
    return RunReset(session);
}

ViStatus ResetInstrument(TARVEKDriverSession& session) {
    if (session.GetSimulate()) {
        session.InvalidateAllAttributes();
        return VI_SUCCESS;
    }
    const ViStatus status = RunReset(session);
    if (status >= 0) {
        session.InvalidateAllAttributes();
    }
    return status;
}

std::string InstrumentRevision(const TARVEKDriverSession& session) {
    return session.GetSimulate() ? std::string("Sim") + kDriverRevision
                                 : session.GetFirmwareRevision();
}

}  // namespace tarvek

extern "C" {

ViStatus _VI_FUNC TARVEK_reset(ViSession vi) {
    return tarvek::Call(
        vi, [](TARVEKDriverSession& session) { return tarvek::ResetInstrument(session); });
}

ViStatus _VI_FUNC TARVEK_ResetWithDefaults(ViSession vi) {
    return tarvek::Call(vi, [](TARVEKDriverSession& session) {
        const ViStatus status = tarvek::ResetInstrument(session);
        if (status < 0) {
            return status;
        }
        session.RestoreInitialOptions();
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC TARVEK_Disable(ViSession vi) {
    return tarvek::Call(
        vi, [](TARVEKDriverSession& session) { return tarvek::ResetSequence(session); });
}

ViStatus _VI_FUNC TARVEK_self_test(ViSession vi, ViInt16* TestResult, ViChar TestMessage[]) {
    return tarvek::Call(vi, [&](TARVEKDriverSession& session) {
        const ViStatus status =
            drt::CheckNullPointers(session.GetViSession(), "TARVEK_self_test",
                                   "TestResult, TestMessage", TestResult, TestMessage);
        if (status < 0) {
            return status;
        }
        *TestResult = 0;
        tarvek::CopyToBuffer256(TestMessage, "Self test passed.");
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC TARVEK_revision_query(ViSession vi, ViChar DriverRev[], ViChar InstrRev[]) {
    return tarvek::Call(vi, [&](TARVEKDriverSession& session) {
        tarvek::CopyToBuffer256(DriverRev, tarvek::kDriverRevision);
        tarvek::CopyToBuffer256(InstrRev, tarvek::InstrumentRevision(session));
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC TARVEK_InvalidateAllAttributes(ViSession vi) {
    return tarvek::Call(vi, [](TARVEKDriverSession& session) {
        session.InvalidateAllAttributes();
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC TARVEK_LockSession(ViSession vi, ViBoolean* CallerHasLock) {
    return tarvek::Call(vi,
                        [&](TARVEKDriverSession&) { return IviSession_Lock(vi, CallerHasLock); });
}

ViStatus _VI_FUNC TARVEK_UnlockSession(ViSession vi, ViBoolean* CallerHasLock) {
    return tarvek::Call(vi,
                        [&](TARVEKDriverSession&) { return IviSession_Unlock(vi, CallerHasLock); });
}

ViStatus _VI_FUNC TARVEK_SetOperationComplete(ViSession vi) {
    return tarvek::Call(
        vi, [](TARVEKDriverSession& session) { return tarvek::SendSimple(session, "*OPC\n"); });
}

ViStatus _VI_FUNC TARVEK_WaitToContinue(ViSession vi) {
    return tarvek::Call(
        vi, [](TARVEKDriverSession& session) { return tarvek::SendSimple(session, "*WAI\n"); });
}

ViStatus _VI_FUNC TARVEK_WaitForOperationComplete(ViSession vi) {
    return tarvek::Call(vi, [](TARVEKDriverSession& session) {
        if (session.GetSimulate()) {
            return VI_SUCCESS;
        }
        ViInt32 nComplete = 0;
        const ViStatus status = session.Queryf("*OPC?\n", "%ld%*t", &nComplete);
        if (status < 0) {
            return status;
        }
        if (nComplete != 1) {
            return session.ReportError(IVI_ERROR_UNEXPECTED_RESPONSE);
        }
        return session.CheckStatus();
    });
}

}  // extern "C"
