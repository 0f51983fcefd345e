// LAN discovery: the VXI-11 broadcast probe, the merge of what every method
// heard, and the deadline both methods share. The multicast DNS queries are
// in DiscoveryMdns.cpp.
#include "Discovery.h"

// rpc.h first: the portmapper header relies on its types.
// clang-format off
#include <rpc/rpc.h>
#include <rpc/pmap_prot.h>
// clang-format on

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <strings.h>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <thread>

#include "ResourceName.h"
#include "RpcClient.h"
#include "vxi11.h"

namespace tkvisa {
namespace {

constexpr std::uint16_t kPortmapperPort = 111;
constexpr std::uint16_t kHislipPort = 4880;
constexpr char kTimeoutVariable[] = "TKVISA_DISCOVERY_TIMEOUT_MS";
// A portmapper reply to GETPORT is 28 bytes; anything much longer is not one.
constexpr std::size_t kMaxDatagram = 512;

std::vector<unsigned char> EncodeGetPort(std::uint32_t nXid) {
    std::vector<unsigned char> vecCall(kMaxDatagram);
    XDR xdrs{};
    xdrmem_create(&xdrs, reinterpret_cast<char*>(vecCall.data()),
                  static_cast<u_int>(vecCall.size()), XDR_ENCODE);
    rpc_msg call = tkrpc::CallMessage(nXid, PMAPPROG, PMAPVERS, PMAPPROC_GETPORT);
    pmap query{};
    query.pm_prog = DEVICE_CORE;
    query.pm_vers = DEVICE_CORE_VERSION;
    query.pm_prot = IPPROTO_TCP;
    const bool bEncoded = xdr_callmsg(&xdrs, &call) && xdr_pmap(&xdrs, &query);
    vecCall.resize(bEncoded ? xdr_getpos(&xdrs) : 0);
    xdr_destroy(&xdrs);
    return vecCall;
}

// The core port a GETPORT reply to nXid names, or 0 for anything else (a
// reply to another call, a refusal, a port of 0 or above 65535, trailing
// bytes, bytes that do not decode).
std::uint16_t DecodeGetPortReply(const unsigned char* pData, std::size_t nLength,
                                 std::uint32_t nXid) {
    XDR xdrs{};
    xdrmem_create(&xdrs, reinterpret_cast<char*>(const_cast<unsigned char*>(pData)),
                  static_cast<u_int>(nLength), XDR_DECODE);
    char achVerifier[MAX_AUTH_BYTES];
    u_long nPort = 0;
    rpc_msg reply{};
    reply.acpted_rply.ar_verf.oa_base = achVerifier;
    reply.acpted_rply.ar_results.where = reinterpret_cast<caddr_t>(&nPort);
    reply.acpted_rply.ar_results.proc = reinterpret_cast<xdrproc_t>(xdr_u_long);
    const bool bDecoded = xdr_replymsg(&xdrs, &reply) == TRUE;
    // Whole: xid, direction, reply status, verifier (flavour, length, bytes
    // padded to 4), accept status, port; nothing after it. Counted from the
    // verifier's length rather than asked of the stream, which a sanitizer's
    // XDR interceptors may answer for another XDR implementation.
    const std::size_t nWhole =
        6 * BYTES_PER_XDR_UNIT + RNDUP(reply.acpted_rply.ar_verf.oa_length) + BYTES_PER_XDR_UNIT;
    const bool bGood = bDecoded && reply.rm_xid == nXid && reply.rm_direction == REPLY &&
                       reply.rm_reply.rp_stat == MSG_ACCEPTED &&
                       reply.acpted_rply.ar_stat == SUCCESS && nLength == nWhole;
    xdr_destroy(&xdrs);
    return bGood && nPort > 0 && nPort <= 0xFFFF ? static_cast<std::uint16_t>(nPort) : 0;
}

std::string ResourceOf(const LanService& service) {
    switch (service.eProtocol) {
        case kLanVxi11:
            return "TCPIP::" + service.strAddress + "::INSTR";
        case kLanHislip:
            return "TCPIP::" + service.strAddress + "::hislip0" +
                   (service.nPort != 0 && service.nPort != kHislipPort
                        ? "," + std::to_string(service.nPort)
                        : std::string()) +
                   "::INSTR";
        case kLanSocket:
            return service.nPort != 0 ? "TCPIP::" + service.strAddress +
                                            "::" + std::to_string(service.nPort) + "::SOCKET"
                                      : std::string();
        case kLanLxi:
            break;
    }
    return std::string();
}

// Addresses order numerically, so that 10.0.0.9 comes before 10.0.0.10.
bool AddressLess(const std::string& strA, const std::string& strB) {
    in_addr a{};
    in_addr b{};
    if (::inet_pton(AF_INET, strA.c_str(), &a) == 1 &&
        ::inet_pton(AF_INET, strB.c_str(), &b) == 1) {
        return ntohl(a.s_addr) < ntohl(b.s_addr);
    }
    return strA < strB;
}

}  // namespace

std::vector<std::string> LanProtocolNames(unsigned nProtocols) {
    static const char* const kNames[] = {"vxi11", "hislip", "socket", "lxi"};
    std::vector<std::string> vecNames;
    for (unsigned i = 0; i < std::size(kNames); ++i) {
        if ((nProtocols & (1u << i)) != 0) {
            vecNames.emplace_back(kNames[i]);
        }
    }
    return vecNames;
}

std::uint32_t DiscoveryTimeoutMs() {
    const char* pszValue = std::getenv(kTimeoutVariable);
    if (pszValue != nullptr && *pszValue != '\0') {
        char* pEnd = nullptr;
        const long nValue = std::strtol(pszValue, &pEnd, 10);
        if (*pEnd == '\0' && nValue >= 0 && nValue <= 60000) {
            return static_cast<std::uint32_t>(nValue);
        }
    }
    return 1000;
}

bool MayMatchTcpip(const std::string& strExpr) {
    if (strExpr.find('|') != std::string::npos) {
        return true;  // alternatives: too many ways to start
    }
    std::string strPrefix;
    for (std::size_t i = 0; i < strExpr.size(); ++i) {
        char c = strExpr[i];
        if (c == '\\' && i + 1 < strExpr.size()) {
            c = strExpr[++i];
        } else if (std::strchr("?*+[({", c) != nullptr) {
            break;
        }
        // A character that * may repeat zero times is not a sure prefix.
        if (i + 1 < strExpr.size() && strExpr[i + 1] == '*') {
            break;
        }
        strPrefix += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const std::string strTcpip = "TCPIP";
    const std::size_t nCommon = std::min(strPrefix.size(), strTcpip.size());
    return strPrefix.compare(0, nCommon, strTcpip, 0, nCommon) == 0;
}

std::vector<LanInstrument> MergeServices(const std::vector<LanService>& vecServices) {
    std::map<std::string, LanInstrument, bool (*)(const std::string&, const std::string&)>
        mapByAddress(AddressLess);
    for (const LanService& service : vecServices) {
        LanInstrument& instrument = mapByAddress[service.strAddress];
        instrument.strAddress = service.strAddress;
        instrument.nProtocols |= service.eProtocol;
        if (service.eProtocol == kLanLxi) {
            instrument.nHttpPort = service.nPort != 0 ? service.nPort : 80;
        }
        const std::string strName = ResourceOf(service);
        if (!strName.empty() &&
            std::find(instrument.vecResources.begin(), instrument.vecResources.end(), strName) ==
                instrument.vecResources.end()) {
            instrument.vecResources.push_back(strName);
        }
    }
    std::vector<LanInstrument> vecInstruments;
    for (auto& [strAddress, instrument] : mapByAddress) {
        // INSTR before SOCKET; VXI-11's name before HiSLIP's.
        std::stable_sort(instrument.vecResources.begin(), instrument.vecResources.end(),
                         [](const std::string& a, const std::string& b) {
                             const bool bSocketA = a.ends_with("SOCKET");
                             const bool bSocketB = b.ends_with("SOCKET");
                             if (bSocketA != bSocketB) {
                                 return bSocketB;
                             }
                             return a.find("hislip") == std::string::npos &&
                                    b.find("hislip") != std::string::npos;
                         });
        vecInstruments.push_back(std::move(instrument));
    }
    return vecInstruments;
}

std::vector<tknet::Address> InterfaceAddresses(unsigned nFlags, bool bBroadcast,
                                               std::uint16_t nPort) {
    std::vector<tknet::Address> vecTargets;
    ifaddrs* pList = nullptr;
    if (::getifaddrs(&pList) != 0) {
        return vecTargets;
    }
    for (const ifaddrs* p = pList; p != nullptr; p = p->ifa_next) {
        const sockaddr* pAddress = bBroadcast ? p->ifa_broadaddr : p->ifa_addr;
        if (p->ifa_addr == nullptr || p->ifa_addr->sa_family != AF_INET ||
            (p->ifa_flags & IFF_UP) == 0 || (p->ifa_flags & nFlags) != nFlags ||
            (p->ifa_flags & IFF_LOOPBACK) != 0 || pAddress == nullptr) {
            continue;
        }
        tknet::Address target;
        auto* pIn = reinterpret_cast<sockaddr_in*>(&target.storage);
        *pIn = *reinterpret_cast<const sockaddr_in*>(pAddress);
        pIn->sin_family = AF_INET;
        pIn->sin_port = htons(nPort);
        target.nLength = sizeof(sockaddr_in);
        if (std::none_of(vecTargets.begin(), vecTargets.end(),
                         [&](const tknet::Address& seen) { return seen.SameHost(target); })) {
            vecTargets.push_back(target);
        }
    }
    ::freeifaddrs(pList);
    return vecTargets;
}

std::vector<tknet::Address> BroadcastTargets() {
    return InterfaceAddresses(IFF_BROADCAST, true, kPortmapperPort);
}

void ProbeVxi11(const std::vector<tknet::Address>& vecTargets, const tknet::Deadline& deadline,
                std::vector<LanService>& vecServices) {
    if (vecTargets.empty()) {
        return;
    }
    tknet::Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) {
        return;
    }
    const int nOne = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_BROADCAST, &nOne, sizeof nOne);
    std::random_device random;
    const std::uint32_t nXid = random();
    const std::vector<unsigned char> vecCall = EncodeGetPort(nXid);
    if (vecCall.empty()) {
        return;
    }
    ResendSchedule schedule(deadline);
    std::vector<std::string> vecHeard;
    unsigned char achReply[kMaxDatagram + 1];
    for (;;) {
        if (schedule.Due()) {
            for (const tknet::Address& target : vecTargets) {
                ::sendto(fd.Get(), vecCall.data(), vecCall.size(), MSG_NOSIGNAL, target.Raw(),
                         target.nLength);
            }
        }
        const int nWaitMs = schedule.WaitMs();
        if (deadline.Passed()) {
            return;
        }
        pollfd poller{fd.Get(), POLLIN, 0};
        if (::poll(&poller, 1, nWaitMs) <= 0) {
            continue;
        }
        // Drain what came; a datagram longer than any reply is truncated by
        // the kernel to the buffer and refused by its length.
        for (int nBatch = 0; nBatch < 64; ++nBatch) {
            sockaddr_in peer{};
            socklen_t nPeerLength = sizeof peer;
            const ssize_t n = ::recvfrom(fd.Get(), achReply, sizeof achReply, MSG_TRUNC,
                                         reinterpret_cast<sockaddr*>(&peer), &nPeerLength);
            if (n < 0) {
                break;
            }
            if (static_cast<std::size_t>(n) > kMaxDatagram || peer.sin_family != AF_INET ||
                DecodeGetPortReply(achReply, static_cast<std::size_t>(n), nXid) == 0) {
                continue;
            }
            char szHost[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &peer.sin_addr, szHost, sizeof szHost);
            if (std::find(vecHeard.begin(), vecHeard.end(), szHost) == vecHeard.end() &&
                vecHeard.size() < kMaxServicesPerMethod) {
                vecHeard.emplace_back(szHost);
                vecServices.push_back(LanService{szHost, kLanVxi11, 0});
            }
        }
    }
}

