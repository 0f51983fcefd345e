// The instrument's attribute catalogue as rows, one list per group of
// attributes. Every row names its attribute, its value type and access, and
// then, as AttributeRow members, what its callbacks say to the instrument.
//
//   G(NAME, TYPE, ACCESS, members...)        callbacks generated from the row
//   H(NAME, TYPE, ACCESS, NOTE, SIMULATED, members...)
//                                            hand-written callbacks
//                                            (CatalogueSpecial.cpp); NOTE says
//                                            what they do and SIMULATED (or
//                                            null: from the row) what a
//                                            simulated read gives, for the
//                                            reference
//
// Each list expands into the row table, the named callbacks
// TARVEK_get_<NAME> / TARVEK_set_<NAME> (read-only rows have no setter) and the
// registration, all in list order. Commands and queries carry their own "\n".
#pragma once

#include <span>

#include "driver/attributes/AttributeRows.h"
#include "driver/attributes/EnumTables.h"

namespace tarvek {

// One catalogue row with what the reference shows about it.
struct CatalogueEntry {
    AttributeRow row;
    const char* pNote = nullptr;       // hand-written rows: what their callbacks do
    const char* pSimulated = nullptr;  // hand-written rows: simulated reads, when not the row's
};

// A group of consecutive rows, as the reference lists them.
struct CatalogueGroup {
    const char* pTitle;
    std::span<const CatalogueEntry> entries;
};

// What the instrument's grammar holds for each kind of text value; a write of
// anything else is refused before it is sent.
inline constexpr drt::TextGrammar kDateText{"0123456789, ",
                                            "digits, commas and spaces (year,month,day)"};
inline constexpr drt::TextGrammar kTimeText{
    "0123456789.,: ", "digits, '.', commas, colons and spaces (hour,minute,second)"};
inline constexpr drt::TextGrammar kDurationText{
    "0123456789.:+-Ee ",
    "seconds or hours:minutes:seconds (digits, '.', ':', 'E', signs and spaces)"};

// Every row of the catalogue in registration order, and the same rows grouped.
std::span<const CatalogueEntry> CatalogueEntries();
std::span<const CatalogueGroup> CatalogueGroups();

}  // namespace tarvek

