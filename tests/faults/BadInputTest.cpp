// Hostile and careless arguments at the C API, on a live session: each gets a
// clear status (with text where the driver records one), sends nothing it
// should not, and leaves the session working.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Emulator.h"
#include "LiveSession.h"
#include "TARVEK.h"
#include "visa.h"

namespace {

using tarvektest::RecordedText;

using Clock = std::chrono::steady_clock;
constexpr std::size_t kMegabyte = 1 << 20;

class BadInput : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(m_live.Open("QueryInstrStatus=1"), VI_SUCCESS);
        m_vi = m_live.vi();
        ASSERT_EQ(TARVEK_ConfigureVoltageLevel(m_vi, "CH1", 2.0), VI_SUCCESS);
        m_pEmulator->ClearLines();
    }

    // The session still talks to the instrument, and the cached voltage is
    // the one the instrument confirmed.
    void ExpectWorking() {
        ViReal64 dValue = 0;
        EXPECT_EQ(TARVEK_GetAttributeViReal64(m_vi, "CH1", TARVEK_ATTR_VOLTAGE_LEVEL, &dValue),
                  VI_SUCCESS);
        EXPECT_DOUBLE_EQ(dValue, 2.0);
        EXPECT_DOUBLE_EQ(m_pEmulator->Snapshot().Output(0).dVoltageSetpoint, 2.0);
        ViChar model[256] = {};
        EXPECT_EQ(TARVEK_GetAttributeViString(m_vi, "", TARVEK_ATTR_INSTRUMENT_MODEL, sizeof model,
                                              model),
                  VI_SUCCESS);
        EXPECT_STREQ(model, "6313");
    }

    tarvektest::LiveSession m_live;  // closes the session at the end
    emu::Emulator* m_pEmulator = &m_live.Emulator();
    std::string m_strResource = m_live.Resource();
    ViSession m_vi = VI_NULL;
};

struct BadCall {
    const char* pName;
    std::function<ViStatus(ViSession)> call;
    ViStatus nStatus;
    const char* pText;  // the recorded error text starts with this; null: none checked
};

