#include <gtest/gtest.h>

#include <string>

#include "TestSession.h"
#include "runtime/session/CallFrame.h"

namespace {

struct Options {
    bool bCache, bInterchange, bQuery, bRange, bRecord, bSimulate;
};
constexpr Options kDefaultsSimulated{true, false, false, true, false, true};

struct OptionCase {
    const char* pOptions;
    ViStatus nStatus;
    Options expected;    // checked when nStatus is success
    const char* pModel;  // checked when nStatus is success
    const char* pDriverSetup;
    const char* pErrorText;  // checked when nStatus is an error
};

const OptionCase kOptionCases[] = {
    {"Simulate=1,RangeCheck=0",
     VI_SUCCESS,
     {true, false, false, false, false, true},
     "6310",
     "",
     ""},
    {"simulate = VI_TRUE ; cache=False",
     VI_SUCCESS,
     {false, false, false, true, false, true},
     "6310",
     "",
     ""},
    {"SIMULATE=true,QueryInstrStatus=1,RecordCoercions=vi_true",
     VI_SUCCESS,
     {true, false, true, true, true, true},
     "6310",
     "",
     ""},
    {"Simulate=1, DriverSetup=Model:6510, Extra=abc", VI_SUCCESS, kDefaultsSimulated, "6510",
     "Model:6510, Extra=abc", ""},
    {"Simulate=1,DriverSetup= Model = 6512  ", VI_SUCCESS, kDefaultsSimulated, "6512  ",
     " Model = 6512  ", ""},
    {"Simulate=1,DriverSetup=Model=6310\nCache=0", VI_SUCCESS, kDefaultsSimulated, "6310",
     "Model=6310", ""},
    {"Simulate=1 DriverSetup=", VI_SUCCESS, kDefaultsSimulated, "6310", "", ""},
    {"Simulate=true, simulate=false",
     IVI_ERROR_CANNOT_RECOVER,
     {},
     "",
     "",
     "Failure cannot recover.  Inherent option 'simulate' appears more than once."},
    {"Simulate=1,Speed=1",
     IVI_ERROR_BAD_OPTION_NAME,
     {},
     "",
     "",
     "The 'speed' name in the option string is unknown."},
    {"Simulate=Yes",
     IVI_ERROR_BAD_OPTION_VALUE,
     {},
     "",
     "",
     "The 'yes' value in the option string is unknown."},
    {"Simulate=1,InterchangeCheck=1",
     IVI_ERROR_BAD_OPTION_VALUE,
     {},
     "",
     "",
     "The 'True' value in the option string is unknown.  Interchange checking is not supported by "
     "the driver."},
    {"Simulate=1,DriverSetup=Model=6310,model=6510",
     IVI_ERROR_CANNOT_RECOVER,
     {},
     "",
     "",
     "Failure cannot recover.  DriverSetup option 'model' appears more than once."},
    {"Simulate=1,Cache=%s%n%d", VI_SUCCESS, kDefaultsSimulated, "6310", "", ""},
    {"Simulate=1,Cache=1%s=x",
     IVI_ERROR_BAD_OPTION_NAME,
     {},
     "",
     "",
     "The 's' name in the option string is unknown."},
};

TEST(OptionString, GrammarAndPrecedence) {
    for (const OptionCase& c : kOptionCases) {
        SCOPED_TRACE(c.pOptions);
        ViSession vi = 12345;
        const ViStatus status = TARVEK_InitWithOptions(
            const_cast<ViChar*>("TCPIP::127.0.0.1::1::SOCKET"), VI_TRUE, VI_FALSE, c.pOptions, &vi);
        EXPECT_EQ(status, c.nStatus);
        if (c.nStatus < 0) {
            EXPECT_EQ(vi, VI_NULL);
            const RecordedError error = LastError(VI_NULL);
            EXPECT_EQ(error.nCode, c.nStatus);
            EXPECT_EQ(error.strText, c.pErrorText);
            continue;
        }
        ASSERT_NE(vi, VI_NULL);
        drt::DriverSession* pSession = nullptr;
        ASSERT_EQ(drt::FetchSession(vi, pSession), VI_SUCCESS);
        EXPECT_EQ(pSession->GetCache(), c.expected.bCache);
        EXPECT_EQ(pSession->GetInterchangeCheck(), c.expected.bInterchange);
        EXPECT_EQ(pSession->GetQueryInstrStatus(), c.expected.bQuery);
        EXPECT_EQ(pSession->GetRangeCheck(), c.expected.bRange);
        EXPECT_EQ(pSession->GetRecordCoercions(), c.expected.bRecord);
        EXPECT_EQ(pSession->GetSimulate(), c.expected.bSimulate);
        EXPECT_EQ(pSession->GetInitialRangeCheck(), c.expected.bRange);
        EXPECT_EQ(pSession->GetInstrumentModel(), c.pModel);
        EXPECT_EQ(pSession->GetDriverSetup(), c.pDriverSetup);
        EXPECT_EQ(pSession->GetIoResourceDescriptor(), "TCPIP::127.0.0.1::1::SOCKET");
        EXPECT_EQ(pSession->GetLogicalName(), "");
        EXPECT_EQ(pSession->GetInstrumentHandle(), VI_NULL) << "simulation opens no VISA session";
        EXPECT_EQ(TARVEK_close(vi), VI_SUCCESS);
    }
}

TEST(OptionString, HostileTextsFailCleanly) {
    const std::string strLongName(200000, 'a');
    const std::string strLongBlanks = "Simulate=1," + std::string(200000, ' ') + "cache=1";
    const std::string strControl = std::string("Simulate=1,\x01\x02\x7f,cache=0\x1b[0m");
    struct Case {
        std::string strOptions;
        ViStatus nStatus;
    } cases[] = {
        {strLongName + "=1", IVI_ERROR_BAD_OPTION_NAME},
        {strLongBlanks, VI_SUCCESS},
        {strControl, VI_SUCCESS},
        {"Simulate=1,DriverSetup=", VI_SUCCESS},
        {"Simulate=1,DriverSetup=" + std::string(100000, ','), VI_SUCCESS},
        {"Simulate=1,DriverSetup=Model:" + std::string(100000, '6'), VI_SUCCESS},
        {"Simulate=1,=,=,==,,", VI_SUCCESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.strOptions.substr(0, 40));
        ViSession vi = VI_NULL;
        const ViStatus status = TARVEK_InitWithOptions(const_cast<ViChar*>(""), VI_FALSE, VI_FALSE,
                                                       c.strOptions.c_str(), &vi);
        EXPECT_EQ(status, c.nStatus);
        if (vi != VI_NULL) {
            EXPECT_EQ(TARVEK_close(vi), VI_SUCCESS);
        }
    }
}

TEST(OptionString, NullArgumentsAreTreatedAsEmpty) {
    EXPECT_EQ(TARVEK_InitWithOptions(nullptr, VI_TRUE, VI_TRUE, "Simulate=1", nullptr),
              IVI_ERROR_NULL_POINTER);
    ViSession vi = VI_NULL;
    ASSERT_EQ(TARVEK_InitWithOptions(nullptr, VI_FALSE, VI_FALSE, "Simulate=1", &vi), VI_SUCCESS);
    EXPECT_EQ(TARVEK_close(vi), VI_SUCCESS);
    // Without simulation an empty resource cannot be opened; the failure is
    // explained on the calling thread's record.
    EXPECT_LT(TARVEK_InitWithOptions(const_cast<ViChar*>("ASRL99::INSTR"), VI_FALSE, VI_FALSE,
                                     nullptr, &vi),
              0);
    EXPECT_EQ(vi, VI_NULL);
}

TEST(Simulation, IdQueryChecksTheConfiguredModel) {
    struct Case {
        const char* pOptions;
        ViBoolean bIdQuery;
        ViStatus nStatus;
    } cases[] = {
        {"Simulate=1", VI_TRUE, VI_SUCCESS},
        {"Simulate=1,DriverSetup=Model=6510", VI_TRUE, VI_SUCCESS},
        {"Simulate=1,DriverSetup=Model=TK6310", VI_TRUE, IVI_ERROR_ID_QUERY_FAILED},
        {"Simulate=1,DriverSetup=Model=TK6310", 2, VI_SUCCESS},
        {"Simulate=1,DriverSetup=Model=TK6310", VI_FALSE, VI_SUCCESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pOptions);
        ViSession vi = VI_NULL;
        EXPECT_EQ(
            TARVEK_InitWithOptions(const_cast<ViChar*>(""), c.bIdQuery, VI_FALSE, c.pOptions, &vi),
            c.nStatus);
        if (c.nStatus < 0) {
            EXPECT_EQ(LastError(VI_NULL).strText,
                      "Instrument ID query failed.  Unrecognized model: TK6310");
        }
        if (vi != VI_NULL) {
            TARVEK_close(vi);
        }
    }
}

TEST(Simulation, InherentFunctionsAnswerWithoutIo) {
    SimulatedSession session("Simulate=1");
    const ViSession vi = session.Handle();
    EXPECT_EQ(TARVEK_reset(vi), VI_SUCCESS);
    EXPECT_EQ(TARVEK_ResetWithDefaults(vi), VI_SUCCESS);
    EXPECT_EQ(TARVEK_Disable(vi), VI_SUCCESS);
    EXPECT_EQ(TARVEK_SetOperationComplete(vi), VI_SUCCESS);
    EXPECT_EQ(TARVEK_WaitForOperationComplete(vi), VI_SUCCESS);
    EXPECT_EQ(TARVEK_WaitToContinue(vi), VI_SUCCESS);
    ViInt32 nCode = -1;
    ViChar message[256];
    EXPECT_EQ(TARVEK_error_query(vi, &nCode, message), VI_SUCCESS);
    EXPECT_EQ(nCode, 0);
    EXPECT_STREQ(message, "No error.");
    EXPECT_EQ(TARVEK_error_query(vi, &nCode, nullptr), IVI_ERROR_NULL_POINTER);
    EXPECT_EQ(LastError(vi).strText,
              "Null pointer passed for function 'TARVEK_error_query', parameter 'ErrorMessage'.");
    ViByte buffer[16] = {};
    ViInt64 nCount = -1;
    EXPECT_EQ(TARVEK_viWrite(vi, 4, reinterpret_cast<ViConstBuf>("*CLS"), &nCount),
              static_cast<ViStatus>(0xBFFA4214));
    EXPECT_EQ(LastError(vi).strText,
              "I/O error.  Direct I/O operations are not available in simulation mode.");
    EXPECT_EQ(TARVEK_viRead(vi, sizeof buffer, buffer, nullptr), static_cast<ViStatus>(0xBFFA4214));
    EXPECT_EQ(nCount, -1);
}

TEST(Simulation, ResetWithReadsTheResetArgument) {
    ViSession vi = VI_NULL;
    EXPECT_EQ(TARVEK_InitWithOptions(const_cast<ViChar*>(""), VI_FALSE, 5, "Simulate=1", &vi),
              VI_SUCCESS);
    EXPECT_NE(vi, VI_NULL);
    EXPECT_EQ(TARVEK_close(vi), VI_SUCCESS);
}

}  // namespace

