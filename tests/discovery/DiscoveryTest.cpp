// LAN discovery against scripted peers on loopback: the VXI-11 GETPORT probe
// and the one-shot DNS-SD queries, each sent straight to a UDP peer of our
// own that answers with a row of a table (good, garbage, truncated,
// oversized, lying about lengths, other ids, floods). Whatever the peer
// sends, the search returns within its deadline with the good answers only.
// Also: which search expressions may touch the network, and the merge.
#include <gtest/gtest.h>

// clang-format off
#include <rpc/rpc.h>
#include <rpc/pmap_prot.h>
// clang-format on

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netinet/in.h>
#include <poll.h>
#include <resolv.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Discovery.h"
#include "RpcClient.h"

namespace {

using Bytes = std::vector<unsigned char>;
using tkvisa::LanService;

constexpr std::uint32_t kDeadlineMs = 300;
// What a search may take past its deadline: joining, the last poll's wake.
constexpr auto kMargin = std::chrono::milliseconds(250);

// A UDP peer on 127.0.0.1: every datagram it receives is handed to the
// script, and each datagram the script returns is sent back to the sender.
class ScriptedPeer {
  public:
    using Script = std::function<std::vector<Bytes>(const Bytes&)>;

    explicit ScriptedPeer(Script script) : m_script(std::move(script)) {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t nLength = sizeof address;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &nLength);
        m_target.storage = {};
        std::memcpy(&m_target.storage, &address, sizeof address);
        m_target.nLength = sizeof address;
        m_thread = std::thread([this] { Serve(); });
    }
    ~ScriptedPeer() {
        m_bStop = true;
        m_thread.join();
        ::close(m_fd);
    }
    const tknet::Address& Target() const { return m_target; }
    std::vector<Bytes> Received() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_vecReceived;
    }

  private:
    void Serve() {
        std::vector<unsigned char> buffer(65536);
        while (!m_bStop) {
            pollfd poller{m_fd, POLLIN, 0};
            if (::poll(&poller, 1, 20) <= 0) {
                continue;
            }
            sockaddr_in peer{};
            socklen_t nPeer = sizeof peer;
            const ssize_t n = ::recvfrom(m_fd, buffer.data(), buffer.size(), 0,
                                         reinterpret_cast<sockaddr*>(&peer), &nPeer);
            if (n <= 0) {
                continue;
            }
            const Bytes query(buffer.begin(), buffer.begin() + n);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_vecReceived.push_back(query);
            }
            for (const Bytes& reply : m_script(query)) {
                ::sendto(m_fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&peer),
                         nPeer);
            }
        }
    }

    Script m_script;
    int m_fd = -1;
    tknet::Address m_target;
    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    mutable std::mutex m_mutex;
    std::vector<Bytes> m_vecReceived;
};

template <typename Search>
std::vector<LanService> TimedSearch(Search search) {
    std::vector<LanService> vecServices;
    const tknet::Deadline deadline(kDeadlineMs);
    deadline.Start();
    const auto start = std::chrono::steady_clock::now();
    search(deadline, vecServices);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(kDeadlineMs) + kMargin);
    return vecServices;
}

// Runs each row's search on a thread of its own, all at once.
std::vector<std::vector<LanService>> RunRows(
    std::size_t nRows, const std::function<std::vector<LanService>(std::size_t)>& run) {
    std::vector<std::vector<LanService>> vecResults(nRows);
    std::vector<std::thread> vecThreads;
    for (std::size_t i = 0; i < nRows; ++i) {
        vecThreads.emplace_back([&, i] { vecResults[i] = run(i); });
    }
    for (std::thread& thread : vecThreads) {
        thread.join();
    }
    return vecResults;
}

// ----- VXI-11 -------------------------------------------------------------

std::uint32_t XidOf(const Bytes& call) {
    return call.size() >= 4 ? (std::uint32_t{call[0]} << 24 | std::uint32_t{call[1]} << 16 |
                               std::uint32_t{call[2]} << 8 | call[3])
                            : 0;
}

