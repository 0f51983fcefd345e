// Faults of the instrument and of the link, live over loopback: the emulator
// as the instrument, its own fault injection for what a real instrument
// answers wrongly, and a proxy in between for what a broken link does to the
// bytes. Every row checks the status and its text, the time the call took,
// that the session afterwards either works (and answers the question asked,
// not an earlier one) or reports the lost connection on every call, and that
// no cached value stands in for an answer the instrument did not give.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"
#include "FaultProxy.h"
#include "LiveSession.h"
#include "TARVEK.h"
#include "visa.h"

namespace {

using tarvektest::RecordedText;

using faulttest::FaultProxy;
using faulttest::LinkFault;
using Clock = std::chrono::steady_clock;

constexpr char kVoltageQuery[] = "SOUR:VOLT:LEV:IMM:AMPL?";
constexpr ViUInt32 kTimeoutMs = 300;
// A call may overrun its timeout by this much (the bound asserted is generous
// for a loaded shared machine; a wrong deadline overruns by seconds).
constexpr auto kSlack = std::chrono::milliseconds(200);

bool IsDriverStatus(ViStatus status) {
    return (static_cast<ViUInt32>(status) & 0xFFFF0000u) == 0xBFFA0000u;
}

// The text a caller finds for a status: the driver names its own codes, VISA
// describes the codes that come from VISA.
std::string StatusText(ViSession vi, ViStatus status) {
    ViChar message[256] = {};
    if (IsDriverStatus(status)) {
        EXPECT_EQ(TARVEK_error_message(vi, status, message), VI_SUCCESS);
    } else {
        EXPECT_EQ(viStatusDesc(VI_NULL, status, message), VI_SUCCESS);
    }
    return message;
}

enum class Afterwards { Works, Lost };
enum class Operation { ReadVoltage, WriteVoltage, StatusCheck };

class FaultMatrix : public ::testing::Test {
  protected:
    void SetUp() override {
        emu::EmulatorOptions options;
        options.strModel = "6313";
        m_pEmulator = std::make_unique<emu::Emulator>(options);
        m_pEmulator->Start();
        m_pProxy = std::make_unique<FaultProxy>(m_pEmulator->Port());
        ASSERT_TRUE(m_pProxy->Listening());
    }
    void TearDown() override { Close(); }

    void Open(ViUInt32 nTimeoutMs) {
        std::string strResource = m_pProxy->Resource();
        ASSERT_EQ(TARVEK_InitWithOptions(strResource.data(), VI_TRUE, VI_FALSE,
                                         "QueryInstrStatus=1, Cache=1", &m_vi),
                  VI_SUCCESS);
        ViSession io = VI_NULL;
        ASSERT_EQ(TARVEK_GetAttributeViSession(m_vi, "", TARVEK_ATTR_SYSTEM_IO_SESSION, &io),
                  VI_SUCCESS);
        ASSERT_EQ(viSetAttribute(io, VI_ATTR_TMO_VALUE, nTimeoutMs), VI_SUCCESS);
    }
    void Close() {
        if (m_vi != VI_NULL) {
            EXPECT_EQ(TARVEK_close(m_vi), VI_SUCCESS);
            m_vi = VI_NULL;
        }
    }

    ViStatus Run(Operation eOperation, ViReal64& dValue) {
        switch (eOperation) {
            case Operation::ReadVoltage:
                return TARVEK_GetAttributeViReal64(m_vi, "CH1", TARVEK_ATTR_VOLTAGE_LEVEL, &dValue);
            case Operation::WriteVoltage:
                return TARVEK_ConfigureVoltageLevel(m_vi, "CH1", dValue);
            case Operation::StatusCheck:
                return TARVEK_SetOperationComplete(m_vi);
        }
        return VI_ERROR_SYSTEM_ERROR;
    }

