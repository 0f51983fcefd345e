// Raw reads and writes on the instrument session for commands the driver does
// not wrap. Not available in simulation, where there is no instrument session.
#include <algorithm>

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

}  // namespace tarvek

extern "C" {

ViStatus _VI_FUNC TARVEK_viWrite(ViSession vi, ViInt64 BufferSize, ViConstBuf Buffer,
                                 ViInt64* ReturnCount) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) {
        if (ViStatus status; tarvek::RefusedInSimulation(session, status)) {
            return status;
        }
        ViUInt32 nWritten = 0;
        // VISA counts are 32 bits wide; only the low 32 bits reach it.
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
        if (ViStatus status; tarvek::RefusedInSimulation(session, status)) {
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
