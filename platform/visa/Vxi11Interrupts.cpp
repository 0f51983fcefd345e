// The interrupt channel's RPC server. It serves its own sockets rather than
// the RPC library's process-wide service tables, which belong to the
// application the layer is loaded into (and whose unregistering talks to the
// local rpcbind): record marking is done here, over bounded buffers, and the
// library decodes each reassembled record from memory.
//
// Whoever can reach the port could otherwise raise service requests or make
// the process allocate what a length field claims, so: the socket listens on
// the link's own address only; a connection from any host but a registered
// device is closed before a byte is read; handles are 128 random bits; a
// record is at most kMaxRecord bytes and a handle at most kMaxHandleLength;
// connections are at most kMaxConnections, all served by one poll loop.
#include "Vxi11Interrupts.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>

#include <rpc/rpc.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "Events.h"
#include "RpcClient.h"
#include "vxi11.h"

namespace tkvisa {
namespace {

constexpr std::size_t kHandleBytes = 16;
// VXI-11 handles are at most 40 bytes; a device_intr_srq call is well under
// 200 bytes, so 4 KiB leaves room for any credentials a device might send.
constexpr u_int kMaxHandleLength = 40;
constexpr std::size_t kMaxRecord = 4096;
constexpr std::size_t kMaxConnections = 64;
// Requests of one session not yet posted; the session keeps at most
// kMaxEventQueueLength events, so more would only be dropped later.
constexpr int kMaxPendingEvents = static_cast<int>(kMaxEventQueueLength);
// A caller that leaves its replies unread this long is closed.
constexpr std::int64_t kStuckOutputMs = 2000;
using tkrpc::kLastFragment;

// A listening socket on one local address, shared by the links whose
// connections come from that address.
struct ListenSocket {
    tknet::Fd fd;
    tknet::Address local;
    int nHolds = 0;     // guarded by Run::mutex
    bool bOpen = true;  // guarded by Run::mutex; false once the last hold went
};
using ListenPtr = std::shared_ptr<ListenSocket>;

struct Registration {
    ViSession vi = VI_NULL;
    ListenPtr pListen;
    tknet::Address device;
};

struct Run;
void PostRequests(const std::shared_ptr<Run>& pRun, ViSession vi);

// One run of the receiver: from the first hold to the last release. Its
// threads are detached and share the run, so stopping never waits for them:
// a handler may be blocked on the very session whose close stops the
// receiver.
struct Run : std::enable_shared_from_this<Run> {
    tknet::WakePipe wake;
    std::mutex mutex;  // guards the members below
    bool bStopping = false;
    std::vector<ListenPtr> vecListens;
    std::map<std::string, Registration> mapHandles;
    // Requests waiting per session, and the sessions whose poster runs.
    std::map<ViSession, int> mapPending;
    std::set<ViSession> setPosting;

    // Whether a connection from peer to pListen comes from a device of a link on it.
    bool Admits(const ListenPtr& pListen, const tknet::Address& peer) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!pListen->bOpen) {
            return false;
        }
        for (const auto& [strHandle, registration] : mapHandles) {
            if (registration.pListen == pListen && registration.device.SameHost(peer)) {
                return true;
            }
        }
        return false;
    }

    // The session a handle names, if it was registered for this socket and peer.
    ViSession SessionOf(const std::string& strHandle, const ListenPtr& pListen,
                        const tknet::Address& peer) {
        std::lock_guard<std::mutex> lock(mutex);
        const auto it = mapHandles.find(strHandle);
        if (it == mapHandles.end() || it->second.pListen != pListen ||
            !it->second.device.SameHost(peer)) {
            return VI_NULL;
        }
        return it->second.vi;
    }

    // Whether a link of session vi still holds a handle. mutex is held.
    bool Registered(ViSession vi) const {
        for (const auto& [strHandle, registration] : mapHandles) {
            if (registration.vi == vi) {
                return true;
            }
        }
        return false;
    }

