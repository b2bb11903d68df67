"""velmar.read_deck and velmar.run_deck on the console's decks."""

import os
import shutil

import numpy as np
import pytest

import velmar
from conftest import EXAMPLES

DECKS = ["sh_transfer_clay_sand_rock", "psv_transfer_basin", "sh_signal", "psv_signal"]

TWO_LAYERS = """out.txt
0 30.0
2 1 1
10.0 1.8 200.0 10.0 400.0 20.0
20.0 2.0 400.0 20.0 800.0 40.0
0.0 2.2 1000.0 50.0 2000.0 100.0
0
0.0 20.0 0.05
"""


@pytest.fixture
def workdir(tmp_path, monkeypatch):
    """A current folder holding examples/accelerogram.txt, as the decks expect."""
    (tmp_path / "examples").mkdir()
    shutil.copy(os.path.join(EXAMPLES, "accelerogram.txt"), tmp_path / "examples")
    monkeypatch.chdir(tmp_path)
    return tmp_path


def deck_file(folder, text, name="run.deck"):
    path = folder / name
    path.write_text(text)
    return str(path)


@pytest.mark.parametrize("name", DECKS)
def test_run_deck_writes_the_console_output(workdir, name):
    out = velmar.run_deck(os.path.join(EXAMPLES, name + ".deck"))
    assert out == name + ".out"
    with open(out, "rb") as got, open(os.path.join(EXAMPLES, "expected", name + ".out"), "rb") as want:
        assert got.read() == want.read()


def test_read_deck_gives_the_model_and_the_grid(workdir):
    d = velmar.read_deck(deck_file(workdir, TWO_LAYERS))
    assert (d.kind, d.wave, d.angle, d.lout, d.output) == ("transfer", "SH", 30.0, 1, "out.txt")
    assert not os.path.exists("out.txt"), "reading a deck must not create its output file"
    p = d.profile
    np.testing.assert_allclose(p.vs, [200.0, 400.0, 1000.0])
    np.testing.assert_allclose(p.density, np.float32([1.8, 2.0, 2.2]))
    np.testing.assert_allclose(p.damping, [0.05, 0.025, 0.0])  # 1/(2 QS); the half-space is elastic
    np.testing.assert_allclose(p.damping_p, [0.025, 0.0125, 0.0])
    assert d.freqs.size == 400 and d.freqs[0] == 0.0
    np.testing.assert_allclose(d.freqs[-1], 19.95, rtol=1e-6)
    assert d.record is None


def test_transfer_of_a_deck_profile_matches_the_console_table(workdir):
    """The library in double precision against the console's single-precision
    table (F10.4): within the rounding of the field and of float storage."""
    d = velmar.read_deck(os.path.join(EXAMPLES, "sh_transfer_clay_sand_rock.deck"))
    table = np.loadtxt(os.path.join(EXAMPLES, "expected", "sh_transfer_clay_sand_rock.out"))
    h = np.abs(velmar.transfer(d.profile, d.freqs, wave=d.wave, angle=d.angle, depth=d.depth)) / 2.0
    np.testing.assert_allclose(table[:, 0], d.freqs, atol=5e-5)
    np.testing.assert_allclose(h, table[:, 1], atol=5e-5 + 1e-5 * np.max(table[:, 1]))


def test_signal_deck_gives_the_record_as_read(workdir):
    d = velmar.read_deck(os.path.join(EXAMPLES, "psv_signal.deck"), units="cm/s2")
    assert (d.kind, d.wave, d.angle, d.npt, d.nskip) == ("signal", "SV", 25.0, 2000, 4)
    rec = velmar.read_record(os.path.join(EXAMPLES, "accelerogram.txt"), dt=0.01, units="cm/s2")
    np.testing.assert_array_equal(d.record.accel, rec.accel.astype(np.float32))
    assert d.record.units == "cm/s2" and d.record.dt == pytest.approx(0.01)
    assert d.freqs is None


def test_interface_depth_and_q_proportional_to_frequency(workdir):
    text = TWO_LAYERS.replace("2 1 1\n", "2 3 2\n")  # LOUT = 3 (top of the half-space), IQF = 2
    d = velmar.read_deck(deck_file(workdir, text))
    assert d.lout == 3 and d.depth == pytest.approx(30.0) and d.q_proportional


def test_itype_negative_has_no_wave_and_no_profile(workdir):
    d = velmar.read_deck(deck_file(workdir, TWO_LAYERS.replace("0 30.0\n", "-1 30.0\n")))
    assert d.wave is None and d.profile is None
    assert "none" in repr(d)


@pytest.mark.parametrize("call", [velmar.read_deck, velmar.run_deck], ids=["read", "run"])
@pytest.mark.parametrize("change, error, fragment", [
    (("0 30.0\n", "0 90.0\n"), ValueError, "run.deck:2: ANGLE"),
    (("2 1 1\n", "50 1 1\n"), RuntimeError, "NUMERO MASSIMO STRATI"),
    (("10.0 1.8 200.0", "10.0 1.8 -200.0"), ValueError, "VS of layer 1"),
    (("0.0 20.0 0.05\n", "0.0 20.0 0.0\n"), ValueError, "DF"),
    (("0\n0.0 20.0", "1\nmissing.txt\n0\n0.01 100 1 1\n0.0 20.0"), ValueError, "signal file does not exist"),
])
def test_console_refusals_become_python_errors(workdir, call, change, error, fragment):
    path = deck_file(workdir, TWO_LAYERS.replace(*change))
    with pytest.raises(error, match=fragment):
        call(path)
    assert not os.path.exists("out.txt") or os.path.getsize("out.txt") == 0


def test_a_deck_naming_itself_as_output_is_refused_and_kept(workdir):
    text = TWO_LAYERS.replace("out.txt\n", "run.deck\n")
    path = deck_file(workdir, text)
    with pytest.raises(ValueError, match="deck itself"):
        velmar.run_deck(path)
    with open(path) as f:
        assert f.read() == text


def test_read_deck_leaves_an_existing_output_file_alone(workdir):
    (workdir / "out.txt").write_text("old results\n")
    velmar.read_deck(deck_file(workdir, TWO_LAYERS))
    assert (workdir / "out.txt").read_text() == "old results\n"
