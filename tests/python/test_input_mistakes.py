"""Ordinary input mistakes that once gave silently wrong results: each is
refused with a message that says what to change, or read correctly."""

import os
import subprocess
import sys

import numpy as np
import pytest

import velmar
from velmar.__main__ import main

from conftest import EXAMPLES

S = np.array([1e-6, 1e-5, 1e-4, 1e-3, 1e-2])
G = np.array([1.0, 0.98, 0.8, 0.4, 0.1])
D = np.array([0.01, 0.02, 0.05, 0.12, 0.2])


def motion(pga, n=2000, dt=0.01):
    t = np.arange(n) * dt
    a = np.exp(-0.5 * (t - 5.0) ** 2) * (np.sin(2 * np.pi * 2.1 * t) + 0.4 * np.sin(2 * np.pi * 5.3 * t))
    return velmar.Record(pga * a, dt)


def site(**kw):
    kw.setdefault("density", [1.7, 1.8, 1.9, 2.3])
    return velmar.Profile([4, 6, 10, 0], vs=[120, 180, 260, 900], damping=[0.02, 0.02, 0.02, 0.01], **kw)


# --- densities -------------------------------------------------------------------------------

@pytest.mark.parametrize("density, match", [
    ([18.0, 19.0, 20.0, 22.0], r"density\[0\] \(layer 1\) is 18 t/m3.*divided by 9.81.*18 kN/m3 is 1.835 t/m3"),
    ([1.7, 1.8, 19.5, 2.3], r"density\[2\] \(layer 3\) is 19.5 t/m3"),
    ([1.7, 1.8, 1.9, 2300.0], r"density\[3\] \(the half-space\) is 2300 t/m3.*2300 kg/m3 is 2.3 t/m3"),
])
def test_a_unit_weight_typed_as_density_is_refused_by_layer(density, match):
    with pytest.raises(ValueError, match=match):
        site(density=density)


def test_unit_weight_is_the_alternative_to_density():
    gamma = np.array([17.0, 18.0, 19.0, 22.0])
    p = site(density=None, unit_weight=gamma)
    np.testing.assert_allclose(p.density, gamma / 9.81, rtol=1e-15)
    # The analysis' stresses come from exactly the unit weights given.
    res = velmar.equivalent_linear(motion(0.05), p, curves=[velmar.Darendeli()] * 3)
    same = velmar.equivalent_linear(motion(0.05), site(density=gamma / 9.81), curves=[velmar.Darendeli()] * 3)
    np.testing.assert_array_equal(res.mean_stress, same.mean_stress)
    with pytest.raises(ValueError, match="exactly one of them .got both"):
        site(unit_weight=gamma)
    with pytest.raises(ValueError, match="exactly one of them .got neither"):
        site(density=None)
    with pytest.raises(ValueError, match=r"unit_weight\[1\] \(layer 2\) is 18000 kN/m3"):
        site(density=None, unit_weight=[17.0, 18000.0, 19.0, 22.0])
    with pytest.raises(ValueError, match=r"unit_weight\[3\] \(the half-space\) must be above 0"):
        site(density=None, unit_weight=[17.0, 18.0, 19.0, 0.0])


# --- curve tables ----------------------------------------------------------------------------

@pytest.mark.parametrize("strain, damping, match", [
    (S * 100, D, r"strain\[4\] is above 0.2: this looks like percent.*strain_units"),
    (S, D * 100, r"damping\[0\] is above 0.5: this looks like percent.*damping_units"),
])
def test_a_curve_table_in_percent_is_refused(strain, damping, match):
    with pytest.raises(ValueError, match=match):
        velmar.CurveTable(strain, G, damping)


def test_a_curve_table_in_percent_is_read_when_said_so():
    ratio = velmar.CurveTable(S, G, D)
    pct = velmar.CurveTable(S * 100, G, D * 100, strain_units="percent", damping_units="percent")
    np.testing.assert_allclose(pct.strain, S, rtol=1e-15)
    np.testing.assert_allclose(pct.damping, D, rtol=1e-15)
    g1, d1 = velmar.curve_values(ratio, [3e-4, 3e-3])
    g2, d2 = velmar.curve_values(pct, [3e-4, 3e-3])
    np.testing.assert_allclose(g2, g1, rtol=1e-12)
    np.testing.assert_allclose(d2, d1, rtol=1e-12)
    with pytest.raises(ValueError, match="strain_units must be 'ratio' or 'percent'"):
        velmar.CurveTable(S, G, D, strain_units="%")


# --- messages count layers from 1 -------------------------------------------------------------

def test_analysis_messages_count_layers_from_1_with_strains_in_percent():
    curves = [velmar.Darendeli(pi=30.0), velmar.Darendeli(pi=20.0), velmar.Darendeli(pi=10.0)]
    with pytest.raises(RuntimeError) as e:
        velmar.equivalent_linear(motion(1.5), site(), curves=curves, strain_limit=1e-4)
    what = str(e.value)
    assert "layer 0" not in what
    assert "beyond the strain limit 0.0001 (0.01 %)" in what, what
    layer = int(what.split("peak strain in layer ")[1].split()[0])
    assert 1 <= layer <= 3
    with pytest.warns(RuntimeWarning, match="layer 1: an effective strain fell outside the curve table"):
        table = velmar.CurveTable([1e-6, 1e-5], [1.0, 0.9], [0.01, 0.02])
        velmar.equivalent_linear(motion(0.3), site(), curves=[table, None, None])


