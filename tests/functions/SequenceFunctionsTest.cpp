// List mode, the battery test and the data logger as a user runs them, end to
// end against the emulator.
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "FunctionTestSupport.h"

namespace {

using fntest::Lines;
using fntest::LiveInstrument;
using fntest::WaitUntil;

// The lines without the status checks between them.
Lines Commands(const Lines& lines) {
    Lines commands;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(commands),
                 [](const std::string& strLine) { return strLine != "*ESR?"; });
    return commands;
}

TEST(ListMode, ThreeStepListRunsStepByStepUntilAborted) {
    LiveInstrument instrument(fntest::kModel6310);
    const ViSession vi = instrument.vi();
    emu::Emulator& emulator = instrument.Instrument();
    constexpr int kChannel = 1;  // CH2

    ASSERT_EQ(TARVEK_ConfigureCurrentLimit(vi, "CH2", TARVEK_VAL_CURRENT_REGULATE, 1.0),
              VI_SUCCESS);
    ASSERT_EQ(TARVEK_ConfigureOutputEnabled(vi, "CH2", VI_TRUE), VI_SUCCESS);
    instrument.TakeLines();

    // Program list 2 on the selected output: three steps of 0.2 s, repeated
    // until aborted, started by a software trigger.
    ASSERT_EQ(TARVEK_SetSelectedList(vi, 2), VI_SUCCESS);
    for (ViInt32 nStep = 1; nStep <= 3; ++nStep) {
        ASSERT_EQ(TARVEK_SetSelectedStep(vi, nStep), VI_SUCCESS);
        ASSERT_EQ(TARVEK_SetStepVoltage(vi, 2.0 * nStep), VI_SUCCESS);
        ASSERT_EQ(TARVEK_SetStepCurrent(vi, 0.5), VI_SUCCESS);
        ASSERT_EQ(TARVEK_SetListDwell(vi, 0.2), VI_SUCCESS);
    }
    ASSERT_EQ(TARVEK_SetListPace(vi, TARVEK_VAL_LIST_PACE_DWELL), VI_SUCCESS);
    ASSERT_EQ(TARVEK_SetListRepeatCount(vi, 0), VI_SUCCESS);
    ASSERT_EQ(TARVEK_SaveListData(vi), VI_SUCCESS);
    ASSERT_EQ(TARVEK_ConfigureTriggerSource(vi, "CH2", TARVEK_VAL_SOFTWARE_TRIG), VI_SUCCESS);
    ASSERT_EQ(TARVEK_EnableList(vi, 2), VI_SUCCESS);
    ASSERT_EQ(TARVEK_StartList(vi, TARVEK_VAL_CHANNEL2), VI_SUCCESS);
    EXPECT_EQ(Commands(instrument.TakeLines()),
              (Lines{"SOUR:LIST:NUMB 2",     "SOUR:LIST:STEP:NUMBER 1",
                     "SOUR:LIST:VOLT:LEV 2", "SOUR:LIST:CURR:LEV 0.5",
                     "SOUR:LIST:DWEL 0.2",   "SOUR:LIST:STEP:NUMBER 2",
                     "SOUR:LIST:VOLT:LEV 4", "SOUR:LIST:CURR:LEV 0.5",
                     "SOUR:LIST:DWEL 0.2",   "SOUR:LIST:STEP:NUMBER 3",
                     "SOUR:LIST:VOLT:LEV 6", "SOUR:LIST:CURR:LEV 0.5",
                     "SOUR:LIST:DWEL 0.2",   "SOUR:LIST:STEP 0",
                     "SOUR:LIST:COUN 0",     "SOUR:LIST:SAVE",
                     "INST:SEL 1",           "TRIG:SEQ:SOUR BUS",
                     "OUTP:MODE LIST,2",     "INIT:IMM 1"}));

    // Armed, waiting for the bus trigger.
    EXPECT_FALSE(emulator.Snapshot().Output(kChannel).bListRunning);
    ASSERT_EQ(TARVEK_SendSoftwareTrigger(vi), VI_SUCCESS);
    EXPECT_TRUE(emulator.Snapshot().Output(kChannel).bListRunning);

    // The steps follow one another; the output follows the step voltage.
    for (int nStep : {1, 2, 3, 1}) {
        SCOPED_TRACE(nStep);
        ASSERT_TRUE(
            WaitUntil([&] { return emulator.Snapshot().Output(kChannel).nListStep == nStep; }));
    }
    ASSERT_TRUE(WaitUntil([&] { return emulator.Snapshot().Output(kChannel).nListStep == 2; }));
    ViReal64 dVoltage = 0.0;
    ASSERT_EQ(TARVEK_Measure(vi, "CH2", TARVEK_VAL_MEASURE_VOLTAGE, &dVoltage), VI_SUCCESS);
    EXPECT_TRUE(dVoltage == 4.0 || dVoltage == 6.0) << dVoltage;

    instrument.TakeLines();
    ASSERT_EQ(TARVEK_AbortList(vi, TARVEK_VAL_CHANNEL2), VI_SUCCESS);
    EXPECT_FALSE(emulator.Snapshot().Output(kChannel).bListRunning);
    EXPECT_EQ(emulator.Snapshot().Output(kChannel).nListStep, 0);
    ASSERT_EQ(TARVEK_DisableList(vi), VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(), (Lines{"ABOR 1", "*ESR?", "OUTP:MODE FIX", "*ESR?"}));
    // The other outputs never ran a list.
    EXPECT_FALSE(emulator.Snapshot().Output(0).bListRunning);
    EXPECT_FALSE(emulator.Snapshot().Output(2).bListRunning);
}

