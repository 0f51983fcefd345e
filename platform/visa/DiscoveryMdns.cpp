// The multicast DNS half of LAN discovery: one-shot DNS-SD queries for the
// service types LAN instruments announce, each instance resolved to an IPv4
// address and port.
//
// The questions go to 224.0.0.251:5353 from an ephemeral port, as one-shot
// ("legacy unicast") queries: every responder answers those at once, by
// unicast to the asking port. A full mDNS querier on port 5353 (Avahi's
// stack, say) would ask by multicast, and responders multicast any record at
// most once a second, so a search shorter than a second would miss every
// instrument that somebody else asked about, or that announced itself, just
// before. Asking one-shot also needs no daemon, no D-Bus and no port 5353,
// which a test network namespace or a machine running avahi-daemon may not
// offer.
//
// The names are encoded and the answers parsed by the C library's resolver
// (ns_name_pton, ns_initparse, ns_parserr, ns_name_uncompress: glibc's
// libresolv, without the resolver's global state), which checks every length
// and every compressed name against the end of the message; a reply it
// refuses is dropped whole. This file only reads the records it hands out,
// and checks each record's data length before reading it.
#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>

#include "Discovery.h"

namespace tkvisa {
namespace {

struct ServiceType {
    const char* pszName;  // the DNS-SD service name, under .local
    LanProtocol eProtocol;
};

constexpr ServiceType kServiceTypes[] = {
    {"_vxi-11._tcp.local", kLanVxi11},
    {"_hislip._tcp.local", kLanHislip},
    {"_scpi-raw._tcp.local", kLanSocket},
    {"_lxi._tcp.local", kLanLxi},
};

constexpr char kMdnsGroup[] = "224.0.0.251";
constexpr std::uint16_t kMdnsPort = 5353;
// A multicast DNS message is at most 9000 bytes; a longer datagram is refused.
constexpr std::size_t kMaxMessage = 9000;

// What one instance of a service has told so far.
struct Instance {
    std::string strName;  // as the PTR record gives it
    LanProtocol eProtocol = kLanVxi11;
    std::uint16_t nPort = 0;
    std::string strHost;     // the SRV record's target
    in_addr source{};        // the address whose reply carried the SRV record
    bool bAskedSrv = false;  // a question for its SRV record went out
    bool bDone = false;      // handed out as a LanService
};

class OneShotBrowse {
  public:
    OneShotBrowse(std::vector<tknet::Address> vecTargets, std::vector<LanService>& vecServices)
        : m_vecTargets(std::move(vecTargets)), m_vecServices(vecServices) {
        std::random_device random;
        m_nFirstId = static_cast<std::uint16_t>(random());
    }

    void Run(const tknet::Deadline& deadline);

  private:
    void Ask(const std::string& strName, int nType);
    void AskTypes();
    void Take(const unsigned char* pMessage, std::size_t nLength, const in_addr& source);
    void Record(const ns_msg& message, const ns_rr& rr, const in_addr& source);
    void Complete();

