// Faults of a VXI-11 instrument, live over loopback against a scripted
// hostile server of our own (HostileVxi11Server.h). Every row checks the
// exact status of the faulted call (never success with another call's
// answer), that it returned within its timeout plus 200 ms, and that the
// session afterwards either answers each question with its own answer or
// reports the lost connection on every kind of call, each within the same
// bound; the process keeps its thread count and memory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "HostileVxi11Server.h"
#include "visa.h"

namespace {

using faulttest::HostileVxi11Server;
using faulttest::RpcFault;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr ViUInt32 kTimeoutMs = 300;
// The overrun every call may have past its timeout.
constexpr auto kSlack = 200ms;

// The server's portmapper must be on port 111, so each test takes its own
// loopback address, in a block apart from the other VXI-11 tests': ctest runs
// this program beside those, and two servers on one address cannot both
// have the port.
std::string AddressOfCurrentTest() {
    const int nLine = ::testing::UnitTest::GetInstance()->current_test_info()->line();
    return "127.0." + std::to_string(24 + nLine / 200) + "." + std::to_string(20 + nLine % 200);
}

// A field of /proc/self/status ("Threads", "VmRSS").
long ProcessStatus(const std::string& strField) {
    std::ifstream status("/proc/self/status");
    std::string strLine;
    while (std::getline(status, strLine)) {
        if (strLine.rfind(strField + ":", 0) == 0) {
            return std::stol(strLine.substr(strField.size() + 1));
        }
    }
    return -1;
}

long ElapsedMs(Clock::time_point tpStart) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - tpStart).count());
}

enum class Afterwards { Works, Lost };

struct FaultRow {
    const char* pName;
    RpcFault eFault;
    u_long nProcedure;  // the call faulted: device_read, device_write, device_readstb
    int nCount;
    int nParamMs;
    bool bSilentAbort;
    ViStatus nStatus;
    Afterwards eAfterwards;
    // Time for the fault to play out (a late reply still coming) before the
    // session is used again.
    int nSettleMs;
};

class Vxi11FaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "the portmapper needs port 111 (root)";
        }
        m_pServer = std::make_unique<HostileVxi11Server>(AddressOfCurrentTest());
        ASSERT_TRUE(m_pServer->Start()) << "cannot listen on " << AddressOfCurrentTest();
        ASSERT_EQ(viOpenDefaultRM(&m_rm), VI_SUCCESS);
    }
    void TearDown() override {
        if (m_rm != VI_NULL) {
            viClose(m_rm);
        }
        m_pServer.reset();
    }

    ViSession Open() {
        ViSession vi = VI_NULL;
        EXPECT_EQ(viOpen(m_rm, m_pServer->Resource().c_str(), VI_NULL, 2000, &vi), VI_SUCCESS);
        EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, kTimeoutMs), VI_SUCCESS);
        return vi;
    }

    // A question only this call asks.
    std::string NextQuestion() { return "Q" + std::to_string(++m_nQuestion) + "?\n"; }
    static std::string AnswerTo(const std::string& strQuestion) {
        return strQuestion.substr(0, strQuestion.size() - 2) + "\n";
    }

    static ViStatus Write(ViSession vi, const std::string& strData) {
        ViUInt32 nCount = 0;
        return viWrite(vi, reinterpret_cast<ViConstBuf>(strData.data()),
                       static_cast<ViUInt32>(strData.size()), &nCount);
    }
    static ViStatus Read(ViSession vi, std::string* pData, std::size_t nMax = 256) {
        std::vector<ViByte> vecBuffer(nMax);
        ViUInt32 nCount = 0;
        const ViStatus status =
            viRead(vi, vecBuffer.data(), static_cast<ViUInt32>(vecBuffer.size()), &nCount);
        pData->assign(reinterpret_cast<const char*>(vecBuffer.data()), nCount);
        return status;
    }

    // Two questions, each answered with its own answer.
    void ExpectWorking(ViSession vi) {
        for (int n = 0; n < 2; ++n) {
            const std::string strQuestion = NextQuestion();
            ASSERT_EQ(Write(vi, strQuestion), VI_SUCCESS) << strQuestion;
            std::string strAnswer;
            ASSERT_EQ(Read(vi, &strAnswer), VI_SUCCESS) << strQuestion;
            EXPECT_EQ(strAnswer, AnswerTo(strQuestion));
        }
        ViUInt16 nStb = 0;
        EXPECT_EQ(viReadSTB(vi, &nStb), VI_SUCCESS);
        EXPECT_EQ(nStb, 0x10);
    }

    // Every kind of call reports the lost connection, twice over, in time.
    void ExpectLostOnEveryCall(ViSession vi) {
        const std::vector<std::pair<const char*, std::function<ViStatus()>>> calls = {
            {"write", [&] { return Write(vi, NextQuestion()); }},
            {"read",
             [&] {
                 std::string strData;
                 return Read(vi, &strData);
             }},
            {"status byte",
             [&] {
                 ViUInt16 nStb = 0;
                 return viReadSTB(vi, &nStb);
             }},
            {"clear", [&] { return viClear(vi); }},
            {"trigger", [&] { return viAssertTrigger(vi, VI_TRIG_PROT_DEFAULT); }},
            {"lock", [&] { return viLock(vi, VI_EXCLUSIVE_LOCK, 0, VI_NULL, VI_NULL); }},
        };
        for (int nRound = 0; nRound < 2; ++nRound) {
            for (const auto& [pName, call] : calls) {
                SCOPED_TRACE(pName);
                const auto tpStart = Clock::now();
                EXPECT_EQ(call(), static_cast<ViStatus>(VI_ERROR_CONN_LOST));
                EXPECT_LT(Clock::now() - tpStart, std::chrono::milliseconds(kTimeoutMs) + kSlack);
            }
        }
    }

    std::unique_ptr<HostileVxi11Server> m_pServer;
    ViSession m_rm = VI_NULL;
    int m_nQuestion = 0;
};

