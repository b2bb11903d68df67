"""read_record on the formats of strong-motion networks (COSMOS V2, K-NET /
KiK-net ASCII) and the event, station and component a file gives: each read
correctly from a small hand-written file, each damaged variant refused with
the file and line named."""

import os
import pickle

import numpy as np
import pytest

import velmar

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "data", "records")
COSMOS = os.path.join(DATA, "cosmos_v2.V2")
KNET = os.path.join(DATA, "knet.NS")


def lines_of(path):
    with open(path) as f:
        return f.read().splitlines()


def write(tmp_path, name, lines):
    p = tmp_path / name
    p.write_text("\n".join(lines) + "\n")
    return str(p)


# --- COSMOS V2 ------------------------------------------------------------------------------------

def test_cosmos_v2_reads_the_acceleration_block_with_its_step_units_and_station():
    rec = velmar.read_record(COSMOS)
    expected = np.loadtxt(os.path.join(DATA, "cosmos_v2.expected"))
    np.testing.assert_array_equal(rec.accel, expected)  # the velocity block after it is not read
    assert rec.dt == 0.01 and rec.units == "cm/s2"
    assert rec.description.startswith("Test Valley earthquake")
    assert "Hilltop Station" in rec.station and rec.component == "360 deg"
    assert velmar.read_record(COSMOS, dt=0.01, units="gal").units == "cm/s2"


def _cosmos_edit(tmp_path, edit):
    lines = lines_of(COSMOS)
    edit(lines)
    return write(tmp_path, "bad.V2", lines)


def _block(lines, word):
    return next(i for i, l in enumerate(lines) if f"{word} pts" in l or f"{word}     pts" in l)


@pytest.mark.parametrize("case, match", [
    ("cut inside the block", "cut short"),
    ("a field not a number", "not a finite number"),
    ("a blank field", "missing"),
    ("text lines miscounted", "text lines"),
    ("step disagrees with the duration", "span"),
    ("unknown units", "units"),
    ("raw counts", "raw counts"),
    ("no acceleration block", "no acceleration"),
])
def test_damaged_cosmos_files_are_refused_naming_the_line(tmp_path, case, match):
    def edit(lines):
        a = _block(lines, "acceleration")
        if case == "cut inside the block":
            del lines[a + 3:]
        elif case == "a field not a number":
            lines[a + 2] = lines[a + 2][:10] + "  12.3x567" + lines[a + 2][20:]
        elif case == "a blank field":
            lines[a + 2] = lines[a + 2][:10] + " " * 10 + lines[a + 2][20:]
        elif case == "text lines miscounted":
            del lines[5]
        elif case == "step disagrees with the duration":
            lines[a] = lines[a].replace("approx    0 secs", "approx   40 secs")
        elif case == "unknown units":
            lines[a] = lines[a].replace("units=cm/sec2", "units=counts")
        elif case == "raw counts":
            lines[0] = "Raw acceleration counts  " + lines[0][25:]
        else:
            v = _block(lines, "velocity")
            del lines[a:v]
    path = _cosmos_edit(tmp_path, edit)
    with pytest.raises(OSError, match=match) as info:
        velmar.read_record(path)
    assert str(info.value).startswith(path)


def test_cosmos_step_and_units_a_caller_contradicts_are_refused(tmp_path):
    with pytest.raises(ValueError, match="dt"):
        velmar.read_record(COSMOS, dt=0.02)
    with pytest.raises(ValueError, match="cm/s2"):
        velmar.read_record(COSMOS, units="g")
    # A null time increment: the step must then be given.
    def no_dt(lines):
        i = next(i for i, l in enumerate(lines) if "Real-header" in l)
        lines[i + 11] = lines[i + 11].replace("     0.010000", "  -999.000000")
    path = _cosmos_edit(tmp_path, no_dt)
    with pytest.raises(OSError, match="give dt"):
        velmar.read_record(path)
    assert velmar.read_record(path, dt=0.01).dt == 0.01


# --- K-NET / KiK-net ------------------------------------------------------------------------------