std::vector<LanInstrument> DiscoverLan(const DiscoveryOptions& options) {
    // A search always ends: at most a minute, never "infinite".
    const tknet::Deadline deadline(std::min<std::uint32_t>(options.nTimeoutMs, 60000));
    deadline.Start();
    std::vector<LanService> vecVxi11;
    std::vector<LanService> vecMdns;
    std::thread threadMdns;
    if (options.bMdns) {
        threadMdns = std::thread([&] {
            BrowseMdns(options.vecMdnsTargets.empty() ? MulticastTargets() : options.vecMdnsTargets,
                       deadline, vecMdns);
        });
    }
    if (options.bVxi11) {
        ProbeVxi11(options.vecVxi11Targets.empty() ? BroadcastTargets() : options.vecVxi11Targets,
                   deadline, vecVxi11);
    }
    if (threadMdns.joinable()) {
        threadMdns.join();
    }
    vecVxi11.insert(vecVxi11.end(), vecMdns.begin(), vecMdns.end());
    return MergeServices(vecVxi11);
}

void AddLanResources(std::vector<std::string>& vecNames) {
    auto Canonical = [](const std::string& strName) {
        ResourceName resource;
        return ParseResourceName(strName, resource) == VI_SUCCESS ? resource.strCanonical : strName;
    };
    std::vector<std::string> vecSeen;
    for (const std::string& strName : vecNames) {
        vecSeen.push_back(Canonical(strName));
    }
    DiscoveryOptions options;
    options.nTimeoutMs = DiscoveryTimeoutMs();
    if (options.nTimeoutMs == 0) {
        return;  // LAN discovery switched off
    }
    for (const LanInstrument& instrument : DiscoverLan(options)) {
        for (const std::string& strName : instrument.vecResources) {
            const std::string strCanonical = Canonical(strName);
            if (std::none_of(vecSeen.begin(), vecSeen.end(), [&](const std::string& strSeen) {
                    return strcasecmp(strSeen.c_str(), strCanonical.c_str()) == 0;
                })) {
                vecSeen.push_back(strCanonical);
                vecNames.push_back(strName);
            }
        }
    }
}

ResendSchedule::ResendSchedule(const tknet::Deadline& deadline)
    : m_deadline(deadline), m_nStartMs(tknet::NowMs()), m_nTotalMs(deadline.RemainingMs()) {}

std::int64_t ResendSchedule::DueAtMs() const {
    return m_nStartMs + static_cast<std::int64_t>(m_nTotalMs) * m_nSent / (2 * kSends);
}

bool ResendSchedule::Due() {
    if (m_nSent >= kSends || tknet::NowMs() < DueAtMs()) {
        return false;
    }
    ++m_nSent;
    return true;
}

int ResendSchedule::WaitMs() const {
    if (m_nSent >= kSends) {
        return m_deadline.RemainingMs();
    }
    const std::int64_t nUntilMs = DueAtMs() - tknet::NowMs();
    return m_deadline.RemainingMsAtMost(static_cast<int>(std::max<std::int64_t>(nUntilMs, 1)));
}

}  // namespace tkvisa
