// Every instrument function in simulation: answered without an instrument,
// with the simulated results, and with the refusals that hold in simulation
// too (model gate, class features, selectors, null pointers).
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "FunctionTestSupport.h"

namespace {

using fntest::LastError;
using fntest::SimulatedInstrument;

using Call = std::function<ViStatus(ViSession)>;

constexpr char kSim6310[] = "Simulate=1";
constexpr char kSim6510[] = "Simulate=1,DriverSetup=Model:6510";

struct SimCase {
    const char* pName;
    Call call;
};

// Commands and configure functions succeed on both families; enumerated
// arguments are not even converted.
TEST(Simulation, CommandFunctionsSucceedOnBothFamilies) {
    const std::vector<SimCase> cases = {
        {"ConfigureVoltageLevel",
         [](ViSession vi) { return TARVEK_ConfigureVoltageLevel(vi, "CH1", 5.0); }},
        {"ConfigureCurrentLimit",
         [](ViSession vi) { return TARVEK_ConfigureCurrentLimit(vi, "CH1", 1, 2.0); }},
        {"ConfigureOVP", [](ViSession vi) { return TARVEK_ConfigureOVP(vi, "CH1", VI_TRUE, 9.0); }},
        {"ConfigureOutputEnabled",
         [](ViSession vi) { return TARVEK_ConfigureOutputEnabled(vi, "CH1", VI_FALSE); }},
        {"ConfigureOutputRange",
         [](ViSession vi) { return TARVEK_ConfigureOutputRange(vi, "CH1", 0, 1.0); }},
        {"ResetOutputProtection",
         [](ViSession vi) { return TARVEK_ResetOutputProtection(vi, "CH1"); }},
        {"ClearProtectionErrors", TARVEK_ClearProtectionErrors},
        {"ClearOCP", TARVEK_ClearOCP},
        {"ClearOVP", TARVEK_ClearOVP},
        {"ConfigureTriggerSource",
         [](ViSession vi) {
             return TARVEK_ConfigureTriggerSource(vi, "CH1", TARVEK_VAL_SOFTWARE_TRIG);
         }},
        {"SendSoftwareTrigger", TARVEK_SendSoftwareTrigger},
        {"GenerateImmediate", TARVEK_GenerateImmediate},
        {"ConfigureContinuousTrigger",
         [](ViSession vi) { return TARVEK_ConfigureContinuousTrigger(vi, 9, VI_TRUE); }},
        {"AbortList", [](ViSession vi) { return TARVEK_AbortList(vi, 9); }},
        {"Abort", TARVEK_Abort},
        {"EnableList", [](ViSession vi) { return TARVEK_EnableList(vi, 1); }},
        {"DisableList", TARVEK_DisableList},
        {"SaveListData", TARVEK_SaveListData},
        {"StartList", [](ViSession vi) { return TARVEK_StartList(vi, 7); }},
        {"InitiateDataLogger", TARVEK_InitiateDataLogger},
        {"StartDataLogger", TARVEK_StartDataLogger},
        {"StopDataLogger", TARVEK_StopDataLogger},
        {"ConfigureDigitalFunction",
         [](ViSession vi) { return TARVEK_ConfigureDigitalFunction(vi, 2, 9); }},
        {"ConfigureDigitalPolarity",
         [](ViSession vi) { return TARVEK_ConfigureDigitalPolarity(vi, 2, 0); }},
        {"ConfigurePowerOnState",
         [](ViSession vi) { return TARVEK_ConfigurePowerOnState(vi, 2, 1); }},
        {"SaveState", [](ViSession vi) { return TARVEK_SaveState(vi, 1); }},
        {"RecallState", [](ViSession vi) { return TARVEK_RecallState(vi, 1); }},
        {"ClearStatus", TARVEK_ClearStatus},
        {"Preset", TARVEK_Preset},
        {"Beep", TARVEK_Beep},
        {"RemoteLock", TARVEK_RemoteLock},
        {"ClearAndReboot", TARVEK_ClearAndReboot},
    };
    for (const char* pOptions : {kSim6310, kSim6510}) {
        SimulatedInstrument instrument(pOptions);
        for (const SimCase& row : cases) {
            SCOPED_TRACE(std::string(pOptions) + " " + row.pName);
            EXPECT_EQ(row.call(instrument.vi()), VI_SUCCESS) << LastError(instrument.vi()).strText;
        }
    }
}

TEST(Simulation, QueriesAnswerTheSimulatedValues) {
    SimulatedInstrument instrument(kSim6310);
    const ViSession vi = instrument.vi();
    ViReal64 dValue = -1.0;
    ViReal64 dOther = -1.0;
    EXPECT_EQ(TARVEK_Measure(vi, "CH2", TARVEK_VAL_MEASURE_VOLTAGE, &dValue), VI_SUCCESS);
    EXPECT_EQ(dValue, 0.0);
    dValue = -1.0;
    EXPECT_EQ(TARVEK_MeasureCurrent(vi, &dValue), VI_SUCCESS);
    EXPECT_EQ(dValue, 0.0);
    dValue = -1.0;
    EXPECT_EQ(TARVEK_MeasureVoltage(vi, &dValue), VI_SUCCESS);
    EXPECT_EQ(dValue, 0.0);
    dValue = -1.0;
    EXPECT_EQ(TARVEK_QueryChannel(vi, &dValue, &dOther), VI_SUCCESS);
    EXPECT_EQ(dValue, 0.0);
    EXPECT_EQ(dOther, 0.0);
    ViInt32 nState = -1;
    ViInt32 nLocation = -1;
    EXPECT_EQ(TARVEK_QueryPowerOnState(vi, &nState, &nLocation), VI_SUCCESS);
    EXPECT_EQ(nState, TARVEK_VAL_POWER_ON_STATE_USER_STATE);
    EXPECT_EQ(nLocation, 2);
    EXPECT_EQ(TARVEK_QueryMaxVoltageLevel(vi, "CH1", 4.0, &dValue), VI_SUCCESS);
    EXPECT_DOUBLE_EQ(dValue, 25.0);
    EXPECT_EQ(TARVEK_QueryMaxCurrentLimit(vi, "CH3", 0.0, &dValue), VI_SUCCESS);
    EXPECT_TRUE(std::isinf(dValue));
}

TEST(Simulation, OutputStateIsConstantVoltageOnly) {
    SimulatedInstrument instrument(kSim6310);
    for (ViInt32 nState = 0; nState <= 5; ++nState) {
        SCOPED_TRACE(nState);
        ViBoolean bInState = 7;
        EXPECT_EQ(TARVEK_QueryOutputState(instrument.vi(), "CH1", nState, &bInState), VI_SUCCESS);
        EXPECT_EQ(bInState, nState == TARVEK_VAL_OUTPUT_CONSTANT_VOLTAGE ? VI_TRUE : VI_FALSE);
    }
}

TEST(Simulation, ConfiguredValuesReadBackThroughTheAttributes) {
    SimulatedInstrument instrument(kSim6310);
    const ViSession vi = instrument.vi();
    ASSERT_EQ(TARVEK_ConfigureVoltageLevel(vi, "CH1-CH3", 5.0), VI_SUCCESS);
    ASSERT_EQ(TARVEK_ConfigureCurrentLimit(vi, "CH2", TARVEK_VAL_CURRENT_TRIP, 2.5), VI_SUCCESS);
    ASSERT_EQ(TARVEK_ConfigureOVP(vi, "CH3", VI_TRUE, 12.0), VI_SUCCESS);
    ASSERT_EQ(TARVEK_ConfigureOutputEnabled(vi, "CH2", VI_FALSE), VI_SUCCESS);
    ViReal64 dValue = 0.0;
    for (const char* pChannel : {"CH1", "CH2", "CH3"}) {
        EXPECT_EQ(TARVEK_GetAttributeViReal64(vi, pChannel, TARVEK_ATTR_VOLTAGE_LEVEL, &dValue),
                  VI_SUCCESS);
        EXPECT_EQ(dValue, 5.0) << pChannel;
    }
    EXPECT_EQ(TARVEK_GetAttributeViReal64(vi, "CH2", TARVEK_ATTR_CURRENT_LIMIT, &dValue),
              VI_SUCCESS);
    EXPECT_EQ(dValue, 2.5);
    EXPECT_EQ(TARVEK_GetCurrentProtectionLevel(vi, &dValue), VI_SUCCESS);
    EXPECT_EQ(dValue, 2.5);
    EXPECT_EQ(TARVEK_GetAttributeViReal64(vi, "CH3", TARVEK_ATTR_OVP_LIMIT, &dValue), VI_SUCCESS);
    EXPECT_EQ(dValue, 12.0);
    ViBoolean bEnabled = VI_TRUE;
    EXPECT_EQ(TARVEK_GetAttributeViBoolean(vi, "CH2", TARVEK_ATTR_OUTPUT_ENABLED, &bEnabled),
              VI_SUCCESS);
    EXPECT_EQ(bEnabled, VI_FALSE);
}

// 100 W at 50 V allows 2 A; equal passes, above fails, and an unknown range
// type is named.
TEST(Simulation, OutputRangeFollowsTheEnvelope) {
    SimulatedInstrument instrument(kSim6310);
    const ViSession vi = instrument.vi();
    ASSERT_EQ(TARVEK_ConfigureVoltageLevel(vi, "CH1", 50.0), VI_SUCCESS);
    EXPECT_EQ(TARVEK_ConfigureOutputRange(vi, "CH1", 0, 2.0), VI_SUCCESS);
    EXPECT_EQ(TARVEK_ConfigureOutputRange(vi, "CH1", 0, 2.1), IVI_ERROR_INVALID_VALUE);
    EXPECT_EQ(LastError(vi).strText,
              "Invalid value '2.100000' for function 'ConfigureOutputRange', parameter 'Range'.");
    EXPECT_EQ(TARVEK_ConfigureOutputRange(vi, "CH1", 2, 2.0), IVI_ERROR_INVALID_VALUE);
    EXPECT_EQ(LastError(vi).strText,
              "Invalid value '2' for function 'ConfigureOutputRange', parameter 'RangeType'.");
    // Each channel of a list is checked against its own level.
    ASSERT_EQ(TARVEK_ConfigureVoltageLevel(vi, "CH2", 20.0), VI_SUCCESS);
    EXPECT_EQ(TARVEK_ConfigureOutputRange(vi, "CH2,CH1", 0, 2.0), VI_SUCCESS);
    EXPECT_EQ(TARVEK_ConfigureOutputRange(vi, "CH2,CH1", 0, 4.0), IVI_ERROR_INVALID_VALUE);
    EXPECT_EQ(TARVEK_ConfigureOutputRange(vi, "CH2", 0, 4.0), VI_SUCCESS);
    // The current level is 0.0 before any write: every voltage range fits.
    EXPECT_EQ(TARVEK_ConfigureOutputRange(vi, "CH1", 1, 1e6), VI_SUCCESS);
}

TEST(Simulation, RefusalsHoldWithoutAnInstrument) {
    SimulatedInstrument sim6310(kSim6310);
    SimulatedInstrument sim6510(kSim6510);
    EXPECT_EQ(TARVEK_StartBatteryTest(sim6310.vi()), IVI_ERROR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(TARVEK_StopBatteryTest(sim6310.vi()), IVI_ERROR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(TARVEK_StartBatteryTest(sim6510.vi()), VI_SUCCESS);
    EXPECT_EQ(TARVEK_StopBatteryTest(sim6510.vi()), VI_SUCCESS);
    ViBoolean bRunning = VI_FALSE;
    EXPECT_EQ(TARVEK_GetBatteryTestIsRunning(sim6510.vi(), &bRunning), VI_SUCCESS);
    EXPECT_EQ(bRunning, VI_TRUE);
    for (const ViSession vi : {sim6310.vi(), sim6510.vi()}) {
        EXPECT_EQ(TARVEK_Initiate(vi), IVI_ERROR_FUNCTION_NOT_SUPPORTED);
        EXPECT_EQ(TARVEK_ConfigureTriggeredVoltageLevel(vi, "CH1", 1.0),
                  IVI_ERROR_FUNCTION_NOT_SUPPORTED);
        EXPECT_EQ(TARVEK_ConfigureTriggeredCurrentLimit(vi, "CH1", 1.0),
                  IVI_ERROR_FUNCTION_NOT_SUPPORTED);
        EXPECT_EQ(TARVEK_ConfigureOVP(vi, "CH1", VI_FALSE, 1.0), IVI_ERROR_VALUE_NOT_SUPPORTED);
        EXPECT_EQ(TARVEK_Measure(vi, "CH1", 7, nullptr), IVI_ERROR_NULL_POINTER);
        ViReal64 dValue = 0.0;
        EXPECT_EQ(TARVEK_Measure(vi, "CH1", 7, &dValue), IVI_ERROR_VALUE_NOT_SUPPORTED);
        EXPECT_EQ(TARVEK_ConfigureVoltageLevel(vi, nullptr, 1.0), IVI_ERROR_CHANNEL_NAME_REQUIRED);
    }
    ViReal64 dValue = 0.0;
    EXPECT_EQ(TARVEK_Measure(sim6510.vi(), "CH2", TARVEK_VAL_MEASURE_CURRENT, &dValue),
              IVI_ERROR_UNKNOWN_PHYSICAL_IDENTIFIER);
}

}  // namespace
