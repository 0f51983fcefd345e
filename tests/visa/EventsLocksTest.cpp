// Events, locks and resource searches of the VISA layer across threads, over
// real loopback sessions to a scripted instrument.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Find.h"
#include "LoopbackResponder.h"
#include "visa.h"

using tkvisa_test::LoopbackResponder;
using tkvisa_test::Reply;
using Clock = std::chrono::steady_clock;

namespace {

Reply Instrument(const std::string& strLine) {
    if (strLine == "*IDN?") {
        return {{"TARVEK,6310,SN001,1.02\n"}};
    }
    if (strLine == "*STB?") {
        return {{"+16\r\n"}};
    }
    return {};
}

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class EventsAndLocks : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(viOpenDefaultRM(&m_rm), VI_SUCCESS);
        for (ViSession& vi : m_vi) {
            ASSERT_EQ(viOpen(m_rm, m_responder.Resource().c_str(), VI_NO_LOCK, 2000, &vi),
                      VI_SUCCESS);
        }
    }
    void TearDown() override { viClose(m_rm); }

    LoopbackResponder m_responder{Instrument};
    ViSession m_rm = VI_NULL;
    ViSession m_vi[2] = {VI_NULL, VI_NULL};
};

TEST_F(EventsAndLocks, LockWaitEndsWhenTheOwnerUnlocksOnAnotherThread) {
    ASSERT_EQ(viLock(m_vi[0], VI_EXCLUSIVE_LOCK, 0, nullptr, nullptr), VI_SUCCESS);
    ViUInt32 nState = 0;
    ASSERT_EQ(viGetAttribute(m_vi[1], VI_ATTR_RSRC_LOCK_STATE, &nState), VI_SUCCESS);
    EXPECT_EQ(nState, static_cast<ViUInt32>(VI_EXCLUSIVE_LOCK));
    EXPECT_EQ(viWrite(m_vi[1], reinterpret_cast<ViConstBuf>("*IDN?\n"), 6, nullptr),
              VI_ERROR_RSRC_LOCKED);
    std::thread owner([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        viUnlock(m_vi[0]);
    });
    const auto start = Clock::now();
    EXPECT_EQ(viLock(m_vi[1], VI_EXCLUSIVE_LOCK, 5000, nullptr, nullptr), VI_SUCCESS);
    EXPECT_LT(MsSince(start), 4000);
    owner.join();
    EXPECT_EQ(viLock(m_vi[0], VI_EXCLUSIVE_LOCK, VI_TMO_IMMEDIATE, nullptr, nullptr), VI_ERROR_TMO);
    // Closing the owner frees the resource for the waiter.
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        viClose(m_vi[1]);
    });
    EXPECT_EQ(viLock(m_vi[0], VI_EXCLUSIVE_LOCK, 5000, nullptr, nullptr), VI_SUCCESS);
    closer.join();
}

TEST_F(EventsAndLocks, LockArgumentsAreChecked) {
    char szKey[VI_FIND_BUFLEN] = {};
    EXPECT_EQ(viLock(m_vi[0], 7, 0, nullptr, szKey), VI_ERROR_INV_LOCK_TYPE);
    EXPECT_EQ(viLock(m_vi[0], VI_SHARED_LOCK, 0, "", szKey), VI_ERROR_INV_ACCESS_KEY);
    EXPECT_EQ(viLock(m_rm, VI_EXCLUSIVE_LOCK, 0, nullptr, nullptr), VI_ERROR_NSUP_OPER);
    EXPECT_EQ(viLock(0xDEAD, VI_EXCLUSIVE_LOCK, 0, nullptr, nullptr), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viUnlock(m_vi[0]), VI_ERROR_SESN_NLOCKED);
    ASSERT_EQ(viLock(m_vi[0], VI_SHARED_LOCK, 0, nullptr, szKey), VI_SUCCESS);
    EXPECT_NE(szKey[0], '\0');
    char szAgain[VI_FIND_BUFLEN] = {};
    EXPECT_EQ(viLock(m_vi[0], VI_SHARED_LOCK, 0, nullptr, szAgain), VI_SUCCESS_NESTED_SHARED);
    EXPECT_STREQ(szAgain, szKey);
    EXPECT_EQ(viLock(m_vi[0], VI_EXCLUSIVE_LOCK, 0, nullptr, nullptr), VI_SUCCESS);
    EXPECT_EQ(viUnlock(m_vi[0]), VI_SUCCESS_NESTED_SHARED);
    EXPECT_EQ(viUnlock(m_vi[0]), VI_SUCCESS_NESTED_SHARED);
    EXPECT_EQ(viUnlock(m_vi[0]), VI_SUCCESS);
}