TEST_F(Vxi11FaultTest, EveryFaultGivesItsStatusInTimeAndLeavesTheLinkWorkingOrLost) {
    const FaultRow rows[] = {
        {"read reply dropped", RpcFault::kDrop, device_read, 1, 0, false, VI_ERROR_TMO,
         Afterwards::Works, 0},
        {"write reply dropped", RpcFault::kDrop, device_write, 1, 0, false, VI_ERROR_TMO,
         Afterwards::Works, 0},
        {"status byte reply dropped", RpcFault::kDrop, device_readstb, 1, 0, false, VI_ERROR_TMO,
         Afterwards::Works, 0},
        {"read reply dropped, abort channel silent", RpcFault::kDrop, device_read, 1, 0, true,
         VI_ERROR_TMO, Afterwards::Works, 0},
        {"read reply 100 ms late", RpcFault::kDelay, device_read, 1, 100, false, VI_SUCCESS,
         Afterwards::Works, 0},
        {"read reply 1 s late", RpcFault::kDelay, device_read, 1, 1000, false, VI_ERROR_TMO,
         Afterwards::Works, 800},
        {"read reply dripping, a byte every 25 ms", RpcFault::kDrip, device_read, 1, 25, false,
         VI_ERROR_TMO, Afterwards::Works, 1500},
        {"read reply sent twice", RpcFault::kDuplicate, device_read, 1, 0, false, VI_SUCCESS,
         Afterwards::Works, 0},
        {"stale read reply before the real one", RpcFault::kStaleFirst, device_read, 1, 0, false,
         VI_SUCCESS, Afterwards::Works, 0},
        {"stale replies every 100 ms, never the real one", RpcFault::kStaleFlood, device_read, 1,
         1000, false, VI_ERROR_TMO, Afterwards::Works, 900},
        {"read data without END, endlessly", RpcFault::kEndless, device_read, 1, 5, false,
         VI_ERROR_TMO, Afterwards::Works, 50},
        {"read reply truncated", RpcFault::kTruncate, device_read, 1, 0, false, VI_ERROR_CONN_LOST,
         Afterwards::Lost, 0},
        {"read reply with a 2 GB record mark", RpcFault::kHugeMark, device_read, 1, 0, false,
         VI_ERROR_CONN_LOST, Afterwards::Lost, 0},
        {"write reply with a 2 GB record mark", RpcFault::kHugeMark, device_write, 1, 0, false,
         VI_ERROR_CONN_LOST, Afterwards::Lost, 0},
        {"read reply shorter than its record mark", RpcFault::kShortRecord, device_read, 1, 0,
         false, VI_ERROR_TMO, Afterwards::Lost, 0},
        {"garbage for the read reply", RpcFault::kGarbage, device_read, 1, 0, false,
         VI_ERROR_CONN_LOST, Afterwards::Lost, 0},
        {"garbage for the status byte reply", RpcFault::kGarbage, device_readstb, 1, 0, false,
         VI_ERROR_CONN_LOST, Afterwards::Lost, 0},
        {"hang-up instead of the read reply", RpcFault::kHangUp, device_read, 1, 0, false,
         VI_ERROR_CONN_LOST, Afterwards::Lost, 0},
        {"device stops answering anything", RpcFault::kDrop, HostileVxi11Server::kAnyProcedure,
         1000, 0, false, VI_ERROR_TMO, Afterwards::Lost, 0},
    };
    // The baseline: one session opened and closed, the server's threads up.
    {
        const ViSession vi = Open();
        ExpectWorking(vi);
        viClose(vi);
    }
    const long nThreadsBefore = ProcessStatus("Threads");
    const long nRssBeforeKb = ProcessStatus("VmRSS");
    for (const FaultRow& row : rows) {
        SCOPED_TRACE(row.pName);
        m_pServer->ClearFaults();
        const ViSession vi = Open();
        ExpectWorking(vi);
        std::string strQuestion;
        if (row.nProcedure == device_read) {
            strQuestion = NextQuestion();
            ASSERT_EQ(Write(vi, strQuestion), VI_SUCCESS);
        }
        m_pServer->SetSilentAbort(row.bSilentAbort);
        m_pServer->Arm(row.eFault, row.nProcedure, row.nCount, row.nParamMs);
        const auto tpStart = Clock::now();
        ViStatus status = VI_SUCCESS;
        std::string strAnswer;
        ViUInt16 nStb = 0;
        if (row.nProcedure == device_read) {
            // A large buffer: data without END never fills it.
            status = Read(vi, &strAnswer, 1 << 20);
        } else if (row.nProcedure == device_readstb) {
            status = viReadSTB(vi, &nStb);
        } else {
            strQuestion = NextQuestion();
            status = Write(vi, strQuestion);
        }
        const long nElapsedMs = ElapsedMs(tpStart);
        EXPECT_EQ(status, row.nStatus);
        if (status == VI_SUCCESS && row.nProcedure == device_read) {
            EXPECT_EQ(strAnswer, AnswerTo(strQuestion)) << "an answer to another call";
        }
        if (status == VI_SUCCESS && row.nProcedure == device_readstb) {
            EXPECT_EQ(nStb, 0x10);
        }
        // One line per row, for the summary in the reliability notes.
        std::printf("[ fault    ] %-48s 0x%08X %5ld ms (timeout %u ms)\n", row.pName,
                    static_cast<unsigned>(status), nElapsedMs, kTimeoutMs);
        EXPECT_LT(nElapsedMs, static_cast<long>(kTimeoutMs + kSlack.count()));
        std::this_thread::sleep_for(std::chrono::milliseconds(row.nSettleMs));
        if (row.eAfterwards == Afterwards::Works) {
            m_pServer->ClearFaults();
            ExpectWorking(vi);
        } else {
            ExpectLostOnEveryCall(vi);
            m_pServer->ClearFaults();
        }
        const auto tpClose = Clock::now();
        EXPECT_EQ(viClose(vi), VI_SUCCESS);
        EXPECT_LT(ElapsedMs(tpClose), 500);
        // The client starts no thread of its own; the server's connection
        // threads end with their connections.
        EXPECT_LE(ProcessStatus("Threads"), nThreadsBefore + 4);
        EXPECT_LT(ProcessStatus("VmRSS") - nRssBeforeKb, 64 * 1024) << "kB";
    }
}