TEST_F(BadInput, RefusedArgumentsGiveAStatusAndTextAndSendNothing) {
    const ViReal64 dNan = std::numeric_limits<ViReal64>::quiet_NaN();
    const ViReal64 dInf = std::numeric_limits<ViReal64>::infinity();
    const std::string strHugeSelector(kMegabyte, 'C');
    const std::string strHugeList = "CH1," + std::string(kMegabyte, ',') + "CH2";
    const BadCall calls[] = {
        {"null real output",
         [](ViSession vi) {
             return TARVEK_GetAttributeViReal64(vi, "CH1", TARVEK_ATTR_VOLTAGE_LEVEL, nullptr);
         },
         IVI_ERROR_NULL_POINTER, "Null pointer"},
        {"null measurement output",
         [](ViSession vi) {
             return TARVEK_Measure(vi, "CH1", TARVEK_VAL_MEASURE_VOLTAGE, nullptr);
         },
         IVI_ERROR_NULL_POINTER, "Null pointer"},
        {"null error-query outputs",
         [](ViSession vi) { return TARVEK_error_query(vi, nullptr, nullptr); },
         IVI_ERROR_NULL_POINTER, "Null pointer"},
        {"null direct-write buffer",
         [](ViSession vi) {
             ViInt64 nCount = 0;
             return TARVEK_viWrite(vi, 6, nullptr, &nCount);
         },
         VI_ERROR_USER_BUF, nullptr},
        {"null direct-read buffer",
         [](ViSession vi) {
             ViInt64 nCount = 0;
             return TARVEK_viRead(vi, 16, nullptr, &nCount);
         },
         VI_ERROR_USER_BUF, nullptr},
        {"NaN voltage",
         [dNan](ViSession vi) { return TARVEK_ConfigureVoltageLevel(vi, "CH1", dNan); },
         IVI_ERROR_INVALID_VALUE, "Invalid value"},
        {"infinite voltage",
         [dInf](ViSession vi) { return TARVEK_ConfigureVoltageLevel(vi, "CH1", dInf); },
         IVI_ERROR_INVALID_VALUE, "Invalid value"},
        {"minus infinite current",
         [dInf](ViSession vi) {
             return TARVEK_SetAttributeViReal64(vi, "CH1", TARVEK_ATTR_CURRENT_LIMIT, -dInf);
         },
         IVI_ERROR_INVALID_VALUE, "Invalid value"},
        {"NaN over-voltage level",
         [dNan](ViSession vi) {
             return TARVEK_SetAttributeViReal64(vi, "CH1", TARVEK_ATTR_OVP_LIMIT, dNan);
         },
         IVI_ERROR_INVALID_VALUE, "Invalid value"},
        {"1 MB selector",
         [&](ViSession vi) {
             return TARVEK_ConfigureVoltageLevel(vi, strHugeSelector.c_str(), 1.0);
         },
         IVI_ERROR_UNKNOWN_PHYSICAL_IDENTIFIER, "Unknown physical repeated capability selector."},
        {"1 MB selector list",
         [&](ViSession vi) { return TARVEK_ConfigureVoltageLevel(vi, strHugeList.c_str(), 1.0); },
         IVI_ERROR_BADLY_FORMED_SELECTOR, "The repeated capability selector is badly-formed."},
        {"channel index out of range",
         [](ViSession vi) {
             ViChar name[16];
             return TARVEK_GetChannelName(vi, 99, sizeof name, name);
         },
         IVI_ERROR_INVALID_VALUE, "Invalid value"},
    };
    for (const BadCall& c : calls) {
        SCOPED_TRACE(c.pName);
        TARVEK_ClearError(m_vi);
        m_pEmulator->ClearLines();
        const auto tpStart = Clock::now();
        EXPECT_EQ(c.call(m_vi), c.nStatus);
        EXPECT_LT(Clock::now() - tpStart, std::chrono::seconds(2));
        if (c.pText != nullptr) {
            EXPECT_EQ(RecordedText(m_vi).rfind(c.pText, 0), 0u) << RecordedText(m_vi);
        }
        // At most the channel selection a function makes first: never the value.
        for (const std::string& strLine : m_pEmulator->Lines()) {
            EXPECT_TRUE(strLine == "INST:SEL 0" || strLine == "*ESR?") << strLine;
        }
    }
    ExpectWorking();
}

TEST_F(BadInput, NonFiniteRealsNeverReachTheInstrument) {
    const ViReal64 dNan = std::numeric_limits<ViReal64>::quiet_NaN();
    const ViReal64 dInf = std::numeric_limits<ViReal64>::infinity();
    using RealCall = std::function<ViStatus(ViSession, ViReal64)>;
    struct Case {
        const char* pName;
        RealCall call;
        // Functions that only validate or compute (the output range, the
        // maximum current for a voltage) send nothing and may pass.
        bool bRefused;
    };
    const Case cases[] = {
        {"ConfigureOVP",
         [](ViSession vi, ViReal64 d) { return TARVEK_ConfigureOVP(vi, "CH1", VI_TRUE, d); }, true},
        {"ConfigureCurrentLimit",
         [](ViSession vi, ViReal64 d) {
             return TARVEK_ConfigureCurrentLimit(vi, "CH2", TARVEK_VAL_CURRENT_REGULATE, d);
         },
         true},
        {"SetVoltageSlewRate",
         [](ViSession vi, ViReal64 d) { return TARVEK_SetVoltageSlewRate(vi, d); }, true},
        {"SetStepVoltage", [](ViSession vi, ViReal64 d) { return TARVEK_SetStepVoltage(vi, d); },
         true},
        {"SetListDwell", [](ViSession vi, ViReal64 d) { return TARVEK_SetListDwell(vi, d); }, true},
        {"ConfigureOutputRange",
         [](ViSession vi, ViReal64 d) { return TARVEK_ConfigureOutputRange(vi, "CH1", 0, d); },
         false},
        {"QueryMaxCurrentLimit",
         [](ViSession vi, ViReal64 d) {
             ViReal64 dMax = 0;
             return TARVEK_QueryMaxCurrentLimit(vi, "CH1", d, &dMax);
         },
         false},
    };
    for (const Case& c : cases) {
        for (const ViReal64 dValue : {dNan, dInf, -dInf}) {
            SCOPED_TRACE(std::string(c.pName) + " " + std::to_string(dValue));
            m_pEmulator->ClearLines();
            const ViStatus status = c.call(m_vi, dValue);
            if (c.bRefused) {
                EXPECT_EQ(status, IVI_ERROR_INVALID_VALUE);
            }
            // Queries and channel selections may go out; the value never does.
            for (const std::string& strLine : m_pEmulator->Lines()) {
                EXPECT_EQ(strLine.find("nan"), std::string::npos) << strLine;
                EXPECT_EQ(strLine.find("inf"), std::string::npos) << strLine;
            }
        }
    }
    ExpectWorking();
}

