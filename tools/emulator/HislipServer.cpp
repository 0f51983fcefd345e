#include "HislipServer.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "HislipMessage.h"
#include "Socket.h"

namespace emu {
namespace {

namespace hs = tkvisa::hislip;
using hs::Header;
using hs::MessageType;

// The largest message (header included) the server takes and announces.
constexpr std::uint64_t kServerMaxMessage = 1024 * 1024;
constexpr std::uint16_t kServerVendorId = ('N' << 8) | 'V';
// A lock request or a message held by another session's lock waits at most
// this long.
constexpr std::uint32_t kMaxWaitMs = 10000;

}  // namespace

struct HislipServer::Impl {
    struct Session {
        std::uint16_t nId = 0;
        int fdSync = -1;  // owned by the connection that initialized the session
        // Owned by the connection that joined the session; set and cleared
        // under mutexAsyncWrite, which replies and service requests share.
        std::atomic<int> fdAsync{-1};
        std::mutex mutexAsyncWrite;
        std::string strIn;  // bytes of a message not yet complete
        std::uint64_t nClientMax = kServerMaxMessage;
        bool bOverlap = false;
        bool bClearing = false;  // between AsyncDeviceClear and DeviceClearComplete
        bool bClosed = false;
        std::optional<std::string> sharedKey;  // the shared lock this session holds
    };
    using SessionPtr = std::shared_ptr<Session>;

    struct Connection {
        int fd = -1;
    };

    explicit Impl(Vxi11Backend& backendIn) : backend(backendIn) {}

    Vxi11Backend& backend;
    std::optional<tknet::Listener> listener;
    int fdWakeRead = -1;  // the listener's: Stop() wakes every wait on it
    unsigned short nPort = 0;

    mutable std::mutex mutex;  // guards the sessions, the locks and the faults
    std::condition_variable cvChange;
    std::map<std::uint16_t, SessionPtr> mapSessions;
    std::uint16_t nNextId = 1;
    std::uint16_t nExclusiveOwner = 0;  // the session holding the exclusive lock, or 0
    bool bStopping = false;
    std::optional<std::pair<int, bool>> injected;  // code, fatal

    // ----- stream ----------------------------------------------------------

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

    bool ReadExact(int fd, void* pBuffer, std::size_t nCount) {
        auto* p = static_cast<std::uint8_t*>(pBuffer);
        while (nCount > 0) {
            if (!WaitReadable(fd)) {
                return false;
            }
            const ssize_t n = ::recv(fd, p, nCount, 0);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            p += n;
            nCount -= static_cast<std::size_t>(n);
        }
        return true;
    }

