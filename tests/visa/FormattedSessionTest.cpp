// Formatted I/O over live sessions: every query reads its own reply, whatever
// its format leaves unread; a conversion that matches nothing fails; one
// call's writes and reads share one deadline. Against a scripted loopback
// peer and the emulator (socket and HiSLIP; VXI-11 in Vxi11SessionTest).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"
#include "LoopbackResponder.h"
#include "QueryChecks.h"
#include "visa.h"

namespace {

using tkvisa_test::LoopbackResponder;
using tkvisa_test::QueryAs;
using tkvisa_test::Reply;
using namespace std::chrono_literals;

// The reply to the n-th "NEXT?": fields that each read format splits
// differently, all carrying n.
std::string NextReply(int n) {
    const std::string strN = std::to_string(n);
    return strN + "," + strN + ".5 tail" + strN;
}

class FormattedSession : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(viOpenDefaultRM(&m_rm), VI_SUCCESS);
        ASSERT_EQ(viOpen(m_rm, m_responder.Resource().c_str(), VI_NO_LOCK, 2000, &m_vi),
                  VI_SUCCESS);
    }
    void TearDown() override { viClose(m_rm); }

    void SetTermChar(bool bEnabled) {
        ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TERMCHAR, '\n'), VI_SUCCESS);
        ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TERMCHAR_EN, bEnabled ? VI_TRUE : VI_FALSE),
                  VI_SUCCESS);
    }

    static Reply Answer(const std::string& strLine, std::atomic<int>& nNext) {
        if (strLine == "NEXT?") {
            return {{NextReply(++nNext) + "\n"}};
        }
        if (strLine == "EMPTY?") {
            return {{"\n"}};
        }
        if (strLine == "BLANK?") {
            return {{"   \n"}};
        }
        if (strLine == "XYZ?") {
            return {{"xyz\n"}};
        }
        if (strLine == "TWO?") {
            return {{"1\n2\n"}};
        }
        return {};
    }

    std::atomic<int> m_nNext{0};  // replies to "NEXT?" so far
    LoopbackResponder m_responder{
        [this](const std::string& strLine) { return Answer(strLine, m_nNext); }};
    ViSession m_rm = VI_NULL;
    ViSession m_vi = VI_NULL;
};

TEST_F(FormattedSession, RepeatedLineQueriesReadTheirOwnReplies) {
    for (const bool bTermChar : {false, true}) {
        SetTermChar(bTermChar);
        for (int i = 0; i < 5; ++i) {
            SCOPED_TRACE("termination character " + std::string(bTermChar ? "on" : "off") +
                         ", query " + std::to_string(i));
            char szReply[256] = {};
            EXPECT_EQ(viQueryf(m_vi, "NEXT?\n", "%255[^\n]", szReply), VI_SUCCESS);
            EXPECT_EQ(std::string(szReply), NextReply(m_nNext.load()));
        }
    }
}

TEST_F(FormattedSession, MixedFormatsNeverReadAnEarlierReply) {
    struct Row {
        const char* pszFormat;
        std::function<std::string(const std::string& strN)> expected;
        bool bNeedsMessageEnd;  // %T reads to an end a bare socket never marks
    };
    const std::vector<Row> rows = {
        {"%255[^\n]", [](const std::string& n) { return n + "," + n + ".5 tail" + n; }, false},
        {"%s", [](const std::string& n) { return n + "," + n + ".5"; }, false},
        {"%t", [](const std::string& n) { return n + "," + n + ".5 tail" + n + "\n"; }, false},
        {"%T", [](const std::string& n) { return n + "," + n + ".5 tail" + n + "\n"; }, true},
        {"%ld", [](const std::string& n) { return n; }, false},
        {"%lf", [](const std::string& n) { return n; }, false},
        {"%#[^\n]", [](const std::string& n) { return n + "," + n + ".5 tail" + n; }, false},
        {"%[^,]", [](const std::string& n) { return n; }, false},
        {"%ld%*t", [](const std::string& n) { return n; }, false},
    };
    for (const bool bTermChar : {false, true}) {
        SetTermChar(bTermChar);
        for (int nRound = 0; nRound < 3; ++nRound) {
            for (const Row& row : rows) {
                if (row.bNeedsMessageEnd && !bTermChar) {
                    continue;
                }
                SCOPED_TRACE(std::string(row.pszFormat) + ", termination character " +
                             (bTermChar ? "on" : "off") + ", round " + std::to_string(nRound));
                ViStatus status = VI_ERROR_SYSTEM_ERROR;
                const std::string strGot = QueryAs(m_vi, "NEXT?\n", row.pszFormat, status);
                EXPECT_EQ(status, VI_SUCCESS);
                EXPECT_EQ(strGot, row.expected(std::to_string(m_nNext.load())));
            }
        }
    }
}