# --- a damping ratio in a deck's Q column ------------------------------------------------------

def _q_deck(folder, qs="0.02", itype="0"):
    with open(os.path.join(EXAMPLES, "sh_transfer_clay_sand_rock.deck")) as f:
        lines = f.read().splitlines()
    lines[0] = "q.out"
    lines[1] = f"{itype} 0.0"
    lines[3] = f"8.0   1.70  120.0 {qs} 1500.0 20.0"
    path = folder / "q.deck"
    path.write_text("\n".join(lines) + "\n")
    return str(path)


def test_a_damping_ratio_in_the_q_column_is_refused_with_the_reason(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    deck = _q_deck(tmp_path)
    assert velmar.run_deck(deck) == "q.out"  # the console's contract: it runs
    with pytest.raises(ValueError, match=r"QS of layer 1 is 0.02: .*looks like a damping ratio typed in the Q "
                                         r"column: a damping ratio of 0.02 is Q = 25"):
        velmar.read_deck(deck)
    # A Q the library takes, and a deck that computes nothing, still read.
    assert velmar.read_deck(_q_deck(tmp_path, qs="25")).profile.damping[0] == pytest.approx(0.02)
    assert velmar.read_deck(_q_deck(tmp_path, itype="-1")).profile is None
    # For SH a QP the library cannot take drops only the P model; for SV it refuses.
    lines = open(_q_deck(tmp_path, qs="25")).read().splitlines()
    lines[3] = "8.0   1.70  120.0 25 1500.0 0.3"
    (tmp_path / "qp.deck").write_text("\n".join(lines) + "\n")
    sh = velmar.read_deck("qp.deck")
    assert sh.profile.vp is None and sh.profile.damping[0] == pytest.approx(0.02)
    lines[1] = "2 10.0"
    (tmp_path / "qp.deck").write_text("\n".join(lines) + "\n")
    with pytest.raises(ValueError, match="QP of layer 1 is 0.3"):
        velmar.read_deck("qp.deck")


def test_the_commands_say_why_a_q_deck_gives_nothing(tmp_path, monkeypatch, capsys):
    monkeypatch.chdir(tmp_path)
    deck = _q_deck(tmp_path)
    assert main(["run", deck, "--csv"]) == 2
    err = capsys.readouterr().err
    assert "ITYPE < 0" not in err and "looks like a damping ratio typed in the Q column" in err, err
    assert not os.path.exists("q.csv")
    assert main(["plot", deck, "--out", "figs"]) == 2
    assert "looks like a damping ratio typed in the Q column" in capsys.readouterr().err
    assert not os.listdir("figs") if os.path.isdir("figs") else True
    # A deck that computes nothing draws nothing: status 2, never 0 with an empty folder.
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        [os.path.dirname(os.path.dirname(os.path.abspath(velmar.__file__))), os.environ.get("PYTHONPATH", "")]))
    out = subprocess.run([sys.executable, "-m", "velmar", "plot", _q_deck(tmp_path, qs="25", itype="-1"), "--out",
                          "none"], capture_output=True, text=True, env=env, timeout=120)
    assert out.returncode == 2 and "computes nothing" in out.stderr and "Traceback" not in out.stderr


def test_a_deck_in_kg_per_m3_is_read_as_the_console_reads_it(tmp_path, monkeypatch):
    # The console takes any consistent units: only density ratios enter its responses.
    monkeypatch.chdir(tmp_path)
    with open(os.path.join(EXAMPLES, "sh_transfer_clay_sand_rock.deck")) as f:
        lines = f.read().splitlines()
    t = velmar.read_deck(os.path.join(EXAMPLES, "sh_transfer_clay_sand_rock.deck"))
    for i in range(3, 7):
        v = lines[i].split()
        v[1] = str(float(v[1]) * 1000.0)
        lines[i] = " ".join(v)
    (tmp_path / "kg.deck").write_text("\n".join(lines) + "\n")
    kg = velmar.read_deck("kg.deck")
    np.testing.assert_allclose(kg.profile.density, t.profile.density * 1000.0, rtol=1e-6)
    h1 = velmar.transfer(t.profile, t.freqs[1:], "SH")
    h2 = velmar.transfer(kg.profile, kg.freqs[1:], "SH")
    np.testing.assert_allclose(h2, h1, rtol=1e-6)
    # The analysis needs t/m3 for its stresses and says so.
    with pytest.raises(ValueError, match=r"density\[0\] \(layer 1\) is 1700 t/m3.*kg/m3"):
        velmar.equivalent_linear(motion(0.1), kg.profile, curves=[velmar.Darendeli()] * 3)
