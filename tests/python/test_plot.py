"""Figures of the example decks: which are drawn, that they are PNG files
with content, and that their axes say what they show."""

import os
import shutil

import numpy as np
import pytest

import velmar
from velmar import plot as vplot
from velmar._results import record_units_from_header

from conftest import EXAMPLES

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
# A figure with axes, labels and a curve is tens of kB; an empty canvas a few.
MIN_PNG_BYTES = 15000


@pytest.fixture
def workdir(tmp_path, monkeypatch):
    """A folder holding a copy of examples/, as the decks expect to be run from."""
    shutil.copytree(EXAMPLES, tmp_path / "examples", ignore=shutil.ignore_patterns("expected"))
    monkeypatch.chdir(tmp_path)
    return tmp_path


@pytest.mark.parametrize("deck, figures", [
    ("sh_transfer_clay_sand_rock", ["profile", "transfer"]),
    ("psv_transfer_basin", ["profile", "transfer"]),
    ("sh_signal", ["profile", "transfer", "histories", "spectra", "fourier", "arias", "peaks"]),
    ("psv_signal", ["profile", "transfer", "histories", "spectra", "fourier", "arias"]),
])
def test_each_example_deck_gets_its_figures(workdir, deck, figures):
    written = vplot.plot_deck(f"examples/{deck}.deck", out="figs")
    assert written == [os.path.join("figs", f"{deck}_{name}.png") for name in figures]
    for p in written:
        with open(p, "rb") as f:
            data = f.read()
        assert data[:8] == PNG_SIGNATURE and len(data) > MIN_PNG_BYTES, p
    assert os.path.exists(f"{deck}.out")  # the deck was run as the console runs it


def test_figures_go_beside_the_output_file_by_default(workdir):
    written = vplot.plot_deck("examples/sh_transfer_clay_sand_rock.deck", run=False)
    assert all(os.path.dirname(p) == "." for p in written)
    assert not os.path.exists("sh_transfer_clay_sand_rock.out")


def test_axes_are_labelled_with_units_and_log_where_expected(clay_sand_rock):
    f = np.geomspace(0.1, 20, 200)
    h = velmar.transfer(clay_sand_rock, f)
    ax = vplot.transfer_figure(f, {"SH": np.abs(h) / 2}).axes[0]
    assert ax.get_xscale() == "log" and "Hz" in ax.get_xlabel()

    t = velmar.default_periods()
    fig = vplot.spectra_figure(t, np.ones_like(t), {"out": 2 * np.ones_like(t)}, "cm/s2")
    top, bottom = fig.axes
    assert top.get_xscale() == "log" and "cm/s²" in top.get_ylabel() and "(s)" in bottom.get_xlabel()
    assert [line.get_label() for line in top.get_lines()] == ["input", "out"]

    ax = vplot.profile_figure(clay_sand_rock).axes[0]
    assert "m/s" in ax.get_xlabel() and "(m)" in ax.get_ylabel()
    assert ax.get_ylim()[0] > ax.get_ylim()[1]  # depth grows downwards

    rec = velmar.Record(np.sin(np.arange(500) * 0.3), 0.01, "g")
    pp = velmar.peak_profile(rec, clay_sand_rock)
    labels = [ax.get_xlabel() for ax in vplot.peak_profile_figure(pp).axes]
    assert "(g)" in labels[0] and "(%)" in labels[1] and "(kPa)" in labels[2]


def test_histories_are_shown_where_the_motion_is():
    t = np.arange(4000) * 0.01
    y = np.where(t < 10, np.sin(t * 7), 0.0)
    ax = vplot.histories_figure(t, y, {"out": 2 * y}, "m/s2").axes[-1]
    assert 10 <= ax.get_xlim()[1] < 12


def test_a_q_proportional_deck_draws_the_console_table(workdir):
    with open("examples/sh_transfer_clay_sand_rock.deck") as f:
        lines = f.read().splitlines()
    lines[0] = "qf.out"
    lines[2] = "3 1 2"
    with open("qf.deck", "w") as f:
        f.write("\n".join(lines) + "\n")
    written = vplot.plot_deck("qf.deck", out="figs")
    assert [os.path.basename(p) for p in written] == ["qf_profile.png", "qf_transfer.png"]


@pytest.mark.parametrize("header, units", [
    ("UNITS: CM/S/S    NPTS=  2000", "cm/s2"),
    ("acceleration in gal", "cm/s2"),
    ("units m/s2", "m/s2"),
    ("ACCELERATION (G)", None),
    ("UNITS: G", "g"),
    ("no unit here", None),
])
def test_units_are_read_from_the_signal_file_header(tmp_path, header, units):
    p = tmp_path / "rec.txt"
    p.write_text(f"station X\n{header}\n1 2 3\n")
    got = record_units_from_header(str(p), 2)
    assert got == units