    // Every kind of call fails on a lost connection, within its timeout.
    void ExpectLostOnEveryCall(ViUInt32 nTimeoutMs) {
        const std::vector<std::pair<const char*, std::function<ViStatus()>>> calls = {
            // First a call that only writes: the loss was seen by the failed
            // read, and a write must not pretend it reached the instrument.
            {"direct write",
             [&] {
                 const char command[] = "*IDN?\n";
                 ViInt64 nCount = 0;
                 return TARVEK_viWrite(m_vi, 6, reinterpret_cast<ViConstBuf>(command), &nCount);
             }},
            {"read",
             [&] {
                 ViReal64 d = 0;
                 return TARVEK_GetAttributeViReal64(m_vi, "CH1", TARVEK_ATTR_VOLTAGE_LEVEL, &d);
             }},
            {"write", [&] { return TARVEK_ConfigureVoltageLevel(m_vi, "CH1", 4.5); }},
            {"command", [&] { return TARVEK_WaitToContinue(m_vi); }},
            {"measure",
             [&] {
                 ViReal64 d = 0;
                 return TARVEK_Measure(m_vi, "CH1", TARVEK_VAL_MEASURE_VOLTAGE, &d);
             }},
            {"error query",
             [&] {
                 ViInt32 nCode = 0;
                 ViChar message[256];
                 return TARVEK_error_query(m_vi, &nCode, message);
             }},
        };
        for (int nRound = 0; nRound < 2; ++nRound) {
            for (const auto& [pName, call] : calls) {
                SCOPED_TRACE(pName);
                const auto tpStart = Clock::now();
                EXPECT_EQ(call(), static_cast<ViStatus>(VI_ERROR_CONN_LOST));
                EXPECT_LT(Clock::now() - tpStart, std::chrono::milliseconds(nTimeoutMs) + kSlack);
            }
        }
    }

    // The session answers each question with its own answer: values set
    // through the driver come back from the instrument, not from a stale
    // reply or the cache.
    void ExpectWorking() {
        for (const ViReal64 dVolts : {3.25, 4.5}) {
            SCOPED_TRACE(dVolts);
            ASSERT_EQ(TARVEK_ConfigureVoltageLevel(m_vi, "CH1", dVolts), VI_SUCCESS)
                << RecordedText(m_vi);
            EXPECT_DOUBLE_EQ(m_pEmulator->Snapshot().Output(0).dVoltageSetpoint, dVolts);
            ASSERT_EQ(TARVEK_InvalidateAllAttributes(m_vi), VI_SUCCESS);
            ViReal64 dRead = 0;
            ASSERT_EQ(TARVEK_GetAttributeViReal64(m_vi, "CH1", TARVEK_ATTR_VOLTAGE_LEVEL, &dRead),
                      VI_SUCCESS)
                << RecordedText(m_vi);
            EXPECT_DOUBLE_EQ(dRead, dVolts);
        }
        ViInt32 nCode = 1;
        ViChar message[256] = {};
        m_pEmulator->ClearLines();
        EXPECT_EQ(TARVEK_error_query(m_vi, &nCode, message), VI_SUCCESS);
        EXPECT_EQ(m_pEmulator->Lines(), (std::vector<std::string>{":SYST:ERR?"}));
    }