TEST_F(Vxi11FaultTest, SilentServerMakesOpenTimeOutInTime) {
    struct Case {
        const char* pName;
        std::function<void(HostileVxi11Server&)> silence;
    } cases[] = {
        {"silent portmapper", [](HostileVxi11Server& server) { server.SetSilentPortmapper(true); }},
        {"silent create_link",
         [](HostileVxi11Server& server) { server.SetSilentCreateLink(true); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pName);
        m_pServer->ClearFaults();
        c.silence(*m_pServer);
        ViSession vi = 99;
        const auto tpStart = Clock::now();
        EXPECT_EQ(viOpen(m_rm, m_pServer->Resource().c_str(), VI_NULL, kTimeoutMs, &vi),
                  VI_ERROR_TMO);
        const long nElapsedMs = ElapsedMs(tpStart);
        std::printf("[ fault    ] %-48s %5ld ms (open timeout %u ms)\n", c.pName, nElapsedMs,
                    kTimeoutMs);
        EXPECT_LT(nElapsedMs, static_cast<long>(kTimeoutMs + kSlack.count()));
        EXPECT_EQ(vi, VI_NULL);
        // Once the server answers again, the next open works.
        m_pServer->ClearFaults();
        ASSERT_EQ(viOpen(m_rm, m_pServer->Resource().c_str(), VI_NULL, 2000, &vi), VI_SUCCESS);
        ExpectWorking(vi);
        viClose(vi);
    }
}

TEST_F(Vxi11FaultTest, ClosingDestroysTheLinkOnTheServer) {
    for (int n = 0; n < 50; ++n) {
        const ViSession vi = Open();
        ASSERT_EQ(viLock(vi, VI_EXCLUSIVE_LOCK, 0, VI_NULL, VI_NULL), VI_SUCCESS);
        ASSERT_EQ(viClose(vi), VI_SUCCESS);
    }
    EXPECT_EQ(m_pServer->Links(), 0u);
}

}  // namespace
