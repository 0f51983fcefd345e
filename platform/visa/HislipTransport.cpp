// LAN instrument transport over HiSLIP (TCPIP::host::hislipN[,port]::INSTR):
// two TCP connections to one port (4880 unless the device name says
// otherwise). The synchronous channel carries Data/DataEND messages and
// triggers; the asynchronous one carries locks, status queries, the device
// clear handshake, size negotiation and the device's service requests.
//
// Every Data, DataEND and Trigger message carries a message id, and the
// device answers with the id of the message it answers. A read takes only
// replies to the messages written since the last complete reply (or since a
// timeout), so the late reply to a query that timed out is skipped instead
// of being taken as the answer to the next one (HislipReplies.h keeps that
// account).
//
// Nothing the device sends is trusted further than the protocol allows: a
// Data or DataEND longer than the maximum this client announced, a header
// without the prologue, a length its type cannot have, a message on the
// wrong channel or a reply whose pieces carry different ids ends the
// connection with a FatalError (VI_ERROR_CONN_LOST now and on every later
// call); a message type this client does not know is answered with an
// Error and skipped. Skipping (stale replies, service requests, unknown
// messages) goes on only while the call's deadline lasts.
//
// The file is one class of about nine hundred lines, kept whole on purpose:
// every operation shares the two channels, the fatal state and the reply
// account, and the channels interleave (a read on the synchronous one hands
// service requests from the asynchronous one to their hook). What stands on
// its own is elsewhere: framing in HislipChannel, the reply account in
// HislipReplies, the messages in HislipMessage.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "HislipChannel.h"
#include "HislipMessage.h"
#include "HislipReplies.h"
#include "Socket.h"
#include "Transport.h"

namespace tkvisa {
namespace {

using hislip::ChannelResult;
using hislip::Header;
using hislip::MessageChannel;
using hislip::MessageType;

constexpr ViUInt32 kDefaultMaxMessageKb = 1024;
// The vendor id sent in Initialize: two ASCII characters.
constexpr std::uint16_t kVendorId = ('T' << 8) | 'K';
// Payload skipped in one piece when a reply is dropped.
constexpr std::size_t kSkipChunk = 64 * 1024;
// The device gets the caller's whole lock timeout and answers when it
// passes; the wait for that answer lasts this much longer, so a refusal
// arrives as "locked" rather than as a timeout. Within the margin every
// VISA call may overrun its timeout by (200 ms).
constexpr ViUInt32 kLockAnswerGraceMs = 100;
constexpr ViUInt32 kDefaultOpenTimeoutMs = 2000;
// Messages a poll for service requests handles at most, so a device that
// floods the asynchronous channel cannot hold the caller.
constexpr int kMaxPolledMessages = 64;

struct ErrorRow {
    bool bFatal;
    std::uint8_t nCode;
    ViStatus status;
};

// The VISA status each Error and FatalError code of the device becomes;
// codes the table does not name (device-defined ones) give VI_ERROR_IO.
constexpr ErrorRow kErrors[] = {
    {true, static_cast<std::uint8_t>(hislip::FatalCode::Unidentified), VI_ERROR_IO},
    {true, static_cast<std::uint8_t>(hislip::FatalCode::PoorlyFormedHeader), VI_ERROR_IO},
    {true, static_cast<std::uint8_t>(hislip::FatalCode::ChannelsNotEstablished),
     VI_ERROR_CONN_LOST},
    {true, static_cast<std::uint8_t>(hislip::FatalCode::InvalidInitialization),
     VI_ERROR_RSRC_NFOUND},
    {true, static_cast<std::uint8_t>(hislip::FatalCode::TooManyClients), VI_ERROR_RSRC_BUSY},
    {false, static_cast<std::uint8_t>(hislip::ErrorCode::Unidentified), VI_ERROR_IO},
    {false, static_cast<std::uint8_t>(hislip::ErrorCode::UnrecognizedMessageType),
     VI_ERROR_NSUP_OPER},
    {false, static_cast<std::uint8_t>(hislip::ErrorCode::UnrecognizedControlCode),
     VI_ERROR_NSUP_OPER},
    {false, static_cast<std::uint8_t>(hislip::ErrorCode::UnrecognizedVendorMessage),
     VI_ERROR_NSUP_OPER},
    {false, static_cast<std::uint8_t>(hislip::ErrorCode::MessageTooLarge), VI_ERROR_IO},
};

ViStatus StatusOfError(bool bFatal, std::uint8_t nCode) {
    for (const ErrorRow& row : kErrors) {
        if (row.bFatal == bFatal && row.nCode == nCode) {
            return row.status;
        }
    }
    return VI_ERROR_IO;
}

// Splits "hislipN[,port]" into the sub-address and the port; false when
// the name has another form.
bool ParseDeviceName(const std::string& strDevice, std::string& strSubAddress,
                     std::uint16_t& nPort) {
    const std::size_t nComma = strDevice.find(',');
    strSubAddress = strDevice.substr(0, nComma);
    auto Digits = [](const std::string& str) {
        return !str.empty() && str.size() <= 5 &&
               str.find_first_not_of("0123456789") == std::string::npos;
    };
    if (strSubAddress.size() <= 6 || !Digits(strSubAddress.substr(6))) {
        return false;
    }
    nPort = hislip::kDefaultPort;
    if (nComma != std::string::npos) {
        const std::string strPort = strDevice.substr(nComma + 1);
        if (!Digits(strPort)) {
            return false;
        }
        const unsigned long nValue = std::stoul(strPort);
        if (nValue == 0 || nValue > 65535) {
            return false;
        }
        nPort = static_cast<std::uint16_t>(nValue);
    }
    return true;
}

// How a message that arrived on a channel fits what this client may receive.
enum class Fit { kExpected, kUnknown, kWrongChannel };

Fit FitOf(const Header& header, hislip::Channel eChannel) {
    const hislip::MessageRule* pRule = hislip::RuleOf(header.nType);
    if (pRule == nullptr || !hislip::SentBy(*pRule, hislip::Sender::Server)) {
        return Fit::kUnknown;
    }
    return hislip::TravelsOn(*pRule, eChannel) ? Fit::kExpected : Fit::kWrongChannel;
}

// What Receive returns when the asynchronous channel woke a wait on the
// synchronous one; never leaves this file.
constexpr ViStatus kAsyncTraffic = 1;

ViStatus StatusOf(ChannelResult result) {
    switch (result) {
        case ChannelResult::kOk:
            return VI_SUCCESS;
        case ChannelResult::kTimeout:
            return VI_ERROR_TMO;
        case ChannelResult::kWoken:
            return kAsyncTraffic;
        default:
            return VI_ERROR_CONN_LOST;
    }
}

class HislipTransport final : public Transport {
  public:
    ~HislipTransport() override { Close(); }