    static bool SendAll(int fd, const std::string& strBytes) {
        std::size_t nDone = 0;
        while (nDone < strBytes.size()) {
            const ssize_t n =
                ::send(fd, strBytes.data() + nDone, strBytes.size() - nDone, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            nDone += static_cast<std::size_t>(n);
        }
        return true;
    }

    static bool Send(int fd, MessageType eType, std::uint8_t nControl, std::uint32_t nParameter,
                     std::string_view strPayload = {}) {
        return SendAll(fd, hs::EncodeMessage(eType, nControl, nParameter, strPayload));
    }

    bool SendAsync(Session& session, MessageType eType, std::uint8_t nControl,
                   std::uint32_t nParameter, std::string_view strPayload = {}) {
        std::lock_guard<std::mutex> lock(session.mutexAsyncWrite);
        return session.fdAsync >= 0 &&
               Send(session.fdAsync, eType, nControl, nParameter, strPayload);
    }

    // Reads one message; false on a closed connection, the stop signal, or a
    // header without the prologue (answered with a FatalError). Payloads over
    // the server's maximum are read and dropped, and flagged in bTooLarge.
    bool ReadMessage(int fd, Header& header, std::string& strPayload, bool& bTooLarge) {
        std::uint8_t achHeader[hs::kHeaderSize];
        if (!ReadExact(fd, achHeader, sizeof achHeader)) {
            return false;
        }
        if (!hs::DecodeHeader(achHeader, header)) {
            Send(fd, MessageType::FatalError,
                 static_cast<std::uint8_t>(hs::FatalCode::PoorlyFormedHeader), 0,
                 "poorly formed message header");
            return false;
        }
        bTooLarge = header.nLength > kServerMaxMessage - hs::kHeaderSize;
        const bool bData =
            header.Type() == MessageType::Data || header.Type() == MessageType::DataEnd;
        if (bTooLarge && !bData) {
            // Only data may be too large (it is then read and dropped); a
            // control message that long is a peer out of step or lying.
            Send(fd, MessageType::FatalError,
                 static_cast<std::uint8_t>(hs::FatalCode::PoorlyFormedHeader), 0,
                 "payload length " + std::to_string(header.nLength) + " of a " +
                     hs::MessageTypeName(header.nType) + " message");
            return false;
        }
        strPayload.clear();
        std::uint64_t nLeft = header.nLength;
        char achChunk[8192];
        while (nLeft > 0) {
            const std::size_t nTake =
                static_cast<std::size_t>(std::min<std::uint64_t>(nLeft, sizeof achChunk));
            if (!ReadExact(fd, achChunk, nTake)) {
                return false;
            }
            if (!bTooLarge) {
                strPayload.append(achChunk, nTake);
            }
            nLeft -= nTake;
        }
        return true;
    }

    void Trace(const Session& session, const char* pszDirection, const Header& header) {
        backend.Trace(session.nId, pszDirection,
                      "HiSLIP " + hs::MessageTypeName(header.nType) + " control " +
                          std::to_string(header.nControl) + " parameter " +
                          std::to_string(header.nParameter));
    }

    // ----- sessions --------------------------------------------------------

    // Ends the session when its synchronous channel ends: closes the
    // asynchronous channel too and releases its locks.
    void Drop(Session& session) {
        std::lock_guard<std::mutex> lock(mutex);
        session.bClosed = true;
        if (session.fdSync >= 0) {
            ::shutdown(session.fdSync, SHUT_RDWR);
        }
        {
            std::lock_guard<std::mutex> lockWrite(session.mutexAsyncWrite);
            if (session.fdAsync >= 0) {
                ::shutdown(session.fdAsync, SHUT_RDWR);
            }
        }
        if (nExclusiveOwner == session.nId) {
            nExclusiveOwner = 0;
        }
        session.sharedKey.reset();
        mapSessions.erase(session.nId);
        cvChange.notify_all();
    }

    bool LockedAgainst(const Session& session) const {
        if (nExclusiveOwner != 0 && nExclusiveOwner != session.nId) {
            return true;
        }
        return false;
    }

    bool SharedByOthers(const Session& session, const std::string* pKey) const {
        for (const auto& entry : mapSessions) {
            if (entry.first != session.nId && entry.second->sharedKey &&
                (pKey == nullptr || *entry.second->sharedKey != *pKey)) {
                return true;
            }
        }
        return false;
    }

    // The injected fault, taken once.
    std::optional<std::pair<int, bool>> TakeInjected() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(injected, std::nullopt);
    }

    // ----- synchronous channel ---------------------------------------------

    // Executes the complete lines of a message and, at its end, the rest;
    // false when the backend drops the session.
    bool Execute(Session& session, const std::string& strPayload, bool bEnd,
                 std::string& strReply) {
        std::vector<std::string> vecLines;
        std::unique_lock<std::mutex> lock(mutex);
        session.strIn += strPayload;
        std::size_t nNewline;
        while ((nNewline = session.strIn.find('\n')) != std::string::npos) {
            vecLines.push_back(session.strIn.substr(0, nNewline));
            session.strIn.erase(0, nNewline + 1);
        }
        if (bEnd && !session.strIn.empty()) {
            vecLines.push_back(session.strIn);
            session.strIn.clear();
        }
        lock.unlock();
        for (const std::string& strLine : vecLines) {
            // Replies leave as soon as their message has run: only an
            // earlier line of the same message is still waiting.
            if (!backend.Execute(session.nId, strLine, strReply, !strReply.empty())) {
                return false;
            }
        }
        return true;
    }

    // Waits out another session's exclusive lock; false on stop or timeout.
    bool WaitForAccess(Session& session) {
        std::unique_lock<std::mutex> lock(mutex);
        return cvChange.wait_for(
                   lock, std::chrono::milliseconds(kMaxWaitMs),
                   [&] { return bStopping || session.bClosed || !LockedAgainst(session); }) &&
               !bStopping && !session.bClosed;
    }