    std::unique_ptr<emu::Emulator> m_pEmulator;
    std::unique_ptr<FaultProxy> m_pProxy;
    ViSession m_vi = VI_NULL;
};

struct FaultCase {
    const char* pName;
    std::function<void(emu::Emulator&, FaultProxy&)> inject;
    Operation eOperation;
    ViStatus nStatus;
    const char* pStatusText;  // part of TARVEK_error_message's text for the status
    Afterwards eAfterwards;
    ViUInt32 nTimeoutMs = kTimeoutMs;
    // Time for the fault to play out (a reply still dripping in) before the
    // session is used again.
    int nSettleMs = 0;
};

TEST_F(FaultMatrix, EveryFaultGivesAClearErrorInTimeAndLosesNothing) {
    const auto link = [](LinkFault eFault, int nSkip = 0) {
        return [eFault, nSkip](emu::Emulator&, FaultProxy& proxy) {
            proxy.Arm(eFault, kVoltageQuery, nSkip);
        };
    };
    const auto esrLink = [](LinkFault eFault) {
        // The status check after the voltage command (the one after the
        // channel selection comes first).
        return [eFault](emu::Emulator&, FaultProxy& proxy) { proxy.Arm(eFault, "*ESR?", 1); };
    };
    const FaultCase cases[] = {
        {"peer closes mid-reply", link(LinkFault::CloseMidReply), Operation::ReadVoltage,
         VI_ERROR_CONN_LOST, "CONN_LOST", Afterwards::Lost},
        {"peer closes mid-reply of the status check", esrLink(LinkFault::CloseMidReply),
         Operation::WriteVoltage, VI_ERROR_CONN_LOST, "CONN_LOST", Afterwards::Lost},
        {"peer never answers", link(LinkFault::Swallow), Operation::ReadVoltage, VI_ERROR_TMO,
         "Timeout expired", Afterwards::Works},
        {"peer never answers the status check",
         [](emu::Emulator& instrument, FaultProxy&) { instrument.SetNoReply("*ESR?"); },
         Operation::WriteVoltage, VI_ERROR_TMO, "Timeout expired", Afterwards::Works},
        {"reply without terminator", link(LinkFault::NoTerminator), Operation::ReadVoltage,
         VI_ERROR_TMO, "Timeout expired", Afterwards::Works},
        {"garbage where a number is expected",
         [](emu::Emulator& instrument, FaultProxy&) { instrument.SetGarbledReply(kVoltageQuery); },
         Operation::ReadVoltage, VI_ERROR_INV_FMT, "does not match", Afterwards::Works},
        {"text where a number is expected",
         [](emu::Emulator& instrument, FaultProxy&) {
             instrument.SetFixedReply(kVoltageQuery, "VOLTAGE");
         },
         Operation::ReadVoltage, VI_ERROR_INV_FMT, "does not match", Afterwards::Works},
        {"1 MB reply",
         [](emu::Emulator& instrument, FaultProxy&) {
             instrument.SetOversizedReply(kVoltageQuery, 1 << 20);
         },
         Operation::ReadVoltage, IVI_ERROR_UNEXPECTED_RESPONSE, "Unexpected response",
         Afterwards::Works, 2000},
        {"reply dripping in within the timeout", link(LinkFault::Drip), Operation::ReadVoltage,
         VI_SUCCESS, "VI_SUCCESS", Afterwards::Works},
        {"reply dripping past the timeout",
         [](emu::Emulator& instrument, FaultProxy& proxy) {
             // 80 bytes at 5 ms each outlast the timeout.
             instrument.SetFixedReply(kVoltageQuery, "+2." + std::string(72, '0') + "E+00");
             proxy.Arm(LinkFault::Drip, kVoltageQuery);
         },
         Operation::ReadVoltage, VI_ERROR_TMO, "Timeout expired", Afterwards::Works, kTimeoutMs,
         250},
        {"connection reset", link(LinkFault::Reset), Operation::ReadVoltage, VI_ERROR_CONN_LOST,
         "CONN_LOST", Afterwards::Lost},
        {"connection reset at the status check", esrLink(LinkFault::Reset), Operation::WriteVoltage,
         VI_ERROR_CONN_LOST, "CONN_LOST", Afterwards::Lost},
        {"error bits in *ESR?",
         [](emu::Emulator& instrument, FaultProxy&) { instrument.SetStatusBits(0x10); },
         Operation::StatusCheck, IVI_ERROR_INSTRUMENT_STATUS, "Instrument error detected",
         Afterwards::Works},
        {"error bits in *ESR? after a write",
         [](emu::Emulator& instrument, FaultProxy&) { instrument.SetFixedReply("*ESR?", "16"); },
         Operation::WriteVoltage, IVI_ERROR_INSTRUMENT_STATUS, "Instrument error detected",
         Afterwards::Works},
        {"unsolicited bytes before a reply", link(LinkFault::JunkBeforeReply),
         Operation::ReadVoltage, VI_ERROR_INV_FMT, "does not match", Afterwards::Works},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.pName);
        m_pEmulator->ClearFaults();
        Open(c.nTimeoutMs);
        // A confirmed value in the cache, which the faulty call must replace
        // or drop but never keep standing for an unconfirmed one.
        ASSERT_EQ(TARVEK_ConfigureVoltageLevel(m_vi, "CH1", 2.0), VI_SUCCESS);
        if (c.eOperation == Operation::ReadVoltage) {
            ASSERT_EQ(TARVEK_InvalidateAllAttributes(m_vi), VI_SUCCESS);
        }
        c.inject(*m_pEmulator, *m_pProxy);
        ViReal64 dValue = 7.0;
        const auto tpStart = Clock::now();
        const ViStatus status = Run(c.eOperation, dValue);
        const auto elapsed = Clock::now() - tpStart;
        EXPECT_EQ(status, c.nStatus) << RecordedText(m_vi);
        EXPECT_NE(StatusText(m_vi, status).find(c.pStatusText), std::string::npos)
            << StatusText(m_vi, status);
        if (IsDriverStatus(status)) {
            // The driver's own errors carry their text on the session.
            EXPECT_NE(RecordedText(m_vi), "");
        }
        // One line per row, for the summary in the reliability notes.
        std::printf("[ fault    ] %-45s 0x%08X %5lld ms (timeout %u ms)\n", c.pName,
                    static_cast<unsigned>(status),
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()),
                    static_cast<unsigned>(c.nTimeoutMs));
        EXPECT_LT(elapsed, std::chrono::milliseconds(c.nTimeoutMs) + kSlack)
            << std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() << " ms";
        if (c.eOperation == Operation::ReadVoltage) {
            if (status < 0) {
                EXPECT_EQ(dValue, 7.0) << "a failed read leaves the caller's variable alone";
            } else {
                EXPECT_DOUBLE_EQ(dValue, 2.0);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(c.nSettleMs));
        m_pEmulator->ClearFaults();
        if (c.eAfterwards == Afterwards::Lost) {
            ExpectLostOnEveryCall(c.nTimeoutMs);
        } else {
            // The value that failed is not in the cache: the next read asks.
            m_pEmulator->ClearLines();
            ViReal64 dRead = 0;
            EXPECT_EQ(TARVEK_GetAttributeViReal64(m_vi, "CH1", TARVEK_ATTR_VOLTAGE_LEVEL, &dRead),
                      VI_SUCCESS)
                << RecordedText(m_vi);
            EXPECT_DOUBLE_EQ(dRead, m_pEmulator->Snapshot().Output(0).dVoltageSetpoint);
            const std::vector<std::string> vecLines = m_pEmulator->Lines();
            EXPECT_NE(std::find(vecLines.begin(), vecLines.end(), kVoltageQuery), vecLines.end())
                << "answered from the cache";
            ExpectWorking();
        }
        Close();
    }
}

