// The interrupt channel's RPC server. It serves its own sockets with the RPC
// library's record streams and message routines rather than the library's
// process-wide service tables, which belong to the application the layer is
// loaded into (and whose unregistering talks to the local rpcbind).
#include "Vxi11Interrupts.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <rpc/rpc.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <thread>

#include "Events.h"
#include "vxi11.h"

namespace tkvisa {
namespace {

// A handle: the magic bytes, then the session handle, most significant first.
constexpr char kHandleMagic[] = {'T', 'K'};
constexpr std::size_t kHandleLength = sizeof kHandleMagic + 4;

bool_t XdrNothing(XDR*, void*) {
    return TRUE;
}

// One run of the receiver: its listening socket and the pipe that wakes its
// threads to stop. The threads are detached and share the run, so stopping
// never waits for them: a handler still running on one of them may be
// blocked on the very session whose close stops the receiver.
struct Run {
    int fdListen = -1;
    int fdWakeRead = -1;
    int fdWakeWrite = -1;
    std::uint16_t nPort = 0;
    ~Run() {
        for (int fd : {fdListen, fdWakeRead, fdWakeWrite}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    // Waits for fd to be readable; false once the run stops.
    bool WaitReadable(int fd) const {
        pollfd afds[2] = {{fd, POLLIN, 0}, {fdWakeRead, POLLIN, 0}};
        for (;;) {
            const int n = ::poll(afds, 2, -1);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return n > 0 && (afds[1].revents & POLLIN) == 0;
        }
    }
};
using RunPtr = std::shared_ptr<Run>;

struct Stream {
    RunPtr pRun;
    int fd;
};

int ReadRecord(void* pHandle, void* pBuffer, int nLength) {
    auto* p = static_cast<Stream*>(pHandle);
    if (!p->pRun->WaitReadable(p->fd)) {
        return -1;
    }
    const ssize_t n = ::read(p->fd, pBuffer, static_cast<size_t>(nLength));
    return n > 0 ? static_cast<int>(n) : -1;
}

int WriteRecord(void* pHandle, void* pBuffer, int nLength) {
    auto* p = static_cast<Stream*>(pHandle);
    const char* pData = static_cast<const char*>(pBuffer);
    int nDone = 0;
    while (nDone < nLength) {
        const ssize_t n =
            ::send(p->fd, pData + nDone, static_cast<size_t>(nLength - nDone), MSG_NOSIGNAL);
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

// Decodes one call and encodes its reply; *pSession names the session a
// service request is for, or VI_NULL. False when the call cannot be decoded.
bool ServeCall(XDR& xdrs, ViSession* pSession) {
    *pSession = VI_NULL;
    char achCred[MAX_AUTH_BYTES];
    char achVerf[MAX_AUTH_BYTES];
    rpc_msg call{};
    call.rm_call.cb_cred.oa_base = achCred;
    call.rm_call.cb_verf.oa_base = achVerf;
    if (!xdr_callmsg(&xdrs, &call) || call.rm_direction != CALL) {
        return false;
    }
    rpc_msg reply{};
    reply.rm_xid = call.rm_xid;
    reply.rm_direction = REPLY;
    reply.rm_reply.rp_stat = MSG_ACCEPTED;
    reply.acpted_rply.ar_verf = _null_auth;
    reply.acpted_rply.ar_stat = SUCCESS;
    reply.acpted_rply.ar_results.proc = reinterpret_cast<xdrproc_t>(XdrNothing);
    reply.acpted_rply.ar_results.where = nullptr;
    if (call.rm_call.cb_prog != DEVICE_INTR) {
        reply.acpted_rply.ar_stat = PROG_UNAVAIL;
    } else if (call.rm_call.cb_vers != DEVICE_INTR_VERSION) {
        reply.acpted_rply.ar_stat = PROG_MISMATCH;
        reply.acpted_rply.ar_vers.low = DEVICE_INTR_VERSION;
        reply.acpted_rply.ar_vers.high = DEVICE_INTR_VERSION;
    } else if (call.rm_call.cb_proc == device_intr_srq) {
        Device_SrqParms parms{};
        if (!xdr_Device_SrqParms(&xdrs, &parms)) {
            reply.acpted_rply.ar_stat = GARBAGE_ARGS;
        } else if (!SessionOfInterruptHandle(parms.handle.handle_val, parms.handle.handle_len,
                                             pSession)) {
            *pSession = VI_NULL;  // not a handle of ours: acknowledged, ignored
        }
        xdr_free(reinterpret_cast<xdrproc_t>(xdr_Device_SrqParms), reinterpret_cast<char*>(&parms));
    } else if (call.rm_call.cb_proc != NULLPROC) {
        reply.acpted_rply.ar_stat = PROC_UNAVAIL;
    }
    xdrs.x_op = XDR_ENCODE;
    return xdr_replymsg(&xdrs, &reply);
}

// One connection from a device. Each call is answered before its event is
// posted, so that the device never waits on a handler.
void ServeConnection(RunPtr pRun, int fd) {
    Stream stream{std::move(pRun), fd};
    XDR xdrs{};
    xdrrec_create(&xdrs, 0, 0, reinterpret_cast<char*>(&stream), ReadRecord, WriteRecord);
    for (;;) {
        xdrs.x_op = XDR_DECODE;
        ViSession vi = VI_NULL;
        if (!xdrrec_skiprecord(&xdrs) || !ServeCall(xdrs, &vi) ||
            !xdrrec_endofrecord(&xdrs, TRUE)) {
            break;
        }
        if (vi != VI_NULL) {
            EventData event;
            event.nType = VI_EVENT_SERVICE_REQ;
            PostEvent(vi, event);
        }
    }
    xdr_destroy(&xdrs);
    ::close(fd);
}

void AcceptLoop(const RunPtr& pRun) {
    while (pRun->WaitReadable(pRun->fdListen)) {
        const int fd = ::accept4(pRun->fdListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        const int nOne = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof nOne);
        std::thread(ServeConnection, pRun, fd).detach();
    }
}

RunPtr StartRun() {
    auto pRun = std::make_shared<Run>();
    int afdPipe[2];
    if (::pipe2(afdPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return nullptr;
    }
    pRun->fdWakeRead = afdPipe[0];
    pRun->fdWakeWrite = afdPipe[1];
    // Any address: the device connects back to the address its link came
    // from, which the link names in create_intr_chan.
    pRun->fdListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t nLength = sizeof address;
    if (pRun->fdListen < 0 ||
        ::bind(pRun->fdListen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(pRun->fdListen, 8) != 0 ||
        ::getsockname(pRun->fdListen, reinterpret_cast<sockaddr*>(&address), &nLength) != 0) {
        return nullptr;
    }
    pRun->nPort = ntohs(address.sin_port);
    std::thread([pRun] { AcceptLoop(pRun); }).detach();
    return pRun;
}

class InterruptReceiver {
  public:
    static InterruptReceiver& Instance() {
        static InterruptReceiver* pReceiver = new InterruptReceiver;  // outlives static destructors
        return *pReceiver;
    }

    std::uint16_t Acquire() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_nHolds == 0) {
            m_pRun = StartRun();
            if (!m_pRun) {
                return 0;
            }
        }
        ++m_nHolds;
        return m_pRun->nPort;
    }

    void Release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_nHolds == 0 || --m_nHolds > 0) {
            return;
        }
        const char c = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_pRun->fdWakeWrite, &c, 1);
        m_pRun.reset();
    }

  private:
    std::mutex m_mutex;
    int m_nHolds = 0;
    RunPtr m_pRun;
};

}  // namespace

std::uint16_t AcquireInterruptReceiver() {
    return InterruptReceiver::Instance().Acquire();
}

void ReleaseInterruptReceiver() {
    InterruptReceiver::Instance().Release();
}

std::string InterruptHandleOf(ViSession vi) {
    std::string strHandle(kHandleMagic, sizeof kHandleMagic);
    for (int nShift = 24; nShift >= 0; nShift -= 8) {
        strHandle.push_back(static_cast<char>((vi >> nShift) & 0xFF));
    }
    return strHandle;
}

bool SessionOfInterruptHandle(const char* pData, std::size_t nLength, ViSession* pSession) {
    if (pData == nullptr || nLength != kHandleLength || pData[0] != kHandleMagic[0] ||
        pData[1] != kHandleMagic[1]) {
        return false;
    }
    ViSession vi = 0;
    for (std::size_t i = sizeof kHandleMagic; i < kHandleLength; ++i) {
        vi = (vi << 8) | static_cast<unsigned char>(pData[i]);
    }
    *pSession = vi;
    return vi != VI_NULL;
}

}  // namespace tkvisa
