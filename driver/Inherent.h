// Reset sequences shared by the inherent functions and initialization.
#pragma once

#include <string>

#include "driver/TARVEKDriverSession.h"

namespace tarvek {

// "*RST" and "*OPC?" under the reset timeout, then the status check.
ViStatus ResetSequence(TARVEKDriverSession& session);
// ResetSequence, then (on success, or always in simulation) the caches emptied.
ViStatus ResetInstrument(TARVEKDriverSession& session);
// The instrument revision reported to callers: "Sim" and the driver revision
// when simulating, else the firmware revision from the identity query.
std::string InstrumentRevision(const TARVEKDriverSession& session);

}  // namespace tarvek
