// The output functions built on attribute access and on the summary register,
// the power envelope, measurements and the power-on state replies, against
// the emulator.
#include <cmath>
#include <string>
#include <vector>

#include "FunctionTestSupport.h"

namespace {

using fntest::LastError;
using fntest::Lines;
using fntest::LiveInstrument;

// The function selects the channel, and so does the level's own write.
TEST(LiveConfigure, VoltageLevelSelectsTheChannelThenWritesTheLevel) {
    LiveInstrument instrument(fntest::kModel6310);
    EXPECT_EQ(TARVEK_ConfigureVoltageLevel(instrument.vi(), "CH2", 5.0), VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(), (Lines{"INST:SEL 1", "*ESR?", "INST:SEL 1", "*ESR?",
                                             "SOUR:VOLT:LEV:IMM:AMPL 5", "*ESR?"}));
    EXPECT_DOUBLE_EQ(instrument.Instrument().Snapshot().Output(1).dVoltageSetpoint, 5.0);
    // The same level again is already in the cache: only the selection goes.
    EXPECT_EQ(TARVEK_ConfigureVoltageLevel(instrument.vi(), "CH2", 5.0), VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(), (Lines{"INST:SEL 1", "*ESR?"}));
}

TEST(LiveConfigure, SeveralChannelsAreWrittenOnTheFirstPass) {
    LiveInstrument instrument(fntest::kModel6310);
    EXPECT_EQ(TARVEK_ConfigureVoltageLevel(instrument.vi(), "CH1,CH3", 7.5), VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(),
              (Lines{"INST:SEL 0", "*ESR?", "INST:SEL 0", "*ESR?", "SOUR:VOLT:LEV:IMM:AMPL 7.5",
                     "INST:SEL 2", "*ESR?", "SOUR:VOLT:LEV:IMM:AMPL 7.5", "*ESR?",
                     // the second pass finds both channels holding the level
                     "INST:SEL 2", "*ESR?"}));
    EXPECT_DOUBLE_EQ(instrument.Instrument().Snapshot().Output(0).dVoltageSetpoint, 7.5);
    EXPECT_DOUBLE_EQ(instrument.Instrument().Snapshot().Output(1).dVoltageSetpoint, 0.0);
    EXPECT_DOUBLE_EQ(instrument.Instrument().Snapshot().Output(2).dVoltageSetpoint, 7.5);
}

TEST(LiveConfigure, CurrentLimitGoesToTheLevelOrTheProtectionLevelByBehavior) {
    LiveInstrument instrument(fntest::kModel6310);
    EXPECT_EQ(TARVEK_ConfigureCurrentLimit(instrument.vi(), "CH1", TARVEK_VAL_CURRENT_TRIP, 2.5),
              VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(), (Lines{"INST:SEL 0", "*ESR?", "INST:SEL 0", "*ESR?",
                                             "SOUR:CURR:PROT:LEV 2.5", "*ESR?"}));
    EXPECT_DOUBLE_EQ(instrument.Instrument().Snapshot().Output(0).dOcpLevel, 2.5);
    EXPECT_EQ(
        TARVEK_ConfigureCurrentLimit(instrument.vi(), "CH2", TARVEK_VAL_CURRENT_REGULATE, 1.25),
        VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(), (Lines{"INST:SEL 1", "*ESR?", "INST:SEL 1", "*ESR?",
                                             "SOUR:CURR:LEV:IMM:AMPL 1.25", "*ESR?"}));
    EXPECT_DOUBLE_EQ(instrument.Instrument().Snapshot().Output(1).dCurrentSetpoint, 1.25);
}

TEST(LiveConfigure, OvpWritesTheProtectionLevelAndCannotBeSwitchedOff) {
    LiveInstrument instrument(fntest::kModel6310);
    EXPECT_EQ(TARVEK_ConfigureOVP(instrument.vi(), "CH2", VI_TRUE, 12.0), VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(), (Lines{"INST:SEL 1", "*ESR?", "INST:SEL 1", "*ESR?",
                                             "SOUR:VOLT:PROT:LEV:AMPL 12", "*ESR?"}));
    EXPECT_DOUBLE_EQ(instrument.Instrument().Snapshot().Output(1).dOvpLevel, 12.0);
    // Refused at the enable write, after the selection: the limit stays.
    EXPECT_EQ(TARVEK_ConfigureOVP(instrument.vi(), "CH3", VI_FALSE, 20.0),
              IVI_ERROR_VALUE_NOT_SUPPORTED);
    EXPECT_EQ(instrument.TakeLines(), (Lines{"INST:SEL 2", "*ESR?"}));
}

TEST(LiveConfigure, OutputEnabledOnTheOneOutputModelNeedsNoSelection) {
    LiveInstrument instrument(fntest::kModel6510);
    EXPECT_EQ(TARVEK_ConfigureOutputEnabled(instrument.vi(), "CH1", VI_FALSE), VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(), (Lines{"OUTP:STAT 0", "*ESR?"}));
    EXPECT_FALSE(instrument.Instrument().Snapshot().Output(0).bOutputEnabled);
}

TEST(LiveConfigure, TriggerSourceWritesTheListTriggerSource) {
    LiveInstrument instrument(fntest::kModel6310);
    EXPECT_EQ(TARVEK_ConfigureTriggerSource(instrument.vi(), "CH1", TARVEK_VAL_TRIG_EXTERNAL),
              VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(),
              (Lines{"INST:SEL 0", "*ESR?", "TRIG:SEQ:SOUR EXT", "*ESR?", "*ESR?"}));
}

TEST(LiveEnvelope, OutputRangeIsCheckedAgainstTheProgrammedLevel) {
    LiveInstrument instrument(fntest::kModel6310);
    ASSERT_EQ(TARVEK_ConfigureVoltageLevel(instrument.vi(), "CH1", 20.0), VI_SUCCESS);
    instrument.TakeLines();
    // 100 W at 20 V: 5 A at most; equal passes.
    EXPECT_EQ(TARVEK_ConfigureOutputRange(instrument.vi(), "CH1", 0, 5.0), VI_SUCCESS);
    EXPECT_EQ(TARVEK_ConfigureOutputRange(instrument.vi(), "CH1", 0, 5.1), IVI_ERROR_INVALID_VALUE);
    EXPECT_EQ(LastError(instrument.vi()).strText,
              "Invalid value '5.100000' for function 'ConfigureOutputRange', parameter 'Range'.");
    // Only the level is read back (cached, so nothing at all); no range command.
    for (const std::string& strLine : instrument.TakeLines()) {
        EXPECT_EQ(strLine.find("RANG"), std::string::npos) << strLine;
    }
    EXPECT_EQ(TARVEK_ConfigureOutputRange(instrument.vi(), "CH1", 0, NAN), IVI_ERROR_INVALID_VALUE);
}

TEST(LiveEnvelope, VoltageRangeReadsTheCurrentLevel) {
    LiveInstrument instrument(fntest::kModel6510);
    ASSERT_EQ(TARVEK_SetCurrentLevel(instrument.vi(), 4.0), VI_SUCCESS);
    instrument.TakeLines();
    EXPECT_EQ(TARVEK_ConfigureOutputRange(instrument.vi(), "CH1", 1, 25.0), VI_SUCCESS);
    EXPECT_EQ(TARVEK_ConfigureOutputRange(instrument.vi(), "CH1", 1, 25.5),
              IVI_ERROR_INVALID_VALUE);
    // The level is read from the instrument; no range command follows.
    EXPECT_EQ(instrument.TakeLines(), (Lines{"SOUR:CURR:LEV:IMM:AMPL?", "*ESR?", "*ESR?",
                                             "SOUR:CURR:LEV:IMM:AMPL?", "*ESR?", "*ESR?"}));
}

TEST(LiveEnvelope, MaximumQueriesComputeAndOnlyCheckStatus) {
    LiveInstrument instrument(fntest::kModel6310);
    ViReal64 dMaximum = 0.0;
    EXPECT_EQ(TARVEK_QueryMaxVoltageLevel(instrument.vi(), "CH3", 4.0, &dMaximum), VI_SUCCESS);
    EXPECT_DOUBLE_EQ(dMaximum, 25.0);
    EXPECT_EQ(TARVEK_QueryMaxCurrentLimit(instrument.vi(), "CH2", 50.0, &dMaximum), VI_SUCCESS);
    EXPECT_DOUBLE_EQ(dMaximum, 2.0);
    EXPECT_EQ(TARVEK_QueryMaxCurrentLimit(instrument.vi(), "CH1", 0.0, &dMaximum), VI_SUCCESS);
    EXPECT_TRUE(std::isinf(dMaximum));
    EXPECT_EQ(instrument.TakeLines(), (Lines{"*ESR?", "*ESR?", "*ESR?"}));
    EXPECT_EQ(TARVEK_QueryMaxCurrentLimit(instrument.vi(), "CH1-CH2", 1.0, &dMaximum),
              IVI_ERROR_BADLY_FORMED_SELECTOR);
}

struct StateCase {
    int nRegister;
    ViInt32 nState;
    ViBoolean bExpected;
};

// Register bits: 0 constant current, 1 over-voltage, 2 unregulated.
TEST(LiveOutputState, StatesFollowTheSummaryConditionRegister) {
    const std::vector<StateCase> cases = {
        {0, TARVEK_VAL_OUTPUT_CONSTANT_VOLTAGE, VI_TRUE},
        {0, TARVEK_VAL_OUTPUT_CONSTANT_CURRENT, VI_FALSE},
        {8, TARVEK_VAL_OUTPUT_CONSTANT_VOLTAGE, VI_TRUE},
        {1, TARVEK_VAL_OUTPUT_CONSTANT_VOLTAGE, VI_FALSE},
        {2, TARVEK_VAL_OUTPUT_CONSTANT_VOLTAGE, VI_FALSE},
        {4, TARVEK_VAL_OUTPUT_CONSTANT_VOLTAGE, VI_FALSE},
        {1, TARVEK_VAL_OUTPUT_CONSTANT_CURRENT, VI_TRUE},
        {2, TARVEK_VAL_OUTPUT_OVER_VOLTAGE, VI_TRUE},
        {1, TARVEK_VAL_OUTPUT_OVER_VOLTAGE, VI_FALSE},
        {2, TARVEK_VAL_OUTPUT_OVER_CURRENT, VI_TRUE},
        {1, TARVEK_VAL_OUTPUT_OVER_CURRENT, VI_TRUE},
        {4, TARVEK_VAL_OUTPUT_OVER_CURRENT, VI_FALSE},
        {4, TARVEK_VAL_OUTPUT_UNREGULATED, VI_TRUE},
        {3, TARVEK_VAL_OUTPUT_UNREGULATED, VI_FALSE},
    };
    LiveInstrument instrument(fntest::kModel6310);
    for (const StateCase& row : cases) {
        SCOPED_TRACE(std::to_string(row.nRegister) + "/" + std::to_string(row.nState));
        instrument.Instrument().SetFixedReply("STAT:QUES:ISUM3:COND?",
                                              std::to_string(row.nRegister));
        ViBoolean bInState = 7;
        EXPECT_EQ(TARVEK_QueryOutputState(instrument.vi(), "CH3", row.nState, &bInState),
                  VI_SUCCESS);
        EXPECT_EQ(bInState, row.bExpected);
        instrument.TakeLines();
    }
}

// Each output has its own summary register; another output's state never
// answers for it.
TEST(LiveOutputState, ReadsTheRegisterOfTheNamedOutput) {
    LiveInstrument instrument(fntest::kModel6310);
    instrument.Instrument().SetFixedReply("STAT:QUES:ISUM1:COND?", "1");
    instrument.Instrument().SetFixedReply("STAT:QUES:ISUM2:COND?", "0");
    ViBoolean bCc = VI_TRUE;
    EXPECT_EQ(
        TARVEK_QueryOutputState(instrument.vi(), "CH2", TARVEK_VAL_OUTPUT_CONSTANT_CURRENT, &bCc),
        VI_SUCCESS);
    EXPECT_EQ(bCc, VI_FALSE);
    EXPECT_EQ(instrument.TakeLines(),
              (Lines{"INST:SEL 1", "*ESR?", "STAT:QUES:ISUM2:COND?", "*ESR?", "*ESR?"}));
    EXPECT_EQ(
        TARVEK_QueryOutputState(instrument.vi(), "CH1", TARVEK_VAL_OUTPUT_CONSTANT_CURRENT, &bCc),
        VI_SUCCESS);
    EXPECT_EQ(bCc, VI_TRUE);
    EXPECT_EQ(instrument.TakeLines(),
              (Lines{"INST:SEL 0", "*ESR?", "STAT:QUES:ISUM1:COND?", "*ESR?", "*ESR?"}));
}

// A regulating output reads constant voltage; a heavy load pulls it into
// constant current, as the emulated supply reports it.
TEST(LiveOutputState, RegulationModeFollowsTheLoad) {
    LiveInstrument instrument(fntest::kModel6510);
    const ViSession vi = instrument.vi();
    ASSERT_EQ(TARVEK_ConfigureVoltageLevel(vi, "CH1", 10.0), VI_SUCCESS);
    ASSERT_EQ(TARVEK_ConfigureCurrentLimit(vi, "CH1", TARVEK_VAL_CURRENT_REGULATE, 1.0),
              VI_SUCCESS);
    ASSERT_EQ(TARVEK_ConfigureOutputEnabled(vi, "CH1", VI_TRUE), VI_SUCCESS);
    instrument.Instrument().SetLoadResistance(0, 100.0);
    ViBoolean bCv = VI_FALSE;
    ViBoolean bCc = VI_TRUE;
    EXPECT_EQ(TARVEK_QueryOutputState(vi, "CH1", TARVEK_VAL_OUTPUT_CONSTANT_VOLTAGE, &bCv),
              VI_SUCCESS);
    EXPECT_EQ(TARVEK_QueryOutputState(vi, "CH1", TARVEK_VAL_OUTPUT_CONSTANT_CURRENT, &bCc),
              VI_SUCCESS);
    EXPECT_EQ(bCv, VI_TRUE);
    EXPECT_EQ(bCc, VI_FALSE);
    instrument.TakeLines();
    instrument.Instrument().SetLoadResistance(0, 1.0);
    EXPECT_EQ(TARVEK_QueryOutputState(vi, "CH1", TARVEK_VAL_OUTPUT_CONSTANT_VOLTAGE, &bCv),
              VI_SUCCESS);
    EXPECT_EQ(TARVEK_QueryOutputState(vi, "CH1", TARVEK_VAL_OUTPUT_CONSTANT_CURRENT, &bCc),
              VI_SUCCESS);
    EXPECT_EQ(bCv, VI_FALSE);
    EXPECT_EQ(bCc, VI_TRUE);
    // The one-output model reads its unnumbered register without selecting.
    EXPECT_EQ(instrument.TakeLines(), (Lines{"STAT:QUES:ISUM:COND?", "*ESR?", "*ESR?",
                                             "STAT:QUES:ISUM:COND?", "*ESR?", "*ESR?"}));
}

TEST(LiveMeasure, MeasuresTheNamedOutput) {
    LiveInstrument instrument(fntest::kModel6310);
    const ViSession vi = instrument.vi();
    ASSERT_EQ(TARVEK_ConfigureVoltageLevel(vi, "CH3", 12.0), VI_SUCCESS);
    ASSERT_EQ(TARVEK_ConfigureCurrentLimit(vi, "CH3", TARVEK_VAL_CURRENT_REGULATE, 2.0),
              VI_SUCCESS);
    ASSERT_EQ(TARVEK_ConfigureOutputEnabled(vi, "CH3", VI_TRUE), VI_SUCCESS);
    instrument.Instrument().SetLoadResistance(2, 24.0);
    ASSERT_EQ(TARVEK_ConfigureVoltageLevel(vi, "CH1", 3.0), VI_SUCCESS);  // leaves CH1 selected
    instrument.TakeLines();
    ViReal64 dVoltage = 0.0;
    ViReal64 dCurrent = 0.0;
    EXPECT_EQ(TARVEK_Measure(vi, "CH3", TARVEK_VAL_MEASURE_VOLTAGE, &dVoltage), VI_SUCCESS);
    EXPECT_EQ(TARVEK_Measure(vi, "CH3", TARVEK_VAL_MEASURE_CURRENT, &dCurrent), VI_SUCCESS);
    EXPECT_NEAR(dVoltage, 12.0, 1e-9);
    EXPECT_NEAR(dCurrent, 0.5, 1e-9);
    EXPECT_EQ(instrument.TakeLines(),
              (Lines{"INST:SEL 2", "*ESR?", "MEAS:SCAL:VOLT:DC?", "*ESR?", "INST:SEL 2", "*ESR?",
                     "MEAS:SCAL:CURR:DC?", "*ESR?"}));
    ViReal64 dProgrammedVoltage = 0.0;
    ViReal64 dProgrammedCurrent = 0.0;
    EXPECT_EQ(TARVEK_QueryChannel(vi, &dProgrammedVoltage, &dProgrammedCurrent), VI_SUCCESS);
    EXPECT_DOUBLE_EQ(dProgrammedVoltage, 12.0);
    EXPECT_DOUBLE_EQ(dProgrammedCurrent, 2.0);
}

TEST(LiveProtection, ResetOutputProtectionClearsTheFirstNamedOutputOnly) {
    LiveInstrument instrument(fntest::kModel6310);
    EXPECT_EQ(TARVEK_ResetOutputProtection(instrument.vi(), "CH2,CH3"), VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(), (Lines{"INST:SEL 1", "*ESR?", "OUTP:PROT:CLE", "*ESR?"}));
}

struct PowerOnCase {
    const char* pReply;
    ViStatus nStatus;
    ViInt32 nState;
    ViInt32 nLocation;
};

TEST(LivePowerOn, ReplyFormsAreParsed) {
    const std::vector<PowerOnCase> cases = {
        {"LAST", VI_SUCCESS, TARVEK_VAL_POWER_ON_STATE_LAST_STATE, 0},
        {"OFF", VI_SUCCESS, TARVEK_VAL_POWER_ON_STATE_DISABLED, 0},
        {"USER,4", VI_SUCCESS, TARVEK_VAL_POWER_ON_STATE_USER_STATE, 4},
        {" user , 7 ", VI_SUCCESS, TARVEK_VAL_POWER_ON_STATE_USER_STATE, 7},
        {"USER,+4", VI_SUCCESS, TARVEK_VAL_POWER_ON_STATE_USER_STATE, 4},
        {"USER,4,1", IVI_ERROR_UNEXPECTED_RESPONSE, 0, 0},
        // a trailing comma ends an empty third field
        {"USER,4,", IVI_ERROR_UNEXPECTED_RESPONSE, 0, 0},
        {"USER,four", IVI_ERROR_UNEXPECTED_RESPONSE, TARVEK_VAL_POWER_ON_STATE_USER_STATE, 0},
        // a state that converts to nothing leaves the converter's -1
        {"NEVER", IVI_ERROR_UNEXPECTED_RESPONSE, -1, 0},
        {"", IVI_ERROR_UNEXPECTED_RESPONSE, -1, 0},
    };
    LiveInstrument instrument(fntest::kModel6310);
    for (const PowerOnCase& row : cases) {
        SCOPED_TRACE(row.pReply);
        instrument.Instrument().SetFixedReply("OUTP:PON:STAT?", row.pReply);
        ViInt32 nState = 99;
        ViInt32 nLocation = 99;
        EXPECT_EQ(TARVEK_QueryPowerOnState(instrument.vi(), &nState, &nLocation), row.nStatus);
        EXPECT_EQ(nState, row.nState);
        EXPECT_EQ(nLocation, row.nLocation);
        if (row.nStatus >= 0) {
            EXPECT_EQ(instrument.TakeLines(), (Lines{"OUTP:PON:STAT?", "*ESR?"}));
        } else {
            EXPECT_EQ(instrument.TakeLines(), (Lines{"OUTP:PON:STAT?"}));
        }
    }
    instrument.Instrument().SetFixedReply("OUTP:PON:STAT?", "NEVER");
    ViInt32 nState = 0;
    ViInt32 nLocation = 0;
    TARVEK_QueryPowerOnState(instrument.vi(), &nState, &nLocation);
    EXPECT_NE(
        LastError(instrument.vi()).strText.find("Could not convert instrument response (NEVER)"),
        std::string::npos);
    // An empty reply is one empty field: a state that converts to nothing.
    instrument.Instrument().SetFixedReply("OUTP:PON:STAT?", "");
    TARVEK_QueryPowerOnState(instrument.vi(), &nState, &nLocation);
    EXPECT_NE(LastError(instrument.vi()).strText.find("Could not convert instrument response ()"),
              std::string::npos)
        << LastError(instrument.vi()).strText;
}

TEST(LivePowerOn, ConfiguredStateReadsBack) {
    LiveInstrument instrument(fntest::kModel6510);
    ASSERT_EQ(
        TARVEK_ConfigurePowerOnState(instrument.vi(), TARVEK_VAL_POWER_ON_STATE_USER_STATE, 6),
        VI_SUCCESS);
    ViInt32 nState = 0;
    ViInt32 nLocation = 0;
    EXPECT_EQ(TARVEK_QueryPowerOnState(instrument.vi(), &nState, &nLocation), VI_SUCCESS);
    EXPECT_EQ(nState, TARVEK_VAL_POWER_ON_STATE_USER_STATE);
    EXPECT_EQ(nLocation, 6);
}

// A recalled state replaces the instrument's settings, so the driver forgets
// what it cached and addresses the channel again.
TEST(LiveState, RecallForgetsCachedSettings) {
    LiveInstrument instrument(fntest::kModel6310);
    const ViSession vi = instrument.vi();
    ASSERT_EQ(TARVEK_ConfigureVoltageLevel(vi, "CH2", 5.0), VI_SUCCESS);
    ASSERT_EQ(TARVEK_SaveState(vi, 1), VI_SUCCESS);
    ASSERT_EQ(TARVEK_ConfigureVoltageLevel(vi, "CH3", 6.0), VI_SUCCESS);
    ASSERT_EQ(TARVEK_RecallState(vi, 1), VI_SUCCESS);
    EXPECT_EQ(instrument.Instrument().Snapshot().nSelectedChannel, 1);
    EXPECT_DOUBLE_EQ(instrument.Instrument().Snapshot().Output(2).dVoltageSetpoint, 0.0);
    instrument.TakeLines();
    ASSERT_EQ(TARVEK_ConfigureVoltageLevel(vi, "CH3", 6.0), VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(), (Lines{"INST:SEL 2", "*ESR?", "INST:SEL 2", "*ESR?",
                                             "SOUR:VOLT:LEV:IMM:AMPL 6", "*ESR?"}));
    EXPECT_DOUBLE_EQ(instrument.Instrument().Snapshot().Output(2).dVoltageSetpoint, 6.0);
}

}  // namespace
