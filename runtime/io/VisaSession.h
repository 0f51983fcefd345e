// The VISA implementation of IoSession for a session type that keeps the VISA
// handles and options (DriverSession). Simulated sessions never reach VISA.
#pragma once

#include <string>

#include "runtime/io/IoSession.h"
#include "visatype.h"

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

    // The exported-call frame brackets each call with these. Inside a call,
    // formatted commands are held in the VISA write buffer and leave together
    // with the next query or at the end of the outermost call, so a channel
    // select and the command after it are one message on the wire (one
    // VXI-11 device_write, one TCP segment) with the same bytes in the same
    // order. EndCall returns the status of that last flush.
    void BeginCall() { ++m_nCallDepth; }
    ViStatus EndCall();

  private:
    Session& Self() { return static_cast<Session&>(*this); }
    void HoldOutput();

    int m_nCallDepth = 0;
    bool m_bHoldingOutput = false;
    ViUInt16 m_nSavedWriteMode = 0;
};

}  // namespace drt
