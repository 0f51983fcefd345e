// Faults of a serial instrument, live over a pseudo-terminal: a hostile peer
// on the master side answers, drips, floods, stays silent, truncates, stops
// reading or hangs up. Every row checks the exact status and bytes of the
// call, that it returned within its timeout, and that the session afterwards
// either answers each question with its own answer or reports the lost
// connection on every kind of call.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "HostilePty.h"
#include "visa.h"

namespace {

using faulttest::HostilePty;
using faulttest::PtyFault;
using Clock = std::chrono::steady_clock;

constexpr ViUInt32 kTimeoutMs = 300;
// A call may overrun its timeout by this much; a wrong deadline overruns by
// seconds or for ever.
constexpr auto kSlack = std::chrono::milliseconds(200);
// Large enough that a flood within the timeout never fills it.
constexpr std::size_t kReadSize = 1 << 20;
constexpr char kLongQuery[] = "Q1234567890?\n";
constexpr char kLongReply[] = "A1234567890\n";

enum class Operation { Query, BigWrite };
enum class Afterwards { Works, Lost };

struct PtyCase {
    const char* pName;
    PtyFault eFault;
    int nDripMs;
    Operation eOperation;
    ViStatus nStatus;
    // The bytes the read must return; with bPrefix, any beginning of them
    // (a reply cut short), and "x" stands for flood bytes of any count.
    const char* pszReceived;
    bool bPrefix;
    Afterwards eAfterwards;
    // Time for the fault to play out (a reply still dripping in) before the
    // session is used again.
    int nSettleMs = 0;
};

[[maybe_unused]] long ResidentKiB() {
    long nPages = 0, nResident = 0;
    if (std::FILE* pFile = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(pFile, "%ld %ld", &nPages, &nResident) != 2) {
            nResident = 0;
        }
        std::fclose(pFile);
    }
    return nResident * (::sysconf(_SC_PAGESIZE) / 1024);
}

class SerialFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(viOpenDefaultRM(&m_rm), VI_SUCCESS);
        Open();
    }
    void TearDown() override {
        if (m_rm != VI_NULL) {
            viClose(m_rm);
        }
    }

    void Open() {
        m_pPeer = std::make_unique<HostilePty>();
        ASSERT_TRUE(m_pPeer->Ready());
        ASSERT_EQ(viOpen(m_rm, m_pPeer->Resource().c_str(), VI_NO_LOCK, 2000, &m_vi), VI_SUCCESS);
        ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, kTimeoutMs), VI_SUCCESS);
    }

    // Writes a query and reads the reply, timing both.
    ViStatus Query(const std::string& strQuery, std::string& strReply, Clock::duration& elapsed) {
        const auto tpStart = Clock::now();
        ViUInt32 nCount = 0;
        ViStatus status = viWrite(m_vi, reinterpret_cast<ViConstBuf>(strQuery.data()),
                                  static_cast<ViUInt32>(strQuery.size()), &nCount);
        strReply.clear();
        if (status == VI_SUCCESS) {
            std::vector<ViByte> vecBuffer(kReadSize);
            status =
                viRead(m_vi, vecBuffer.data(), static_cast<ViUInt32>(vecBuffer.size()), &nCount);
            strReply.assign(reinterpret_cast<const char*>(vecBuffer.data()), nCount);
        }
        elapsed = Clock::now() - tpStart;
        return status;
    }

    // Writes far more than a pseudo-terminal buffers.
    ViStatus BigWrite(std::string& strReply, Clock::duration& elapsed) {
        std::string strCommands;
        while (strCommands.size() < kReadSize) {
            strCommands += "NOOP\n";
        }
        const auto tpStart = Clock::now();
        ViUInt32 nCount = 0;
        const ViStatus status = viWrite(m_vi, reinterpret_cast<ViConstBuf>(strCommands.data()),
                                        static_cast<ViUInt32>(strCommands.size()), &nCount);
        elapsed = Clock::now() - tpStart;
        strReply.clear();
        EXPECT_LT(nCount, strCommands.size());
        return status;
    }

    // After a clear (what a program does after an error), each question
    // gets its own answer.
    void ExpectWorking() {
        ASSERT_EQ(viClear(m_vi), VI_SUCCESS);
        for (const char* pszNumber : {"21", "22"}) {
            SCOPED_TRACE(pszNumber);
            std::string strReply;
            Clock::duration elapsed{};
            EXPECT_EQ(Query(std::string("Q") + pszNumber + "?\n", strReply, elapsed), VI_SUCCESS);
            EXPECT_EQ(strReply, std::string("A") + pszNumber + "\n");
        }
        const std::vector<std::string> vecLines = m_pPeer->Lines();
        ASSERT_FALSE(vecLines.empty());
        EXPECT_EQ(vecLines.back(), "Q22?");
    }

    // Every kind of call reports the lost connection, within its timeout,
    // and keeps reporting it.
    void ExpectLostOnEveryCall() {
        ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_IO_PROT, VI_PROT_4882_STRS), VI_SUCCESS);
        const std::vector<std::pair<const char*, std::function<ViStatus()>>> calls = {
            {"viWrite",
             [&] {
                 ViUInt32 nCount = 0;
                 return viWrite(m_vi, reinterpret_cast<ViConstBuf>("Q9?\n"), 4, &nCount);
             }},
            {"viRead",
             [&] {
                 ViByte buffer[64];
                 ViUInt32 nCount = 0;
                 return viRead(m_vi, buffer, sizeof buffer, &nCount);
             }},
            {"viClear", [&] { return viClear(m_vi); }},
            {"viFlush input", [&] { return viFlush(m_vi, VI_IO_IN_BUF_DISCARD); }},
            {"viFlush output", [&] { return viFlush(m_vi, VI_IO_OUT_BUF); }},
            {"viBufWrite and viFlush",
             [&] {
                 ViUInt32 nCount = 0;
                 viBufWrite(m_vi, reinterpret_cast<ViConstBuf>("Q9?\n"), 4, &nCount);
                 return viFlush(m_vi, VI_WRITE_BUF);
             }},
            {"viPrintf", [&] { return viPrintf(m_vi, const_cast<ViString>("Q%d?\n"), 9); }},
            {"viScanf",
             [&] {
                 int n = 0;
                 return viScanf(m_vi, const_cast<ViString>("A%d"), &n);
             }},
            {"viQueryf",
             [&] {
                 int n = 0;
                 return viQueryf(m_vi, const_cast<ViString>("Q9?\n"), const_cast<ViString>("A%d"),
                                 &n);
             }},
            {"viReadSTB",
             [&] {
                 ViUInt16 nStb = 0;
                 return viReadSTB(m_vi, &nStb);
             }},
            {"viAssertTrigger", [&] { return viAssertTrigger(m_vi, VI_TRIG_PROT_DEFAULT); }},
            {"viSetAttribute baud", [&] { return viSetAttribute(m_vi, VI_ATTR_ASRL_BAUD, 19200); }},
        };
        for (int nRound = 0; nRound < 2; ++nRound) {
            for (const auto& [pszName, call] : calls) {
                SCOPED_TRACE(pszName);
                const auto tpStart = Clock::now();
                EXPECT_EQ(call(), static_cast<ViStatus>(VI_ERROR_CONN_LOST));
                EXPECT_LT(Clock::now() - tpStart, std::chrono::milliseconds(kTimeoutMs) + kSlack);
            }
        }
    }

    ViSession m_rm = VI_NULL;
    ViSession m_vi = VI_NULL;
    std::unique_ptr<HostilePty> m_pPeer;
};

