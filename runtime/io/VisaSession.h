// The VISA implementation of IoSession for a session type that keeps the VISA
// handles and options (DriverSession). Simulated sessions never reach VISA.
#pragma once

#include <string>

#include "runtime/io/IoSession.h"

namespace drt {

template <class Session>
class VisaSession : public IoSession {
  public:
    ViStatus OpenIo() override;
    ViStatus CloseIo() override;
    ViStatus ClearStatus() override;
    ViStatus QueryIdentity(std::string& strManufacturer, std::string& strModel,
                           std::string& strSerialNumber, std::string& strFirmwareRevision) override;
    ViStatus CheckStatus() override;

    // Formatted write and query on the instrument session; the format carries
    // its own line feed. Callers check simulation first.
    ViStatus Printf(const char* pFormat, ...);
    ViStatus Queryf(const char* pCommand, const char* pResponseFormat, ...);

  private:
    Session& Self() { return static_cast<Session&>(*this); }
};

}  // namespace drt