TEST_F(BadInput, DirectIoCountsVisaCannotTakeAreRefusedBeforeAnyIo) {
    // VISA counts are 32 bits and unsigned: a negative count, or one past
    // 0xFFFFFFFF, would reach VISA as another count (-1 as 4 GB, 2^32 + 6 as 6).
    constexpr ViInt64 kWrapsToSix = (ViInt64{1} << 32) + 6;
    const ViInt64 counts[] = {kWrapsToSix, ViInt64{1} << 40, -1,
                              std::numeric_limits<ViInt64>::min()};
    const char command[] = "*IDN?\n";
    for (const ViInt64 nCount : counts) {
        SCOPED_TRACE(nCount);
        m_pEmulator->ClearLines();
        TARVEK_ClearError(m_vi);
        ViInt64 nWritten = 99;
        EXPECT_EQ(TARVEK_viWrite(m_vi, nCount, reinterpret_cast<ViConstBuf>(command), &nWritten),
                  IVI_ERROR_INVALID_VALUE);
        EXPECT_EQ(nWritten, 99) << "a refused call leaves the count alone";
        EXPECT_EQ(RecordedText(m_vi),
                  "Invalid value '" + std::to_string(nCount) +
                      "' for function 'TARVEK_viWrite', parameter 'BufferSize'.  The count must "
                      "be from 0 to 4294967295 (0xFFFFFFFF), the most one VISA transfer takes.");
        EXPECT_FALSE(m_pEmulator->WaitForLines(1, std::chrono::milliseconds(50)))
            << "nothing reached the instrument";
    }
    // A reply waits; a refused read leaves it, and the caller's buffer, alone.
    ViInt64 nWritten = 0;
    ASSERT_EQ(TARVEK_viWrite(m_vi, 6, reinterpret_cast<ViConstBuf>(command), &nWritten),
              VI_SUCCESS);
    ASSERT_TRUE(m_pEmulator->WaitForLines(1, std::chrono::seconds(2)));
    for (const ViInt64 nCount : counts) {
        SCOPED_TRACE(nCount);
        TARVEK_ClearError(m_vi);
        ViByte buffer[256];
        std::memset(buffer, 'Z', sizeof buffer);
        ViInt64 nRead = 99;
        EXPECT_EQ(TARVEK_viRead(m_vi, nCount, buffer, &nRead), IVI_ERROR_INVALID_VALUE);
        EXPECT_EQ(nRead, 99) << "a refused call leaves the count alone";
        EXPECT_EQ(std::count(std::begin(buffer), std::end(buffer), 'Z'),
                  static_cast<std::ptrdiff_t>(sizeof buffer))
            << "the caller's buffer is untouched";
        EXPECT_NE(RecordedText(m_vi).find("for function 'TARVEK_viRead', parameter 'BufferSize'"),
                  std::string::npos)
            << RecordedText(m_vi);
    }
    ViByte reply[256] = {};
    ViInt64 nRead = 0;
    EXPECT_EQ(TARVEK_viRead(m_vi, sizeof reply, reply, &nRead), VI_SUCCESS_TERM_CHAR);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), static_cast<std::size_t>(nRead))
                  .rfind("Norvale,6313", 0),
              0u)
        << "the waiting reply is still the next one read";
    ExpectWorking();
}

