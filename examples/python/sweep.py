#!/usr/bin/env python3
"""Sweep: steps the voltage of one output, measures voltage and current at
each step, writes the readings to a CSV file and, when matplotlib is
installed (Debian python3-matplotlib), plots V and I against time as a PNG.

    sweep.py TCPIP::127.0.0.1::5025::SOCKET --channel CH1 --start 0 --stop 10 \\
             --steps 11 --dwell 0.05 --csv sweep.csv [--png sweep.png]
    sweep.py --simulate --csv sweep.csv
"""
import argparse
import csv
import sys
import time
from pathlib import Path
from typing import List, Tuple

import tarvek
from tarvek import MeasurementType

Reading = Tuple[float, float, float, float]  # seconds, set volts, volts, amperes


def sweep(output: tarvek.OutputChannel, start: float, stop: float, steps: int,
          dwell: float) -> List[Reading]:
    readings: List[Reading] = []
    output.configure_voltage_level(start)
    output.output_enabled = True
    began = time.monotonic()
    try:
        for index in range(steps):
            level = start + (stop - start) * index / max(steps - 1, 1)
            output.voltage_level = level
            time.sleep(dwell)
            readings.append((time.monotonic() - began, level,
                             output.measure(MeasurementType.VOLTAGE),
                             output.measure(MeasurementType.CURRENT)))
    finally:
        output.output_enabled = False
    return readings


def write_csv(path: Path, readings: List[Reading]) -> None:
    with path.open("w", newline="", encoding="utf-8") as file:
        writer = csv.writer(file)
        writer.writerow(["time_s", "set_V", "measured_V", "measured_A"])
        for row in readings:
            writer.writerow([f"{value:.6g}" for value in row])


def plot(path: Path, readings: List[Reading], title: str) -> bool:
    try:
        import matplotlib  # type: ignore[import]
        matplotlib.use("Agg")  # files only: no display needed
        import matplotlib.pyplot as pyplot  # type: ignore[import]
    except ImportError:
        return False
    seconds = [row[0] for row in readings]
    # Volts and amperes differ in scale by orders of magnitude: each gets its
    # own y axis, coloured like its line, and one legend names both lines.
    figure, volts_axis = pyplot.subplots(figsize=(7, 4))
    (volts_line,) = volts_axis.plot(seconds, [row[2] for row in readings], "o-",
                                    color="tab:blue", label="measured voltage (V)")
    volts_axis.set_xlabel("time (s)")
    volts_axis.set_ylabel("voltage (V)", color="tab:blue")
    volts_axis.tick_params(axis="y", labelcolor="tab:blue")
    amps_axis = volts_axis.twinx()
    (amps_line,) = amps_axis.plot(seconds, [row[3] for row in readings], "s--",
                                  color="tab:red", label="measured current (A)")
    amps_axis.set_ylabel("current (A)", color="tab:red")
    amps_axis.tick_params(axis="y", labelcolor="tab:red")
    volts_axis.legend(handles=[volts_line, amps_line], loc="upper left")
    volts_axis.set_title(title)
    figure.tight_layout()
    figure.savefig(path, dpi=100)
    pyplot.close(figure)
    return True


def main() -> int:
    parser = argparse.ArgumentParser(description="Step a voltage, measure, write CSV and PNG.")
    parser.add_argument("resource", nargs="?", default="", help="VISA resource or logical name")
    parser.add_argument("--simulate", action="store_true", help="run without an instrument")
    parser.add_argument("--channel", default="CH1")
    parser.add_argument("--start", type=float, default=0.0, help="first level (V)")
    parser.add_argument("--stop", type=float, default=10.0, help="last level (V)")
    parser.add_argument("--steps", type=int, default=11)
    parser.add_argument("--dwell", type=float, default=0.05, help="seconds before measuring")
    parser.add_argument("--csv", type=Path, default=Path("sweep.csv"))
    parser.add_argument("--png", type=Path, help="plot file (default: the CSV name, .png)")
    args = parser.parse_args()
    if not args.resource and not args.simulate:
        parser.error("name a resource, or run with --simulate")
    if args.steps < 1:
        parser.error("--steps must be at least 1")
    options: tarvek.Options = {"simulate": args.simulate}  # status checking is on by default
    try:
        with tarvek.Tarvek(args.resource, reset=True, options=options) as psu:
            readings = sweep(psu.channels[args.channel], args.start, args.stop, args.steps,
                             args.dwell)
            title = f"{psu.instrument_model} {args.channel}: {args.start:g} V to {args.stop:g} V"
    except tarvek.Error as error:
        print(f"sweep: {error}", file=sys.stderr)
        return 1
    write_csv(args.csv, readings)
    print(f"Wrote {len(readings)} readings to {args.csv}.")
    png = args.png or args.csv.with_suffix(".png")
    if plot(png, readings, title):
        print(f"Plotted them in {png}.")
    else:
        print("matplotlib is not installed (Debian python3-matplotlib): no plot.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
