// The VISA layer's LAN instrument sessions (TCPIP::host::INSTR) over real
// VXI-11 links to the emulator. The client asks the portmapper on port 111,
// so every test runs its own emulator on its own 127.0.0.x address.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"
#include "QueryChecks.h"
#include "Vxi11TestEmulator.h"
#include "visa.h"

namespace {

using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

class Vxi11SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string strHost = Vxi11AddressOfCurrentTest(1);
        StartVxi11Emulator(strHost, m_pEmulator);
        if (HasFatalFailure() || IsSkipped()) {
            return;
        }
        ASSERT_EQ(viOpenDefaultRM(&m_rm), VI_SUCCESS);
        m_strResource = m_pEmulator->Vxi11Resource();
        m_strHost = strHost;
    }
    void TearDown() override {
        if (m_rm != VI_NULL) {
            viClose(m_rm);
        }
    }

    ViSession Open(const std::string& strResource) {
        ViSession vi = VI_NULL;
        EXPECT_EQ(viOpen(m_rm, strResource.c_str(), VI_NULL, 2000, &vi), VI_SUCCESS);
        return vi;
    }

    std::string Query(ViSession vi, const char* pszQuery, ViStatus expected = VI_SUCCESS) {
        char szReply[256] = {};
        EXPECT_EQ(viQueryf(vi, pszQuery, "%255t", szReply), expected) << pszQuery;
        std::string strReply = szReply;
        if (!strReply.empty() && strReply.back() == '\n') {
            strReply.pop_back();
        }
        return strReply;
    }

    std::unique_ptr<emu::Emulator> m_pEmulator;
    ViSession m_rm = VI_NULL;
    std::string m_strResource;
    std::string m_strHost;
};

TEST_F(Vxi11SessionTest, QueriesAndWritesCarryTheExactMessages) {
    const ViSession vi = Open(m_strResource);
    EXPECT_EQ(Query(vi, "*IDN?\n"), "Norvale,6313,SN000001,1.02");
    ViUInt32 nCount = 0;
    EXPECT_EQ(viWrite(vi, reinterpret_cast<const ViByte*>("INST CH2\nVOLT 2.5\n"), 18, &nCount),
              VI_SUCCESS);
    EXPECT_EQ(nCount, 18u);
    EXPECT_EQ(std::stod(Query(vi, "VOLT?\n")), 2.5);
    EXPECT_EQ(m_pEmulator->Lines(), (Lines{"*IDN?", "INST CH2", "VOLT 2.5", "VOLT?"}));
    // viRead ends with END on the reply's last byte.
    EXPECT_EQ(viWrite(vi, reinterpret_cast<const ViByte*>("*OPC?\n"), 6, &nCount), VI_SUCCESS);
    ViByte achReply[16] = {};
    EXPECT_EQ(viRead(vi, achReply, sizeof achReply, &nCount), VI_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(achReply), nCount), "1\n");
    // A count smaller than the reply: the rest stays for the next read.
    EXPECT_EQ(viWrite(vi, reinterpret_cast<const ViByte*>("*IDN?\n"), 6, &nCount), VI_SUCCESS);
    EXPECT_EQ(viRead(vi, achReply, 7, &nCount), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(achReply), nCount), "Norvale");
    EXPECT_EQ(viRead(vi, achReply, sizeof achReply, &nCount), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(viClose(vi), VI_SUCCESS);
    EXPECT_TRUE(m_pEmulator->WaitForLines(6, 1000ms));
}