TEST_F(BadInput, TextsThatWouldEndOrAddACommandNeverReachTheInstrument) {
    using TextSetter = std::function<ViStatus(ViSession, ViConstString)>;
    const auto byId = [](ViAttr nId) {
        return [nId](ViSession vi, ViConstString pValue) {
            return TARVEK_SetAttributeViString(vi, "", nId, pValue);
        };
    };
    const std::pair<const char*, TextSetter> setters[] = {
        {"SetSystemDate", TARVEK_SetSystemDate},
        {"SetSystemTime", TARVEK_SetSystemTime},
        {"SetTimerRun", TARVEK_SetTimerRun},
        {"SetBatteryTestFailSafeTime", TARVEK_SetBatteryTestFailSafeTime},
        {"SYSTEM_DATE by id", byId(TARVEK_ATTR_SYSTEM_DATE)},
        {"SYSTEM_TIME by id", byId(TARVEK_ATTR_SYSTEM_TIME)},
        {"TIMER_RUN by id", byId(TARVEK_ATTR_TIMER_RUN)},
        {"BATTERY_TEST_FAIL_SAFE_TIME by id", byId(TARVEK_ATTR_BATTERY_TEST_FAIL_SAFE_TIME)},
    };
    struct Payload {
        const char* pValue;
        const char* pReason;  // part of the recorded text
    } payloads[] = {
        {"2024,1,1;:OUTP:STAT 1", "Value contains ';' (0x3B), which would end the command; "},
        {"1;*RST", "Value contains ';' (0x3B), which would end the command; "},
        {"1\n:OUTP:STAT 1", "Value contains a line feed (0x0A), which would end the command; "},
        {"1\r\n:OUTP:STAT 1",
         "Value contains a carriage return (0x0D), which would end the command; "},
        {"1\x1b", "Value contains a control character (0x1B), which a command cannot carry; "},
        {"1\x7f", "Value contains a control character (0x7F), which a command cannot carry; "},
        {"1\xc3\xa9", "Value contains a byte outside ASCII (0xC3), which a command cannot carry; "},
        {"1 OUTP:STAT 1", "Value contains 'O' (0x4F), which TARVEK_ATTR_"},
        {"\"1\"", "Value contains '\"' (0x22), which TARVEK_ATTR_"},
        {"#15abcde", "Value contains '#' (0x23), which TARVEK_ATTR_"},
    };
    for (const auto& [pSetter, set] : setters) {
        for (const Payload& payload : payloads) {
            SCOPED_TRACE(std::string(pSetter) + " " + payload.pReason);
            TARVEK_ClearError(m_vi);
            m_pEmulator->ClearLines();
            EXPECT_EQ(set(m_vi, payload.pValue), IVI_ERROR_INVALID_VALUE);
            const std::string strText = RecordedText(m_vi);
            EXPECT_EQ(strText.rfind("Invalid value '", 0), 0u) << strText;
            EXPECT_NE(strText.find(payload.pReason), std::string::npos) << strText;
            EXPECT_EQ(strText.find('\n'), std::string::npos) << "the value is shown escaped";
            EXPECT_FALSE(m_pEmulator->WaitForLines(1, std::chrono::milliseconds(20)))
                << "sent: " << m_pEmulator->Lines().front();
        }
    }
    for (int nChannel = 0; nChannel < 3; ++nChannel) {
        EXPECT_FALSE(m_pEmulator->Snapshot().Output(nChannel).bOutputEnabled)
            << "CH" << nChannel + 1;
    }
    // Values in each attribute's grammar still go out as they are.
    const std::tuple<const char*, TextSetter, const char*> accepted[] = {
        {"date", TARVEK_SetSystemDate, "SYST:DATE 2026,12,6"},
        {"time", TARVEK_SetSystemTime, "SYST:TIME 10:20:30.5"},
        {"timer", TARVEK_SetTimerRun, "OUTP:TIM:COUN 1.5E+1"},
    };
    for (const auto& [pName, set, pLine] : accepted) {
        SCOPED_TRACE(pName);
        m_pEmulator->ClearLines();
        const std::string strLine = pLine;
        EXPECT_EQ(set(m_vi, strLine.substr(strLine.find(' ') + 1).c_str()), VI_SUCCESS)
            << RecordedText(m_vi);
        EXPECT_EQ(m_pEmulator->Lines(), (std::vector<std::string>{strLine, "*ESR?"}));
    }
    ExpectWorking();
}