Bytes GetPortReply(std::uint32_t nXid, u_long nPort) {
    Bytes reply(64);
    XDR xdrs{};
    xdrmem_create(&xdrs, reinterpret_cast<char*>(reply.data()), static_cast<u_int>(reply.size()),
                  XDR_ENCODE);
    rpc_msg message = tkrpc::AcceptedReply(nXid, reinterpret_cast<xdrproc_t>(xdr_u_long), &nPort);
    EXPECT_TRUE(xdr_replymsg(&xdrs, &message));
    reply.resize(xdr_getpos(&xdrs));
    xdr_destroy(&xdrs);
    return reply;
}

Bytes With(Bytes bytes, std::size_t nOffset, std::uint32_t nValue) {
    for (int i = 0; i < 4; ++i) {
        bytes.at(nOffset + static_cast<std::size_t>(i)) =
            static_cast<unsigned char>(nValue >> (24 - 8 * i));
    }
    return bytes;
}

struct Vxi11Row {
    const char* pszName;
    std::function<std::vector<Bytes>(std::uint32_t nXid)> replies;
    std::size_t nExpected;
};

TEST(DiscoveryVxi11, TakesOnlyWellFormedRepliesToItsOwnCallWithinTheDeadline) {
    // Offsets in a reply: xid 0, direction 4, reply status 8, verifier 12..19,
    // accept status 20, port 24.
    const std::vector<Vxi11Row> rows = {
        {"good", [](std::uint32_t x) { return std::vector<Bytes>{GetPortReply(x, 1024)}; }, 1},
        {"good, repeated",
         [](std::uint32_t x) { return std::vector<Bytes>(20, GetPortReply(x, 1024)); }, 1},
        {"silence", [](std::uint32_t) { return std::vector<Bytes>{}; }, 0},
        {"garbage", [](std::uint32_t) { return std::vector<Bytes>{Bytes(40, 0xFF)}; }, 0},
        {"truncated",
         [](std::uint32_t x) {
             Bytes b = GetPortReply(x, 1024);
             b.resize(10);
             return std::vector<Bytes>{b};
         },
         0},
        {"cut inside the port",
         [](std::uint32_t x) {
             Bytes b = GetPortReply(x, 1024);
             b.resize(b.size() - 2);
             return std::vector<Bytes>{b};
         },
         0},
        {"trailing bytes",
         [](std::uint32_t x) {
             Bytes b = GetPortReply(x, 1024);
             b.resize(b.size() + 4);
             return std::vector<Bytes>{b};
         },
         0},
        {"oversized",
         [](std::uint32_t x) {
             Bytes b = GetPortReply(x, 1024);
             b.resize(60000);
             return std::vector<Bytes>{b};
         },
         0},
        {"another call's id",
         [](std::uint32_t x) { return std::vector<Bytes>{GetPortReply(x ^ 1, 1024)}; }, 0},
        {"port 0", [](std::uint32_t x) { return std::vector<Bytes>{GetPortReply(x, 0)}; }, 0},
        {"port above 65535",
         [](std::uint32_t x) { return std::vector<Bytes>{GetPortReply(x, 70000)}; }, 0},
        {"program unavailable",
         [](std::uint32_t x) {
             return std::vector<Bytes>{With(GetPortReply(x, 1024), 20, PROG_UNAVAIL)};
         },
         0},
        {"denied",
         [](std::uint32_t x) {
             return std::vector<Bytes>{With(GetPortReply(x, 1024), 8, MSG_DENIED)};
         },
         0},
        {"a call, not a reply",
         [](std::uint32_t x) { return std::vector<Bytes>{With(GetPortReply(x, 1024), 4, CALL)}; },
         0},
        {"verifier length lies",
         [](std::uint32_t x) {
             return std::vector<Bytes>{With(GetPortReply(x, 1024), 16, 0x7FFFFFF0)};
         },
         0},
        // The good reply comes first: a flood may fill the socket's buffer
        // and crowd out what comes after it, as on any UDP socket.
        {"good, then a flood",
         [](std::uint32_t x) {
             std::vector<Bytes> v(3000, GetPortReply(x ^ 2, 1024));
             v.insert(v.begin(), GetPortReply(x, 1024));
             return v;
         },
         1},
    };
    // The rows run at once, each against a peer of its own.
    const std::vector<std::vector<LanService>> vecResults =
        RunRows(rows.size(), [&](std::size_t i) {
            ScriptedPeer peer([&](const Bytes& call) { return rows[i].replies(XidOf(call)); });
            return TimedSearch(
                [&](const tknet::Deadline& deadline, std::vector<LanService>& vecOut) {
                    tkvisa::ProbeVxi11({peer.Target()}, deadline, vecOut);
                });
        });
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Vxi11Row& row = rows[i];
        SCOPED_TRACE(row.pszName);
        const std::vector<LanService>& vecFound = vecResults[i];
        ASSERT_EQ(vecFound.size(), row.nExpected);
        if (row.nExpected == 1) {
            EXPECT_EQ(vecFound[0].strAddress, "127.0.0.1");
            EXPECT_EQ(vecFound[0].eProtocol, tkvisa::kLanVxi11);
        }
    }
}

