// The VISA layer over a real loopback TCP connection to a scripted instrument.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackResponder.h"
#include "visa.h"

using tkvisa_test::LoopbackResponder;
using tkvisa_test::Reply;
using Lines = std::vector<std::string>;

namespace {

Reply Instrument(const std::string& strLine) {
    static const std::map<std::string, Reply> mapReplies = {
        {"*IDN?", {{"TARVEK,6310,SN001,1.02\n"}}},
        {"VOLT?", {{"5.000000E+00\n"}}},
        {"MEAS:ALL?", {{"1.5,-2.25\n"}}},
        {"*ESR?", {{"32\n"}}},
        {"*OPC?", {{"1\n"}}},
        {"INT?", {{"-7\n"}}},
        {"SYST:ERR?", {{"-113,\"Undefined header\"\n"}}},
        {"NAME?", {{"CH1\n"}}},
        {"SPLIT?", {{"12", "3.", "5\n"}, 20}},
        {"TWO?", {{"1\n2\n"}}},
        {"LATE?", {{"9", "9\n"}, 20}},
        {"PART?", {{"abc"}}},
        {"BAD?", {{"abc\n"}}},
        {"BYE?", {{"xyz"}, 0, true}},
        {"LONG?", {{std::string(1000, 'A') + "\n"}}},
    };
    const auto it = mapReplies.find(strLine);
    return it == mapReplies.end() ? Reply{} : it->second;
}

class SocketSession : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(viOpenDefaultRM(&m_rm), VI_SUCCESS);
        ASSERT_EQ(viOpen(m_rm, m_responder.Resource().c_str(), VI_NO_LOCK, 2000, &m_vi),
                  VI_SUCCESS);
    }
    void TearDown() override { viClose(m_rm); }

    void EnableLineTermination() {
        ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TERMCHAR, '\n'), VI_SUCCESS);
        ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    }

    std::string ReadAll(ViStatus& status) {
        char buffer[2048] = {};
        ViUInt32 nCount = 0;
        status = viRead(m_vi, reinterpret_cast<ViBuf>(buffer), sizeof buffer, &nCount);
        return std::string(buffer, nCount);
    }

    LoopbackResponder m_responder{Instrument};
    ViSession m_rm = VI_NULL;
    ViSession m_vi = VI_NULL;
};

TEST_F(SocketSession, OpenedSocketHasVisaDefaults) {
    struct {
        ViUInt16 nValue;
        ViUInt16 nGuard;
    } intfType{0, 0xABCD};
    ASSERT_EQ(viGetAttribute(m_vi, VI_ATTR_INTF_TYPE, &intfType.nValue), VI_SUCCESS);
    EXPECT_EQ(intfType.nValue, VI_INTF_TCPIP);
    EXPECT_EQ(intfType.nGuard, 0xABCD) << "a 16-bit attribute wrote past its size";

    ViUInt32 nTimeout = 0;
    ViBoolean bTermEnabled = VI_TRUE;
    ViUInt8 nTermChar = 0;
    ViUInt16 nPort = 0;
    ViSession rm = VI_NULL;
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_TMO_VALUE, &nTimeout), VI_SUCCESS);
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_TERMCHAR_EN, &bTermEnabled), VI_SUCCESS);
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_TERMCHAR, &nTermChar), VI_SUCCESS);
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_TCPIP_PORT, &nPort), VI_SUCCESS);
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_RM_SESSION, &rm), VI_SUCCESS);
    EXPECT_EQ(nTimeout, 2000u);
    EXPECT_EQ(bTermEnabled, VI_FALSE);
    EXPECT_EQ(nTermChar, '\n');
    EXPECT_EQ(nPort, m_responder.Port());
    EXPECT_EQ(rm, m_rm);

    char szText[VI_FIND_BUFLEN] = {};
    ASSERT_EQ(viGetAttribute(m_vi, VI_ATTR_RSRC_CLASS, szText), VI_SUCCESS);
    EXPECT_STREQ(szText, "SOCKET");
    ASSERT_EQ(viGetAttribute(m_vi, VI_ATTR_RSRC_NAME, szText), VI_SUCCESS);
    EXPECT_EQ(std::string(szText),
              "TCPIP0::127.0.0.1::" + std::to_string(m_responder.Port()) + "::SOCKET");
    ASSERT_EQ(viGetAttribute(m_vi, VI_ATTR_TCPIP_ADDR, szText), VI_SUCCESS);
    EXPECT_STREQ(szText, "127.0.0.1");
}