    ViStatus Open(const ResourceName& resource, ViUInt32 nOpenTimeoutMs,
                  const LineSettings&) override {
        std::string strSubAddress;
        std::uint16_t nPort = 0;
        if (!ParseDeviceName(resource.strDevice, strSubAddress, nPort)) {
            return VI_ERROR_INV_RSRC_NAME;
        }
        // One budget for the whole opening: connects, handshake, negotiation.
        const Deadline deadline(nOpenTimeoutMs == 0 ? kDefaultOpenTimeoutMs : nOpenTimeoutMs);
        deadline.Start();
        std::vector<tknet::Address> vecAddresses;
        if (tknet::Resolve(resource.strHost, nPort, &vecAddresses) != tknet::Result::kOk) {
            return VI_ERROR_RSRC_NFOUND;
        }
        const ViStatus status = Initialize(vecAddresses, strSubAddress, deadline);
        if (status < VI_SUCCESS) {
            Close();
        }
        return status;
    }

    void Close() override {
        m_sync.Close();
        m_async.Close();
    }

    void SetMessageOptions(const MessageOptions& options) override { m_options = options; }

    ViStatus Write(const ViByte* pData, std::size_t nCount, const Deadline& deadline,
                   std::size_t* pWritten) override {
        *pWritten = 0;
        // A closed asynchronous channel ends the connection before anything
        // is written on the other.
        if (const ViStatus status = PollServiceRequests(); status < VI_SUCCESS) {
            return status;
        }
        if (const ViStatus status = DropArrived(); status < VI_SUCCESS) {
            return status;
        }
        // The device's maximum message size counts the header too.
        const std::uint64_t nMaxPayload = m_nServerMaxMessage > hislip::kHeaderSize
                                              ? m_nServerMaxMessage - hislip::kHeaderSize
                                              : 1;
        do {
            const std::size_t nChunk =
                static_cast<std::size_t>(std::min<std::uint64_t>(nCount - *pWritten, nMaxPayload));
            const bool bLast = *pWritten + nChunk == nCount;
            Header header;
            header.nType = static_cast<std::uint8_t>(
                bLast && m_options.bSendEnd ? MessageType::DataEnd : MessageType::Data);
            header.nControl = m_replies.TakeRmtDelivered();
            header.nParameter = m_replies.NextId();
            header.nLength = nChunk;
            const ChannelResult result = m_sync.Send(header, pData + *pWritten, nChunk, deadline);
            if (result != ChannelResult::kOk) {
                return StatusOf(result);
            }
            m_replies.NoteSent();
            *pWritten += nChunk;
            // A device announcing a tiny maximum makes many messages; they
            // still share the call's deadline.
            if (*pWritten < nCount && deadline.Passed()) {
                return VI_ERROR_TMO;
            }
        } while (*pWritten < nCount);
        return VI_SUCCESS;
    }