// clang-format off
// Output and protection
#define TARVEK_OUTPUT_ROWS(G, H) \
    G(VOLTAGE_LEVEL, Real64, ReadWrite, .query = "SOUR:VOLT:LEV:IMM:AMPL?\n", \
      .command = "SOUR:VOLT:LEV:IMM:AMPL %0.15lg\n", .sim = 0.0, .channel = ChannelKind::Output) \
    H(OVP_ENABLED, Boolean, ReadWrite, \
      "Always on: reads VI_TRUE; accepts only VI_TRUE and sends nothing", nullptr, \
      .values = &drt::BooleanMap, .sim = VI_TRUE, .simKind = SimKind::Fixed, \
      .channel = ChannelKind::Output) \
    H(OVP_LIMIT, Real64, ReadWrite, \
      "Selects the channel, then reads or writes VOLTAGE_PROTECTION_LEVEL", \
      "as VOLTAGE_PROTECTION_LEVEL", \
      .channel = ChannelKind::Output) \
    H(CURRENT_LIMIT_BEHAVIOR, Int32, ReadWrite, \
      "Held by the driver per channel (0 regulate, 1 trip); sends nothing", nullptr, \
      .values = &CurrentLimitBehaviorMap, .sim = TARVEK_VAL_CURRENT_REGULATE, \
      .channel = ChannelKind::Output) \
    H(CURRENT_LIMIT, Real64, ReadWrite, \
      "Selects the channel, then CURRENT_PROTECTION_LEVEL (trip) or CURRENT_LEVEL (regulate)", \
      "as the attribute it reaches", \
      .channel = ChannelKind::Output) \
    G(OUTPUT_ENABLED, Boolean, ReadWrite, .query = "OUTP:STAT?\n", .command = "OUTP:STAT %s\n", \
      .values = &drt::BooleanMap, .sim = VI_TRUE, .channel = ChannelKind::Output) \
    G(CURRENT_LEVEL, Real64, ReadWrite, .query = "SOUR:CURR:LEV:IMM:AMPL?\n", \
      .command = "SOUR:CURR:LEV:IMM:AMPL %0.15lg\n", .sim = 0.0) \
    G(CURRENT_PROTECTION_LEVEL, Real64, ReadWrite, .query = "SOUR:CURR:PROT:LEV?\n", \
      .command = "SOUR:CURR:PROT:LEV %0.15lg\n", .sim = 0.0) \
    G(OCP_ENABLED, Boolean, ReadWrite, .query = "SOUR:CURR:PROT:STAT?\n", \
      .command = "SOUR:CURR:PROT:STAT %s\n", .values = &drt::BooleanMap, .sim = VI_TRUE) \
    G(OCP_TRIPPED, Boolean, ReadOnly, .query = "SOUR:CURR:PROT:TRIP?\n", \
      .values = &drt::BooleanMap, .sim = VI_FALSE, .simKind = SimKind::Fixed) \
    G(VOLTAGE_PROTECTION_LEVEL, Real64, ReadWrite, .query = "SOUR:VOLT:PROT:LEV:AMPL?\n", \
      .command = "SOUR:VOLT:PROT:LEV:AMPL %0.15lg\n", .sim = 0.0) \
    G(OVP_TRIPPED, Boolean, ReadOnly, .query = "SOUR:VOLT:PROT:TRIP?\n", \
      .values = &drt::BooleanMap, .sim = VI_FALSE, .simKind = SimKind::Fixed) \
    G(CURRENT_SLEW_RATE, Real64, ReadWrite, .query = "SOUR:CURR:SLOP?\n", \
      .command = "SOUR:CURR:SLOP %0.15lg\n", .sim = 0.0) \
    G(VOLTAGE_SLEW_RATE, Real64, ReadWrite, .query = "SOUR:VOLT:SLOP?\n", \
      .command = "SOUR:VOLT:SLOP %0.15lg\n", .sim = 0.0) \
    G(VOLTAGE_MAXIMUM, Real64, ReadWrite, .query = "SOUR:VOLT:MAX?\n", \
      .command = "SOUR:VOLT:MAX %0.15lg\n", .sim = 0.0) \
    G(VOLTAGE_MINIMUM, Real64, ReadWrite, .query = "SOUR:VOLT:MIN?\n", \
      .command = "SOUR:VOLT:MIN %0.15lg\n", .sim = 0.0) \
    G(VOLTAGE_SENSE_ENABLED, Boolean, ReadWrite, .query = "SOUR:VOLT:SENS?\n", \
      .command = "SOUR:VOLT:SENS %s\n", .values = &drt::BooleanMap, .sim = VI_TRUE) \
    G(OUTPUT_MODE, Int32, ReadWrite, .query = "OUTP:PAIR?\n", .command = "OUTP:PAIR %s\n", \
      .values = &OutputModeMap, .unsupported = kFamily6510, .sim = TARVEK_VAL_OUTPUT_MODE_OFF) \
    G(TIMER_ENABLED, Boolean, ReadWrite, .query = "OUTP:TIM?\n", .command = "OUTP:TIM %s\n", \
      .values = &drt::BooleanMap, .sim = VI_TRUE) \
    G(TIMER_RUN, String, ReadWrite, .query = "OUTP:TIM:COUN?\n", \
      .command = "OUTP:TIM:COUN %s\n", .sim = "0", .text = &kDurationText)

// Triggering
#define TARVEK_TRIGGER_ROWS(G, H) \
    H(TRIGGER_SOURCE, Int32, ReadWrite, \
      "Selects the channel, then LIST_TRIGGER_SOURCE (immediate, external, software only)", \
      nullptr, \
      .values = &ClassTriggerSourceMap, .sim = TARVEK_VAL_TRIG_IMMEDIATE, \
      .channel = ChannelKind::Output) \
    H(TRIGGERED_CURRENT_LIMIT, Real64, ReadWrite, "Not supported", "not supported") \
    H(TRIGGERED_VOLTAGE_LEVEL, Real64, ReadWrite, "Not supported", "not supported")