TEST_F(SocketSession, DriverFormatsReadTheirReplies) {
    EnableLineTermination();
    ViReal64 dVolt = 0, dFirst = 0, dSecond = 0;
    struct {
        ViInt32 nValue;
        ViInt32 nGuard;
    } esr{0, 0x5A5A5A5A}, opc{0, 0x5A5A5A5A};
    char szName[256] = {};
    ViInt32 nNameSize = sizeof szName;
    char szFields[4][257] = {};
    char szError[256] = {};

    EXPECT_EQ(viQueryf(m_vi, "VOLT?\n", "%lf%*t", &dVolt), VI_SUCCESS);
    EXPECT_EQ(viQueryf(m_vi, "*ESR?\n", "%ld%*T", &esr.nValue), VI_SUCCESS);
    EXPECT_EQ(viQueryf(m_vi, "*OPC?\n", "%ld%*t", &opc.nValue), VI_SUCCESS);
    EXPECT_EQ(viQueryf(m_vi, "NAME?\n", "%#[^\n]%*t", &nNameSize, szName), VI_SUCCESS);
    EXPECT_EQ(viQueryf(m_vi, "MEAS:ALL?\n", "%lf,%lf%*t", &dFirst, &dSecond), VI_SUCCESS);
    EXPECT_EQ(viQueryf(m_vi, "*IDN?\n", "%256[^,],%256[^,],%256[^,],%256[^,]%*T", szFields[0],
                       szFields[1], szFields[2], szFields[3]),
              VI_SUCCESS);
    EXPECT_EQ(viQueryf(m_vi, "SYST:ERR?\n", "%T", szError), VI_SUCCESS);

    EXPECT_EQ(dVolt, 5.0);
    EXPECT_EQ(esr.nValue, 32);
    EXPECT_EQ(opc.nValue, 1);
    EXPECT_EQ(esr.nGuard, 0x5A5A5A5A) << "%ld must store 32 bits";
    EXPECT_STREQ(szName, "CH1");
    EXPECT_EQ(nNameSize, 3);
    EXPECT_EQ(dFirst, 1.5);
    EXPECT_EQ(dSecond, -2.25);
    EXPECT_STREQ(szFields[0], "TARVEK");
    EXPECT_STREQ(szFields[1], "6310");
    EXPECT_STREQ(szFields[2], "SN001");
    EXPECT_STREQ(szFields[3], "1.02\n");
    EXPECT_STREQ(szError, "-113,\"Undefined header\"\n");
    EXPECT_EQ(m_responder.Lines(),
              (Lines{"VOLT?", "*ESR?", "*OPC?", "NAME?", "MEAS:ALL?", "*IDN?", "SYST:ERR?"}));
}