    ViStatus Read(ViByte* pData, std::size_t nMax, const Deadline& deadline,
                  std::size_t* pRead) override {
        *pRead = 0;
        m_bEnded = false;
        if (m_bFatal || m_sync.Fd() < 0 || m_sync.Broken()) {
            return VI_ERROR_CONN_LOST;
        }
        // Once the asynchronous channel has closed, what already arrived on
        // this one is still read (the FatalError that tells why the device
        // closed, say), without waiting for more; then the loss shows.
        if (const ViStatus status = PollServiceRequests(); status < VI_SUCCESS && !AsyncGone()) {
            return status;
        }
        const Deadline now(0);
        const Deadline* pWait = AsyncGone() ? &now : &deadline;
        const auto fail = [&](ViStatus status) {
            status = Failed(status);
            return status == VI_ERROR_TMO && pWait == &now ? VI_ERROR_CONN_LOST : status;
        };
        const WatchAsync watch(*this);
        for (;;) {
            if (m_replies.InMessage() && m_replies.Left() > 0) {
                const bool bTaken = m_replies.Taken();
                std::size_t nGot = 0;
                const ChannelResult result =
                    m_sync.ReadPayload(bTaken ? pData : nullptr,
                                       static_cast<std::size_t>(std::min<std::uint64_t>(
                                           bTaken ? nMax : kSkipChunk, m_replies.Left())),
                                       *pWait, &nGot);
                if (result == ChannelResult::kWoken) {
                    const ViStatus status = AsyncTraffic(*pWait, &pWait, now);
                    if (status < VI_SUCCESS) {
                        return fail(status);
                    }
                    continue;
                }
                if (result != ChannelResult::kOk) {
                    return fail(StatusOf(result));
                }
                m_replies.Consume(nGot);
                if (bTaken) {
                    *pRead = nGot;
                    return m_replies.Left() == 0 ? EndMessage() : VI_SUCCESS;
                }
                // Dropping a reply nobody waits for lasts only as long as
                // the deadline, however long the reply claims to be.
                if (pWait->Passed()) {
                    return fail(VI_ERROR_TMO);
                }
                continue;
            }
            if (m_replies.InMessage()) {
                const bool bTaken = m_replies.Taken();
                const ViStatus status = EndMessage();
                if (status < VI_SUCCESS || (bTaken && m_bEnded)) {
                    return status;
                }
                if (pWait->Passed()) {
                    return fail(VI_ERROR_TMO);
                }
            }
            Header header;
            std::string strPayload;
            ViStatus status = Receive(m_sync, hislip::Channel::Sync, header, strPayload, *pWait);
            if (status == kAsyncTraffic) {
                status = AsyncTraffic(*pWait, &pWait, now);
                if (status < VI_SUCCESS) {
                    return fail(status);
                }
                continue;
            }
            if (status < VI_SUCCESS) {
                return fail(status);
            }
            switch (header.Type()) {
                case MessageType::Data:
                case MessageType::DataEnd:
                    status = StartData(header);
                    if (status < VI_SUCCESS) {
                        return status;
                    }
                    break;
                case MessageType::Error:
                case MessageType::FatalError:
                    return DeviceError(header, strPayload);
                default:
                    // Interrupted, or an acknowledgement nobody waits for.
                    if (pWait->Passed()) {
                        return fail(VI_ERROR_TMO);
                    }
                    break;
            }
        }
    }

    bool ReadEndedMessage() const override { return m_bEnded; }

    ViStatus DiscardInput() override { return Lost() ? VI_ERROR_CONN_LOST : VI_SUCCESS; }

    ViStatus Apply(const LineSettings& settings) override {
        const int nNoDelay = settings.bNoDelay ? 1 : 0;
        const int nKeepAlive = settings.bKeepAlive ? 1 : 0;
        for (const MessageChannel* pChannel : {&m_sync, &m_async}) {
            if (pChannel->Fd() >= 0) {
                ::setsockopt(pChannel->Fd(), IPPROTO_TCP, TCP_NODELAY, &nNoDelay, sizeof nNoDelay);
                ::setsockopt(pChannel->Fd(), SOL_SOCKET, SO_KEEPALIVE, &nKeepAlive,
                             sizeof nKeepAlive);
            }
        }
        return VI_SUCCESS;
    }