// A port bound on 127.0.0.1 that does not listen: connecting is refused.
class RefusingPort {
  public:
    RefusingPort() {
        m_nFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t nLength = sizeof addr;
        ::bind(m_nFd, reinterpret_cast<sockaddr*>(&addr), nLength);
        ::getsockname(m_nFd, reinterpret_cast<sockaddr*>(&addr), &nLength);
        m_nPort = ntohs(addr.sin_port);
    }
    ~RefusingPort() { ::close(m_nFd); }
    std::uint16_t Port() const { return m_nPort; }

  private:
    int m_nFd = -1;
    std::uint16_t m_nPort = 0;
};

TEST(FaultMatrixOpen, UnreachableInstrumentsFailInTimeWithoutASession) {
    RefusingPort refusing;
    struct Case {
        const char* pName;
        std::string strResource;
    } cases[] = {
        {"connection refused", "TCPIP::127.0.0.1::" + std::to_string(refusing.Port()) + "::SOCKET"},
        // A label longer than 63 characters fails inside the resolver, so the
        // lookup sends nothing to any name server.
        {"unknown host", "TCPIP::tarvek-" + std::string(70, 'x') + ".invalid::5025::SOCKET"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.pName);
        ViSession vi = 99;
        const auto tpStart = Clock::now();
        const ViStatus status =
            TARVEK_InitWithOptions(c.strResource.data(), VI_TRUE, VI_FALSE, "", &vi);
        EXPECT_LT(Clock::now() - tpStart, std::chrono::milliseconds(5000) + kSlack);
        EXPECT_EQ(status, static_cast<ViStatus>(VI_ERROR_RSRC_NFOUND));
        EXPECT_NE(StatusText(VI_NULL, status).find("VI_ERROR_RSRC_NFOUND"), std::string::npos);
        EXPECT_EQ(vi, VI_NULL);
        EXPECT_EQ(TARVEK_close(vi), IVI_ERROR_INVALID_SESSION_HANDLE);
    }
}

