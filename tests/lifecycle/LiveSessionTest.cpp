// Sessions against the emulator over a real TCP connection.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"
#include "LiveSession.h"
#include "TestSession.h"
#include "runtime/session/CallFrame.h"
#include "visa.h"

namespace {

using Lines = std::vector<std::string>;

class LiveSession : public ::testing::Test {
  protected:
    void TearDown() override {
        if (m_vi != VI_NULL) {
            TARVEK_close(m_vi);
        }
    }

    ViStatus Open(const char* pOptions = "", ViBoolean bIdQuery = VI_TRUE,
                  ViBoolean bReset = VI_FALSE) {
        m_strResource = m_live.Resource();
        return TARVEK_InitWithOptions(m_strResource.data(), bIdQuery, bReset, pOptions, &m_vi);
    }

    drt::DriverSession& Session() {
        drt::DriverSession* pSession = nullptr;
        EXPECT_EQ(drt::FetchSession(m_vi, pSession), VI_SUCCESS);
        return *pSession;
    }

    ViUInt32 Timeout() {
        ViUInt32 nTimeout = 0;
        EXPECT_EQ(viGetAttribute(Session().GetInstrumentHandle(), VI_ATTR_TMO_VALUE, &nTimeout),
                  VI_SUCCESS);
        return nTimeout;
    }