TEST_F(EventsAndLocks, OpeningWithALockHoldsIt) {
    ViSession vi = VI_NULL;
    ASSERT_EQ(viOpen(m_rm, m_responder.Resource().c_str(), VI_EXCLUSIVE_LOCK, 2000, &vi),
              VI_SUCCESS);
    ViSession other = VI_NULL;
    EXPECT_EQ(viOpen(m_rm, m_responder.Resource().c_str(), VI_EXCLUSIVE_LOCK, 100, &other),
              VI_ERROR_RSRC_LOCKED);
    EXPECT_EQ(other, static_cast<ViSession>(VI_NULL));
    EXPECT_EQ(viWrite(m_vi[0], reinterpret_cast<ViConstBuf>("*IDN?\n"), 6, nullptr),
              VI_ERROR_RSRC_LOCKED);
    viClose(vi);
    EXPECT_EQ(viWrite(m_vi[0], reinterpret_cast<ViConstBuf>("*IDN?\n"), 6, nullptr), VI_SUCCESS);
}

TEST_F(EventsAndLocks, WaitOnEventWakesForAnotherThreadsCompletion) {
    ASSERT_EQ(viEnableEvent(m_vi[0], VI_EVENT_IO_COMPLETION, VI_QUEUE, VI_NULL), VI_SUCCESS);
    EXPECT_EQ(viEnableEvent(m_vi[0], VI_EVENT_IO_COMPLETION, VI_QUEUE, VI_NULL),
              VI_SUCCESS_EVENT_EN);
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ViJobId nJob = 0;
        viWriteAsync(m_vi[0], reinterpret_cast<ViConstBuf>("*IDN?\n"), 6, &nJob);
    });
    ViEventType nType = 0;
    ViEvent context = VI_NULL;
    ASSERT_EQ(viWaitOnEvent(m_vi[0], VI_ALL_ENABLED_EVENTS, 5000, &nType, &context), VI_SUCCESS);
    writer.join();
    EXPECT_EQ(nType, VI_EVENT_IO_COMPLETION);
    char szName[VI_FIND_BUFLEN] = {};
    EXPECT_EQ(viGetAttribute(context, VI_ATTR_OPER_NAME, szName), VI_SUCCESS);
    EXPECT_STREQ(szName, "viWriteAsync");
    EXPECT_EQ(viSetAttribute(context, VI_ATTR_STATUS, 0), VI_ERROR_ATTR_READONLY);
    EXPECT_EQ(viClose(context), VI_SUCCESS);
    EXPECT_EQ(viClose(context), VI_ERROR_INV_OBJECT);
    for (int i = 0; i < 200 && m_responder.Received().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(m_responder.Received(), "*IDN?\n");
    // Queued events wait for viWaitOnEvent; viDiscardEvents drops them.
    viWriteAsync(m_vi[0], reinterpret_cast<ViConstBuf>("A\n"), 2, nullptr);
    viWriteAsync(m_vi[0], reinterpret_cast<ViConstBuf>("B\n"), 2, nullptr);
    EXPECT_EQ(viWaitOnEvent(m_vi[0], VI_EVENT_IO_COMPLETION, 0, nullptr, nullptr),
              VI_SUCCESS_QUEUE_NEMPTY);
    EXPECT_EQ(viDiscardEvents(m_vi[0], VI_ALL_ENABLED_EVENTS, VI_ALL_MECH), VI_SUCCESS);
    EXPECT_EQ(viDiscardEvents(m_vi[0], VI_ALL_ENABLED_EVENTS, VI_ALL_MECH), VI_SUCCESS_QUEUE_EMPTY);
    EXPECT_EQ(viWaitOnEvent(m_vi[0], VI_EVENT_IO_COMPLETION, 0, nullptr, nullptr), VI_ERROR_TMO);
    EXPECT_EQ(viDisableEvent(m_vi[0], VI_ALL_ENABLED_EVENTS, VI_ALL_MECH), VI_SUCCESS);
    EXPECT_EQ(viDisableEvent(m_vi[0], VI_ALL_ENABLED_EVENTS, VI_ALL_MECH), VI_SUCCESS_EVENT_DIS);
}

