// Service requests of LAN instrument sessions: the emulator raises its
// request bit (*ESE 1;*SRE 32 then *OPC) and calls back over the interrupt
// channel; the session delivers VI_EVENT_SERVICE_REQ to its queue or handlers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "Emulator.h"
#include "Vxi11TestEmulator.h"
#include "visa.h"

namespace {

using namespace std::chrono_literals;

class Vxi11SrqTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string strHost = Vxi11AddressOfCurrentTest(18);
        StartVxi11Emulator(strHost, m_pEmulator);
        if (HasFatalFailure() || IsSkipped()) {
            return;
        }
        ASSERT_EQ(viOpenDefaultRM(&m_rm), VI_SUCCESS);
        m_vi = Open();
    }
    void TearDown() override {
        if (m_rm != VI_NULL) {
            viClose(m_rm);
        }
    }

    ViSession Open() {
        ViSession vi = VI_NULL;
        EXPECT_EQ(viOpen(m_rm, m_pEmulator->Vxi11Resource().c_str(), VI_NULL, 2000, &vi),
                  VI_SUCCESS);
        return vi;
    }

    void RequestService(ViSession vi) {
        for (const std::string strCommand : kRequestService) {
            ViUInt32 nCount = 0;
            ASSERT_EQ(viWrite(vi, reinterpret_cast<ViConstBuf>(strCommand.data()),
                              static_cast<ViUInt32>(strCommand.size()), &nCount),
                      VI_SUCCESS);
        }
    }

    std::unique_ptr<emu::Emulator> m_pEmulator;
    ViSession m_rm = VI_NULL;
    ViSession m_vi = VI_NULL;
};