    // The device clear handshake: AsyncDeviceClear and its acknowledgement
    // on the asynchronous channel, then DeviceClearComplete on the
    // synchronous one. Everything the device sent before its
    // DeviceClearAcknowledge belongs to the cleared state and is dropped.
    ViStatus DeviceClear(const Deadline& deadline) override {
        if (Lost()) {
            return VI_ERROR_CONN_LOST;
        }
        Header reply;
        std::string strPayload;
        ViStatus status =
            AsyncCall(MessageType::AsyncDeviceClear, 0, 0, {},
                      MessageType::AsyncDeviceClearAcknowledge, reply, strPayload, deadline);
        if (status < VI_SUCCESS) {
            return status;
        }
        m_replies.Abandon();
        const ChannelResult sent =
            m_sync.Send(MessageType::DeviceClearComplete,
                        m_bOverlapWanted ? hislip::kOverlapBit : 0, 0, {}, deadline);
        if (sent != ChannelResult::kOk) {
            return Failed(StatusOf(sent));
        }
        for (;;) {
            if (m_replies.InMessage() && m_replies.Left() > 0) {
                std::size_t nGot = 0;
                const ChannelResult result = m_sync.ReadPayload(
                    nullptr,
                    static_cast<std::size_t>(std::min<std::uint64_t>(kSkipChunk, m_replies.Left())),
                    deadline, &nGot);
                if (result != ChannelResult::kOk) {
                    return Failed(StatusOf(result));
                }
                m_replies.Consume(nGot);
                if (deadline.Passed()) {
                    return Failed(VI_ERROR_TMO);
                }
                continue;
            }
            m_replies.LeaveMessage();
            Header header;
            status = Receive(m_sync, hislip::Channel::Sync, header, strPayload, deadline);
            if (status < VI_SUCCESS) {
                return Failed(status);
            }
            if (status = DropMessage(header, strPayload); status < VI_SUCCESS) {
                return status;
            }
            if (header.Type() == MessageType::DeviceClearAcknowledge) {
                m_bOverlap = (header.nControl & hislip::kOverlapBit) != 0;
                break;
            }
            if (deadline.Passed()) {
                return Failed(VI_ERROR_TMO);
            }
        }
        m_replies.Reset();
        return VI_SUCCESS;
    }

    ViStatus ReadStatusByte(ViUInt16* pStatus, const Deadline& deadline) override {
        Header reply;
        std::string strPayload;
        const ViStatus status = AsyncCall(
            MessageType::AsyncStatusQuery, m_replies.TakeRmtDelivered(), m_replies.LastSentId(), {},
            MessageType::AsyncStatusResponse, reply, strPayload, deadline);
        if (status >= VI_SUCCESS) {
            *pStatus = reply.nControl;
        }
        return status;
    }

    ViStatus AssertTrigger(const Deadline& deadline) override {
        if (const ViStatus status = PollServiceRequests(); status < VI_SUCCESS) {
            return status;
        }
        const ChannelResult result = m_sync.Send(MessageType::Trigger, m_replies.TakeRmtDelivered(),
                                                 m_replies.NextId(), {}, deadline);
        if (result != ChannelResult::kOk) {
            return StatusOf(result);
        }
        m_replies.NoteSent();
        return VI_SUCCESS;
    }

    ViStatus LockDevice(const Deadline& deadline) override { return Lock({}, deadline); }

    ViStatus LockDeviceShared(const std::string& strKey, const Deadline& deadline) override {
        return strKey.empty() ? VI_ERROR_INV_LOCK_TYPE : Lock(strKey, deadline);
    }

    ViStatus UnlockDevice(const Deadline& deadline) override {
        Header reply;
        std::string strPayload;
        const ViStatus status =
            AsyncCall(MessageType::AsyncLock, hislip::kLockRelease, m_replies.LastSentId(), {},
                      MessageType::AsyncLockResponse, reply, strPayload, deadline);
        if (status < VI_SUCCESS) {
            return status;
        }
        return reply.nControl == hislip::kLockGranted ||
                       reply.nControl == hislip::kLockSharedReleased
                   ? VI_SUCCESS
                   : VI_ERROR_SESN_NLOCKED;
    }

    ViStatus GetLinkAttribute(ViAttr nAttribute, void* pValue) override {
        switch (nAttribute) {
            case VI_ATTR_TCPIP_HISLIP_VERSION:
                // ViVersion: major in bits 20-31, minor in bits 8-19.
                *static_cast<ViVersion*>(pValue) = (static_cast<ViVersion>(m_nVersion >> 8) << 20) |
                                                   (static_cast<ViVersion>(m_nVersion & 0xFF) << 8);
                return VI_SUCCESS;
            case VI_ATTR_TCPIP_HISLIP_MAX_MESSAGE_KB:
                *static_cast<ViUInt32*>(pValue) = m_nMaxMessageKb;
                return VI_SUCCESS;
            case VI_ATTR_TCPIP_HISLIP_OVERLAP_EN:
                *static_cast<ViBoolean*>(pValue) = m_bOverlap ? VI_TRUE : VI_FALSE;
                return VI_SUCCESS;
            case VI_ATTR_TCPIP_IS_HISLIP:
                *static_cast<ViBoolean*>(pValue) = VI_TRUE;
                return VI_SUCCESS;
            default:
                return VI_ERROR_NSUP_ATTR;
        }
    }