TEST_F(FormattedSession, ConversionsThatMatchNothingFail) {
    struct Row {
        const char* pszQuery;
        const char* pszFormat;
        bool bNeedsMessageEnd;  // without one, %s waits for a word after the blanks
    };
    const Row rows[] = {
        {"EMPTY?\n", "%255[^\n]", false}, {"EMPTY?\n", "%#[^\n]%*t", false},
        {"EMPTY?\n", "%*[^\n]", false},   {"XYZ?\n", "%[0-9]", false},
        {"XYZ?\n", "%ld", false},         {"BLANK?\n", "%s", true},
    };
    for (const bool bTermChar : {false, true}) {
        SetTermChar(bTermChar);
        for (const Row& row : rows) {
            if (row.bNeedsMessageEnd && !bTermChar) {
                continue;
            }
            SCOPED_TRACE(std::string(row.pszQuery) + " read as " + row.pszFormat +
                         ", termination character " + (bTermChar ? "on" : "off"));
            ViStatus status = VI_SUCCESS;
            QueryAs(m_vi, row.pszQuery, row.pszFormat, status);
            EXPECT_EQ(status, VI_ERROR_INV_FMT);
            // The failed reply does not answer the next query either.
            const std::string strNext = QueryAs(m_vi, "NEXT?\n", "%255[^\n]", status);
            EXPECT_EQ(status, VI_SUCCESS);
            EXPECT_EQ(strNext, NextReply(m_nNext.load()));
        }
    }
}

TEST_F(FormattedSession, ReadBufferModeDecidesWhetherLaterMessagesStay) {
    SetTermChar(true);
    ViUInt16 nMode = 0;
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_RD_BUF_OPER_MODE, &nMode), VI_SUCCESS);
    EXPECT_EQ(nMode, VI_FLUSH_DISABLE);
    EXPECT_EQ(viSetAttribute(m_vi, VI_ATTR_RD_BUF_OPER_MODE, VI_FLUSH_WHEN_FULL),
              VI_ERROR_NSUP_ATTR_STATE);
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, 200), VI_SUCCESS);
    struct Row {
        ViUInt16 nMode;
        ViStatus secondStatus;
        ViInt32 nSecond;
    };
    // "TWO?" answers two messages at once: the second survives a scan of the
    // first only while the buffer is not flushed on access.
    for (const Row& row :
         {Row{VI_FLUSH_DISABLE, VI_SUCCESS, 2}, Row{VI_FLUSH_ON_ACCESS, VI_ERROR_TMO, -1}}) {
        SCOPED_TRACE(row.nMode);
        ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_RD_BUF_OPER_MODE, row.nMode), VI_SUCCESS);
        ViInt32 nFirst = -1;
        ViInt32 nSecond = -1;
        EXPECT_EQ(viQueryf(m_vi, "TWO?\n", "%ld", &nFirst), VI_SUCCESS);
        EXPECT_EQ(nFirst, 1);
        EXPECT_EQ(viScanf(m_vi, "%ld", &nSecond), row.secondStatus);
        EXPECT_EQ(nSecond, row.nSecond);
    }
}

// A peer that takes its time over both halves of a query: after accepting it
// reads nothing for nHoldMs, then reads one line of any length and answers it
// with the pieces, nGapMs before each.
class SlowPeer {
  public:
    SlowPeer(int nHoldMs, std::vector<std::string> vecPieces, int nGapMs)
        : m_nHoldMs(nHoldMs), m_vecPieces(std::move(vecPieces)), m_nGapMs(nGapMs) {
        m_nListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t nLength = sizeof addr;
        if (m_nListen >= 0 && ::bind(m_nListen, reinterpret_cast<sockaddr*>(&addr), nLength) == 0 &&
            ::listen(m_nListen, 1) == 0 &&
            ::getsockname(m_nListen, reinterpret_cast<sockaddr*>(&addr), &nLength) == 0) {
            m_nPort = ntohs(addr.sin_port);
        }
        m_thread = std::thread([this] { Run(); });
    }
    ~SlowPeer() {
        m_bStop = true;
        m_thread.join();
        if (m_nListen >= 0) {
            ::close(m_nListen);
        }
    }
    std::string Resource() const {
        return "TCPIP::127.0.0.1::" + std::to_string(m_nPort) + "::SOCKET";
    }