TEST_F(SerialFaults, EveryFaultGivesItsStatusInTimeAndLosesNothing) {
    const PtyCase cases[] = {
        {"peer answers", PtyFault::None, 0, Operation::Query, VI_SUCCESS, kLongReply, false,
         Afterwards::Works},
        {"reply dripping within the timeout", PtyFault::Drip, 10, Operation::Query, VI_SUCCESS,
         kLongReply, false, Afterwards::Works},
        {"reply dripping past the timeout", PtyFault::Drip, 40, Operation::Query, VI_ERROR_TMO,
         kLongReply, true, Afterwards::Works, 400},
        {"flood without a line feed", PtyFault::Flood, 0, Operation::Query, VI_ERROR_TMO, "x",
         false, Afterwards::Works},
        {"peer never answers", PtyFault::Silent, 0, Operation::Query, VI_ERROR_TMO, "", false,
         Afterwards::Works},
        {"reply without its line feed", PtyFault::Truncate, 0, Operation::Query, VI_ERROR_TMO,
         "A1234567890", false, Afterwards::Works},
        {"peer stops reading", PtyFault::Deaf, 0, Operation::BigWrite, VI_ERROR_TMO, "", false,
         Afterwards::Works},
        {"hang-up mid-reply", PtyFault::HangUpMidReply, 0, Operation::Query, VI_ERROR_CONN_LOST,
         "A12345", false, Afterwards::Lost},
        {"hang-up instead of a reply", PtyFault::HangUp, 0, Operation::Query, VI_ERROR_CONN_LOST,
         "", false, Afterwards::Lost},
    };
    for (const PtyCase& row : cases) {
        SCOPED_TRACE(row.pName);
        if (m_pPeer->HungUp()) {
            // The previous row hung up: a fresh port and session for this one.
            viClose(m_vi);
            Open();
        }
        m_pPeer->Arm(row.eFault, row.nDripMs);
        std::string strReceived;
        Clock::duration elapsed{};
        const ViStatus status = row.eOperation == Operation::Query
                                    ? Query(kLongQuery, strReceived, elapsed)
                                    : BigWrite(strReceived, elapsed);
        EXPECT_EQ(status, row.nStatus);
        EXPECT_LT(elapsed, std::chrono::milliseconds(kTimeoutMs) + kSlack);
        if (std::string(row.pszReceived) == "x") {
            EXPECT_FALSE(strReceived.empty());
            EXPECT_EQ(strReceived.find_first_not_of('x'), std::string::npos);
        } else if (row.bPrefix) {
            EXPECT_LT(strReceived.size(), std::string(row.pszReceived).size());
            EXPECT_EQ(std::string(row.pszReceived).rfind(strReceived, 0), 0u) << strReceived;
        } else {
            EXPECT_EQ(strReceived, row.pszReceived);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(row.nSettleMs));
        m_pPeer->Calm();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (row.eAfterwards == Afterwards::Works) {
            ExpectWorking();
        } else {
            ExpectLostOnEveryCall();
        }
    }
}

TEST_F(SerialFaults, HangUpWhileIdleIsLostOnEveryCall) {
    std::string strReply;
    Clock::duration elapsed{};
    ASSERT_EQ(Query("Q1?\n", strReply, elapsed), VI_SUCCESS);
    m_pPeer->Arm(PtyFault::HangUp);
    ViUInt32 nCount = 0;
    ASSERT_EQ(viWrite(m_vi, reinterpret_cast<ViConstBuf>("Q2?\n"), 4, &nCount), VI_SUCCESS);
    for (int n = 0; n < 100 && !m_pPeer->HungUp(); ++n) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(m_pPeer->HungUp());
    // The first call after the hang-up only changes a line setting: the
    // line is asked, not a remembered read.
    EXPECT_EQ(viSetAttribute(m_vi, VI_ATTR_ASRL_BAUD, 19200), VI_ERROR_CONN_LOST);
    ExpectLostOnEveryCall();
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST_F(SerialFaults, FloodsLeaveMemoryBounded) {
    std::string strReply;
    Clock::duration elapsed{};
    ASSERT_EQ(Query("Q1?\n", strReply, elapsed), VI_SUCCESS);
    const long nBeforeKiB = ResidentKiB();
    for (int nRound = 0; nRound < 5; ++nRound) {
        SCOPED_TRACE(nRound);
        m_pPeer->Arm(PtyFault::Flood);
        EXPECT_EQ(Query("Q2?\n", strReply, elapsed), VI_ERROR_TMO);
        m_pPeer->Calm();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_EQ(viClear(m_vi), VI_SUCCESS);
    }
    ViUInt32 nBufferSize = 0;
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_RD_BUF_SIZE, &nBufferSize), VI_SUCCESS);
    EXPECT_LE(nBufferSize, 64u * 1024);
    EXPECT_LT(ResidentKiB() - nBeforeKiB, 8 * 1024);
}
#endif

}  // namespace
