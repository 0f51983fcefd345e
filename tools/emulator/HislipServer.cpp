#include "HislipServer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "HislipChannel.h"
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
// Any message but Data and DataEND up to the server's maximum, its length
// judged by whoever handles it.
constexpr hs::PayloadLimits kServerLimits{kServerMaxMessage - hs::kHeaderSize, false};

}  // namespace

struct HislipServer::Impl {
    struct Session {
        std::uint16_t nId = 0;
        // Owned by the connection that initialized the session; only its
        // thread reads and writes it.
        hs::MessageChannel* pSync = nullptr;
        // Owned by the connection that joined the session; set and cleared
        // under mutexAsyncWrite, which replies and service requests share.
        std::atomic<hs::MessageChannel*> pAsync{nullptr};
        std::mutex mutexAsyncWrite;
        std::string strIn;  // bytes of a message not yet complete
        std::uint64_t nClientMax = kServerMaxMessage;
        bool bOverlap = false;
        bool bClearing = false;  // between AsyncDeviceClear and DeviceClearComplete
        bool bClosed = false;
        std::optional<std::string> sharedKey;  // the shared lock this session holds
    };
    using SessionPtr = std::shared_ptr<Session>;

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

    // Every wait lasts until the peer acts or Stop() wakes it.
    static const tknet::Deadline& Forever() {
        static const tknet::Deadline never(tknet::Deadline::kInfinite);
        return never;
    }

    static bool Send(hs::MessageChannel& channel, MessageType eType, std::uint8_t nControl,
                     std::uint32_t nParameter, std::string_view strPayload = {}) {
        return channel.Send(eType, nControl, nParameter, strPayload, Forever()) ==
               hs::ChannelResult::kOk;
    }

    bool SendAsync(Session& session, MessageType eType, std::uint8_t nControl,
                   std::uint32_t nParameter, std::string_view strPayload = {}) {
        std::lock_guard<std::mutex> lock(session.mutexAsyncWrite);
        hs::MessageChannel* pAsync = session.pAsync;
        return pAsync != nullptr && Send(*pAsync, eType, nControl, nParameter, strPayload);
    }

    // Reads one message; false on a closed connection, the stop signal, or a
    // header the channel refuses (answered with a FatalError). Payloads over
    // the server's maximum are read and dropped, and flagged in bTooLarge.
    bool ReadMessage(hs::MessageChannel& channel, Header& header, std::string& strPayload,
                     bool& bTooLarge) {
        if (listener && listener->Stopping()) {
            return false;
        }
        const hs::ChannelResult result = channel.NextMessage(header, strPayload, Forever());
        if (result == hs::ChannelResult::kMalformed) {
            // Only data may be too large (it is then read and dropped); a
            // control message that long is a peer out of step or lying.
            Send(channel, MessageType::FatalError,
                 static_cast<std::uint8_t>(hs::FatalCode::PoorlyFormedHeader), 0,
                 channel.LastMalformation() == hs::Malformation::kLength
                     ? "payload length " + std::to_string(header.nLength) + " of a " +
                           hs::MessageTypeName(header.nType) + " message"
                     : std::string("poorly formed message header"));
            return false;
        }
        if (result != hs::ChannelResult::kOk) {
            return false;
        }
        bTooLarge = false;
        if (header.Type() != MessageType::Data && header.Type() != MessageType::DataEnd) {
            return true;
        }
        bTooLarge = header.nLength > kServerMaxMessage - hs::kHeaderSize;
        if (!bTooLarge) {
            strPayload.resize(static_cast<std::size_t>(header.nLength));
        }
        std::uint64_t nLeft = header.nLength;
        while (nLeft > 0) {
            char* pInto = bTooLarge ? nullptr : strPayload.data() + (header.nLength - nLeft);
            std::size_t nGot = 0;
            if (channel.ReadPayload(
                    pInto,
                    static_cast<std::size_t>(std::min<std::uint64_t>(nLeft, kServerMaxMessage)),
                    Forever(), &nGot) != hs::ChannelResult::kOk) {
                return false;
            }
            nLeft -= nGot;
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
        if (session.pSync != nullptr) {
            session.pSync->Shutdown();
        }
        {
            std::lock_guard<std::mutex> lockWrite(session.mutexAsyncWrite);
            if (hs::MessageChannel* pAsync = session.pAsync) {
                pAsync->Shutdown();
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
            if (!Send(*session.pSync, bLast ? MessageType::DataEnd : MessageType::Data, 0,
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
            if (!ReadMessage(*session.pSync, header, strPayload, bTooLarge)) {
                return;
            }
            Trace(session, "<=", header);
            if (bTooLarge) {
                Send(*session.pSync, MessageType::Error,
                     static_cast<std::uint8_t>(hs::ErrorCode::MessageTooLarge), 0,
                     "message too large");
                continue;
            }
            const MessageType eType = header.Type();
            if (eType == MessageType::Data || eType == MessageType::DataEnd ||
                eType == MessageType::Trigger) {
                if (const auto fault = TakeInjected()) {
                    if (fault->second) {
                        Send(*session.pSync, MessageType::FatalError,
                             static_cast<std::uint8_t>(fault->first), 0, "injected fatal error");
                        backend.Trace(session.nId, "--", "fatal error (fault injection)");
                        return;
                    }
                    Send(*session.pSync, MessageType::Error,
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
                    if (!Send(*session.pSync, MessageType::DeviceClearAcknowledge,
                              bOverlap ? hs::kOverlapBit : 0, 0)) {
                        return;
                    }
                    break;
                }
                default:
                    Send(*session.pSync, MessageType::Error,
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
            if (!ReadMessage(*session.pAsync, header, strPayload, bTooLarge)) {
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
    void ServeConnection(hs::MessageChannel& channel) {
        Header header;
        std::string strPayload;
        bool bTooLarge = false;
        if (!ReadMessage(channel, header, strPayload, bTooLarge)) {
            return;
        }
        if (header.Type() == MessageType::Initialize) {
            auto pSession = std::make_shared<Session>();
            pSession->pSync = &channel;
            {
                std::lock_guard<std::mutex> lock(mutex);
                do {
                    pSession->nId = nNextId++;
                } while (pSession->nId == 0 || mapSessions.count(pSession->nId) != 0);
                mapSessions[pSession->nId] = pSession;
            }
            backend.Trace(pSession->nId, "--", "HiSLIP session opened for " + strPayload);
            if (Send(channel, MessageType::InitializeResponse, 0,
                     (std::uint32_t{hs::kProtocolVersion} << 16) | pSession->nId)) {
                ServeSync(*pSession);
            }
            Drop(*pSession);
            std::lock_guard<std::mutex> lock(mutex);
            pSession->pSync = nullptr;  // the connection closes it
            return;
        }
        if (header.Type() == MessageType::AsyncInitialize) {
            SessionPtr pSession;
            {
                std::lock_guard<std::mutex> lock(mutex);
                const auto it = mapSessions.find(static_cast<std::uint16_t>(header.nParameter));
                if (it != mapSessions.end() && it->second->pAsync == nullptr) {
                    pSession = it->second;
                    std::lock_guard<std::mutex> lockWrite(pSession->mutexAsyncWrite);
                    pSession->pAsync = &channel;
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
                pSession->pAsync = nullptr;  // the connection closes it
                return;
            }
        }
        Send(channel, MessageType::FatalError,
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
            hs::MessageChannel channel(kServerLimits);
            channel.Attach(std::move(fd));
            channel.SetWakeFd(fdWakeRead);
            ServeConnection(channel);
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
            if (entry.second->pAsync != nullptr) {
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
