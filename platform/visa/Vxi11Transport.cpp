// LAN instrument transport (TCPIP::host[::devicename]::INSTR): a VXI-11 link
// over ONC RPC. The portmapper on port 111 names the core channel's port; the
// link carries message ends, device operations and locks; the abort channel
// stops an operation that outlived its timeout.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

// rpc.h first: the portmapper header relies on its types.
// clang-format off
#include <rpc/rpc.h>
#include <rpc/pmap_prot.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "Transport.h"
#include "Vxi11Interrupts.h"
#include "vxi11.h"

namespace tkvisa {
namespace {

// Flags of device_write/device_read/device_lock.
constexpr long kFlagWaitLock = 0x01;
constexpr long kFlagEnd = 0x08;
constexpr long kFlagTermCharSet = 0x80;
// The reason bit of a device_read that ended with END (0x02, the
// termination character, and 0x01, the count, do not end the message).
constexpr long kReasonEnd = 0x04;
// Time the RPC waits beyond the device's own timeout, so that a slow device
// answers with its timeout error rather than the call failing.
constexpr ViUInt32 kRpcMarginMs = 2000;

// The RPC library writes with plain write(), so a peer that has closed the
// connection would raise SIGPIPE and kill the caller's process. While an RPC
// runs, SIGPIPE is blocked in the calling thread; one raised by the call is
// taken off the thread's pending set before the mask is restored, so the
// broken connection shows only as the call's error.
class SigpipeBlock {
  public:
    SigpipeBlock() {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        m_bWasPending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old);
    }
    ~SigpipeBlock() {
        if (!m_bWasPending) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec zero{0, 0};
                sigtimedwait(&m_pipe, nullptr, &zero);
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

  private:
    sigset_t m_pipe{};
    sigset_t m_old{};
    bool m_bWasPending = false;
};
constexpr ViUInt32 kCloseTimeoutMs = 1000;
constexpr u_int kDefaultMaxRecvSize = 1024;
constexpr u_short kPortmapperPort = 111;

struct DeviceErrorRow {
    long nError;
    ViStatus status;
};

// Device error codes of the core channel and the VISA status each becomes.
constexpr DeviceErrorRow kDeviceErrors[] = {
    {0, VI_SUCCESS},
    {1, VI_ERROR_INV_EXPR},       // syntax error
    {3, VI_ERROR_RSRC_NFOUND},    // device not accessible
    {4, VI_ERROR_RSRC_NFOUND},    // invalid link identifier
    {5, VI_ERROR_INV_PARAMETER},  // parameter error
    {6, VI_ERROR_NSUP_OPER},      // channel not established
    {8, VI_ERROR_NSUP_OPER},      // operation not supported
    {9, VI_ERROR_ALLOC},          // out of resources
    {11, VI_ERROR_RSRC_LOCKED},   // device locked by another link
    {12, VI_ERROR_SESN_NLOCKED},  // no lock held by this link
    {15, VI_ERROR_TMO},           // I/O timeout
    {17, VI_ERROR_IO},            // I/O error
    {21, VI_ERROR_INV_SETUP},     // invalid address
    {23, VI_ERROR_ABORT},         // abort
    {29, VI_ERROR_NSUP_OPER},     // channel already established
};

// The arguments of a procedure without any.
bool_t XdrNothing(XDR*, void*) {
    return TRUE;
}

ViStatus StatusOfDeviceError(long nError) {
    for (const DeviceErrorRow& row : kDeviceErrors) {
        if (row.nError == nError) {
            return row.status;
        }
    }
    return VI_ERROR_IO;
}

ViUInt32 RemainingOf(const Deadline& deadline) {
    const int nMs = deadline.RemainingMs();
    return nMs < 0 ? 0xFFFFFFFFu : static_cast<ViUInt32>(nMs);
}

timeval RpcTimeout(ViUInt32 nDeviceMs) {
    // An infinite device timeout still needs a finite RPC timeout: a day.
    const std::uint64_t nMs =
        nDeviceMs == 0xFFFFFFFFu ? 86400000ull : std::uint64_t{nDeviceMs} + kRpcMarginMs;
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(nMs / 1000);
    tv.tv_usec = static_cast<suseconds_t>((nMs % 1000) * 1000);
    return tv;
}

// Connects a TCP socket to the address with the port replaced, within the deadline.
int ConnectTo(const sockaddr_storage& address, socklen_t nLength, u_short nPort,
              const Deadline& deadline) {
    sockaddr_storage target = address;
    if (target.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&target)->sin6_port = htons(nPort);
    } else {
        reinterpret_cast<sockaddr_in*>(&target)->sin_port = htons(nPort);
    }
    const int fd = ::socket(target.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return -1;
    }
    int nResult = ::connect(fd, reinterpret_cast<sockaddr*>(&target), nLength);
    if (nResult != 0 && errno == EINPROGRESS) {
        pollfd pfd{fd, POLLOUT, 0};
        int nReady = 0;
        do {
            nReady = ::poll(&pfd, 1, deadline.RemainingMs());
        } while (nReady < 0 && errno == EINTR);
        int nError = 0;
        socklen_t nErrorLength = sizeof nError;
        if (nReady > 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &nError, &nErrorLength) == 0 &&
            nError == 0) {
            nResult = 0;
        }
    }
    if (nResult != 0) {
        ::close(fd);
        return -1;
    }
    // The RPC library reads and writes blocking, with its own timeouts.
    const int nOne = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof nOne);
    return fd;
}