    ViStatus SetLinkAttribute(ViAttr nAttribute, ViAttrState nValue,
                              const Deadline& deadline) override {
        switch (nAttribute) {
            case VI_ATTR_TCPIP_HISLIP_VERSION:
            case VI_ATTR_TCPIP_IS_HISLIP:
                return VI_ERROR_ATTR_READONLY;
            case VI_ATTR_TCPIP_HISLIP_MAX_MESSAGE_KB: {
                if (nValue == 0 || nValue > 0xFFFFFFFFULL) {
                    return VI_ERROR_NSUP_ATTR_STATE;
                }
                const ViUInt32 nPrevious = m_nMaxMessageKb;
                m_nMaxMessageKb = static_cast<ViUInt32>(nValue);
                const ViStatus status = NegotiateMessageSize(deadline);
                if (status < VI_SUCCESS) {
                    m_nMaxMessageKb = nPrevious;
                }
                return status;
            }
            case VI_ATTR_TCPIP_HISLIP_OVERLAP_EN: {
                if (nValue != VI_TRUE && nValue != VI_FALSE) {
                    return VI_ERROR_NSUP_ATTR_STATE;
                }
                // The mode changes only with a device clear.
                m_bOverlapWanted = nValue == VI_TRUE;
                const ViStatus status = DeviceClear(deadline);
                if (status < VI_SUCCESS) {
                    return status;
                }
                return m_bOverlap == m_bOverlapWanted ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
            }
            default:
                return VI_ERROR_NSUP_ATTR;
        }
    }

    // Service requests arrive on the asynchronous channel, which is read
    // only while an asynchronous operation runs; without a reader of its own
    // an enabled event would never be raised, so the event is refused.
    ViStatus EnableServiceRequests(ViSession, bool bEnable, const Deadline&) override {
        return bEnable ? VI_ERROR_INV_EVENT : VI_SUCCESS;
    }

    void SetServiceRequestHook(std::function<void(ViUInt8)> hook) override {
        m_serviceRequestHook = std::move(hook);
    }

    // Hands service requests that already arrived to the hook. Nothing else
    // may be waiting on the asynchronous channel now: a response there
    // answers a request that timed out, or none, and is dropped.
    ViStatus PollServiceRequests() override {
        if (Lost()) {
            return VI_ERROR_CONN_LOST;
        }
        const Deadline now(0);
        for (int n = 0; n < kMaxPolledMessages; ++n) {
            Header header;
            std::string strPayload;
            const ViStatus status =
                Receive(m_async, hislip::Channel::Async, header, strPayload, now);
            if (status == VI_ERROR_TMO) {
                return VI_SUCCESS;
            }
            if (status < VI_SUCCESS) {
                return status;
            }
            if (header.Type() == MessageType::FatalError) {
                return DeviceError(header, strPayload);
            }
            Unsolicited(header);
        }
        return VI_SUCCESS;
    }

    void Interrupt() override {
        m_sync.Shutdown();
        m_async.Shutdown();
    }

    std::string PeerAddress() const override { return m_strPeer; }

  private:
    ViStatus Initialize(const std::vector<tknet::Address>& vecAddresses,
                        const std::string& strSubAddress, const Deadline& deadline) {
        tknet::Address peer;
        if (m_sync.Connect(vecAddresses, deadline, &peer) != tknet::Result::kOk) {
            return VI_ERROR_RSRC_NFOUND;
        }
        m_strPeer = peer.Host();
        ViStatus status = StatusOf(m_sync.Send(
            MessageType::Initialize, 0, (std::uint32_t{hislip::kProtocolVersion} << 16) | kVendorId,
            strSubAddress, deadline));
        Header header;
        std::string strPayload;
        if (status >= VI_SUCCESS) {
            status = Receive(m_sync, hislip::Channel::Sync, header, strPayload, deadline);
        }
        if (status < VI_SUCCESS) {
            return status == VI_ERROR_TMO ? VI_ERROR_TMO : VI_ERROR_RSRC_NFOUND;
        }
        if (header.Type() == MessageType::FatalError || header.Type() == MessageType::Error) {
            return DeviceError(header, strPayload);
        }
        if (header.Type() != MessageType::InitializeResponse) {
            return VI_ERROR_RSRC_NFOUND;
        }
        // The device answers with the version both sides speak; only
        // versions 1.x are this client's.
        const std::uint16_t nServerVersion = static_cast<std::uint16_t>(header.nParameter >> 16);
        if ((nServerVersion >> 8) != (hislip::kProtocolVersion >> 8)) {
            return VI_ERROR_RSRC_NFOUND;
        }
        m_nVersion = std::min(nServerVersion, hislip::kProtocolVersion);
        m_bOverlap = (header.nControl & hislip::kOverlapBit) != 0;
        m_bOverlapWanted = m_bOverlap;
        const std::uint16_t nSessionId = static_cast<std::uint16_t>(header.nParameter & 0xFFFF);

        if (m_async.Connect({peer}, deadline) != tknet::Result::kOk) {
            return VI_ERROR_RSRC_NFOUND;
        }
        status = AsyncCall(MessageType::AsyncInitialize, 0, nSessionId, {},
                           MessageType::AsyncInitializeResponse, header, strPayload, deadline);
        if (status < VI_SUCCESS) {
            return status == VI_ERROR_TMO || status == VI_ERROR_RSRC_BUSY ? status
                                                                          : VI_ERROR_RSRC_NFOUND;
        }
        status = NegotiateMessageSize(deadline);
        if (status < VI_SUCCESS) {
            return status == VI_ERROR_TMO ? VI_ERROR_TMO : VI_ERROR_RSRC_NFOUND;
        }
        m_replies.Reset();
        return VI_SUCCESS;
    }

