// The instrument-specific session: the socket termination rule when opening,
// and the model recognition and family rules of the two supply families.
#pragma once

#include "runtime/session/DriverSession.h"

namespace tarvek {

class TARVEKDriverSession : public drt::DriverSession {
  public:
    explicit TARVEKDriverSession(ViSession vi);

    ViStatus OpenIo() override;
    bool IsModelSupported() const override;
    bool IsModelInFamily(const std::string& strFamily) const override;

    // The I/O trace switch of a session without an instrument connection
    // (simulation), kept so that it reads back as set; see IoTrace.cpp.
    bool m_bIoTraceWithoutConnection = false;
};

}  // namespace tarvek
