#include "driver/attributes/CatalogueFacts.h"

#include <algorithm>

#include "TARVEK.h"

namespace tarvek {

namespace {

// The instruments' ratings, the same on every output of both families.
constexpr double kVoltageMax = 60.0;     // V, output and list step voltage
constexpr double kCurrentMax = 10.0;     // A, output and list step current
constexpr double kOvpMax = 66.0;         // V, over-voltage protection
constexpr double kOcpMax = 11.0;         // A, over-current protection
constexpr double kSlewMax = 1e6;         // V/s and A/s
constexpr double kDaySeconds = 86400.0;  // longest dwell, delay and interval
constexpr double kRegisterMax = 32767;   // 15-bit SCPI status registers
constexpr double kByteMax = 255;         // IEEE 488.2 byte registers, digital port

#define FACT(NAME, TEXT, UNIT, RANGE) \
    { TARVEK_ATTR_##NAME, TEXT, UNIT, RANGE }

// clang-format off
constexpr AttributeFacts kFacts[] = {
    // Output and protection
    FACT(VOLTAGE_LEVEL, "The voltage the output regulates to in constant-voltage operation, "
         "bounded by VOLTAGE_MINIMUM and VOLTAGE_MAXIMUM.", "V", Both(0, kVoltageMax)),
    FACT(OVP_ENABLED, "Whether over-voltage protection guards the output; the instruments "
         "cannot turn it off.", "none", kNoRange),
    FACT(OVP_LIMIT, "The output voltage above which the over-voltage protection turns the output "
         "off.", "V", Both(0, kOvpMax)),
    FACT(CURRENT_LIMIT_BEHAVIOR, "Whether reaching CURRENT_LIMIT makes the output regulate the "
         "current (0) or turn off (1).", "none", Both(0, 1)),
    FACT(CURRENT_LIMIT, "The output current at which the CURRENT_LIMIT_BEHAVIOR takes effect.",
         "A", Both(0, kCurrentMax)),
    FACT(OUTPUT_ENABLED, "Whether the output terminals deliver power.", "none", kNoRange),
    FACT(CURRENT_LEVEL, "The current the selected output regulates to in constant-current "
         "operation.", "A", Both(0, kCurrentMax)),
    FACT(CURRENT_PROTECTION_LEVEL, "The current above which the over-current protection turns "
         "the selected output off when OCP_ENABLED is set.", "A", Both(0, kOcpMax)),
    FACT(OCP_ENABLED, "Whether over-current protection may turn the selected output off.",
         "none", kNoRange),
    FACT(OCP_TRIPPED, "Whether the over-current protection has turned the selected output off "
         "and not yet been cleared.", "none", kNoRange),
    FACT(VOLTAGE_PROTECTION_LEVEL, "The voltage above which the over-voltage protection turns "
         "the selected output off.", "V", Both(0, kOvpMax)),
    FACT(OVP_TRIPPED, "Whether the over-voltage protection has turned the selected output off "
         "and not yet been cleared.", "none", kNoRange),
    FACT(CURRENT_SLEW_RATE, "How fast the selected output's current moves to a new level "
         "(0: as fast as the output can).", "A/s", Both(0, kSlewMax)),
    FACT(VOLTAGE_SLEW_RATE, "How fast the selected output's voltage moves to a new level "
         "(0: as fast as the output can).", "V/s", Both(0, kSlewMax)),
    FACT(VOLTAGE_MAXIMUM, "The highest voltage level the selected output accepts, a guard for "
         "the connected load.", "V", Both(0, kVoltageMax)),
    FACT(VOLTAGE_MINIMUM, "The lowest voltage level the selected output accepts.", "V",
         Both(0, kVoltageMax)),
    FACT(VOLTAGE_SENSE_ENABLED, "Whether the selected output regulates its voltage at the remote "
         "sense terminals rather than at its own terminals.", "none", kNoRange),
    FACT(OUTPUT_MODE, "How the three outputs are combined: independent, in parallel, in series "
         "or tracking.", "none", kNoRange),
    FACT(TIMER_ENABLED, "Whether the selected output turns itself off when TIMER_RUN has "
         "elapsed.", "none", kNoRange),
    FACT(TIMER_RUN, "How long the selected output stays on before the timer turns it off, in "
         "seconds or hours:minutes:seconds.", "s", kNoRange),

    // Triggering
    FACT(TRIGGER_SOURCE, "Which event starts the channel's triggered change.", "none", kNoRange),
    FACT(TRIGGERED_CURRENT_LIMIT, "The current limit a trigger would apply; the instruments have "
         "no triggered levels outside list mode.", "A", kNoRange),
    FACT(TRIGGERED_VOLTAGE_LEVEL, "The voltage level a trigger would apply; the instruments have "
         "no triggered levels outside list mode.", "V", kNoRange),

    // List mode
    FACT(SELECTED_LIST, "Which stored list the list-mode attributes read and write.", "none",
         Both(1, 10)),
    FACT(SELECTED_STEP, "Which step of the selected list the step attributes read and write.",
         "none", Both(1, 100)),
    FACT(STEP_VOLTAGE, "The output voltage during the selected step.", "V", Both(0, kVoltageMax)),
    FACT(STEP_CURRENT, "The output current during the selected step.", "A", Both(0, kCurrentMax)),
    FACT(LIST_DWELL, "How long the selected step lasts when the list is paced by dwell time.",
         "s", Both(0, kDaySeconds)),
    FACT(LIST_PACE, "Whether the list advances a step on each trigger or after each dwell time.",
         "none", kNoRange),
    FACT(LIST_REPEAT_COUNT, "How many times the selected list runs (0: until aborted).", "none",
         Both(0, 65535)),
    FACT(LIST_TERMINATE_STATE, "Whether the output keeps the last step's settings or returns to "
         "its normal settings when the list ends.", "none", kNoRange),
    FACT(NEXT_LIST, "The list that runs after the selected one ends (0: none).", "none",
         Both(0, 10)),
    FACT(LIST_TRIGGER_SOURCE, "Which event starts or paces a list: the bus, the external input "
         "or none awaited.", "none", kNoRange),
    FACT(BEGINNING_OF_STEP_TRIGGER_ENABLED, "Whether the selected step sends a trigger pulse "
         "when it starts.", "none", kNoRange),
    FACT(END_OF_STEP_TRIGGER_ENABLED, "Whether the selected step sends a trigger pulse when it "
         "ends.", "none", kNoRange),

    // Battery test
    FACT(BATTERY_TEST_AH_LOGGING_ENABLED, "Whether the battery test records the charge it moves.",
         "none", kNoRange),
    FACT(BATTERY_TEST_CHARGE_MODE_ENABLED, "Whether the battery test charges the battery rather "
         "than only measuring it.", "none", kNoRange),
    FACT(BATTERY_TEST_CURRENT, "The charging current of the battery test.", "A",
         Both(0, kCurrentMax)),
    FACT(BATTERY_TEST_END_CURRENT, "The charging current below which the battery test counts "
         "the battery as full.", "A", Both(0, kCurrentMax)),
    FACT(BATTERY_TEST_END_DELAY, "How long the current must stay below the end current before "
         "the battery test stops.", "s", Both(0, kDaySeconds)),
    FACT(BATTERY_TEST_IS_RUNNING, "Whether a battery test is in progress.", "none", kNoRange),
    FACT(BATTERY_TEST_SAMPLE_TIME, "The interval between the battery test's measurements.", "s",
         Both(0.001, kDaySeconds)),
    FACT(BATTERY_TEST_TRIGGER_SOURCE, "Which event starts the battery test.", "none", kNoRange),
    FACT(BATTERY_TEST_VOLTAGE, "The charging voltage of the battery test.", "V",
         Both(0, kVoltageMax)),
    FACT(BATTERY_TEST_WH_LOGGING_ENABLED, "Whether the battery test records the energy it "
         "moves.", "none", kNoRange),
    FACT(BATTERY_TEST_FAIL_SAFE_AH_VALUE, "The charge after which the fail-safe stops the "
         "battery test.", "Ah", Both(0, 1e6)),
    FACT(BATTERY_TEST_FAIL_SAFE_ENABLED, "Whether the fail-safe limits may stop the battery "
         "test.", "none", kNoRange),
    FACT(BATTERY_TEST_FAIL_SAFE_OVER_VOLTAGE_PROTECTION, "The battery voltage above which the "
         "fail-safe stops the battery test.", "V", Both(0, kOvpMax)),
    FACT(BATTERY_TEST_FAIL_SAFE_TIME, "How long the battery test may run before the fail-safe "
         "stops it, in seconds or hours:minutes:seconds.", "s", kNoRange),
    FACT(BATTERY_TEST_FAIL_SAFE_WH_VALUE, "The energy after which the fail-safe stops the "
         "battery test.", "Wh", Both(0, 1e6)),

    // Data logger and digital I/O
    FACT(DATA_LOGGER_SAMPLE_INTERVAL, "The interval between the data logger's samples.", "s",
         Both(0.001, kDaySeconds)),
    FACT(DATA_LOGGER_TRIGGER_SOURCE, "Which event starts the data logger.", "none", kNoRange),
    FACT(DIGITAL_INHIBIT_MODE, "How the inhibit input turns the outputs off: latched until "
         "cleared, only while asserted, or not at all.", "none", kNoRange),
    FACT(DIGITAL_INPUT_DATA, "The levels on the digital port's pins, one bit per pin.", "none",
         Both(0, kByteMax)),
    FACT(DIGITAL_OUTPUT_DATA, "The levels the digital port drives on its output pins, one bit "
         "per pin.", "none", Both(0, kByteMax)),

    // Status registers
    FACT(QUESTIONABLE_ENABLE_REGISTER, "Which questionable-status events reach the status byte.",
         "none", Both(0, kRegisterMax)),
    FACT(QUESTIONABLE_EVENT_REGISTER, "The questionable-status events latched since the last "
         "read, which the read clears.", "none", Both(0, kRegisterMax)),
    FACT(QUESTIONABLE_INSTRUMENT_ENABLE_REGISTER, "Which outputs' summaries reach the "
         "questionable-status register.", "none", Both(0, kRegisterMax)),
    FACT(QUESTIONABLE_INSTRUMENT_EVENT_REGISTER, "The output summaries latched since the last "
         "read, which the read clears.", "none", Both(0, kRegisterMax)),
    FACT(QUESTIONABLE_INSTRUMENT_SUMMARY1_CONDITION_REGISTER, "The present questionable "
         "conditions of the first output.", "none", Both(0, kRegisterMax)),
    FACT(QUESTIONABLE_INSTRUMENT_SUMMARY1_ENABLE_REGISTER, "Which conditions of the first "
         "output reach its summary bit.", "none", Both(0, kRegisterMax)),
    FACT(QUESTIONABLE_INSTRUMENT_SUMMARY1_EVENT_REGISTER, "The first output's questionable "
         "events latched since the last read.", "none", Both(0, kRegisterMax)),
    FACT(QUESTIONABLE_INSTRUMENT_SUMMARY2_CONDITION_REGISTER, "The present questionable "
         "conditions of the second output.", "none", Both(0, kRegisterMax)),
    FACT(QUESTIONABLE_INSTRUMENT_SUMMARY2_ENABLE_REGISTER, "Which conditions of the second "
         "output reach its summary bit.", "none", Both(0, kRegisterMax)),
    FACT(QUESTIONABLE_INSTRUMENT_SUMMARY2_EVENT_REGISTER, "The second output's questionable "
         "events latched since the last read.", "none", Both(0, kRegisterMax)),
    FACT(QUESTIONABLE_INSTRUMENT_SUMMARY3_CONDITION_REGISTER, "The present questionable "
         "conditions of the third output.", "none", Both(0, kRegisterMax)),
    FACT(QUESTIONABLE_INSTRUMENT_SUMMARY3_ENABLE_REGISTER, "Which conditions of the third "
         "output reach its summary bit.", "none", Both(0, kRegisterMax)),
    FACT(QUESTIONABLE_INSTRUMENT_SUMMARY3_EVENT_REGISTER, "The third output's questionable "
         "events latched since the last read.", "none", Both(0, kRegisterMax)),
    FACT(STANDARD_EVENT_ENABLE_REGISTER, "Which standard events reach the status byte's event "
         "summary bit.", "none", Both(0, kByteMax)),
    FACT(STANDARD_EVENT_EVENT_REGISTER, "The standard events latched since the last read, which "
         "the read clears.", "none", Both(0, kByteMax)),
    FACT(STATUS_BYTE_ENABLE_REGISTER, "Which status-byte bits request service.", "none",
         Both(0, kByteMax)),
    FACT(STATUS_BYTE_EVENT_REGISTER, "The instrument's status byte, the summary of every status "
         "register.", "none", Both(0, kByteMax)),
    FACT(POWER_ON_STATUS_CLEAR_ENABLED, "Whether switching the instrument on clears the enable "
         "registers.", "none", kNoRange),

    // System
    FACT(BEEPER_ENABLED, "Whether the instrument sounds its beeper on errors and key presses.",
         "none", kNoRange),
    FACT(DISPLAY_ENABLED, "Whether the front-panel display is lit.", "none", kNoRange),
    FACT(LXI_IDENTIFY_ENABLED, "Whether the front panel shows the LXI identify indication, to "
         "find the instrument in a rack.", "none", kNoRange),
    FACT(REMOTE_STATE, "Whether the front panel is usable alongside remote control, locked, or "
         "in control.", "none", kNoRange),
    FACT(SCPI_VERSION, "The SCPI edition the instrument's command set follows.", "none",
         kNoRange),
    FACT(SYSTEM_DATE, "The instrument clock's date, as year,month,day.", "none", kNoRange),
    FACT(SYSTEM_TIME, "The instrument clock's time of day, as hour,minute,second.", "none",
         kNoRange),

    // Session, identity and direct I/O
    FACT(SELECTED_CHANNEL, "The output that commands without a channel act on.", "none",
         kNoRange),
    FACT(SYSTEM_IO_TIMEOUT, "How long an exchange with the instrument may take before it fails.",
         "ms", Both(0, 2147483647)),
    FACT(SYSTEM_IO_SESSION, "The VISA session the driver talks through, for direct I/O.",
         "none", kNoRange),
    FACT(RANGE_CHECK, "Whether the driver refuses out-of-range values before sending them.",
         "none", kNoRange),
    FACT(QUERY_INSTRUMENT_STATUS, "Whether the driver asks the instrument for errors after each "
         "exchange and reports them.", "none", kNoRange),
    FACT(CACHE, "Whether the driver answers reads from the values it last wrote or read.",
         "none", kNoRange),
    FACT(SIMULATE, "Whether the session works without an instrument, answering from its own "
         "state.", "none", kNoRange),
    FACT(RECORD_COERCIONS, "Whether the driver keeps a record of the values it changed to fit "
         "the instrument.", "none", kNoRange),
    FACT(DRIVER_SETUP, "The driver-specific settings the session was opened with.", "none",
         kNoRange),
    FACT(INTERCHANGE_CHECK, "Whether the driver records warnings about behaviour that would "
         "differ on another instrument.", "none", kNoRange),
    FACT(CHANNEL_COUNT, "How many outputs the connected model has.", "none",
         PerFamily(3, 3, 1, 1)),
    FACT(SPECIFIC_DRIVER_PREFIX, "The prefix of the driver's function names.", "none", kNoRange),
    FACT(IO_RESOURCE_DESCRIPTOR, "The address the session reaches the instrument at.", "none",
         kNoRange),
    FACT(LOGICAL_NAME, "The configuration-store name the session was opened by, if any.", "none",
         kNoRange),
    FACT(SUPPORTED_INSTRUMENT_MODELS, "The instrument models the driver can control.", "none",
         kNoRange),
    FACT(GROUP_CAPABILITIES, "The IviDCPwr capability groups the driver implements.", "none",
         kNoRange),
    FACT(INSTRUMENT_FIRMWARE_REVISION, "The firmware revision the instrument reports.", "none",
         kNoRange),
    FACT(INSTRUMENT_MANUFACTURER, "The manufacturer the instrument reports.", "none", kNoRange),
    FACT(INSTRUMENT_MODEL, "The model the instrument reports or the simulated model.", "none",
         kNoRange),
    FACT(SPECIFIC_DRIVER_VENDOR, "Who supplies the driver.", "none", kNoRange),
    FACT(SPECIFIC_DRIVER_DESCRIPTION, "A one-line account of the driver.", "none", kNoRange),
    FACT(SPECIFIC_DRIVER_CLASS_SPEC_MAJOR_VERSION, "The major version of the IviDCPwr class the "
         "driver follows.", "none", kNoRange),
    FACT(SPECIFIC_DRIVER_CLASS_SPEC_MINOR_VERSION, "The minor version of the IviDCPwr class the "
         "driver follows.", "none", kNoRange),
    FACT(SPECIFIC_DRIVER_REVISION, "The driver's own revision.", "none", kNoRange),
};
// clang-format on

#undef FACT

constexpr AcceptedValues kAccepted[] = {
    {TARVEK_ATTR_OVP_ENABLED, "VI_TRUE",
     "the instruments' over-voltage protection cannot be turned off"},
    {TARVEK_ATTR_TRIGGER_SOURCE,
     "TARVEK_VAL_TRIG_IMMEDIATE,TARVEK_VAL_TRIG_EXTERNAL,TARVEK_VAL_SOFTWARE_TRIG",
     "the instruments have no TTL, ECL, PXI star or RTSI trigger lines"},
    // Held by the driver, so no instrument word is needed for either value.
    {TARVEK_ATTR_CURRENT_LIMIT_BEHAVIOR, "TARVEK_VAL_CURRENT_REGULATE,TARVEK_VAL_CURRENT_TRIP",
     "the driver holds only regulate and trip"},
};

}  // namespace

std::span<const AttributeFacts> CatalogueFacts() {
    return kFacts;
}

std::span<const AcceptedValues> CatalogueAcceptedValues() {
    return kAccepted;
}

const AttributeFacts* FindFacts(ViAttr id) {
    const auto it = std::find_if(std::begin(kFacts), std::end(kFacts),
                                 [id](const AttributeFacts& facts) { return facts.id == id; });
    return it != std::end(kFacts) ? &*it : nullptr;
}

const AcceptedValues* FindAcceptedValues(ViAttr id) {
    const auto it =
        std::find_if(std::begin(kAccepted), std::end(kAccepted),
                     [id](const AcceptedValues& accepted) { return accepted.id == id; });
    return it != std::end(kAccepted) ? &*it : nullptr;
}

}  // namespace tarvek