    ViStatus NegotiateMessageSize(const Deadline& deadline) {
        const std::uint64_t nAnnounced = std::uint64_t{m_nMaxMessageKb} * 1024;
        // Replies the device sent under an earlier, larger maximum may still
        // be on their way, so the largest maximum announced stays the bound.
        m_nAcceptMax = std::max(m_nAcceptMax, nAnnounced);
        Header reply;
        std::string strPayload;
        const ViStatus status =
            AsyncCall(MessageType::AsyncMaximumMessageSize, 0, 0, hislip::EncodeSize(nAnnounced),
                      MessageType::AsyncMaximumMessageSizeResponse, reply, strPayload, deadline);
        if (status < VI_SUCCESS) {
            return status;
        }
        // The channel let the response through only with its 8-byte size.
        m_nServerMaxMessage =
            hislip::DecodeSize(reinterpret_cast<const std::uint8_t*>(strPayload.data()));
        return VI_SUCCESS;
    }

    ViStatus Lock(const std::string& strKey, const Deadline& deadline) {
        const int nRemaining = deadline.RemainingMs();
        const ViUInt32 nTimeoutMs =
            nRemaining < 0 ? VI_TMO_INFINITE : static_cast<ViUInt32>(nRemaining);
        const Deadline answer(nRemaining < 0 ? VI_TMO_INFINITE : nTimeoutMs + kLockAnswerGraceMs);
        Header reply;
        std::string strPayload;
        const ViStatus status =
            AsyncCall(MessageType::AsyncLock, hislip::kLockRequest, nTimeoutMs, strKey,
                      MessageType::AsyncLockResponse, reply, strPayload, answer);
        if (status < VI_SUCCESS) {
            return status;
        }
        switch (reply.nControl) {
            case hislip::kLockGranted:
                return VI_SUCCESS;
            case hislip::kLockFailed:
                return VI_ERROR_RSRC_LOCKED;
            default:
                return VI_ERROR_IO;
        }
    }

    // One request on the asynchronous channel and its response. Responses
    // there carry no id, so after a request went unanswered in time the
    // channel is out of step: the next request goes behind a size
    // negotiation (harmless, and its response has a type of its own), and
    // everything before that response answers older requests. Service
    // requests that arrive meanwhile go to the hook.
    ViStatus AsyncCall(MessageType eRequest, std::uint8_t nControl, std::uint32_t nParameter,
                       const std::string& strRequestPayload, MessageType eResponse, Header& reply,
                       std::string& strPayload, const Deadline& deadline) {
        // Whatever is already there answers nothing this call asked.
        ViStatus status = PollServiceRequests();
        if (status < VI_SUCCESS) {
            return status;
        }
        bool bInStep = !m_bAsyncOutOfStep;
        if (!bInStep) {
            status = StatusOf(
                m_async.Send(MessageType::AsyncMaximumMessageSize, 0, 0,
                             hislip::EncodeSize(std::uint64_t{m_nMaxMessageKb} * 1024), deadline));
            if (status < VI_SUCCESS) {
                return status;
            }
        }
        status =
            StatusOf(m_async.Send(eRequest, nControl, nParameter, strRequestPayload, deadline));
        if (status < VI_SUCCESS) {
            return status;
        }
        for (;;) {
            status = Receive(m_async, hislip::Channel::Async, reply, strPayload, deadline);
            if (status == VI_ERROR_TMO) {
                m_bAsyncOutOfStep = true;
                return status;
            }
            if (status < VI_SUCCESS) {
                return status;
            }
            if (reply.Type() == MessageType::FatalError) {
                return DeviceError(reply, strPayload);
            }
            if (Unsolicited(reply)) {
                // handed to the hook
            } else if (!bInStep) {
                if (reply.Type() == MessageType::AsyncMaximumMessageSizeResponse) {
                    bInStep = true;
                    m_bAsyncOutOfStep = false;
                }
            } else if (reply.Type() == eResponse) {
                return VI_SUCCESS;
            } else if (reply.Type() == MessageType::Error) {
                return DeviceError(reply, strPayload);
            }
            if (deadline.Passed()) {
                m_bAsyncOutOfStep = true;
                return VI_ERROR_TMO;
            }
        }
    }