    // Sends the reply to the message with this id in Data messages no larger
    // than the client takes, the last one a DataEND; a device clear or the
    // stop signal during the reply delay drops it.
    bool SendReply(Session& session, const std::string& strReply, std::uint32_t nMessageId) {
        const auto delay = backend.ReplyDelay();
        std::uint64_t nClientMax = kServerMaxMessage;
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (delay.count() > 0 &&
                cvChange.wait_for(lock, delay, [&] { return bStopping || session.bClearing; })) {
                backend.Trace(session.nId, "--", "reply dropped: device clear");
                return !bStopping;
            }
            nClientMax = session.nClientMax;
        }
        const std::size_t nMaxPayload = static_cast<std::size_t>(
            nClientMax > hs::kHeaderSize
                ? std::min<std::uint64_t>(nClientMax - hs::kHeaderSize, kServerMaxMessage)
                : 1);
        backend.Trace(session.nId, "->", strReply);
        std::size_t nDone = 0;
        do {
            const std::size_t nChunk = std::min(nMaxPayload, strReply.size() - nDone);
            const bool bLast = nDone + nChunk == strReply.size();
            if (!Send(session.fdSync, bLast ? MessageType::DataEnd : MessageType::Data, 0,
                      nMessageId, std::string_view(strReply).substr(nDone, nChunk))) {
                return false;
            }
            nDone += nChunk;
        } while (nDone < strReply.size());
        return true;
    }