TEST_F(Vxi11SessionTest, EndFlagFollowsSendEndAndTermCharEndsReads) {
    const ViSession vi = Open(m_strResource);
    ViUInt32 nCount = 0;
    // Without END the device keeps the bytes as the start of a message.
    EXPECT_EQ(viSetAttribute(vi, VI_ATTR_SEND_END_EN, VI_FALSE), VI_SUCCESS);
    EXPECT_EQ(viWrite(vi, reinterpret_cast<const ViByte*>("*ID"), 3, &nCount), VI_SUCCESS);
    EXPECT_TRUE(m_pEmulator->Lines().empty());
    EXPECT_EQ(viSetAttribute(vi, VI_ATTR_SEND_END_EN, VI_TRUE), VI_SUCCESS);
    EXPECT_EQ(viWrite(vi, reinterpret_cast<const ViByte*>("N?"), 2, &nCount), VI_SUCCESS);
    EXPECT_EQ(m_pEmulator->Lines(), (Lines{"*IDN?"}));
    // The termination character goes to the device, which stops there.
    EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR, ','), VI_SUCCESS);
    EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    ViByte achReply[64] = {};
    EXPECT_EQ(viRead(vi, achReply, sizeof achReply, &nCount), VI_SUCCESS_TERM_CHAR);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(achReply), nCount), "Norvale,");
    viClose(vi);
}

