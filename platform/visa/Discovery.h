// LAN instrument discovery: which instruments on the networks this machine
// is attached to answer, and through which protocols.
//
// Two methods run at once under one deadline: a VXI-11 portmapper GETPORT
// for the core program sent by UDP to the broadcast address of every IPv4
// interface that is up (an instrument answers with its core port), and
// one-shot multicast DNS (DNS-SD) queries for _vxi-11._tcp, _hislip._tcp,
// _scpi-raw._tcp and _lxi._tcp on every IPv4 interface with multicast. Everything heard is merged
// per address: one instrument offering VXI-11, HiSLIP and a socket is one entry with three resource
// names. Nothing waits past the deadline, whatever the network sends; a reply that does not decode
// is dropped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Deadline.h"
#include "Socket.h"

namespace tkvisa {

// What an instrument offers, as bits of LanInstrument::nProtocols.
enum LanProtocol : unsigned {
    kLanVxi11 = 1u << 0,
    kLanHislip = 1u << 1,
    kLanSocket = 1u << 2,
    kLanLxi = 1u << 3,  // an LXI web server (identification document)
};

// The names of the protocol bits, in bit order: "vxi11", "hislip", "socket", "lxi".
std::vector<std::string> LanProtocolNames(unsigned nProtocols);

// One thing a method heard: a protocol offered at an address.
struct LanService {
    std::string strAddress;  // numeric IPv4 address
    LanProtocol eProtocol = kLanVxi11;
    std::uint16_t nPort = 0;  // the service's port (0: the protocol's usual one)
};

struct LanInstrument {
    std::string strAddress;                 // numeric IPv4 address
    std::vector<std::string> vecResources;  // VISA names, INSTR first, each once
    unsigned nProtocols = 0;                // LanProtocol bits
    std::uint16_t nHttpPort = 0;            // the LXI web server's port, 0 when not offered
};

struct DiscoveryOptions {
    std::uint32_t nTimeoutMs = 1000;
    bool bVxi11 = true;
    bool bMdns = true;
    // Where the portmapper query goes (with each address's port); empty:
    // port 111 at the broadcast address of every IPv4 interface that is up.
    std::vector<tknet::Address> vecVxi11Targets;
    // Where the DNS-SD questions go: an address with port 0 names an
    // interface (the questions go to the mDNS group out of it), any other a
    // peer to ask directly; empty: every IPv4 interface with multicast.
    std::vector<tknet::Address> vecMdnsTargets;
};

// The search's deadline in milliseconds: $TKVISA_DISCOVERY_TIMEOUT_MS when it
// holds a number from 0 to 60000, else 1000. 0 switches LAN discovery off
// (viFindRsrc then sends nothing on the network).
std::uint32_t DiscoveryTimeoutMs();

// Every instrument heard within the options' deadline, ordered by address.
std::vector<LanInstrument> DiscoverLan(const DiscoveryOptions& options);

// The services merged into instruments, one per address, ordered by address.
std::vector<LanInstrument> MergeServices(const std::vector<LanService>& vecServices);

// Appends the resource names of every instrument DiscoverLan hears within
// DiscoveryTimeoutMs(), leaving out those vecNames already holds under any
// spelling of the same resource.
void AddLanResources(std::vector<std::string>& vecNames);

// Whether a resource-search expression can match a TCPIP resource name: the
// literal characters it starts with must agree with "TCPIP". A search that
// cannot match one sends nothing on the network.
bool MayMatchTcpip(const std::string& strExpr);

// The methods, each bounded by the deadline and by a cap on what it keeps;
// they append to vecServices.
void ProbeVxi11(const std::vector<tknet::Address>& vecTargets, const tknet::Deadline& deadline,
                std::vector<LanService>& vecServices);
void BrowseMdns(const std::vector<tknet::Address>& vecTargets, const tknet::Deadline& deadline,
                std::vector<LanService>& vecServices);

// An address of each IPv4 interface that is up, is not loopback and has
// every flag of nFlags (IFF_*): its broadcast address or its own, with nPort;
// each address once.
std::vector<tknet::Address> InterfaceAddresses(unsigned nFlags, bool bBroadcast,
                                               std::uint16_t nPort);
// The broadcast addresses (port 111) of the IPv4 interfaces that are up.
std::vector<tknet::Address> BroadcastTargets();
// The addresses (port 0) of the IPv4 interfaces that are up, with multicast.
std::vector<tknet::Address> MulticastTargets();

// At most this many services are kept per method: a flood of replies costs
// memory no more than this.
constexpr std::size_t kMaxServicesPerMethod = 512;

// When a method sends its query: at once, and again halfway through the
// deadline, for a datagram lost on the way.
class ResendSchedule {
  public:
    explicit ResendSchedule(const tknet::Deadline& deadline);
    // Whether a send is due now; counts it when it is.
    bool Due();
    // How long to wait for replies: until the next send is due, or the deadline.
    int WaitMs() const;

  private:
    static constexpr int kSends = 2;
    const tknet::Deadline& m_deadline;
    std::int64_t m_nStartMs;
    int m_nTotalMs;
    int m_nSent = 0;
    std::int64_t DueAtMs() const;
};

}  // namespace tkvisa