// List mode
#define TARVEK_LIST_ROWS(G, H) \
    G(SELECTED_LIST, Int32, ReadWrite, .query = "SOUR:LIST:NUMB?\n", \
      .command = "SOUR:LIST:NUMB %ld\n", .sim = 1) \
    G(SELECTED_STEP, Int32, ReadWrite, .query = "SOUR:LIST:STEP:NUMBER?\n", \
      .command = "SOUR:LIST:STEP:NUMBER %ld\n", .sim = 1) \
    G(STEP_VOLTAGE, Real64, ReadWrite, .query = "SOUR:LIST:VOLT:LEV?\n", \
      .command = "SOUR:LIST:VOLT:LEV %0.15lg\n", .sim = 0.0) \
    G(STEP_CURRENT, Real64, ReadWrite, .query = "SOUR:LIST:CURR:LEV?\n", \
      .command = "SOUR:LIST:CURR:LEV %0.15lg\n", .sim = 0.0) \
    G(LIST_DWELL, Real64, ReadWrite, .query = "SOUR:LIST:DWEL?\n", \
      .command = "SOUR:LIST:DWEL %0.15lg\n", .sim = 0.0) \
    G(LIST_PACE, Int32, ReadWrite, .query = "SOUR:LIST:STEP?\n", \
      .command = "SOUR:LIST:STEP %s\n", .values = &ListPaceMap, \
      .sim = TARVEK_VAL_LIST_PACE_TRIGGER) \
    G(LIST_REPEAT_COUNT, Int32, ReadWrite, .query = "SOUR:LIST:COUN?\n", \
      .command = "SOUR:LIST:COUN %ld\n", .sim = 0) \
    G(LIST_TERMINATE_STATE, Int32, ReadWrite, .query = "SOUR:LIST:TERM:LAST?\n", \
      .command = "SOUR:LIST:TERM:LAST %s\n", .values = &ListTerminateStateMap, \
      .sim = TARVEK_VAL_LIST_TERMINATE_STATEDC) \
    G(NEXT_LIST, Int32, ReadWrite, .query = "SOUR:LIST:NEXT?\n", \
      .command = "SOUR:LIST:NEXT %ld\n", .sim = 0) \
    G(LIST_TRIGGER_SOURCE, Int32, ReadWrite, .query = "TRIG:SEQ:SOUR?\n", \
      .command = "TRIG:SEQ:SOUR %s\n", .values = &SpecificTriggerSourceMap, \
      .sim = TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_BUS) \
    G(BEGINNING_OF_STEP_TRIGGER_ENABLED, Boolean, ReadWrite, \
      .query = "SOUR:LIST:TOUT:BOST:DATA?\n", .command = "SOUR:LIST:TOUT:BOST:DATA %s\n", \
      .values = &drt::BooleanMap, .sim = VI_TRUE) \
    G(END_OF_STEP_TRIGGER_ENABLED, Boolean, ReadWrite, .query = "SOUR:LIST:TOUT:EOST:DATA?\n", \
      .command = "SOUR:LIST:TOUT:EOST:DATA %s\n", .values = &drt::BooleanMap, .sim = VI_TRUE)