TEST_F(Vxi11SessionTest, HeldFormattedOutputLeavesAsOneDeviceWrite) {
    const ViSession vi = Open(m_strResource);
    EXPECT_EQ(viSetAttribute(vi, VI_ATTR_WR_BUF_OPER_MODE, 7), VI_ERROR_NSUP_ATTR_STATE);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_WR_BUF_OPER_MODE, VI_FLUSH_DISABLE), VI_SUCCESS);
    ViUInt16 nMode = 0;
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_WR_BUF_OPER_MODE, &nMode), VI_SUCCESS);
    EXPECT_EQ(nMode, VI_FLUSH_DISABLE);
    // Each row: what the session does with output held, the core calls it
    // costs, and the lines the device has received afterwards.
    struct Case {
        const char* pszName;
        std::function<void()> action;
        std::size_t nCalls;
        Lines lines;
    };
    const std::vector<Case> cases = {
        {"formatted writes are held",
         [&] {
             EXPECT_EQ(viPrintf(vi, "INST:SEL %d\n", 1), VI_SUCCESS);
             EXPECT_EQ(viPrintf(vi, "VOLT %s\n", "2.5"), VI_SUCCESS);
         },
         0,
         {}},
        {"a query takes them along in its write",
         [&] { EXPECT_EQ(std::stod(Query(vi, "VOLT?\n")), 2.5); },
         2,
         {"INST:SEL 1", "VOLT 2.5", "VOLT?"}},
        {"a plain write sends them first",
         [&] {
             EXPECT_EQ(viPrintf(vi, "INST:SEL 2\n"), VI_SUCCESS);
             EXPECT_EQ(viWrite(vi, reinterpret_cast<const ViByte*>("VOLT 4\n"), 7, nullptr),
                       VI_SUCCESS);
         },
         2,
         {"INST:SEL 2", "VOLT 4"}},
        {"a read sends them first",
         [&] {
             EXPECT_EQ(viPrintf(vi, "*OPC?\n"), VI_SUCCESS);
             ViByte achReply[8] = {};
             ViUInt32 nCount = 0;
             EXPECT_EQ(viRead(vi, achReply, sizeof achReply, &nCount), VI_SUCCESS);
             EXPECT_EQ(std::string(reinterpret_cast<char*>(achReply), nCount), "1\n");
         },
         2,
         {"*OPC?"}},
        {"a device clear drops them",
         [&] {
             EXPECT_EQ(viPrintf(vi, "VOLT 9\n"), VI_SUCCESS);
             EXPECT_EQ(viClear(vi), VI_SUCCESS);
             EXPECT_EQ(viFlush(vi, VI_WRITE_BUF), VI_SUCCESS);
         },
         1,
         {}},
        {"leaving the mode sends them",
         [&] {
             EXPECT_EQ(viPrintf(vi, "*CLS\n"), VI_SUCCESS);
             EXPECT_EQ(viSetAttribute(vi, VI_ATTR_WR_BUF_OPER_MODE, VI_FLUSH_WHEN_FULL),
                       VI_SUCCESS);
             EXPECT_EQ(viPrintf(vi, "*CLS\n"), VI_SUCCESS);
         },
         2,
         {"*CLS", "*CLS"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        m_pEmulator->ClearLines();
        const std::size_t nBefore = m_pEmulator->Vxi11CoreCalls();
        c.action();
        EXPECT_EQ(m_pEmulator->Vxi11CoreCalls() - nBefore, c.nCalls);
        EXPECT_EQ(m_pEmulator->Lines(), c.lines);
    }
    viClose(vi);
}

TEST_F(Vxi11SessionTest, EndOnTheTermCharIsSuccess) {
    const ViSession vi = Open(m_strResource);
    tkvisa_test::ExpectEndWinsOverTermChar(vi);
    viClose(vi);
}

TEST_F(Vxi11SessionTest, EveryFormattedQueryReadsItsOwnReply) {
    const ViSession vi = Open(m_strResource);
    tkvisa_test::ExpectEveryQueryReadsItsOwnReply(vi);
    viClose(vi);
}

TEST_F(Vxi11SessionTest, AttributesDescribeTheLink) {
    const ViSession vi = Open("tcpip0::" + m_strHost + "::inst0::instr");
    struct Case {
        ViAttr nAttribute;
        std::string strValue;
    };
    for (const Case& c :
         {Case{VI_ATTR_RSRC_CLASS, "INSTR"}, Case{VI_ATTR_TCPIP_DEVICE_NAME, "inst0"},
          Case{VI_ATTR_TCPIP_ADDR, m_strHost}, Case{VI_ATTR_TCPIP_HOSTNAME, m_strHost},
          Case{VI_ATTR_RSRC_NAME, "TCPIP0::" + m_strHost + "::inst0::INSTR"}}) {
        char szText[256] = {};
        EXPECT_EQ(viGetAttribute(vi, c.nAttribute, szText), VI_SUCCESS);
        EXPECT_EQ(std::string(szText), c.strValue);
    }
    viClose(vi);
}

TEST_F(Vxi11SessionTest, DeviceOperationsUseTheirOwnCalls) {
    const ViSession vi = Open(m_strResource);
    ViUInt16 nStb = 0xFFFF;
    EXPECT_EQ(viReadSTB(vi, &nStb), VI_SUCCESS);
    EXPECT_EQ(nStb, 0);
    EXPECT_EQ(viWrite(vi, reinterpret_cast<const ViByte*>("*ESE 1;*OPC\n"), 12, nullptr),
              VI_SUCCESS);
    EXPECT_EQ(viReadSTB(vi, &nStb), VI_SUCCESS);
    EXPECT_EQ(nStb & 0x20, 0x20);  // event summary bit
    EXPECT_EQ(viAssertTrigger(vi, VI_TRIG_PROT_DEFAULT), VI_SUCCESS);
    EXPECT_EQ(viAssertTrigger(vi, 5), VI_ERROR_INV_PROT);
    // A device clear drops an unread reply.
    EXPECT_EQ(viWrite(vi, reinterpret_cast<const ViByte*>("*IDN?\n"), 6, nullptr), VI_SUCCESS);
    EXPECT_EQ(viClear(vi), VI_SUCCESS);
    EXPECT_EQ(Query(vi, "*OPC?\n"), "1");
    // None of these went through the message channel.
    EXPECT_EQ(m_pEmulator->Lines(), (Lines{"*ESE 1;*OPC", "*IDN?", "*OPC?"}));
    viClose(vi);
}

TEST_F(Vxi11SessionTest, DeviceErrorsMapToVisaStatuses) {
    const ViSession vi = Open(m_strResource);
    struct Case {
        int nCode;
        ViStatus status;
    };
    for (const Case& c :
         {Case{11, VI_ERROR_RSRC_LOCKED}, Case{15, VI_ERROR_TMO}, Case{17, VI_ERROR_IO},
          Case{23, VI_ERROR_ABORT}, Case{4, VI_ERROR_RSRC_NFOUND}, Case{8, VI_ERROR_NSUP_OPER}}) {
        m_pEmulator->SetDeviceError(c.nCode);
        EXPECT_EQ(viWrite(vi, reinterpret_cast<const ViByte*>("*CLS\n"), 5, nullptr), c.status)
            << c.nCode;
        // Only that one call failed.
        EXPECT_EQ(Query(vi, "*OPC?\n"), "1") << c.nCode;
    }
    viClose(vi);
}

TEST_F(Vxi11SessionTest, EverySessionHasItsOwnLink) {
    const ViSession viFirst = Open(m_strResource);
    const ViSession viSecond = Open(m_strResource);
    EXPECT_EQ(m_pEmulator->Vxi11LinkCount(), 2u);
    EXPECT_EQ(Query(viFirst, "*OPC?\n"), "1");
    EXPECT_EQ(Query(viSecond, "*IDN?\n"), "Norvale,6313,SN000001,1.02");
    viClose(viFirst);
    viClose(viSecond);
    // The server forgets a link on its own connection thread; give it a
    // moment after the client has its reply.
    for (int i = 0; i < 100 && m_pEmulator->Vxi11LinkCount() != 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(m_pEmulator->Vxi11LinkCount(), 0u);
}

TEST_F(Vxi11SessionTest, ReplyAfterTimeoutIsDiscarded) {
    const ViSession vi = Open(m_strResource);
    EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 100), VI_SUCCESS);
    // The reply comes long after the timeout and the RPC margin; the abort
    // channel cuts the device's wait short.
    m_pEmulator->SetReplyDelay(10000ms);
    const auto start = std::chrono::steady_clock::now();
    Query(vi, "*IDN?\n", VI_ERROR_TMO);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5000ms);
    m_pEmulator->SetReplyDelay(0ms);
    // The next query gets its own reply, not the late one.
    EXPECT_EQ(Query(vi, "*OPC?\n"), "1");
    viClose(vi);
}

