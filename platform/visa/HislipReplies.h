// Which replies answer which messages on a HiSLIP client's synchronous
// channel. Every Data, DataEND and Trigger message the client sends carries
// a message id (from kFirstMessageId, advancing by two, wrapping around),
// and the device answers with the id of the message it answers. A read
// takes only replies to the messages sent since the last complete reply (or
// since a timeout), so the late reply to a query that timed out is skipped
// instead of being taken as the answer to the next one.
//
// The tracker follows the ids sent, the Data or DataEND message being read
// and whether it is taken, the reply whose pieces were taken and whose
// DataEND is due, and the RMT-delivered bit the next message carries. It
// does no I/O: the transport reads and writes, and tells it what happened.
#pragma once

#include <cstddef>
#include <cstdint>

#include "HislipMessage.h"

namespace tkvisa::hislip {

class ReplyTracker {
  public:
    // ----- Sending -----------------------------------------------------------

    // The id the next Data, DataEND or Trigger message carries.
    std::uint32_t NextId() const { return m_nMessageId; }
    // The id of the last one sent, which AsyncStatusQuery and AsyncLock name.
    std::uint32_t LastSentId() const { return m_nMessageId - 2; }
    // A Data, DataEND or Trigger message went out with NextId().
    void NoteSent();
    // The RMT-delivered bit for the control code of the next message: set
    // once after a reply was delivered whole.
    std::uint8_t TakeRmtDelivered();
    // Back to the first id with nothing awaited: after Initialize and after
    // a device clear.
    void Reset();
    // Whether replies are awaited: messages went out since the last complete
    // reply and no timeout gave up on them.
    bool AwaitsReplies() const { return m_nRangeStart != m_nMessageId && !m_bNewRange; }
    // Whether a reply with this id answers a message sent and not yet
    // answered: ids from the range's start up to the last one sent, in steps
    // of two. The unknown id answers whatever is awaited, and nothing when
    // nothing is.
    bool Accepts(std::uint32_t nId) const;

    // ----- Receiving ---------------------------------------------------------

    // Whether a Data or DataEND with this header would splice another reply
    // into the one whose Data pieces were taken (whose id OpenReplyId gives).
    bool Splices(const Header& header) const {
        return m_bResponseOpen && header.nParameter != m_nResponseId;
    }
    std::uint32_t OpenReplyId() const { return m_nResponseId; }
    // A Data or DataEND header arrived; its payload is read next, and taken
    // when it answers an awaited message.
    void StartMessage(const Header& header);
    bool InMessage() const { return m_bInMessage; }
    // Payload bytes of the message being read still to come.
    std::uint64_t Left() const { return m_nLeft; }
    bool Taken() const { return m_bAccepted; }
    void Consume(std::size_t nCount) { m_nLeft -= nCount; }
    // What is being read answers nothing awaited after all: its rest is
    // skipped and no reply stays open.
    void Abandon();
    // Stops following the message being read; its rest was skipped.
    void LeaveMessage() { m_bInMessage = false; }
    // The message being read has been read whole. True when it was a taken
    // DataEND, which ends its reply once CompleteReply is called.
    bool EndMessage();
    // The reply just ended is complete: replies to its message and those
    // before it are stale from now on. A reply without a known id completes
    // all.
    void CompleteReply();
    // A read timed out. The next message sent starts a new range of awaited
    // replies, and a reply already partly delivered is dropped whole: its
    // rest would complete nothing the caller can use.
    void TimedOut();

  private:
    // The next id to send, and the first id of those awaiting a reply.
    std::uint32_t m_nMessageId = kFirstMessageId;
    std::uint32_t m_nRangeStart = kFirstMessageId;
    bool m_bNewRange = false;
    bool m_bRmtDelivered = false;
    // The Data or DataEND message being read.
    bool m_bInMessage = false;
    bool m_bAccepted = false;
    MessageType m_eMessage = MessageType::Data;
    std::uint32_t m_nCurrentId = 0;
    std::uint64_t m_nLeft = 0;
    // A reply whose Data pieces were taken and whose DataEND is due.
    bool m_bResponseOpen = false;
    std::uint32_t m_nResponseId = 0;
};

}  // namespace tkvisa::hislip