TEST_F(SocketSession, PrintfSendsExactBytes) {
    ASSERT_EQ(viPrintf(m_vi, "SOUR:VOLT %0.15lg\n", 5.1), VI_SUCCESS);
    ASSERT_EQ(viPrintf(m_vi, "*ESE %ld\n", static_cast<ViInt32>(-60)), VI_SUCCESS);
    ASSERT_EQ(viPrintf(m_vi, "OUTP:STAT %s\n", "ON"), VI_SUCCESS);
    ASSERT_EQ(viPrintf(m_vi, "OUTP:PON:STAT %s,%d\n", "RST", 2), VI_SUCCESS);
    ASSERT_EQ(viPrintf(m_vi, "CURR %0.15lg;VOLT %0.15lg\n", 1e-3, 12345678.9), VI_SUCCESS);
    ASSERT_EQ(viPrintf(m_vi, "*CLS\n"), VI_SUCCESS);
    const std::string strExpected =
        "SOUR:VOLT 5.1\n*ESE -60\nOUTP:STAT ON\nOUTP:PON:STAT RST,2\n"
        "CURR 0.001;VOLT 12345678.9\n*CLS\n";
    for (int i = 0; i < 100 && m_responder.Received().size() < strExpected.size(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(m_responder.Received(), strExpected);
}

TEST_F(SocketSession, HeldOutputSendsTheSameBytesAtTheFlush) {
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_WR_BUF_OPER_MODE, VI_FLUSH_DISABLE), VI_SUCCESS);
    ASSERT_EQ(viPrintf(m_vi, "INST:SEL %s\n", "CH2"), VI_SUCCESS);
    ASSERT_EQ(viPrintf(m_vi, "SOUR:VOLT %0.15lg\n", 5.1), VI_SUCCESS);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(m_responder.Received(), "");
    ASSERT_EQ(viFlush(m_vi, VI_WRITE_BUF), VI_SUCCESS);
    // A full buffer goes out without waiting for the flush.
    const std::string strLong(5000, 'A');
    ASSERT_EQ(viPrintf(m_vi, "%s\n", strLong.c_str()), VI_SUCCESS);
    const std::string strExpected = "INST:SEL CH2\nSOUR:VOLT 5.1\n" + strLong + "\n";
    for (int i = 0; i < 100 && m_responder.Received().size() < strExpected.size(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(m_responder.Received(), strExpected);
}

TEST_F(SocketSession, SplitReplyIsAssembled) {
    EnableLineTermination();
    ViReal64 dValue = 0;
    EXPECT_EQ(viQueryf(m_vi, "SPLIT?\n", "%lf%*t", &dValue), VI_SUCCESS);
    EXPECT_EQ(dValue, 123.5);
}

TEST_F(SocketSession, BytesAfterTermCharStayForNextRead) {
    EnableLineTermination();
    ASSERT_EQ(viPrintf(m_vi, "TWO?\n"), VI_SUCCESS);
    ViStatus status = VI_SUCCESS;
    EXPECT_EQ(ReadAll(status), "1\n");
    EXPECT_EQ(status, VI_SUCCESS_TERM_CHAR);
    EXPECT_EQ(ReadAll(status), "2\n");
    EXPECT_EQ(status, VI_SUCCESS_TERM_CHAR);
}

TEST_F(SocketSession, ReadStopsAtCountWithMaxCnt) {
    EnableLineTermination();
    ASSERT_EQ(viPrintf(m_vi, "LONG?\n"), VI_SUCCESS);
    char buffer[10];
    ViUInt32 nCount = 0;
    EXPECT_EQ(viRead(m_vi, reinterpret_cast<ViBuf>(buffer), sizeof buffer, &nCount),
              VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(nCount, 10u);
    ViStatus status = VI_SUCCESS;
    EXPECT_EQ(ReadAll(status).size(), 991u);
    EXPECT_EQ(status, VI_SUCCESS_TERM_CHAR);
}

TEST_F(SocketSession, TimeoutReturnsBytesAlreadyRead) {
    EnableLineTermination();
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, 100), VI_SUCCESS);
    ASSERT_EQ(viPrintf(m_vi, "PART?\n"), VI_SUCCESS);
    const auto tStart = std::chrono::steady_clock::now();
    ViStatus status = VI_SUCCESS;
    EXPECT_EQ(ReadAll(status), "abc");
    const auto nElapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - tStart)
                              .count();
    EXPECT_EQ(status, VI_ERROR_TMO);
    EXPECT_GE(nElapsed, 90);
    EXPECT_LT(nElapsed, 1000);

    ViReal64 dValue = -1;
    EXPECT_EQ(viQueryf(m_vi, "SILENT?\n", "%lf%*t", &dValue), VI_ERROR_TMO);
    EXPECT_EQ(dValue, -1);
}

