// HiSLIP faults, live over loopback against a server of our own that
// misbehaves on cue. Every row checks the exact status (never a success
// carrying a wrong or stale value), that the call returned within its
// timeout and the margin every VISA call may overrun it by, that the session
// afterwards either works (and answers the question asked) or reports the
// lost connection on every kind of call, what the client told the server,
// and that memory stayed bounded whatever length the server claimed.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "HostileHislipServer.h"
#include "visa.h"

namespace {

using faulttest::HostileHislipServer;
using faulttest::OpenFault;
using faulttest::ReplyFault;
using faulttest::ResponseFault;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr ViUInt32 kTimeoutMs = 300;
constexpr ViUInt32 kOpenTimeoutMs = 1000;
// What a VISA call may overrun its timeout by, on every transport.
constexpr auto kMargin = 200ms;
constexpr std::uint64_t kAnnouncedMax = 1024 * 1024;

long MaxResidentKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long long Ms(Clock::duration elapsed) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}

enum class Call { Query, ReadStb, Clear, Lock };
enum class Afterwards { Works, Lost };

const char* NameOf(Call eCall) {
    switch (eCall) {
        case Call::Query:
            return "query";
        case Call::ReadStb:
            return "viReadSTB";
        case Call::Clear:
            return "viClear";
        case Call::Lock:
            return "viLock";
    }
    return "?";
}

class HislipFaultMatrix : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(viOpenDefaultRM(&m_rm), VI_SUCCESS); }
    void TearDown() override { viClose(m_rm); }

    // A timed call: its status, and a failure when it overran.
    template <typename Fn>
    ViStatus Timed(const char* pWhat, ViUInt32 nTimeoutMs, Fn fn) {
        const auto tpStart = Clock::now();
        const ViStatus status = fn();
        const auto elapsed = Clock::now() - tpStart;
        m_lastMs = Ms(elapsed);
        EXPECT_LT(elapsed, std::chrono::milliseconds(nTimeoutMs) + kMargin)
            << pWhat << " took " << m_lastMs << " ms";
        return status;
    }

    // Writes "ECHO? n" and reads the reply: the read's status, or the
    // write's when it failed. A success carries exactly "n\n".
    ViStatus Query(ViSession vi, int nValue, std::string* pReply = nullptr) {
        const std::string strQuery = "ECHO? " + std::to_string(nValue) + "\n";
        ViUInt32 nCount = 0;
        const ViStatus written = Timed("viWrite", kTimeoutMs, [&] {
            return viWrite(vi, reinterpret_cast<ViConstBuf>(strQuery.data()),
                           static_cast<ViUInt32>(strQuery.size()), &nCount);
        });
        if (written < VI_SUCCESS) {
            return written;
        }
        std::vector<ViByte> vecReply(64 * 1024);
        const ViStatus status = Timed("viRead", kTimeoutMs, [&] {
            return viRead(vi, vecReply.data(), static_cast<ViUInt32>(vecReply.size()), &nCount);
        });
        const std::string strReply(reinterpret_cast<const char*>(vecReply.data()), nCount);
        if (status == VI_SUCCESS) {
            EXPECT_EQ(strReply, std::to_string(nValue) + "\n") << "the answer to another question";
        }
        if (pReply != nullptr) {
            *pReply = strReply;
        }
        return status;
    }

    ViStatus Run(ViSession vi, Call eCall, int nValue) {
        switch (eCall) {
            case Call::Query:
                return Query(vi, nValue);
            case Call::ReadStb: {
                ViUInt16 nStb = 0;
                const ViStatus status =
                    Timed("viReadSTB", kTimeoutMs, [&] { return viReadSTB(vi, &nStb); });
                if (status >= VI_SUCCESS) {
                    EXPECT_EQ(nStb, 0x10);
                }
                return status;
            }
            case Call::Clear:
                return Timed("viClear", kTimeoutMs, [&] { return viClear(vi); });
            case Call::Lock: {
                const ViStatus status = Timed("viLock", kTimeoutMs, [&] {
                    return viLock(vi, VI_EXCLUSIVE_LOCK, kTimeoutMs, VI_NULL, VI_NULL);
                });
                if (status >= VI_SUCCESS) {
                    EXPECT_EQ(viUnlock(vi), VI_SUCCESS);
                }
                return status;
            }
        }
        return VI_ERROR_SYSTEM_ERROR;
    }

    // Every kind of call works and answers its own question.
    void ExpectWorking(ViSession vi) {
        int nValue = 4200;
        for (const Call eCall :
             {Call::Query, Call::ReadStb, Call::Lock, Call::Clear, Call::Query}) {
            SCOPED_TRACE(NameOf(eCall));
            EXPECT_EQ(Run(vi, eCall, ++nValue), VI_SUCCESS);
        }
    }

    // Every kind of call reports the lost connection, in time, twice over.
    void ExpectLostOnEveryCall(ViSession vi) {
        for (int nRound = 0; nRound < 2; ++nRound) {
            for (const Call eCall : {Call::Query, Call::ReadStb, Call::Clear, Call::Lock}) {
                SCOPED_TRACE(NameOf(eCall));
                EXPECT_EQ(Run(vi, eCall, 4343), static_cast<ViStatus>(VI_ERROR_CONN_LOST));
            }
            ViByte achByte[4];
            ViUInt32 nCount = 0;
            EXPECT_EQ(Timed("viRead", kTimeoutMs,
                            [&] { return viRead(vi, achByte, sizeof achByte, &nCount); }),
                      static_cast<ViStatus>(VI_ERROR_CONN_LOST));
            EXPECT_EQ(Timed("viAssertTrigger", kTimeoutMs,
                            [&] { return viAssertTrigger(vi, VI_TRIG_PROT_DEFAULT); }),
                      static_cast<ViStatus>(VI_ERROR_CONN_LOST));
        }
    }

    ViSession Open(HostileHislipServer& server) {
        ViSession vi = VI_NULL;
        EXPECT_EQ(viOpen(m_rm, server.Resource().c_str(), VI_NULL, kOpenTimeoutMs, &vi),
                  VI_SUCCESS);
        if (vi != VI_NULL) {
            EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, kTimeoutMs), VI_SUCCESS);
        }
        return vi;
    }

    ViSession m_rm = VI_NULL;
    long long m_lastMs = 0;
};