void MakeBlocking(int fd) {
    const int nFlags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, nFlags & ~O_NONBLOCK);
}

// An RPC client on a connected socket; the client closes the socket.
CLIENT* ClientOn(int fd, const sockaddr_storage& address, socklen_t nLength, rpcprog_t nProgram,
                 rpcvers_t nVersion) {
    MakeBlocking(fd);
    netbuf server{};
    server.buf = const_cast<sockaddr_storage*>(&address);
    server.len = nLength;
    server.maxlen = nLength;
    CLIENT* pClient = ::clnt_vc_create(fd, &server, nProgram, nVersion, 0, 0);
    if (pClient == nullptr) {
        ::close(fd);
        return nullptr;
    }
    clnt_control(pClient, CLSET_FD_CLOSE, nullptr);
    return pClient;
}

class Vxi11Transport final : public Transport {
  public:
    ~Vxi11Transport() override { Close(); }

    ViStatus Open(const ResourceName& resource, ViUInt32 nOpenTimeoutMs,
                  const LineSettings&) override {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* pList = nullptr;
        if (::getaddrinfo(resource.strHost.c_str(), nullptr, &hints, &pList) != 0 ||
            pList == nullptr) {
            return VI_ERROR_RSRC_NFOUND;
        }
        std::memcpy(&m_address, pList->ai_addr, pList->ai_addrlen);
        m_nAddressLength = pList->ai_addrlen;
        ::freeaddrinfo(pList);
        char szHost[NI_MAXHOST] = {};
        if (::getnameinfo(reinterpret_cast<sockaddr*>(&m_address), m_nAddressLength, szHost,
                          sizeof szHost, nullptr, 0, NI_NUMERICHOST) == 0) {
            m_strPeer = szHost;
        }
        const Deadline deadline(nOpenTimeoutMs == 0 ? kCloseTimeoutMs : nOpenTimeoutMs);
        const u_short nCorePort = CorePort(deadline);
        if (nCorePort == 0) {
            return VI_ERROR_RSRC_NFOUND;
        }
        const int fd = ConnectTo(m_address, m_nAddressLength, nCorePort, deadline);
        if (fd < 0) {
            return VI_ERROR_RSRC_NFOUND;
        }
        m_fd = fd;
        m_pCore = ClientOn(fd, m_address, m_nAddressLength, DEVICE_CORE, DEVICE_CORE_VERSION);
        if (m_pCore == nullptr) {
            m_fd = -1;
            return VI_ERROR_RSRC_NFOUND;
        }
        std::string strDevice = resource.strDevice.empty() ? "inst0" : resource.strDevice;
        Create_LinkParms parms{};
        parms.clientId = static_cast<long>(::getpid());
        parms.lockDevice = FALSE;
        parms.lock_timeout = 0;
        parms.device = strDevice.data();
        Create_LinkResp reply{};
        const ViStatus status =
            Call(create_link, reinterpret_cast<xdrproc_t>(xdr_Create_LinkParms), &parms,
                 reinterpret_cast<xdrproc_t>(xdr_Create_LinkResp), &reply, RemainingOf(deadline));
        if (status < VI_SUCCESS) {
            Close();
            return status == VI_ERROR_CONN_LOST ? VI_ERROR_RSRC_NFOUND : status;
        }
        if (reply.error != 0) {
            Close();
            return StatusOfDeviceError(reply.error);
        }
        m_nLink = reply.lid;
        m_bLinked = true;
        m_nAbortPort = reply.abortPort;
        m_nMaxRecvSize = reply.maxRecvSize > 0 ? reply.maxRecvSize : kDefaultMaxRecvSize;
        return VI_SUCCESS;
    }