TEST(ListMode, AbortStopsTheListsOfEveryOutput) {
    LiveInstrument instrument(fntest::kModel6310);
    const ViSession vi = instrument.vi();
    emu::Emulator& emulator = instrument.Instrument();
    for (const char* pChannel : {"CH1", "CH3"}) {
        ASSERT_EQ(TARVEK_ConfigureOutputEnabled(vi, pChannel, VI_TRUE), VI_SUCCESS);
        ASSERT_EQ(TARVEK_SetSelectedList(vi, 1), VI_SUCCESS);
        ASSERT_EQ(TARVEK_SetSelectedStep(vi, 1), VI_SUCCESS);
        ASSERT_EQ(TARVEK_SetStepVoltage(vi, 3.0), VI_SUCCESS);
        ASSERT_EQ(TARVEK_SetListDwell(vi, 10.0), VI_SUCCESS);
        ASSERT_EQ(TARVEK_ConfigureTriggerSource(vi, pChannel, TARVEK_VAL_TRIG_IMMEDIATE),
                  VI_SUCCESS);
        ASSERT_EQ(TARVEK_EnableList(vi, 1), VI_SUCCESS);
    }
    ASSERT_EQ(TARVEK_StartList(vi, TARVEK_VAL_CHANNEL1), VI_SUCCESS);
    ASSERT_EQ(TARVEK_StartList(vi, TARVEK_VAL_CHANNEL3), VI_SUCCESS);
    EXPECT_TRUE(emulator.Snapshot().Output(0).bListRunning);
    EXPECT_TRUE(emulator.Snapshot().Output(2).bListRunning);
    instrument.TakeLines();
    ASSERT_EQ(TARVEK_Abort(vi), VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(),
              (Lines{"ABOR 0", "*ESR?", "ABOR 1", "*ESR?", "ABOR 2", "*ESR?", "*ESR?"}));
    EXPECT_FALSE(emulator.Snapshot().Output(0).bListRunning);
    EXPECT_FALSE(emulator.Snapshot().Output(2).bListRunning);
}

