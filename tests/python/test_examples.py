"""The Python examples run as a user runs them, live and simulated."""
from __future__ import annotations

import csv
import os
import subprocess
import sys
from pathlib import Path
from typing import List

import pytest

import tarvek
from conftest import Emulator

EXAMPLES = Path(os.environ.get("TARVEK_EXAMPLES",
                               Path(__file__).resolve().parents[2] / "examples" / "python"))


def run(arguments: List[str], cwd: Path) -> subprocess.CompletedProcess:
    # The package this suite tests, wherever the examples run.
    environment = dict(os.environ, PYTHONPATH=str(Path(tarvek.__file__).resolve().parents[1]))
    result = subprocess.run([sys.executable] + arguments, capture_output=True, text=True,
                            timeout=120, cwd=cwd, env=environment)
    assert result.returncode == 0, result.stdout + result.stderr
    return result


@pytest.fixture(scope="module", params=["Series6310"], ids=["Series6310"])
def emulator(request: pytest.FixtureRequest):  # one family is enough for the tours
    instrument = Emulator("6313")
    instrument.family = request.param  # type: ignore[attr-defined]
    yield instrument
    instrument.stop()


def test_quickstart_live(emulator: Emulator, tmp_path: Path) -> None:
    output = run([str(EXAMPLES / "quickstart.py"), emulator.resource], tmp_path).stdout
    for line in ("CH2: over-current protection TRIPPED, output off.",
                 "CH2: over-current protection clear, output on at 12.000 V.",
                 "step 3: programmed 3.00 V, measured 3.000 V",
                 "error -222: Data out of range", "The queue is empty.", "Done."):
        assert line in output, output


def test_quickstart_simulated(tmp_path: Path) -> None:
    output = run([str(EXAMPLES / "quickstart.py"), "--simulate"], tmp_path).stdout
    assert "simulated by the driver" in output and output.rstrip().endswith("Done.")


def test_sweep_writes_csv_and_plot(emulator: Emulator, tmp_path: Path) -> None:
    output = run([str(EXAMPLES / "sweep.py"), emulator.resource, "--channel", "CH2",
                  "--start", "1", "--stop", "5", "--steps", "5", "--dwell", "0.01",
                  "--csv", "out.csv"], tmp_path).stdout
    assert "Wrote 5 readings to out.csv." in output
    with (tmp_path / "out.csv").open(encoding="utf-8") as file:
        rows = list(csv.DictReader(file))
    assert [float(row["set_V"]) for row in rows] == [1.0, 2.0, 3.0, 4.0, 5.0]
    assert [float(row["measured_V"]) for row in rows] == [1.0, 2.0, 3.0, 4.0, 5.0]
    # The emulator's 1000-ohm load: I = V / R.
    assert [float(row["measured_A"]) for row in rows] == pytest.approx(
        [0.001, 0.002, 0.003, 0.004, 0.005])
    times = [float(row["time_s"]) for row in rows]
    assert times == sorted(times)
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        assert "no plot" in output
    else:
        assert "Plotted them in out.png." in output
        assert (tmp_path / "out.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_sweep_simulated(tmp_path: Path) -> None:
    run([str(EXAMPLES / "sweep.py"), "--simulate", "--steps", "3", "--dwell", "0",
         "--csv", "sim.csv", "--png", "sim.png"], tmp_path)
    assert len((tmp_path / "sim.csv").read_text(encoding="utf-8").splitlines()) == 4


def test_sweep_plot_puts_volts_and_amperes_on_labelled_axes_with_a_legend(
        tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    from matplotlib.figure import Figure
    figures: List[Figure] = []
    save = Figure.savefig

    def keep(figure: Figure, *arguments, **keywords):  # type: ignore[no-untyped-def]
        figures.append(figure)
        return save(figure, *arguments, **keywords)

    monkeypatch.setattr(Figure, "savefig", keep)
    monkeypatch.syspath_prepend(str(EXAMPLES))
    import sweep  # type: ignore[import]
    readings = [(0.0, 1.0, 1.0, 0.001), (0.1, 2.0, 2.0, 0.002)]
    assert sweep.plot(tmp_path / "plot.png", readings, "6313 CH1")
    (figure,) = figures
    volts_axis, amps_axis = figure.axes
    assert volts_axis.get_ylabel() == "voltage (V)"
    assert amps_axis.get_ylabel() == "current (A)"
    assert volts_axis.get_xlabel() == "time (s)"
    legend = volts_axis.get_legend()
    assert legend is not None
    assert [text.get_text() for text in legend.get_texts()] == [
        "measured voltage (V)", "measured current (A)"]