TEST_F(Vxi11SessionTest, DroppedLinkIsLostOnEveryLaterCall) {
    const ViSession vi = Open(m_strResource);
    m_pEmulator->CloseAfterMessages(1);
    EXPECT_EQ(Query(vi, "*OPC?\n"), "1");
    EXPECT_EQ(viWrite(vi, reinterpret_cast<const ViByte*>("*CLS\n"), 5, nullptr),
              VI_ERROR_CONN_LOST);
    ViUInt16 nStb = 0;
    EXPECT_EQ(viReadSTB(vi, &nStb), VI_ERROR_CONN_LOST);
    EXPECT_EQ(viClear(vi), VI_ERROR_CONN_LOST);
    Query(vi, "*OPC?\n", VI_ERROR_CONN_LOST);
    EXPECT_EQ(viClose(vi), VI_SUCCESS);
}

TEST_F(Vxi11SessionTest, NoServerAndRefusedLinksAreNotFound) {
    ViSession vi = VI_NULL;
    // Nothing listens there (no case uses the 127.0.9.x addresses).
    const std::string strNobody = "TCPIP::127.0.9.9::INSTR";
    EXPECT_EQ(viOpen(m_rm, strNobody.c_str(), VI_NULL, 500, &vi), VI_ERROR_RSRC_NFOUND);
    // The server refuses a device it does not have.
    const std::string strNoDevice =
        m_strResource.substr(0, m_strResource.size() - 5) + "inst0x::INSTR";
    EXPECT_EQ(viOpen(m_rm, strNoDevice.c_str(), VI_NULL, 500, &vi), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(vi, VI_NULL);
    // Other device names the server has.
    for (const char* pszDevice : {"inst1", "gpib0,5", "gpib0,5,96"}) {
        const std::string strName =
            m_strResource.substr(0, m_strResource.size() - 5) + pszDevice + "::INSTR";
        EXPECT_EQ(viOpen(m_rm, strName.c_str(), VI_NULL, 500, &vi), VI_SUCCESS) << strName;
        viClose(vi);
    }
}

// A server that keeps links, and their lock, after the connection ends, as
// instruments do that never notice a client gone: only destroy_link and
// device_unlock free them.
class Vxi11CloseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        emu::EmulatorOptions options;
        options.bVxi11LinksOutliveConnections = true;
        StartVxi11Emulator(Vxi11AddressOfCurrentTest(1), m_pEmulator, options);
        if (HasFatalFailure() || IsSkipped()) {
            return;
        }
        ASSERT_EQ(viOpenDefaultRM(&m_rm), VI_SUCCESS);
        m_strResource = m_pEmulator->Vxi11Resource();
    }
    void TearDown() override {
        if (m_rm != VI_NULL) {
            viClose(m_rm);
        }
    }

    std::unique_ptr<emu::Emulator> m_pEmulator;
    ViSession m_rm = VI_NULL;
    std::string m_strResource;
};