    void ServeSync(Session& session) {
        for (;;) {
            Header header;
            std::string strPayload;
            bool bTooLarge = false;
            if (!ReadMessage(session.fdSync, header, strPayload, bTooLarge)) {
                return;
            }
            Trace(session, "<=", header);
            if (bTooLarge) {
                Send(session.fdSync, MessageType::Error,
                     static_cast<std::uint8_t>(hs::ErrorCode::MessageTooLarge), 0,
                     "message too large");
                continue;
            }
            const MessageType eType = header.Type();
            if (eType == MessageType::Data || eType == MessageType::DataEnd ||
                eType == MessageType::Trigger) {
                if (const auto fault = TakeInjected()) {
                    if (fault->second) {
                        Send(session.fdSync, MessageType::FatalError,
                             static_cast<std::uint8_t>(fault->first), 0, "injected fatal error");
                        backend.Trace(session.nId, "--", "fatal error (fault injection)");
                        return;
                    }
                    Send(session.fdSync, MessageType::Error,
                         static_cast<std::uint8_t>(fault->first), 0, "injected error");
                    continue;
                }
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    if (session.bClearing) {
                        continue;  // the device is being cleared: input is dropped
                    }
                }
                if (!WaitForAccess(session)) {
                    return;
                }
            }
            switch (eType) {
                case MessageType::Data:
                case MessageType::DataEnd: {
                    std::string strReply;
                    if (!Execute(session, strPayload, eType == MessageType::DataEnd, strReply)) {
                        return;  // abrupt close (fault injection)
                    }
                    if (!strReply.empty() && !SendReply(session, strReply, header.nParameter)) {
                        return;
                    }
                    break;
                }
                case MessageType::Trigger:
                    backend.Trigger();
                    break;
                case MessageType::DeviceClearComplete: {
                    // The server takes the mode the client asks for.
                    const bool bOverlap = (header.nControl & hs::kOverlapBit) != 0;
                    {
                        std::lock_guard<std::mutex> lock(mutex);
                        session.strIn.clear();
                        session.bClearing = false;
                        session.bOverlap = bOverlap;
                    }
                    if (!Send(session.fdSync, MessageType::DeviceClearAcknowledge,
                              bOverlap ? hs::kOverlapBit : 0, 0)) {
                        return;
                    }
                    break;
                }
                default:
                    Send(session.fdSync, MessageType::Error,
                         static_cast<std::uint8_t>(hs::ErrorCode::UnrecognizedMessageType), 0,
                         "unexpected " + hs::MessageTypeName(header.nType) +
                             " on the synchronous channel");
                    break;
            }
        }
    }

    // ----- asynchronous channel --------------------------------------------

    std::uint8_t Lock(Session& session, const Header& header, const std::string& strKey) {
        std::unique_lock<std::mutex> lock(mutex);
        if (header.nControl == hs::kLockRelease) {
            if (nExclusiveOwner == session.nId) {
                nExclusiveOwner = 0;
                cvChange.notify_all();
                return hs::kLockGranted;
            }
            if (session.sharedKey) {
                session.sharedKey.reset();
                cvChange.notify_all();
                return hs::kLockSharedReleased;
            }
            return hs::kLockError;
        }
        if (header.nControl != hs::kLockRequest) {
            return hs::kLockError;
        }
        // A shared lock goes with other holders of the same key; an
        // exclusive one only when no other session holds any lock.
        const bool bShared = !strKey.empty();
        auto Available = [&] {
            return !LockedAgainst(session) && !SharedByOthers(session, bShared ? &strKey : nullptr);
        };
        const auto wait = std::chrono::milliseconds(std::min(header.nParameter, kMaxWaitMs));
        if (!cvChange.wait_for(lock, wait, [&] { return bStopping || Available(); }) || bStopping) {
            return hs::kLockFailed;
        }
        if (bShared) {
            session.sharedKey = strKey;
        } else {
            nExclusiveOwner = session.nId;
        }
        return hs::kLockGranted;
    }

    void ServeAsync(Session& session) {
        for (;;) {
            Header header;
            std::string strPayload;
            bool bTooLarge = false;
            if (!ReadMessage(session.fdAsync, header, strPayload, bTooLarge)) {
                return;
            }
            Trace(session, "<~", header);
            bool bSent = true;
            switch (header.Type()) {
                case MessageType::AsyncLock:
                    bSent = SendAsync(session, MessageType::AsyncLockResponse,
                                      Lock(session, header, strPayload), 0);
                    break;
                case MessageType::AsyncLockInfo: {
                    std::uint8_t nExclusive = 0;
                    std::uint32_t nHolders = 0;
                    {
                        std::lock_guard<std::mutex> lock(mutex);
                        nExclusive = nExclusiveOwner != 0 ? 1 : 0;
                        nHolders = nExclusive;
                        for (const auto& entry : mapSessions) {
                            nHolders += entry.second->sharedKey ? 1 : 0;
                        }
                    }
                    bSent = SendAsync(session, MessageType::AsyncLockInfoResponse, nExclusive,
                                      nHolders);
                    break;
                }
                case MessageType::AsyncStatusQuery:
                    bSent = SendAsync(session, MessageType::AsyncStatusResponse,
                                      static_cast<std::uint8_t>(backend.StatusByte(false)), 0);
                    break;
                case MessageType::AsyncDeviceClear: {
                    std::lock_guard<std::mutex> lock(mutex);
                    session.bClearing = true;
                    session.strIn.clear();
                    cvChange.notify_all();
                }
                    backend.DeviceClear();
                    // The server prefers synchronized mode.
                    bSent = SendAsync(session, MessageType::AsyncDeviceClearAcknowledge, 0, 0);
                    break;
                case MessageType::AsyncMaximumMessageSize:
                    if (strPayload.size() == 8) {
                        std::lock_guard<std::mutex> lock(mutex);
                        session.nClientMax = hs::DecodeSize(
                            reinterpret_cast<const std::uint8_t*>(strPayload.data()));
                    }
                    bSent = SendAsync(session, MessageType::AsyncMaximumMessageSizeResponse, 0, 0,
                                      hs::EncodeSize(kServerMaxMessage));
                    break;
                case MessageType::AsyncRemoteLocalControl:
                    bSent = SendAsync(session, MessageType::AsyncRemoteLocalResponse, 0, 0);
                    break;
                default:
                    bSent = SendAsync(
                        session, MessageType::Error,
                        static_cast<std::uint8_t>(hs::ErrorCode::UnrecognizedMessageType), 0,
                        "unexpected " + hs::MessageTypeName(header.nType) +
                            " on the asynchronous channel");
                    break;
            }
            if (!bSent) {
                return;
            }
        }
    }

    // ----- connections -----------------------------------------------------

    // The first message decides what a connection is: Initialize opens a
    // session and makes it its synchronous channel, AsyncInitialize joins
    // the session it names as its asynchronous channel.
    void ServeConnection(Connection& connection) {
        Header header;
        std::string strPayload;
        bool bTooLarge = false;
        if (!ReadMessage(connection.fd, header, strPayload, bTooLarge)) {
            return;
        }
        if (header.Type() == MessageType::Initialize) {
            auto pSession = std::make_shared<Session>();
            pSession->fdSync = connection.fd;
            {
                std::lock_guard<std::mutex> lock(mutex);
                do {
                    pSession->nId = nNextId++;
                } while (pSession->nId == 0 || mapSessions.count(pSession->nId) != 0);
                mapSessions[pSession->nId] = pSession;
            }
            backend.Trace(pSession->nId, "--", "HiSLIP session opened for " + strPayload);
            if (Send(connection.fd, MessageType::InitializeResponse, 0,
                     (std::uint32_t{hs::kProtocolVersion} << 16) | pSession->nId)) {
                ServeSync(*pSession);
            }
            Drop(*pSession);
            std::lock_guard<std::mutex> lock(mutex);
            pSession->fdSync = -1;  // the caller closes it
            return;
        }
        if (header.Type() == MessageType::AsyncInitialize) {
            SessionPtr pSession;
            {
                std::lock_guard<std::mutex> lock(mutex);
                const auto it = mapSessions.find(static_cast<std::uint16_t>(header.nParameter));
                if (it != mapSessions.end() && it->second->fdAsync < 0) {
                    pSession = it->second;
                    std::lock_guard<std::mutex> lockWrite(pSession->mutexAsyncWrite);
                    pSession->fdAsync = connection.fd;
                }
            }
            if (pSession) {
                if (SendAsync(*pSession, MessageType::AsyncInitializeResponse, 0,
                              kServerVendorId)) {
                    ServeAsync(*pSession);
                }
                // The synchronous channel may still hold messages the client
                // sent before closing: its own thread serves them and ends the
                // session.
                std::lock_guard<std::mutex> lock(pSession->mutexAsyncWrite);
                pSession->fdAsync = -1;  // the caller closes it
                return;
            }
        }
        Send(connection.fd, MessageType::FatalError,
             static_cast<std::uint8_t>(hs::FatalCode::InvalidInitialization), 0,
             "invalid initialization sequence");
    }

    void Start(const std::string& strHost, unsigned short nPortIn) {
        listener.emplace();
        if (listener->Open(strHost, nPortIn) != tknet::Result::kOk) {
            listener.reset();
            throw std::runtime_error("cannot bind " + strHost + ":" + std::to_string(nPortIn) +
                                     ": " + std::strerror(errno));
        }
        nPort = listener->Port();
        fdWakeRead = listener->WakeFd();
        {
            std::lock_guard<std::mutex> lock(mutex);
            bStopping = false;
        }
        listener->Start([this](tknet::Fd fd, const tknet::Address&) {
            Connection connection{fd.Get()};
            ServeConnection(connection);
        });
    }

    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            bStopping = true;
            cvChange.notify_all();
        }
        if (listener) {
            listener->Stop();
            listener.reset();
        }
        fdWakeRead = -1;
    }
};