TEST(FaultMatrixOpen, InstrumentFailingDuringOpenLeavesNoSession) {
    struct Case {
        const char* pName;
        std::function<void(emu::Emulator&)> inject;
        ViStatus nStatus;
    } cases[] = {
        {"no answer to *IDN?", [](emu::Emulator& instrument) { instrument.SetNoReply("*IDN?"); },
         VI_ERROR_TMO},
        {"connection closed at *IDN?",
         [](emu::Emulator& instrument) { instrument.CloseAfterMessages(0); }, VI_ERROR_CONN_LOST},
        {"garbage identity", [](emu::Emulator& instrument) { instrument.SetGarbledReply("*IDN?"); },
         IVI_ERROR_ID_QUERY_FAILED},
    };
    emu::Emulator instrument;
    instrument.Start();
    std::string strResource = instrument.Resource();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pName);
        instrument.ClearFaults();
        c.inject(instrument);
        ViSession vi = 99;
        const auto tpStart = Clock::now();
        EXPECT_EQ(TARVEK_InitWithOptions(strResource.data(), VI_TRUE, VI_FALSE, "", &vi),
                  c.nStatus);
        // The default VISA timeout of 2000 ms bounds the identity query.
        EXPECT_LT(Clock::now() - tpStart, std::chrono::milliseconds(2000) + kSlack);
        EXPECT_EQ(vi, VI_NULL);
        for (int n = 0; n < 100 && instrument.ConnectionCount() != 0; ++n) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(instrument.ConnectionCount(), 0u) << "the connection is closed";
    }
}

TEST(FaultMatrixOpen, FailedOpenIsExplainedToGetErrorWithoutASession) {
    RefusingPort refusing;
    emu::Emulator instrument;
    instrument.Start();
    const std::string strRefused =
        "TCPIP::127.0.0.1::" + std::to_string(refusing.Port()) + "::SOCKET";
    struct Case {
        const char* pName;
        std::string strResource;
        std::function<void(emu::Emulator&)> inject;
        ViStatus nStatus;
        const char* pTextStart;  // the recorded text starts with this
    } cases[] = {
        {"connection refused", strRefused, nullptr, VI_ERROR_RSRC_NFOUND, "VI_ERROR_RSRC_NFOUND: "},
        {"malformed resource name", "TCPIP::127.0.0.1::notaport::SOCKET", nullptr,
         VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME: "},
        {"no answer to *IDN?", instrument.Resource(),
         [](emu::Emulator& emulator) { emulator.SetNoReply("*IDN?"); }, VI_ERROR_TMO,
         "VI_ERROR_TMO: "},
        {"connection closed at *IDN?", instrument.Resource(),
         [](emu::Emulator& emulator) { emulator.CloseAfterMessages(0); }, VI_ERROR_CONN_LOST,
         "VI_ERROR_CONN_LOST: "},
        {"garbage identity", instrument.Resource(),
         [](emu::Emulator& emulator) { emulator.SetGarbledReply("*IDN?"); },
         IVI_ERROR_ID_QUERY_FAILED, "Instrument ID query failed."},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.pName);
        instrument.ClearFaults();
        if (c.inject) {
            c.inject(instrument);
        }
        ViSession vi = 99;
        ASSERT_EQ(TARVEK_InitWithOptions(c.strResource.data(), VI_TRUE, VI_FALSE, "", &vi),
                  c.nStatus);
        EXPECT_EQ(vi, VI_NULL);
        ViStatus nCode = VI_SUCCESS;
        ViChar text[1024] = {};
        EXPECT_EQ(TARVEK_GetError(VI_NULL, &nCode, sizeof text, text), VI_SUCCESS);
        EXPECT_EQ(nCode, c.nStatus);
        EXPECT_EQ(std::string(text).rfind(c.pTextStart, 0), 0u) << text;
        if (!IsDriverStatus(c.nStatus)) {
            EXPECT_EQ(text, StatusText(VI_NULL, c.nStatus)) << "VISA's own description";
        }
        ViChar message[256] = {};
        EXPECT_EQ(TARVEK_error_message(VI_NULL, c.nStatus, message), VI_SUCCESS);
        EXPECT_EQ(std::string(message).rfind(c.pTextStart, 0), 0u) << message;
    }
}