struct FaultRow {
    const char* pName;
    std::function<void(HostileHislipServer&)> arm;
    Call eCall;
    ViStatus nStatus;
    Afterwards eAfterwards;
    // What the client told the server ("FatalError/1", "Error/3"), if anything.
    const char* pComplaint = nullptr;
    // Time for the fault to play out before the session is used again.
    int nSettleMs = 0;
    // A device clear first, for a reply that never ends.
    bool bClearFirst = false;
};

std::function<void(HostileHislipServer&)> Reply(ReplyFault eFault, std::uint64_t nLength = 0,
                                                int nMs = 0) {
    return [=](HostileHislipServer& server) { server.ArmReply(eFault, nLength, nMs); };
}

std::function<void(HostileHislipServer&)> Respond(ResponseFault eFault, int nMs = 0) {
    return [=](HostileHislipServer& server) { server.ArmResponse(eFault, nMs); };
}

TEST_F(HislipFaultMatrix, EveryFaultGivesItsStatusInTimeAndLeavesAWorkingOrLostSession) {
    constexpr ViStatus kLost = VI_ERROR_CONN_LOST;
    constexpr ViStatus kTmo = VI_ERROR_TMO;
    const FaultRow rows[] = {
        // Lengths the client never asked for.
        {"DataEND length 2^63", Reply(ReplyFault::LengthLie, std::uint64_t{1} << 63), Call::Query,
         kLost, Afterwards::Lost, "FatalError/1"},
        {"DataEND length 2^64-1", Reply(ReplyFault::LengthLie, ~std::uint64_t{0}), Call::Query,
         kLost, Afterwards::Lost, "FatalError/1"},
        {"DataEND one byte above the announced maximum",
         Reply(ReplyFault::LengthLie, kAnnouncedMax + 1), Call::Query, kLost, Afterwards::Lost,
         "FatalError/1"},
        {"DataEND length short of its payload", Reply(ReplyFault::ShortLength), Call::Query, kLost,
         Afterwards::Lost, "FatalError/1"},
        {"control message with a payload", Reply(ReplyFault::ControlPayload), Call::Query, kLost,
         Afterwards::Lost, "FatalError/1"},
        {"header without the prologue", Reply(ReplyFault::BadPrologue), Call::Query, kLost,
         Afterwards::Lost, "FatalError/1"},
        {"status response with a payload", Respond(ResponseFault::WithPayload), Call::ReadStb,
         kLost, Afterwards::Lost, "FatalError/1"},
        {"status response length 2^63", Respond(ResponseFault::HugeLength), Call::ReadStb, kLost,
         Afterwards::Lost, "FatalError/1"},
        // Types the client does not know, or on the wrong channel.
        {"unknown message type before the reply", Reply(ReplyFault::UnknownType), Call::Query,
         VI_SUCCESS, Afterwards::Works, "Error/1"},
        {"vendor-defined message before the reply", Reply(ReplyFault::VendorType), Call::Query,
         VI_SUCCESS, Afterwards::Works, "Error/3"},
        {"asynchronous response on the synchronous channel", Reply(ReplyFault::WrongType),
         Call::Query, kLost, Afterwards::Lost, "FatalError/0"},
        {"reply on the asynchronous channel", Reply(ReplyFault::OnAsyncChannel), Call::Query, kLost,
         Afterwards::Lost, "FatalError/0"},
        {"DataEND on the asynchronous channel", Respond(ResponseFault::DataOnAsync), Call::ReadStb,
         kLost, Afterwards::Lost, "FatalError/0"},
        // Message ids.
        {"reply to an older message first", Reply(ReplyFault::StaleThenRight), Call::Query,
         VI_SUCCESS, Afterwards::Works},
        {"reply repeated", Reply(ReplyFault::Repeated), Call::Query, VI_SUCCESS, Afterwards::Works},
        {"reply repeated with the unknown id", Reply(ReplyFault::RepeatedUnknown), Call::Query,
         VI_SUCCESS, Afterwards::Works, nullptr, 50},
        {"reply with an id not sent yet", Reply(ReplyFault::FutureId), Call::Query, kTmo,
         Afterwards::Works},
        {"stale replies arriving without end", Reply(ReplyFault::StaleForever, 0, 1000),
         Call::Query, kTmo, Afterwards::Works, nullptr, 1000},
        {"Data and DataEND of one reply with different ids", Reply(ReplyFault::Interleaved),
         Call::Query, kLost, Afterwards::Lost, "FatalError/0"},
        // Time.
        {"reply dripping within the timeout", Reply(ReplyFault::Drip, 0, 5), Call::Query,
         VI_SUCCESS, Afterwards::Works},
        {"reply dripping past the timeout", Reply(ReplyFault::Drip, 0, 30), Call::Query, kTmo,
         Afterwards::Works, nullptr, 700},
        {"empty Data without DataEND, endlessly", Reply(ReplyFault::EmptyDataFlood, 0, 1000),
         Call::Query, kTmo, Afterwards::Works, nullptr, 1000},
        {"Data without DataEND, endlessly", Reply(ReplyFault::DataFlood, 0, 1000), Call::Query,
         VI_SUCCESS_MAX_CNT, Afterwards::Works, nullptr, 1100, true},
        {"no reply", Reply(ReplyFault::Silent), Call::Query, kTmo, Afterwards::Works},
        {"silent asynchronous channel at a status query", Respond(ResponseFault::SilentOnce),
         Call::ReadStb, kTmo, Afterwards::Works},
        {"silent asynchronous channel at a device clear", Respond(ResponseFault::SilentOnce),
         Call::Clear, kTmo, Afterwards::Works},
        {"silent asynchronous channel at a lock", Respond(ResponseFault::SilentOnce), Call::Lock,
         kTmo, Afterwards::Works},
        {"status response after the timeout", Respond(ResponseFault::Late, 500), Call::ReadStb,
         kTmo, Afterwards::Works, nullptr, 400},
        {"status response repeated", Respond(ResponseFault::Duplicate), Call::ReadStb, VI_SUCCESS,
         Afterwards::Works, nullptr, 50},
        {"status response dripping past the timeout", Respond(ResponseFault::Drip, 30),
         Call::ReadStb, kTmo, Afterwards::Works, nullptr, 300},
        {"service requests instead of the response", Respond(ResponseFault::ServiceFlood, 1000),
         Call::ReadStb, kTmo, Afterwards::Works, nullptr, 1000},
        // Hang-ups.
        {"synchronous channel hangs up", Reply(ReplyFault::HangUpSync), Call::Query, kLost,
         Afterwards::Lost},
        {"asynchronous channel hangs up during a query", Reply(ReplyFault::HangUpAsync),
         Call::Query, kLost, Afterwards::Lost},
        {"asynchronous channel hangs up at a status query", Respond(ResponseFault::HangUp),
         Call::ReadStb, kLost, Afterwards::Lost},
    };
    const long nResidentBefore = MaxResidentKb();
    int nValue = 1000;
    for (const FaultRow& row : rows) {
        SCOPED_TRACE(row.pName);
        HostileHislipServer server;
        const ViSession vi = Open(server);
        ASSERT_NE(vi, VI_NULL);
        ++nValue;
        row.arm(server);
        const ViStatus status = Run(vi, row.eCall, nValue);
        EXPECT_EQ(status, row.nStatus);
        // One line per row, for the summary in the reliability notes.
        std::printf("[ hislip   ] %-52s 0x%08X %5lld ms (timeout %u ms)\n", row.pName,
                    static_cast<unsigned>(status), m_lastMs, static_cast<unsigned>(kTimeoutMs));
        std::this_thread::sleep_for(std::chrono::milliseconds(row.nSettleMs));
        if (row.eAfterwards == Afterwards::Lost) {
            ExpectLostOnEveryCall(vi);
        } else {
            if (row.bClearFirst) {
                EXPECT_EQ(Run(vi, Call::Clear, 0), VI_SUCCESS);
            }
            ExpectWorking(vi);
        }
        EXPECT_EQ(viClose(vi), VI_SUCCESS);
        // The server saw exactly the complaint expected, once the client left.
        EXPECT_TRUE(server.WaitIdle(2s));
        const std::vector<std::string> vecComplaints = server.Complaints();
        if (row.pComplaint != nullptr) {
            EXPECT_EQ(vecComplaints, std::vector<std::string>{row.pComplaint});
        } else {
            EXPECT_TRUE(vecComplaints.empty()) << vecComplaints.front();
        }
    }
    // Lengths of 2^63 and floods of data left no trace in memory.
    EXPECT_LT(MaxResidentKb() - nResidentBefore, 64 * 1024);
}