  private:
    // Sleeps up to nMs, or less once the test is over.
    bool Pause(int nMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
        while (!m_bStop && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(5ms);
        }
        return !m_bStop;
    }

    void Run() {
        int nFd = -1;
        while (!m_bStop && nFd < 0) {
            pollfd pfd{m_nListen, POLLIN, 0};
            if (::poll(&pfd, 1, 20) > 0) {
                nFd = ::accept4(m_nListen, nullptr, nullptr, SOCK_CLOEXEC);
            }
        }
        if (nFd < 0) {
            return;
        }
        bool bLine = false;
        if (Pause(m_nHoldMs)) {
            std::vector<char> vecChunk(1 << 16);
            while (!m_bStop && !bLine) {
                pollfd pfd{nFd, POLLIN, 0};
                if (::poll(&pfd, 1, 20) <= 0) {
                    continue;
                }
                const ssize_t nGot = ::recv(nFd, vecChunk.data(), vecChunk.size(), 0);
                if (nGot <= 0) {
                    break;
                }
                bLine = std::memchr(vecChunk.data(), '\n', static_cast<std::size_t>(nGot));
            }
        }
        for (const std::string& strPiece : m_vecPieces) {
            if (!bLine || !Pause(m_nGapMs)) {
                break;
            }
            ::send(nFd, strPiece.data(), strPiece.size(), MSG_NOSIGNAL);
        }
        Pause(60000);
        ::close(nFd);
    }

    int m_nHoldMs;
    std::vector<std::string> m_vecPieces;
    int m_nGapMs;
    int m_nListen = -1;
    std::uint16_t m_nPort = 0;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

TEST(CallDeadline, QueryWriteAndReadShareTheTimeout) {
    // The write waits 300 ms for the peer to read, each piece of the reply
    // comes 150 ms after the one before: every wait is shorter than the
    // timeout, together they are not.
    constexpr int kTimeoutMs = 400;
    SlowPeer peer(300, {"1", "2", "3\n"}, 150);
    ViSession rm = VI_NULL;
    ViSession vi = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    ASSERT_EQ(viOpen(rm, peer.Resource().c_str(), VI_NO_LOCK, 2000, &vi), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, kTimeoutMs), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    // More than the two sockets' buffers hold, so the write waits for the peer.
    const std::string strCommand = std::string(16u << 20, 'A') + "\n";
    ViInt32 nValue = -1;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(viQueryf(vi, strCommand.c_str(), "%ld%*t", &nValue), VI_ERROR_TMO);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::milliseconds(kTimeoutMs + 200));
    EXPECT_GE(elapsed, std::chrono::milliseconds(kTimeoutMs - 50));
    EXPECT_EQ(viClose(rm), VI_SUCCESS);
}

// The emulator's own replies, over a socket and over HiSLIP.
TEST(FormattedEmulator, EveryQueryReadsItsOwnReply) {
    emu::EmulatorOptions options;
    options.bHislip = true;
    options.nHislipPort = 0;
    emu::Emulator emulator(options);
    emulator.Start();
    ViSession rm = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    for (const std::string& strResource : {emulator.Resource(), emulator.HislipResource()}) {
        SCOPED_TRACE(strResource);
        ViSession vi = VI_NULL;
        ASSERT_EQ(viOpen(rm, strResource.c_str(), VI_NO_LOCK, 2000, &vi), VI_SUCCESS);
        // A socket marks the end of a reply with its line feed only.
        ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN,
                                 strResource.find("SOCKET") != std::string::npos),
                  VI_SUCCESS);
        tkvisa_test::ExpectEveryQueryReadsItsOwnReply(vi);
        EXPECT_EQ(viClose(vi), VI_SUCCESS);
    }
    EXPECT_EQ(viClose(rm), VI_SUCCESS);
}

}  // namespace