// Battery test
#define TARVEK_BATTERY_ROWS(G, H) \
    G(BATTERY_TEST_AH_LOGGING_ENABLED, Boolean, ReadWrite, .query = "BATT:CONF:AH?\n", \
      .command = "BATT:CONF:AH %s\n", .values = &drt::BooleanMap, .unsupported = kFamily6310, \
      .sim = VI_TRUE) \
    G(BATTERY_TEST_CHARGE_MODE_ENABLED, Boolean, ReadWrite, .query = "BATT:MOD:ENAB?\n", \
      .command = "BATT:MOD:ENAB %s\n", .values = &drt::BooleanMap, .unsupported = kFamily6310, \
      .sim = VI_TRUE) \
    G(BATTERY_TEST_CURRENT, Real64, ReadWrite, .query = "BATT:MOD:CURR?\n", \
      .command = "BATT:MOD:CURR %0.15lg\n", .unsupported = kFamily6310, .sim = 0.0) \
    G(BATTERY_TEST_END_CURRENT, Real64, ReadWrite, .query = "BATT:MOD:END:CURR?\n", \
      .command = "BATT:MOD:END:CURR %0.15lg\n", .unsupported = kFamily6310, .sim = 0.0) \
    G(BATTERY_TEST_END_DELAY, Int32, ReadWrite, .query = "BATT:MOD:END:DEL?\n", \
      .command = "BATT:MOD:END:DEL %ld\n", .unsupported = kFamily6310, .sim = 0) \
    G(BATTERY_TEST_IS_RUNNING, Boolean, ReadOnly, .query = "BATT:STAT?\n", \
      .values = &drt::BooleanMap, .unsupported = kFamily6310, .sim = VI_TRUE, \
      .simKind = SimKind::Fixed) \
    G(BATTERY_TEST_SAMPLE_TIME, Real64, ReadWrite, .query = "BATT:CONF:SAMPL?\n", \
      .command = "BATT:CONF:SAMPL %0.15lg\n", .unsupported = kFamily6310, .sim = 1.0) \
    G(BATTERY_TEST_TRIGGER_SOURCE, Int32, ReadWrite, .query = "BATT:CONF:TRIG:SOUR?\n", \
      .command = "BATT:CONF:TRIG:SOUR %s\n", .values = &SpecificTriggerSourceMap, \
      .unsupported = kFamily6310, .sim = TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_BUS) \
    G(BATTERY_TEST_VOLTAGE, Real64, ReadWrite, .query = "BATT:MOD:VOLT?\n", \
      .command = "BATT:MOD:VOLT %0.15lg\n", .unsupported = kFamily6310, .sim = 0.0) \
    G(BATTERY_TEST_WH_LOGGING_ENABLED, Boolean, ReadWrite, .query = "BATT:CONF:WH?\n", \
      .command = "BATT:CONF:WH %s\n", .values = &drt::BooleanMap, .unsupported = kFamily6310, \
      .sim = VI_TRUE) \
    G(BATTERY_TEST_FAIL_SAFE_AH_VALUE, Real64, ReadWrite, .query = "BATT:FAILSAF:A?\n", \
      .command = "BATT:FAILSAF:A %0.15lg\n", .unsupported = kFamily6310, .sim = 0.0) \
    G(BATTERY_TEST_FAIL_SAFE_ENABLED, Boolean, ReadWrite, .query = "BATT:FAILSAF:STAT?\n", \
      .command = "BATT:FAILSAF:STAT %s\n", .values = &drt::BooleanMap, \
      .unsupported = kFamily6310, .sim = VI_FALSE) \
    G(BATTERY_TEST_FAIL_SAFE_OVER_VOLTAGE_PROTECTION, Real64, ReadWrite, \
      .query = "BATT:FAILSAF:OVP?\n", .command = "BATT:FAILSAF:OVP %0.15lg\n", \
      .unsupported = kFamily6310, .sim = 0.0) \
    G(BATTERY_TEST_FAIL_SAFE_TIME, String, ReadWrite, .query = "BATT:FAILSAF:TIM?\n", \
      .command = "BATT:FAILSAF:TIM %s\n", .unsupported = kFamily6310, .sim = "0", \
      .text = &kDurationText) \
    G(BATTERY_TEST_FAIL_SAFE_WH_VALUE, Real64, ReadWrite, .query = "BATT:FAILSAF:W?\n", \
      .command = "BATT:FAILSAF:W %0.15lg\n", .unsupported = kFamily6310, .sim = 0.0)

