#include "Vxi11Server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

// rpc.h first: the portmapper headers rely on its types.
// clang-format off
#include <rpc/rpc.h>
#include <rpc/pmap_prot.h>
#include <rpc/rpcb_prot.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "RpcClient.h"
#include "Socket.h"
#include "vxi11.h"

namespace emu {
namespace {

// Flags and reasons of the core channel.
constexpr long kFlagWaitLock = 0x01;
constexpr long kFlagEnd = 0x08;
constexpr long kFlagTermCharSet = 0x80;
constexpr long kReasonRequestCount = 0x01;
constexpr long kReasonTermChar = 0x02;
constexpr long kReasonEnd = 0x04;
// Device error codes.
constexpr long kErrInvalidLink = 4;
constexpr long kErrLocked = 11;
constexpr long kErrNoLock = 12;
constexpr long kErrTimeout = 15;
constexpr long kErrAbort = 23;
constexpr long kErrNotAccessible = 3;
constexpr long kErrParameter = 5;
constexpr long kErrNoChannel = 6;
constexpr long kErrNoResources = 9;
constexpr long kErrChannelEstablished = 29;
constexpr u_long kMaxRecvSize = 1024 * 1024;
// A read with no reply queued waits at most this long for one.
constexpr unsigned long kMaxWaitMs = 10000;

enum class Channel { Portmapper, Core, Abort };

// The result of a procedure without one.
bool_t XdrNothing(XDR*, void*) {
    return TRUE;
}

// The arguments of a procedure without any.
bool_t XdrNoArguments(XDR*, char*) {
    return TRUE;
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// The portmapper's datagram socket (streams are served by tknet::Listener).
int BindSocket(const std::string& strHost, unsigned short nPort, int nType) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = nType;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* pList = nullptr;
    const std::string strPort = std::to_string(nPort);
    if (::getaddrinfo(strHost.empty() ? nullptr : strHost.c_str(), strPort.c_str(), &hints,
                      &pList) != 0) {
        throw std::runtime_error("cannot resolve '" + strHost + "'");
    }
    int fdResult = -1;
    std::string strError = "no address";
    for (addrinfo* p = pList; p != nullptr && fdResult < 0; p = p->ai_next) {
        const int fd = ::socket(p->ai_family, p->ai_socktype | SOCK_CLOEXEC, p->ai_protocol);
        if (fd < 0) {
            continue;
        }
        const int nOne = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &nOne, sizeof nOne);
        if (::bind(fd, p->ai_addr, p->ai_addrlen) == 0 &&
            (nType != SOCK_STREAM || ::listen(fd, 16) == 0)) {
            fdResult = fd;
        } else {
            strError = std::strerror(errno);
            ::close(fd);
        }
    }
    ::freeaddrinfo(pList);
    if (fdResult < 0) {
        throw std::runtime_error("cannot bind " + strHost + ":" + strPort + ": " + strError);
    }
    return fdResult;
}

// The universal address ("h1.h2.h3.h4.p1.p2") of a port on the socket's address.
std::string UniversalAddress(int fd, unsigned short nPort) {
    sockaddr_storage address{};
    socklen_t nLength = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &nLength);
    char szHost[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr, szHost,
                    sizeof szHost);
    } else {
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&address)->sin_addr, szHost,
                    sizeof szHost);
    }
    return std::string(szHost) + "." + std::to_string(nPort >> 8) + "." +
           std::to_string(nPort & 0xFF);
}

// The interrupt channel a client opened on its connection: an RPC client
// calling back the client's DEVICE_INTR server.
struct IntrChannel {
    std::mutex mutex;  // one call at a time
    CLIENT* pClient = nullptr;
    ~IntrChannel() {
        if (pClient != nullptr) {
            clnt_destroy(pClient);
        }
    }
};

// Connects to an IPv4 address and port (host order) within a second, from
// the address the client reached the device at, as a device with one
// address does; the socket is blocking afterwards, as the RPC library expects.
int ConnectBack(int fdLink, unsigned long nAddress, unsigned short nPort) {
    tknet::Address target;
    auto* pTarget = reinterpret_cast<sockaddr_in*>(&target.storage);
    pTarget->sin_family = AF_INET;
    pTarget->sin_addr.s_addr = htonl(static_cast<uint32_t>(nAddress));
    pTarget->sin_port = htons(nPort);
    target.nLength = sizeof(sockaddr_in);
    tknet::Address source;
    const bool bSource = tknet::LocalAddressOf(fdLink, &source) && source.Family() == AF_INET;
    tknet::Fd fd;
    if (tknet::Connect(target, tknet::Deadline(1000), &fd, bSource ? &source : nullptr) !=
        tknet::Result::kOk) {
        return -1;
    }
    ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
    return fd.Release();
}