TEST_F(SocketSession, PeerDisconnectIsConnectionLost) {
    EnableLineTermination();
    ASSERT_EQ(viPrintf(m_vi, "BYE?\n"), VI_SUCCESS);
    ViStatus status = VI_SUCCESS;
    EXPECT_EQ(ReadAll(status), "xyz");
    EXPECT_EQ(status, VI_ERROR_CONN_LOST);
    EXPECT_EQ(ReadAll(status), "");
    EXPECT_EQ(status, VI_ERROR_CONN_LOST);
    // Writing to the closed peer fails too (the first send may still be
    // accepted by the local stack), and never raises SIGPIPE.
    ViStatus writeStatus = VI_SUCCESS;
    for (int i = 0; i < 5 && writeStatus == VI_SUCCESS; ++i) {
        writeStatus = viPrintf(m_vi, "*CLS\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(writeStatus, VI_ERROR_CONN_LOST);
}

TEST_F(SocketSession, FlushMasksAreCheckedAndDiscardInput) {
    EnableLineTermination();
    EXPECT_EQ(viFlush(m_vi, 0), VI_ERROR_INV_MASK);
    EXPECT_EQ(viFlush(m_vi, VI_READ_BUF | VI_READ_BUF_DISCARD), VI_ERROR_INV_MASK);
    EXPECT_EQ(viFlush(m_vi, 0x100), VI_ERROR_INV_MASK);
    ASSERT_EQ(viPrintf(m_vi, "TWO?\n"), VI_SUCCESS);
    ViInt32 nFirst = 0;
    ASSERT_EQ(viScanf(m_vi, "%ld%*t", &nFirst), VI_SUCCESS);
    EXPECT_EQ(viFlush(m_vi, VI_READ_BUF_DISCARD), VI_SUCCESS);
    ViInt32 nValue = 0;
    EXPECT_EQ(viQueryf(m_vi, "INT?\n", "%ld%*t", &nValue), VI_SUCCESS);
    EXPECT_EQ(nValue, -7);
    EXPECT_EQ(viFlush(m_vi, VI_WRITE_BUF | VI_IO_IN_BUF), VI_SUCCESS);
}

TEST_F(SocketSession, OversizeRepliesStayInsideBuffers) {
    EnableLineTermination();
    struct {
        char szText[16];
        char szGuard[16];
    } sized{};
    std::memset(sized.szGuard, 'G', sizeof sized.szGuard);
    ViInt32 nSize = sizeof sized.szText;
    EXPECT_EQ(viQueryf(m_vi, "LONG?\n", "%#[^\n]%*t", &nSize, sized.szText), VI_SUCCESS);
    EXPECT_EQ(nSize, 15);
    EXPECT_EQ(std::string(sized.szText), std::string(15, 'A'));
    EXPECT_EQ(std::string(sized.szGuard, 16), std::string(16, 'G'));

    struct {
        char szText[VI_FMT_UNBOUNDED_MAX];
        char szGuard[64];
    } unbounded{};
    std::memset(unbounded.szGuard, 'G', sizeof unbounded.szGuard);
    EXPECT_EQ(viQueryf(m_vi, "LONG?\n", "%T", unbounded.szText), VI_SUCCESS);
    EXPECT_EQ(std::strlen(unbounded.szText), VI_FMT_UNBOUNDED_MAX - 1u);
    EXPECT_EQ(std::string(unbounded.szGuard, 64), std::string(64, 'G'));

    // The whole reply was consumed: the next query reads its own answer.
    ViInt32 nValue = 0;
    EXPECT_EQ(viQueryf(m_vi, "INT?\n", "%ld%*t", &nValue), VI_SUCCESS);
    EXPECT_EQ(nValue, -7);
}

TEST_F(SocketSession, MismatchedReplyFailsAndIsDiscarded) {
    EnableLineTermination();
    ViReal64 dValue = -1;
    EXPECT_EQ(viQueryf(m_vi, "BAD?\n", "%lf%*t", &dValue), VI_ERROR_INV_FMT);
    EXPECT_EQ(dValue, -1);
    ViInt32 nValue = 0;
    EXPECT_EQ(viQueryf(m_vi, "INT?\n", "%ld%*t", &nValue), VI_SUCCESS);
    EXPECT_EQ(nValue, -7);
}

TEST_F(SocketSession, ClearDiscardsBufferedInput) {
    EnableLineTermination();
    ASSERT_EQ(viPrintf(m_vi, "TWO?\n"), VI_SUCCESS);
    ViInt32 nFirst = 0;
    ASSERT_EQ(viScanf(m_vi, "%ld%*t", &nFirst), VI_SUCCESS);
    EXPECT_EQ(nFirst, 1);
    ASSERT_EQ(viClear(m_vi), VI_SUCCESS);
    ViInt32 nValue = 0;
    EXPECT_EQ(viQueryf(m_vi, "INT?\n", "%ld%*t", &nValue), VI_SUCCESS);
    EXPECT_EQ(nValue, -7);
}

TEST_F(SocketSession, ClearDropsAReplyStillInFlight) {
    // The clear waits until the line has been quiet this long; whatever
    // reaches the socket before that much time from the clear's start is
    // dropped.
    constexpr auto kClearQuiet = std::chrono::milliseconds(100);
    EnableLineTermination();
    // The reply goes out in two parts, the first 20 ms after the query. A try
    // counts when its last part had gone out before the clear's quiet time,
    // counted from the clear's start, was over. A loaded machine may hold the
    // instrument back past that: the reply then arrives after the clear, where
    // a raw socket cannot tell it from the next query's answer, so that try is
    // cleared away and repeated.
    int nCounted = 0;
    for (int nTry = 0; nTry < 50 && nCounted < 5; ++nTry) {
        SCOPED_TRACE(nTry);
        const int nRepliesBefore = m_responder.RepliesSent();
        ASSERT_EQ(viPrintf(m_vi, "LATE?\n"), VI_SUCCESS);
        const auto clearStart = std::chrono::steady_clock::now();
        ASSERT_EQ(viClear(m_vi), VI_SUCCESS);
        ASSERT_TRUE(m_responder.WaitForRepliesSent(nRepliesBefore + 1, std::chrono::seconds(5)));
        if (m_responder.LastReplySentAt() >= clearStart + kClearQuiet) {
            ASSERT_EQ(viClear(m_vi), VI_SUCCESS);
            continue;
        }
        ++nCounted;
        ViInt32 nValue = 0;
        EXPECT_EQ(viQueryf(m_vi, "INT?\n", "%ld%*t", &nValue), VI_SUCCESS);
        EXPECT_EQ(nValue, -7);
    }
    EXPECT_EQ(nCounted, 5);
}

TEST_F(SocketSession, InfiniteTimeoutWaitsForTheReply) {
    EnableLineTermination();
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, VI_TMO_INFINITE), VI_SUCCESS);
    ViReal64 dValue = 0;
    EXPECT_EQ(viQueryf(m_vi, "SPLIT?\n", "%lf%*t", &dValue), VI_SUCCESS);
    EXPECT_EQ(dValue, 123.5);
}