    void Close() override {
        if (m_bInterrupts) {
            if (!m_bLost && m_pCore != nullptr) {
                Device_Error reply{};
                Call(destroy_intr_chan, reinterpret_cast<xdrproc_t>(XdrNothing), nullptr,
                     reinterpret_cast<xdrproc_t>(xdr_Device_Error), &reply, 0);
            }
            ReleaseInterruptReceiver();
            m_bInterrupts = false;
        }
        if (m_pCore != nullptr) {
            if (m_bLinked && !m_bLost) {
                Device_Link nLink = m_nLink;
                Device_Error reply{};
                Call(destroy_link, reinterpret_cast<xdrproc_t>(xdr_Device_Link), &nLink,
                     reinterpret_cast<xdrproc_t>(xdr_Device_Error), &reply, 0);
            }
            clnt_destroy(m_pCore);
            m_pCore = nullptr;
            m_fd = -1;
        }
        m_bLinked = false;
    }

    void SetMessageOptions(const MessageOptions& options) override { m_options = options; }

    ViStatus Write(const ViByte* pData, std::size_t nCount, const Deadline& deadline,
                   std::size_t* pWritten) override {
        *pWritten = 0;
        if (m_bLost) {
            return VI_ERROR_CONN_LOST;
        }
        do {
            const std::size_t nChunk = std::min<std::size_t>(nCount - *pWritten, m_nMaxRecvSize);
            const bool bLast = *pWritten + nChunk == nCount;
            Device_WriteParms parms{};
            parms.lid = m_nLink;
            parms.io_timeout = RemainingOf(deadline);
            parms.lock_timeout = parms.io_timeout;
            parms.flags = kFlagWaitLock | (bLast && m_options.bSendEnd ? kFlagEnd : 0);
            parms.data.data_len = static_cast<u_int>(nChunk);
            parms.data.data_val = reinterpret_cast<char*>(const_cast<ViByte*>(pData + *pWritten));
            Device_WriteResp reply{};
            const ViStatus status =
                Call(device_write, reinterpret_cast<xdrproc_t>(xdr_Device_WriteParms), &parms,
                     reinterpret_cast<xdrproc_t>(xdr_Device_WriteResp), &reply, parms.io_timeout);
            if (status < VI_SUCCESS) {
                return status;
            }
            *pWritten += std::min<std::size_t>(reply.size, nChunk);
            if (reply.error != 0) {
                return StatusOfDeviceError(reply.error);
            }
            if (reply.size < nChunk) {
                return VI_ERROR_IO;
            }
        } while (*pWritten < nCount);
        return VI_SUCCESS;
    }

