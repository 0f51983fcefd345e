// The emulator's HiSLIP server: one TCP port that takes each session's
// synchronous and asynchronous channels, serving one emulated instrument to
// any number of sessions, with exclusive and shared locks between them.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "Vxi11Server.h"

namespace emu {

class HislipServer {
  public:
    // The server uses the same view of the instrument as the VXI-11 server.
    explicit HislipServer(Vxi11Backend& backend);
    ~HislipServer();
    HislipServer(const HislipServer&) = delete;
    HislipServer& operator=(const HislipServer&) = delete;

    // Binds host:nPort (0: an ephemeral port); throws std::runtime_error.
    void Start(const std::string& strHost, unsigned short nPort);
    void Stop();

    unsigned short Port() const;
    std::size_t SessionCount() const;

    // Fault injection: the next Data, DataEND or Trigger message of any
    // session is answered with an Error message of this code instead of
    // being served, or with a FatalError after which the server closes both
    // channels of the session.
    void InjectError(int nCode, bool bFatal);
    // Sends AsyncServiceRequest with the status byte to every session.
    void RequestService(int nStatusByte);

  private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

}  // namespace emu