TEST_F(Vxi11CloseTest, RepeatedOpenAndCloseLeavesNoLinkOnTheDevice) {
    for (int n = 0; n < 50; ++n) {
        ViSession vi = VI_NULL;
        ASSERT_EQ(viOpen(m_rm, m_strResource.c_str(), VI_NULL, 2000, &vi), VI_SUCCESS) << n;
        ASSERT_EQ(viClose(vi), VI_SUCCESS);
    }
    EXPECT_EQ(m_pEmulator->Vxi11LinkCount(), 0u);
}

TEST_F(Vxi11CloseTest, LockHeldAtCloseIsReleasedForTheNextSession) {
    ViSession viFirst = VI_NULL;
    ASSERT_EQ(viOpen(m_rm, m_strResource.c_str(), VI_NULL, 2000, &viFirst), VI_SUCCESS);
    ASSERT_EQ(viLock(viFirst, VI_EXCLUSIVE_LOCK, 0, VI_NULL, VI_NULL), VI_SUCCESS);
    ASSERT_EQ(viClose(viFirst), VI_SUCCESS);
    ViSession viSecond = VI_NULL;
    ASSERT_EQ(viOpen(m_rm, m_strResource.c_str(), VI_NULL, 2000, &viSecond), VI_SUCCESS);
    // At once: a lock left on the device would answer "locked" here.
    EXPECT_EQ(viLock(viSecond, VI_EXCLUSIVE_LOCK, 0, VI_NULL, VI_NULL), VI_SUCCESS);
    EXPECT_EQ(viWrite(viSecond, reinterpret_cast<const ViByte*>("*CLS\n"), 5, nullptr), VI_SUCCESS);
    EXPECT_EQ(viClose(viSecond), VI_SUCCESS);
    EXPECT_EQ(m_pEmulator->Vxi11LinkCount(), 0u);
}

TEST_F(Vxi11CloseTest, CloseDuringABlockedReadStillDestroysTheLink) {
    ViSession vi = VI_NULL;
    ASSERT_EQ(viOpen(m_rm, m_strResource.c_str(), VI_NULL, 2000, &vi), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 5000), VI_SUCCESS);
    ASSERT_EQ(viWrite(vi, reinterpret_cast<const ViByte*>("*IDN?\n"), 6, nullptr), VI_SUCCESS);
    m_pEmulator->SetReplyDelay(10000ms);
    std::atomic<ViStatus> readStatus{VI_SUCCESS};
    std::thread reader([&] {
        ViByte achReply[64];
        ViUInt32 nCount = 0;
        readStatus = viRead(vi, achReply, sizeof achReply, &nCount);
    });
    std::this_thread::sleep_for(200ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(viClose(vi), VI_SUCCESS);
    reader.join();
    // Woken at once, not at the 5 s timeout; the abort freed the device to
    // take destroy_link.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
    EXPECT_LT(readStatus.load(), VI_SUCCESS);
    EXPECT_EQ(m_pEmulator->Vxi11LinkCount(), 0u);
}

}  // namespace