// Data logger and digital I/O
#define TARVEK_LOGGER_DIGITAL_ROWS(G, H) \
    G(DATA_LOGGER_SAMPLE_INTERVAL, Real64, ReadWrite, .query = "SENS:DLOG:FUNC:TINT?\n", \
      .command = "SENS:DLOG:FUNC:TINT %0.15lg\n", .sim = 1.0) \
    G(DATA_LOGGER_TRIGGER_SOURCE, Int32, ReadWrite, .query = "TRIG:DLOG:SOUR?\n", \
      .command = "TRIG:DLOG:SOUR %s\n", .values = &SpecificTriggerSourceMap, \
      .sim = TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_BUS) \
    G(DIGITAL_INHIBIT_MODE, Int32, ReadWrite, .query = "OUTP:INH:MODE?\n", \
      .command = "OUTP:INH:MODE %s\n", .values = &InhibitModeMap, \
      .sim = TARVEK_VAL_INHIBIT_MODE_LATCHING) \
    G(DIGITAL_INPUT_DATA, Int32, ReadOnly, .query = "SOUR:DIG:INP:DATA?\n", .sim = 0, \
      .simKind = SimKind::Fixed) \
    G(DIGITAL_OUTPUT_DATA, Int32, ReadWrite, .query = "SOUR:DIG:OUTP:DATA?\n", \
      .command = "SOUR:DIG:OUTP:DATA %ld\n", .sim = 0)

// Status registers
#define TARVEK_STATUS_ROWS(G, H) \
    G(QUESTIONABLE_ENABLE_REGISTER, Int32, ReadWrite, .query = "STAT:QUES:ENAB?\n", \
      .command = "STAT:QUES:ENAB %ld\n", .sim = 0) \
    G(QUESTIONABLE_EVENT_REGISTER, Int32, ReadOnly, .query = "STAT:QUES:EVEN?\n", .sim = 0, \
      .simKind = SimKind::Fixed) \
    G(QUESTIONABLE_INSTRUMENT_ENABLE_REGISTER, Int32, ReadWrite, \
      .query = "STAT:QUES:INST:ENAB?\n", .command = "STAT:QUES:INST:ENAB %ld\n", .sim = 0) \
    G(QUESTIONABLE_INSTRUMENT_EVENT_REGISTER, Int32, ReadOnly, \
      .query = "STAT:QUES:INST:EVEN?\n", .sim = 0, .simKind = SimKind::Fixed) \
    G(QUESTIONABLE_INSTRUMENT_SUMMARY1_CONDITION_REGISTER, Int32, ReadOnly, \
      .query = "STAT:QUES:ISUM1:COND?\n", .sim = 0, .simKind = SimKind::Fixed, \
      .family = {kFamily6510, "STAT:QUES:ISUM:COND?\n"}) \
    G(QUESTIONABLE_INSTRUMENT_SUMMARY1_ENABLE_REGISTER, Int32, ReadWrite, \
      .query = "STAT:QUES:ISUM1:ENAB?\n", .command = "STAT:QUES:ISUM1:ENAB %ld\n", .sim = 0, \
      .family = {kFamily6510, "STAT:QUES:ISUM:ENAB?\n", "STAT:QUES:ISUM:ENAB %ld\n"}) \
    G(QUESTIONABLE_INSTRUMENT_SUMMARY1_EVENT_REGISTER, Int32, ReadOnly, \
      .query = "STAT:QUES:ISUM1?\n", .sim = 0, .simKind = SimKind::Fixed, \
      .family = {kFamily6510, "STAT:QUES:ISUM?\n"}) \
    G(QUESTIONABLE_INSTRUMENT_SUMMARY2_CONDITION_REGISTER, Int32, ReadOnly, \
      .query = "STAT:QUES:ISUM2:COND?\n", .unsupported = kFamily6510, .sim = 0, \
      .simKind = SimKind::Fixed) \
    G(QUESTIONABLE_INSTRUMENT_SUMMARY2_ENABLE_REGISTER, Int32, ReadWrite, \
      .query = "STAT:QUES:ISUM2:ENAB?\n", .command = "STAT:QUES:ISUM2:ENAB %ld\n", \
      .unsupported = kFamily6510, .sim = 0) \
    G(QUESTIONABLE_INSTRUMENT_SUMMARY2_EVENT_REGISTER, Int32, ReadOnly, \
      .query = "STAT:QUES:ISUM2?\n", .unsupported = kFamily6510, .sim = 0, \
      .simKind = SimKind::Fixed) \
    G(QUESTIONABLE_INSTRUMENT_SUMMARY3_CONDITION_REGISTER, Int32, ReadOnly, \
      .query = "STAT:QUES:ISUM3:COND?\n", .unsupported = kFamily6510, .sim = 0, \
      .simKind = SimKind::Fixed) \
    G(QUESTIONABLE_INSTRUMENT_SUMMARY3_ENABLE_REGISTER, Int32, ReadWrite, \
      .query = "STAT:QUES:ISUM3:ENAB?\n", .command = "STAT:QUES:ISUM3:ENAB %ld\n", \
      .unsupported = kFamily6510, .sim = 0) \
    G(QUESTIONABLE_INSTRUMENT_SUMMARY3_EVENT_REGISTER, Int32, ReadOnly, \
      .query = "STAT:QUES:ISUM3?\n", .unsupported = kFamily6510, .sim = 0, \
      .simKind = SimKind::Fixed) \
    G(STANDARD_EVENT_ENABLE_REGISTER, Int32, ReadWrite, .query = "*ESE?\n", \
      .command = "*ESE %ld\n", .sim = 0) \
    G(STANDARD_EVENT_EVENT_REGISTER, Int32, ReadOnly, .query = "*ESR?\n", .sim = 0, \
      .simKind = SimKind::Fixed) \
    G(STATUS_BYTE_ENABLE_REGISTER, Int32, ReadWrite, .query = "*SRE?\n", \
      .command = "*SRE %ld\n", .sim = 0) \
    G(STATUS_BYTE_EVENT_REGISTER, Int32, ReadOnly, .query = "*STB?\n", .sim = 0, \
      .simKind = SimKind::Fixed) \
    G(POWER_ON_STATUS_CLEAR_ENABLED, Boolean, ReadWrite, .query = "*PSC?\n", \
      .command = "*PSC %s\n", .values = &drt::BooleanMap, .sim = VI_TRUE)