HislipServer::HislipServer(Vxi11Backend& backend) : m_pImpl(std::make_unique<Impl>(backend)) {}

HislipServer::~HislipServer() {
    Stop();
}

void HislipServer::Start(const std::string& strHost, unsigned short nPort) {
    m_pImpl->Start(strHost, nPort);
}

void HislipServer::Stop() {
    m_pImpl->Stop();
}

unsigned short HislipServer::Port() const {
    return m_pImpl->nPort;
}

std::size_t HislipServer::SessionCount() const {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    return m_pImpl->mapSessions.size();
}

void HislipServer::InjectError(int nCode, bool bFatal) {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->injected = std::make_pair(nCode, bFatal);
}

void HislipServer::RequestService(int nStatusByte) {
    std::vector<Impl::SessionPtr> vecSessions;
    {
        std::lock_guard<std::mutex> lock(m_pImpl->mutex);
        for (const auto& entry : m_pImpl->mapSessions) {
            if (entry.second->fdAsync >= 0) {
                vecSessions.push_back(entry.second);
            }
        }
    }
    for (const auto& pSession : vecSessions) {
        m_pImpl->SendAsync(*pSession, MessageType::AsyncServiceRequest,
                           static_cast<std::uint8_t>(nStatusByte), 0);
    }
}

}  // namespace emu
