// Pieces shared by the instrument functions: the call frame on the driver's
// own session type, the one-exchange pattern most functions follow, the
// function-side model gate and the per-channel configure loop.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "TARVEK.h"
#include "driver/TARVEKDriverSession.h"
#include "runtime/enums/EnumCommandMap.h"
#include "runtime/session/CallFrame.h"

namespace tarvek::functions {

// Runs body(session) under the handle's lock; 0xBFFA1190 for a bad handle.
template <class Body>
ViStatus Call(ViSession vi, Body&& body) {
    return drt::CallLocked<TARVEKDriverSession>(vi, std::forward<Body>(body));
}

// Ends an exchange: an I/O failure unchanged, else the instrument status check.
inline ViStatus FinishExchange(TARVEKDriverSession& session, ViStatus nIoStatus) {
    return nIoStatus < 0 ? nIoStatus : session.CheckStatus();
}

// The body of a function that is one exchange with the instrument: a simulated
// session succeeds at once (nothing is converted or sent); otherwise
// send(session) converts its arguments and talks to the instrument, and a
// successful exchange is followed by the status check.
template <class Send>
ViStatus RunExchange(TARVEKDriverSession& session, Send&& send) {
    if (session.GetSimulate()) {
        return VI_SUCCESS;
    }
    return FinishExchange(session, std::forward<Send>(send)(session));
}

// RunExchange inside the frame.
template <class Send>
ViStatus CallExchange(ViSession vi, Send&& send) {
    return Call(vi, [&](TARVEKDriverSession& session) {
        return RunExchange(session, std::forward<Send>(send));
    });
}

// A function that is one fixed command ("*TRG\n", "OUTP:PROT:CLE\n").
ViStatus SendFixedCommand(ViSession vi, const char* pCommand);

// A function whose command carries one enumerated argument as its word:
// pFormat has one "%s" for the word of nValue in map. A value outside the map
// is the conversion error, and nothing is sent.
ViStatus SendWordCommand(ViSession vi, const char* pFormat, const drt::EnumCommandMap& map,
                         ViInt32 nValue);

// A query of one real value ("MEAS:SCAL:VOLT:DC?\n"); pFunction and pParameter
// name the output in a null-pointer report. Simulation answers 0.0.
ViStatus QueryReal(ViSession vi, const char* pFunction, const char* pParameter, const char* pQuery,
                   ViReal64* pValue);

// The model gate of a function available on some models only. The list of
// refused models and families is parsed once, when the gate is built.
class FunctionGate {
  public:
    FunctionGate(const char* pFunction, const char* pUnsupportedModels);
    ViStatus Check(TARVEKDriverSession& session) const;

  private:
    const char* m_pFunction;
    std::vector<std::string> m_vecUnsupportedModels;
};

// A fixed command behind a model gate; the gate refuses in simulation too.
ViStatus SendGatedCommand(ViSession vi, const FunctionGate& gate, const char* pCommand);

// One attribute write of a configure function.
struct ChannelWrite {
    ViAttr nId;
    std::variant<ViInt32, ViReal64, ViBoolean> value;
};

// The configure loop: resolves the selector to its channels and, for each in
// order, selects it on the instrument and performs the writes in order through
// the typed attribute access with the caller's selector. Stops at the first
// failure. The lock is held from the first selection to the last write.
ViStatus ConfigureChannels(ViSession vi, ViConstString pSelector,
                           std::initializer_list<ChannelWrite> writes);

}  // namespace tarvek::functions
