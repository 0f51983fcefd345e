// A HiSLIP server of our own that misbehaves on cue, on an ephemeral
// loopback port. It completes the two-channel handshake (or breaks it, as
// scripted) and then answers like a plain instrument: "ECHO? n" is answered
// with "n\n", a status query with 0x10, locks are granted, a device clear
// is acknowledged. One armed fault replaces the next reply on the
// synchronous channel and one the next response on the asynchronous
// channel: lengths that lie, wrong types, wrong channels, stale or repeated
// message ids, replies dripped byte by byte, Data without end, silence,
// hang-ups. What the client sent is kept for the test to inspect.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "HislipChannel.h"
#include "HislipMessage.h"
#include "Socket.h"

namespace faulttest {

namespace hs = tkvisa::hislip;

// What the server does when the client opens a session.
enum class OpenFault {
    None,
    SilentInitialize,       // never answers Initialize
    VersionZero,            // InitializeResponse with version 0.0
    VersionTwo,             // InitializeResponse with version 2.0
    InitializeWithPayload,  // InitializeResponse carrying a payload
    RefusedAsync,           // FatalError "invalid initialization" to AsyncInitialize
    SilentAsyncInitialize,  // never answers AsyncInitialize
    SilentMaximumSize,      // never answers AsyncMaximumMessageSize
    HugeMaximumSize,        // announces a maximum message size of 2^64-1
    ShortMaximumSize,       // the size response with a 4-byte payload
    DripInitialize,         // InitializeResponse one byte every 100 ms
};

// What replaces the next reply on the synchronous channel.
enum class ReplyFault {
    None,
    LengthLie,        // DataEND whose length field says nLength; then a proper reply
    ShortLength,      // DataEND whose length is 3 bytes short of its payload
    UnknownType,      // a message of type 99 with a short payload, then the reply
    VendorType,       // a message of type 200, then the reply
    WrongType,        // AsyncStatusResponse on the synchronous channel
    ControlPayload,   // Interrupted with a 5-byte payload
    StaleThenRight,   // a reply to an older id, then the reply
    StaleForever,     // replies to an older id, one every 2 ms, for nMs
    Repeated,         // the reply twice
    RepeatedUnknown,  // the reply twice, with the unknown message id
    FutureId,         // the reply with an id not sent yet
    Drip,             // the reply one byte every nMs
    DataFlood,        // Data with the right id and no DataEND, for nMs
    EmptyDataFlood,   // empty Data messages with the right id, for nMs
    Interleaved,      // Data with the right id, then DataEND with another
    Silent,           // no reply
    HangUpSync,       // closes the synchronous channel instead
    HangUpAsync,      // closes the asynchronous channel instead
    OnAsyncChannel,   // the reply as DataEND on the asynchronous channel
    BadPrologue,      // 16 bytes without "HS"
};

// What replaces the next response on the asynchronous channel.
enum class ResponseFault {
    None,
    Silent,        // no response
    SilentOnce,    // no response this time; the next request is answered
    Late,          // the response after nMs
    Duplicate,     // the response twice
    WithPayload,   // the response with a 5-byte payload
    HugeLength,    // the response header with a length of 2^63
    ServiceFlood,  // service requests every 2 ms for nMs, no response
    DataOnAsync,   // DataEND on the asynchronous channel
    Drip,          // the response one byte every nMs
    HangUp,        // closes the asynchronous channel
};

class HostileHislipServer {
  public:
    explicit HostileHislipServer(OpenFault eOpen = OpenFault::None) : m_eOpen(eOpen) {
        m_listener.Open("127.0.0.1", 0);
        m_listener.Start([this](tknet::Fd fd, const tknet::Address&) { Serve(std::move(fd)); });
    }
    ~HostileHislipServer() { m_listener.Stop(); }
    HostileHislipServer(const HostileHislipServer&) = delete;
    HostileHislipServer& operator=(const HostileHislipServer&) = delete;

    std::string Resource() const {
        return "TCPIP::127.0.0.1::hislip0," + std::to_string(m_listener.Port()) + "::INSTR";
    }