    ViStatus Read(ViByte* pData, std::size_t nMax, const Deadline& deadline,
                  std::size_t* pRead) override {
        *pRead = 0;
        m_bEnded = false;
        if (m_bLost) {
            return VI_ERROR_CONN_LOST;
        }
        Device_ReadParms parms{};
        parms.lid = m_nLink;
        parms.requestSize = static_cast<u_long>(std::min<std::size_t>(nMax, 0x7FFFFFFF));
        parms.io_timeout = RemainingOf(deadline);
        parms.lock_timeout = parms.io_timeout;
        parms.flags = kFlagWaitLock | (m_options.bTermCharEnabled ? kFlagTermCharSet : 0);
        parms.termChar = static_cast<char>(m_options.nTermChar);
        Device_ReadResp reply{};
        const ViStatus status =
            Call(device_read, reinterpret_cast<xdrproc_t>(xdr_Device_ReadParms), &parms,
                 reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp), &reply, parms.io_timeout);
        if (status < VI_SUCCESS) {
            return status;
        }
        const std::size_t nGot = std::min<std::size_t>(reply.data.data_len, nMax);
        if (nGot > 0) {
            std::memcpy(pData, reply.data.data_val, nGot);
        }
        *pRead = nGot;
        // Only END ends the message: a read that stopped at the termination
        // character leaves the rest of the message with the device, and the
        // session tells the two apart by it (END wins over the character).
        m_bEnded = (reply.reason & kReasonEnd) != 0;
        const long nError = reply.error;
        xdr_free(reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp), reinterpret_cast<char*>(&reply));
        if (nError != 0) {
            return StatusOfDeviceError(nError);
        }
        return nGot == 0 && !m_bEnded ? VI_ERROR_IO : VI_SUCCESS;
    }

    bool ReadEndedMessage() const override { return m_bEnded; }

    // Nothing is held below the link: the device keeps its own buffers.
    ViStatus DiscardInput() override { return m_bLost ? VI_ERROR_CONN_LOST : VI_SUCCESS; }
    ViStatus Apply(const LineSettings&) override { return VI_SUCCESS; }

    ViStatus DeviceClear(const Deadline& deadline) override {
        return Generic(device_clear, deadline);
    }
    ViStatus AssertTrigger(const Deadline& deadline) override {
        return Generic(device_trigger, deadline);
    }

    ViStatus ReadStatusByte(ViUInt16* pStatus, const Deadline& deadline) override {
        if (m_bLost) {
            return VI_ERROR_CONN_LOST;
        }
        Device_GenericParms parms = GenericParms(deadline);
        Device_ReadStbResp reply{};
        const ViStatus status =
            Call(device_readstb, reinterpret_cast<xdrproc_t>(xdr_Device_GenericParms), &parms,
                 reinterpret_cast<xdrproc_t>(xdr_Device_ReadStbResp), &reply, parms.io_timeout);
        if (status < VI_SUCCESS) {
            return status;
        }
        if (reply.error != 0) {
            return StatusOfDeviceError(reply.error);
        }
        *pStatus = reply.stb;
        return VI_SUCCESS;
    }

    ViStatus LockDevice(const Deadline& deadline) override {
        if (m_bLost) {
            return VI_ERROR_CONN_LOST;
        }
        Device_LockParms parms{};
        parms.lid = m_nLink;
        parms.lock_timeout = RemainingOf(deadline);
        parms.flags = parms.lock_timeout > 0 ? kFlagWaitLock : 0;
        Device_Error reply{};
        const ViStatus status =
            Call(device_lock, reinterpret_cast<xdrproc_t>(xdr_Device_LockParms), &parms,
                 reinterpret_cast<xdrproc_t>(xdr_Device_Error), &reply, parms.lock_timeout);
        return status < VI_SUCCESS ? status : StatusOfDeviceError(reply.error);
    }

    ViStatus UnlockDevice() override {
        if (m_bLost) {
            return VI_ERROR_CONN_LOST;
        }
        Device_Link nLink = m_nLink;
        Device_Error reply{};
        const ViStatus status =
            Call(device_unlock, reinterpret_cast<xdrproc_t>(xdr_Device_Link), &nLink,
                 reinterpret_cast<xdrproc_t>(xdr_Device_Error), &reply, 0);
        return status < VI_SUCCESS ? status : StatusOfDeviceError(reply.error);
    }

    ViStatus EnableServiceRequests(ViSession vi, bool bEnable, const Deadline& deadline) override {
        if (m_bLost) {
            return VI_ERROR_CONN_LOST;
        }
        if (bEnable && !m_bInterrupts) {
            const ViStatus status = OpenInterruptChannel(deadline);
            if (status < VI_SUCCESS) {
                return status;
            }
        }
        if (!m_bInterrupts) {
            return VI_SUCCESS;
        }
        std::string strHandle = InterruptHandleOf(vi);
        Device_EnableSrqParms parms{};
        parms.lid = m_nLink;
        parms.enable = bEnable ? TRUE : FALSE;
        parms.handle.handle_len = static_cast<u_int>(strHandle.size());
        parms.handle.handle_val = strHandle.data();
        Device_Error reply{};
        const ViStatus status =
            Call(device_enable_srq, reinterpret_cast<xdrproc_t>(xdr_Device_EnableSrqParms), &parms,
                 reinterpret_cast<xdrproc_t>(xdr_Device_Error), &reply, RemainingOf(deadline));
        return status < VI_SUCCESS ? status : StatusOfDeviceError(reply.error);
    }

    void Interrupt() override {
        if (m_fd >= 0) {
            ::shutdown(m_fd, SHUT_RDWR);
        }
    }

    std::string PeerAddress() const override { return m_strPeer; }

  private:
    // The core channel's port from the portmapper (GETPORT over TCP), or 0.
    u_short CorePort(const Deadline& deadline) {
        const int fd = ConnectTo(m_address, m_nAddressLength, kPortmapperPort, deadline);
        if (fd < 0) {
            return 0;
        }
        CLIENT* pClient = ClientOn(fd, m_address, m_nAddressLength, PMAPPROG, PMAPVERS);
        if (pClient == nullptr) {
            return 0;
        }
        pmap query{};
        query.pm_prog = DEVICE_CORE;
        query.pm_vers = DEVICE_CORE_VERSION;
        query.pm_prot = IPPROTO_TCP;
        u_long nPort = 0;
        const timeval tv = RpcTimeout(RemainingOf(deadline));
        const SigpipeBlock block;
        const clnt_stat result =
            clnt_call(pClient, PMAPPROC_GETPORT, reinterpret_cast<xdrproc_t>(xdr_pmap),
                      reinterpret_cast<char*>(&query), reinterpret_cast<xdrproc_t>(xdr_u_long),
                      reinterpret_cast<char*>(&nPort), tv);
        clnt_destroy(pClient);
        return result == RPC_SUCCESS && nPort <= 0xFFFF ? static_cast<u_short>(nPort) : 0;
    }

    // create_intr_chan: the device calls back the process's receiver at the
    // address this link's connection comes from (IPv4 only, as the call
    // carries a 32-bit address).
    ViStatus OpenInterruptChannel(const Deadline& deadline) {
        sockaddr_storage local{};
        socklen_t nLength = sizeof local;
        if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &nLength) != 0 ||
            local.ss_family != AF_INET) {
            return VI_ERROR_NSUP_OPER;
        }
        const std::uint16_t nPort = AcquireInterruptReceiver();
        if (nPort == 0) {
            return VI_ERROR_SYSTEM_ERROR;
        }
        Device_RemoteFunc parms{};
        parms.hostAddr = ntohl(reinterpret_cast<sockaddr_in*>(&local)->sin_addr.s_addr);
        parms.hostPort = nPort;
        parms.progNum = DEVICE_INTR;
        parms.progVers = DEVICE_INTR_VERSION;
        parms.progFamily = DEVICE_TCP;
        Device_Error reply{};
        ViStatus status =
            Call(create_intr_chan, reinterpret_cast<xdrproc_t>(xdr_Device_RemoteFunc), &parms,
                 reinterpret_cast<xdrproc_t>(xdr_Device_Error), &reply, RemainingOf(deadline));
        if (status >= VI_SUCCESS) {
            status = StatusOfDeviceError(reply.error);
        }
        if (status < VI_SUCCESS) {
            ReleaseInterruptReceiver();
            return status;
        }
        m_bInterrupts = true;
        return VI_SUCCESS;
    }

    Device_GenericParms GenericParms(const Deadline& deadline) const {
        Device_GenericParms parms{};
        parms.lid = m_nLink;
        parms.io_timeout = RemainingOf(deadline);
        parms.lock_timeout = parms.io_timeout;
        parms.flags = kFlagWaitLock;
        return parms;
    }

    ViStatus Generic(u_long nProcedure, const Deadline& deadline) {
        if (m_bLost) {
            return VI_ERROR_CONN_LOST;
        }
        Device_GenericParms parms = GenericParms(deadline);
        Device_Error reply{};
        const ViStatus status =
            Call(nProcedure, reinterpret_cast<xdrproc_t>(xdr_Device_GenericParms), &parms,
                 reinterpret_cast<xdrproc_t>(xdr_Device_Error), &reply, parms.io_timeout);
        return status < VI_SUCCESS ? status : StatusOfDeviceError(reply.error);
    }

    // One call on the core channel. A call that outlives its timeout asks
    // the device to abort and reports VI_ERROR_TMO; its late reply carries an
    // old transaction id, which the RPC library skips on the next call. A
    // broken connection marks the link lost for every later call.
    ViStatus Call(u_long nProcedure, xdrproc_t pfnArgs, void* pArgs, xdrproc_t pfnResult,
                  void* pResult, ViUInt32 nDeviceTimeoutMs) {
        if (m_pCore == nullptr) {
            return VI_ERROR_CONN_LOST;
        }
        const SigpipeBlock block;
        const clnt_stat result =
            clnt_call(m_pCore, nProcedure, pfnArgs, static_cast<char*>(pArgs), pfnResult,
                      static_cast<char*>(pResult), RpcTimeout(nDeviceTimeoutMs));
        switch (result) {
            case RPC_SUCCESS:
                return VI_SUCCESS;
            case RPC_TIMEDOUT:
                Abort();
                return VI_ERROR_TMO;
            case RPC_CANTSEND:
            case RPC_CANTRECV:
                m_bLost = true;
                return VI_ERROR_CONN_LOST;
            default:
                return VI_ERROR_IO;
        }
    }

    // device_abort on the abort channel; best effort, with a short timeout.
    void Abort() {
        if (m_nAbortPort == 0 || !m_bLinked) {
            return;
        }
        const Deadline deadline(kCloseTimeoutMs);
        const int fd = ConnectTo(m_address, m_nAddressLength, m_nAbortPort, deadline);
        if (fd < 0) {
            return;
        }
        CLIENT* pClient =
            ClientOn(fd, m_address, m_nAddressLength, DEVICE_ASYNC, DEVICE_ASYNC_VERSION);
        if (pClient == nullptr) {
            return;
        }
        Device_Link nLink = m_nLink;
        Device_Error reply{};
        const SigpipeBlock block;
        clnt_call(pClient, device_abort, reinterpret_cast<xdrproc_t>(xdr_Device_Link),
                  reinterpret_cast<char*>(&nLink), reinterpret_cast<xdrproc_t>(xdr_Device_Error),
                  reinterpret_cast<char*>(&reply), RpcTimeout(0));
        clnt_destroy(pClient);
    }

    sockaddr_storage m_address{};
    socklen_t m_nAddressLength = 0;
    std::string m_strPeer;
    CLIENT* m_pCore = nullptr;
    int m_fd = -1;
    Device_Link m_nLink = 0;
    bool m_bLinked = false;
    bool m_bLost = false;
    bool m_bEnded = false;
    bool m_bInterrupts = false;  // an interrupt channel is open and holds the receiver
    u_short m_nAbortPort = 0;
    u_long m_nMaxRecvSize = kDefaultMaxRecvSize;
    MessageOptions m_options;
};

}  // namespace

std::unique_ptr<Transport> CreateVxi11Transport() {
    return std::make_unique<Vxi11Transport>();
}

}  // namespace tkvisa
