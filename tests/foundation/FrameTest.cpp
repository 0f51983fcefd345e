#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "TestSession.h"

namespace {

using Call = std::function<ViStatus(ViSession)>;

// Exported functions that go through the locked frame.
const std::vector<std::pair<const char*, Call>>& FramedCalls() {
    static ViInt16 nResult;
    static ViChar message[256];
    static ViChar revision[256];
    static const std::vector<std::pair<const char*, Call>> calls = {
        {"TARVEK_reset", [](ViSession vi) { return TARVEK_reset(vi); }},
        {"TARVEK_ResetWithDefaults", [](ViSession vi) { return TARVEK_ResetWithDefaults(vi); }},
        {"TARVEK_Disable", [](ViSession vi) { return TARVEK_Disable(vi); }},
        {"TARVEK_self_test", [](ViSession vi) { return TARVEK_self_test(vi, &nResult, message); }},
        {"TARVEK_revision_query",
         [](ViSession vi) { return TARVEK_revision_query(vi, revision, message); }},
        {"TARVEK_InvalidateAllAttributes",
         [](ViSession vi) { return TARVEK_InvalidateAllAttributes(vi); }},
        {"TARVEK_LockSession", [](ViSession vi) { return TARVEK_LockSession(vi, nullptr); }},
        {"TARVEK_UnlockSession", [](ViSession vi) { return TARVEK_UnlockSession(vi, nullptr); }},
        {"TARVEK_SetOperationComplete",
         [](ViSession vi) { return TARVEK_SetOperationComplete(vi); }},
        {"TARVEK_WaitForOperationComplete",
         [](ViSession vi) { return TARVEK_WaitForOperationComplete(vi); }},
        {"TARVEK_WaitToContinue", [](ViSession vi) { return TARVEK_WaitToContinue(vi); }},
        {"TARVEK_close", [](ViSession vi) { return TARVEK_close(vi); }},
    };
    return calls;
}

TEST(Frame, InvalidHandlesAreRefusedWithoutRecording) {
    SimulatedSession stale;
    const ViSession viStale = stale.Close();
    for (const ViSession vi : {ViSession{0}, viStale, ViSession{0x7FFFFFF0}}) {
        for (const auto& [pName, call] : FramedCalls()) {
            SCOPED_TRACE(std::string(pName) + " with handle " + std::to_string(vi));
            TARVEK_ClearError(VI_NULL);
            EXPECT_EQ(call(vi), IVI_ERROR_INVALID_SESSION_HANDLE);
            EXPECT_EQ(LastError(VI_NULL).nCode, VI_SUCCESS) << "nothing is recorded";
        }
    }
}

TEST(Frame, SecondCloseReportsInvalidHandle) {
    SimulatedSession session;
    const ViSession vi = session.Close();
    EXPECT_EQ(TARVEK_close(vi), IVI_ERROR_INVALID_SESSION_HANDLE);
}

TEST(Frame, HandlesAreNeverReused) {
    std::vector<ViSession> vecSeen;
    for (int i = 0; i < 20; ++i) {
        SimulatedSession session;
        for (ViSession vi : vecSeen) {
            EXPECT_NE(vi, session.Handle());
        }
        vecSeen.push_back(session.Handle());
    }
}

TEST(Frame, NullPointersAreNamedInOrder) {
    SimulatedSession session;
    const ViSession vi = session.Handle();
    ViInt16 nResult = 0;
    ViChar message[256];
    struct Case {
        ViInt16* pResult;
        ViChar* pMessage;
        const char* pExpected;
    } cases[] = {
        {nullptr, message, "TestResult"},
        {&nResult, nullptr, "TestMessage"},
        {nullptr, nullptr, "TestResult"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pExpected);
        EXPECT_EQ(TARVEK_self_test(vi, c.pResult, c.pMessage), IVI_ERROR_NULL_POINTER);
        const RecordedError error = LastError(vi);
        EXPECT_EQ(error.nCode, IVI_ERROR_NULL_POINTER);
        EXPECT_EQ(error.strText, std::string("Null pointer passed for function 'TARVEK_self_test', "
                                             "parameter '") +
                                     c.pExpected + "'.");
    }
    EXPECT_EQ(TARVEK_self_test(vi, &nResult, message), VI_SUCCESS);
    EXPECT_EQ(nResult, 0);
    EXPECT_STREQ(message, "Self test passed.");
}

TEST(Frame, CallerHeldLockIsRecursiveAndBlocksOtherThreads) {
    SimulatedSession session;
    const ViSession vi = session.Handle();
    ViBoolean bHasLock = VI_FALSE;
    ASSERT_EQ(TARVEK_LockSession(vi, &bHasLock), VI_SUCCESS);
    EXPECT_EQ(bHasLock, VI_TRUE);
    // The same thread goes on calling without dead-lock.
    EXPECT_EQ(TARVEK_InvalidateAllAttributes(vi), VI_SUCCESS);
    EXPECT_EQ(TARVEK_LockSession(vi, &bHasLock), VI_SUCCESS) << "a held lock is not taken twice";

    std::atomic<bool> bOtherDone{false};
    std::thread other([&] {
        EXPECT_EQ(TARVEK_InvalidateAllAttributes(vi), VI_SUCCESS);
        bOtherDone = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(bOtherDone) << "another thread must wait for the caller's lock";
    ASSERT_EQ(TARVEK_UnlockSession(vi, &bHasLock), VI_SUCCESS);
    EXPECT_EQ(bHasLock, VI_FALSE);
    other.join();
    EXPECT_TRUE(bOtherDone);
    EXPECT_EQ(TARVEK_UnlockSession(vi, &bHasLock), VI_SUCCESS)
        << "unlocking an unheld flag is a no-op";
}

TEST(Frame, SessionsOnSeveralThreadsRunIndependently) {
    std::vector<std::thread> vecThreads;
    std::atomic<int> nFailures{0};
    for (int t = 0; t < 4; ++t) {
        vecThreads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                ViSession vi = VI_NULL;
                if (TARVEK_InitWithOptions(const_cast<ViChar*>(""), VI_FALSE, VI_FALSE,
                                           "Simulate=1", &vi) != VI_SUCCESS ||
                    TARVEK_reset(vi) != VI_SUCCESS || TARVEK_close(vi) != VI_SUCCESS) {
                    ++nFailures;
                }
            }
        });
    }
    for (auto& thread : vecThreads) {
        thread.join();
    }
    EXPECT_EQ(nFailures, 0);
}

TEST(Frame, RevisionQueryReportsSimulatedInstrument) {
    SimulatedSession session;
    ViChar driverRev[256];
    ViChar instrRev[256];
    ASSERT_EQ(TARVEK_revision_query(session.Handle(), driverRev, instrRev), VI_SUCCESS);
    EXPECT_STREQ(driverRev, "2.0.0.0");
    EXPECT_STREQ(instrRev, "Sim2.0.0.0");
}

}  // namespace
