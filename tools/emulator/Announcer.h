// How the emulator makes itself found on a LAN, like an LXI instrument: it
// announces its services over multicast DNS (DNS-SD) and serves the LXI
// identification document and a welcome page over HTTP. Both are opt-in
// (tarvek-emulator --announce, --lxi-http): tests on loopback need neither.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace emu {

struct InstrumentIdentity {
    std::string strManufacturer;
    std::string strModel;
    std::string strSerial;
    std::string strFirmware;
};

// Publishes DNS-SD services for one IPv4 address on Avahi's embeddable
// stack, on the interface that holds the address only, under a host name of
// its own ("tarvek-10-20-0-2"), so that several emulators on one network do
// not fight over the machine's name.
class MdnsAnnouncer {
  public:
    MdnsAnnouncer();
    ~MdnsAnnouncer();
    MdnsAnnouncer(const MdnsAnnouncer&) = delete;
    MdnsAnnouncer& operator=(const MdnsAnnouncer&) = delete;

    // Service types ("_hislip._tcp") and their ports. Throws
    // std::runtime_error when the stack cannot start.
    void Start(const std::string& strAddress, const InstrumentIdentity& identity,
               const std::vector<std::pair<std::string, std::uint16_t>>& vecServices);
    // Whether every service passed probing and is announced.
    bool WaitAnnounced(std::chrono::milliseconds timeout);
    void Stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

// The LXI web server: GET /lxi/identification (the LXI identification XML
// document) and GET / (a welcome page), on cpp-httplib.
class LxiWebServer {
  public:
    LxiWebServer();
    ~LxiWebServer();
    LxiWebServer(const LxiWebServer&) = delete;
    LxiWebServer& operator=(const LxiWebServer&) = delete;

    // nPort 0 picks a free port. Throws std::runtime_error when it cannot bind.
    // bHang: every request is accepted and never answered (until Stop), as
    // a web server that hangs.
    void Start(const std::string& strHost, std::uint16_t nPort, const InstrumentIdentity& identity,
               const std::vector<std::string>& vecResources, bool bHang = false);
    std::uint16_t Port() const;
    void Stop();

    // The identification document for this identity and these resources.
    static std::string IdentificationXml(const std::string& strHost,
                                         const InstrumentIdentity& identity,
                                         const std::vector<std::string>& vecResources);

  private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

}  // namespace emu
