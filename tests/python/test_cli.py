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
    assert np.all(table[:, 8] == 1)  # converged

    assert main(["plot", path, "--out", "figs"]) == 0
    for name in ("convergence", "layers", "curves", "spectra", "fourier", "arias"):
        assert os.path.getsize(f"figs/eql_soft_clay-{name}.png") > 10000


def test_analysis_file_takes_one_curve_for_every_layer(workdir):
    import json
    doc = json.load(open("examples/eql_soft_clay.json"))
    doc["curves"] = [{"model": "darendeli", "pi": 25}] * len(doc["curves"])
    with open("examples/listed.json", "w") as f:
        json.dump(doc, f)
    doc["curves"] = {"model": "darendeli", "pi": 25}
    with open("examples/one.json", "w") as f:
        json.dump(doc, f)
    assert main(["run", "examples/listed.json", "--csv", "--out", "listed.csv"]) == 0
    assert main(["run", "examples/one.json", "--csv", "--out", "one.csv"]) == 0
    assert open("one.csv").read() == open("listed.csv").read()


@pytest.mark.parametrize("edit, message", [
    (lambda d: d.update(analysys={}), "unknown section 'analysys'"),
    (lambda d: d.update(curves="darendeli"), "one curve (an object) for every layer or a list"),
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


def _cli(*args):
    env = dict(os.environ)
    root = os.path.dirname(os.path.dirname(os.path.abspath(velmar.__file__)))
    env["PYTHONPATH"] = root + os.pathsep + env.get("PYTHONPATH", "")
    out = subprocess.run([sys.executable, "-m", "velmar", *args], capture_output=True, text=True, env=env,
                         timeout=120)
    assert "Traceback" not in out.stderr, out.stderr
    return out


def test_an_iteration_that_did_not_converge_exits_3_and_flags_the_csv(workdir):
    import json
    doc = json.load(open("examples/eql_soft_clay.json"))
    doc["analysis"].update(max_iterations=2, tolerance=1e-6)
    json.dump(doc, open("examples/short.json", "w"))
    out = _cli("run", "examples/short.json", "--csv", "--out", "short.csv")
    assert out.returncode == 3
    assert "examples/short.json: the iteration did not converge in 2 passes" in out.stderr
    assert "max_iterations" in out.stderr and out.stderr.count("converge") == 1  # no second warning
    names = open("short.csv").readline().rstrip("\n").split(",")
    assert names[-1] == "converged (1 yes / 0 no)"
    table = np.loadtxt("short.csv", delimiter=",", skiprows=1)
    assert table.shape == (12, 9) and np.all(table[:, -1] == 0)
    out = _cli("plot", "examples/short.json", "--out", "figs")
    assert out.returncode == 3 and len(out.stdout.split()) == 6


def _edited(edit):
    import json
    doc = json.load(open("examples/eql_soft_clay.json"))
    edit(doc)
    return json.dumps(doc)


@pytest.mark.parametrize("text, message", [
    (lambda: _edited(lambda d: d["curves"][2].update(model=["darendeli"])), 'curves[2] needs "model"'),
    (lambda: _edited(lambda d: d["curves"].__setitem__(1, "darendeli")), "curves[1] is 'darendeli'"),
    (lambda: _edited(lambda d: d["profile"]["vs"].__setitem__(3, True)), "profile.vs[3] is true"),
    (lambda: _edited(lambda d: d["record"].update(dt=False)), "record.dt is false"),
    (lambda: _edited(lambda d: d["record"].update(file=["a.txt"])), "record.file must be a file name"),
    (lambda: _edited(lambda d: d["analysis"].update(max_iterations=10**400)), "analysis.max_iterations = 1000"),
    (lambda: _edited(lambda d: d["analysis"].update(max_iterations=1e300)), "analysis.max_iterations must be a whole"),
    (lambda: _edited(lambda d: d["curves"][0].update(pi=1e308)).replace("1e+308", "1e400"), "curves[0].pi = 1e400"),
    (lambda: _edited(lambda d: d["analysis"].update(scale=float("nan"))), "NaN is not a number"),
    (lambda: _edited(lambda d: None).replace('"analysis": {', '"analysis": {"scale": 2.0, '), "'scale' appears twice"),
    (lambda: _edited(lambda d: None)[:-1] + ', "curves": []}', "'curves' appears twice"),
    (lambda: "[" * 100000 + "]" * 100000, "nested 100000 deep"),
    (lambda: '{"record": ' + "{" * 40 + "}" * 40 + "}", "nested 41 deep"),
])
def test_analysis_file_messages_name_the_file_and_entry(workdir, text, message):
    with open("examples/bad.json", "w") as f:
        f.write(text())
    out = _cli("run", "examples/bad.json", "--csv")
    assert out.returncode == 2
    assert "examples/bad.json" in out.stderr and message in out.stderr, out.stderr
    assert not os.path.exists("examples/bad.layers.csv")


def test_an_analysis_file_not_in_utf8_is_named_with_its_line(workdir):
    text = _edited(lambda d: d["analysis"].update(note="Zürich")).replace("\\u00fc", "\u00fc")
    with open("bad.json", "wb") as f:
        f.write(text.replace(', "note"', ',\n"note"').encode("latin-1"))
    out = _cli("run", "bad.json", "--csv")
    assert out.returncode == 2
    assert "bad.json: line 2: not UTF-8 text (byte 0xfc); save the file as UTF-8" in out.stderr


def test_help_lists_the_exit_statuses():
    out = _cli("--help")
    assert out.returncode == 0
    for line in ("0  a complete run", "1  a limit stop", "2  refused", "3  an analysis file's iteration did not"):
        assert line in out.stdout
    assert ".NAME.velmar-XXXXXX" in out.stdout
