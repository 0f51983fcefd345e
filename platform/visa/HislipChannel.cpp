#include "HislipChannel.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace tkvisa::hislip {
namespace {

// Payloads up to this size go out in the same send as their header, so a
// small message leaves in one segment.
constexpr std::size_t kJoinedPayload = 4096;

ChannelResult ResultOf(tknet::Result result) {
    switch (result) {
        case tknet::Result::kOk:
            return ChannelResult::kOk;
        case tknet::Result::kTimeout:
            return ChannelResult::kTimeout;
        case tknet::Result::kWoken:
            return ChannelResult::kWoken;
        default:
            return ChannelResult::kGone;
    }
}

}  // namespace

tknet::Result MessageChannel::Connect(const std::vector<tknet::Address>& vecAddresses,
                                      const tknet::Deadline& deadline, tknet::Address* pPeer) {
    Close();
    tknet::Fd fd;
    const tknet::Result result = tknet::ConnectAny(vecAddresses, deadline, &fd, pPeer);
    if (result == tknet::Result::kOk) {
        Attach(std::move(fd));
    }
    return result;
}

void MessageChannel::Attach(tknet::Fd fd) {
    m_fd = std::move(fd);
    m_bReadBroken = m_bWriteBroken = false;
    m_nPos = m_nEnd = 0;
}

void MessageChannel::Close() {
    m_fd.Reset();
    m_nPos = m_nEnd = 0;
}

void MessageChannel::Shutdown() {
    if (m_fd) {
        ::shutdown(m_fd.Get(), SHUT_RDWR);
    }
}

ChannelResult MessageChannel::Gone() {
    m_bReadBroken = true;
    return ChannelResult::kGone;
}

ChannelResult MessageChannel::Malformed(Malformation eHow, std::string strProblem) {
    m_bReadBroken = true;
    m_eMalformation = eHow;
    m_strProblem = std::move(strProblem);
    return ChannelResult::kMalformed;
}

ChannelResult MessageChannel::Send(const Header& header, const void* pPayload, std::size_t nPayload,
                                   const tknet::Deadline& deadline) {
    if (!m_fd || m_bWriteBroken) {
        return ChannelResult::kGone;
    }
    std::uint8_t achMessage[kHeaderSize + kJoinedPayload];
    EncodeHeader(header, achMessage);
    const bool bJoined = nPayload <= kJoinedPayload;
    if (bJoined && nPayload > 0) {
        std::memcpy(achMessage + kHeaderSize, pPayload, nPayload);
    }
    std::size_t nSent = 0;
    tknet::Result result = tknet::SendAll(
        m_fd.Get(), achMessage, kHeaderSize + (bJoined ? nPayload : 0), deadline, &nSent, m_fdWake);
    if (result == tknet::Result::kOk && !bJoined) {
        std::size_t nPayloadSent = 0;
        result = tknet::SendAll(m_fd.Get(), pPayload, nPayload, deadline, &nPayloadSent, m_fdWake);
        nSent += nPayloadSent;
    }
    if (result == tknet::Result::kOk) {
        return ChannelResult::kOk;
    }
    if (tknet::IsGone(result) || result == tknet::Result::kError || nSent > 0) {
        // Part of a message went out: the peer can no longer find the next
        // header, so this connection is finished.
        m_bWriteBroken = true;
    }
    return tknet::IsGone(result) || result == tknet::Result::kError ? ChannelResult::kGone
                                                                    : ResultOf(result);
}

ChannelResult MessageChannel::Send(MessageType eType, std::uint8_t nControl,
                                   std::uint32_t nParameter, std::string_view strPayload,
                                   const tknet::Deadline& deadline) {
    Header header;
    header.nType = static_cast<std::uint8_t>(eType);
    header.nControl = nControl;
    header.nParameter = nParameter;
    header.nLength = strPayload.size();
    return Send(header, strPayload.data(), strPayload.size(), deadline);
}

