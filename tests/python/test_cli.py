"""The command line: run (as the console, or to CSV) and plot."""

import os
import shutil
import subprocess
import sys

import numpy as np
import pytest

import velmar
from velmar.__main__ import main
from velmar._results import deck_results

from conftest import EXAMPLES


@pytest.fixture
def workdir(tmp_path, monkeypatch):
    shutil.copytree(EXAMPLES, tmp_path / "examples", ignore=shutil.ignore_patterns("expected"))
    monkeypatch.chdir(tmp_path)
    return tmp_path


def test_run_without_csv_writes_the_console_file(workdir):
    assert main(["run", "examples/sh_transfer_clay_sand_rock.deck"]) == 0
    with open("sh_transfer_clay_sand_rock.out") as f, open(os.path.join(EXAMPLES, "expected",
                                                                        "sh_transfer_clay_sand_rock.out")) as g:
        assert f.read() == g.read()


@pytest.mark.parametrize("deck, header", [
    ("sh_transfer_clay_sand_rock", ["frequency (Hz)", "half_modulus (ratio)",
                                    "real (per unit incident displacement)", "imag (per unit incident displacement)"]),
    ("psv_signal", ["time (s)", "accel_horizontal (cm/s2)", "accel_vertical (cm/s2)"]),
    ("sh_signal", ["time (s)", "accel (cm/s2)"]),
])
def test_csv_has_named_columns_and_reads_back_exactly(workdir, deck, header):
    # An existing console file must keep every byte.
    with open(f"{deck}.out", "w") as f:
        f.write("keep me\n")
    assert main(["run", f"examples/{deck}.deck", "--csv"]) == 0
    with open(f"{deck}.out") as f:
        assert f.read() == "keep me\n"
    with open(f"{deck}.csv") as f:
        assert f.readline().rstrip("\n").split(",") == header
    data = np.loadtxt(f"{deck}.csv", delimiter=",", skiprows=1, ndmin=2)
    units = "cm/s2" if "signal" in deck else "g"
    res = deck_results(velmar.read_deck(f"examples/{deck}.deck", units))
    assert data.shape == (res.columns[0].values.size, len(header))
    for j, col in enumerate(res.columns):
        np.testing.assert_array_equal(data[:, j], col.values)  # 17 digits: the same doubles


def test_csv_to_a_named_file_and_refusals(workdir, capsys):
    assert main(["run", "examples/sh_signal.deck", "--csv", "--out", "x.csv", "--units", "g"]) == 0
    assert open("x.csv").readline().startswith("time (s),accel (g)")
    assert main(["run", "examples/sh_signal.deck", "--csv", "--out", "sh_signal.out"]) == 2
    assert "console's output file" in capsys.readouterr().err
    assert main(["run", "missing.deck"]) == 2
    assert "missing.deck" in capsys.readouterr().err
    assert main(["run", "examples/sh_signal.deck", "--out", "y.csv"]) == 2


def test_a_limit_stop_exits_with_status_1(workdir, capsys):
    lines = ["big.out", "0 0.0", "50 1 1"]
    with open("big.deck", "w") as f:
        f.write("\n".join(lines) + "\n")
    assert main(["run", "big.deck"]) == 1
    assert "49" in capsys.readouterr().err


def test_python_minus_m_plot_writes_pngs(workdir):
    env = dict(os.environ)
    out = subprocess.run([sys.executable, "-m", "velmar", "plot", "examples/psv_transfer_basin.deck", "--out", "f"],
                         capture_output=True, text=True, env=env, check=True)
    files = out.stdout.split()
    assert files == ["f/psv_transfer_basin_profile.png", "f/psv_transfer_basin_transfer.png"]
    assert all(os.path.getsize(p) > 10000 for p in files)
