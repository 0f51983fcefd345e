// The single-exchange instrument functions against the emulator: the exact
// lines each sends on both families, the refusals that send nothing, and the
// names of null output pointers.
#include <functional>
#include <string>
#include <vector>

#include "FunctionTestSupport.h"

namespace {

using fntest::LastError;
using fntest::Lines;
using fntest::LiveInstrument;

using Call = std::function<ViStatus(ViSession)>;

struct ExchangeCase {
    const char* pName;
    Call call;
    Lines lines6310;  // lines sent, status checks included
    Lines lines6510;
};

const std::vector<ExchangeCase>& ExchangeCases() {
    static const std::vector<ExchangeCase> cases = {
        {"ClearProtectionErrors", TARVEK_ClearProtectionErrors, {"OUTP:PROT:CLE", "*ESR?"}, {}},
        {"ClearOCP", TARVEK_ClearOCP, {"SOUR:CURR:PROT:CLE", "*ESR?"}, {}},
        {"ClearOVP", TARVEK_ClearOVP, {"SOUR:VOLT:PROT:CLE", "*ESR?"}, {}},
        {"SendSoftwareTrigger", TARVEK_SendSoftwareTrigger, {"*TRG", "*ESR?"}, {}},
        {"GenerateImmediate", TARVEK_GenerateImmediate, {"*TRG", "*ESR?"}, {}},
        {"ConfigureContinuousTrigger",
         [](ViSession vi) {
             return TARVEK_ConfigureContinuousTrigger(vi, TARVEK_VAL_CHANNEL2, VI_TRUE);
         },
         {"INIT:CONT 1,1", "*ESR?"},
         {"INIT:CONT 1", "*ESR?"}},
        {"ConfigureContinuousTriggerOff",
         [](ViSession vi) {
             return TARVEK_ConfigureContinuousTrigger(vi, TARVEK_VAL_CHANNEL1, VI_FALSE);
         },
         {"INIT:CONT 0,0", "*ESR?"},
         {"INIT:CONT 0", "*ESR?"}},
        {"AbortList",
         [](ViSession vi) { return TARVEK_AbortList(vi, TARVEK_VAL_CHANNEL1); },
         {"ABOR 0", "*ESR?"},
         {"ABOR", "*ESR?"}},
        {"Abort",
         TARVEK_Abort,
         {"ABOR 0", "*ESR?", "ABOR 1", "*ESR?", "ABOR 2", "*ESR?", "*ESR?"},
         {"ABOR", "*ESR?", "ABOR", "*ESR?", "ABOR", "*ESR?", "*ESR?"}},
        {"EnableList",
         [](ViSession vi) { return TARVEK_EnableList(vi, 3); },
         {"OUTP:MODE LIST,3", "*ESR?"},
         {}},
        {"DisableList", TARVEK_DisableList, {"OUTP:MODE FIX", "*ESR?"}, {}},
        {"SaveListData", TARVEK_SaveListData, {"SOUR:LIST:SAVE", "*ESR?"}, {}},
        {"InitiateDataLogger", TARVEK_InitiateDataLogger, {"INIT:IMM:DLOG", "*ESR?"}, {}},
        {"StartDataLogger", TARVEK_StartDataLogger, {"TRIG:DLOG:IMM", "*ESR?"}, {}},
        {"StopDataLogger", TARVEK_StopDataLogger, {"ABOR:DLOG", "*ESR?"}, {}},
        {"ConfigureDigitalFunction",
         [](ViSession vi) {
             return TARVEK_ConfigureDigitalFunction(vi, 2, TARVEK_VAL_DIGITAL_PIN_FUNCTION_INHIBIT);
         },
         {"SOUR:DIG:PIN2:FUNC INH", "*ESR?"},
         {}},
        {"ConfigureDigitalPolarity",
         [](ViSession vi) {
             return TARVEK_ConfigureDigitalPolarity(vi, 1,
                                                    TARVEK_VAL_DIGITAL_PIN_POLARITY_NEGATIVE);
         },
         {"SOUR:DIG:PIN1:POL NEG", "*ESR?"},
         {}},
        {"ConfigurePowerOnStateUser",
         [](ViSession vi) {
             return TARVEK_ConfigurePowerOnState(vi, TARVEK_VAL_POWER_ON_STATE_USER_STATE, 3);
         },
         {"OUTP:PON:STAT USER,3", "*ESR?"},
         {}},
        {"ConfigurePowerOnStateLast",
         [](ViSession vi) {
             return TARVEK_ConfigurePowerOnState(vi, TARVEK_VAL_POWER_ON_STATE_LAST_STATE, 3);
         },
         {"OUTP:PON:STAT LAST", "*ESR?"},
         {}},
        {"SaveState",
         [](ViSession vi) { return TARVEK_SaveState(vi, 5); },
         {"*SAV 5", "*ESR?"},
         {}},
        {"RecallState",
         [](ViSession vi) { return TARVEK_RecallState(vi, 5); },
         {"*RCL 5", "*ESR?"},
         {}},
        {"ClearStatus", TARVEK_ClearStatus, {"*CLS", "*ESR?"}, {}},
        {"Preset", TARVEK_Preset, {"STAT:PRES", "*ESR?"}, {}},
        {"Beep", TARVEK_Beep, {"SYST:BEEP:IMM", "*ESR?"}, {}},
        {"RemoteLock", TARVEK_RemoteLock, {"SYST:RWL", "*ESR?"}, {}},
        {"ClearAndReboot", TARVEK_ClearAndReboot, {"SYST:SEC:IMM", "*ESR?"}, {}},
        {"MeasureCurrent",
         [](ViSession vi) {
             ViReal64 dValue = -1.0;
             return TARVEK_MeasureCurrent(vi, &dValue);
         },
         {"MEAS:SCAL:CURR:DC?", "*ESR?"},
         {}},
        {"MeasureVoltage",
         [](ViSession vi) {
             ViReal64 dValue = -1.0;
             return TARVEK_MeasureVoltage(vi, &dValue);
         },
         {"MEAS:SCAL:VOLT:DC?", "*ESR?"},
         {}},
        {"QueryChannel",
         [](ViSession vi) {
             ViReal64 dVoltage = -1.0;
             ViReal64 dCurrent = -1.0;
             return TARVEK_QueryChannel(vi, &dVoltage, &dCurrent);
         },
         {"APPL?", "*ESR?"},
         {}},
        {"QueryPowerOnState",
         [](ViSession vi) {
             ViInt32 nState = -1;
             ViInt32 nLocation = -1;
             return TARVEK_QueryPowerOnState(vi, &nState, &nLocation);
         },
         {"OUTP:PON:STAT?", "*ESR?"},
         {}},
    };
    return cases;
}

class ExchangeOnFamily : public ::testing::TestWithParam<const char*> {};

// The emulator accepts every command (a rejected one would fail the status
// check), and the lines are exact; the one-output family differs only where
// its commands carry no channel.
TEST_P(ExchangeOnFamily, SendsItsCommandThenTheStatusCheck) {
    LiveInstrument instrument(GetParam());
    const bool b6510 = std::string(GetParam()) == fntest::kModel6510;
    for (const ExchangeCase& row : ExchangeCases()) {
        SCOPED_TRACE(row.pName);
        EXPECT_EQ(row.call(instrument.vi()), VI_SUCCESS) << LastError(instrument.vi()).strText;
        const Lines& expected = b6510 && !row.lines6510.empty() ? row.lines6510 : row.lines6310;
        EXPECT_EQ(instrument.TakeLines(), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Families, ExchangeOnFamily,
                         ::testing::Values(fntest::kModel6310, fntest::kModel6510));

struct RefusalCase {
    const char* pName;
    Call call;
    ViStatus nStatus;
    std::string strText;  // expected within the recorded error
};

// Refused arguments: the status, the recorded text, and nothing on the wire.
TEST(LiveRefusals, RefusedArgumentsSendNothing) {
    const std::vector<RefusalCase> cases = {
        {"BatteryTestOn6310", TARVEK_StartBatteryTest, IVI_ERROR_FUNCTION_NOT_SUPPORTED,
         "Function is not supported for instrument model '6313'"},
        {"StopBatteryTestOn6310", TARVEK_StopBatteryTest, IVI_ERROR_FUNCTION_NOT_SUPPORTED,
         "function 'TARVEK_StopBatteryTest'"},
        {"ContinuousTriggerChannel",
         [](ViSession vi) { return TARVEK_ConfigureContinuousTrigger(vi, 7, VI_TRUE); },
         IVI_ERROR_CANNOT_RECOVER, "Could not convert defined value '7' to an instrument command."},
        {"ContinuousTriggerBoolean",
         [](ViSession vi) { return TARVEK_ConfigureContinuousTrigger(vi, TARVEK_VAL_CHANNEL1, 2); },
         IVI_ERROR_CANNOT_RECOVER, "defined value '2'"},
        {"AbortListChannel", [](ViSession vi) { return TARVEK_AbortList(vi, -1); },
         IVI_ERROR_CANNOT_RECOVER, "defined value '-1'"},
        {"StartListChannel", [](ViSession vi) { return TARVEK_StartList(vi, 7); },
         IVI_ERROR_CANNOT_RECOVER, "defined value '7'"},
        {"DigitalFunction", [](ViSession vi) { return TARVEK_ConfigureDigitalFunction(vi, 2, 9); },
         IVI_ERROR_CANNOT_RECOVER, "defined value '9'"},
        {"DigitalPolarity", [](ViSession vi) { return TARVEK_ConfigureDigitalPolarity(vi, 1, 2); },
         IVI_ERROR_CANNOT_RECOVER, "defined value '2'"},
        {"PowerOnState", [](ViSession vi) { return TARVEK_ConfigurePowerOnState(vi, 3, 1); },
         IVI_ERROR_CANNOT_RECOVER, "defined value '3'"},
        {"Initiate", TARVEK_Initiate, IVI_ERROR_FUNCTION_NOT_SUPPORTED,
         "function 'TARVEK_Initiate'"},
        {"TriggeredVoltageLevel",
         [](ViSession vi) { return TARVEK_ConfigureTriggeredVoltageLevel(vi, "CH1", 1.0); },
         IVI_ERROR_FUNCTION_NOT_SUPPORTED, "function 'TARVEK_ConfigureTriggeredVoltageLevel'"},
        {"TriggeredCurrentLimit",
         [](ViSession vi) { return TARVEK_ConfigureTriggeredCurrentLimit(vi, "CH1", 1.0); },
         IVI_ERROR_FUNCTION_NOT_SUPPORTED, "function 'TARVEK_ConfigureTriggeredCurrentLimit'"},
        {"OutputRangeType",
         [](ViSession vi) { return TARVEK_ConfigureOutputRange(vi, "CH1", 2, 1.0); },
         IVI_ERROR_INVALID_VALUE,
         "Invalid value '2' for function 'ConfigureOutputRange', parameter 'RangeType'."},
        {"OutputState",
         [](ViSession vi) {
             ViBoolean bState = VI_FALSE;
             return TARVEK_QueryOutputState(vi, "CH1", 5, &bState);
         },
         IVI_ERROR_VALUE_NOT_SUPPORTED,
         "Enumeration value '5' passed as the value for parameter 'OutputState' in function "
         "'QueryOutputState'."},
        {"MeasurementType",
         [](ViSession vi) {
             ViReal64 dValue = 0.0;
             return TARVEK_Measure(vi, "CH1", 2, &dValue);
         },
         IVI_ERROR_VALUE_NOT_SUPPORTED, "parameter 'MeasurementType' in function 'Measure'"},
        {"TriggerSource",
         [](ViSession vi) {
             return TARVEK_ConfigureTriggerSource(vi, "CH1", TARVEK_VAL_TRIG_RTSI_0);
         },
         IVI_ERROR_VALUE_NOT_SUPPORTED, "TRIGGER_SOURCE"},
        {"UnknownChannel",
         [](ViSession vi) { return TARVEK_ConfigureVoltageLevel(vi, "CH4", 1.0); },
         IVI_ERROR_UNKNOWN_PHYSICAL_IDENTIFIER, "The identifier 'CH4' is not defined"},
        {"TwoChannelsToMeasure",
         [](ViSession vi) {
             ViReal64 dValue = 0.0;
             return TARVEK_Measure(vi, "CH1,CH2", TARVEK_VAL_MEASURE_VOLTAGE, &dValue);
         },
         IVI_ERROR_BADLY_FORMED_SELECTOR, "Only a single repeated capability identifier"},
        {"NoSelector", [](ViSession vi) { return TARVEK_ConfigureOutputEnabled(vi, "", VI_TRUE); },
         IVI_ERROR_CHANNEL_NAME_REQUIRED, "has 3 physical names defined"},
    };
    LiveInstrument instrument(fntest::kModel6310);
    for (const RefusalCase& row : cases) {
        SCOPED_TRACE(row.pName);
        EXPECT_EQ(row.call(instrument.vi()), row.nStatus);
        const fntest::RecordedError error = LastError(instrument.vi());
        EXPECT_EQ(error.nCode, row.nStatus);
        EXPECT_NE(error.strText.find(row.strText), std::string::npos) << error.strText;
        EXPECT_EQ(instrument.TakeLines(), Lines{});
        TARVEK_ClearError(instrument.vi());
    }
}

TEST(LiveRefusals, OneOutputModelKnowsOnlyItsFirstChannel) {
    LiveInstrument instrument(fntest::kModel6510);
    ViReal64 dValue = 0.0;
    EXPECT_EQ(TARVEK_ConfigureVoltageLevel(instrument.vi(), "CH2", 1.0),
              IVI_ERROR_UNKNOWN_PHYSICAL_IDENTIFIER);
    EXPECT_EQ(TARVEK_Measure(instrument.vi(), "CH3", TARVEK_VAL_MEASURE_VOLTAGE, &dValue),
              IVI_ERROR_UNKNOWN_PHYSICAL_IDENTIFIER);
    EXPECT_EQ(instrument.TakeLines(), Lines{});
}

struct NullCase {
    const char* pName;
    Call call;
    const char* pFunction;
    const char* pParameter;
};

TEST(LiveRefusals, NullOutputsAreNamedAndNothingIsSent) {
    const std::vector<NullCase> cases = {
        {"MaxCurrent",
         [](ViSession vi) { return TARVEK_QueryMaxCurrentLimit(vi, "CH1", 5.0, nullptr); },
         "TARVEK_QueryMaxCurrentLimit", "MaxCurrentLimit"},
        {"MaxVoltage",
         [](ViSession vi) { return TARVEK_QueryMaxVoltageLevel(vi, "CH1", 5.0, nullptr); },
         "TARVEK_QueryMaxVoltageLevel", "MaxVoltageLevel"},
        {"OutputState",
         [](ViSession vi) {
             return TARVEK_QueryOutputState(vi, "CH1", TARVEK_VAL_OUTPUT_CONSTANT_VOLTAGE, nullptr);
         },
         "TARVEK_QueryOutputState", "InState"},
        {"Measure",
         [](ViSession vi) {
             return TARVEK_Measure(vi, "CH1", TARVEK_VAL_MEASURE_VOLTAGE, nullptr);
         },
         "TARVEK_Measure", "Measurement"},
        {"MeasureCurrent", [](ViSession vi) { return TARVEK_MeasureCurrent(vi, nullptr); },
         "TARVEK_MeasureCurrent", "Val"},
        {"MeasureVoltage", [](ViSession vi) { return TARVEK_MeasureVoltage(vi, nullptr); },
         "TARVEK_MeasureVoltage", "Val"},
        {"QueryChannelVoltage",
         [](ViSession vi) {
             ViReal64 dCurrent = 0.0;
             return TARVEK_QueryChannel(vi, nullptr, &dCurrent);
         },
         "TARVEK_QueryChannel", "Voltage"},
        {"QueryChannelCurrent",
         [](ViSession vi) {
             ViReal64 dVoltage = 0.0;
             return TARVEK_QueryChannel(vi, &dVoltage, nullptr);
         },
         "TARVEK_QueryChannel", "Current"},
        {"PowerOnState",
         [](ViSession vi) {
             ViInt32 nLocation = 0;
             return TARVEK_QueryPowerOnState(vi, nullptr, &nLocation);
         },
         "TARVEK_QueryPowerOnState", "State"},
        {"PowerOnLocation",
         [](ViSession vi) {
             ViInt32 nState = 0;
             return TARVEK_QueryPowerOnState(vi, &nState, nullptr);
         },
         "TARVEK_QueryPowerOnState", "MemoryLocation"},
    };
    LiveInstrument instrument(fntest::kModel6310);
    for (const NullCase& row : cases) {
        SCOPED_TRACE(row.pName);
        EXPECT_EQ(row.call(instrument.vi()), IVI_ERROR_NULL_POINTER);
        EXPECT_EQ(LastError(instrument.vi()).strText,
                  std::string("Null pointer passed for function '") + row.pFunction +
                      "', parameter '" + row.pParameter + "'.");
        EXPECT_EQ(instrument.TakeLines(), Lines{});
    }
}

TEST(LiveRefusals, EveryFunctionRefusesAnInvalidHandle) {
    const ViSession vi = 0;
    ViReal64 dValue = 0.0;
    ViBoolean bValue = VI_FALSE;
    ViInt32 nValue = 0;
    const std::vector<ViStatus> statuses = {
        TARVEK_ConfigureVoltageLevel(vi, "CH1", 1.0),
        TARVEK_ConfigureOutputRange(vi, "CH1", 0, 1.0),
        TARVEK_QueryMaxCurrentLimit(vi, "CH1", 1.0, &dValue),
        TARVEK_QueryOutputState(vi, "CH1", 0, &bValue),
        TARVEK_Measure(vi, "CH1", 0, &dValue),
        TARVEK_ResetOutputProtection(vi, "CH1"),
        TARVEK_ClearOCP(vi),
        TARVEK_ConfigureTriggerSource(vi, "CH1", 0),
        TARVEK_Initiate(vi),
        TARVEK_ConfigureTriggeredVoltageLevel(vi, "CH1", 1.0),
        TARVEK_Abort(vi),
        TARVEK_StartList(vi, 0),
        TARVEK_StartBatteryTest(vi),
        TARVEK_StopDataLogger(vi),
        TARVEK_QueryPowerOnState(vi, &nValue, &nValue),
        TARVEK_ClearAndReboot(vi),
    };
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(statuses[i], IVI_ERROR_INVALID_SESSION_HANDLE);
    }
}

// An instrument that rejects a command makes the status check fail the call.
TEST(LiveStatus, InstrumentRejectionSurfacesThroughTheStatusCheck) {
    LiveInstrument instrument(fntest::kModel6310);
    // No list is enabled on the output, so the instrument refuses to start one.
    EXPECT_EQ(TARVEK_StartList(instrument.vi(), TARVEK_VAL_CHANNEL1), IVI_ERROR_INSTRUMENT_STATUS);
    EXPECT_EQ(instrument.TakeLines(), (Lines{"INIT:IMM 0", "*ESR?"}));
}

// Without the status check option a successful write is the whole exchange.
TEST(LiveStatus, WithoutStatusCheckOnlyTheCommandIsSent) {
    LiveInstrument instrument(fntest::kModel6510, "");
    EXPECT_EQ(TARVEK_StopBatteryTest(instrument.vi()), VI_SUCCESS);
    EXPECT_EQ(TARVEK_Abort(instrument.vi()), VI_SUCCESS);
    // Nothing waits for an answer, so the lines may still be on their way.
    EXPECT_TRUE(instrument.Instrument().WaitForLines(4, std::chrono::milliseconds(3000)));
    EXPECT_EQ(instrument.TakeLines(), (Lines{"BATT:MOD:STAT 0", "ABOR", "ABOR", "ABOR"}));
}

}  // namespace