TEST_F(Vxi11SrqTest, RequestArrivesInTheQueueAndTheStatusByteShowsIt) {
    ASSERT_EQ(viEnableEvent(m_vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_SUCCESS);
    ViEventType nType = 0;
    ViEvent context = VI_NULL;
    // Nothing has asked for service yet.
    EXPECT_EQ(viWaitOnEvent(m_vi, VI_EVENT_SERVICE_REQ, 100, &nType, &context), VI_ERROR_TMO);
    RequestService(m_vi);
    ASSERT_EQ(viWaitOnEvent(m_vi, VI_EVENT_SERVICE_REQ, 2000, &nType, &context), VI_SUCCESS);
    EXPECT_EQ(nType, static_cast<ViEventType>(VI_EVENT_SERVICE_REQ));
    ViEventType nAttributeType = 0;
    EXPECT_EQ(viGetAttribute(context, VI_ATTR_EVENT_TYPE, &nAttributeType), VI_SUCCESS);
    EXPECT_EQ(nAttributeType, static_cast<ViEventType>(VI_EVENT_SERVICE_REQ));
    EXPECT_EQ(viClose(context), VI_SUCCESS);
    ViUInt16 nStatus = 0;
    ASSERT_EQ(viReadSTB(m_vi, &nStatus), VI_SUCCESS);
    EXPECT_EQ(nStatus & 0x60, 0x60);
    // One rise of the request bit is one event.
    EXPECT_EQ(viWaitOnEvent(m_vi, VI_EVENT_SERVICE_REQ, 200, &nType, VI_NULL), VI_ERROR_TMO);
    // Cleared and raised again: a second event.
    RequestService(m_vi);
    EXPECT_EQ(viWaitOnEvent(m_vi, VI_EVENT_SERVICE_REQ, 2000, &nType, VI_NULL), VI_SUCCESS);
}

ViStatus WriteText(ViSession vi, const std::string& strText) {
    ViUInt32 nCount = 0;
    return viWrite(vi, reinterpret_cast<ViConstBuf>(strText.data()),
                   static_cast<ViUInt32>(strText.size()), &nCount);
}

std::string ReadText(ViSession vi) {
    char szReply[256] = {};
    ViUInt32 nCount = 0;
    EXPECT_EQ(viRead(vi, reinterpret_cast<ViBuf>(szReply), sizeof szReply, &nCount), VI_SUCCESS);
    return std::string(szReply, nCount);
}

TEST_F(Vxi11SrqTest, MavShowsAReplyWaitingUntilItIsRead) {
    ViUInt16 nStatus = 0xFF;
    ASSERT_EQ(viReadSTB(m_vi, &nStatus), VI_SUCCESS);
    EXPECT_EQ(nStatus & 0x10, 0);
    ASSERT_EQ(WriteText(m_vi, "*IDN?\n"), VI_SUCCESS);
    ASSERT_EQ(viReadSTB(m_vi, &nStatus), VI_SUCCESS);
    EXPECT_EQ(nStatus & 0x10, 0x10);
    // Asked by message while the reply waits: MAV counts the identity, not
    // the *STB? answer queued after it.
    ASSERT_EQ(WriteText(m_vi, "*STB?\n"), VI_SUCCESS);
    const std::string strIdn = ReadText(m_vi);
    EXPECT_EQ(strIdn.rfind("Norvale,", 0), 0u) << strIdn;
    EXPECT_EQ(ReadText(m_vi), "16\n");
    ASSERT_EQ(viReadSTB(m_vi, &nStatus), VI_SUCCESS);
    EXPECT_EQ(nStatus & 0x10, 0);
    ASSERT_EQ(WriteText(m_vi, "*STB?\n"), VI_SUCCESS);
    EXPECT_EQ(ReadText(m_vi), "0\n");
}

TEST_F(Vxi11SrqTest, WaitingReplyRequestsServiceUnderSre16) {
    ASSERT_EQ(viEnableEvent(m_vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_SUCCESS);
    ASSERT_EQ(WriteText(m_vi, "*CLS;*SRE 16\n"), VI_SUCCESS);
    ViEventType nType = 0;
    EXPECT_EQ(viWaitOnEvent(m_vi, VI_EVENT_SERVICE_REQ, 100, &nType, VI_NULL), VI_ERROR_TMO);
    // Each reply is one rise of MAV, so one request each time.
    for (int nRound = 0; nRound < 2; ++nRound) {
        SCOPED_TRACE(nRound);
        ASSERT_EQ(WriteText(m_vi, "*IDN?\n"), VI_SUCCESS);
        ASSERT_EQ(viWaitOnEvent(m_vi, VI_EVENT_SERVICE_REQ, 2000, &nType, VI_NULL), VI_SUCCESS);
        ViUInt16 nStatus = 0;
        ASSERT_EQ(viReadSTB(m_vi, &nStatus), VI_SUCCESS);
        EXPECT_EQ(nStatus & 0x50, 0x50);
        EXPECT_EQ(ReadText(m_vi).rfind("Norvale,", 0), 0u);
        ASSERT_EQ(viReadSTB(m_vi, &nStatus), VI_SUCCESS);
        EXPECT_EQ(nStatus & 0x50, 0);
        EXPECT_EQ(viWaitOnEvent(m_vi, VI_EVENT_SERVICE_REQ, 100, &nType, VI_NULL), VI_ERROR_TMO);
    }
}

struct HandlerRecord {
    std::atomic<int> nCalls{0};
    std::atomic<ViUInt16> nStatus{0};
};

ViStatus _VI_FUNCH RecordRequest(ViSession vi, ViEventType nType, ViEvent, ViAddr pUser) {
    auto* pRecord = static_cast<HandlerRecord*>(pUser);
    if (nType == VI_EVENT_SERVICE_REQ) {
        // The handler may talk to the session it was called for.
        ViUInt16 nStatus = 0;
        if (viReadSTB(vi, &nStatus) == VI_SUCCESS) {
            pRecord->nStatus = nStatus;
        }
        ++pRecord->nCalls;
    }
    return VI_SUCCESS;
}

bool WaitFor(const std::atomic<int>& nValue, int nWanted) {
    for (int i = 0; i < 200 && nValue.load() < nWanted; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    return nValue.load() >= nWanted;
}

TEST_F(Vxi11SrqTest, HandlerIsCalledAndMayReadTheStatusByte) {
    HandlerRecord record;
    EXPECT_EQ(viEnableEvent(m_vi, VI_EVENT_SERVICE_REQ, VI_HNDLR, VI_NULL),
              VI_ERROR_HNDLR_NINSTALLED);
    ASSERT_EQ(viInstallHandler(m_vi, VI_EVENT_SERVICE_REQ, RecordRequest, &record), VI_SUCCESS);
    ASSERT_EQ(viEnableEvent(m_vi, VI_EVENT_SERVICE_REQ, VI_HNDLR, VI_NULL), VI_SUCCESS);
    RequestService(m_vi);
    ASSERT_TRUE(WaitFor(record.nCalls, 1));
    EXPECT_EQ(record.nStatus.load() & 0x40, 0x40);
    EXPECT_EQ(viDisableEvent(m_vi, VI_EVENT_SERVICE_REQ, VI_HNDLR), VI_SUCCESS);
    EXPECT_EQ(viUninstallHandler(m_vi, VI_EVENT_SERVICE_REQ, RecordRequest, &record), VI_SUCCESS);
}

struct BlockingHandler {
    std::atomic<int> nEntered{0};
    std::atomic<bool> bRelease{false};
    std::atomic<int> nLeft{0};
};

// Holds its thread until released (five seconds at most).
ViStatus _VI_FUNCH BlockUntilReleased(ViSession, ViEventType, ViEvent, ViAddr pUser) {
    auto* pBlocking = static_cast<BlockingHandler*>(pUser);
    ++pBlocking->nEntered;
    for (int i = 0; i < 500 && !pBlocking->bRelease.load(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ++pBlocking->nLeft;
    return VI_SUCCESS;
}

TEST_F(Vxi11SrqTest, BlockedHandlerHoldsUpNeitherAnotherSessionNorClose) {
    BlockingHandler blocking;
    ASSERT_EQ(viInstallHandler(m_vi, VI_EVENT_SERVICE_REQ, BlockUntilReleased, &blocking),
              VI_SUCCESS);
    ASSERT_EQ(viEnableEvent(m_vi, VI_EVENT_SERVICE_REQ, VI_HNDLR, VI_NULL), VI_SUCCESS);
    const ViSession viOther = Open();
    ASSERT_EQ(viEnableEvent(viOther, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_SUCCESS);
    // The device calls back both links; the first one's handler blocks.
    RequestService(viOther);
    ASSERT_TRUE(WaitFor(blocking.nEntered, 1));
    ViEventType nType = 0;
    EXPECT_EQ(viWaitOnEvent(viOther, VI_EVENT_SERVICE_REQ, 2000, &nType, VI_NULL), VI_SUCCESS);
    // Closing the blocked handler's session, and then the last one, stops
    // the receiver without waiting for the handler.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(viClose(m_vi), VI_SUCCESS);
    EXPECT_EQ(viClose(viOther), VI_SUCCESS);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    // A new session starts a receiver of its own while the old handler still blocks.
    const ViSession vi = Open();
    ASSERT_EQ(viEnableEvent(vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_SUCCESS);
    RequestService(vi);
    EXPECT_EQ(viWaitOnEvent(vi, VI_EVENT_SERVICE_REQ, 2000, &nType, VI_NULL), VI_SUCCESS);
    blocking.bRelease = true;
    EXPECT_EQ(viClose(vi), VI_SUCCESS);
    EXPECT_TRUE(WaitFor(blocking.nLeft, 1));
}

TEST_F(Vxi11SrqTest, DisablingStopsDelivery) {
    ASSERT_EQ(viEnableEvent(m_vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_SUCCESS);
    ASSERT_EQ(viDisableEvent(m_vi, VI_EVENT_SERVICE_REQ, VI_QUEUE), VI_SUCCESS);
    RequestService(m_vi);
    ViUInt16 nStatus = 0;
    ASSERT_EQ(viReadSTB(m_vi, &nStatus), VI_SUCCESS);
    EXPECT_EQ(nStatus & 0x40, 0x40);  // the device asks, but nobody listens
    ASSERT_EQ(viEnableEvent(m_vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_SUCCESS);
    ViEventType nType = 0;
    EXPECT_EQ(viWaitOnEvent(m_vi, VI_EVENT_SERVICE_REQ, 300, &nType, VI_NULL), VI_ERROR_TMO);
}

TEST_F(Vxi11SrqTest, OnlyTheSessionThatEnabledRequestsGetsThem) {
    const ViSession viOther = Open();
    ASSERT_EQ(viEnableEvent(viOther, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_SUCCESS);
    ASSERT_EQ(viEnableEvent(m_vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_SUCCESS);
    ASSERT_EQ(viDisableEvent(m_vi, VI_EVENT_SERVICE_REQ, VI_QUEUE), VI_SUCCESS);
    RequestService(m_vi);
    ViEventType nType = 0;
    EXPECT_EQ(viWaitOnEvent(viOther, VI_EVENT_SERVICE_REQ, 2000, &nType, VI_NULL), VI_SUCCESS);
    EXPECT_EQ(viWaitOnEvent(m_vi, VI_EVENT_SERVICE_REQ, 0, &nType, VI_NULL), VI_ERROR_NENABLED);
    EXPECT_EQ(viClose(viOther), VI_SUCCESS);
}

TEST_F(Vxi11SrqTest, ClosingWithTheChannelOpenNeitherHangsNorLeaks) {
    ASSERT_EQ(viEnableEvent(m_vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_SUCCESS);
    RequestService(m_vi);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(viClose(m_vi), VI_SUCCESS);  // with an event still queued
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    // The receiver stopped with the last session; a new one starts it again.
    const ViSession vi = Open();
    ASSERT_EQ(viEnableEvent(vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_SUCCESS);
    RequestService(vi);
    ViEventType nType = 0;
    EXPECT_EQ(viWaitOnEvent(vi, VI_EVENT_SERVICE_REQ, 2000, &nType, VI_NULL), VI_SUCCESS);
    // Closing the device side first: the session's later close still returns.
    m_pEmulator->Stop();
    EXPECT_EQ(viClose(vi), VI_SUCCESS);
}

}  // namespace