    // Hands requests to their sessions' posters, starting one where none
    // runs. Each session has its own, so a handler that blocks holds up
    // neither the receiver nor another session's requests; the threads
    // number at most the sessions with requests waiting.
    void QueueEvents(const std::vector<ViSession>& vecSessions) {
        std::lock_guard<std::mutex> lock(mutex);
        for (ViSession vi : vecSessions) {
            if (bStopping || !Registered(vi)) {
                continue;  // the link went while the reply was on its way
            }
            int& nPending = mapPending[vi];
            nPending = std::min(nPending + 1, kMaxPendingEvents);
            if (setPosting.insert(vi).second) {
                try {
                    std::thread([pRun = shared_from_this(), vi] {
                        PostRequests(pRun, vi);
                    }).detach();
                } catch (const std::system_error&) {
                    setPosting.erase(vi);  // no thread to spare: the request is lost
                    mapPending.erase(vi);
                }
            }
        }
    }
};
using RunPtr = std::shared_ptr<Run>;

// Reassembles ONC RPC records from the bytes of a stream: each fragment has
// a 4-byte mark (last-fragment bit, 31-bit length). A record that would grow
// past kMaxRecord is refused before any of it is stored.
class RecordReader {
  public:
    // Takes nCount bytes; onRecord(record) runs for each complete record and
    // returns false to give up. False when the stream is refused.
    template <typename OnRecord>
    bool Feed(const char* pData, std::size_t nCount, OnRecord&& onRecord) {
        while (nCount > 0) {
            if (!m_bInFragment) {
                const std::size_t nTake = std::min(nCount, sizeof m_achMark - m_nMark);
                std::memcpy(m_achMark + m_nMark, pData, nTake);
                m_nMark += nTake;
                pData += nTake;
                nCount -= nTake;
                if (m_nMark < sizeof m_achMark) {
                    break;
                }
                m_nMark = 0;
                const std::uint32_t nMark =
                    tkrpc::RecordMarkOf(reinterpret_cast<const unsigned char*>(m_achMark));
                m_bLast = (nMark & kLastFragment) != 0;
                m_nLeft = nMark & ~kLastFragment;
                if (m_nLeft > kMaxRecord - m_strRecord.size()) {
                    return false;
                }
                m_bInFragment = true;
            } else {
                const std::size_t nTake = std::min<std::size_t>(nCount, m_nLeft);
                m_strRecord.append(pData, nTake);
                m_nLeft -= nTake;
                pData += nTake;
                nCount -= nTake;
            }
            if (m_bInFragment && m_nLeft == 0) {
                m_bInFragment = false;
                if (m_bLast) {
                    if (!onRecord(m_strRecord)) {
                        return false;
                    }
                    m_strRecord.clear();
                }
            }
        }
        return true;
    }

  private:
    unsigned char m_achMark[4] = {};
    std::size_t m_nMark = 0;
    bool m_bInFragment = false;
    bool m_bLast = false;
    std::size_t m_nLeft = 0;
    std::string m_strRecord;
};

// Decodes one call from a record and appends its reply, record mark
// included, to *pOut. *pSession names the session a service request is for,
// or VI_NULL. False when the record is no call or claims a longer handle
// than VXI-11 allows: the connection is closed.
bool ServeCall(std::string& strRecord, Run& run, const ListenPtr& pListen,
               const tknet::Address& peer, std::string* pOut, ViSession* pSession) {
    *pSession = VI_NULL;
    XDR in{};
    xdrmem_create(&in, strRecord.data(), static_cast<u_int>(strRecord.size()), XDR_DECODE);
    char achCred[MAX_AUTH_BYTES];
    char achVerf[MAX_AUTH_BYTES];
    rpc_msg call{};
    call.rm_call.cb_cred.oa_base = achCred;
    call.rm_call.cb_verf.oa_base = achVerf;
    if (!xdr_callmsg(&in, &call) || call.rm_direction != CALL) {
        return false;
    }
    rpc_msg reply = tkrpc::AcceptedReply(call.rm_xid);
    if (call.rm_call.cb_prog != DEVICE_INTR) {
        reply.acpted_rply.ar_stat = PROG_UNAVAIL;
    } else if (call.rm_call.cb_vers != DEVICE_INTR_VERSION) {
        reply.acpted_rply.ar_stat = PROG_MISMATCH;
        reply.acpted_rply.ar_vers.low = DEVICE_INTR_VERSION;
        reply.acpted_rply.ar_vers.high = DEVICE_INTR_VERSION;
    } else if (call.rm_call.cb_proc == device_intr_srq) {
        // The generated routine takes the handle's length on trust and
        // allocates it before reading: the length is checked first.
        const u_int nPosition = XDR_GETPOS(&in);
        u_int nHandleLength = 0;
        if (xdr_u_int(&in, &nHandleLength) && nHandleLength > kMaxHandleLength) {
            return false;
        }
        XDR_SETPOS(&in, nPosition);
        Device_SrqParms parms{};
        if (!xdr_Device_SrqParms(&in, &parms)) {
            reply.acpted_rply.ar_stat = GARBAGE_ARGS;
        } else if (parms.handle.handle_val != nullptr) {
            // An unknown handle is acknowledged and ignored: a device may
            // learn late that a link disabled its requests.
            *pSession = run.SessionOf(std::string(parms.handle.handle_val, parms.handle.handle_len),
                                      pListen, peer);
        }
        xdr_free(reinterpret_cast<xdrproc_t>(xdr_Device_SrqParms), reinterpret_cast<char*>(&parms));
    } else if (call.rm_call.cb_proc != NULLPROC) {
        reply.acpted_rply.ar_stat = PROC_UNAVAIL;
    }
    char achReply[4 + 64];
    XDR out{};
    xdrmem_create(&out, achReply + 4, sizeof achReply - 4, XDR_ENCODE);
    if (!xdr_replymsg(&out, &reply)) {
        return false;
    }
    tkrpc::PutRecordMark(reinterpret_cast<unsigned char*>(achReply), XDR_GETPOS(&out));
    pOut->append(achReply, 4 + XDR_GETPOS(&out));
    return true;
}