TEST(DiscoveryVxi11, AsksThePortmapperForTheCoreProgramOverTcp) {
    ScriptedPeer peer([](const Bytes&) { return std::vector<Bytes>{}; });
    TimedSearch([&](const tknet::Deadline& deadline, std::vector<LanService>& vecOut) {
        tkvisa::ProbeVxi11({peer.Target()}, deadline, vecOut);
    });
    const std::vector<Bytes> vecCalls = peer.Received();
    ASSERT_FALSE(vecCalls.empty());
    // xid, CALL, RPC version 2, portmapper 100000 v2 GETPORT, no credentials
    // or verifier, then the query: program 0x0607AF, version 1, TCP, port 0.
    const Bytes& call = vecCalls[0];
    const Bytes expected = {
        0, 0, 0, 2,    0, 1, 0x86, 0xA0, 0, 0, 0, 2, 0, 0, 0, 3,   // RPC v2, portmapper v2 GETPORT
        0, 0, 0, 0,    0, 0, 0,    0,    0, 0, 0, 0, 0, 0, 0, 0,   // no credentials, no verifier
        0, 6, 7, 0xAF, 0, 0, 0,    1,    0, 0, 0, 6, 0, 0, 0, 0};  // core v1, TCP, port 0
    ASSERT_EQ(call.size(), 4 + 4 + expected.size());
    EXPECT_EQ(Bytes(call.begin() + 4, call.begin() + 8), (Bytes{0, 0, 0, 0}));  // CALL
    EXPECT_EQ(Bytes(call.begin() + 8, call.end()), expected);
    // Every copy of the question carries the same id.
    for (const Bytes& again : vecCalls) {
        EXPECT_EQ(XidOf(again), XidOf(call));
    }
}

// ----- DNS-SD -------------------------------------------------------------

// DNS message pieces for the scripted responder.
Bytes Name(const std::string& strName) {
    Bytes bytes;
    std::size_t nStart = 0;
    while (nStart < strName.size()) {
        std::size_t nDot = strName.find('.', nStart);
        if (nDot == std::string::npos) {
            nDot = strName.size();
        }
        bytes.push_back(static_cast<unsigned char>(nDot - nStart));
        bytes.insert(bytes.end(), strName.begin() + static_cast<long>(nStart),
                     strName.begin() + static_cast<long>(nDot));
        nStart = nDot + 1;
    }
    bytes.push_back(0);
    return bytes;
}

void Put16(Bytes& bytes, unsigned nValue) {
    bytes.push_back(static_cast<unsigned char>(nValue >> 8));
    bytes.push_back(static_cast<unsigned char>(nValue & 0xFF));
}