TEST_F(FaultMatrix, FullErrorQueueIsReadInOrderAndEnds) {
    Open(kTimeoutMs);
    for (int n = 1; n <= 25; ++n) {
        m_pEmulator->PushError(-200 - n, "Execution error " + std::to_string(n));
    }
    EXPECT_EQ(TARVEK_SetOperationComplete(m_vi), IVI_ERROR_INSTRUMENT_STATUS);
    EXPECT_EQ(RecordedText(m_vi),
              "Instrument error detected.  Use ErrorQuery() to determine the error(s).");
    std::vector<ViInt32> vecCodes;
    for (int n = 0; n < 30; ++n) {
        ViInt32 nCode = 1;
        ViChar message[256] = {};
        ASSERT_EQ(TARVEK_error_query(m_vi, &nCode, message), VI_SUCCESS);
        if (nCode == 0) {
            EXPECT_STREQ(message, "No error");
            break;
        }
        vecCodes.push_back(nCode);
    }
    ASSERT_EQ(vecCodes.size(), 20u) << "the instrument keeps 20 entries";
    EXPECT_EQ(vecCodes.front(), -201);
    EXPECT_EQ(vecCodes[18], -219);
    EXPECT_EQ(vecCodes.back(), -350) << "the last entry reports the overflow";
    ExpectWorking();
}