// device_intr_srq with the link's handle. The RPC library writes with plain
// write(): SIGPIPE from a client that went away is blocked and taken back.
void CallServiceRequest(IntrChannel& channel, std::string& strHandle) {
    std::lock_guard<std::mutex> lock(channel.mutex);
    if (channel.pClient == nullptr) {
        return;
    }
    sigset_t pipe;
    sigset_t old;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    Device_SrqParms parms{};
    parms.handle.handle_len = static_cast<u_int>(strHandle.size());
    parms.handle.handle_val = strHandle.data();
    const timeval timeout{0, 500000};
    const clnt_stat result = clnt_call(
        channel.pClient, device_intr_srq, reinterpret_cast<xdrproc_t>(xdr_Device_SrqParms),
        reinterpret_cast<char*>(&parms), reinterpret_cast<xdrproc_t>(XdrNothing), nullptr, timeout);
    if (result == RPC_CANTSEND || result == RPC_CANTRECV) {
        clnt_destroy(channel.pClient);  // the client has gone: no more calls
        channel.pClient = nullptr;
    }
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&old, SIGPIPE) == 0 && sigismember(&pending, SIGPIPE) == 1) {
        const timespec zero{0, 0};
        sigtimedwait(&pipe, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

}  // namespace

struct Vxi11Server::Impl {
    struct Connection {
        int fd = -1;
        Channel eChannel = Channel::Core;
        std::vector<long> vecLinks;          // links created on this connection
        bool bDrop = false;                  // close without replying (fault injection)
        std::string strReplyBuffer;          // bytes of the last read or address reply
        std::shared_ptr<IntrChannel> pIntr;  // guarded by the server's mutex
    };

    struct Link {
        std::string strIn;   // bytes of a message not yet complete
        std::string strOut;  // replies not yet read
        bool bAbort = false;
        bool bDropped = false;
        Connection* pConnection = nullptr;  // the connection that created the link
        bool bSrq = false;                  // service requests enabled, with this handle
        std::string strHandle;
    };

    // What one call hands to its procedure and gets back.
    struct Call {
        Connection& connection;
        void* pArgs;
        void* pResult;
    };

    // One procedure of a program: how to decode its arguments, encode its
    // result, and what it does.
    struct ProcedureRow {
        rpcprog_t nProgram;
        rpcvers_t nVersion;
        rpcproc_t nProcedure;
        xdrproc_t pfnArgs;
        std::size_t nArgsSize;
        xdrproc_t pfnResult;
        std::size_t nResultSize;
        void (Impl::*pfnHandle)(Call&);
    };

    explicit Impl(Vxi11Backend& backendIn) : backend(backendIn) {}

    Vxi11Backend& backend;
    std::atomic<std::size_t> nCoreCalls{0};  // core-channel procedures served
    // The portmapper's, the core channel's and the abort channel's streams.
    std::optional<tknet::Listener> aListeners[3];
    int fdPmapUdp = -1;
    std::optional<tknet::WakePipe> wake;  // Stop() ends every wait on it
    int fdWakeRead = -1;
    unsigned short nRpcPort = 0;
    unsigned short nCorePort = 0;
    unsigned short nAbortPort = 0;
    std::thread threadDatagrams;

    mutable std::mutex mutex;  // guards the links and the lock
    std::condition_variable cvChange;
    std::map<long, Link> mapLinks;
    long nNextLink = 1;
    long nLockOwner = 0;         // the link holding the device lock, or 0
    bool bRequesting = false;    // the status byte's request bit, as last seen
    bool bLinksOutlive = false;  // links stay when their connection ends

    static const ProcedureRow kProcedures[];

    template <typename Args, typename Result>
    static constexpr ProcedureRow Row(rpcprog_t nProgram, rpcvers_t nVersion, rpcproc_t nProcedure,
                                      bool_t (*pfnArgs)(XDR*, Args*),
                                      bool_t (*pfnResult)(XDR*, Result*),
                                      void (Impl::*pfnHandle)(Call&)) {
        return {nProgram,       nVersion,
                nProcedure,     reinterpret_cast<xdrproc_t>(pfnArgs),
                sizeof(Args),   reinterpret_cast<xdrproc_t>(pfnResult),
                sizeof(Result), pfnHandle};
    }

    // ----- transport -------------------------------------------------------

    // Waits for fd to be readable or the stop signal; false on stop.
    bool WaitReadable(int fd) {
        pollfd afds[2] = {{fd, POLLIN, 0}, {fdWakeRead, POLLIN, 0}};
        for (;;) {
            const int n = ::poll(afds, 2, -1);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return n > 0 && (afds[1].revents & POLLIN) == 0;
        }
    }

    static int ReadRecord(void* pHandle, void* pBuffer, int nLength) {
        auto* pConnection = static_cast<std::pair<Impl*, Connection*>*>(pHandle);
        if (!pConnection->first->WaitReadable(pConnection->second->fd)) {
            return -1;
        }
        const ssize_t n = ::read(pConnection->second->fd, pBuffer, static_cast<size_t>(nLength));
        return n > 0 ? static_cast<int>(n) : -1;
    }

    static int WriteRecord(void* pHandle, void* pBuffer, int nLength) {
        auto* pConnection = static_cast<std::pair<Impl*, Connection*>*>(pHandle);
        const char* p = static_cast<const char*>(pBuffer);
        int nDone = 0;
        while (nDone < nLength) {
            const ssize_t n = ::send(pConnection->second->fd, p + nDone,
                                     static_cast<size_t>(nLength - nDone), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return -1;
            }
            nDone += static_cast<int>(n);
        }
        return nLength;
    }

    static const ProcedureRow* FindProcedure(rpcprog_t nProgram, rpcvers_t nVersion,
                                             rpcproc_t nProcedure);

    // The versions served: the portmapper answers as version 2 (GETPORT) and
    // as rpcbind versions 3 and 4 (GETADDR).
    static rpcvers_t LowVersion(rpcprog_t nProgram) { return nProgram == PMAPPROG ? 2 : 1; }
    static rpcvers_t HighVersion(rpcprog_t nProgram) { return nProgram == PMAPPROG ? 4 : 1; }

    static bool ServesOn(rpcprog_t nProgram, Channel eChannel) {
        switch (eChannel) {
            case Channel::Portmapper:
                return nProgram == PMAPPROG;
            case Channel::Core:
                return nProgram == DEVICE_CORE;
            case Channel::Abort:
                return nProgram == DEVICE_ASYNC;
        }
        return false;
    }

    // Decodes one call from xdrIn and encodes its reply to xdrOut; false
    // when the call cannot be decoded or the link is to be dropped.
    bool Serve(Connection& connection, XDR& xdrIn, XDR& xdrOut) {
        char achCred[MAX_AUTH_BYTES];
        char achVerf[MAX_AUTH_BYTES];
        rpc_msg call{};
        call.rm_call.cb_cred.oa_base = achCred;
        call.rm_call.cb_verf.oa_base = achVerf;
        if (!xdr_callmsg(&xdrIn, &call) || call.rm_direction != CALL) {
            return false;
        }
        rpc_msg reply = tkrpc::AcceptedReply(call.rm_xid);
        const rpcprog_t nProgram = call.rm_call.cb_prog;
        const rpcvers_t nVersion = call.rm_call.cb_vers;
        const ProcedureRow* pRow = FindProcedure(nProgram, nVersion, call.rm_call.cb_proc);
        std::vector<char> vecArgs;
        std::vector<char> vecResult;
        bool bKeep = true;
        if (!ServesOn(nProgram, connection.eChannel)) {
            reply.acpted_rply.ar_stat = PROG_UNAVAIL;
        } else if (nVersion < LowVersion(nProgram) || nVersion > HighVersion(nProgram)) {
            reply.acpted_rply.ar_stat = PROG_MISMATCH;
            reply.acpted_rply.ar_vers.low = LowVersion(nProgram);
            reply.acpted_rply.ar_vers.high = HighVersion(nProgram);
        } else if (call.rm_call.cb_proc == 0) {
            reply.acpted_rply.ar_stat = SUCCESS;
        } else if (pRow == nullptr) {
            reply.acpted_rply.ar_stat = PROC_UNAVAIL;
        } else {
            vecArgs.assign(pRow->nArgsSize, 0);
            vecResult.assign(pRow->nResultSize, 0);
            if (!pRow->pfnArgs(&xdrIn, vecArgs.data())) {
                reply.acpted_rply.ar_stat = GARBAGE_ARGS;
                pRow = nullptr;
            } else {
                Call callState{connection, vecArgs.data(), vecResult.data()};
                (this->*pRow->pfnHandle)(callState);
                if (nProgram == DEVICE_CORE) {
                    nCoreCalls.fetch_add(1, std::memory_order_relaxed);
                }
                reply.acpted_rply.ar_stat = SUCCESS;
                reply.acpted_rply.ar_results.proc = pRow->pfnResult;
                reply.acpted_rply.ar_results.where = vecResult.data();
                bKeep = !connection.bDrop;
            }
        }
        bool bSent = true;
        if (bKeep) {
            // On a stream both directions share one XDR handle.
            xdrOut.x_op = XDR_ENCODE;
            bSent = xdr_replymsg(&xdrOut, &reply);
        }
        if (pRow != nullptr) {
            xdr_free(pRow->pfnArgs, vecArgs.data());
        }
        return bKeep && bSent;
    }

    void ServeStream(Connection& connection) {
        std::pair<Impl*, Connection*> handle{this, &connection};
        XDR xdrs{};
        xdrrec_create(&xdrs, 0, 0, &handle, ReadRecord, WriteRecord);
        for (;;) {
            xdrs.x_op = XDR_DECODE;
            if (!xdrrec_skiprecord(&xdrs) || !Serve(connection, xdrs, xdrs) ||
                !xdrrec_endofrecord(&xdrs, TRUE)) {
                break;
            }
        }
        xdr_destroy(&xdrs);
        DropLinks(connection);
    }

    void ServeDatagrams() {
        std::vector<char> vecIn(UDPMSGSIZE);
        std::vector<char> vecOut(UDPMSGSIZE);
        for (;;) {
            if (!WaitReadable(fdPmapUdp)) {
                return;
            }
            sockaddr_storage peer{};
            socklen_t nPeerLength = sizeof peer;
            const ssize_t n = ::recvfrom(fdPmapUdp, vecIn.data(), vecIn.size(), 0,
                                         reinterpret_cast<sockaddr*>(&peer), &nPeerLength);
            if (n <= 0) {
                continue;
            }
            XDR xdrIn{};
            XDR xdrOut{};
            xdrmem_create(&xdrIn, vecIn.data(), static_cast<u_int>(n), XDR_DECODE);
            xdrmem_create(&xdrOut, vecOut.data(), static_cast<u_int>(vecOut.size()), XDR_ENCODE);
            Connection connection;
            connection.eChannel = Channel::Portmapper;
            if (Serve(connection, xdrIn, xdrOut)) {
                ::sendto(fdPmapUdp, vecOut.data(), xdr_getpos(&xdrOut), 0,
                         reinterpret_cast<sockaddr*>(&peer), nPeerLength);
            }
            xdr_destroy(&xdrIn);
            xdr_destroy(&xdrOut);
        }
    }

    // ----- portmapper ------------------------------------------------------

    unsigned short PortOfProgram(rpcprog_t nProgram, rpcvers_t nVersion) const {
        if (nProgram == DEVICE_CORE && nVersion == DEVICE_CORE_VERSION) {
            return nCorePort;
        }
        if (nProgram == DEVICE_ASYNC && nVersion == DEVICE_ASYNC_VERSION) {
            return nAbortPort;
        }
        return 0;
    }

    void GetPort(Call& call) {
        const auto& query = *static_cast<pmap*>(call.pArgs);
        *static_cast<u_long*>(call.pResult) =
            query.pm_prot == IPPROTO_TCP ? PortOfProgram(query.pm_prog, query.pm_vers) : 0;
    }

    void GetAddress(Call& call) {
        const auto& query = *static_cast<rpcb*>(call.pArgs);
        const unsigned short nPort = PortOfProgram(query.r_prog, query.r_vers);
        const bool bTcp = query.r_netid != nullptr && std::strncmp(query.r_netid, "tcp", 3) == 0;
        call.connection.strReplyBuffer =
            nPort != 0 && bTcp ? UniversalAddress(aListeners[1]->Fd(), nPort) : std::string();
        *static_cast<char**>(call.pResult) = call.connection.strReplyBuffer.data();
    }

    // ----- core channel ----------------------------------------------------

    static bool ValidDeviceName(const char* pszName) {
        const std::string strName = pszName != nullptr ? pszName : "";
        auto Digits = [](const std::string& str) {
            return !str.empty() && str.find_first_not_of("0123456789") == std::string::npos;
        };
        if (strName.rfind("inst", 0) == 0) {
            return Digits(strName.substr(4));
        }
        if (strName.rfind("gpib0,", 0) == 0) {
            const std::string strRest = strName.substr(6);
            const size_t nComma = strRest.find(',');
            return nComma == std::string::npos
                       ? Digits(strRest)
                       : Digits(strRest.substr(0, nComma)) && Digits(strRest.substr(nComma + 1));
        }
        return false;
    }

    // Waits until no other link holds the lock (when the caller allows it);
    // 0 or the locked error.
    long Access(std::unique_lock<std::mutex>& lock, long nLink, long nFlags,
                unsigned long nLockTimeoutMs) {
        auto Free = [&] { return nLockOwner == 0 || nLockOwner == nLink; };
        if (Free()) {
            return 0;
        }
        if ((nFlags & kFlagWaitLock) == 0 || nLockTimeoutMs == 0) {
            return kErrLocked;
        }
        const auto wait = std::chrono::milliseconds(std::min(nLockTimeoutMs, kMaxWaitMs));
        return cvChange.wait_for(lock, wait, Free) ? 0 : kErrLocked;
    }

    // The checks every link operation starts with: a known link, an injected
    // device error, the lock.
    long Check(std::unique_lock<std::mutex>& lock, long nLink, long nFlags,
               unsigned long nLockTimeoutMs) {
        if (mapLinks.count(nLink) == 0) {
            return kErrInvalidLink;
        }
        const int nInjected = backend.TakeDeviceError();
        if (nInjected != 0) {
            return nInjected;
        }
        return Access(lock, nLink, nFlags, nLockTimeoutMs);
    }

    void CreateLink(Call& call) {
        const auto& parms = *static_cast<Create_LinkParms*>(call.pArgs);
        auto& result = *static_cast<Create_LinkResp*>(call.pResult);
        result.abortPort = nAbortPort;
        result.maxRecvSize = kMaxRecvSize;
        if (!ValidDeviceName(parms.device)) {
            result.error = kErrNotAccessible;
            return;
        }
        std::unique_lock<std::mutex> lock(mutex);
        const long nLink = nNextLink++;
        if (parms.lockDevice) {
            result.error = Access(lock, nLink, kFlagWaitLock, parms.lock_timeout);
            if (result.error != 0) {
                return;
            }
            nLockOwner = nLink;
        }
        mapLinks[nLink].pConnection = &call.connection;
        call.connection.vecLinks.push_back(nLink);
        result.lid = nLink;
        backend.Trace(static_cast<int>(nLink), "--",
                      std::string("link created to ") + parms.device);
    }

    void DestroyLink(Call& call) {
        const long nLink = *static_cast<Device_Link*>(call.pArgs);
        auto& result = *static_cast<Device_Error*>(call.pResult);
        std::lock_guard<std::mutex> lock(mutex);
        if (mapLinks.erase(nLink) == 0) {
            result.error = kErrInvalidLink;
            return;
        }
        if (nLockOwner == nLink) {
            nLockOwner = 0;
        }
        std::erase(call.connection.vecLinks, nLink);
        cvChange.notify_all();
    }

    void DropLinks(Connection& connection) {
        std::lock_guard<std::mutex> lock(mutex);
        for (long nLink : connection.vecLinks) {
            if (bLinksOutlive) {
                // Kept, lock and all, but no longer reachable by service requests.
                mapLinks[nLink].pConnection = nullptr;
                mapLinks[nLink].bSrq = false;
                continue;
            }
            mapLinks.erase(nLink);
            if (nLockOwner == nLink) {
                nLockOwner = 0;
            }
        }
        connection.vecLinks.clear();
        connection.pIntr.reset();
        cvChange.notify_all();
    }

    // ----- interrupt channel -----------------------------------------------

    void CreateIntrChan(Call& call) {
        const auto& parms = *static_cast<Device_RemoteFunc*>(call.pArgs);
        auto& result = *static_cast<Device_Error*>(call.pResult);
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (call.connection.pIntr) {
                result.error = kErrChannelEstablished;
                return;
            }
        }
        if (parms.progFamily != DEVICE_TCP || parms.progNum != DEVICE_INTR ||
            parms.progVers != DEVICE_INTR_VERSION) {
            result.error = kErrParameter;
            return;
        }
        const int fd = ConnectBack(call.connection.fd, parms.hostAddr, parms.hostPort);
        if (fd < 0) {
            result.error = kErrNoResources;
            return;
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(static_cast<uint32_t>(parms.hostAddr));
        address.sin_port = htons(parms.hostPort);
        netbuf server{};
        server.buf = &address;
        server.len = sizeof address;
        server.maxlen = sizeof address;
        auto pChannel = std::make_shared<IntrChannel>();
        pChannel->pClient = clnt_vc_create(fd, &server, parms.progNum, parms.progVers, 0, 0);
        if (pChannel->pClient == nullptr) {
            ::close(fd);
            result.error = kErrNoResources;
            return;
        }
        clnt_control(pChannel->pClient, CLSET_FD_CLOSE, nullptr);
        std::lock_guard<std::mutex> lock(mutex);
        call.connection.pIntr = std::move(pChannel);
    }

    void DestroyIntrChan(Call& call) {
        auto& result = *static_cast<Device_Error*>(call.pResult);
        std::lock_guard<std::mutex> lock(mutex);
        if (!call.connection.pIntr) {
            result.error = kErrNoChannel;
            return;
        }
        call.connection.pIntr.reset();
    }

    void EnableSrq(Call& call) {
        const auto& parms = *static_cast<Device_EnableSrqParms*>(call.pArgs);
        auto& result = *static_cast<Device_Error*>(call.pResult);
        std::lock_guard<std::mutex> lock(mutex);
        auto it = mapLinks.find(parms.lid);
        if (it == mapLinks.end()) {
            result.error = kErrInvalidLink;
            return;
        }
        it->second.bSrq = parms.enable != 0;
        it->second.strHandle.assign(parms.handle.handle_val, parms.handle.handle_len);
    }

    // Calls device_intr_srq on each link that enabled service requests when
    // the status byte's request bit rises. The caller holds no lock.
    void SignalServiceRequest() {
        std::vector<std::pair<std::shared_ptr<IntrChannel>, std::string>> vecTargets;
        {
            std::lock_guard<std::mutex> lock(mutex);
            // A reply held for any link is a message available (MAV).
            const bool bReplyWaiting =
                std::any_of(mapLinks.begin(), mapLinks.end(),
                            [](const auto& entry) { return !entry.second.strOut.empty(); });
            const bool bNow = (backend.StatusByte(bReplyWaiting) & 0x40) != 0;
            if (bNow && !bRequesting) {
                for (auto& [nLink, link] : mapLinks) {
                    if (link.bSrq && link.pConnection != nullptr && link.pConnection->pIntr) {
                        vecTargets.emplace_back(link.pConnection->pIntr, link.strHandle);
                    }
                }
            }
            bRequesting = bNow;
        }
        for (auto& [pChannel, strHandle] : vecTargets) {
            CallServiceRequest(*pChannel, strHandle);
        }
    }

    void Write(Call& call) {
        const auto& parms = *static_cast<Device_WriteParms*>(call.pArgs);
        auto& result = *static_cast<Device_WriteResp*>(call.pResult);
        std::unique_lock<std::mutex> lock(mutex);
        result.error = Check(lock, parms.lid, parms.flags, parms.lock_timeout);
        if (result.error != 0) {
            return;
        }
        Link& link = mapLinks[parms.lid];
        const bool bReplyWaiting = !link.strOut.empty();
        link.strIn.append(parms.data.data_val, parms.data.data_len);
        result.size = parms.data.data_len;
        std::vector<std::string> vecLines;
        size_t nNewline;
        while ((nNewline = link.strIn.find('\n')) != std::string::npos) {
            vecLines.push_back(link.strIn.substr(0, nNewline));
            link.strIn.erase(0, nNewline + 1);
        }
        if ((parms.flags & kFlagEnd) != 0 && !link.strIn.empty()) {
            vecLines.push_back(link.strIn);
            link.strIn.clear();
        }
        std::string strReplies;
        lock.unlock();
        for (const std::string& strLine : vecLines) {
            if (!backend.Execute(static_cast<int>(parms.lid), strLine, strReplies,
                                 bReplyWaiting || !strReplies.empty())) {
                call.connection.bDrop = true;
                return;
            }
        }
        lock.lock();
        auto it = mapLinks.find(parms.lid);
        if (it != mapLinks.end()) {
            it->second.strOut += strReplies;
        }
        lock.unlock();
        SignalServiceRequest();
    }

    // A read that takes the last held reply clears MAV: the request bit may
    // fall, so that the next reply raises a new request.
    void Read(Call& call) {
        TakeReply(call);
        SignalServiceRequest();
    }

    void TakeReply(Call& call) {
        const auto& parms = *static_cast<Device_ReadParms*>(call.pArgs);
        auto& result = *static_cast<Device_ReadResp*>(call.pResult);
        std::unique_lock<std::mutex> lock(mutex);
        result.error = Check(lock, parms.lid, parms.flags, parms.lock_timeout);
        if (result.error != 0) {
            return;
        }
        const auto delay = backend.ReplyDelay();
        auto Aborted = [&] { return mapLinks[parms.lid].bAbort; };
        mapLinks[parms.lid].bAbort = false;
        if (delay.count() > 0 && cvChange.wait_for(lock, delay, Aborted)) {
            // An aborted read drops the reply it was waiting to deliver, as
            // an instrument abandons an interrupted output.
            mapLinks[parms.lid].bAbort = false;
            mapLinks[parms.lid].strOut.clear();
            result.error = kErrAbort;
            return;
        }
        auto Ready = [&] { return !mapLinks[parms.lid].strOut.empty() || Aborted(); };
        const auto wait = std::chrono::milliseconds(std::min(parms.io_timeout, kMaxWaitMs));
        if (!cvChange.wait_for(lock, wait, Ready)) {
            result.error = kErrTimeout;
            return;
        }
        Link& link = mapLinks[parms.lid];
        if (link.bAbort) {
            link.bAbort = false;
            result.error = kErrAbort;
            return;
        }
        // A read ends at the end of one reply, at the termination character
        // when asked to, or at the requested count.
        size_t nTake = std::min<size_t>(link.strOut.size(), parms.requestSize);
        const bool bTermChar = (parms.flags & kFlagTermCharSet) != 0;
        for (size_t i = 0; i < nTake; ++i) {
            if (link.strOut[i] == '\n' || (bTermChar && link.strOut[i] == parms.termChar)) {
                nTake = i + 1;
                break;
            }
        }
        call.connection.strReplyBuffer = link.strOut.substr(0, nTake);
        link.strOut.erase(0, nTake);
        const std::string& strData = call.connection.strReplyBuffer;
        result.reason = 0;
        if (bTermChar && !strData.empty() && strData.back() == parms.termChar) {
            result.reason |= kReasonTermChar;
        }
        if (!strData.empty() && strData.back() == '\n') {
            result.reason |= kReasonEnd;
        }
        if (result.reason == 0) {
            result.reason = kReasonRequestCount;
        }
        result.data.data_len = static_cast<u_int>(strData.size());
        result.data.data_val = call.connection.strReplyBuffer.data();
        backend.Trace(static_cast<int>(parms.lid), "->", strData);
    }

    // Runs a device operation of the generic form, with the link's checks.
    template <typename Body>
    long Generic(const Device_GenericParms& parms, Body body) {
        std::unique_lock<std::mutex> lock(mutex);
        const long nError = Check(lock, parms.lid, parms.flags, parms.lock_timeout);
        if (nError == 0) {
            body(mapLinks[parms.lid]);
        }
        return nError;
    }

    void ReadStb(Call& call) {
        auto& result = *static_cast<Device_ReadStbResp*>(call.pResult);
        result.error = Generic(*static_cast<Device_GenericParms*>(call.pArgs), [&](Link& link) {
            result.stb = static_cast<u_char>(backend.StatusByte(!link.strOut.empty()));
        });
    }

    void Trigger(Call& call) {
        static_cast<Device_Error*>(call.pResult)->error = Generic(
            *static_cast<Device_GenericParms*>(call.pArgs), [&](Link&) { backend.Trigger(); });
        SignalServiceRequest();
    }

    void Clear(Call& call) {
        static_cast<Device_Error*>(call.pResult)->error =
            Generic(*static_cast<Device_GenericParms*>(call.pArgs), [&](Link& link) {
                link.strIn.clear();
                link.strOut.clear();
                backend.DeviceClear();
            });
        SignalServiceRequest();
    }

    void RemoteOrLocal(Call& call) {
        static_cast<Device_Error*>(call.pResult)->error =
            Generic(*static_cast<Device_GenericParms*>(call.pArgs), [](Link&) {});
    }

    void Lock(Call& call) {
        const auto& parms = *static_cast<Device_LockParms*>(call.pArgs);
        auto& result = *static_cast<Device_Error*>(call.pResult);
        std::unique_lock<std::mutex> lock(mutex);
        if (mapLinks.count(parms.lid) == 0) {
            result.error = kErrInvalidLink;
            return;
        }
        result.error = Access(lock, parms.lid, parms.flags, parms.lock_timeout);
        if (result.error == 0) {
            nLockOwner = parms.lid;
        }
    }

    void Unlock(Call& call) {
        const long nLink = *static_cast<Device_Link*>(call.pArgs);
        auto& result = *static_cast<Device_Error*>(call.pResult);
        std::lock_guard<std::mutex> lock(mutex);
        if (mapLinks.count(nLink) == 0) {
            result.error = kErrInvalidLink;
        } else if (nLockOwner != nLink) {
            result.error = kErrNoLock;
        } else {
            nLockOwner = 0;
            cvChange.notify_all();
        }
    }

    // ----- abort channel ---------------------------------------------------

    void Abort(Call& call) {
        const long nLink = *static_cast<Device_Link*>(call.pArgs);
        auto& result = *static_cast<Device_Error*>(call.pResult);
        std::lock_guard<std::mutex> lock(mutex);
        auto it = mapLinks.find(nLink);
        if (it == mapLinks.end()) {
            result.error = kErrInvalidLink;
            return;
        }
        it->second.bAbort = true;
        cvChange.notify_all();
    }

    // ----- threads ---------------------------------------------------------

    // Listens on host:port for one channel; its port.
    static unsigned short Listen(tknet::Listener& listener, const std::string& strHost,
                                 unsigned short nPort) {
        if (listener.Open(strHost, nPort) != tknet::Result::kOk) {
            throw std::runtime_error("cannot bind " + strHost + ":" + std::to_string(nPort) + ": " +
                                     std::strerror(errno));
        }
        return listener.Port();
    }

    // Serves each client of one channel on a thread of its own.
    void Serve(tknet::Listener& listener, Channel eChannel) {
        listener.Start([this, eChannel](tknet::Fd fd, const tknet::Address&) {
            Connection connection;
            connection.fd = fd.Get();
            connection.eChannel = eChannel;
            ServeStream(connection);
        });
    }

    void Start(const std::string& strHost, unsigned short nPort) {
        wake.emplace();
        if (!wake->Valid()) {
            throw std::runtime_error("cannot create the wake-up pipe");
        }
        fdWakeRead = wake->ReadFd();
        try {
            for (auto& listener : aListeners) {
                listener.emplace();
            }
            nRpcPort = Listen(*aListeners[0], strHost, nPort);
            fdPmapUdp = BindSocket(strHost, nRpcPort, SOCK_DGRAM);
            nCorePort = Listen(*aListeners[1], strHost, 0);
            nAbortPort = Listen(*aListeners[2], strHost, 0);
        } catch (...) {
            Stop();
            throw;
        }
        // Every port is known before the portmapper answers its first query.
        Serve(*aListeners[0], Channel::Portmapper);
        Serve(*aListeners[1], Channel::Core);
        Serve(*aListeners[2], Channel::Abort);
        threadDatagrams = std::thread([this] { ServeDatagrams(); });
    }

    void Stop() {
        if (wake) {
            wake->Wake();
        }
        {
            // Wake reads and lock waits.
            std::lock_guard<std::mutex> lock(mutex);
            for (auto& entry : mapLinks) {
                entry.second.bAbort = true;
            }
            cvChange.notify_all();
        }
        if (threadDatagrams.joinable()) {
            threadDatagrams.join();
        }
        for (auto& listener : aListeners) {
            if (listener) {
                listener->Stop();
                listener.reset();
            }
        }
        CloseFd(fdPmapUdp);
        wake.reset();
        fdWakeRead = -1;
    }
};

const Vxi11Server::Impl::ProcedureRow Vxi11Server::Impl::kProcedures[] = {
    Row(PMAPPROG, PMAPVERS, PMAPPROC_GETPORT, xdr_pmap, xdr_u_long, &Impl::GetPort),
    Row(PMAPPROG, RPCBVERS, RPCBPROC_GETADDR, xdr_rpcb, xdr_wrapstring, &Impl::GetAddress),
    Row(PMAPPROG, RPCBVERS4, RPCBPROC_GETADDR, xdr_rpcb, xdr_wrapstring, &Impl::GetAddress),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, create_link, xdr_Create_LinkParms, xdr_Create_LinkResp,
        &Impl::CreateLink),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_write, xdr_Device_WriteParms, xdr_Device_WriteResp,
        &Impl::Write),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_read, xdr_Device_ReadParms, xdr_Device_ReadResp,
        &Impl::Read),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_readstb, xdr_Device_GenericParms,
        xdr_Device_ReadStbResp, &Impl::ReadStb),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_trigger, xdr_Device_GenericParms, xdr_Device_Error,
        &Impl::Trigger),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_clear, xdr_Device_GenericParms, xdr_Device_Error,
        &Impl::Clear),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_remote, xdr_Device_GenericParms, xdr_Device_Error,
        &Impl::RemoteOrLocal),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_local, xdr_Device_GenericParms, xdr_Device_Error,
        &Impl::RemoteOrLocal),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_lock, xdr_Device_LockParms, xdr_Device_Error,
        &Impl::Lock),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_unlock, xdr_Device_Link, xdr_Device_Error,
        &Impl::Unlock),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, destroy_link, xdr_Device_Link, xdr_Device_Error,
        &Impl::DestroyLink),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_enable_srq, xdr_Device_EnableSrqParms,
        xdr_Device_Error, &Impl::EnableSrq),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, create_intr_chan, xdr_Device_RemoteFunc, xdr_Device_Error,
        &Impl::CreateIntrChan),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, destroy_intr_chan, XdrNoArguments, xdr_Device_Error,
        &Impl::DestroyIntrChan),
    Row(DEVICE_ASYNC, DEVICE_ASYNC_VERSION, device_abort, xdr_Device_Link, xdr_Device_Error,
        &Impl::Abort),
};

