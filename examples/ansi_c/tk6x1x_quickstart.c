/* The quickstart tour through the IVI-ANSI-C interface (tk6x1x.h): plain C99
 * types, one function per property, text by size and size required.
 *
 *   tk6x1x_quickstart TCPIP::127.0.0.1::5025::SOCKET
 *   tk6x1x_quickstart --simulate
 *
 * It opens the supply, sets up every output, switches them on, measures,
 * trips and clears the over-current protection of one output, runs a short
 * list, reads the instrument's error queue in one call and closes. Every call
 * is checked; a failure prints the driver's own explanation
 * (TK6x1x_last_error_message). */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tk6x1x.h"

/* The last error of the session (or of a failed open), in a buffer the size
 * the driver asks for. */
static void PrintLastError(TK6x1xSession session, int32_t status, const char* what) {
    size_t size = 0;
    char* text = NULL;
    if (TK6x1x_last_error_message(session, 0, NULL, &size) == TK6X1X_SUCCESS) {
        text = malloc(size);
    }
    if (text != NULL && TK6x1x_last_error_message(session, size, text, &size) == TK6X1X_SUCCESS) {
        fprintf(stderr, "  ! %s failed with 0x%08X: %s\n", what, (unsigned)status, text);
    } else {
        fprintf(stderr, "  ! %s failed with 0x%08X\n", what, (unsigned)status);
    }
    free(text);
}

static int Check(TK6x1xSession session, int32_t status, const char* what) {
    if (status >= TK6X1X_SUCCESS) {
        return 1;
    }
    PrintLastError(session, status, what);
    return 0;
}