namespace {

TEST(Interchange, CoercionRecordsAreAlwaysEmpty) {
    SimulatedSession session;
    const ViSession vi = session.Handle();
    EXPECT_EQ(TARVEK_GetNextCoercionRecord(vi, 0, nullptr), 1);
    ViChar buffer[256] = "untouched";
    EXPECT_EQ(TARVEK_GetNextCoercionRecord(vi, sizeof buffer, buffer), VI_SUCCESS);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(TARVEK_GetNextCoercionRecord(vi, 10, nullptr), IVI_ERROR_NULL_POINTER);
    EXPECT_EQ(
        LastError(vi).strText,
        "Null pointer passed for function 'GetNextCoercionRecord', parameter 'CoercionRecord'.");
}

TEST(Interchange, WarningFunctionsAreNotSupported) {
    SimulatedSession session;
    const ViSession vi = session.Handle();
    ViChar buffer[64] = "untouched";
    struct Case {
        const char* pName;
        ViStatus nStatus;
    } cases[] = {
        {"GetNextInterchangeWarning", TARVEK_GetNextInterchangeWarning(vi, sizeof buffer, buffer)},
        {"ClearInterchangeWarnings", TARVEK_ClearInterchangeWarnings(vi)},
        {"ResetInterchangeCheck", TARVEK_ResetInterchangeCheck(vi)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pName);
        EXPECT_EQ(c.nStatus, IVI_ERROR_FUNCTION_NOT_SUPPORTED);
    }
    EXPECT_EQ(LastError(vi).strText,
              "Does not support this class-compliant feature: function 'ResetInterchangeCheck'");
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_EQ(TARVEK_ResetInterchangeCheck(0), IVI_ERROR_INVALID_SESSION_HANDLE);
}

}  // namespace
