#!/usr/bin/env python3
"""Quickstart: a tour of a TARVEK supply in one short program.

    quickstart.py TCPIP::127.0.0.1::5025::SOCKET      (or a logical name)
    quickstart.py --simulate

It opens the supply, sets up every output, switches them on, measures, trips
and clears the over-current protection of one output, runs a short list,
reads the instrument's error queue and closes. A failure raises tarvek.Error,
whose text is the driver's own explanation.
"""
import argparse
import sys

import tarvek
from tarvek import CurrentLimitBehavior, ListPace, MeasurementType, OutputState

# What each output is set to: volts and the current limit in amperes.
OUTPUTS = {"CH1": (5.0, 1.0), "CH2": (12.0, 0.5), "CH3": (3.3, 2.0)}
# A three-step list: volts, amperes.
STEPS = [(1.0, 1.0), (2.0, 1.0), (3.0, 1.0)]


def tour(psu: tarvek.Tarvek) -> None:
    simulated = psu.simulate
    outputs = list(psu.channels)
    print(f"  It is a {psu.instrument_manufacturer} {psu.instrument_model} "
          f"(firmware {psu.instrument_firmware_revision}) with {len(outputs)} "
          f"output{'' if len(outputs) == 1 else 's'}"
          f"{', simulated by the driver' if simulated else ''}.\n")

    # -- Configure and enable ---------------------------------------------
    print("Setting up the outputs:")
    for output in outputs:
        volts, amps = OUTPUTS[output.name]
        output.configure_ovp(True, volts * 1.1)
        output.configure_voltage_level(volts)
        output.configure_current_limit(CurrentLimitBehavior.REGULATE, amps)
        print(f"  {output.name}  {volts:5.2f} V, current limit {amps:.3f} A, "
              f"over-voltage protection at {volts * 1.1:.2f} V")
    # One call for all outputs: a selector may name a range of channels.
    every = f"CH1-CH{len(outputs)}" if len(outputs) > 1 else "CH1"
    print(f"Switching on {every}.\n")
    psu.channels[every].output_enabled = True

    # -- Measure -------------------------------------------------------------
    print("What the outputs deliver:")
    print("  Output  Set (V)  Measured (V)  Measured (A)  Regulation")
    for output in outputs:
        volts = output.measure(MeasurementType.VOLTAGE)
        amps = output.measure(MeasurementType.CURRENT)
        constant_current = output.query_output_state(OutputState.CONSTANT_CURRENT)
        print(f"  {output.name:<6}  {OUTPUTS[output.name][0]:7.2f}  {volts:12.3f}  "
              f"{amps:12.4f}  {'constant current' if constant_current else 'constant voltage'}")
    if simulated:
        print("  (A simulated supply measures nothing, so it reads 0.)")
    print()

    # -- Over-current protection ----------------------------------------------
    trip = psu.channels["CH2" if len(outputs) > 1 else "CH1"]
    print(f"Tripping the over-current protection of {trip.name}, which delivers "
          f"{trip.measure(MeasurementType.CURRENT) * 1000:.1f} mA:")
    print("  Setting its over-current limit to 5 mA (trip behaviour).")
    trip.configure_current_limit(CurrentLimitBehavior.TRIP, 0.005)
    # The over-current settings act on the selected output, which the call
    # above left at the tripping one.
    psu.ocp_enabled = True
    # The supply has changed its own state; drop the driver's cached values so
    # that the next reads ask the instrument.
    psu.invalidate_all_attributes()
    print(f"  {trip.name}: over-current protection "
          f"{'TRIPPED' if psu.ocp_tripped else 'not tripped'}, "
          f"output {'on' if trip.output_enabled else 'off'}.")
    limit = OUTPUTS[trip.name][1]
    print(f"  Raising the limit back to {limit:.3f} A and clearing the protection.")
    trip.configure_current_limit(CurrentLimitBehavior.TRIP, limit)
    trip.reset_output_protection()
    psu.invalidate_all_attributes()
    output_on = trip.output_enabled
    tripped = psu.ocp_tripped
    print(f"  {trip.name}: over-current protection {'still tripped' if tripped else 'clear'}, "
          f"output {'on' if output_on else 'off'} at "
          f"{trip.measure(MeasurementType.VOLTAGE):.3f} V.\n")

    # -- List mode -------------------------------------------------------------
    print(f"Running a {len(STEPS)}-step list on CH1:")
    if len(outputs) > 1:
        psu.selected_channel = tarvek.SelectedChannel.CHANNEL1
    # The list and step attributes act on the selected list and step.
    psu.selected_list = 1
    for number, (volts, amps) in enumerate(STEPS, start=1):
        psu.selected_step = number
        psu.step_voltage = volts
        psu.step_current = amps
    # Paced by the bus trigger: the program moves the supply from step to
    # step, so each reading falls inside its step however busy the computer is.
    psu.list_pace = ListPace.TRIGGER
    psu.list_repeat_count = 1
    psu.list_terminate_state = tarvek.ListTerminateState.STATEDC
    psu.list_trigger_source = tarvek.SpecificTriggerSource.BUS
    psu.save_list_data()
    psu.enable_list(1)
    psu.start_list(tarvek.SelectedChannel.CHANNEL1)
    ch1 = psu.channels["CH1"]
    for number, (volts, _) in enumerate(STEPS, start=1):
        psu.send_software_trigger()
        print(f"  step {number}: programmed {volts:.2f} V, "
              f"measured {ch1.measure(MeasurementType.VOLTAGE):.3f} V")
    psu.disable_list()
    print(f"  The list is over; CH1 is back at its fixed level: "
          f"{ch1.measure(MeasurementType.VOLTAGE):.3f} V.\n")

    # -- Error queue -------------------------------------------------------------
    last = outputs[-1]
    print(f"Asking {last.name} for 75 V, beyond the 60 V the supply is rated for:")
    try:
        last.configure_voltage_level(75.0)
        print("  The driver accepted it"
              f"{': a simulation checks nothing' if simulated else ''}.")
    except tarvek.Error as error:
        # Expected: the instrument refuses, and the status check reports it;
        # the error carries what the instrument's error queue said.
        print(f"  Refused (0x{error.code & 0xFFFFFFFF:08X}): {error.description}")
        for code, message in error.instrument_errors:
            print(f"  error {code}: {message}")
    print("Reading the instrument's error queue:")
    for count in range(20):
        code, message = psu.error_query()
        if code == 0:
            print("  The queue is empty." if count == 0 else
                  "  That was all; the queue is empty.")
            break
        print(f"  error {code}: {message}")
    print()

    # -- Close -------------------------------------------------------------------
    print(f"Switching {every} off and closing the session.")
    psu.channels[every].output_enabled = False


def main() -> int:
    parser = argparse.ArgumentParser(description="A tour of a TARVEK supply.")
    parser.add_argument("resource", nargs="?", default="",
                        help="VISA resource or logical name, e.g. TCPIP::127.0.0.1::5025::SOCKET")
    parser.add_argument("--simulate", action="store_true", help="run without an instrument")
    args = parser.parse_args()
    if not args.resource and not args.simulate:
        parser.error("name a resource, or run with --simulate")
    # Ask the instrument after every command whether it was happy with it.
    options: tarvek.Options = {"simulate": args.simulate}  # status checking is on by default
    print(f"Opening {args.resource or 'a simulated supply'} with an identity query and a reset.")
    try:
        with tarvek.Tarvek(args.resource, id_query=True, reset=True, options=options) as psu:
            tour(psu)
    except tarvek.Error as error:
        print(f"  ! {error}", file=sys.stderr)
        return 1
    print("Done.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