TEST_F(BadInput, ShortStringBuffersAreFilledAsFarAsTheyGoAndTellTheSize) {
    // A positive 4096 says the value may not have fitted and 4096 bytes are
    // enough; a value that fills the buffer exactly looks like a truncated one.
    struct Case {
        ViInt32 nSize;
        bool bBuffer;
        ViStatus nStatus;
        const char* pExpected;
    } cases[] = {
        {0, false, 4096, nullptr},  // a size query: no buffer needed
        {1, true, 4096, ""},       {3, true, 4096, "63"},
        {5, true, 4096, "6313"},   {6, true, VI_SUCCESS, "6313"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nSize);
        char buffer[16];
        std::memset(buffer, 'Z', sizeof buffer);
        EXPECT_EQ(TARVEK_GetAttributeViString(m_vi, "", TARVEK_ATTR_INSTRUMENT_MODEL, c.nSize,
                                              c.bBuffer ? buffer : nullptr),
                  c.nStatus);
        if (c.pExpected != nullptr) {
            EXPECT_STREQ(buffer, c.pExpected);
            EXPECT_EQ(buffer[c.nSize], 'Z') << "nothing written past the size";
        }
    }
    // The error text and channel names follow the same rule.
    EXPECT_EQ(TARVEK_ConfigureVoltageLevel(m_vi, "CH9", 1.0),
              IVI_ERROR_UNKNOWN_PHYSICAL_IDENTIFIER);
    ViStatus nCode = 0;
    const ViStatus nErrorSize = TARVEK_GetError(m_vi, &nCode, 0, nullptr);
    EXPECT_GT(nErrorSize, 1);
    char small[4] = {'Z', 'Z', 'Z', 'Z'};
    EXPECT_EQ(TARVEK_GetError(m_vi, &nCode, 3, small), nErrorSize);
    EXPECT_EQ(std::strlen(small), 2u);
    EXPECT_EQ(small[3], 'Z');
    char name[8];
    std::memset(name, 'Z', sizeof name);
    // A channel name is truncated without a size in the status.
    EXPECT_EQ(TARVEK_GetChannelName(m_vi, 1, 0, nullptr), IVI_ERROR_NULL_POINTER);
    EXPECT_EQ(TARVEK_GetChannelName(m_vi, 1, 2, name), VI_SUCCESS);
    EXPECT_STREQ(name, "C");
    EXPECT_EQ(name[2], 'Z');
    ExpectWorking();
}

