// The account of which HiSLIP replies answer which messages, driven by the
// events a transport reports: messages sent, replies read whole, timeouts.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "HislipReplies.h"

namespace {

namespace hs = tkvisa::hislip;

hs::Header Reply(hs::MessageType eType, std::uint32_t nId, std::uint64_t nLength = 0) {
    hs::Header header;
    header.nType = static_cast<std::uint8_t>(eType);
    header.nParameter = nId;
    header.nLength = nLength;
    return header;
}

// Reads a whole reply of one DataEND with this id, as the transport does.
void ReadWholeReply(hs::ReplyTracker& replies, std::uint32_t nId) {
    replies.StartMessage(Reply(hs::MessageType::DataEnd, nId));
    if (replies.EndMessage()) {
        replies.CompleteReply();
    }
}

constexpr std::uint32_t kFirst = hs::kFirstMessageId;
constexpr std::uint32_t kUnknown = hs::kUnknownMessageId;

TEST(HislipReplies, OnlyRepliesToMessagesStillAwaitedAreTaken) {
    struct Row {
        const char* pszName;
        std::function<void(hs::ReplyTracker&)> script;
        std::vector<std::uint32_t> vecTaken;
        std::vector<std::uint32_t> vecSkipped;
    };
    const Row rows[] = {
        {"nothing sent", [](hs::ReplyTracker&) {}, {}, {kFirst, kUnknown}},
        {"two queries sent",
         [](hs::ReplyTracker& r) {
             r.NoteSent();
             r.NoteSent();
         },
         {kFirst, kFirst + 2, kUnknown},
         {kFirst + 1, kFirst + 4, kFirst - 2}},
        {"the first of two answered",
         [](hs::ReplyTracker& r) {
             r.NoteSent();
             r.NoteSent();
             ReadWholeReply(r, kFirst);
         },
         {kFirst + 2, kUnknown},
         {kFirst}},
        {"a query timed out, then another was sent",
         [](hs::ReplyTracker& r) {
             r.NoteSent();
             r.TimedOut();
             r.NoteSent();
         },
         {kFirst + 2, kUnknown},
         {kFirst}},
        {"a reply without a known id completes everything awaited",
         [](hs::ReplyTracker& r) {
             r.NoteSent();
             r.NoteSent();
             ReadWholeReply(r, kUnknown);
         },
         {},
         {kFirst, kFirst + 2, kUnknown}},
        {"ids wrap around",
         [](hs::ReplyTracker& r) {
             for (int n = 0; n < 130; ++n) {
                 r.NoteSent();
             }
         },
         {kFirst, 0, 2, kUnknown},
         {4, kFirst - 2}},
        {"a device clear starts over",
         [](hs::ReplyTracker& r) {
             r.NoteSent();
             r.Reset();
         },
         {},
         {kFirst, kUnknown}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pszName);
        hs::ReplyTracker replies;
        row.script(replies);
        for (const std::uint32_t nId : row.vecTaken) {
            EXPECT_TRUE(replies.Accepts(nId)) << nId;
        }
        for (const std::uint32_t nId : row.vecSkipped) {
            EXPECT_FALSE(replies.Accepts(nId)) << nId;
        }
    }
}

TEST(HislipReplies, APartlyTakenReplyIsDroppedWholeAtATimeout) {
    hs::ReplyTracker replies;
    replies.NoteSent();
    replies.NoteSent();
    replies.StartMessage(Reply(hs::MessageType::Data, kFirst, 10));
    ASSERT_TRUE(replies.Taken());
    // Another id before the DataEND would splice two replies into one.
    EXPECT_TRUE(replies.Splices(Reply(hs::MessageType::DataEnd, kFirst + 2)));
    EXPECT_FALSE(replies.Splices(Reply(hs::MessageType::DataEnd, kFirst)));
    replies.TimedOut();
    EXPECT_FALSE(replies.Taken());
    EXPECT_FALSE(replies.Splices(Reply(hs::MessageType::DataEnd, kFirst + 2)));
    // The rest of that reply is stale; the next message's reply is not.
    EXPECT_FALSE(replies.Accepts(kFirst));
    replies.NoteSent();
    EXPECT_TRUE(replies.Accepts(kFirst + 4));
}

TEST(HislipReplies, AWholeReplySetsRmtDeliveredForTheNextMessageOnly) {
    hs::ReplyTracker replies;
    replies.NoteSent();
    EXPECT_EQ(replies.TakeRmtDelivered(), 0);
    ReadWholeReply(replies, kFirst);
    EXPECT_EQ(replies.TakeRmtDelivered(), hs::kRmtDelivered);
    EXPECT_EQ(replies.TakeRmtDelivered(), 0);
    EXPECT_EQ(replies.LastSentId(), kFirst);
    EXPECT_EQ(replies.NextId(), kFirst + 2);
}

}  // namespace