    std::vector<tknet::Address> m_vecTargets;
    std::vector<LanService>& m_vecServices;
    tknet::Fd m_fd;
    std::uint16_t m_nFirstId = 0;
    std::uint16_t m_nIds = 0;  // ids m_nFirstId .. m_nFirstId + m_nIds - 1 are ours
    std::map<std::string, Instance> m_mapInstances;  // by lower-case instance name
    std::map<std::string, in_addr> m_mapHosts;       // A records, by lower-case host name
};

std::string Lower(std::string strName) {
    std::transform(strName.begin(), strName.end(), strName.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return strName;
}

void OneShotBrowse::Ask(const std::string& strName, int nType) {
    // A header (id, no flags: a standard query without recursion, which mDNS
    // does not have; one question), then the question: the name in wire
    // form as the resolver library encodes it, its type, class IN.
    unsigned char achQuery[NS_HFIXEDSZ + NS_MAXCDNAME + NS_QFIXEDSZ] = {};
    const int nName = ns_name_pton(strName.c_str(), achQuery + NS_HFIXEDSZ, NS_MAXCDNAME);
    if (nName < 0) {
        return;
    }
    const unsigned char* pEnd = achQuery + NS_HFIXEDSZ;
    if (ns_name_skip(&pEnd, achQuery + NS_HFIXEDSZ + NS_MAXCDNAME) < 0) {
        return;
    }
    const std::size_t nNameLength = static_cast<std::size_t>(pEnd - (achQuery + NS_HFIXEDSZ));
    const std::uint16_t nId = static_cast<std::uint16_t>(m_nFirstId + m_nIds);
    m_nIds = static_cast<std::uint16_t>(std::min<int>(m_nIds + 1, 0xFFFF));
    ns_put16(nId, achQuery);
    ns_put16(1, achQuery + 4);  // QDCOUNT
    unsigned char* pQuestion = achQuery + NS_HFIXEDSZ + nNameLength;
    ns_put16(static_cast<unsigned>(nType), pQuestion);
    ns_put16(ns_c_in, pQuestion + 2);
    const std::size_t nLength = NS_HFIXEDSZ + nNameLength + NS_QFIXEDSZ;
    for (const tknet::Address& target : m_vecTargets) {
        if (target.Family() == AF_INET) {
            // Port 0 names an interface by its address: the question goes to
            // the mDNS group out of it (see MulticastTargets()). Any other
            // port names a peer to ask directly.
            const auto* pTarget = reinterpret_cast<const sockaddr_in*>(target.Raw());
            in_addr interface = pTarget->sin_addr;
            sockaddr_in destination = *pTarget;
            if (pTarget->sin_port == 0) {
                ::setsockopt(m_fd.Get(), IPPROTO_IP, IP_MULTICAST_IF, &interface, sizeof interface);
                ::inet_pton(AF_INET, kMdnsGroup, &destination.sin_addr);
                destination.sin_port = htons(kMdnsPort);
            }
            ::sendto(m_fd.Get(), achQuery, nLength, MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
        }
    }
}

void OneShotBrowse::AskTypes() {
    for (const ServiceType& type : kServiceTypes) {
        Ask(type.pszName, ns_t_ptr);
    }
}

void OneShotBrowse::Record(const ns_msg& message, const ns_rr& rr, const in_addr& source) {
    const unsigned char* pData = ns_rr_rdata(rr);
    const std::size_t nData = ns_rr_rdlen(rr);
    char szName[NS_MAXDNAME];
    switch (ns_rr_type(rr)) {
        case ns_t_ptr: {
            const ServiceType* pType = nullptr;
            for (const ServiceType& type : kServiceTypes) {
                if (strcasecmp(ns_rr_name(rr), type.pszName) == 0) {
                    pType = &type;
                }
            }
            if (pType == nullptr || m_mapInstances.size() >= kMaxServicesPerMethod ||
                ns_name_uncompress(ns_msg_base(message), ns_msg_end(message), pData, szName,
                                   sizeof szName) < 0) {
                return;
            }
            Instance& instance = m_mapInstances[Lower(szName)];
            instance.strName = szName;
            instance.eProtocol = pType->eProtocol;
            return;
        }
        case ns_t_srv: {
            // priority, weight, port, then the target's name
            if (nData < 7 || m_mapInstances.size() >= kMaxServicesPerMethod ||
                ns_name_uncompress(ns_msg_base(message), ns_msg_end(message), pData + 6, szName,
                                   sizeof szName) < 0) {
                return;
            }
            const auto it = m_mapInstances.find(Lower(ns_rr_name(rr)));
            if (it != m_mapInstances.end()) {
                it->second.nPort = ns_get16(pData + 4);
                it->second.strHost = Lower(szName);
                it->second.source = source;
            }
            return;
        }
        case ns_t_a:
            if (nData == 4 && m_mapHosts.size() < kMaxServicesPerMethod) {
                in_addr address{};
                std::memcpy(&address, pData, 4);
                m_mapHosts[Lower(ns_rr_name(rr))] = address;
            }
            return;
        default:
            return;
    }
}

void OneShotBrowse::Take(const unsigned char* pMessage, std::size_t nLength,
                         const in_addr& source) {
    ns_msg message{};
    if (ns_initparse(pMessage, static_cast<int>(nLength), &message) < 0 ||
        ns_msg_getflag(message, ns_f_qr) == 0 ||
        static_cast<std::uint16_t>(ns_msg_id(message) - m_nFirstId) >= m_nIds) {
        return;
    }
    // PTR records first, wherever they are, so that the SRV records after
    // them find their instance.
    for (const int nPass : {0, 1}) {
        for (const ns_sect eSection : {ns_s_an, ns_s_ns, ns_s_ar}) {
            const int nCount = ns_msg_count(message, eSection);
            for (int i = 0; i < nCount; ++i) {
                ns_rr rr{};
                if (ns_parserr(&message, eSection, i, &rr) < 0) {
                    return;  // the rest of the message cannot be trusted
                }
                if ((ns_rr_type(rr) == ns_t_ptr) == (nPass == 0)) {
                    Record(message, rr, source);
                }
            }
        }
    }
}

// Hands out every instance whose port and address are known; asks for the
// SRV record of those whose reply did not carry it.
void OneShotBrowse::Complete() {
    for (auto& entry : m_mapInstances) {
        Instance& instance = entry.second;
        if (instance.bDone) {
            continue;
        }
        if (instance.nPort == 0) {
            if (!instance.bAskedSrv) {
                instance.bAskedSrv = true;
                Ask(instance.strName, ns_t_srv);
            }
            continue;
        }
        // The host's A record, else the address that answered for it.
        const auto itHost = m_mapHosts.find(instance.strHost);
        const in_addr address = itHost != m_mapHosts.end() ? itHost->second : instance.source;
        char szAddress[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &address, szAddress, sizeof szAddress);
        instance.bDone = true;
        // The VXI-11 port announced is the portmapper's: the name needs none.
        const std::uint16_t nPort = instance.eProtocol == kLanVxi11 ? 0 : instance.nPort;
        const bool bSeen =
            std::any_of(m_vecServices.begin(), m_vecServices.end(), [&](const LanService& seen) {
                return seen.strAddress == szAddress && seen.eProtocol == instance.eProtocol &&
                       seen.nPort == nPort;
            });
        if (!bSeen && m_vecServices.size() < kMaxServicesPerMethod) {
            m_vecServices.push_back(LanService{szAddress, instance.eProtocol, nPort});
        }
    }
}

void OneShotBrowse::Run(const tknet::Deadline& deadline) {
    if (m_vecTargets.empty()) {
        return;
    }
    m_fd = tknet::Fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!m_fd) {
        return;
    }
    const unsigned char nTtl = 255;
    ::setsockopt(m_fd.Get(), IPPROTO_IP, IP_MULTICAST_TTL, &nTtl, sizeof nTtl);
    ResendSchedule schedule(deadline);
    std::vector<unsigned char> vecMessage(kMaxMessage + 1);
    while (!deadline.Passed()) {
        if (schedule.Due()) {
            AskTypes();
        }
        pollfd poller{m_fd.Get(), POLLIN, 0};
        const int nWaitMs = schedule.WaitMs();
        if (::poll(&poller, 1, nWaitMs) <= 0) {
            continue;
        }
        for (int nBatch = 0; nBatch < 64; ++nBatch) {
            sockaddr_in peer{};
            socklen_t nPeerLength = sizeof peer;
            const ssize_t n =
                ::recvfrom(m_fd.Get(), vecMessage.data(), vecMessage.size(), MSG_TRUNC,
                           reinterpret_cast<sockaddr*>(&peer), &nPeerLength);
            if (n < 0) {
                break;
            }
            if (static_cast<std::size_t>(n) <= kMaxMessage && peer.sin_family == AF_INET) {
                Take(vecMessage.data(), static_cast<std::size_t>(n), peer.sin_addr);
            }
        }
        Complete();
    }
}

}  // namespace

std::vector<tknet::Address> MulticastTargets() {
    // Port 0: the mDNS group, sent out of this interface.
    return InterfaceAddresses(IFF_MULTICAST, false, 0);
}

void BrowseMdns(const std::vector<tknet::Address>& vecTargets, const tknet::Deadline& deadline,
                std::vector<LanService>& vecServices) {
    OneShotBrowse browse(vecTargets, vecServices);
    browse.Run(deadline);
}

}  // namespace tkvisa