    bool WaitForConnections(std::size_t nCount) {
        for (int i = 0; i < 200 && m_pEmulator->ConnectionCount() != nCount; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return m_pEmulator->ConnectionCount() == nCount;
    }

    // The tests open, close and reopen sessions themselves, so the fixture
    // keeps its own handle and takes only the emulator from m_live.
    tarvektest::LiveSession m_live;
    emu::Emulator* m_pEmulator = &m_live.Emulator();
    std::string m_strResource;
    ViSession m_vi = VI_NULL;
};

TEST_F(LiveSession, OpensWithDefaultsAndReadsIdentity) {
    ASSERT_EQ(Open("", VI_FALSE), VI_SUCCESS);
    drt::DriverSession& session = Session();
    EXPECT_EQ(m_pEmulator->Lines(), (Lines{"*IDN?"}));
    EXPECT_EQ(session.GetInstrumentManufacturer(), "Norvale");
    EXPECT_EQ(session.GetInstrumentModel(), "6313");
    EXPECT_EQ(session.GetSerialNumber(), "SN000001");
    EXPECT_EQ(session.GetFirmwareRevision(), "1.02");
    EXPECT_EQ(session.GetIoResourceDescriptor(), m_strResource);
    EXPECT_EQ(session.GetLogicalName(), "");
    EXPECT_TRUE(session.GetCache());
    EXPECT_TRUE(session.GetRangeCheck());
    EXPECT_FALSE(session.GetQueryInstrStatus());
    EXPECT_TRUE(session.IsModelInFamily("Series6310"));
    ViBoolean bTermEnabled = VI_FALSE;
    ViChar chTerm = 0;
    viGetAttribute(session.GetInstrumentHandle(), VI_ATTR_TERMCHAR_EN, &bTermEnabled);
    viGetAttribute(session.GetInstrumentHandle(), VI_ATTR_TERMCHAR, &chTerm);
    EXPECT_EQ(bTermEnabled, VI_TRUE) << "socket replies end at a line feed";
    EXPECT_EQ(chTerm, '\n');
}

TEST_F(LiveSession, IdentityFieldsAreKeptAsSent) {
    struct Case {
        const char* pReply;
        const char* pModel;
        bool bInFamily;
        ViStatus nStatus;
        const char* pFirmware;
    } cases[] = {
        {"Norvale,6311,SN1,1.02", "6311", true, VI_SUCCESS, "1.02"},
        {"Norvale, 6311, SN1, 1.02", " 6311", false, VI_SUCCESS, " 1.02"},
        {"Norvale,6511", "6511", true, VI_SUCCESS, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pReply);
        m_pEmulator->SetFixedReply("*IDN?", c.pReply);
        ASSERT_EQ(Open("", VI_TRUE), c.nStatus);
        EXPECT_EQ(Session().GetInstrumentModel(), c.pModel);
        EXPECT_EQ(Session().GetFirmwareRevision(), c.pFirmware);
        EXPECT_EQ(
            Session().IsModelInFamily("Series6310") || Session().IsModelInFamily("Series6510"),
            c.bInFamily);
        EXPECT_EQ(TARVEK_close(m_vi), VI_SUCCESS);
        m_vi = VI_NULL;
    }
}

TEST_F(LiveSession, UnrecognisedModelIsRefusedAndTheConnectionClosed) {
    m_pEmulator->SetFixedReply("*IDN?", "Acme,XT-9,1,2%s");
    EXPECT_EQ(Open("", VI_TRUE), IVI_ERROR_ID_QUERY_FAILED);
    EXPECT_EQ(m_vi, VI_NULL);
    EXPECT_EQ(LastError(VI_NULL).strText, "Instrument ID query failed.  Unrecognized model: XT-9");
    EXPECT_TRUE(WaitForConnections(0)) << "no VISA session may stay open";
    // Without the identity check the same instrument is accepted.
    EXPECT_EQ(Open("", VI_FALSE), VI_SUCCESS);
}

TEST_F(LiveSession, StatusCheckingClearsStatusFirstAndReportsErrorBits) {
    ASSERT_EQ(Open("QueryInstrStatus=1"), VI_SUCCESS);
    EXPECT_EQ(m_pEmulator->Lines(), (Lines{"*CLS", "*ESR?", "*IDN?", "*ESR?"}));
    struct Case {
        int nBits;
        ViStatus nStatus;
    } cases[] = {{0, VI_SUCCESS},
                 {1, VI_SUCCESS},
                 {128, VI_SUCCESS},
                 {32, IVI_ERROR_INSTRUMENT_STATUS},
                 {4, IVI_ERROR_INSTRUMENT_STATUS},
                 {16 | 128, IVI_ERROR_INSTRUMENT_STATUS}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nBits);
        m_pEmulator->SetStatusBits(c.nBits);
        EXPECT_EQ(TARVEK_SetOperationComplete(m_vi), c.nStatus);
        if (c.nStatus < 0) {
            EXPECT_EQ(LastError(m_vi).strText,
                      "Instrument error detected.  Use ErrorQuery() to determine the error(s).");
        }
    }
}

TEST_F(LiveSession, RejectedCommandWithoutStatusCheckingStillSucceeds) {
    ASSERT_EQ(Open(), VI_SUCCESS);
    m_pEmulator->ClearLines();
    m_pEmulator->PushError(-113, "Undefined header");
    EXPECT_EQ(TARVEK_WaitToContinue(m_vi), VI_SUCCESS);
    ViInt32 nCode = 0;
    ViChar message[256];
    EXPECT_EQ(TARVEK_error_query(m_vi, &nCode, message), VI_SUCCESS);
    EXPECT_EQ(nCode, -113);
    EXPECT_STREQ(message, "Undefined header");
    EXPECT_EQ(m_pEmulator->Lines(), (Lines{"*WAI", ":SYST:ERR?"}));
}

TEST_F(LiveSession, ErrorQueryParsesAndRefusesReplies) {
    ASSERT_EQ(Open(), VI_SUCCESS);
    struct Case {
        const char* pReply;
        ViStatus nStatus;
        ViInt32 nCode;
        const char* pMessage;
    } cases[] = {
        {"0,\"No error\"", VI_SUCCESS, 0, "No error"},
        {"\"-222,Data out of range\"", VI_SUCCESS, -222, "Data out of range"},
        {" -113abc , \"Undefined header\" ", VI_SUCCESS, -113, "Undefined header"},
        {"0", IVI_ERROR_UNEXPECTED_RESPONSE, 77, "untouched"},
        {"abc,\"x\"", IVI_ERROR_UNEXPECTED_RESPONSE, 77, "untouched"},
        {"99999999999,\"x\"", IVI_ERROR_UNEXPECTED_RESPONSE, 77, "untouched"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pReply);
        m_pEmulator->SetFixedReply(":SYST:ERR?", c.pReply);
        ViInt32 nCode = 77;
        ViChar message[256] = "untouched";
        EXPECT_EQ(TARVEK_error_query(m_vi, &nCode, message), c.nStatus);
        EXPECT_EQ(nCode, c.nCode);
        EXPECT_STREQ(message, c.pMessage);
    }
    EXPECT_EQ(
        LastError(m_vi).strText,
        "Unexpected response from instrument.  Failed to parse the response to the SYST:ERR? "
        "query.  The response is expected to be a comma-separated list of 2 items in the form "
        "'<error code>,<error message>'.");
}

TEST_F(LiveSession, ResetRunsUnderItsOwnTimeoutAndRestoresTheCallers) {
    ASSERT_EQ(Open(), VI_SUCCESS);
    const ViSession hInstrument = Session().GetInstrumentHandle();
    ASSERT_EQ(viSetAttribute(hInstrument, VI_ATTR_TMO_VALUE, 10000), VI_SUCCESS);
    m_pEmulator->ClearLines();
    EXPECT_EQ(TARVEK_reset(m_vi), VI_SUCCESS);
    EXPECT_EQ(m_pEmulator->Lines(), (Lines{"*RST", "*OPC?"}));
    EXPECT_EQ(Timeout(), 10000u);

    // A reset that gets no answer fails after 2000 ms, not 10000 ms, and the
    // caller's timeout is back in force.
    m_pEmulator->SetNoReply("*OPC?");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(TARVEK_reset(m_vi), static_cast<ViStatus>(VI_ERROR_TMO));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
    EXPECT_EQ(Timeout(), 10000u);
}

TEST_F(LiveSession, OperationCompleteAnswersAreExamined) {
    ASSERT_EQ(Open(), VI_SUCCESS);
    m_pEmulator->SetFixedReply("*OPC?", "0");
    EXPECT_EQ(TARVEK_reset(m_vi), VI_SUCCESS) << "reset does not examine the answer";
    EXPECT_EQ(TARVEK_WaitForOperationComplete(m_vi), IVI_ERROR_UNEXPECTED_RESPONSE);
    EXPECT_EQ(LastError(m_vi).strText, "Unexpected response from instrument.");
    m_pEmulator->ClearFaults();
    EXPECT_EQ(TARVEK_WaitForOperationComplete(m_vi), VI_SUCCESS);
}

TEST_F(LiveSession, InitializationWithResetResetsTheInstrument) {
    ASSERT_EQ(Open("", VI_TRUE, VI_TRUE), VI_SUCCESS);
    EXPECT_EQ(m_pEmulator->Lines(), (Lines{"*IDN?", "*RST", "*OPC?"}));
}

TEST_F(LiveSession, DirectReadConsumesTheWholeReply) {
    ASSERT_EQ(Open(), VI_SUCCESS);
    const std::string strCommand = "*IDN?\n";
    ViInt64 nCount = 0;
    ASSERT_EQ(TARVEK_viWrite(m_vi, static_cast<ViInt64>(strCommand.size()),
                             reinterpret_cast<ViConstBuf>(strCommand.data()), &nCount),
              VI_SUCCESS);
    EXPECT_EQ(nCount, static_cast<ViInt64>(strCommand.size()));
    ASSERT_EQ(TARVEK_viWrite(m_vi, static_cast<ViInt64>(strCommand.size()),
                             reinterpret_cast<ViConstBuf>(strCommand.data()), nullptr),
              VI_SUCCESS);
    ViByte buffer[10] = {};
    const ViStatus status = TARVEK_viRead(m_vi, sizeof buffer, buffer, &nCount);
    EXPECT_GE(status, VI_SUCCESS);
    EXPECT_NE(status, static_cast<ViStatus>(VI_SUCCESS_MAX_CNT));
    EXPECT_EQ(nCount, 10);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 10), "Norvale,63");
    ViByte full[256] = {};
    EXPECT_GE(TARVEK_viRead(m_vi, sizeof full, full, &nCount), VI_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(full), static_cast<std::size_t>(nCount)),
              "Norvale,6313,SN000001,1.02\n");
}

TEST_F(LiveSession, CloseEndsTheConnection) {
    ASSERT_EQ(Open(), VI_SUCCESS);
    EXPECT_TRUE(WaitForConnections(1));
    EXPECT_EQ(TARVEK_close(m_vi), VI_SUCCESS);
    EXPECT_TRUE(WaitForConnections(0));
    EXPECT_EQ(TARVEK_close(m_vi), IVI_ERROR_INVALID_SESSION_HANDLE);
    m_vi = VI_NULL;
}

TEST_F(LiveSession, UnreachableInstrumentFailsWithTheVisaStatus) {
    const std::string strResource = "TCPIP::127.0.0.1::1::SOCKET";
    ViSession vi = 99;
    EXPECT_LT(TARVEK_init(const_cast<ViChar*>(strResource.c_str()), VI_TRUE, VI_FALSE, &vi), 0);
    EXPECT_EQ(vi, VI_NULL);
}

}  // namespace