def _counts():
    lines = lines_of(KNET)
    memo = lines.index("Memo.")
    return np.array(" ".join(lines[memo + 1:]).split(), dtype=float)


def test_knet_counts_times_the_scale_factor_less_the_mean():
    rec = velmar.read_record(KNET)
    gal = _counts() * 3920.0 / 6170000.0
    np.testing.assert_allclose(rec.accel, gal - gal.mean(), rtol=0, atol=1e-14)
    assert rec.dt == pytest.approx(0.01, rel=1e-15) and rec.units == "cm/s2" and len(rec) == 44
    assert rec.station == "TST001" and rec.component == "N-S"
    assert rec.description == "origin time 2020/06/01 10:20:00, M 5.5"


@pytest.mark.parametrize("case, match", [
    ("scale factor without units", "scale factor"),
    ("scale factor in velocity", "units"),
    ("a count that is not whole", "whole count"),
    ("a short line mid-file", "every line but the last"),
    ("cut short", "cut short"),
    ("no sampling frequency", "Sampling Freq"),
    ("no Memo line", "Memo"),
])
def test_damaged_knet_files_are_refused(tmp_path, case, match):
    lines = lines_of(KNET)
    memo = lines.index("Memo.")
    if case == "scale factor without units":
        lines[memo - 3] = "Scale Factor      3920/6170000"
    elif case == "scale factor in velocity":
        lines[memo - 3] = "Scale Factor      3920(cm/s)/6170000"
    elif case == "a count that is not whole":
        lines[memo + 2] = lines[memo + 2].replace("-389", "-38.9")
    elif case == "a short line mid-file":
        lines[memo + 2] = lines[memo + 2][:32]
    elif case == "cut short":
        lines = lines[:memo + 3]
        lines[memo - 5] = "Duration Time(s)  3"
    elif case == "no sampling frequency":
        del lines[memo - 6]
    else:
        del lines[memo]
    path = write(tmp_path, "bad.NS", lines)
    with pytest.raises(OSError, match=match) as info:
        velmar.read_record(path)
    assert str(info.value).startswith(path)


def test_knet_units_are_gal_whatever_the_caller_says():
    assert velmar.read_record(KNET, units="cm/s^2").units == "cm/s2"
    with pytest.raises(ValueError, match="gal|cm/s2"):
        velmar.read_record(KNET, units="g")


# --- the event, station and component on the record -----------------------------------------------

def test_an_at2_file_keeps_its_event_description_through_pickling(tmp_path):
    text = ("PEER NGA STRONG MOTION DATABASE RECORD\nTest Valley 2020, Hilltop Station, 90\n"
            "ACCELERATION TIME SERIES IN UNITS OF G\nNPTS=    3, DT=   .0100 SEC\n .1 .2 -.1\n")
    p = tmp_path / "r.AT2"
    p.write_text(text)
    rec = velmar.read_record(str(p))
    assert rec.description == "Test Valley 2020, Hilltop Station, 90"
    back = pickle.loads(pickle.dumps(rec))
    assert back.description == rec.description and back.units == "g"
    np.testing.assert_array_equal(back.accel, rec.accel)
    for name, kind in (("k", KNET), ("c", COSMOS)):
        r = velmar.read_record(kind)
        b = pickle.loads(pickle.dumps(r))
        assert (b.station, b.component, b.description) == (r.station, r.component, r.description)
    # A title above a count line is the description too; a bare column has none.
    p.write_text("Hilltop record\n3 0.01\n.1\n.2\n-.1\n")
    assert velmar.read_record(str(p)).description == "Hilltop record"
    p.write_text(".1\n.2\n-.1\n")
    assert velmar.read_record(str(p), dt=0.01).description == ""


def test_a_cosmos_count_far_beyond_the_file_is_refused_not_allocated(tmp_path):
    lines = lines_of(COSMOS)
    a = _block(lines, "acceleration")
    lines[a] = lines[a].replace("      40 acceleration", " 9999999 acceleration").replace("approx    0", "approx 99999")
    path = write(tmp_path, "huge.V2", lines)
    with pytest.raises(OSError, match="cut short|not a finite|longer"):
        velmar.read_record(path)