    void ArmReply(ReplyFault eFault, std::uint64_t nLength = 0, int nMs = 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_eReply = eFault;
        m_nLieLength = nLength;
        m_nReplyMs = nMs;
    }
    void ArmResponse(ResponseFault eFault, int nMs = 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_eResponse = eFault;
        m_nResponseMs = nMs;
    }

    // Error and FatalError messages the client sent, as "type/code".
    std::vector<std::string> Complaints() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_vecComplaints;
    }
    // Data and DataEND messages the client sent.
    std::size_t DataMessages() const { return m_nDataMessages.load(); }
    // Waits until every connection of the client has ended.
    bool WaitIdle(std::chrono::milliseconds timeout) {
        const auto tpEnd = std::chrono::steady_clock::now() + timeout;
        while (m_listener.ActiveConnections() != 0) {
            if (std::chrono::steady_clock::now() > tpEnd) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

  private:
    static constexpr std::uint64_t kServerMax = 1 << 20;

    // A long wait that Stop() ends.
    static tknet::Deadline Forever() { return tknet::Deadline(tknet::Deadline::kInfinite); }

    bool Stopping() const { return m_listener.Stopping(); }

    // Sends raw bytes on the channel of the role; false once it is gone.
    bool Put(bool bAsync, const std::string& strBytes) {
        std::lock_guard<std::mutex> lock(bAsync ? m_asyncSend : m_syncSend);
        const int fd = bAsync ? m_fdAsync.load() : m_fdSync.load();
        if (fd < 0) {
            return false;
        }
        return tknet::SendAll(fd, strBytes.data(), strBytes.size(), tknet::Deadline(2000), nullptr,
                              m_listener.WakeFd()) == tknet::Result::kOk;
    }
    bool Put(bool bAsync, hs::MessageType eType, std::uint8_t nControl, std::uint32_t nParameter,
             const std::string& strPayload = {}) {
        return Put(bAsync, hs::EncodeMessage(eType, nControl, nParameter, strPayload));
    }
    static std::string HeaderBytes(std::uint8_t nType, std::uint8_t nControl,
                                   std::uint32_t nParameter, std::uint64_t nLength) {
        hs::Header header;
        header.nType = nType;
        header.nControl = nControl;
        header.nParameter = nParameter;
        header.nLength = nLength;
        std::string strBytes(hs::kHeaderSize, '\0');
        hs::EncodeHeader(header, reinterpret_cast<std::uint8_t*>(strBytes.data()));
        return strBytes;
    }
    bool Drip(bool bAsync, const std::string& strBytes, int nMs) {
        for (char c : strBytes) {
            if (!Put(bAsync, std::string(1, c)) || !Pause(nMs)) {
                return false;
            }
        }
        return true;
    }
    // Sleeps unless the server stops; false when it does.
    bool Pause(int nMs) {
        tknet::Deadline deadline(static_cast<std::uint32_t>(nMs));
        return tknet::WaitReady(m_listener.WakeFd(), POLLIN, deadline) == tknet::Result::kTimeout;
    }
    // Repeats send for nMs milliseconds, or until the client goes. A send
    // starts only when the socket takes it at once, so a flood that outlasts
    // the client's reading ends between two whole messages.
    template <typename Send>
    void For(bool bAsync, int nMs, int nEveryMs, Send send) {
        const tknet::Deadline deadline(static_cast<std::uint32_t>(nMs));
        while (!deadline.Passed() && !Stopping()) {
            const int fd = bAsync ? m_fdAsync.load() : m_fdSync.load();
            if (fd < 0 || tknet::WaitReady(fd, POLLOUT, deadline, m_listener.WakeFd()) !=
                              tknet::Result::kOk) {
                return;
            }
            if (!send()) {
                return;
            }
            if (nEveryMs > 0 && !Pause(nEveryMs)) {
                return;
            }
        }
    }

    void Serve(tknet::Fd fd) {
        hs::MessageChannel channel;
        const int nFd = fd.Get();
        channel.Attach(std::move(fd));
        channel.SetWakeFd(m_listener.WakeFd());
        hs::Header header;
        std::string strPayload;
        if (channel.NextMessage(header, strPayload, Forever()) != hs::ChannelResult::kOk) {
            return;
        }
        const bool bAsync = header.Type() == hs::MessageType::AsyncInitialize;
        if (!bAsync && header.Type() != hs::MessageType::Initialize) {
            return;
        }
        (bAsync ? m_fdAsync : m_fdSync) = nFd;
        if (bAsync) {
            ServeAsync(channel);
        } else {
            ServeSync(channel);
        }
        // No other thread sends on the descriptor once it closes.
        std::lock_guard<std::mutex> lock(bAsync ? m_asyncSend : m_syncSend);
        (bAsync ? m_fdAsync : m_fdSync) = -1;
        channel.Close();
    }

    // Waits for the client to leave.
    void Linger(hs::MessageChannel& channel) {
        hs::Header header;
        std::string strPayload;
        while (channel.NextMessage(header, strPayload, Forever()) == hs::ChannelResult::kOk) {
            if (header.Type() == hs::MessageType::Data ||
                header.Type() == hs::MessageType::DataEnd) {
                Skip(channel, header.nLength);
            }
        }
    }
    static bool Skip(hs::MessageChannel& channel, std::uint64_t nLength,
                     std::string* pText = nullptr) {
        char buffer[4096];
        while (nLength > 0) {
            std::size_t nGot = 0;
            if (channel.ReadPayload(buffer, std::min<std::uint64_t>(nLength, sizeof buffer),
                                    Forever(), &nGot) != hs::ChannelResult::kOk) {
                return false;
            }
            if (pText != nullptr && pText->size() < kServerMax) {
                pText->append(buffer, nGot);
            }
            nLength -= nGot;
        }
        return true;
    }

    void Note(const hs::Header& header) {
        if (header.Type() == hs::MessageType::Error ||
            header.Type() == hs::MessageType::FatalError) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_vecComplaints.push_back(hs::MessageTypeName(header.nType) + "/" +
                                      std::to_string(header.nControl));
        }
    }

    void ServeSync(hs::MessageChannel& channel) {
        const std::uint32_t nParameter = 0x0100'0000u | 1;
        switch (m_eOpen) {
            case OpenFault::SilentInitialize:
                Linger(channel);
                return;
            case OpenFault::VersionZero:
                Put(false, hs::MessageType::InitializeResponse, 0, 1);
                break;
            case OpenFault::VersionTwo:
                Put(false, hs::MessageType::InitializeResponse, 0, 0x0200'0000u | 1);
                break;
            case OpenFault::InitializeWithPayload:
                Put(false, hs::MessageType::InitializeResponse, 0, nParameter, "extra");
                break;
            case OpenFault::DripInitialize:
                Drip(false, hs::EncodeMessage(hs::MessageType::InitializeResponse, 0, nParameter),
                     100);
                break;
            default:
                Put(false, hs::MessageType::InitializeResponse, 0, nParameter);
                break;
        }
        std::string strMessage;
        hs::Header header;
        std::string strPayload;
        while (channel.NextMessage(header, strPayload, Forever()) == hs::ChannelResult::kOk) {
            Note(header);
            switch (header.Type()) {
                case hs::MessageType::Data:
                case hs::MessageType::DataEnd:
                    ++m_nDataMessages;
                    if (!Skip(channel, header.nLength, &strMessage)) {
                        return;
                    }
                    if (header.Type() == hs::MessageType::DataEnd) {
                        if (!strMessage.empty() && strMessage.find('?') != std::string::npos &&
                            !Reply(strMessage, header.nParameter)) {
                            return;
                        }
                        strMessage.clear();
                    }
                    break;
                case hs::MessageType::DeviceClearComplete:
                    Put(false, hs::MessageType::DeviceClearAcknowledge, 0, 0);
                    break;
                default:
                    break;
            }
        }
    }

    // Answers one query on the synchronous channel, as armed.
    bool Reply(const std::string& strQuery, std::uint32_t nId) {
        ReplyFault eFault;
        std::uint64_t nLength;
        int nMs;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            eFault = m_eReply;
            nLength = m_nLieLength;
            nMs = m_nReplyMs;
            m_eReply = ReplyFault::None;
        }
        const std::size_t nSpace = strQuery.find(' ');
        std::string strReply = nSpace == std::string::npos ? "0\n" : strQuery.substr(nSpace + 1);
        if (strReply.empty() || strReply.back() != '\n') {
            strReply += '\n';
        }
        const auto dataEnd = [&](std::uint32_t nReplyId) {
            return hs::EncodeMessage(hs::MessageType::DataEnd, 0, nReplyId, strReply);
        };
        const std::uint8_t nDataEnd = static_cast<std::uint8_t>(hs::MessageType::DataEnd);
        switch (eFault) {
            case ReplyFault::None:
                return Put(false, dataEnd(nId));
            case ReplyFault::LengthLie:
                return Put(false, HeaderBytes(nDataEnd, 0, nId, nLength) + strReply + dataEnd(nId));
            case ReplyFault::ShortLength:
                return Put(false, HeaderBytes(nDataEnd, 0, nId, strReply.size() - 3) + strReply +
                                      dataEnd(nId));
            case ReplyFault::UnknownType:
                return Put(false, HeaderBytes(99, 0, 0, 3) + "abc" + dataEnd(nId));
            case ReplyFault::VendorType:
                return Put(false, HeaderBytes(200, 7, 0, 0) + dataEnd(nId));
            case ReplyFault::WrongType:
                return Put(false, hs::EncodeMessage(hs::MessageType::AsyncStatusResponse, 0, 0) +
                                      dataEnd(nId));
            case ReplyFault::ControlPayload:
                return Put(false,
                           HeaderBytes(static_cast<std::uint8_t>(hs::MessageType::Interrupted), 0,
                                       nId, 5) +
                               "12345" + dataEnd(nId));
            case ReplyFault::StaleThenRight:
                return Put(false, hs::EncodeMessage(hs::MessageType::DataEnd, 0, nId - 2, "666\n") +
                                      dataEnd(nId));
            case ReplyFault::StaleForever:
                For(false, nMs, 2, [&] {
                    return Put(false,
                               hs::EncodeMessage(hs::MessageType::DataEnd, 0, nId - 2, "666\n"));
                });
                return true;
            case ReplyFault::Repeated:
                return Put(false, dataEnd(nId) + dataEnd(nId));
            case ReplyFault::RepeatedUnknown:
                return Put(false, dataEnd(hs::kUnknownMessageId) + dataEnd(hs::kUnknownMessageId));
            case ReplyFault::FutureId:
                return Put(false, dataEnd(nId + 2));
            case ReplyFault::Drip:
                return Drip(false, dataEnd(nId), nMs);
            case ReplyFault::DataFlood:
                For(false, nMs, 0, [&] {
                    return Put(false, hs::EncodeMessage(hs::MessageType::Data, 0, nId,
                                                        std::string(256, '7')));
                });
                return true;
            case ReplyFault::EmptyDataFlood:
                For(false, nMs, 0,
                    [&] { return Put(false, hs::EncodeMessage(hs::MessageType::Data, 0, nId)); });
                return true;
            case ReplyFault::Interleaved:
                return Put(false,
                           hs::EncodeMessage(hs::MessageType::Data, 0, nId, "12") +
                               hs::EncodeMessage(hs::MessageType::DataEnd, 0, nId - 2, "3\n"));
            case ReplyFault::Silent:
                return true;
            case ReplyFault::HangUpSync:
                return false;
            case ReplyFault::HangUpAsync:
                if (const int fd = m_fdAsync.load(); fd >= 0) {
                    ::shutdown(fd, SHUT_RDWR);
                }
                return true;
            case ReplyFault::OnAsyncChannel:
                return Put(true, dataEnd(nId));
            case ReplyFault::BadPrologue:
                return Put(false, std::string("XY") + std::string(14, '\0'));
        }
        return true;
    }

    void ServeAsync(hs::MessageChannel& channel) {
        switch (m_eOpen) {
            case OpenFault::RefusedAsync:
                Put(true, hs::MessageType::FatalError,
                    static_cast<std::uint8_t>(hs::FatalCode::InvalidInitialization), 0,
                    "no such session");
                return;
            case OpenFault::SilentAsyncInitialize:
                Linger(channel);
                return;
            default:
                Put(true, hs::MessageType::AsyncInitializeResponse, 0, ('H' << 8) | 'S');
                break;
        }
        bool bFirstSize = true;
        hs::Header header;
        std::string strPayload;
        while (channel.NextMessage(header, strPayload, Forever()) == hs::ChannelResult::kOk) {
            Note(header);
            std::string strResponse;
            switch (header.Type()) {
                case hs::MessageType::AsyncMaximumMessageSize: {
                    const bool bFirst = std::exchange(bFirstSize, false);
                    if (bFirst && m_eOpen == OpenFault::SilentMaximumSize) {
                        continue;
                    }
                    if (bFirst && m_eOpen == OpenFault::ShortMaximumSize) {
                        strResponse = hs::EncodeMessage(
                            hs::MessageType::AsyncMaximumMessageSizeResponse, 0, 0, "abcd");
                    } else {
                        strResponse = hs::EncodeMessage(
                            hs::MessageType::AsyncMaximumMessageSizeResponse, 0, 0,
                            hs::EncodeSize(bFirst && m_eOpen == OpenFault::HugeMaximumSize
                                               ? ~std::uint64_t{0}
                                               : kServerMax));
                    }
                    // The opening negotiation is never a scripted fault.
                    if (bFirst) {
                        Put(true, strResponse);
                        continue;
                    }
                    break;
                }
                case hs::MessageType::AsyncStatusQuery:
                    strResponse = hs::EncodeMessage(hs::MessageType::AsyncStatusResponse, 0x10, 0);
                    break;
                case hs::MessageType::AsyncLock:
                    strResponse =
                        hs::EncodeMessage(hs::MessageType::AsyncLockResponse, hs::kLockGranted, 0);
                    break;
                case hs::MessageType::AsyncDeviceClear:
                    strResponse =
                        hs::EncodeMessage(hs::MessageType::AsyncDeviceClearAcknowledge, 0, 0);
                    break;
                default:
                    continue;
            }
            if (!Respond(strResponse)) {
                return;
            }
        }
    }

    // Sends one response on the asynchronous channel, as armed.
    bool Respond(const std::string& strResponse) {
        ResponseFault eFault;
        int nMs;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            eFault = m_eResponse;
            nMs = m_nResponseMs;
            if (eFault != ResponseFault::Silent) {
                m_eResponse = ResponseFault::None;
            }
        }
        switch (eFault) {
            case ResponseFault::None:
                return Put(true, strResponse);
            case ResponseFault::Silent:
            case ResponseFault::SilentOnce:
                return true;
            case ResponseFault::Late:
                return Pause(nMs) && Put(true, strResponse);
            case ResponseFault::Duplicate:
                return Put(true, strResponse + strResponse);
            case ResponseFault::WithPayload:
                return Put(true, HeaderBytes(static_cast<std::uint8_t>(strResponse[2]),
                                             static_cast<std::uint8_t>(strResponse[3]), 0, 5) +
                                     "12345");
            case ResponseFault::HugeLength:
                return Put(true, HeaderBytes(static_cast<std::uint8_t>(strResponse[2]),
                                             static_cast<std::uint8_t>(strResponse[3]), 0,
                                             std::uint64_t{1} << 63));
            case ResponseFault::ServiceFlood:
                For(true, nMs, 2,
                    [&] { return Put(true, hs::MessageType::AsyncServiceRequest, 0x40, 0); });
                return true;
            case ResponseFault::DataOnAsync:
                return Put(true, hs::EncodeMessage(hs::MessageType::DataEnd, 0, 0, "1\n"));
            case ResponseFault::Drip:
                return Drip(true, strResponse, nMs);
            case ResponseFault::HangUp:
                return false;
        }
        return true;
    }

    OpenFault m_eOpen;
    tknet::Listener m_listener;
    std::atomic<int> m_fdSync{-1};
    std::atomic<int> m_fdAsync{-1};
    std::mutex m_syncSend;
    std::mutex m_asyncSend;
    std::mutex m_mutex;
    ReplyFault m_eReply = ReplyFault::None;
    std::uint64_t m_nLieLength = 0;
    int m_nReplyMs = 0;
    ResponseFault m_eResponse = ResponseFault::None;
    int m_nResponseMs = 0;
    std::vector<std::string> m_vecComplaints;
    std::atomic<std::size_t> m_nDataMessages{0};
};

}  // namespace faulttest
