// Record marking of the layer's ONC RPC client over a real socket pair: the
// bytes a peer sends, in whatever pieces, and the records (or refusals) the
// reader makes of them.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "RpcClient.h"

namespace {

using tkrpc::RecordReader;
using Bytes = std::vector<unsigned char>;

Bytes Fragment(const std::string& strData, bool bLast, std::uint32_t nMarkLength = ~0u) {
    Bytes bytes(tkrpc::kRecordMarkSize);
    tkrpc::PutRecordMark(
        bytes.data(), nMarkLength == ~0u ? static_cast<std::uint32_t>(strData.size()) : nMarkLength,
        bLast);
    bytes.insert(bytes.end(), strData.begin(), strData.end());
    return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

class RpcRecordTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, m_afd), 0);
    }
    void TearDown() override {
        for (int fd : m_afd) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    void Send(const Bytes& bytes) {
        ASSERT_EQ(::send(m_afd[1], bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    std::string Text(const RecordReader& reader) {
        return std::string(reader.Record().begin(), reader.Record().end());
    }

    int m_afd[2] = {-1, -1};
};

TEST_F(RpcRecordTest, MarkCarriesLastBitAndLength) {
    unsigned char achMark[4];
    tkrpc::PutRecordMark(achMark, 0x1234, true);
    EXPECT_EQ(Bytes(achMark, achMark + 4), (Bytes{0x80, 0x00, 0x12, 0x34}));
    EXPECT_EQ(tkrpc::RecordMarkOf(achMark), 0x80001234u);
    tkrpc::PutRecordMark(achMark, 7, false);
    EXPECT_EQ(Bytes(achMark, achMark + 4), (Bytes{0x00, 0x00, 0x00, 0x07}));
}

TEST_F(RpcRecordTest, RecordsAreAssembledFromTheirFragments) {
    struct Case {
        const char* pName;
        Bytes bytes;
        std::vector<std::string> vecRecords;
    } cases[] = {
        {"one fragment", Fragment("hello", true), {"hello"}},
        {"three fragments",
         Join({Fragment("ab", false), Fragment("", false), Fragment("cd", true)}),
         {"abcd"}},
        {"two records at once",
         Join({Fragment("one", true), Fragment("two", true)}),
         {"one", "two"}},
        {"empty record", Fragment("", true), {""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pName);
        Send(c.bytes);
        RecordReader reader;
        for (const std::string& strRecord : c.vecRecords) {
            ASSERT_EQ(reader.Read(m_afd[0], 1024, tknet::Deadline(1000)),
                      RecordReader::Status::kRecord);
            EXPECT_EQ(Text(reader), strRecord);
        }
        EXPECT_EQ(reader.Read(m_afd[0], 1024, tknet::Deadline(0)), RecordReader::Status::kTimeout);
    }
}

TEST_F(RpcRecordTest, RecordCutShortByTheDeadlineIsFinishedByTheNextRead) {
    const Bytes record = Fragment("0123456789", true);
    RecordReader reader;
    // Two bytes of the mark, then the rest of the mark and half the data,
    // then the rest: each early read times out, none loses a byte.
    Send(Bytes(record.begin(), record.begin() + 2));
    EXPECT_EQ(reader.Read(m_afd[0], 1024, tknet::Deadline(20)), RecordReader::Status::kTimeout);
    Send(Bytes(record.begin() + 2, record.begin() + 9));
    EXPECT_EQ(reader.Read(m_afd[0], 1024, tknet::Deadline(20)), RecordReader::Status::kTimeout);
    Send(Bytes(record.begin() + 9, record.end()));
    ASSERT_EQ(reader.Read(m_afd[0], 1024, tknet::Deadline(1000)), RecordReader::Status::kRecord);
    EXPECT_EQ(Text(reader), "0123456789");
}

TEST_F(RpcRecordTest, RecordsLongerThanAllowedAreRefusedBeforeTheirBytes) {
    struct Case {
        const char* pName;
        Bytes bytes;
    } cases[] = {
        {"2 GB mark", Fragment("", true, 0x7FFFFFFF)},
        {"one byte over", Fragment(std::string(17, 'x'), true)},
        {"fragments adding up past the bound",
         Join({Fragment(std::string(10, 'x'), false), Fragment(std::string(10, 'y'), true)})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pName);
        RecordReader reader;
        Send(c.bytes);
        EXPECT_EQ(reader.Read(m_afd[0], 16, tknet::Deadline(1000)), RecordReader::Status::kTooLong);
        EXPECT_LE(reader.Record().size(), 16u);
        // Drain what the refused record left, for the next row.
        char achDrain[64];
        while (::recv(m_afd[0], achDrain, sizeof achDrain, MSG_DONTWAIT) > 0) {
        }
    }
}

TEST_F(RpcRecordTest, PeerClosingMidRecordIsReported) {
    Send(Fragment("abc", true, 10));
    ::close(m_afd[1]);
    m_afd[1] = -1;
    RecordReader reader;
    EXPECT_EQ(reader.Read(m_afd[0], 1024, tknet::Deadline(1000)), RecordReader::Status::kClosed);
}

}  // namespace