    // The next message on a channel that this client may receive there.
    // A stream that can no longer be followed or a message on the wrong
    // channel ends the connection; a type this client does not know is
    // answered with an Error and skipped while the deadline lasts.
    ViStatus Receive(MessageChannel& channel, hislip::Channel eChannel, Header& header,
                     std::string& strPayload, const Deadline& deadline) {
        for (;;) {
            const ChannelResult result = channel.NextMessage(header, strPayload, deadline);
            if (result == ChannelResult::kMalformed) {
                return Violation(channel, hislip::FatalCode::PoorlyFormedHeader, channel.Problem());
            }
            if (result != ChannelResult::kOk) {
                return StatusOf(result);
            }
            switch (FitOf(header, eChannel)) {
                case Fit::kExpected:
                    return VI_SUCCESS;
                case Fit::kWrongChannel:
                    return Violation(
                        channel, hislip::FatalCode::Unidentified,
                        hislip::MessageTypeName(header.nType) + " on the " +
                            (eChannel == hislip::Channel::Sync ? "synchronous" : "asynchronous") +
                            " channel");
                case Fit::kUnknown: {
                    const hislip::ErrorCode eCode =
                        hislip::IsVendorType(header.nType)
                            ? hislip::ErrorCode::UnrecognizedVendorMessage
                            : hislip::ErrorCode::UnrecognizedMessageType;
                    const ChannelResult sent = channel.Send(
                        MessageType::Error, static_cast<std::uint8_t>(eCode), 0,
                        "unrecognized message " + hislip::MessageTypeName(header.nType), deadline);
                    if (sent != ChannelResult::kOk) {
                        return StatusOf(sent);
                    }
                    if (deadline.Passed()) {
                        return VI_ERROR_TMO;
                    }
                    break;
                }
            }
        }
    }

    // Before a write that starts a new exchange, drops the messages already
    // here that answer nothing awaited: a repeated reply, or one that came
    // after its query timed out. Replies that arrive later are told apart
    // by their ids, but a repeat carrying the unknown id is not, so it must
    // go before the next query is sent. Only what arrived already, and a
    // bounded amount of it.
    ViStatus DropArrived() {
        if (m_replies.AwaitsReplies()) {
            return VI_SUCCESS;  // replies are awaited: they stay for the next read
        }
        const Deadline now(0);
        for (int n = 0; n < kMaxPolledMessages; ++n) {
            if (m_replies.InMessage() && m_replies.Left() > 0) {
                std::size_t nGot = 0;
                const ChannelResult result = m_sync.ReadPayload(
                    nullptr,
                    static_cast<std::size_t>(std::min<std::uint64_t>(kSkipChunk, m_replies.Left())),
                    now, &nGot);
                if (result == ChannelResult::kTimeout) {
                    return VI_SUCCESS;
                }
                if (result != ChannelResult::kOk) {
                    return StatusOf(result);
                }
                m_replies.Consume(nGot);
                continue;
            }
            m_replies.LeaveMessage();
            Header header;
            std::string strPayload;
            ViStatus status = Receive(m_sync, hislip::Channel::Sync, header, strPayload, now);
            if (status == VI_ERROR_TMO) {
                return VI_SUCCESS;
            }
            if (status < VI_SUCCESS) {
                return status;
            }
            if (status = DropMessage(header, strPayload); status < VI_SUCCESS) {
                return status;
            }
        }
        return VI_SUCCESS;
    }

    // The device broke the protocol: it hears why, and the connection ends.
    ViStatus Violation(MessageChannel& channel, hislip::FatalCode eCode, std::string strWhy) {
        if (strWhy.size() > hislip::kMaxTextPayload) {
            strWhy.resize(hislip::kMaxTextPayload);
        }
        channel.Send(MessageType::FatalError, static_cast<std::uint8_t>(eCode), 0, strWhy,
                     Deadline(0));
        m_bFatal = true;
        Close();
        return VI_ERROR_CONN_LOST;
    }

    // Drops a message that answers nothing being waited for: the payload of
    // Data or DataEND is skipped as it arrives; a FatalError still ends the
    // link.
    ViStatus DropMessage(const Header& header, const std::string& strPayload) {
        if (header.Type() == MessageType::FatalError) {
            return DeviceError(header, strPayload);
        }
        if (header.Type() != MessageType::Data && header.Type() != MessageType::DataEnd) {
            return VI_SUCCESS;
        }
        const ViStatus status = StartData(header);
        m_replies.Abandon();
        return status;
    }