// One connection from a device.
struct Connection {
    tknet::Fd fd;
    ListenPtr pListen;
    tknet::Address peer;
    RecordReader reader;
    std::string strOut;                // replies not yet sent
    std::vector<ViSession> vecEvents;  // posted once the replies before them went out
    std::int64_t nStuckSinceMs = 0;    // when strOut last made no progress
};
using ConnectionPtr = std::unique_ptr<Connection>;

// Sends what the connection owes; false when it broke. Events follow their
// replies, so that the device never waits on a handler.
bool Flush(Run& run, Connection& connection) {
    if (!connection.strOut.empty()) {
        const ssize_t n = ::send(connection.fd.Get(), connection.strOut.data(),
                                 connection.strOut.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        if (n > 0) {
            connection.strOut.erase(0, static_cast<std::size_t>(n));
            connection.nStuckSinceMs = tknet::NowMs();
        }
    }
    if (connection.strOut.empty() && !connection.vecEvents.empty()) {
        run.QueueEvents(connection.vecEvents);
        connection.vecEvents.clear();
    }
    return true;
}

// Reads what arrived and answers each complete call; false to close. Input
// is read only while no reply is owed, so a caller that does not read its
// replies stops being read.
bool Serve(Run& run, Connection& connection, short nEvents) {
    if ((nEvents & POLLOUT) != 0 || !connection.strOut.empty()) {
        return Flush(run, connection);
    }
    char buffer[kMaxRecord];
    std::size_t nGot = 0;
    if (tknet::ReceiveNow(connection.fd.Get(), buffer, sizeof buffer, &nGot) !=
        tknet::Result::kOk) {
        return false;
    }
    const bool bAccepted = connection.reader.Feed(buffer, nGot, [&](std::string& strRecord) {
        ViSession vi = VI_NULL;
        if (!ServeCall(strRecord, run, connection.pListen, connection.peer, &connection.strOut,
                       &vi)) {
            return false;
        }
        if (vi != VI_NULL) {
            connection.vecEvents.push_back(vi);
        }
        return true;
    });
    connection.nStuckSinceMs = tknet::NowMs();
    return bAccepted && Flush(run, connection);
}

// Accepts what waits on one listening socket. A connection from anyone but
// a registered device is closed unread, as is one beyond kMaxConnections.
// False when the process is out of descriptors.
bool AcceptFrom(Run& run, const ListenPtr& pListen, std::vector<ConnectionPtr>& vecConnections) {
    for (std::size_t i = 0; i < kMaxConnections; ++i) {
        tknet::Address peer;
        peer.nLength = sizeof peer.storage;
        tknet::Fd fd(::accept4(pListen->fd.Get(), reinterpret_cast<sockaddr*>(&peer.storage),
                               &peer.nLength, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!fd) {
            return errno != EMFILE && errno != ENFILE && errno != ENOBUFS && errno != ENOMEM;
        }
        if (vecConnections.size() >= kMaxConnections || !run.Admits(pListen, peer)) {
            continue;  // fd closes here
        }
        auto pConnection = std::make_unique<Connection>();
        pConnection->fd = std::move(fd);
        pConnection->pListen = pListen;
        pConnection->peer = peer;
        vecConnections.push_back(std::move(pConnection));
    }
    return true;
}

void ServeLoop(const RunPtr& pRun) {
    Run& run = *pRun;
    std::vector<ConnectionPtr> vecConnections;
    std::vector<pollfd> vecPoll;
    bool bBackOff = false;
    for (;;) {
        std::vector<ListenPtr> vecListens;
        {
            std::lock_guard<std::mutex> lock(run.mutex);
            if (run.bStopping) {
                return;
            }
            vecListens = run.vecListens;
            // The last link on an address took its device's connections with it.
            std::erase_if(vecConnections,
                          [](const ConnectionPtr& p) { return !p->pListen->bOpen; });
        }
        const std::int64_t nNowMs = tknet::NowMs();
        std::erase_if(vecConnections, [&](const ConnectionPtr& p) {
            return !p->strOut.empty() && nNowMs - p->nStuckSinceMs > kStuckOutputMs;
        });
        vecPoll.clear();
        vecPoll.push_back({run.wake.ReadFd(), POLLIN, 0});
        bool bOwing = false;
        for (const ConnectionPtr& p : vecConnections) {
            vecPoll.push_back(
                {p->fd.Get(), static_cast<short>(p->strOut.empty() ? POLLIN : POLLOUT), 0});
            bOwing = bOwing || !p->strOut.empty();
        }
        if (!bBackOff) {
            for (const ListenPtr& p : vecListens) {
                vecPoll.push_back({p->fd.Get(), POLLIN, 0});
            }
        }
        const int nTimeoutMs = bBackOff ? 100 : (bOwing ? 500 : -1);
        bBackOff = false;
        if (::poll(vecPoll.data(), vecPoll.size(), nTimeoutMs) <= 0) {
            continue;
        }
        if ((vecPoll[0].revents & POLLIN) != 0) {
            run.wake.Drain();
        }
        std::size_t nIndex = 1;
        for (ConnectionPtr& p : vecConnections) {
            const short nEvents = vecPoll[nIndex++].revents;
            if (nEvents != 0 && !Serve(run, *p, nEvents)) {
                p.reset();
            }
        }
        std::erase(vecConnections, nullptr);
        for (const ListenPtr& p : vecListens) {
            if (nIndex < vecPoll.size() && (vecPoll[nIndex++].revents & POLLIN) != 0 &&
                !AcceptFrom(run, p, vecConnections)) {
                bBackOff = true;  // out of descriptors: let some go first
            }
        }
    }
}

// Posts session vi's waiting requests, one at a time, until none is left.
void PostRequests(const std::shared_ptr<Run>& pRun, ViSession vi) {
    Run& run = *pRun;
    std::unique_lock<std::mutex> lock(run.mutex);
    for (;;) {
        const auto it = run.mapPending.find(vi);
        if (run.bStopping || it == run.mapPending.end() || it->second == 0) {
            run.mapPending.erase(vi);
            run.setPosting.erase(vi);
            return;
        }
        --it->second;
        lock.unlock();
        EventData event;
        event.nType = VI_EVENT_SERVICE_REQ;
        PostEvent(vi, event);
        lock.lock();
    }
}

// kHandleBytes from the kernel's random source, or empty.
std::string RandomHandle() {
    std::string strHandle(kHandleBytes, '\0');
    std::size_t nDone = 0;
    while (nDone < strHandle.size()) {
        const ssize_t n = ::getrandom(strHandle.data() + nDone, strHandle.size() - nDone, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return {};
        }
        nDone += static_cast<std::size_t>(n);
    }
    return strHandle;
}

ListenPtr OpenListenSocket(const tknet::Address& local) {
    auto pListen = std::make_shared<ListenSocket>();
    pListen->fd.Reset(::socket(local.Family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const tknet::Address address = local.WithPort(0);
    // Calls and replies are a few dozen bytes: small buffers, which the
    // connections inherit, bound what a peer can park in the kernel and
    // make one that does not read its replies stall soon.
    const int nBuffer = 16384;
    if (pListen->fd) {
        ::setsockopt(pListen->fd.Get(), SOL_SOCKET, SO_RCVBUF, &nBuffer, sizeof nBuffer);
        ::setsockopt(pListen->fd.Get(), SOL_SOCKET, SO_SNDBUF, &nBuffer, sizeof nBuffer);
    }
    if (!pListen->fd || ::bind(pListen->fd.Get(), address.Raw(), address.nLength) != 0 ||
        ::listen(pListen->fd.Get(), static_cast<int>(kMaxConnections)) != 0 ||
        !tknet::LocalAddressOf(pListen->fd.Get(), &pListen->local)) {
        return nullptr;
    }
    return pListen;
}

class InterruptReceiver {
  public:
    static InterruptReceiver& Instance() {
        static InterruptReceiver* pReceiver = new InterruptReceiver;  // outlives static destructors
        return *pReceiver;
    }

    bool Acquire(const tknet::Address& local, const tknet::Address& device, ViSession vi,
                 InterruptChannel* pChannel) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_pRun && !Start()) {
            return false;
        }
        const RunPtr pRun = m_pRun;  // outlives the lock below when the run stops
        Run& run = *pRun;
        std::lock_guard<std::mutex> runLock(run.mutex);
        std::string strHandle;
        do {
            strHandle = RandomHandle();
        } while (!strHandle.empty() && run.mapHandles.count(strHandle) != 0);
        ListenPtr pListen;
        for (const ListenPtr& p : run.vecListens) {
            if (p->local.SameHost(local)) {
                pListen = p;
            }
        }
        if (!pListen && !strHandle.empty()) {
            pListen = OpenListenSocket(local);
            if (pListen) {
                run.vecListens.push_back(pListen);
                run.wake.Wake();
            }
        }
        if (strHandle.empty() || !pListen) {
            StopIfIdle();
            return false;
        }
        ++pListen->nHolds;
        run.mapHandles[strHandle] = Registration{vi, pListen, device};
        pChannel->nPort = pListen->local.Port();
        pChannel->strHandle = strHandle;
        return true;
    }

    void Release(InterruptChannel* pChannel) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_pRun || pChannel->strHandle.empty()) {
            return;
        }
        const RunPtr pRun = m_pRun;  // outlives the lock below when the run stops
        Run& run = *pRun;
        std::lock_guard<std::mutex> runLock(run.mutex);
        const auto it = run.mapHandles.find(pChannel->strHandle);
        *pChannel = InterruptChannel{};
        if (it == run.mapHandles.end()) {
            return;
        }
        const ListenPtr pListen = it->second.pListen;
        // Requests not yet posted die with the link: the session's number
        // may come back for another session.
        run.mapPending.erase(it->second.vi);
        run.mapHandles.erase(it);
        if (--pListen->nHolds == 0) {
            pListen->bOpen = false;
            std::erase(run.vecListens, pListen);
            run.wake.Wake();
        }
        StopIfIdle();
    }

  private:
    // Starts a run and its serving thread. m_mutex is held.
    bool Start() {
        auto pRun = std::make_shared<Run>();
        if (!pRun->wake.Valid()) {
            return false;
        }
        try {
            std::thread([pRun] { ServeLoop(pRun); }).detach();
        } catch (const std::system_error&) {
            return false;
        }
        m_pRun = std::move(pRun);
        return true;
    }

    // Stops the run once nothing holds it. m_mutex and the run's mutex are held.
    void StopIfIdle() {
        if (!m_pRun->mapHandles.empty()) {
            return;
        }
        m_pRun->bStopping = true;
        m_pRun->wake.Wake();
        m_pRun.reset();
    }

    std::mutex m_mutex;
    RunPtr m_pRun;
};

}  // namespace

bool AcquireInterruptChannel(const tknet::Address& local, const tknet::Address& device,
                             ViSession vi, InterruptChannel* pChannel) {
    return InterruptReceiver::Instance().Acquire(local, device, vi, pChannel);
}

void ReleaseInterruptChannel(InterruptChannel* pChannel) {
    InterruptReceiver::Instance().Release(pChannel);
}

}  // namespace tkvisa