/* Stops the tour at the first failure; the session is still closed. */
#define CHECK(call)                           \
    do {                                      \
        if (!Check(session, (call), #call)) { \
            goto done;                        \
        }                                     \
    } while (0)

static const struct {
    const char* channel;
    double voltage;
    double current_limit;
} kOutputs[] = {
    {"CH1", 5.0, 1.0},
    {"CH2", 12.0, 0.5},
    {"CH3", 3.3, 2.0},
};

static const struct {
    double voltage;
    double current;
} kSteps[] = {
    {1.0, 1.0},
    {2.0, 1.0},
    {3.0, 1.0},
};

#define COUNT_OF(a) ((int)(sizeof(a) / sizeof((a)[0])))

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s RESOURCE | --simulate\n", argv[0]);
        return 2;
    }
    const int simulate = strcmp(argv[1], "--simulate") == 0;
    const char* resource = simulate ? "" : argv[1];
    /* Ask the instrument after every command whether it was happy with it. */
    const char* options = simulate ? "Simulate=true;QueryInstrStatus=true;DriverSetup=Model:6313"
                                   : "QueryInstrStatus=true";
    TK6x1xSession session = TK6X1X_INVALID_SESSION;
    int exit_code = 1;

    /* -- Open ---------------------------------------------------------------- */
    printf("Opening %s with an identity query and a reset.\n",
           simulate ? "a simulated supply" : resource);
    int32_t status = TK6x1x_init_with_options(resource, true, true, options, &session);
    if (!Check(TK6X1X_INVALID_SESSION, status, "TK6x1x_init_with_options")) {
        return 1;
    }
    char manufacturer[64] = "";
    char model[64] = "";
    char version[64] = "";
    size_t size_required = 0;
    int32_t outputs = 0;
    bool simulated = false;
    CHECK(TK6x1x_instrument_manufacturer_get(session, sizeof manufacturer, manufacturer,
                                             &size_required));
    CHECK(TK6x1x_instrument_model_get(session, sizeof model, model, &size_required));
    CHECK(TK6x1x_driver_version_get(session, sizeof version, version, &size_required));
    CHECK(TK6x1x_channel_count_get(session, &outputs));
    CHECK(TK6x1x_simulate_get(session, &simulated));
    if (outputs > COUNT_OF(kOutputs)) {
        outputs = COUNT_OF(kOutputs);
    }
    printf("  It is a %s %s with %d output%s%s (driver %s).\n\n", manufacturer, model, (int)outputs,
           outputs == 1 ? "" : "s", simulated ? ", simulated by the driver" : "", version);

    /* -- Configure and enable ------------------------------------------------ */
    printf("Setting up the outputs:\n");
    for (int n = 0; n < outputs; ++n) {
        const char* channel = kOutputs[n].channel;
        const double ovp = kOutputs[n].voltage * 1.1;
        CHECK(TK6x1x_configure_ovp(session, channel, true, ovp));
        CHECK(TK6x1x_voltage_level_set(session, channel, kOutputs[n].voltage));
        CHECK(TK6x1x_current_limit_behavior_set(session, channel,
                                                TK6X1X_CURRENT_LIMIT_BEHAVIOR_REGULATE));
        CHECK(TK6x1x_current_limit_set(session, channel, kOutputs[n].current_limit));
        printf("  %s  %5.2f V, current limit %.3f A, over-voltage protection at %.2f V\n", channel,
               kOutputs[n].voltage, kOutputs[n].current_limit, ovp);
    }
    char all[16];
    snprintf(all, sizeof all, outputs > 1 ? "CH1-CH%d" : "CH1", (int)outputs);
    printf("Switching on %s.\n\n", all);
    CHECK(TK6x1x_output_enabled_set(session, all, true));

    /* -- Measure ------------------------------------------------------------- */
    printf("What the outputs deliver:\n");
    printf("  Output  Set (V)  Measured (V)  Measured (A)  Regulation\n");
    for (int n = 0; n < outputs; ++n) {
        const char* channel = kOutputs[n].channel;
        double volts = 0.0;
        double amps = 0.0;
        bool constant_current = false;
        CHECK(TK6x1x_measure(session, channel, TK6X1X_MEASURE_VOLTAGE, &volts));
        CHECK(TK6x1x_measure(session, channel, TK6X1X_MEASURE_CURRENT, &amps));
        CHECK(TK6x1x_query_output_state(session, channel, TK6X1X_OUTPUT_CONSTANT_CURRENT,
                                        &constant_current));
        printf("  %-6s  %7.2f  %12.3f  %12.4f  %s\n", channel, kOutputs[n].voltage, volts, amps,
               constant_current ? "constant current" : "constant voltage");
    }
    printf("\n");

    /* -- Over-current protection ---------------------------------------------- */
    const char* trip = outputs > 1 ? "CH2" : "CH1";
    const double restore = kOutputs[outputs > 1 ? 1 : 0].current_limit;
    double drawn = 0.0;
    bool output_on = false;
    bool tripped = false;
    CHECK(TK6x1x_measure(session, trip, TK6X1X_MEASURE_CURRENT, &drawn));
    printf("Tripping the over-current protection of %s, which delivers %.1f mA:\n", trip,
           drawn * 1000.0);
    CHECK(TK6x1x_configure_current_limit(session, trip, TK6X1X_CURRENT_LIMIT_BEHAVIOR_TRIP, 0.005));
    /* The over-current settings act on the selected output, which the call
     * above left at trip. */
    CHECK(TK6x1x_ocp_enabled_set(session, true));
    CHECK(TK6x1x_invalidate_all_attributes(session));
    CHECK(TK6x1x_output_enabled_get(session, trip, &output_on));
    CHECK(TK6x1x_ocp_tripped_get(session, &tripped));
    printf("  %s: over-current protection %s, output %s.\n", trip,
           tripped ? "TRIPPED" : "not tripped", output_on ? "on" : "off");
    CHECK(
        TK6x1x_configure_current_limit(session, trip, TK6X1X_CURRENT_LIMIT_BEHAVIOR_TRIP, restore));
    CHECK(TK6x1x_reset_output_protection(session, trip));
    CHECK(TK6x1x_invalidate_all_attributes(session));
    double volts = 0.0;
    CHECK(TK6x1x_output_enabled_get(session, trip, &output_on));
    CHECK(TK6x1x_ocp_tripped_get(session, &tripped));
    CHECK(TK6x1x_measure(session, trip, TK6X1X_MEASURE_VOLTAGE, &volts));
    printf("  %s: over-current protection %s, output %s at %.3f V.\n\n", trip,
           tripped ? "still tripped" : "clear", output_on ? "on" : "off", volts);

    /* -- List mode ------------------------------------------------------------ */
    printf("Running a %d-step list on CH1:\n", COUNT_OF(kSteps));
    if (outputs > 1) {
        CHECK(TK6x1x_selected_channel_set(session, TK6X1X_SELECTED_CHANNEL_CHANNEL1));
    }
    CHECK(TK6x1x_selected_list_set(session, 1));
    for (int n = 0; n < COUNT_OF(kSteps); ++n) {
        CHECK(TK6x1x_selected_step_set(session, n + 1));
        CHECK(TK6x1x_step_voltage_set(session, kSteps[n].voltage));
        CHECK(TK6x1x_step_current_set(session, kSteps[n].current));
    }
    /* Paced by the bus trigger, so each reading falls inside its step. */
    CHECK(TK6x1x_list_pace_set(session, TK6X1X_LIST_PACE_TRIGGER));
    CHECK(TK6x1x_list_repeat_count_set(session, 1));
    CHECK(TK6x1x_list_terminate_state_set(session, TK6X1X_LIST_TERMINATE_STATE_STATEDC));
    CHECK(TK6x1x_list_trigger_source_set(session, TK6X1X_SPECIFIC_TRIGGER_SOURCE_BUS));
    CHECK(TK6x1x_save_list_data(session));
    CHECK(TK6x1x_enable_list(session, 1));
    CHECK(TK6x1x_start_list(session, TK6X1X_SELECTED_CHANNEL_CHANNEL1));
    for (int n = 0; n < COUNT_OF(kSteps); ++n) {
        CHECK(TK6x1x_send_software_trigger(session));
        CHECK(TK6x1x_measure(session, "CH1", TK6X1X_MEASURE_VOLTAGE, &volts));
        printf("  step %d: programmed %.2f V, measured %.3f V\n", n + 1, kSteps[n].voltage, volts);
    }
    CHECK(TK6x1x_disable_list(session));
    CHECK(TK6x1x_measure(session, "CH1", TK6X1X_MEASURE_VOLTAGE, &volts));
    printf("  The list is over; CH1 is back at its fixed level: %.3f V.\n\n", volts);

    /* -- Error queue ---------------------------------------------------------- */
    const char* last = kOutputs[outputs - 1].channel;
    printf("Asking %s for 75 V, beyond the 60 V the supply is rated for:\n", last);
    status = TK6x1x_voltage_level_set(session, last, 75.0);
    if (status < TK6X1X_SUCCESS) {
        char text[1024] = "";
        TK6x1x_last_error_message(session, sizeof text, text, &size_required);
        printf("  Refused (0x%08X): %s\n", (unsigned)status, text);
        CHECK(TK6x1x_clear_last_error(session));
    } else {
        printf("  The driver accepted it%s.\n", simulated ? ": a simulation checks nothing" : "");
    }
    char queue[1024] = "";
    CHECK(TK6x1x_read_and_clear_error_queue(session, sizeof queue, queue));
    printf("The instrument's error queue: %s\n\n", queue[0] != '\0' ? queue : "empty");

    /* -- Close ---------------------------------------------------------------- */
    printf("Switching %s off and closing the session.\n", all);
    CHECK(TK6x1x_output_enabled_set(session, all, false));
    exit_code = 0;

done:
    if (!Check(session, TK6x1x_close(session), "TK6x1x_close")) {
        exit_code = 1;
    }
    if (exit_code == 0) {
        printf("Done.\n");
    }
    return exit_code;
}
