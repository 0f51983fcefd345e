// The attributes that have exported convenience functions,
// TARVEK_Get<Name> and (X_GS) TARVEK_Set<Name>: each is the typed attribute
// access with no channel selector and the attribute's id. <Name> is the
// attribute name in mixed case, abbreviations OCP and OVP kept upper case.
#pragma once

#include "TARVEK.h"

// X_GS: getter and setter; X_G: getter only. The _STRING forms take the
// buffer size and buffer of the string protocol.
#define TARVEK_ATTRIBUTE_WRAPPERS(X_GS, X_G, X_GS_STRING, X_G_STRING)                            \
    /* Output and protection */                                                                  \
    X_GS(ViReal64, CurrentLevel, CURRENT_LEVEL)                                                  \
    X_GS(ViReal64, CurrentProtectionLevel, CURRENT_PROTECTION_LEVEL)                             \
    X_GS(ViBoolean, OCPEnabled, OCP_ENABLED)                                                     \
    X_G(ViBoolean, OCPTripped, OCP_TRIPPED)                                                      \
    X_GS(ViReal64, VoltageProtectionLevel, VOLTAGE_PROTECTION_LEVEL)                             \
    X_G(ViBoolean, OVPTripped, OVP_TRIPPED)                                                      \
    X_GS(ViReal64, CurrentSlewRate, CURRENT_SLEW_RATE)                                           \
    X_GS(ViReal64, VoltageSlewRate, VOLTAGE_SLEW_RATE)                                           \
    X_GS(ViReal64, VoltageMaximum, VOLTAGE_MAXIMUM)                                              \
    X_GS(ViReal64, VoltageMinimum, VOLTAGE_MINIMUM)                                              \
    X_GS(ViBoolean, VoltageSenseEnabled, VOLTAGE_SENSE_ENABLED)                                  \
    X_GS(ViInt32, OutputMode, OUTPUT_MODE)                                                       \
    X_GS(ViInt32, SelectedChannel, SELECTED_CHANNEL)                                             \
    X_GS(ViBoolean, TimerEnabled, TIMER_ENABLED)                                                 \
    X_GS_STRING(TimerRun, TIMER_RUN)                                                             \
    /* List mode */                                                                              \
    X_GS(ViInt32, SelectedList, SELECTED_LIST)                                                   \
    X_GS(ViInt32, SelectedStep, SELECTED_STEP)                                                   \
    X_GS(ViReal64, StepVoltage, STEP_VOLTAGE)                                                    \
    X_GS(ViReal64, StepCurrent, STEP_CURRENT)                                                    \
    X_GS(ViReal64, ListDwell, LIST_DWELL)                                                        \
    X_GS(ViInt32, ListPace, LIST_PACE)                                                           \
    X_GS(ViInt32, ListRepeatCount, LIST_REPEAT_COUNT)                                            \
    X_GS(ViInt32, ListTerminateState, LIST_TERMINATE_STATE)                                      \
    X_GS(ViInt32, NextList, NEXT_LIST)                                                           \
    X_GS(ViInt32, ListTriggerSource, LIST_TRIGGER_SOURCE)                                        \
    X_GS(ViBoolean, BeginningOfStepTriggerEnabled, BEGINNING_OF_STEP_TRIGGER_ENABLED)            \
    X_GS(ViBoolean, EndOfStepTriggerEnabled, END_OF_STEP_TRIGGER_ENABLED)                        \
    /* Battery test */                                                                           \
    X_GS(ViBoolean, BatteryTestAhLoggingEnabled, BATTERY_TEST_AH_LOGGING_ENABLED)                \
    X_GS(ViBoolean, BatteryTestChargeModeEnabled, BATTERY_TEST_CHARGE_MODE_ENABLED)              \
    X_GS(ViReal64, BatteryTestCurrent, BATTERY_TEST_CURRENT)                                     \
    X_GS(ViReal64, BatteryTestEndCurrent, BATTERY_TEST_END_CURRENT)                              \
    X_GS(ViInt32, BatteryTestEndDelay, BATTERY_TEST_END_DELAY)                                   \
    X_G(ViBoolean, BatteryTestIsRunning, BATTERY_TEST_IS_RUNNING)                                \
    X_GS(ViReal64, BatteryTestSampleTime, BATTERY_TEST_SAMPLE_TIME)                              \
    X_GS(ViInt32, BatteryTestTriggerSource, BATTERY_TEST_TRIGGER_SOURCE)                         \
    X_GS(ViReal64, BatteryTestVoltage, BATTERY_TEST_VOLTAGE)                                     \
    X_GS(ViBoolean, BatteryTestWhLoggingEnabled, BATTERY_TEST_WH_LOGGING_ENABLED)                \
    X_GS(ViReal64, BatteryTestFailSafeAhValue, BATTERY_TEST_FAIL_SAFE_AH_VALUE)                  \
    X_GS(ViBoolean, BatteryTestFailSafeEnabled, BATTERY_TEST_FAIL_SAFE_ENABLED)                  \
    X_GS(ViReal64, BatteryTestFailSafeOverVoltageProtection,                                     \
         BATTERY_TEST_FAIL_SAFE_OVER_VOLTAGE_PROTECTION)                                         \
    X_GS_STRING(BatteryTestFailSafeTime, BATTERY_TEST_FAIL_SAFE_TIME)                            \
    X_GS(ViReal64, BatteryTestFailSafeWhValue, BATTERY_TEST_FAIL_SAFE_WH_VALUE)                  \
    /* Data logger and digital I/O */                                                            \
    X_GS(ViReal64, DataLoggerSampleInterval, DATA_LOGGER_SAMPLE_INTERVAL)                        \
    X_GS(ViInt32, DataLoggerTriggerSource, DATA_LOGGER_TRIGGER_SOURCE)                           \
    X_GS(ViInt32, DigitalInhibitMode, DIGITAL_INHIBIT_MODE)                                      \
    X_G(ViInt32, DigitalInputData, DIGITAL_INPUT_DATA)                                           \
    X_GS(ViInt32, DigitalOutputData, DIGITAL_OUTPUT_DATA)                                        \
    /* Status registers */                                                                       \
    X_GS(ViInt32, QuestionableEnableRegister, QUESTIONABLE_ENABLE_REGISTER)                      \
    X_G(ViInt32, QuestionableEventRegister, QUESTIONABLE_EVENT_REGISTER)                         \
    X_GS(ViInt32, QuestionableInstrumentEnableRegister, QUESTIONABLE_INSTRUMENT_ENABLE_REGISTER) \
    X_G(ViInt32, QuestionableInstrumentEventRegister, QUESTIONABLE_INSTRUMENT_EVENT_REGISTER)    \
    X_G(ViInt32, QuestionableInstrumentSummary1ConditionRegister,                                \
        QUESTIONABLE_INSTRUMENT_SUMMARY1_CONDITION_REGISTER)                                     \
    X_GS(ViInt32, QuestionableInstrumentSummary1EnableRegister,                                  \
         QUESTIONABLE_INSTRUMENT_SUMMARY1_ENABLE_REGISTER)                                       \
    X_G(ViInt32, QuestionableInstrumentSummary1EventRegister,                                    \
        QUESTIONABLE_INSTRUMENT_SUMMARY1_EVENT_REGISTER)                                         \
    X_G(ViInt32, QuestionableInstrumentSummary2ConditionRegister,                                \
        QUESTIONABLE_INSTRUMENT_SUMMARY2_CONDITION_REGISTER)                                     \
    X_GS(ViInt32, QuestionableInstrumentSummary2EnableRegister,                                  \
         QUESTIONABLE_INSTRUMENT_SUMMARY2_ENABLE_REGISTER)                                       \
    X_G(ViInt32, QuestionableInstrumentSummary2EventRegister,                                    \
        QUESTIONABLE_INSTRUMENT_SUMMARY2_EVENT_REGISTER)                                         \
    X_G(ViInt32, QuestionableInstrumentSummary3ConditionRegister,                                \
        QUESTIONABLE_INSTRUMENT_SUMMARY3_CONDITION_REGISTER)                                     \
    X_GS(ViInt32, QuestionableInstrumentSummary3EnableRegister,                                  \
         QUESTIONABLE_INSTRUMENT_SUMMARY3_ENABLE_REGISTER)                                       \
    X_G(ViInt32, QuestionableInstrumentSummary3EventRegister,                                    \
        QUESTIONABLE_INSTRUMENT_SUMMARY3_EVENT_REGISTER)                                         \
    X_GS(ViInt32, StandardEventEnableRegister, STANDARD_EVENT_ENABLE_REGISTER)                   \
    X_G(ViInt32, StandardEventEventRegister, STANDARD_EVENT_EVENT_REGISTER)                      \
    X_GS(ViInt32, StatusByteEnableRegister, STATUS_BYTE_ENABLE_REGISTER)                         \
    X_G(ViInt32, StatusByteEventRegister, STATUS_BYTE_EVENT_REGISTER)                            \
    X_GS(ViBoolean, PowerOnStatusClearEnabled, POWER_ON_STATUS_CLEAR_ENABLED)                    \
    /* System */                                                                                 \
    X_GS(ViBoolean, BeeperEnabled, BEEPER_ENABLED)                                               \
    X_GS(ViBoolean, DisplayEnabled, DISPLAY_ENABLED)                                             \
    X_GS(ViBoolean, LxiIdentifyEnabled, LXI_IDENTIFY_ENABLED)                                    \
    X_GS(ViInt32, RemoteState, REMOTE_STATE)                                                     \
    X_G_STRING(ScpiVersion, SCPI_VERSION)                                                        \
    X_GS_STRING(SystemDate, SYSTEM_DATE)                                                         \
    X_GS_STRING(SystemTime, SYSTEM_TIME)
