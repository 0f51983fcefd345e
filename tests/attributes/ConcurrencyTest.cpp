// Several threads on one session, and sessions opened, used and closed on
// several threads at once (run under TSan in the thread-sanitizer build).
#include <atomic>
#include <thread>

#include "AttributeTestSupport.h"

namespace attrtest {
namespace {

TEST(Concurrency, TwoThreadsShareOneSession) {
    Session session;
    const ViSession vi = session.Vi();
    std::atomic<int> nFailures{0};
    auto worker = [&](const char* pChannel, double dBase) {
        for (int n = 0; n < 200; ++n) {
            ViReal64 dValue = 0;
            if (Set(vi, pChannel, kTestRealChannel, dBase + n) != VI_SUCCESS ||
                Get(vi, pChannel, kTestRealChannel, &dValue) != VI_SUCCESS || dValue != dBase + n) {
                ++nFailures;
            }
            ViInt32 nCount = 0;
            if (TARVEK_GetAttributeViInt32(vi, "", TARVEK_ATTR_CHANNEL_COUNT, &nCount) !=
                VI_SUCCESS) {
                ++nFailures;
            }
        }
    };
    std::thread first(worker, "CH1", 100.0);
    std::thread second(worker, "CH2", 500.0);
    first.join();
    second.join();
    EXPECT_EQ(nFailures.load(), 0);
}

TEST(Concurrency, SessionsComeAndGoOnSeveralThreads) {
    std::atomic<int> nFailures{0};
    auto worker = [&](int nThread) {
        for (int n = 0; n < 30; ++n) {
            ViSession vi = VI_NULL;
            if (TARVEK_InitWithOptions(const_cast<ViChar*>(""), VI_FALSE, VI_FALSE, "Simulate=1",
                                       &vi) != VI_SUCCESS) {
                ++nFailures;
                continue;
            }
            const char* pSelector = (n + nThread) % 2 == 0 ? "CH1-CH3" : "CH2,CH3";
            ViReal64 dValue = 0;
            if (Set(vi, pSelector, kTestRealChannel, 1.0 * n) != VI_SUCCESS ||
                Get(vi, "CH3", kTestRealChannel, &dValue) != VI_SUCCESS || dValue != 1.0 * n) {
                ++nFailures;
            }
            ViChar name[8] = {};
            if (TARVEK_GetChannelName(vi, 2, sizeof(name), name) != VI_SUCCESS) {
                ++nFailures;
            }
            TARVEK_close(vi);
        }
    };
    std::vector<std::thread> threads;
    for (int n = 0; n < 4; ++n) {
        threads.emplace_back(worker, n);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(nFailures.load(), 0);
}

}  // namespace
}  // namespace attrtest