TEST_F(HislipFaultMatrix, OpeningFailsInTimeOnEveryBrokenHandshake) {
    const struct {
        const char* pName;
        OpenFault eFault;
        ViStatus nStatus;
    } rows[] = {
        {"silent server", OpenFault::SilentInitialize, VI_ERROR_TMO},
        {"Initialize answered with version 0.0", OpenFault::VersionZero, VI_ERROR_RSRC_NFOUND},
        {"Initialize answered with version 2.0", OpenFault::VersionTwo, VI_ERROR_RSRC_NFOUND},
        {"InitializeResponse with a payload", OpenFault::InitializeWithPayload,
         VI_ERROR_RSRC_NFOUND},
        {"asynchronous channel refused", OpenFault::RefusedAsync, VI_ERROR_RSRC_NFOUND},
        {"silent asynchronous channel", OpenFault::SilentAsyncInitialize, VI_ERROR_TMO},
        {"size negotiation never answered", OpenFault::SilentMaximumSize, VI_ERROR_TMO},
        {"size response of 4 bytes", OpenFault::ShortMaximumSize, VI_ERROR_RSRC_NFOUND},
        {"InitializeResponse dripping past the open timeout", OpenFault::DripInitialize,
         VI_ERROR_TMO},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pName);
        HostileHislipServer server(row.eFault);
        ViSession vi = 99;
        const ViStatus status = Timed("viOpen", kOpenTimeoutMs, [&] {
            return viOpen(m_rm, server.Resource().c_str(), VI_NULL, kOpenTimeoutMs, &vi);
        });
        EXPECT_EQ(status, row.nStatus);
        EXPECT_EQ(vi, VI_NULL);
        std::printf("[ hislip   ] open: %-46s 0x%08X %5lld ms (open timeout %u ms)\n", row.pName,
                    static_cast<unsigned>(status), m_lastMs, static_cast<unsigned>(kOpenTimeoutMs));
        EXPECT_TRUE(server.WaitIdle(2s)) << "the client closed both channels";
    }
}

TEST_F(HislipFaultMatrix, HugeMaximumSizeOfTheServerSendsAWriteInOneMessage) {
    HostileHislipServer server(OpenFault::HugeMaximumSize);
    const ViSession vi = Open(server);
    ASSERT_NE(vi, VI_NULL);
    ExpectWorking(vi);
    const std::size_t nBefore = server.DataMessages();
    const std::string strDigits(200000, '5');
    const std::string strQuery = "ECHO? " + strDigits + "\n";
    ViUInt32 nCount = 0;
    EXPECT_EQ(viWrite(vi, reinterpret_cast<ViConstBuf>(strQuery.data()),
                      static_cast<ViUInt32>(strQuery.size()), &nCount),
              VI_SUCCESS);
    EXPECT_EQ(nCount, strQuery.size());
    std::vector<ViByte> vecReply(256 * 1024);
    EXPECT_EQ(viRead(vi, vecReply.data(), static_cast<ViUInt32>(vecReply.size()), &nCount),
              VI_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(vecReply.data()), nCount),
              strDigits + "\n");
    EXPECT_EQ(server.DataMessages() - nBefore, 1u);
    viClose(vi);
}

}  // namespace
