#include <gtest/gtest.h>

#include "IviConfigServer.h"

#include <cstring>
#include <string>

#include "TestSession.h"
#include "runtime/errors/StatusMessages.h"
#include "visa.h"

namespace {

TEST(ErrorMessage, TableCodesAndWarningsAreAnswered) {
    struct Case {
        ViStatus nCode;
        const char* pExpected;
    } cases[] = {
        {0, "Success."},
        {static_cast<ViStatus>(0x3FFA0066), "Reset is not supported by this instrument."},
        {static_cast<ViStatus>(0xBFFA0001),
         "Instrument error detected.  Use ErrorQuery() to determine the error(s)."},
        {static_cast<ViStatus>(0xBFFA0011),
         "Does not support this class-compliant feature: function '%s'"},
        {static_cast<ViStatus>(0xBFFA0013),
         "Does not support this class-compliant feature:  Enumeration value '%s' passed as the "
         "value for parameter '%s' in function '%s'."},
        {static_cast<ViStatus>(0xBFFA0066), "The repeated capability selector is badly-formed."},
        {static_cast<ViStatus>(0xBFFA4215), "I/O timeout error."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pExpected);
        ViChar buffer[256] = "untouched";
        EXPECT_EQ(TARVEK_error_message(VI_NULL, c.nCode, buffer), VI_SUCCESS);
        EXPECT_STREQ(buffer, c.pExpected);
    }
}

// Lookups bisect the table, so its codes must rise strictly (as signed
// values); every message must fit the caller's 256-character buffer.
TEST(ErrorMessage, TableIsOrderedByCodeAndEveryMessageFitsTheBuffer) {
    const auto table = drt::StatusMessageTable();
    ASSERT_FALSE(table.empty());
    for (std::size_t nIndex = 0; nIndex < table.size(); ++nIndex) {
        SCOPED_TRACE(table[nIndex].pMessage);
        EXPECT_LT(std::strlen(table[nIndex].pMessage), 256u);
        if (nIndex > 0) {
            EXPECT_LT(table[nIndex - 1].nCode, table[nIndex].nCode);
        }
    }
}

TEST(ErrorMessage, VisaCodesAreAnsweredInVisasWords) {
    struct Case {
        ViStatus nCode;
        const char* pExpected;
    } cases[] = {
        {VI_ERROR_TMO, "VI_ERROR_TMO: "},
        {VI_ERROR_RSRC_NFOUND, "VI_ERROR_RSRC_NFOUND: "},
        {VI_ERROR_CONN_LOST, "VI_ERROR_CONN_LOST: "},
        {VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME: "},
        {VI_SUCCESS_TERM_CHAR, "VI_SUCCESS_TERM_CHAR: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pExpected);
        for (const bool bSession : {false, true}) {
            SimulatedSession session;
            ViChar buffer[256] = "untouched";
            ViChar visa[256] = {};
            ASSERT_EQ(viStatusDesc(VI_NULL, c.nCode, visa), VI_SUCCESS);
            EXPECT_EQ(TARVEK_error_message(bSession ? session.Handle() : VI_NULL, c.nCode, buffer),
                      VI_SUCCESS);
            EXPECT_STREQ(buffer, visa);
            EXPECT_EQ(std::string(buffer).rfind(c.pExpected, 0), 0u) << buffer;
        }
    }
}

TEST(ErrorMessage, ConfigurationStoreCodesAreAnsweredInTheStoresWords) {
    const ViStatus codes[] = {
        IVICONFIG_ERROR_DESERIALIZE_FAILED, IVICONFIG_ERROR_SESSION_NOT_FOUND,
        IVICONFIG_ERROR_NOT_FOUND,          IVICONFIG_ERROR_DATA_COMPONENT_NOT_FOUND,
        IVICONFIG_ERROR_INVALID_HANDLE,     IVICONFIG_ERROR_INVALID_PROPERTY_ID,
        IVICONFIG_ERROR_INVALID_INDEX,      IVICONFIG_ERROR_TYPE_MISMATCH,
        IVICONFIG_ERROR_NULL_POINTER,       IVICONFIG_ERROR_INVALID_PARAMETER,
        IVICONFIG_ERROR_NO_REFERENCE,       IVICONFIG_ERROR_OUT_OF_MEMORY};
    for (const ViStatus nCode : codes) {
        SCOPED_TRACE(nCode);
        ViChar buffer[256] = {};
        EXPECT_EQ(TARVEK_error_message(VI_NULL, nCode, buffer), VI_SUCCESS);
        EXPECT_STREQ(buffer, IviConfig_StatusDescription(nCode));
        EXPECT_NE(std::string(buffer).find("onfiguration store"), std::string::npos) << buffer;
    }
}

TEST(ErrorMessage, UndefinedCodeWithoutSessionLeavesBufferAlone) {
    ViChar buffer[256] = "untouched";
    TARVEK_ClearError(VI_NULL);
    EXPECT_EQ(TARVEK_error_message(VI_NULL, static_cast<ViStatus>(0xBFFC0123), buffer),
              IVI_ERROR_INVALID_VALUE);
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_EQ(LastError(VI_NULL).nCode, VI_SUCCESS);
}

TEST(ErrorMessage, UndefinedCodeWithSessionIsRecorded) {
    SimulatedSession session;
    ViChar buffer[256] = "untouched";
    EXPECT_EQ(TARVEK_error_message(session.Handle(), static_cast<ViStatus>(0xBFFC0123), buffer),
              IVI_ERROR_INVALID_VALUE);
    EXPECT_STREQ(buffer, "untouched");
    const RecordedError error = LastError(session.Handle());
    EXPECT_EQ(error.nCode, IVI_ERROR_INVALID_VALUE);
    EXPECT_EQ(error.strText,
              "Invalid value '-1074003677' for function 'error_message', parameter 'ErrorCode'.  "
              "The error code supplied is not defined by the driver or VISA.");
}

TEST(ErrorMessage, NullBufferIsReported) {
    SimulatedSession session;
    EXPECT_EQ(TARVEK_error_message(session.Handle(), 0, nullptr), IVI_ERROR_NULL_POINTER);
    EXPECT_EQ(LastError(session.Handle()).strText,
              "Null pointer passed for function 'TARVEK_error_message', parameter 'ErrorMessage'.");
}

TEST(SetSessionError, ElaborationAndArgumentsFormTheText) {
    SimulatedSession session;
    const ViSession vi = session.Handle();
    struct Case {
        ViStatus nStatus;
        const char* pElaboration;
        std::initializer_list<std::string_view> args;
        const char* pExpected;
    } cases[] = {
        {IVI_ERROR_ID_QUERY_FAILED,
         "Unrecognized model: %s",
         {"63%s%d 100%"},
         "Instrument ID query failed.  Unrecognized model: 63%s%d 100%"},
        {IVI_ERROR_UNEXPECTED_RESPONSE, "", {}, "Unexpected response from instrument."},
        {IVI_ERROR_BAD_OPTION_NAME,
         "",
         {"speed"},
         "The 'speed' name in the option string is unknown."},
        {IVI_ERROR_INVALID_VALUE, "", {"1"}, "Invalid value '1' for function '', parameter ''."},
        {IVI_ERROR_CANNOT_RECOVER, "100%% sure: %q", {}, "Failure cannot recover.  100% sure: %q"},
        {static_cast<ViStatus>(0x12345), "free text", {}, "  free text"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pExpected);
        EXPECT_EQ(drt::SetSessionError(vi, c.nStatus, c.pElaboration, c.args), c.nStatus);
        const RecordedError error = LastError(vi);
        EXPECT_EQ(error.nCode, c.nStatus);
        EXPECT_EQ(error.strText, c.pExpected);
    }
}

TEST(SetSessionError, LongTextIsCutSafely) {
    SimulatedSession session;
    const std::string strLong(5000, 'x');
    drt::SetSessionError(session.Handle(), IVI_ERROR_ID_QUERY_FAILED, "Unrecognized model: %s",
                         {strLong});
    const RecordedError error = LastError(session.Handle());
    EXPECT_EQ(error.strText.size(), drt::kMaxErrorText);
    EXPECT_EQ(error.strText.rfind("Instrument ID query failed.  Unrecognized model: xxx", 0), 0u);
}

TEST(SetSessionError, RecordingOnAStaleHandleReportsTheRecordingFailure) {
    SimulatedSession session;
    const ViSession vi = session.Close();
    EXPECT_EQ(drt::SetSessionError(vi, IVI_ERROR_UNEXPECTED_RESPONSE, {}),
              IVI_ERROR_INVALID_SESSION_HANDLE);
}

TEST(CheckNullPointers, NamesTheOffendingParameter) {
    SimulatedSession session;
    const ViSession vi = session.Handle();
    int nValue = 0;
    struct Case {
        const void* pFirst;
        const void* pSecond;
        const char* pNames;
        ViStatus nExpected;
        const char* pParameter;
    } cases[] = {
        {&nValue, &nValue, "Voltage, Current", VI_SUCCESS, nullptr},
        {nullptr, &nValue, "Voltage, Current", IVI_ERROR_NULL_POINTER, "Voltage"},
        {&nValue, nullptr, " Voltage ,\tCurrent\r\n", IVI_ERROR_NULL_POINTER, "Current"},
        {nullptr, nullptr, "Voltage, Current", IVI_ERROR_NULL_POINTER, "Voltage"},
        {&nValue, nullptr, "OnlyOne", IVI_ERROR_NULL_POINTER, "<unknown parameter>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pNames);
        TARVEK_ClearError(vi);
        EXPECT_EQ(drt::CheckNullPointers(vi, " TARVEK_Measure\t", c.pNames, c.pFirst, c.pSecond),
                  c.nExpected);
        if (c.pParameter != nullptr) {
            EXPECT_EQ(
                LastError(vi).strText,
                std::string("Null pointer passed for function 'TARVEK_Measure', parameter '") +
                    c.pParameter + "'.");
        }
    }
}

}  // namespace