Bytes Record(const std::string& strOwner, unsigned nType, const Bytes& data,
             int nLyingLength = -1) {
    Bytes bytes = Name(strOwner);
    Put16(bytes, nType);
    Put16(bytes, 0x8001);  // IN, cache flush
    Put16(bytes, 0);
    Put16(bytes, 120);  // TTL
    Put16(bytes, nLyingLength >= 0 ? static_cast<unsigned>(nLyingLength)
                                   : static_cast<unsigned>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

Bytes Message(const Bytes& query, unsigned nAnswers, const std::vector<Bytes>& vecRecords,
              unsigned nFlags = 0x8400) {
    Bytes bytes = {query.at(0), query.at(1)};
    Put16(bytes, nFlags);
    Put16(bytes, 0);
    Put16(bytes, nAnswers);
    Put16(bytes, 0);
    Put16(bytes, 0);
    for (const Bytes& record : vecRecords) {
        bytes.insert(bytes.end(), record.begin(), record.end());
    }
    return bytes;
}

const std::string kInstance = "Norvale 6313 SN1._hislip._tcp.local";
const char kInstanceText[] = "Norvale\\0326313\\032SN1._hislip._tcp.local";

Bytes Ptr() {
    return Record("_hislip._tcp.local", ns_t_ptr, Name(kInstance));
}
Bytes Srv(unsigned nPort = 4881) {
    Bytes data;
    Put16(data, 0);
    Put16(data, 0);
    Put16(data, nPort);
    const Bytes target = Name("bench-psu.local");
    data.insert(data.end(), target.begin(), target.end());
    return Record(kInstance, ns_t_srv, data);
}
Bytes A() {
    return Record("bench-psu.local", ns_t_a, Bytes{127, 0, 0, 1});
}

// The question's name and type (the resolver library parses the query).
std::pair<std::string, int> QuestionOf(const Bytes& query) {
    ns_msg message{};
    ns_rr rr{};
    if (ns_initparse(query.data(), static_cast<int>(query.size()), &message) < 0 ||
        ns_parserr(&message, ns_s_qd, 0, &rr) < 0) {
        return {"", 0};
    }
    return {ns_rr_name(rr), ns_rr_type(rr)};
}

struct MdnsRow {
    const char* pszName;
    std::function<std::vector<Bytes>(const Bytes& query, const std::string& strName, int nType)>
        replies;
    std::size_t nExpected;
};

TEST(DiscoveryMdns, TakesOnlyWellFormedAnswersToItsOwnQuestionsWithinTheDeadline) {
    using V = std::vector<Bytes>;
    const auto OnHislip = [](const std::string& strName, int nType) {
        return strName == "_hislip._tcp.local" && nType == ns_t_ptr;
    };
    const std::vector<MdnsRow> rows = {
        {"all in one answer",
         [&](const Bytes& q, const std::string& n, int t) {
             return OnHislip(n, t) ? V{Message(q, 3, {Ptr(), Srv(), A()})} : V{};
         },
         1},
        {"PTR only, SRV asked for",
         [&](const Bytes& q, const std::string& n, int t) {
             if (OnHislip(n, t)) {
                 return V{Message(q, 1, {Ptr()})};
             }
             // The name as the resolver library prints it: spaces escaped.
             return t == ns_t_srv && strcasecmp(n.c_str(), kInstanceText) == 0
                        ? V{Message(q, 2, {Srv(), A()})}
                        : V{};
         },
         1},
        {"no A record: the address that answered",
         [&](const Bytes& q, const std::string& n, int t) {
             return OnHislip(n, t) ? V{Message(q, 2, {Ptr(), Srv()})} : V{};
         },
         1},
        {"silence", [](const Bytes&, const std::string&, int) { return V{}; }, 0},
        {"another id",
         [&](const Bytes& q, const std::string& n, int t) {
             Bytes other = q;
             other[1] ^= 0x55;
             return OnHislip(n, t) ? V{Message(other, 3, {Ptr(), Srv(), A()})} : V{};
         },
         0},
        {"a question, not an answer",
         [&](const Bytes& q, const std::string& n, int t) {
             return OnHislip(n, t) ? V{Message(q, 3, {Ptr(), Srv(), A()}, 0x0000)} : V{};
         },
         0},
        {"record length past the end",
         [&](const Bytes& q, const std::string& n, int t) {
             return OnHislip(n, t)
                        ? V{Message(q, 3,
                                    {Ptr(), Srv(),
                                     Record("bench-psu.local", ns_t_a, {127, 0, 0, 1}, 65535)})}
                        : V{};
         },
         0},
        {"more records promised than sent",
         [&](const Bytes& q, const std::string& n, int t) {
             return OnHislip(n, t) ? V{Message(q, 50, {Ptr()})} : V{};
         },
         0},
        {"name pointer loop",
         [&](const Bytes& q, const std::string& n, int t) {
             Bytes loop = {0xC0, 12};  // points at itself
             Put16(loop, ns_t_ptr);
             Put16(loop, 1);
             Put16(loop, 0);
             Put16(loop, 120);
             Put16(loop, 2);
             loop.insert(loop.end(), {0xC0, 12});
             return OnHislip(n, t) ? V{Message(q, 1, {loop})} : V{};
         },
         0},
        {"label past the end",
         [&](const Bytes& q, const std::string& n, int t) {
             return OnHislip(n, t) ? V{Message(q, 1, {Bytes{0x3F, 'a', 'b'}})} : V{};
         },
         0},
        {"SRV too short",
         [&](const Bytes& q, const std::string& n, int t) {
             return OnHislip(n, t)
                        ? V{Message(q, 2, {Ptr(), Record(kInstance, ns_t_srv, {0, 0, 0})})}
                        : V{};
         },
         0},
        {"A record of 16 bytes",
         [&](const Bytes& q, const std::string& n, int t) {
             // The address falls back to the one that answered.
             return OnHislip(n, t) ? V{Message(q, 3,
                                               {Ptr(), Srv(),
                                                Record("bench-psu.local", ns_t_a, Bytes(16, 1))})}
                                   : V{};
         },
         1},
        {"header only",
         [](const Bytes& q, const std::string&, int) { return V{Bytes(q.begin(), q.begin() + 6)}; },
         0},
        {"oversized",
         [&](const Bytes& q, const std::string& n, int t) {
             Bytes big = Message(q, 3, {Ptr(), Srv(), A()});
             big.resize(9001);
             return OnHislip(n, t) ? V{big} : V{};
         },
         0},
        {"good, then a flood",
         [&](const Bytes& q, const std::string& n, int t) {
             if (!OnHislip(n, t)) {
                 return V{};
             }
             V v(3000, Message(q, 50, {Ptr()}));
             v.insert(v.begin(), Message(q, 3, {Ptr(), Srv(), A()}));
             return v;
         },
         1},
    };
    const std::vector<std::vector<LanService>> vecResults =
        RunRows(rows.size(), [&](std::size_t i) {
            ScriptedPeer peer([&](const Bytes& query) {
                const auto [strName, nType] = QuestionOf(query);
                return rows[i].replies(query, strName, nType);
            });
            return TimedSearch(
                [&](const tknet::Deadline& deadline, std::vector<LanService>& vecOut) {
                    tkvisa::BrowseMdns({peer.Target()}, deadline, vecOut);
                });
        });
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const MdnsRow& row = rows[i];
        SCOPED_TRACE(row.pszName);
        const std::vector<LanService>& vecFound = vecResults[i];
        ASSERT_EQ(vecFound.size(), row.nExpected);
        if (row.nExpected == 1) {
            EXPECT_EQ(vecFound[0].strAddress, "127.0.0.1");
            EXPECT_EQ(vecFound[0].eProtocol, tkvisa::kLanHislip);
            EXPECT_EQ(vecFound[0].nPort, 4881);
        }
    }
}

TEST(DiscoveryMdns, AsksOneQuestionPerServiceTypeWithoutRecursion) {
    ScriptedPeer peer([](const Bytes&) { return std::vector<Bytes>{}; });
    TimedSearch([&](const tknet::Deadline& deadline, std::vector<LanService>& vecOut) {
        tkvisa::BrowseMdns({peer.Target()}, deadline, vecOut);
    });
    std::vector<std::string> vecAsked;
    for (const Bytes& query : peer.Received()) {
        ASSERT_GE(query.size(), 12u);
        EXPECT_EQ(query[2] & 0x81, 0);  // a query, no recursion
        const auto [strName, nType] = QuestionOf(query);
        EXPECT_EQ(nType, ns_t_ptr);
        if (std::find(vecAsked.begin(), vecAsked.end(), strName) == vecAsked.end()) {
            vecAsked.push_back(strName);
        }
    }
    EXPECT_EQ(vecAsked, (std::vector<std::string>{"_vxi-11._tcp.local", "_hislip._tcp.local",
                                                  "_scpi-raw._tcp.local", "_lxi._tcp.local"}));
}

TEST(DiscoveryLan, RunsBothMethodsAtOnceAndMergesWhatTheyHeardPerAddress) {
    ScriptedPeer vxi11(
        [](const Bytes& call) { return std::vector<Bytes>{GetPortReply(XidOf(call), 1024)}; });
    ScriptedPeer mdns([](const Bytes& query) {
        const auto [strName, nType] = QuestionOf(query);
        return strName == "_hislip._tcp.local"
                   ? std::vector<Bytes>{Message(query, 3, {Ptr(), Srv(), A()})}
                   : std::vector<Bytes>{};
    });
    tkvisa::DiscoveryOptions options;
    options.nTimeoutMs = kDeadlineMs;
    options.vecVxi11Targets = {vxi11.Target()};
    options.vecMdnsTargets = {mdns.Target()};
    const auto start = std::chrono::steady_clock::now();
    const std::vector<tkvisa::LanInstrument> vecFound = tkvisa::DiscoverLan(options);
    // Both searches share the one deadline: together they take it once.
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(kDeadlineMs) + kMargin);
    ASSERT_EQ(vecFound.size(), 1u);
    EXPECT_EQ(vecFound[0].vecResources,
              (std::vector<std::string>{"TCPIP::127.0.0.1::INSTR",
                                        "TCPIP::127.0.0.1::hislip0,4881::INSTR"}));
}