TEST_F(BadInput, InvalidAndClosedHandlesAreRefusedEverywhere) {
    ViSession closed = VI_NULL;
    ASSERT_EQ(TARVEK_InitWithOptions(m_strResource.data(), VI_FALSE, VI_FALSE, "", &closed),
              VI_SUCCESS);
    ASSERT_EQ(TARVEK_close(closed), VI_SUCCESS);
    m_pEmulator->ClearLines();
    const std::vector<std::pair<const char*, std::function<ViStatus(ViSession)>>> calls = {
        {"read",
         [](ViSession vi) {
             ViReal64 d = 0;
             return TARVEK_GetAttributeViReal64(vi, "CH1", TARVEK_ATTR_VOLTAGE_LEVEL, &d);
         }},
        {"write", [](ViSession vi) { return TARVEK_ConfigureVoltageLevel(vi, "CH1", 1.0); }},
        {"reset", [](ViSession vi) { return TARVEK_reset(vi); }},
        {"error query",
         [](ViSession vi) {
             ViInt32 nCode = 0;
             ViChar message[256];
             return TARVEK_error_query(vi, &nCode, message);
         }},
        {"direct write",
         [](ViSession vi) {
             ViInt64 nCount = 0;
             return TARVEK_viWrite(vi, 6, reinterpret_cast<ViConstBuf>("*IDN?\n"), &nCount);
         }},
        {"lock", [](ViSession vi) { return TARVEK_LockSession(vi, nullptr); }},
        {"invalidate", [](ViSession vi) { return TARVEK_InvalidateAllAttributes(vi); }},
        {"close", [](ViSession vi) { return TARVEK_close(vi); }},
    };
    const ViSession handles[] = {VI_NULL, closed, 0x7FFFFFFF, m_vi + 1000};
    for (const ViSession vi : handles) {
        SCOPED_TRACE(vi);
        for (const auto& [pName, call] : calls) {
            SCOPED_TRACE(pName);
            EXPECT_EQ(call(vi), IVI_ERROR_INVALID_SESSION_HANDLE);
        }
    }
    EXPECT_EQ(m_pEmulator->Lines(), std::vector<std::string>{});
    ExpectWorking();
}

TEST(BadInputOpen, HugeAndMissingArgumentsFailQuicklyWithoutASession) {
    const std::string strHugeResource = "TCPIP::" + std::string(kMegabyte, 'h') + "::5025::SOCKET";
    const std::string strHugeOptions = "Simulate=1, " + std::string(kMegabyte, 'Q') + "=1";
    const std::string strHugeSetup =
        "Simulate=1, DriverSetup=Model:6313, " + std::string(kMegabyte, 'k') + ":1";
    struct Case {
        const char* pName;
        const char* pResource;
        const char* pOptions;
        bool bHandle;
        ViStatus nStatus;
    } cases[] = {
        // One label of a megabyte: the resolver refuses it without a query.
        {"1 MB resource name", strHugeResource.c_str(), "", true, VI_ERROR_RSRC_NFOUND},
        {"1 MB option name", "", strHugeOptions.c_str(), true, IVI_ERROR_BAD_OPTION_NAME},
        {"null resource name", nullptr, "", true, VI_ERROR_INV_RSRC_NAME},
        // Read as no options: the open goes on to a port where nothing listens.
        {"null option string", "TCPIP::127.0.0.1::1::SOCKET", nullptr, true, VI_ERROR_RSRC_NFOUND},
        {"null handle output", "", "Simulate=1", false, IVI_ERROR_NULL_POINTER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pName);
        ViSession vi = 99;
        const auto tpStart = Clock::now();
        const ViStatus status =
            TARVEK_InitWithOptions(const_cast<ViChar*>(c.pResource), VI_TRUE, VI_FALSE,
                                   const_cast<ViChar*>(c.pOptions), c.bHandle ? &vi : nullptr);
        EXPECT_LT(Clock::now() - tpStart, std::chrono::seconds(3));
        EXPECT_EQ(status, c.nStatus);
        if (c.bHandle) {
            EXPECT_EQ(vi, VI_NULL);
        }
        if (status >= 0 && c.bHandle) {
            TARVEK_close(vi);
        }
    }
    // A huge DriverSetup is data, not an error: it opens and keeps its model.
    ViSession vi = VI_NULL;
    ASSERT_EQ(TARVEK_InitWithOptions(const_cast<ViChar*>(""), VI_TRUE, VI_FALSE,
                                     const_cast<ViChar*>(strHugeSetup.c_str()), &vi),
              VI_SUCCESS);
    ViChar model[64] = {};
    EXPECT_EQ(
        TARVEK_GetAttributeViString(vi, "", TARVEK_ATTR_INSTRUMENT_MODEL, sizeof model, model),
        VI_SUCCESS);
    EXPECT_STREQ(model, "6313");
    EXPECT_EQ(TARVEK_close(vi), VI_SUCCESS);
}

}  // namespace