// System
#define TARVEK_SYSTEM_ROWS(G, H) \
    G(BEEPER_ENABLED, Boolean, ReadWrite, .query = "SYST:BEEP:STAT?\n", \
      .command = "SYST:BEEP:STAT %s\n", .values = &drt::BooleanMap, .sim = VI_FALSE) \
    G(DISPLAY_ENABLED, Boolean, ReadWrite, .query = "DISP:WIND:STAT?\n", \
      .command = "DISP:WIND:STAT %s\n", .values = &drt::BooleanMap, .sim = VI_TRUE) \
    G(LXI_IDENTIFY_ENABLED, Boolean, ReadWrite, .query = "LXI:IDEN:STAT?\n", \
      .command = "LXI:IDEN:STAT %s\n", .values = &drt::BooleanMap, .sim = VI_TRUE) \
    G(REMOTE_STATE, Int32, ReadWrite, .query = "SYST:COMM:RLST?\n", \
      .command = "SYST:COMM:RLST %s\n", .values = &RemoteStateMap, \
      .sim = TARVEK_VAL_REMOTE_STATE_REMOTE) \
    G(SCPI_VERSION, String, ReadOnly, .query = "SYST:VERS?\n", .sim = "1999.0", \
      .simKind = SimKind::Fixed) \
    G(SYSTEM_DATE, String, ReadWrite, .query = "SYST:DATE?\n", .command = "SYST:DATE %s\n", \
      .sim = "", .text = &kDateText) \
    G(SYSTEM_TIME, String, ReadWrite, .query = "SYST:TIME?\n", .command = "SYST:TIME %s\n", \
      .sim = "", .text = &kTimeText)

// clang-format on

// Every list, in registration order.
#define TARVEK_CATALOGUE_GROUPS(X)                               \
    X("Output and protection", TARVEK_OUTPUT_ROWS)               \
    X("Triggering", TARVEK_TRIGGER_ROWS)                         \
    X("List mode", TARVEK_LIST_ROWS)                             \
    X("Battery test (Series6510 only)", TARVEK_BATTERY_ROWS)     \
    X("Data logger and digital I/O", TARVEK_LOGGER_DIGITAL_ROWS) \
    X("Status registers", TARVEK_STATUS_ROWS)                    \
    X("System", TARVEK_SYSTEM_ROWS)