TEST_F(SocketSession, ClosingTheResourceManagerClosesItsSessions) {
    ViSession other = VI_NULL;
    ASSERT_EQ(viOpen(m_rm, m_responder.Resource().c_str(), VI_NO_LOCK, 2000, &other), VI_SUCCESS);
    ASSERT_EQ(viClose(m_rm), VI_SUCCESS);
    ViUInt32 nTimeout = 0;
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_TMO_VALUE, &nTimeout), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viPrintf(other, "*CLS\n"), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viClose(m_vi), VI_ERROR_INV_OBJECT);
}

TEST_F(SocketSession, CloseWakesABlockedRead) {
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, VI_TMO_INFINITE), VI_SUCCESS);
    ViStatus readStatus = VI_SUCCESS;
    std::thread reader([&] {
        char buffer[16];
        ViUInt32 nCount = 0;
        readStatus = viRead(m_vi, reinterpret_cast<ViBuf>(buffer), sizeof buffer, &nCount);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(viClose(m_vi), VI_SUCCESS);
    reader.join();
    EXPECT_LT(readStatus, VI_SUCCESS);
}

TEST_F(SocketSession, AttributesRefuseBadValues) {
    struct Row {
        ViAttr nAttribute;
        ViAttrState nValue;
        ViStatus nExpected;
    };
    const Row rows[] = {
        {VI_ATTR_TERMCHAR_EN, 2, VI_ERROR_NSUP_ATTR_STATE},
        {VI_ATTR_TERMCHAR, 0x100, VI_ERROR_NSUP_ATTR_STATE},
        {VI_ATTR_INTF_TYPE, VI_INTF_ASRL, VI_ERROR_ATTR_READONLY},
        {VI_ATTR_RSRC_CLASS, 0, VI_ERROR_ATTR_READONLY},
        {VI_ATTR_ASRL_BAUD, 9600, VI_ERROR_NSUP_ATTR},
        {0x3FFF7777, 1, VI_ERROR_NSUP_ATTR},
        {VI_ATTR_TMO_VALUE, 0x100000000ULL, VI_ERROR_NSUP_ATTR_STATE},
        {VI_ATTR_TCPIP_NODELAY, VI_FALSE, VI_SUCCESS},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.nAttribute);
        EXPECT_EQ(viSetAttribute(m_vi, row.nAttribute, row.nValue), row.nExpected);
    }
    ViUInt32 nTimeout = 0;
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_TMO_VALUE, &nTimeout), VI_SUCCESS);
    EXPECT_EQ(nTimeout, 2000u);
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_TMO_VALUE, nullptr), VI_ERROR_USER_BUF);
}

