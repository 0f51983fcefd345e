#include "HislipReplies.h"

#include <utility>

namespace tkvisa::hislip {

void ReplyTracker::NoteSent() {
    if (m_bNewRange) {
        m_nRangeStart = m_nMessageId;
        m_bNewRange = false;
    }
    m_nMessageId += 2;
}

std::uint8_t ReplyTracker::TakeRmtDelivered() {
    return std::exchange(m_bRmtDelivered, false) ? kRmtDelivered : 0;
}

void ReplyTracker::Reset() {
    m_nMessageId = kFirstMessageId;
    m_nRangeStart = m_nMessageId;
    m_bNewRange = false;
    m_bRmtDelivered = false;
}

bool ReplyTracker::Accepts(std::uint32_t nId) const {
    if (nId == kUnknownMessageId) {
        return m_nRangeStart != m_nMessageId;
    }
    const std::uint32_t nOffset = nId - m_nRangeStart;
    return nOffset < m_nMessageId - m_nRangeStart && nOffset % 2 == 0;
}

void ReplyTracker::StartMessage(const Header& header) {
    m_bInMessage = true;
    m_eMessage = header.Type();
    m_nLeft = header.nLength;
    m_nCurrentId = header.nParameter;
    m_bAccepted = Accepts(header.nParameter);
    if (m_bAccepted && m_eMessage == MessageType::Data) {
        m_bResponseOpen = true;
        m_nResponseId = header.nParameter;
    }
}

void ReplyTracker::Abandon() {
    m_bAccepted = false;
    m_bResponseOpen = false;
}

bool ReplyTracker::EndMessage() {
    const bool bEndsReply = m_bAccepted && m_eMessage == MessageType::DataEnd;
    m_bInMessage = false;
    m_bAccepted = false;
    return bEndsReply;
}

void ReplyTracker::CompleteReply() {
    m_bRmtDelivered = true;
    m_bResponseOpen = false;
    m_nRangeStart = m_nCurrentId != kUnknownMessageId ? m_nCurrentId + 2 : m_nMessageId;
}

void ReplyTracker::TimedOut() {
    if (m_bResponseOpen || (m_bInMessage && m_bAccepted)) {
        const std::uint32_t nId = m_bResponseOpen ? m_nResponseId : m_nCurrentId;
        m_nRangeStart = nId != kUnknownMessageId ? nId + 2 : m_nMessageId;
        m_bResponseOpen = false;
    }
    m_bAccepted = false;
    m_bNewRange = true;
}

}  // namespace tkvisa::hislip
