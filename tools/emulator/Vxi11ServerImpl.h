// Internal to the emulator's VXI-11 server: the state the RPC plumbing
// (RpcServer.cpp: record streams, the dispatch table, the portmapper, the
// listeners) and the VXI-11 procedures (Vxi11Procedures.cpp: links, reads
// and writes, locks, service requests, abort) share.
#pragma once

#include "Vxi11Server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
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
namespace vxi11 {

// Flags and reasons of the core channel.
inline constexpr long kFlagWaitLock = 0x01;
inline constexpr long kFlagEnd = 0x08;
inline constexpr long kFlagTermCharSet = 0x80;
inline constexpr long kReasonRequestCount = 0x01;
inline constexpr long kReasonTermChar = 0x02;
inline constexpr long kReasonEnd = 0x04;
// Device error codes.
inline constexpr long kErrInvalidLink = 4;
inline constexpr long kErrLocked = 11;
inline constexpr long kErrNoLock = 12;
inline constexpr long kErrTimeout = 15;
inline constexpr long kErrAbort = 23;
inline constexpr long kErrNotAccessible = 3;
inline constexpr long kErrParameter = 5;
inline constexpr long kErrNoChannel = 6;
inline constexpr long kErrNoResources = 9;
inline constexpr long kErrChannelEstablished = 29;
inline constexpr u_long kMaxRecvSize = 1024 * 1024;
// A read with no reply queued waits at most this long for one.
inline constexpr unsigned long kMaxWaitMs = 10000;

enum class Channel { Portmapper, Core, Abort };

// The result of a procedure without one.
inline bool_t XdrNothing(XDR*, void*) {
    return TRUE;
}

// The arguments of a procedure without any.
inline bool_t XdrNoArguments(XDR*, char*) {
    return TRUE;
}

// The portmapper's datagram socket (streams are served by tknet::Listener);
// throws std::runtime_error.
tknet::Fd BindDatagrams(const std::string& strHost, unsigned short nPort);

// The broadcast address of the IPv4 interface that holds strHost, or "".
std::string BroadcastAddressOf(const std::string& strHost);

// The universal address ("h1.h2.h3.h4.p1.p2") of a port on the socket's address.
std::string UniversalAddress(int fd, unsigned short nPort);

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
// An empty Fd when the client does not answer.
tknet::Fd ConnectBack(int fdLink, unsigned long nAddress, unsigned short nPort);

// device_intr_srq with the link's handle. The RPC library writes with plain
// write(): SIGPIPE from a client that went away is blocked and taken back.
void CallServiceRequest(IntrChannel& channel, std::string& strHandle);

}  // namespace vxi11

using namespace vxi11;

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
    tknet::Fd fdPmapUdp;
    // Bound to the broadcast address of the portmapper's interface, so that
    // a broadcast GETPORT reaches it (a socket bound to a unicast address
    // receives no broadcasts); replies go out from fdPmapUdp.
    tknet::Fd fdPmapBroadcast;
    bool bAnswerBroadcast = false;
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
    bool WaitReadable(int fd);
    // Waits for either portmapper datagram socket; the readable one, or -1 on stop.
    int WaitDatagram();

    static int ReadRecord(void* pHandle, void* pBuffer, int nLength);

    static int WriteRecord(void* pHandle, void* pBuffer, int nLength);

    static const ProcedureRow* FindProcedure(rpcprog_t nProgram, rpcvers_t nVersion,
                                             rpcproc_t nProcedure);

    // The versions served: the portmapper answers as version 2 (GETPORT) and
    // as rpcbind versions 3 and 4 (GETADDR).
    static rpcvers_t LowVersion(rpcprog_t nProgram) { return nProgram == PMAPPROG ? 2 : 1; }
    static rpcvers_t HighVersion(rpcprog_t nProgram) { return nProgram == PMAPPROG ? 4 : 1; }

    static bool ServesOn(rpcprog_t nProgram, Channel eChannel);

    // Decodes one call from xdrIn and encodes its reply to xdrOut; false
    // when the call cannot be decoded or the link is to be dropped.
    bool Serve(Connection& connection, XDR& xdrIn, XDR& xdrOut);

    void ServeStream(Connection& connection);

    void ServeDatagrams();

    // ----- portmapper ------------------------------------------------------

    unsigned short PortOfProgram(rpcprog_t nProgram, rpcvers_t nVersion) const;

    void GetPort(Call& call);

    void GetAddress(Call& call);

    // ----- core channel ----------------------------------------------------

    static bool ValidDeviceName(const char* pszName);

    // Waits until no other link holds the lock (when the caller allows it);
    // 0 or the locked error.
    long Access(std::unique_lock<std::mutex>& lock, long nLink, long nFlags,
                unsigned long nLockTimeoutMs);

    // The checks every link operation starts with: a known link, an injected
    // device error, the lock.
    long Check(std::unique_lock<std::mutex>& lock, long nLink, long nFlags,
               unsigned long nLockTimeoutMs);

    void CreateLink(Call& call);

    void DestroyLink(Call& call);

    void DropLinks(Connection& connection);

    // ----- interrupt channel -----------------------------------------------

    void CreateIntrChan(Call& call);

    void DestroyIntrChan(Call& call);

    void EnableSrq(Call& call);

    // Calls device_intr_srq on each link that enabled service requests when
    // the status byte's request bit rises. The caller holds no lock.
    void SignalServiceRequest();

    void Write(Call& call);

    // A read that takes the last held reply clears MAV: the request bit may
    // fall, so that the next reply raises a new request.
    void Read(Call& call);

    void TakeReply(Call& call);

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

    void ReadStb(Call& call);

    void Trigger(Call& call);

    void Clear(Call& call);

    void RemoteOrLocal(Call& call);

    void Lock(Call& call);

    void Unlock(Call& call);

    // ----- abort channel ---------------------------------------------------

    void Abort(Call& call);

    // ----- threads ---------------------------------------------------------

    // Listens on host:port for one channel; its port.
    static unsigned short Listen(tknet::Listener& listener, const std::string& strHost,
                                 unsigned short nPort);

    // Serves each client of one channel on a thread of its own.
    void Serve(tknet::Listener& listener, Channel eChannel);

    void Start(const std::string& strHost, unsigned short nPort);

    void Stop();
};

}  // namespace emu
