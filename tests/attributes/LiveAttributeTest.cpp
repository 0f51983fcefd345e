// Attribute I/O against the emulated instrument over a loopback socket,
// asserting the exact lines sent.
#include <chrono>
#include <memory>

#include "AttributeTestSupport.h"
#include "tools/emulator/Emulator.h"

namespace attrtest {
namespace {

class LiveAttributes : public ::testing::Test {
  protected:
    void Open(const std::string& strOptions, const std::string& strModel = "6313") {
        emu::EmulatorOptions options;
        options.strModel = strModel;
        m_pEmulator = std::make_unique<emu::Emulator>(options);
        m_pEmulator->Start();
        m_pSession = std::make_unique<Session>(strOptions, m_pEmulator->Resource());
        m_pEmulator->ClearLines();
    }
    ViSession Vi() const { return m_pSession->Vi(); }
    // The lines received, once as many as expected have arrived (writes do
    // not wait for the instrument).
    Lines Sent(std::size_t nExpected = 0) const {
        m_pEmulator->WaitForLines(nExpected, std::chrono::seconds(5));
        return m_pEmulator->Lines();
    }

    std::unique_ptr<emu::Emulator> m_pEmulator;
    std::unique_ptr<Session> m_pSession;  // closed before the emulator stops
    void TearDown() override { m_pSession.reset(); }
};

TEST_F(LiveAttributes, ChannelWriteSelectsEachChannelThenSkipsCachedOnes) {
    Open("Cache=1,QueryInstrStatus=1");
    EXPECT_EQ(Set(Vi(), "CH1,CH3", kTestRealChannel, 5.0), VI_SUCCESS);
    EXPECT_EQ(Sent(), (Lines{"INST:SEL 0", "*ESR?", "SOUR:VOLT:LEV:IMM:AMPL 5", "INST:SEL 2",
                             "*ESR?", "SOUR:VOLT:LEV:IMM:AMPL 5", "*ESR?"}));
    EXPECT_DOUBLE_EQ(m_pEmulator->Snapshot().Output(0).dVoltageSetpoint, 5.0);
    EXPECT_DOUBLE_EQ(m_pEmulator->Snapshot().Output(2).dVoltageSetpoint, 5.0);
    m_pEmulator->ClearLines();
    // CH1 and CH3 hold 5 within the tolerance; only CH2 needs writing.
    EXPECT_EQ(Set(Vi(), "CH1-CH3", kTestRealChannel, 5.0 + 1e-13), VI_SUCCESS);
    EXPECT_EQ(Sent(),
              (Lines{"INST:SEL 1", "*ESR?", "SOUR:VOLT:LEV:IMM:AMPL 5.0000000000001", "*ESR?"}));
    m_pEmulator->ClearLines();
    // Every channel already holds the value: nothing is sent, not even the
    // status query; the read after it shows the first line that did go out.
    EXPECT_EQ(Set(Vi(), "CH3,CH1", kTestRealChannel, 5.0), VI_SUCCESS);
    ViReal64 dValue = 0;
    EXPECT_EQ(Get(Vi(), "", kTestReal, &dValue), VI_SUCCESS);
    EXPECT_EQ(Sent(2), (Lines{"SOUR:CURR:LEV:IMM:AMPL?", "*ESR?"}));
}

TEST_F(LiveAttributes, WithoutCacheEveryWriteIsSent) {
    Open("Cache=0");
    EXPECT_EQ(Set(Vi(), "CH2", kTestRealChannel, 1.5), VI_SUCCESS);
    EXPECT_EQ(Set(Vi(), "CH2", kTestRealChannel, 1.5), VI_SUCCESS);
    EXPECT_EQ(Sent(4), (Lines{"INST:SEL 1", "SOUR:VOLT:LEV:IMM:AMPL 1.5", "INST:SEL 1",
                              "SOUR:VOLT:LEV:IMM:AMPL 1.5"}));
}

TEST_F(LiveAttributes, RejectedWriteIsResent) {
    Open("Cache=1,QueryInstrStatus=1");
    m_pEmulator->SetStatusBits(0x10);
    EXPECT_EQ(Set(Vi(), "", kTestReal, 0.5), static_cast<ViStatus>(0xBFFA0001));
    EXPECT_EQ(Set(Vi(), "", kTestReal, 0.5), VI_SUCCESS);
    EXPECT_EQ(Sent(), (Lines{"SOUR:CURR:LEV:IMM:AMPL 0.5", "*ESR?", "SOUR:CURR:LEV:IMM:AMPL 0.5",
                             "*ESR?"}));
    m_pEmulator->ClearLines();
    m_pEmulator->SetStatusBits(0x10);
    EXPECT_EQ(Set(Vi(), "CH1", kTestBooleanChannel, ViBoolean{VI_FALSE}),
              static_cast<ViStatus>(0xBFFA0001));
    EXPECT_EQ(Set(Vi(), "CH1", kTestBooleanChannel, ViBoolean{VI_FALSE}), VI_SUCCESS);
    EXPECT_EQ(Set(Vi(), "CH1", kTestBooleanChannel, ViBoolean{VI_FALSE}),
              VI_SUCCESS);  // now skipped
    // The first attempt already fails at the selection's status check.
    EXPECT_EQ(Sent(),
              (Lines{"INST:SEL 0", "*ESR?", "INST:SEL 0", "*ESR?", "OUTP:STAT 0", "*ESR?"}));
}

TEST_F(LiveAttributes, ReadsQueryConvertAndNeverAnswerFromCache) {
    Open("Cache=1");
    EXPECT_EQ(Set(Vi(), "", kTestReal, 0.75), VI_SUCCESS);
    ViReal64 dValue = 0;
    EXPECT_EQ(Get(Vi(), "", kTestReal, &dValue), VI_SUCCESS);
    EXPECT_DOUBLE_EQ(dValue, 0.75);
    EXPECT_EQ(Set(Vi(), "", kTestEnum, ViInt32{TARVEK_VAL_OUTPUT_MODE_SERIES2}), VI_SUCCESS);
    ViInt32 nMode = -1;
    EXPECT_EQ(Get(Vi(), "", kTestEnum, &nMode), VI_SUCCESS);
    EXPECT_EQ(nMode, TARVEK_VAL_OUTPUT_MODE_SERIES2);
    EXPECT_EQ(Set(Vi(), "", kTestInt, ViInt32{36}), VI_SUCCESS);
    ViInt32 nEnable = 0;
    EXPECT_EQ(Get(Vi(), "", kTestInt, &nEnable), VI_SUCCESS);
    EXPECT_EQ(nEnable, 36);
    ViBoolean bOn = VI_TRUE;
    EXPECT_EQ(Get(Vi(), "CH3", kTestBooleanChannel, &bOn), VI_SUCCESS);
    ViChar version[16] = {};
    EXPECT_EQ(GetString(Vi(), kTestFixedString, sizeof(version), version), VI_SUCCESS);
    EXPECT_STREQ(version, "1999.0");
    EXPECT_EQ(Sent(),
              (Lines{"SOUR:CURR:LEV:IMM:AMPL 0.75", "SOUR:CURR:LEV:IMM:AMPL?", "OUTP:PAIR SERI2",
                     "OUTP:PAIR?", "*ESE 36", "*ESE?", "INST:SEL 2", "OUTP:STAT?", "SYST:VERS?"}));
}

TEST_F(LiveAttributes, ConversionFailuresSendNothingOrReportTheResponse) {
    Open("Cache=1");
    EXPECT_EQ(Set(Vi(), "", kTestEnum, ViInt32{7}), static_cast<ViStatus>(0xBFFA0000));
    EXPECT_EQ(Set(Vi(), "", kTestBoolean, ViBoolean{2}), static_cast<ViStatus>(0xBFFA0000));
    EXPECT_EQ(Sent(), Lines{});
    m_pEmulator->SetFixedReply("SYST:BEEP:STAT?", "TRUE");
    ViBoolean bValue = 0;
    EXPECT_EQ(Get(Vi(), "", kTestBoolean, &bValue), static_cast<ViStatus>(0xBFFA0059));
    EXPECT_EQ(bValue, 65535);
    EXPECT_EQ(
        LastError(Vi()).strText,
        "Unexpected response from instrument.  Could not convert instrument response (TRUE) to a "
        "defined value.");
}

TEST_F(LiveAttributes, SelectedChannelWordsBothWays) {
    Open("Cache=1");
    EXPECT_EQ(
        TARVEK_SetAttributeViInt32(Vi(), "", TARVEK_ATTR_SELECTED_CHANNEL, TARVEK_VAL_CHANNEL3),
        VI_SUCCESS);
    EXPECT_EQ(Sent(1), Lines{"INST:SEL 2"});
    m_pEmulator->SetFixedReply("INST:SEL?", "ch2");
    ViInt32 nChannel = -1;
    EXPECT_EQ(TARVEK_GetAttributeViInt32(Vi(), "", TARVEK_ATTR_SELECTED_CHANNEL, &nChannel),
              VI_SUCCESS);
    EXPECT_EQ(nChannel, TARVEK_VAL_CHANNEL2);
}

TEST_F(LiveAttributes, StringAttributeRoundTrip) {
    Open("Cache=1");
    EXPECT_EQ(Set<ViConstString>(Vi(), "", kTestString, "2026,12,6"), VI_SUCCESS);
    ViChar buffer[32] = {};
    EXPECT_EQ(GetString(Vi(), kTestString, sizeof(buffer), buffer), VI_SUCCESS);
    EXPECT_STREQ(buffer, "2026,12,6");
    EXPECT_EQ(Sent(), (Lines{"SYST:DATE 2026,12,6", "SYST:DATE?"}));
}

TEST_F(LiveAttributes, OneOutputModelAddressesItsOutputWithoutSelecting) {
    Open("Cache=0", "6512");
    EXPECT_EQ(Set(Vi(), "CH1", kTestRealChannel, 2.5), VI_SUCCESS);
    ViReal64 dValue = 0;
    EXPECT_EQ(Get(Vi(), "CH1", kTestRealChannel, &dValue), VI_SUCCESS);
    EXPECT_DOUBLE_EQ(dValue, 2.5);
    EXPECT_EQ(Set(Vi(), "CH2", kTestRealChannel, 2.5), static_cast<ViStatus>(0xBFFA0067));
    ViInt32 nEnable = 0;
    EXPECT_EQ(Get(Vi(), "", kTestFamilyHeader, &nEnable), VI_SUCCESS);
    EXPECT_EQ(Sent(), (Lines{"SOUR:VOLT:LEV:IMM:AMPL 2.5", "SOUR:VOLT:LEV:IMM:AMPL?",
                             "STAT:QUES:ISUM:ENAB?"}));
}

TEST_F(LiveAttributes, FamilyHeaderOnThreeOutputModel) {
    Open("Cache=0");
    EXPECT_EQ(Set(Vi(), "", kTestFamilyHeader, ViInt32{4}), VI_SUCCESS);
    EXPECT_EQ(Sent(1), Lines{"STAT:QUES:ISUM1:ENAB 4"});
}

TEST_F(LiveAttributes, IoTimeoutAndSessionReachVisa) {
    Open("");
    EXPECT_EQ(TARVEK_SetAttributeViInt32(Vi(), "", TARVEK_ATTR_SYSTEM_IO_TIMEOUT, 5000),
              VI_SUCCESS);
    ViInt32 nTimeout = 0;
    EXPECT_EQ(TARVEK_GetAttributeViInt32(Vi(), "", TARVEK_ATTR_SYSTEM_IO_TIMEOUT, &nTimeout),
              VI_SUCCESS);
    EXPECT_EQ(nTimeout, 5000);
    ViSession hIo = 0;
    EXPECT_EQ(TARVEK_GetAttributeViSession(Vi(), "", TARVEK_ATTR_SYSTEM_IO_SESSION, &hIo),
              VI_SUCCESS);
    EXPECT_NE(hIo, 0u);
    EXPECT_EQ(Sent(), Lines{});
}

TEST_F(LiveAttributes, IoTimeoutTakesMillisecondsOrInfiniteAndRefusesOtherNegatives) {
    Open("");
    struct Row {
        ViInt32 nValue;
        ViStatus nExpected;
    };
    const Row rows[] = {
        {0, VI_SUCCESS},
        {2500, VI_SUCCESS},
        {2147483647, VI_SUCCESS},
        {-1, VI_SUCCESS},  // VI_TMO_INFINITE
        {-2, IVI_ERROR_INVALID_VALUE},
        {-1000, IVI_ERROR_INVALID_VALUE},
        {-2147483647 - 1, IVI_ERROR_INVALID_VALUE},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.nValue);
        ASSERT_EQ(TARVEK_SetAttributeViInt32(Vi(), "", TARVEK_ATTR_SYSTEM_IO_TIMEOUT, 3000),
                  VI_SUCCESS);
        EXPECT_EQ(TARVEK_SetAttributeViInt32(Vi(), "", TARVEK_ATTR_SYSTEM_IO_TIMEOUT, row.nValue),
                  row.nExpected);
        ViInt32 nTimeout = 0;
        ASSERT_EQ(TARVEK_GetAttributeViInt32(Vi(), "", TARVEK_ATTR_SYSTEM_IO_TIMEOUT, &nTimeout),
                  VI_SUCCESS);
        if (row.nExpected == VI_SUCCESS) {
            EXPECT_EQ(nTimeout, row.nValue);
        } else {
            EXPECT_EQ(nTimeout, 3000) << "a refused value leaves the timeout as it was";
            const Recorded error = LastError(Vi());
            EXPECT_EQ(error.nCode, IVI_ERROR_INVALID_VALUE);
            EXPECT_NE(error.strText.find("-1 (VI_TMO_INFINITE)"), std::string::npos)
                << error.strText;
            EXPECT_NE(error.strText.find(std::to_string(row.nValue)), std::string::npos)
                << error.strText;
        }
    }
    EXPECT_EQ(Sent(), Lines{});
}

TEST_F(LiveAttributes, UnansweredQueryReturnsTheVisaStatus) {
    Open("");
    EXPECT_EQ(TARVEK_SetAttributeViInt32(Vi(), "", TARVEK_ATTR_SYSTEM_IO_TIMEOUT, 200), VI_SUCCESS);
    m_pEmulator->SetNoReply("SOUR:CURR:LEV:IMM:AMPL?");
    ViReal64 dValue = 0;
    const ViStatus nStatus = Get(Vi(), "", kTestReal, &dValue);
    EXPECT_LT(nStatus, 0);
    EXPECT_NE(nStatus, static_cast<ViStatus>(0xBFFA4215));
}

}  // namespace
}  // namespace attrtest