TEST_F(FaultMatrix, FailedWritesLeaveNothingUnconfirmedInTheCache) {
    Open(kTimeoutMs);
    ASSERT_EQ(TARVEK_ConfigureVoltageLevel(m_vi, "CH1", 2.0), VI_SUCCESS);
    struct Case {
        const char* pName;
        std::function<void(emu::Emulator&, FaultProxy&)> inject;
        ViStatus nStatus;
    } cases[] = {
        {"selection reported as a command error",
         [](emu::Emulator& instrument, FaultProxy&) { instrument.SetFixedReply("*ESR?", "32"); },
         IVI_ERROR_INSTRUMENT_STATUS},
        {"status of the selection never answered",
         [](emu::Emulator&, FaultProxy& proxy) { proxy.Arm(LinkFault::Swallow, "*ESR?"); },
         VI_ERROR_TMO},
        {"status of the value never answered",
         [](emu::Emulator&, FaultProxy& proxy) { proxy.Arm(LinkFault::Swallow, "*ESR?", 1); },
         VI_ERROR_TMO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pName);
        // CH1 is selected and 2.0 V is cached for it; a failed write to CH2
        // must not leave CH2 as the cached selection or 3.0 V as its value.
        ASSERT_EQ(TARVEK_ConfigureVoltageLevel(m_vi, "CH1", 2.0), VI_SUCCESS);
        c.inject(*m_pEmulator, *m_pProxy);
        EXPECT_EQ(TARVEK_ConfigureVoltageLevel(m_vi, "CH2", 3.0), c.nStatus);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        m_pEmulator->ClearFaults();
        m_pEmulator->ClearLines();
        ASSERT_EQ(TARVEK_ConfigureVoltageLevel(m_vi, "CH2", 3.0), VI_SUCCESS) << RecordedText(m_vi);
        // The channel is selected again before the value is sent again.
        const std::vector<std::string> vecLines = m_pEmulator->Lines();
        ASSERT_GE(vecLines.size(), 4u);
        EXPECT_EQ(vecLines.front(), "INST:SEL 1");
        EXPECT_EQ(vecLines[vecLines.size() - 2], "SOUR:VOLT:LEV:IMM:AMPL 3");
        EXPECT_DOUBLE_EQ(m_pEmulator->Snapshot().Output(1).dVoltageSetpoint, 3.0);
        // Back to CH1, which must be selected again.
        m_pEmulator->ClearLines();
        ViReal64 dValue = 0;
        EXPECT_EQ(TARVEK_GetAttributeViReal64(m_vi, "CH1", TARVEK_ATTR_VOLTAGE_LEVEL, &dValue),
                  VI_SUCCESS);
        EXPECT_DOUBLE_EQ(dValue, 2.0);
        ASSERT_FALSE(m_pEmulator->Lines().empty());
        EXPECT_EQ(m_pEmulator->Lines().front(), "INST:SEL 0");
        // Reset CH2 for the next row.
        ASSERT_EQ(TARVEK_ConfigureVoltageLevel(m_vi, "CH2", 0.0), VI_SUCCESS);
    }
}

TEST_F(FaultMatrix, BytesNobodyAskedForDoNotAnswerTheNextQuestion) {
    Open(kTimeoutMs);
    ASSERT_EQ(TARVEK_ConfigureVoltageLevel(m_vi, "CH1", 2.0), VI_SUCCESS);
    ASSERT_EQ(TARVEK_InvalidateAllAttributes(m_vi), VI_SUCCESS);
    m_pProxy->SendUnsolicited("+9.900000E+37\n0\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ViReal64 dValue = 0;
    EXPECT_EQ(TARVEK_GetAttributeViReal64(m_vi, "CH1", TARVEK_ATTR_VOLTAGE_LEVEL, &dValue),
              VI_SUCCESS);
    EXPECT_DOUBLE_EQ(dValue, 2.0);
    ExpectWorking();
}

TEST_F(FaultMatrix, MeasurementsRefuseNumbersThatAreNotFinite) {
    Open(kTimeoutMs);
    struct Case {
        const char* pName;
        std::function<void(emu::Emulator&)> inject;
    } cases[] = {
        {"1 MB of digits",
         [](emu::Emulator& instrument) {
             instrument.SetOversizedReply("MEAS:SCAL:VOLT:DC?", 1 << 20);
         }},
        {"NAN",
         [](emu::Emulator& instrument) { instrument.SetFixedReply("MEAS:SCAL:VOLT:DC?", "NAN"); }},
        {"-INF",
         [](emu::Emulator& instrument) { instrument.SetFixedReply("MEAS:SCAL:VOLT:DC?", "-INF"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pName);
        c.inject(*m_pEmulator);
        ViReal64 dValue = 7.0;
        EXPECT_EQ(TARVEK_Measure(m_vi, "CH1", TARVEK_VAL_MEASURE_VOLTAGE, &dValue),
                  IVI_ERROR_UNEXPECTED_RESPONSE);
        EXPECT_EQ(RecordedText(m_vi),
                  "Unexpected response from instrument.  The instrument answered a number that "
                  "is not finite.");
        EXPECT_EQ(dValue, 7.0);
        m_pEmulator->ClearFaults();
        EXPECT_EQ(TARVEK_Measure(m_vi, "CH1", TARVEK_VAL_MEASURE_VOLTAGE, &dValue), VI_SUCCESS);
        EXPECT_TRUE(std::isfinite(dValue));
    }
}

}  // namespace