// Reads until at least nCount bytes are buffered; the buffer grows to
// nCount, which the limits bound.
ChannelResult MessageChannel::Fill(std::size_t nCount, const tknet::Deadline& deadline) {
    if (!m_fd) {
        return ChannelResult::kGone;
    }
    if (m_nEnd - m_nPos >= nCount) {
        return ChannelResult::kOk;
    }
    if (m_nPos > 0) {
        std::memmove(m_vecIn.data(), m_vecIn.data() + m_nPos, m_nEnd - m_nPos);
        m_nEnd -= m_nPos;
        m_nPos = 0;
    }
    if (m_vecIn.size() < nCount) {
        m_vecIn.resize(nCount);
    }
    while (m_nEnd < nCount) {
        std::size_t nGot = 0;
        const tknet::Result result =
            tknet::ReceiveSome(m_fd.Get(), m_vecIn.data() + m_nEnd, m_vecIn.size() - m_nEnd,
                               deadline, &nGot, m_fdWake);
        if (result != tknet::Result::kOk) {
            return tknet::IsGone(result) || result == tknet::Result::kError ? Gone()
                                                                            : ResultOf(result);
        }
        m_nEnd += nGot;
    }
    return ChannelResult::kOk;
}

ChannelResult MessageChannel::NextMessage(Header& header, std::string& strPayload,
                                          const tknet::Deadline& deadline) {
    if (m_bReadBroken) {
        return ChannelResult::kGone;
    }
    ChannelResult result = Fill(kHeaderSize, deadline);
    if (result != ChannelResult::kOk) {
        return result;
    }
    if (!DecodeHeader(m_vecIn.data() + m_nPos, header)) {
        return Malformed(Malformation::kPrologue, "message header without the HS prologue");
    }
    const MessageRule* pRule = RuleOf(header.nType);
    const PayloadKind eKind = pRule != nullptr ? pRule->ePayload : PayloadKind::Text;
    if (eKind == PayloadKind::Stream) {
        m_nPos += kHeaderSize;
        strPayload.clear();
        return ChannelResult::kOk;
    }
    const bool bExact = m_limits.bExactLengths && eKind != PayloadKind::Text;
    const bool bLengthFits = !bExact                      ? header.nLength <= m_limits.nMaxControl
                             : eKind == PayloadKind::None ? header.nLength == 0
                                                          : header.nLength == 8;
    if (!bLengthFits) {
        return Malformed(Malformation::kLength, MessageTypeName(header.nType) +
                                                    " with a payload length of " +
                                                    std::to_string(header.nLength));
    }
    const std::size_t nTotal = kHeaderSize + static_cast<std::size_t>(header.nLength);
    result = Fill(nTotal, deadline);
    if (result != ChannelResult::kOk) {
        return result;
    }
    strPayload.assign(reinterpret_cast<const char*>(m_vecIn.data() + m_nPos + kHeaderSize),
                      nTotal - kHeaderSize);
    m_nPos += nTotal;
    return ChannelResult::kOk;
}

ChannelResult MessageChannel::ReadPayload(void* pData, std::size_t nMax,
                                          const tknet::Deadline& deadline, std::size_t* pGot) {
    *pGot = 0;
    if (m_bReadBroken) {
        return ChannelResult::kGone;
    }
    if (m_nPos == m_nEnd) {
        const ChannelResult result = Fill(1, deadline);
        if (result != ChannelResult::kOk) {
            return result;
        }
    }
    const std::size_t nTake = std::min(nMax, m_nEnd - m_nPos);
    if (pData != nullptr) {
        std::memcpy(pData, m_vecIn.data() + m_nPos, nTake);
    }
    m_nPos += nTake;
    *pGot = nTake;
    return ChannelResult::kOk;
}

ChannelResult MessageChannel::CheckNextPrologue() {
    if (m_bReadBroken || !m_fd) {
        return ChannelResult::kGone;
    }
    if (m_nEnd - m_nPos < 2) {
        if (m_nPos > 0) {
            std::memmove(m_vecIn.data(), m_vecIn.data() + m_nPos, m_nEnd - m_nPos);
            m_nEnd -= m_nPos;
            m_nPos = 0;
        }
        std::size_t nGot = 0;
        // A closed or broken connection shows at the next read.
        if (tknet::ReceiveNow(m_fd.Get(), m_vecIn.data() + m_nEnd, m_vecIn.size() - m_nEnd,
                              &nGot) == tknet::Result::kOk) {
            m_nEnd += nGot;
        }
    }
    const std::size_t nThere = m_nEnd - m_nPos;
    if ((nThere >= 1 && m_vecIn[m_nPos] != 'H') || (nThere >= 2 && m_vecIn[m_nPos + 1] != 'S')) {
        return Malformed(Malformation::kTrailingPayload,
                         "payload beyond the length its header gave");
    }
    return ChannelResult::kOk;
}

}  // namespace tkvisa::hislip