TEST_F(SocketSession, SessionsOnSeveralThreadsStayApart) {
    constexpr int kThreads = 4;
    std::vector<std::thread> vecThreads;
    std::vector<int> vecFailures(kThreads, 0);
    for (int nThread = 0; nThread < kThreads; ++nThread) {
        vecThreads.emplace_back([&, nThread] {
            ViSession vi = VI_NULL;
            if (viOpen(m_rm, m_responder.Resource().c_str(), VI_NO_LOCK, 2000, &vi) != VI_SUCCESS) {
                vecFailures[nThread] = 1000;
                return;
            }
            viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE);
            for (int i = 0; i < 50; ++i) {
                ViInt32 nValue = 0;
                ViReal64 dValue = 0;
                if (viQueryf(vi, "INT?\n", "%ld%*t", &nValue) != VI_SUCCESS || nValue != -7 ||
                    viQueryf(vi, "VOLT?\n", "%lf%*t", &dValue) != VI_SUCCESS || dValue != 5.0) {
                    ++vecFailures[nThread];
                }
            }
            viClose(vi);
        });
    }
    for (std::thread& thread : vecThreads) {
        thread.join();
    }
    EXPECT_EQ(vecFailures, std::vector<int>(kThreads, 0));
}

TEST(SocketOpen, HostNamesAndIpv6AddressesResolve) {
    LoopbackResponder responder4(Instrument);
    LoopbackResponder responder6(Instrument, AF_INET6);
    std::vector<std::string> vecNames = {"TCPIP0::localhost::" + std::to_string(responder4.Port()) +
                                         "::SOCKET"};
    if (responder6.Listening()) {
        vecNames.push_back("TCPIP::[::1]::" + std::to_string(responder6.Port()) + "::SOCKET");
    }
    ViSession rm = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    for (const std::string& strName : vecNames) {
        SCOPED_TRACE(strName);
        ViSession vi = VI_NULL;
        ASSERT_EQ(viOpen(rm, strName.c_str(), VI_NO_LOCK, 2000, &vi), VI_SUCCESS);
        ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
        ViInt32 nValue = 0;
        EXPECT_EQ(viQueryf(vi, "INT?\n", "%ld%*t", &nValue), VI_SUCCESS);
        EXPECT_EQ(nValue, -7);
        char szHost[VI_FIND_BUFLEN] = {};
        EXPECT_EQ(viGetAttribute(vi, VI_ATTR_TCPIP_HOSTNAME, szHost), VI_SUCCESS);
        EXPECT_EQ(std::string(szHost),
                  strName.find("::1") != std::string::npos ? "::1" : "localhost");
        EXPECT_EQ(viClose(vi), VI_SUCCESS);
    }
    EXPECT_EQ(viClose(rm), VI_SUCCESS);
}

TEST(SocketOpen, FailuresGiveStandardStatus) {
    // A port that nothing listens on: bind, learn the number, close.
    const int nFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(nFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t nLength = sizeof addr;
    ::getsockname(nFd, reinterpret_cast<sockaddr*>(&addr), &nLength);
    const std::string strClosed =
        "TCPIP::127.0.0.1::" + std::to_string(ntohs(addr.sin_port)) + "::SOCKET";
    ::close(nFd);

    ViSession rm = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    struct Row {
        std::string strName;
        ViStatus nExpected;
    };
    const Row rows[] = {
        {strClosed, VI_ERROR_RSRC_NFOUND},
        {"GPIB0::5::INSTR", VI_ERROR_RSRC_NFOUND},
        {"TCPIP::127.0.0.1::INSTR", VI_ERROR_RSRC_NFOUND},
        {"TCPIP::127.0.0.1::port::SOCKET", VI_ERROR_INV_RSRC_NAME},
        {"TCPIP::127.0.0.1::70000::SOCKET", VI_ERROR_INV_RSRC_NAME},
        {"", VI_ERROR_INV_RSRC_NAME},
        {"NOSUCH::THING", VI_ERROR_RSRC_NFOUND},
        {"ASRL/dev/null::INSTR", VI_ERROR_RSRC_NFOUND},
        {"ASRL/no/such/tty::INSTR", VI_ERROR_RSRC_NFOUND},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.strName);
        ViSession vi = 0xDEAD;
        EXPECT_EQ(viOpen(rm, row.strName.c_str(), VI_NO_LOCK, 500, &vi), row.nExpected);
        EXPECT_EQ(vi, VI_NULL);
    }
    ViSession vi = VI_NULL;
    EXPECT_EQ(viOpen(rm, strClosed.c_str(), 0x100, 500, &vi), VI_ERROR_INV_ACC_MODE);
    EXPECT_EQ(viOpen(rm, nullptr, VI_NO_LOCK, 500, &vi), VI_ERROR_INV_RSRC_NAME);
    EXPECT_EQ(viClose(rm), VI_SUCCESS);
}

