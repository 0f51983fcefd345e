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
// of being taken as the answer to the next one.
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "HislipMessage.h"
#include "Transport.h"

namespace tkvisa {
namespace {

using hislip::Header;
using hislip::MessageType;

constexpr ViUInt32 kDefaultMaxMessageKb = 1024;
// The vendor id sent in Initialize: two ASCII characters.
constexpr std::uint16_t kVendorId = ('T' << 8) | 'K';
// Input buffer of a channel; also the largest message other than Data and
// DataEND that a channel accepts.
constexpr std::size_t kChannelBuffer = 64 * 1024;
// A lock request waits this much longer than the device's own lock timeout,
// so that the device's answer arrives before the wait gives up.
constexpr ViUInt32 kLockMarginMs = 2000;
constexpr ViUInt32 kDefaultOpenTimeoutMs = 2000;

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

bool IsAsyncResponse(MessageType eType) {
    switch (eType) {
        case MessageType::AsyncLockResponse:
        case MessageType::AsyncRemoteLocalResponse:
        case MessageType::AsyncMaximumMessageSizeResponse:
        case MessageType::AsyncInitializeResponse:
        case MessageType::AsyncStatusResponse:
        case MessageType::AsyncDeviceClearAcknowledge:
        case MessageType::AsyncLockInfoResponse:
        case MessageType::Error:
            return true;
        default:
            return false;
    }
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

// One of the two connections: a non-blocking socket with an input buffer,
// so that a header split over several segments is put together before use
// and a timeout in the middle of a small message loses nothing.
class Channel {
  public:
    ~Channel() { Close(); }

    ViStatus Connect(const sockaddr_storage& address, socklen_t nLength, std::uint16_t nPort,
                     const Deadline& deadline) {
        sockaddr_storage target = address;
        if (target.ss_family == AF_INET6) {
            reinterpret_cast<sockaddr_in6*>(&target)->sin6_port = htons(nPort);
        } else {
            reinterpret_cast<sockaddr_in*>(&target)->sin_port = htons(nPort);
        }
        m_fd = ::socket(target.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (m_fd < 0) {
            return VI_ERROR_RSRC_NFOUND;
        }
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&target), nLength) != 0) {
            if (errno != EINPROGRESS || Wait(POLLOUT, deadline) != VI_SUCCESS) {
                Close();
                return VI_ERROR_RSRC_NFOUND;
            }
            int nError = 0;
            socklen_t nErrorLength = sizeof nError;
            if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &nError, &nErrorLength) != 0 ||
                nError != 0) {
                Close();
                return VI_ERROR_RSRC_NFOUND;
            }
        }
        const int nOne = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof nOne);
        return VI_SUCCESS;
    }

    void Close() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
        m_nPos = m_nEnd = 0;
    }

    void Shutdown() {
        if (m_fd >= 0) {
            ::shutdown(m_fd, SHUT_RDWR);
        }
    }

    int Fd() const { return m_fd; }
    bool Broken() const { return m_bBroken; }

    // Sends a header and its payload; a send cut short by the deadline
    // leaves the peer with part of a message, so the channel is broken.
    ViStatus Send(const Header& header, const void* pPayload, std::size_t nPayload,
                  const Deadline& deadline) {
        std::uint8_t achHeader[hislip::kHeaderSize];
        hislip::EncodeHeader(header, achHeader);
        iovec aiov[2] = {{achHeader, sizeof achHeader}, {const_cast<void*>(pPayload), nPayload}};
        std::size_t nLeft = sizeof achHeader + nPayload;
        std::size_t nSent = 0;
        while (nLeft > 0) {
            msghdr message{};
            message.msg_iov = aiov;
            message.msg_iovlen = 2;
            const ssize_t n = ::sendmsg(m_fd, &message, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    const ViStatus status = Wait(POLLOUT, deadline);
                    if (status < VI_SUCCESS) {
                        m_bBroken = nSent > 0;
                        return status;
                    }
                    continue;
                }
                m_bBroken = true;
                return VI_ERROR_CONN_LOST;
            }
            nSent += static_cast<std::size_t>(n);
            nLeft -= static_cast<std::size_t>(n);
            std::size_t nSkip = static_cast<std::size_t>(n);
            for (iovec& iov : aiov) {
                const std::size_t nTake = std::min(nSkip, iov.iov_len);
                iov.iov_base = static_cast<std::uint8_t*>(iov.iov_base) + nTake;
                iov.iov_len -= nTake;
                nSkip -= nTake;
            }
        }
        return VI_SUCCESS;
    }

    ViStatus Send(MessageType eType, std::uint8_t nControl, std::uint32_t nParameter,
                  const std::string& strPayload, const Deadline& deadline) {
        Header header;
        header.nType = static_cast<std::uint8_t>(eType);
        header.nControl = nControl;
        header.nParameter = nParameter;
        header.nLength = strPayload.size();
        return Send(header, strPayload.data(), strPayload.size(), deadline);
    }

    // The next message. Data and DataEND give only their header: the caller
    // takes the payload with ReadPayload. Every other message comes whole,
    // its payload in strPayload, or not at all. VI_ERROR_IO for a header
    // without the prologue or a control message too large to be one.
    ViStatus NextMessage(Header& header, std::string& strPayload, const Deadline& deadline) {
        ViStatus status = Buffer(hislip::kHeaderSize, deadline);
        if (status < VI_SUCCESS) {
            return status;
        }
        if (!hislip::DecodeHeader(&m_vecIn[m_nPos], header)) {
            return VI_ERROR_IO;
        }
        if (header.Type() == MessageType::Data || header.Type() == MessageType::DataEnd) {
            m_nPos += hislip::kHeaderSize;
            return VI_SUCCESS;
        }
        if (header.nLength > kChannelBuffer - hislip::kHeaderSize) {
            return VI_ERROR_IO;
        }
        const std::size_t nTotal = hislip::kHeaderSize + static_cast<std::size_t>(header.nLength);
        status = Buffer(nTotal, deadline);
        if (status < VI_SUCCESS) {
            return status;
        }
        strPayload.assign(reinterpret_cast<const char*>(&m_vecIn[m_nPos + hislip::kHeaderSize]),
                          nTotal - hislip::kHeaderSize);
        m_nPos += nTotal;
        return VI_SUCCESS;
    }

    // Up to nMax payload bytes (at least one), into pData or, when null, away.
    ViStatus ReadPayload(ViByte* pData, std::size_t nMax, const Deadline& deadline,
                         std::size_t* pGot) {
        *pGot = 0;
        if (m_nPos == m_nEnd) {
            const ViStatus status = Buffer(1, deadline);
            if (status < VI_SUCCESS) {
                return status;
            }
        }
        const std::size_t nTake = std::min(nMax, m_nEnd - m_nPos);
        if (pData != nullptr) {
            std::memcpy(pData, &m_vecIn[m_nPos], nTake);
        }
        m_nPos += nTake;
        *pGot = nTake;
        return VI_SUCCESS;
    }

  private:
    ViStatus Wait(short nEvents, const Deadline& deadline) {
        for (;;) {
            pollfd pfd{m_fd, nEvents, 0};
            const int nReady = ::poll(&pfd, 1, deadline.RemainingMs());
            if (nReady > 0) {
                return VI_SUCCESS;
            }
            if (nReady == 0) {
                return VI_ERROR_TMO;
            }
            if (errno != EINTR) {
                return VI_ERROR_IO;
            }
        }
    }

    // Reads until at least nCount bytes are buffered.
    ViStatus Buffer(std::size_t nCount, const Deadline& deadline) {
        if (m_fd < 0) {
            return VI_ERROR_CONN_LOST;
        }
        if (m_nEnd - m_nPos >= nCount) {
            return VI_SUCCESS;
        }
        if (m_nPos > 0) {
            std::memmove(m_vecIn.data(), &m_vecIn[m_nPos], m_nEnd - m_nPos);
            m_nEnd -= m_nPos;
            m_nPos = 0;
        }
        while (m_nEnd < nCount) {
            const ssize_t n = ::recv(m_fd, &m_vecIn[m_nEnd], m_vecIn.size() - m_nEnd, 0);
            if (n > 0) {
                m_nEnd += static_cast<std::size_t>(n);
                continue;
            }
            if (n == 0) {
                m_bBroken = true;
                return VI_ERROR_CONN_LOST;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                m_bBroken = true;
                return VI_ERROR_CONN_LOST;
            }
            const ViStatus status = Wait(POLLIN, deadline);
            if (status < VI_SUCCESS) {
                return status;
            }
        }
        return VI_SUCCESS;
    }

    int m_fd = -1;
    bool m_bBroken = false;
    std::vector<ViByte> m_vecIn = std::vector<ViByte>(kChannelBuffer);
    std::size_t m_nPos = 0;
    std::size_t m_nEnd = 0;
};

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
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* pList = nullptr;
        if (::getaddrinfo(resource.strHost.c_str(), nullptr, &hints, &pList) != 0 ||
            pList == nullptr) {
            return VI_ERROR_RSRC_NFOUND;
        }
        sockaddr_storage address{};
        std::memcpy(&address, pList->ai_addr, pList->ai_addrlen);
        const socklen_t nLength = pList->ai_addrlen;
        ::freeaddrinfo(pList);
        char szHost[NI_MAXHOST] = {};
        if (::getnameinfo(reinterpret_cast<sockaddr*>(&address), nLength, szHost, sizeof szHost,
                          nullptr, 0, NI_NUMERICHOST) == 0) {
            m_strPeer = szHost;
        }
        const Deadline deadline(nOpenTimeoutMs == 0 ? kDefaultOpenTimeoutMs : nOpenTimeoutMs);
        const ViStatus status = Initialize(address, nLength, nPort, strSubAddress, deadline);
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
        if (Lost()) {
            return VI_ERROR_CONN_LOST;
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
            header.nControl = TakeRmtDelivered();
            header.nParameter = m_nMessageId;
            header.nLength = nChunk;
            const ViStatus status = m_sync.Send(header, pData + *pWritten, nChunk, deadline);
            if (status < VI_SUCCESS) {
                return status;
            }
            NoteSent();
            *pWritten += nChunk;
        } while (*pWritten < nCount);
        return VI_SUCCESS;
    }

    ViStatus Read(ViByte* pData, std::size_t nMax, const Deadline& deadline,
                  std::size_t* pRead) override {
        *pRead = 0;
        m_bEnded = false;
        if (Lost()) {
            return VI_ERROR_CONN_LOST;
        }
        for (;;) {
            if (m_bInMessage && m_nLeft > 0) {
                std::size_t nGot = 0;
                const ViStatus status =
                    m_sync.ReadPayload(m_bAccepted ? pData : nullptr,
                                       static_cast<std::size_t>(std::min<std::uint64_t>(
                                           m_bAccepted ? nMax : kChannelBuffer, m_nLeft)),
                                       deadline, &nGot);
                if (status < VI_SUCCESS) {
                    return Failed(status);
                }
                m_nLeft -= nGot;
                if (!m_bAccepted) {
                    continue;
                }
                *pRead = nGot;
                if (m_nLeft == 0) {
                    FinishMessage();
                }
                return VI_SUCCESS;
            }
            if (m_bInMessage) {
                const bool bEnds = m_bAccepted && m_eMessage == MessageType::DataEnd;
                FinishMessage();
                if (bEnds) {
                    return VI_SUCCESS;
                }
            }
            Header header;
            std::string strPayload;
            const ViStatus status = m_sync.NextMessage(header, strPayload, deadline);
            if (status < VI_SUCCESS) {
                return Failed(status);
            }
            switch (header.Type()) {
                case MessageType::Data:
                case MessageType::DataEnd:
                    m_bInMessage = true;
                    m_eMessage = header.Type();
                    m_nLeft = header.nLength;
                    m_bAccepted = Accepts(header.nParameter);
                    break;
                case MessageType::Error:
                case MessageType::FatalError:
                    return DeviceError(header, strPayload);
                default:
                    // Interrupted and anything else the read does not wait for.
                    break;
            }
        }
    }

    bool ReadEndedMessage() const override { return m_bEnded; }

    ViStatus DiscardInput() override { return Lost() ? VI_ERROR_CONN_LOST : VI_SUCCESS; }

    ViStatus Apply(const LineSettings& settings) override {
        const int nNoDelay = settings.bNoDelay ? 1 : 0;
        const int nKeepAlive = settings.bKeepAlive ? 1 : 0;
        for (const Channel* pChannel : {&m_sync, &m_async}) {
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
        m_bAccepted = false;
        status = m_sync.Send(MessageType::DeviceClearComplete,
                             m_bOverlapWanted ? hislip::kOverlapBit : 0, 0, {}, deadline);
        if (status < VI_SUCCESS) {
            return Failed(status);
        }
        for (;;) {
            if (m_bInMessage && m_nLeft > 0) {
                std::size_t nGot = 0;
                status = m_sync.ReadPayload(
                    nullptr,
                    static_cast<std::size_t>(std::min<std::uint64_t>(kChannelBuffer, m_nLeft)),
                    deadline, &nGot);
                if (status < VI_SUCCESS) {
                    return Failed(status);
                }
                m_nLeft -= nGot;
                continue;
            }
            m_bInMessage = false;
            Header header;
            status = m_sync.NextMessage(header, strPayload, deadline);
            if (status < VI_SUCCESS) {
                return Failed(status);
            }
            if (header.Type() == MessageType::Data || header.Type() == MessageType::DataEnd) {
                m_bInMessage = true;
                m_bAccepted = false;
                m_nLeft = header.nLength;
            } else if (header.Type() == MessageType::FatalError) {
                return DeviceError(header, strPayload);
            } else if (header.Type() == MessageType::DeviceClearAcknowledge) {
                m_bOverlap = (header.nControl & hislip::kOverlapBit) != 0;
                break;
            }
        }
        m_nMessageId = hislip::kFirstMessageId;
        m_bSentAny = false;
        m_bNewRange = true;
        m_bRmtDelivered = false;
        return VI_SUCCESS;
    }

    ViStatus ReadStatusByte(ViUInt16* pStatus, const Deadline& deadline) override {
        Header reply;
        std::string strPayload;
        const ViStatus status =
            AsyncCall(MessageType::AsyncStatusQuery, TakeRmtDelivered(), LastSentId(), {},
                      MessageType::AsyncStatusResponse, reply, strPayload, deadline);
        if (status >= VI_SUCCESS) {
            *pStatus = reply.nControl;
        }
        return status;
    }

    ViStatus AssertTrigger(const Deadline& deadline) override {
        if (Lost()) {
            return VI_ERROR_CONN_LOST;
        }
        const ViStatus status =
            m_sync.Send(MessageType::Trigger, TakeRmtDelivered(), m_nMessageId, {}, deadline);
        if (status >= VI_SUCCESS) {
            NoteSent();
        }
        return status;
    }

    ViStatus LockDevice(const Deadline& deadline) override { return Lock({}, deadline); }

    ViStatus LockDeviceShared(const std::string& strKey, const Deadline& deadline) override {
        return strKey.empty() ? VI_ERROR_INV_LOCK_TYPE : Lock(strKey, deadline);
    }

    ViStatus UnlockDevice() override {
        Header reply;
        std::string strPayload;
        const ViStatus status = AsyncCall(MessageType::AsyncLock, hislip::kLockRelease,
                                          LastSentId(), {}, MessageType::AsyncLockResponse, reply,
                                          strPayload, Deadline(kDefaultOpenTimeoutMs));
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

    ViStatus PollServiceRequests() override {
        if (Lost()) {
            return VI_ERROR_CONN_LOST;
        }
        for (;;) {
            Header header;
            std::string strPayload;
            const ViStatus status = m_async.NextMessage(header, strPayload, Deadline(0));
            if (status == VI_ERROR_TMO) {
                return VI_SUCCESS;
            }
            if (status < VI_SUCCESS) {
                return Failed(status);
            }
            if (header.Type() == MessageType::FatalError) {
                return DeviceError(header, strPayload);
            }
            if (!Unsolicited(header) && IsAsyncResponse(header.Type()) && m_nStaleAsync > 0) {
                --m_nStaleAsync;
            }
        }
    }

    void Interrupt() override {
        m_sync.Shutdown();
        m_async.Shutdown();
    }

    std::string PeerAddress() const override { return m_strPeer; }

  private:
    ViStatus Initialize(const sockaddr_storage& address, socklen_t nLength, std::uint16_t nPort,
                        const std::string& strSubAddress, const Deadline& deadline) {
        if (m_sync.Connect(address, nLength, nPort, deadline) < VI_SUCCESS) {
            return VI_ERROR_RSRC_NFOUND;
        }
        ViStatus status = m_sync.Send(MessageType::Initialize, 0,
                                      (std::uint32_t{hislip::kProtocolVersion} << 16) | kVendorId,
                                      strSubAddress, deadline);
        Header header;
        std::string strPayload;
        if (status >= VI_SUCCESS) {
            status = m_sync.NextMessage(header, strPayload, deadline);
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
        const std::uint16_t nServerVersion = static_cast<std::uint16_t>(header.nParameter >> 16);
        if ((nServerVersion >> 8) == 0) {
            return VI_ERROR_RSRC_NFOUND;
        }
        m_nVersion = std::min(nServerVersion, hislip::kProtocolVersion);
        m_bOverlap = (header.nControl & hislip::kOverlapBit) != 0;
        m_bOverlapWanted = m_bOverlap;
        const std::uint16_t nSessionId = static_cast<std::uint16_t>(header.nParameter & 0xFFFF);

        if (m_async.Connect(address, nLength, nPort, deadline) < VI_SUCCESS) {
            return VI_ERROR_RSRC_NFOUND;
        }
        status = AsyncCall(MessageType::AsyncInitialize, 0, nSessionId, {},
                           MessageType::AsyncInitializeResponse, header, strPayload, deadline);
        if (status < VI_SUCCESS) {
            return status == VI_ERROR_TMO ? VI_ERROR_TMO : VI_ERROR_RSRC_NFOUND;
        }
        status = NegotiateMessageSize(deadline);
        if (status < VI_SUCCESS) {
            return status;
        }
        m_nMessageId = hislip::kFirstMessageId;
        return VI_SUCCESS;
    }

    ViStatus NegotiateMessageSize(const Deadline& deadline) {
        Header reply;
        std::string strPayload;
        const ViStatus status =
            AsyncCall(MessageType::AsyncMaximumMessageSize, 0, 0,
                      hislip::EncodeSize(std::uint64_t{m_nMaxMessageKb} * 1024),
                      MessageType::AsyncMaximumMessageSizeResponse, reply, strPayload, deadline);
        if (status < VI_SUCCESS) {
            return status;
        }
        if (strPayload.size() != 8) {
            return VI_ERROR_IO;
        }
        m_nServerMaxMessage =
            hislip::DecodeSize(reinterpret_cast<const std::uint8_t*>(strPayload.data()));
        return VI_SUCCESS;
    }

    ViStatus Lock(const std::string& strKey, const Deadline& deadline) {
        const int nRemaining = deadline.RemainingMs();
        const ViUInt32 nTimeoutMs =
            nRemaining < 0 ? 0xFFFFFFFFu : static_cast<ViUInt32>(nRemaining);
        Header reply;
        std::string strPayload;
        const ViStatus status = AsyncCall(
            MessageType::AsyncLock, hislip::kLockRequest, nTimeoutMs, strKey,
            MessageType::AsyncLockResponse, reply, strPayload,
            nRemaining < 0 ? Deadline(VI_TMO_INFINITE) : Deadline(nTimeoutMs + kLockMarginMs));
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

    // One request on the asynchronous channel and its response. Service
    // requests that arrive meanwhile go to the hook; responses to requests
    // that timed out earlier come first and are skipped.
    ViStatus AsyncCall(MessageType eRequest, std::uint8_t nControl, std::uint32_t nParameter,
                       const std::string& strRequestPayload, MessageType eResponse, Header& reply,
                       std::string& strPayload, const Deadline& deadline) {
        if (Lost()) {
            return VI_ERROR_CONN_LOST;
        }
        ViStatus status = m_async.Send(eRequest, nControl, nParameter, strRequestPayload, deadline);
        if (status < VI_SUCCESS) {
            return Failed(status);
        }
        for (;;) {
            status = m_async.NextMessage(reply, strPayload, deadline);
            if (status == VI_ERROR_TMO) {
                ++m_nStaleAsync;
                return status;
            }
            if (status < VI_SUCCESS) {
                return Failed(status);
            }
            if (Unsolicited(reply)) {
                continue;
            }
            if (reply.Type() == MessageType::FatalError) {
                return DeviceError(reply, strPayload);
            }
            if (IsAsyncResponse(reply.Type()) && m_nStaleAsync > 0) {
                --m_nStaleAsync;
                continue;
            }
            if (reply.Type() == eResponse) {
                return VI_SUCCESS;
            }
            if (reply.Type() == MessageType::Error) {
                return DeviceError(reply, strPayload);
            }
        }
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

    // A failed receive: a timeout leaves the rest of the current message to
    // be skipped and restarts the range of awaited replies; a header without
    // the prologue means the stream can no longer be followed.
    ViStatus Failed(ViStatus status) {
        if (status == VI_ERROR_TMO) {
            m_bAccepted = false;
            m_bNewRange = true;
            return status;
        }
        if (status == VI_ERROR_IO) {
            m_sync.Send(MessageType::FatalError,
                        static_cast<std::uint8_t>(hislip::FatalCode::PoorlyFormedHeader), 0,
                        "poorly formed message header", Deadline(0));
            m_bFatal = true;
            Close();
            return VI_ERROR_IO;
        }
        return status;
    }

    void FinishMessage() {
        if (m_bAccepted && m_eMessage == MessageType::DataEnd) {
            m_bEnded = true;
            m_bRmtDelivered = true;
            m_bNewRange = true;
        }
        m_bInMessage = false;
        m_bAccepted = false;
    }

    bool Lost() const {
        return m_bFatal || m_sync.Fd() < 0 || m_async.Fd() < 0 || m_sync.Broken() ||
               m_async.Broken();
    }

    std::uint8_t TakeRmtDelivered() {
        return std::exchange(m_bRmtDelivered, false) ? hislip::kRmtDelivered : 0;
    }

    std::uint32_t LastSentId() const { return m_nMessageId - 2; }

    void NoteSent() {
        if (m_bNewRange || !m_bSentAny) {
            m_nRangeStart = m_nMessageId;
            m_bNewRange = false;
        }
        m_nLastSent = m_nMessageId;
        m_bSentAny = true;
        m_nMessageId += 2;
    }

    // Whether a reply with this message id answers a message sent since the
    // last complete reply; ids wrap around.
    bool Accepts(std::uint32_t nId) const {
        if (nId == hislip::kUnknownMessageId) {
            return true;
        }
        return m_bSentAny && nId - m_nRangeStart <= m_nLastSent - m_nRangeStart;
    }

    Channel m_sync;
    Channel m_async;
    std::string m_strPeer;
    MessageOptions m_options;
    std::uint16_t m_nVersion = 0;
    ViUInt32 m_nMaxMessageKb = kDefaultMaxMessageKb;
    std::uint64_t m_nServerMaxMessage = 0;
    bool m_bOverlap = false;
    bool m_bOverlapWanted = false;
    bool m_bFatal = false;
    std::uint32_t m_nMessageId = hislip::kFirstMessageId;
    std::uint32_t m_nRangeStart = 0;
    std::uint32_t m_nLastSent = 0;
    bool m_bSentAny = false;
    bool m_bNewRange = true;
    bool m_bRmtDelivered = false;
    // The Data or DataEND message being read.
    bool m_bInMessage = false;
    bool m_bAccepted = false;
    MessageType m_eMessage = MessageType::Data;
    std::uint64_t m_nLeft = 0;
    bool m_bEnded = false;
    unsigned m_nStaleAsync = 0;
    std::function<void(ViUInt8)> m_serviceRequestHook;
};

}  // namespace

std::unique_ptr<Transport> CreateHislipTransport() {
    return std::make_unique<HislipTransport>();
}

}  // namespace tkvisa