// ----- expressions and merging ----------------------------------------------

TEST(DiscoveryExpressions, OnlyThoseThatCanMatchTcpipNamesReachTheNetwork) {
    const std::vector<std::pair<const char*, bool>> rows = {
        {"?*", true},         {"?*INSTR", true},       {"TCPIP?*", true},
        {"tcpip0::?*", true}, {"TCP?*", true},         {"(ASRL|TCPIP)?*", true},
        {"[T]CPIP?*", true},  {"ASRL?*INSTR", false},  {"GPIB?*", false},
        {"USB?*", false},     {"ASRL1::INSTR", false}, {"TCPIX?*", false},
        {"TCPIP*", true},     {"X*TCPIP?*", true},     {"\\TCPIP?*", true},
    };
    for (const auto& [pszExpr, bMay] : rows) {
        SCOPED_TRACE(pszExpr);
        EXPECT_EQ(tkvisa::MayMatchTcpip(pszExpr), bMay);
    }
}

TEST(DiscoveryMerge, ListsEachInstrumentOnceWithEveryResourceOnce) {
    const std::vector<LanService> vecServices = {
        {"10.0.0.10", tkvisa::kLanSocket, 5025}, {"10.0.0.9", tkvisa::kLanVxi11, 0},
        {"10.0.0.10", tkvisa::kLanHislip, 4880}, {"10.0.0.10", tkvisa::kLanVxi11, 0},
        {"10.0.0.10", tkvisa::kLanVxi11, 0},     {"10.0.0.10", tkvisa::kLanLxi, 8080},
        {"10.0.0.9", tkvisa::kLanHislip, 4990},
    };
    const std::vector<tkvisa::LanInstrument> vecInstruments = tkvisa::MergeServices(vecServices);
    ASSERT_EQ(vecInstruments.size(), 2u);
    EXPECT_EQ(vecInstruments[0].strAddress, "10.0.0.9");
    EXPECT_EQ(vecInstruments[0].vecResources,
              (std::vector<std::string>{"TCPIP::10.0.0.9::INSTR",
                                        "TCPIP::10.0.0.9::hislip0,4990::INSTR"}));
    EXPECT_EQ(
        vecInstruments[1].vecResources,
        (std::vector<std::string>{"TCPIP::10.0.0.10::INSTR", "TCPIP::10.0.0.10::hislip0::INSTR",
                                  "TCPIP::10.0.0.10::5025::SOCKET"}));
    EXPECT_EQ(tkvisa::LanProtocolNames(vecInstruments[1].nProtocols),
              (std::vector<std::string>{"vxi11", "hislip", "socket", "lxi"}));
    EXPECT_EQ(vecInstruments[1].nHttpPort, 8080);
}

}  // namespace