TEST(SocketOpen, InvalidHandlesAreRejected) {
    ViSession rm = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    ViSession closed = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&closed), VI_SUCCESS);
    ASSERT_EQ(viClose(closed), VI_SUCCESS);
    for (const ViSession vi : {ViSession{12345678}, closed}) {
        SCOPED_TRACE(vi);
        char buffer[8];
        ViUInt32 nCount = 0;
        ViInt32 nValue = 0;
        ViUInt32 nTimeout = 0;
        ViSession out = VI_NULL;
        EXPECT_EQ(viRead(vi, reinterpret_cast<ViBuf>(buffer), 8, &nCount), VI_ERROR_INV_OBJECT);
        EXPECT_EQ(viWrite(vi, reinterpret_cast<ViConstBuf>("x"), 1, &nCount), VI_ERROR_INV_OBJECT);
        EXPECT_EQ(viPrintf(vi, "*CLS\n"), VI_ERROR_INV_OBJECT);
        EXPECT_EQ(viScanf(vi, "%ld", &nValue), VI_ERROR_INV_OBJECT);
        EXPECT_EQ(viQueryf(vi, "*OPC?\n", "%ld", &nValue), VI_ERROR_INV_OBJECT);
        EXPECT_EQ(viGetAttribute(vi, VI_ATTR_TMO_VALUE, &nTimeout), VI_ERROR_INV_OBJECT);
        EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 5), VI_ERROR_INV_OBJECT);
        EXPECT_EQ(viClear(vi), VI_ERROR_INV_OBJECT);
        EXPECT_EQ(viFlush(vi, VI_READ_BUF), VI_ERROR_INV_OBJECT);
        EXPECT_EQ(viOpen(vi, "TCPIP::127.0.0.1::5025::SOCKET", VI_NO_LOCK, 10, &out),
                  VI_ERROR_INV_OBJECT);
        EXPECT_EQ(viClose(vi), VI_ERROR_INV_OBJECT);
    }
    // The resource manager itself does no instrument I/O.
    ViUInt32 nCount = 0;
    EXPECT_EQ(viWrite(rm, reinterpret_cast<ViConstBuf>("x"), 1, &nCount), VI_ERROR_NSUP_OPER);
    ViUInt32 nTimeout = 0;
    EXPECT_EQ(viGetAttribute(rm, VI_ATTR_TMO_VALUE, &nTimeout), VI_SUCCESS);
    EXPECT_EQ(nTimeout, 2000u);
    EXPECT_EQ(viClose(VI_NULL), VI_WARN_NULL_OBJECT);
    EXPECT_EQ(viClose(rm), VI_SUCCESS);
}

TEST(StatusDesc, DescribesKnownAndUnknownCodes) {
    char szText[VI_FIND_BUFLEN] = {};
    EXPECT_EQ(viStatusDesc(VI_NULL, VI_ERROR_TMO, szText), VI_SUCCESS);
    EXPECT_EQ(std::string(szText).rfind("VI_ERROR_TMO: Timeout", 0), 0u);
    EXPECT_EQ(viStatusDesc(VI_NULL, static_cast<ViStatus>(0xBFFF7777), szText),
              VI_WARN_UNKNOWN_STATUS);
    EXPECT_STRNE(szText, "");
}

}  // namespace