const Vxi11Server::Impl::ProcedureRow* Vxi11Server::Impl::FindProcedure(rpcprog_t nProgram,
                                                                        rpcvers_t nVersion,
                                                                        rpcproc_t nProcedure) {
    for (const ProcedureRow& row : kProcedures) {
        if (row.nProgram == nProgram && row.nVersion == nVersion && row.nProcedure == nProcedure) {
            return &row;
        }
    }
    return nullptr;
}

Vxi11Server::Vxi11Server(Vxi11Backend& backend) : m_pImpl(std::make_unique<Impl>(backend)) {}

Vxi11Server::~Vxi11Server() {
    Stop();
}

void Vxi11Server::Start(const std::string& strHost, unsigned short nRpcPort) {
    m_pImpl->Start(strHost, nRpcPort);
}

void Vxi11Server::SetLinksOutliveConnections(bool bOutlive) {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->bLinksOutlive = bOutlive;
}

void Vxi11Server::Stop() {
    m_pImpl->Stop();
}

unsigned short Vxi11Server::RpcPort() const {
    return m_pImpl->nRpcPort;
}

unsigned short Vxi11Server::CorePort() const {
    return m_pImpl->nCorePort;
}

unsigned short Vxi11Server::AbortPort() const {
    return m_pImpl->nAbortPort;
}

std::size_t Vxi11Server::CoreCallCount() const {
    return m_pImpl->nCoreCalls.load(std::memory_order_relaxed);
}

std::size_t Vxi11Server::LinkCount() const {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    return m_pImpl->mapLinks.size();
}

}  // namespace emu