TEST(BatteryTest, RunsAndStopsOnTheOneOutputModel) {
    LiveInstrument instrument(fntest::kModel6510);
    const ViSession vi = instrument.vi();
    emu::Emulator& emulator = instrument.Instrument();

    ASSERT_EQ(TARVEK_SetBatteryTestVoltage(vi, 12.6), VI_SUCCESS);
    ASSERT_EQ(TARVEK_SetBatteryTestCurrent(vi, 2.0), VI_SUCCESS);
    ASSERT_EQ(TARVEK_SetBatteryTestEndCurrent(vi, 0.1), VI_SUCCESS);
    ASSERT_EQ(TARVEK_SetBatteryTestEndDelay(vi, 5), VI_SUCCESS);
    ASSERT_EQ(TARVEK_SetBatteryTestTriggerSource(vi, TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_IMMEDIATE),
              VI_SUCCESS);
    instrument.TakeLines();

    ASSERT_EQ(TARVEK_StartBatteryTest(vi), VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(), (Lines{"BATT:MOD:STAT 1", "*ESR?"}));
    EXPECT_TRUE(emulator.Snapshot().bBatteryTestRunning);
    ViBoolean bRunning = VI_FALSE;
    ASSERT_EQ(TARVEK_GetBatteryTestIsRunning(vi, &bRunning), VI_SUCCESS);
    EXPECT_EQ(bRunning, VI_TRUE);
    ViReal64 dCurrent = 0.0;
    ASSERT_EQ(TARVEK_MeasureCurrent(vi, &dCurrent), VI_SUCCESS);
    EXPECT_GT(dCurrent, 0.1);
    EXPECT_LE(dCurrent, 2.0);

    instrument.TakeLines();
    ASSERT_EQ(TARVEK_StopBatteryTest(vi), VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(), (Lines{"BATT:MOD:STAT 0", "*ESR?"}));
    EXPECT_FALSE(emulator.Snapshot().bBatteryTestRunning);
    ASSERT_EQ(TARVEK_GetBatteryTestIsRunning(vi, &bRunning), VI_SUCCESS);
    EXPECT_EQ(bRunning, VI_FALSE);
}