TEST_F(EventsAndLocks, CloseWakesAWaiter) {
    ASSERT_EQ(viEnableEvent(m_vi[1], VI_EVENT_IO_COMPLETION, VI_QUEUE, VI_NULL), VI_SUCCESS);
    std::atomic<ViStatus> waited{VI_SUCCESS};
    const auto start = Clock::now();
    std::thread waiter([&] {
        waited = viWaitOnEvent(m_vi[1], VI_EVENT_IO_COMPLETION, VI_TMO_INFINITE, nullptr, nullptr);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    viClose(m_vi[1]);
    waiter.join();
    EXPECT_EQ(waited.load(), VI_ERROR_INV_OBJECT);
    EXPECT_LT(MsSince(start), 4000);
}

// A handler may call VISA on its own session: no lock is held while it runs.
ViStatus _VI_FUNCH ReadStatusInHandler(ViSession vi, ViEventType, ViEvent context, ViAddr pUser) {
    ViStatus status = VI_SUCCESS;
    viGetAttribute(context, VI_ATTR_STATUS, &status);
    ViUInt16 nStb = 0;
    if (status == VI_SUCCESS && viReadSTB(vi, &nStb) == VI_SUCCESS) {
        *static_cast<ViUInt16*>(pUser) = nStb;
    }
    return VI_SUCCESS;
}

TEST_F(EventsAndLocks, HandlersRunWithoutLocksAndCanBeSuspended) {
    ViUInt16 nStb = 0;
    ASSERT_EQ(viSetAttribute(m_vi[0], VI_ATTR_IO_PROT, VI_PROT_4882_STRS), VI_SUCCESS);
    EXPECT_EQ(viEnableEvent(m_vi[0], VI_EVENT_IO_COMPLETION, VI_HNDLR, VI_NULL),
              VI_ERROR_HNDLR_NINSTALLED);
    ASSERT_EQ(viInstallHandler(m_vi[0], VI_EVENT_IO_COMPLETION, ReadStatusInHandler, &nStb),
              VI_SUCCESS);
    ASSERT_EQ(viEnableEvent(m_vi[0], VI_EVENT_IO_COMPLETION, VI_SUSPEND_HNDLR, VI_NULL),
              VI_SUCCESS);
    viWriteAsync(m_vi[0], reinterpret_cast<ViConstBuf>("X\n"), 2, nullptr);
    EXPECT_EQ(nStb, 0);
    EXPECT_EQ(viEnableEvent(m_vi[0], VI_EVENT_IO_COMPLETION, VI_HNDLR, VI_NULL), VI_SUCCESS);
    EXPECT_EQ(nStb, 16);
    EXPECT_EQ(viEnableEvent(m_vi[0], VI_EVENT_IO_COMPLETION, VI_HNDLR | VI_SUSPEND_HNDLR, VI_NULL),
              VI_ERROR_INV_MECH);
    EXPECT_EQ(viEnableEvent(m_vi[0], VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_ERROR_INV_EVENT);
    EXPECT_EQ(viEnableEvent(m_vi[0], 0x12345678, VI_QUEUE, VI_NULL), VI_ERROR_INV_EVENT);
    EXPECT_EQ(viEnableEvent(m_vi[0], VI_EVENT_IO_COMPLETION, VI_QUEUE, 5), VI_ERROR_INV_CONTEXT);
    EXPECT_EQ(viUninstallHandler(m_vi[0], VI_EVENT_IO_COMPLETION, ReadStatusInHandler, nullptr),
              VI_ERROR_INV_HNDLR_REF);
    EXPECT_EQ(viUninstallHandler(m_vi[0], VI_EVENT_IO_COMPLETION, ReadStatusInHandler, &nStb),
              VI_SUCCESS);
}

// What an exception handler saw of each exception it was handed.
struct SeenException {
    ViSession vi;
    ViEventType nType;
    ViStatus status;
    std::string strOperation;
    ViStatus nReadStatus;  // a failing call made inside the handler
};

ViStatus _VI_FUNCH RecordException(ViSession vi, ViEventType nType, ViEvent context, ViAddr pUser) {
    auto& vecSeen = *static_cast<std::vector<SeenException>*>(pUser);
    SeenException seen{vi, nType, VI_SUCCESS, {}, VI_SUCCESS};
    viGetAttribute(context, VI_ATTR_STATUS, &seen.status);
    char szOperation[VI_FIND_BUFLEN] = {};
    viGetAttribute(context, VI_ATTR_OPER_NAME, szOperation);
    seen.strOperation = szOperation;
    // Calls on the session work in the handler; one that fails there raises
    // no exception of its own.
    seen.nReadStatus = viGetAttribute(vi, 0x3FFF7777, szOperation);
    vecSeen.push_back(seen);
    return VI_SUCCESS;
}

TEST_F(EventsAndLocks, ExceptionEventsReachTheirHandlerFromTheFailingCall) {
    std::vector<SeenException> vecSeen;
    // Every session offers exceptions, the resource manager's too, but only
    // to handlers: nobody would wait on a queue for them.
    for (const ViSession vi : {m_vi[0], m_rm}) {
        SCOPED_TRACE(vi);
        EXPECT_EQ(viEnableEvent(vi, VI_EVENT_EXCEPTION, VI_HNDLR, VI_NULL),
                  VI_ERROR_HNDLR_NINSTALLED);
        ASSERT_EQ(viInstallHandler(vi, VI_EVENT_EXCEPTION, RecordException, &vecSeen), VI_SUCCESS);
        EXPECT_EQ(viEnableEvent(vi, VI_EVENT_EXCEPTION, VI_QUEUE, VI_NULL), VI_ERROR_INV_MECH);
        EXPECT_EQ(viEnableEvent(vi, VI_EVENT_EXCEPTION, VI_HNDLR | VI_QUEUE, VI_NULL),
                  VI_ERROR_INV_MECH);
        ASSERT_EQ(viEnableEvent(vi, VI_EVENT_EXCEPTION, VI_HNDLR, VI_NULL), VI_SUCCESS);
        EXPECT_EQ(viEnableEvent(vi, VI_EVENT_EXCEPTION, VI_HNDLR, VI_NULL), VI_SUCCESS_EVENT_EN);
        EXPECT_EQ(viDiscardEvents(vi, VI_EVENT_EXCEPTION, VI_ALL_MECH), VI_SUCCESS_QUEUE_EMPTY);
        ViEventType nType = 0;
        EXPECT_EQ(viWaitOnEvent(vi, VI_EVENT_EXCEPTION, 0, &nType, nullptr), VI_ERROR_NENABLED);
    }

    // Calls that succeed raise nothing.
    ASSERT_EQ(viSetAttribute(m_vi[0], VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    ASSERT_EQ(viWrite(m_vi[0], reinterpret_cast<ViConstBuf>("*IDN?\n"), 6, nullptr), VI_SUCCESS);
    char szReply[64] = {};
    ViUInt32 nCount = 0;
    ASSERT_EQ(viRead(m_vi[0], reinterpret_cast<ViBuf>(szReply), sizeof szReply, &nCount),
              VI_SUCCESS_TERM_CHAR);
    EXPECT_TRUE(vecSeen.empty());

    // Failing calls hand their status and name to the handler before they return.
    ASSERT_EQ(viSetAttribute(m_vi[0], VI_ATTR_TMO_VALUE, 50), VI_SUCCESS);
    struct Row {
        const char* pszOperation;
        ViSession vi;
        ViStatus nStatus;
        std::function<ViStatus()> call;
    };
    const Row rows[] = {
        {"viRead", m_vi[0], VI_ERROR_TMO,
         [&] {
             return viRead(m_vi[0], reinterpret_cast<ViBuf>(szReply), sizeof szReply, &nCount);
         }},
        {"viSetAttribute", m_vi[0], VI_ERROR_NSUP_ATTR_STATE,
         [&] { return viSetAttribute(m_vi[0], VI_ATTR_TERMCHAR_EN, 7); }},
        {"viFlush", m_vi[0], VI_ERROR_INV_MASK, [&] { return viFlush(m_vi[0], 0); }},
        {"viOpen", m_rm, VI_ERROR_INV_RSRC_NAME,
         [&] {
             ViSession vi = VI_NULL;
             return viOpen(m_rm, "::", VI_NO_LOCK, 100, &vi);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pszOperation);
        vecSeen.clear();
        EXPECT_EQ(row.call(), row.nStatus);
        ASSERT_EQ(vecSeen.size(), 1u);
        EXPECT_EQ(vecSeen[0].vi, row.vi);
        EXPECT_EQ(vecSeen[0].nType, static_cast<ViEventType>(VI_EVENT_EXCEPTION));
        EXPECT_EQ(vecSeen[0].status, row.nStatus);
        EXPECT_EQ(vecSeen[0].strOperation, row.pszOperation);
        EXPECT_EQ(vecSeen[0].nReadStatus, VI_ERROR_NSUP_ATTR);
    }

    // Suspended exceptions wait for the handler; disabled ones are dropped.
    vecSeen.clear();
    ASSERT_EQ(viEnableEvent(m_vi[0], VI_EVENT_EXCEPTION, VI_SUSPEND_HNDLR, VI_NULL), VI_SUCCESS);
    EXPECT_EQ(viFlush(m_vi[0], 0), VI_ERROR_INV_MASK);
    EXPECT_TRUE(vecSeen.empty());
    ASSERT_EQ(viEnableEvent(m_vi[0], VI_EVENT_EXCEPTION, VI_HNDLR, VI_NULL), VI_SUCCESS);
    EXPECT_EQ(vecSeen.size(), 1u);
    ASSERT_EQ(viDisableEvent(m_vi[0], VI_EVENT_EXCEPTION, VI_ALL_MECH), VI_SUCCESS);
    EXPECT_EQ(viFlush(m_vi[0], 0), VI_ERROR_INV_MASK);
    EXPECT_EQ(vecSeen.size(), 1u);
    EXPECT_EQ(viDisableEvent(m_vi[0], VI_EVENT_EXCEPTION, VI_ALL_MECH), VI_SUCCESS_EVENT_DIS);
    EXPECT_EQ(viUninstallHandler(m_vi[0], VI_EVENT_EXCEPTION, RecordException, &vecSeen),
              VI_SUCCESS);
    EXPECT_EQ(viUninstallHandler(m_rm, VI_EVENT_EXCEPTION, nullptr, nullptr), VI_SUCCESS);
}

TEST_F(EventsAndLocks, BadArgumentsGetClearStatuses) {
    char szText[64] = {};
    ViUInt32 nCount = 0;
    ViFindList list = VI_NULL;
    ViUInt16 nStb = 0;
    struct Case {
        const char* pszCall;
        ViStatus status;
        ViStatus expected;
    };
    const Case cases[] = {
        {"viSetBuf no mask", viSetBuf(m_vi[0], 0, 16), VI_ERROR_INV_MASK},
        {"viSetBuf unknown mask", viSetBuf(m_vi[0], 0x100, 16), VI_ERROR_INV_MASK},
        {"viSetBuf huge", viSetBuf(m_vi[0], VI_READ_BUF, 0xFFFFFFFFu), VI_ERROR_ALLOC},
        {"viSetBuf system", viSetBuf(m_vi[0], VI_IO_IN_BUF, 16), VI_WARN_NSUP_BUF},
        {"viSetBuf on RM", viSetBuf(m_rm, VI_READ_BUF, 16), VI_ERROR_NSUP_OPER},
        {"viSPrintf null buffer", viSPrintf(m_vi[0], nullptr, "%d", 1), VI_ERROR_USER_BUF},
        {"viSScanf null string", viSScanf(m_vi[0], nullptr, "%d", &nCount), VI_ERROR_USER_BUF},
        {"viSPrintf bad handle", viSPrintf(0xDEAD, reinterpret_cast<ViBuf>(szText), "x"),
         VI_ERROR_INV_OBJECT},
        {"viBufWrite null", viBufWrite(m_vi[0], nullptr, 3, &nCount), VI_ERROR_USER_BUF},
        {"viReadAsync null", viReadAsync(m_vi[0], nullptr, 3, nullptr), VI_ERROR_USER_BUF},
        {"viTerminate degree", viTerminate(m_vi[0], 1, 1), VI_ERROR_INV_DEGREE},
        {"viTerminate no job", viTerminate(m_vi[0], VI_NULL, 1), VI_ERROR_INV_JOB_ID},
        {"viReadToFile no dir", viReadToFile(m_vi[0], "/nonexistent/dir/file", 4, &nCount),
         VI_ERROR_FILE_ACCESS},
        {"viWriteFromFile missing", viWriteFromFile(m_vi[0], "/nonexistent/file", 4, &nCount),
         VI_ERROR_FILE_ACCESS},
        {"viWaitOnEvent not enabled",
         viWaitOnEvent(m_vi[0], VI_EVENT_IO_COMPLETION, 0, nullptr, nullptr), VI_ERROR_NENABLED},
        {"viDisableEvent bad mechanism", viDisableEvent(m_vi[0], VI_ALL_ENABLED_EVENTS, 0),
         VI_ERROR_INV_MECH},
        {"viInstallHandler null",
         viInstallHandler(m_vi[0], VI_EVENT_IO_COMPLETION, nullptr, nullptr),
         VI_ERROR_INV_HNDLR_REF},
        {"viFindRsrc on a session", viFindRsrc(m_vi[0], "?*", &list, &nCount, szText),
         VI_ERROR_INV_OBJECT},
        {"viGpibControlREN", viGpibControlREN(m_vi[0], 1), VI_ERROR_NSUP_OPER},
        {"viGpibSendIFC bad handle", viGpibSendIFC(0xDEAD), VI_ERROR_INV_OBJECT},
        {"viMapAddress", viMapAddress(m_vi[0], 1, 0, 4, VI_FALSE, nullptr, nullptr),
         VI_ERROR_NSUP_OPER},
        {"viIn32", viIn32(m_vi[0], 1, 0, nullptr), VI_ERROR_NSUP_OPER},
        {"viReadSTB normal protocol", viReadSTB(m_vi[0], &nStb), VI_ERROR_NSUP_OPER},
        {"viAssertTrigger normal protocol", viAssertTrigger(m_vi[0], VI_TRIG_PROT_DEFAULT),
         VI_ERROR_NSUP_OPER},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.status, c.expected) << c.pszCall;
    }
    // Nothing of that reached the instrument, and the session still works.
    EXPECT_EQ(m_responder.Received(), "");
    EXPECT_EQ(viWrite(m_vi[0], reinterpret_cast<ViConstBuf>("*IDN?\n"), 6, &nCount), VI_SUCCESS);
}

TEST_F(EventsAndLocks, FileTransfersCarryTheBytes) {
    char szPath[] = "/tmp/tkvisa-file-XXXXXX";
    const int nFd = ::mkstemp(szPath);
    ASSERT_GE(nFd, 0);
    ::close(nFd);
    std::ofstream(szPath, std::ios::binary) << "*IDN?\nignored";
    ViUInt32 nCount = 0;
    ASSERT_EQ(viWriteFromFile(m_vi[0], szPath, 6, &nCount), VI_SUCCESS);
    EXPECT_EQ(nCount, 6u);
    ASSERT_EQ(viSetAttribute(m_vi[0], VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(m_vi[0], VI_ATTR_FILE_APPEND_EN, VI_TRUE), VI_SUCCESS);
    EXPECT_EQ(viReadToFile(m_vi[0], szPath, 100, &nCount), VI_SUCCESS_TERM_CHAR);
    EXPECT_EQ(nCount, 23u);
    std::ifstream file(szPath, std::ios::binary);
    const std::string strContent((std::istreambuf_iterator<char>(file)),
                                 std::istreambuf_iterator<char>());
    EXPECT_EQ(strContent, "*IDN?\nignoredTARVEK,6310,SN001,1.02\n");
    std::remove(szPath);
}

TEST(ResourceSearch, ExpressionsTranslateToAnchoredPatterns) {
    struct Case {
        const char* pszExpr;
        const char* pszName;
        bool bMatch;
    };
    const Case cases[] = {
        {"?*", "TCPIP0::h::5025::SOCKET", true},
        {"?*INSTR", "ASRL1::INSTR", true},
        {"?*INSTR", "TCPIP0::h::5025::SOCKET", false},
        {"ASRL?*INSTR", "asrl/dev/ttyUSB0::instr", true},
        {"ASRL[0-9]::INSTR", "ASRL3::INSTR", true},
        {"ASRL[0-9]::INSTR", "ASRL10::INSTR", false},
        {"ASRL[^0-9]?*", "ASRL/dev/ttyACM0::INSTR", true},
        {"GPIB?*|TCPIP?*", "TCPIP0::h::INSTR", true},
        {"(GPIB|VXI)?*", "TCPIP0::h::INSTR", false},
        {"TCPIP0::1.2.3.4::?*", "TCPIP0::1x2.3.4::INSTR", false},  // '.' is itself
        {"ASRL1+::INSTR", "ASRL111::INSTR", true},
        {"A\\?", "A?", true},
        {"A\\?", "AB", false},
    };
    for (const Case& c : cases) {
        std::string strRegex;
        ASSERT_TRUE(tkvisa::TranslateExpression(c.pszExpr, strRegex)) << c.pszExpr;
        const std::regex pattern(strRegex, std::regex::ECMAScript | std::regex::icase);
        EXPECT_EQ(std::regex_match(c.pszName, pattern), c.bMatch) << c.pszExpr << " " << c.pszName;
    }
    std::string strRegex;
    EXPECT_FALSE(tkvisa::TranslateExpression("?*{VI_ATTR_INTF_NUM==0}", strRegex));
}

TEST(ResourceSearch, FindListsWalkAndClose) {
    char szPath[] = "/tmp/tkvisa-store-XXXXXX";
    const int nFd = ::mkstemp(szPath);
    ASSERT_GE(nFd, 0);
    ::close(nFd);
    std::ofstream(szPath)
        << "<IviConfigurationStore>"
           "<HardwareAsset name='a' resourceDescriptor='TCPIP::10.1.1.1::99::SOCKET'/>"
           "<HardwareAsset name='b' resourceDescriptor='TCPIP::10.1.1.2::99::SOCKET'/>"
           "<HardwareAsset name='c' resourceDescriptor='not a resource'/>"
           "</IviConfigurationStore>";
    ::setenv("IVI_CONFIG_STORE", szPath, 1);
    ::setenv("TKVISA_DISCOVERY_TIMEOUT_MS", "0", 1);  // the store's assets only, no LAN search
    ViSession rm = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    ViFindList list = VI_NULL;
    ViUInt32 nCount = 0;
    char szName[VI_FIND_BUFLEN] = {};
    ASSERT_EQ(viFindRsrc(rm, "TCPIP?*", &list, &nCount, szName), VI_SUCCESS);
    EXPECT_EQ(nCount, 2u);
    EXPECT_STREQ(szName, "TCPIP0::10.1.1.1::99::SOCKET");
    EXPECT_EQ(viFindNext(list, szName), VI_SUCCESS);
    EXPECT_STREQ(szName, "TCPIP0::10.1.1.2::99::SOCKET");
    EXPECT_EQ(viFindNext(list, szName), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(viClose(list), VI_SUCCESS);
    EXPECT_EQ(viFindNext(list, szName), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viFindRsrc(rm, "GPIB?*", &list, &nCount, szName), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(list, static_cast<ViFindList>(VI_NULL));
    EXPECT_EQ(viFindRsrc(rm, "TCPIP[", &list, &nCount, szName), VI_ERROR_INV_EXPR);
    EXPECT_EQ(viFindRsrc(rm, nullptr, &list, &nCount, szName), VI_ERROR_INV_EXPR);
    // Closing the resource manager closes its lists.
    ASSERT_EQ(viFindRsrc(rm, "?*SOCKET", &list, &nCount, szName), VI_SUCCESS);
    viClose(rm);
    EXPECT_EQ(viFindNext(list, szName), VI_ERROR_INV_OBJECT);
    ::unsetenv("IVI_CONFIG_STORE");
    ::unsetenv("TKVISA_DISCOVERY_TIMEOUT_MS");
    std::remove(szPath);
}

}  // namespace