    // Starts reading a Data or DataEND message whose header just arrived.
    ViStatus StartData(const Header& header) {
        if (header.nLength > m_nAcceptMax) {
            return Violation(
                m_sync, hislip::FatalCode::PoorlyFormedHeader,
                hislip::MessageTypeName(header.nType) + " of " + std::to_string(header.nLength) +
                    " bytes exceeds the maximum message size of " + std::to_string(m_nAcceptMax));
        }
        // The pieces of one reply carry one id; another id before its
        // DataEND would splice two replies into one.
        if (m_replies.Splices(header)) {
            return Violation(m_sync, hislip::FatalCode::Unidentified,
                             hislip::MessageTypeName(header.nType) + " with message id " +
                                 std::to_string(header.nParameter) + " inside the reply to " +
                                 std::to_string(m_replies.OpenReplyId()));
        }
        m_replies.StartMessage(header);
        return VI_SUCCESS;
    }

    // Handles a message the device sends on its own; false for others.
    bool Unsolicited(const Header& header) {
        if (header.Type() == MessageType::AsyncServiceRequest) {
            if (m_serviceRequestHook) {
                m_serviceRequestHook(header.nControl);
            }
            return true;
        }
        return header.Type() == MessageType::AsyncInterrupted;
    }

    ViStatus DeviceError(const Header& header, const std::string&) {
        const bool bFatal = header.Type() == MessageType::FatalError;
        if (bFatal) {
            // The device closes the connection after a fatal error.
            m_bFatal = true;
            Close();
        }
        return StatusOfError(bFatal, header.nControl);
    }

    // A failed read; a timeout gives up on the replies awaited so far.
    ViStatus Failed(ViStatus status) {
        if (status == VI_ERROR_TMO) {
            m_replies.TimedOut();
        }
        return status;
    }

    // The Data or DataEND message being read has been read whole. A DataEND
    // that was taken ends the reply, once the bytes after it are seen to
    // start a header.
    ViStatus EndMessage() {
        if (!m_replies.EndMessage()) {
            return VI_SUCCESS;
        }
        if (m_sync.CheckNextPrologue() == ChannelResult::kMalformed) {
            return Violation(m_sync, hislip::FatalCode::PoorlyFormedHeader, m_sync.Problem());
        }
        m_bEnded = true;
        m_replies.CompleteReply();
        return VI_SUCCESS;
    }

    // The asynchronous channel became readable while a read waited on the
    // synchronous one: service requests go to the hook. When the channel
    // closed, the read goes on without waiting (*ppWait becomes &now).
    ViStatus AsyncTraffic(const Deadline& deadline, const Deadline** ppWait, const Deadline& now) {
        const ViStatus status = PollServiceRequests();
        if (status < VI_SUCCESS && AsyncGone() && !m_bFatal) {
            m_sync.SetWakeFd(-1);
            *ppWait = &now;
            return VI_SUCCESS;
        }
        if (status < VI_SUCCESS) {
            return status;
        }
        return deadline.Passed() ? VI_ERROR_TMO : VI_SUCCESS;
    }

    bool AsyncGone() const { return m_async.Fd() < 0 || m_async.Broken(); }

    // While it lives, waits on the synchronous channel end when the
    // asynchronous one becomes readable.
    class WatchAsync {
      public:
        explicit WatchAsync(HislipTransport& transport) : m_transport(transport) {
            if (!m_transport.AsyncGone()) {
                m_transport.m_sync.SetWakeFd(m_transport.m_async.Fd());
            }
        }
        ~WatchAsync() { m_transport.m_sync.SetWakeFd(-1); }
        WatchAsync(const WatchAsync&) = delete;
        WatchAsync& operator=(const WatchAsync&) = delete;

      private:
        HislipTransport& m_transport;
    };

    bool Lost() const {
        return m_bFatal || m_sync.Fd() < 0 || m_async.Fd() < 0 || m_sync.Broken() ||
               m_async.Broken();
    }

    MessageChannel m_sync;
    MessageChannel m_async;
    std::string m_strPeer;
    MessageOptions m_options;
    std::uint16_t m_nVersion = 0;
    ViUInt32 m_nMaxMessageKb = kDefaultMaxMessageKb;
    // The largest Data or DataEND payload the device may send.
    std::uint64_t m_nAcceptMax = 0;
    std::uint64_t m_nServerMaxMessage = 0;
    bool m_bOverlap = false;
    bool m_bOverlapWanted = false;
    bool m_bFatal = false;
    bool m_bAsyncOutOfStep = false;
    hislip::ReplyTracker m_replies;
    // Whether the last read ended with the end of a reply.
    bool m_bEnded = false;
    std::function<void(ViUInt8)> m_serviceRequestHook;
};

}  // namespace

std::unique_ptr<Transport> CreateHislipTransport() {
    return std::make_unique<HislipTransport>();
}

}  // namespace tkvisa