TEST(BatteryTest, IsRefusedOnTheThreeOutputModel) {
    LiveInstrument instrument(fntest::kModel6310);
    EXPECT_EQ(TARVEK_StartBatteryTest(instrument.vi()), IVI_ERROR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(fntest::LastError(instrument.vi()).strText,
              "Does not support this class-compliant feature: function "
              "'TARVEK_StartBatteryTest'  Function is not supported for instrument model '6313'");
    EXPECT_EQ(TARVEK_SetBatteryTestCurrent(instrument.vi(), 1.0),
              IVI_ERROR_ATTRIBUTE_NOT_SUPPORTED);
    EXPECT_EQ(instrument.TakeLines(), Lines{});
    EXPECT_FALSE(instrument.Instrument().Snapshot().bBatteryTestRunning);
}

TEST(DataLogger, ArmedLoggerStartsOnTheBusTriggerAndStops) {
    for (const char* pModel : {fntest::kModel6310, fntest::kModel6510}) {
        SCOPED_TRACE(pModel);
        LiveInstrument instrument(pModel);
        const ViSession vi = instrument.vi();
        ASSERT_EQ(TARVEK_SetDataLoggerTriggerSource(vi, TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_BUS),
                  VI_SUCCESS);
        ASSERT_EQ(TARVEK_InitiateDataLogger(vi), VI_SUCCESS);
        EXPECT_FALSE(instrument.Instrument().Snapshot().bDataLoggerRunning);
        ASSERT_EQ(TARVEK_SendSoftwareTrigger(vi), VI_SUCCESS);
        EXPECT_TRUE(instrument.Instrument().Snapshot().bDataLoggerRunning);
        ASSERT_EQ(TARVEK_StopDataLogger(vi), VI_SUCCESS);
        EXPECT_FALSE(instrument.Instrument().Snapshot().bDataLoggerRunning);
        ASSERT_EQ(TARVEK_StartDataLogger(vi), VI_SUCCESS);
        EXPECT_TRUE(instrument.Instrument().Snapshot().bDataLoggerRunning);
        EXPECT_EQ(Commands(instrument.TakeLines()), (Lines{"TRIG:DLOG:SOUR BUS", "INIT:IMM:DLOG",
                                                           "*TRG", "ABOR:DLOG", "TRIG:DLOG:IMM"}));
    }
}

TEST(Protection, TrippedOutputIsReportedAndClearedAgain) {
    LiveInstrument instrument(fntest::kModel6310);
    const ViSession vi = instrument.vi();
    emu::Emulator& emulator = instrument.Instrument();
    ASSERT_EQ(TARVEK_ConfigureVoltageLevel(vi, "CH3", 10.0), VI_SUCCESS);
    ASSERT_EQ(TARVEK_ConfigureOVP(vi, "CH3", VI_TRUE, 15.0), VI_SUCCESS);
    ASSERT_EQ(TARVEK_ConfigureOutputEnabled(vi, "CH3", VI_TRUE), VI_SUCCESS);
    // Lowering the protection level under the output trips it.
    ASSERT_EQ(TARVEK_ConfigureOVP(vi, "CH3", VI_TRUE, 8.0), VI_SUCCESS);
    ASSERT_TRUE(WaitUntil([&] { return emulator.Snapshot().Output(2).bOvpTripped; }));
    EXPECT_FALSE(emulator.Snapshot().Output(2).bOutputEnabled);
    ViBoolean bOverVoltage = VI_FALSE;
    ASSERT_EQ(TARVEK_QueryOutputState(vi, "CH3", TARVEK_VAL_OUTPUT_OVER_VOLTAGE, &bOverVoltage),
              VI_SUCCESS);
    EXPECT_EQ(bOverVoltage, VI_TRUE);

    ASSERT_EQ(TARVEK_ConfigureOVP(vi, "CH3", VI_TRUE, 15.0), VI_SUCCESS);
    instrument.TakeLines();
    ASSERT_EQ(TARVEK_ResetOutputProtection(vi, "CH3"), VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(), (Lines{"INST:SEL 2", "*ESR?", "OUTP:PROT:CLE", "*ESR?"}));
    EXPECT_FALSE(emulator.Snapshot().Output(2).bOvpTripped);
    EXPECT_TRUE(emulator.Snapshot().Output(2).bOutputEnabled);
    ViBoolean bConstantVoltage = VI_FALSE;
    ASSERT_EQ(
        TARVEK_QueryOutputState(vi, "CH3", TARVEK_VAL_OUTPUT_CONSTANT_VOLTAGE, &bConstantVoltage),
        VI_SUCCESS);
    EXPECT_EQ(bConstantVoltage, VI_TRUE);
}

// The selection and the measurement of one call are not split by another
// thread's call on the same session: each thread reads its own output.
TEST(Concurrency, MeasurementsOnOneSessionKeepTheirChannels) {
    LiveInstrument instrument(fntest::kModel6310, "");
    const ViSession vi = instrument.vi();
    ASSERT_EQ(TARVEK_ConfigureVoltageLevel(vi, "CH1", 3.0), VI_SUCCESS);
    ASSERT_EQ(TARVEK_ConfigureVoltageLevel(vi, "CH3", 12.0), VI_SUCCESS);
    ASSERT_EQ(TARVEK_ConfigureOutputEnabled(vi, "CH1,CH3", VI_TRUE), VI_SUCCESS);
    auto measure = [vi](const char* pChannel, ViReal64 dExpected, int& nWrong) {
        for (int i = 0; i < 40; ++i) {
            ViReal64 dVoltage = 0.0;
            if (TARVEK_Measure(vi, pChannel, TARVEK_VAL_MEASURE_VOLTAGE, &dVoltage) != VI_SUCCESS ||
                dVoltage != dExpected) {
                ++nWrong;
            }
        }
    };
    int nWrong1 = 0;
    int nWrong3 = 0;
    std::thread thread1(measure, "CH1", 3.0, std::ref(nWrong1));
    std::thread thread3(measure, "CH3", 12.0, std::ref(nWrong3));
    thread1.join();
    thread3.join();
    EXPECT_EQ(nWrong1, 0);
    EXPECT_EQ(nWrong3, 0);
}

}  // namespace
