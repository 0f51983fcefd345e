// Raw reads and writes on the instrument session for commands the driver does
// not wrap. Not available in simulation, where there is no instrument session.
#include <algorithm>
#include <string>

#include "TARVEK.h"
#include "driver/TARVEKDriverSession.h"
#include "runtime/attributes/AttributeDispatch.h"
#include "runtime/session/CallFrame.h"
#include "visa.h"

using tarvek::TARVEKDriverSession;

namespace tarvek {

// Whether the session simulates, as the simulate attribute reports it; a
// simulating session has no instrument session to read or write, so the
// operation is refused.
bool RefusedInSimulation(TARVEKDriverSession& session, ViStatus& status) {
    ViBoolean bSimulate = VI_FALSE;
    drt::GetAttributeTyped<ViBoolean>(session.GetViSession(), nullptr, TARVEK_ATTR_SIMULATE,
                                      &bSimulate);
    if (bSimulate == VI_FALSE) {
        return false;
    }
    status = session.ReportErrorText(static_cast<ViStatus>(0xBFFA4214),
                                     "Direct I/O operations are not available in simulation mode.");
    return true;
}

// Whether nCount is a count VISA can take: the exported count is 64 bits wide
// and signed, VISA's is 32 bits and unsigned. A cast would turn -1 into 4 GB
// (a read far past the caller's buffer) and 2^32 + 6 into 6, so anything
// outside 0..0xFFFFFFFF is refused before any I/O.
bool RefusedCount(TARVEKDriverSession& session, ViInt64 nCount, const char* pFunction,
                  ViStatus& status) {
    if (nCount >= 0 && nCount <= static_cast<ViInt64>(0xFFFFFFFFu)) {
        return false;
    }
    status = session.ReportErrorText(IVI_ERROR_INVALID_VALUE,
                                     "The count must be from 0 to 4294967295 (0xFFFFFFFF), the "
                                     "most one VISA transfer takes.",
                                     {std::to_string(nCount), pFunction, "BufferSize"});
    return true;
}

}  // namespace tarvek

extern "C" {

ViStatus _VI_FUNC TARVEK_viWrite(ViSession vi, ViInt64 BufferSize, ViConstBuf Buffer,
                                 ViInt64* ReturnCount) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) {
        if (ViStatus status; tarvek::RefusedCount(session, BufferSize, "TARVEK_viWrite", status) ||
                             tarvek::RefusedInSimulation(session, status)) {
            return status;
        }
        ViUInt32 nWritten = 0;
        const ViStatus status = viWrite(session.GetInstrumentHandle(), Buffer,
                                        static_cast<ViUInt32>(BufferSize), &nWritten);
        if (ReturnCount != nullptr) {
            *ReturnCount = nWritten;
        }
        return status;
    });
}

ViStatus _VI_FUNC TARVEK_viRead(ViSession vi, ViInt64 BufferSize, ViByte Buffer[],
                                ViInt64* ReturnCount) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) {
        if (ViStatus status; tarvek::RefusedCount(session, BufferSize, "TARVEK_viRead", status) ||
                             tarvek::RefusedInSimulation(session, status)) {
            return status;
        }
        ViUInt32 nRead = 0;
        ViStatus status = viRead(session.GetInstrumentHandle(), Buffer,
                                 static_cast<ViUInt32>(BufferSize), &nRead);
        if (ReturnCount != nullptr) {
            *ReturnCount = nRead;
        }
        // A buffer that filled before the message ended: consume and discard
        // the rest, so the next read starts with the next message.
        ViByte scratch[4096];
        while (status == VI_SUCCESS_MAX_CNT) {
            ViUInt32 nDiscarded = 0;
            status = viRead(session.GetInstrumentHandle(), scratch, sizeof scratch, &nDiscarded);
        }
        return status;
    });
}

}  // extern "C"
