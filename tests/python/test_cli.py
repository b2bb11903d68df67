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


# --- equivalent-linear analysis files --------------------------------------------------------


def test_analysis_file_runs_to_csv_and_plots(workdir):
    path = "examples/eql_soft_clay.json"
    assert main(["run", path, "--csv", "--out", "layers.csv"]) == 0
    table = np.loadtxt("layers.csv", delimiter=",", skiprows=1)
    # The same analysis through the Python calls.
    rec = velmar.read_record("examples/accelerogram.txt", dt=0.01, units="cm/s2")
    import json
    doc = json.load(open(path))
    curves = [velmar.Darendeli(**{k: v for k, v in c.items() if k != "model"}) for c in doc["curves"]]
    res = velmar.equivalent_linear(rec, velmar.Profile(**doc["profile"]), curves, **doc["analysis"])
    assert res.converged
    np.testing.assert_array_equal(table[:, 4], res.g_ratio)
    np.testing.assert_array_equal(table[:, 5], res.damping)
    np.testing.assert_array_equal(table[:, 6], res.max_strain)
    np.testing.assert_allclose(table[:, 3], table[:, 2] * np.sqrt(res.g_ratio), rtol=1e-15)

    assert main(["plot", path, "--out", "figs"]) == 0
    for name in ("convergence", "layers", "spectra"):
        assert os.path.getsize(f"figs/eql_soft_clay-{name}.png") > 10000


@pytest.mark.parametrize("edit, message", [
    (lambda d: d.update(analysys={}), "unknown section 'analysys'"),
    (lambda d: d["analysis"].update(tolerence=0.01), "tolerence"),
    (lambda d: d["curves"].pop(), "curves has 11 entries where the profile has 12"),
    (lambda d: d["curves"][3].update(model="hardin"), "curves[3] needs \"model\""),
    (lambda d: d["curves"][0].update(ocr=-1.0), "curves[0] (darendeli)"),
    (lambda d: d["profile"]["vs"].append(900.0), "profile:"),
    (lambda d: d["analysis"].update(tolerance=0.0), "tolerance"),
    (lambda d: d["record"].pop("file"), "record needs \"file\""),
])
def test_a_bad_analysis_file_exits_2_naming_the_file_and_entry(workdir, capsys, edit, message):
    import json
    doc = json.load(open("examples/eql_soft_clay.json"))
    edit(doc)
    with open("examples/bad.json", "w") as f:
        json.dump(doc, f)
    assert main(["run", "examples/bad.json", "--csv"]) == 2
    err = capsys.readouterr().err
    assert "examples/bad.json" in err and message in err
    assert not os.path.exists("examples/bad.layers.csv")


def test_an_analysis_file_that_is_not_json_names_the_line(workdir, capsys):
    with open("bad.json", "w") as f:
        f.write('{\n  "record": {"file": "x"},\n  oops\n}\n')
    assert main(["plot", "bad.json"]) == 2
    assert "bad.json: line 3: not JSON" in capsys.readouterr().err
