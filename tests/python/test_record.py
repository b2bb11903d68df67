"""velmar.read_record and velmar.Record: the formats, and what is refused."""

import os

import numpy as np
import pytest

import velmar
from conftest import EXAMPLES

VALUES = [0.001, -0.0025, 0.004, 0.0, -0.0031, 0.0017, 0.0009]


def write(tmp_path, name, text):
    path = tmp_path / name
    path.write_text(text)
    return str(path)


def values_block(values, per_line=5):
    return "\n".join("  ".join(f"{v:.7E}" for v in values[i:i + per_line])
                     for i in range(0, len(values), per_line)) + "\n"


AT2_NEW = "PEER NGA STRONG MOTION DATABASE RECORD\nTEST 1999, STATION, 90\nACCELERATION TIME SERIES IN UNITS OF G\n"


@pytest.mark.parametrize("header", [
    "NPTS=    7, DT=   .0050 SEC\n",
    "   7    0.0050    NPTS, DT\n",
])
def test_peer_at2_both_header_styles(tmp_path, header):
    path = write(tmp_path, "r.AT2", AT2_NEW + header + values_block(VALUES))
    rec = velmar.read_record(path)
    np.testing.assert_allclose(rec.accel, VALUES, rtol=1e-15)
    assert rec.dt == pytest.approx(0.005) and rec.units == "g" and len(rec) == 7
    np.testing.assert_allclose(rec.time, np.arange(7) * 0.005)


def test_peer_count_that_differs_from_the_header_is_refused(tmp_path):
    path = write(tmp_path, "short.AT2", AT2_NEW + "NPTS=    9, DT=   .0050 SEC\n" + values_block(VALUES))
    with pytest.raises(OSError, match="9|NPTS"):
        velmar.read_record(path)


@pytest.mark.parametrize("header", ["", "time_s accel_g\n"])
def test_two_columns_give_dt_from_the_times(tmp_path, header):
    rows = "".join(f"{0.01 * i:.2f} {v}\n" for i, v in enumerate(VALUES))
    rec = velmar.read_record(write(tmp_path, "r.txt", header + rows))
    np.testing.assert_allclose(rec.accel, VALUES, rtol=1e-15)
    assert rec.dt == pytest.approx(0.01, rel=1e-12)


def test_uneven_times_are_refused(tmp_path):
    rows = "0.0 1.0\n0.01 2.0\n0.03 3.0\n0.04 4.0\n"
    with pytest.raises(OSError):
        velmar.read_record(write(tmp_path, "uneven.txt", rows))


def test_one_column_needs_dt(tmp_path):
    path = write(tmp_path, "one.txt", "".join(f"{v}\n" for v in VALUES))
    with pytest.raises((OSError, ValueError), match="dt"):
        velmar.read_record(path)
    rec = velmar.read_record(path, dt=0.02, units="m/s2")
    assert rec.dt == 0.02 and rec.units == "m/s2"
    np.testing.assert_allclose(rec.accel, VALUES, rtol=1e-15)


def test_the_example_accelerogram_reads_with_its_step():
    rec = velmar.read_record(os.path.join(EXAMPLES, "accelerogram.txt"), dt=0.01, units="cm/s2")
    assert len(rec) == 2000 and rec.dt == 0.01
    assert np.max(np.abs(rec.accel)) == pytest.approx(250.0, rel=1e-6)


def test_missing_file_is_an_os_error(tmp_path):
    with pytest.raises(OSError, match="nothere"):
        velmar.read_record(str(tmp_path / "nothere.AT2"))


def test_record_from_arrays_and_its_repr():
    rec = velmar.Record([0.0, 0.1, -0.3, 0.2], 0.01, units="g")
    assert len(rec) == 4 and rec.duration == pytest.approx(0.03)
    assert "4 samples" in repr(rec) and "-0.3 g" in repr(rec)
    with pytest.raises(ValueError):
        rec.accel[0] = 1.0


SINE = [0.5 * np.sin(0.3 * i) for i in range(60)]


def e_fields(values):
    """Five fixed-width E fields a line, as PEER writes them."""
    return "".join("".join(f"{v:15.7E}" for v in values[i:i + 5]) + "\n" for i in range(0, len(values), 5))


@pytest.mark.parametrize("layout", ["pairs", "triples", "ragged", "uneven"])
def test_times_are_never_read_as_samples(tmp_path, layout):
    rows = {
        "pairs": [f"{0.01 * i:.2f} {v:.6f}" for i, v in enumerate(SINE)],
        "triples": [f"{0.01 * i:.2f} {v:.6f} {v:.6f}" for i, v in enumerate(SINE)],
        "ragged": [f"{v:.6f} {v:.6f}" if i % 2 else f"{v:.6f}" for i, v in enumerate(SINE)],
        "uneven": [f"{0.01 * i * i:.2f} {v:.6f}" for i, v in enumerate(SINE)],
    }[layout]
    path = write(tmp_path, "r.txt", "\n".join(rows) + "\n")
    if layout == "pairs":
        rec = velmar.read_record(path, dt=0.01)
        assert len(rec) == 60 and np.max(np.abs(rec.accel)) == pytest.approx(0.5, abs=1e-3)
        with pytest.raises(ValueError, match="dt"):
            velmar.read_record(path, dt=0.02)
    else:
        for dt in (None, 0.01):
            with pytest.raises(OSError, match="r.txt"):
                velmar.read_record(path, dt=dt)


@pytest.mark.parametrize("text", [
    AT2_NEW + "   60    0.0100\n" + e_fields(SINE),
    "Record title\n60 0.01\n" + "".join(f"{0.01 * i:.2f},{v:.8f}\n" for i, v in enumerate(SINE)),
    "Record title\n60 0.01\n" + "".join(f"{v:.8f}\n" for v in SINE),
], ids=["peer without words", "title, count, pairs", "title, count, values"])
@pytest.mark.parametrize("dt", [None, 0.01])
def test_count_and_step_lines(tmp_path, text, dt):
    rec = velmar.read_record(write(tmp_path, "r.txt", text), dt=dt)
    np.testing.assert_allclose(rec.accel, SINE, atol=1e-7)
    assert rec.dt == pytest.approx(0.01)


def test_skip_header(tmp_path):
    path = write(tmp_path, "r.txt", "1 2 3\n4 5 6\n" + "".join(f"{v}\n" for v in VALUES))
    np.testing.assert_allclose(velmar.read_record(path, dt=0.01, skip_header=2).accel, VALUES)
    with pytest.raises(OSError):
        velmar.read_record(path, dt=0.01)
    for bad in (-1, 1.5, True, "2"):
        with pytest.raises(ValueError, match="skip_header"):
            velmar.read_record(path, dt=0.01, skip_header=bad)


def test_files_cut_short_are_refused(tmp_path):
    full = AT2_NEW + "NPTS=   60, DT=   .0100 SEC\n" + e_fields(SINE)
    assert len(velmar.read_record(write(tmp_path, "full.AT2", full))) == 60
    for cut in range(len(full) - 32, len(full)):
        with pytest.raises(OSError):
            velmar.read_record(write(tmp_path, "cut.AT2", full[:cut]))
        if cut + 1 < len(full):
            with pytest.raises(OSError):
                velmar.read_record(write(tmp_path, "cut.AT2", full[:cut] + "\n"))
    with pytest.raises(OSError, match="line end"):
        velmar.read_record(write(tmp_path, "one.txt", "0.1\n0.2\n0.496963E-0"), dt=0.01)


def test_units_of_the_header(tmp_path):
    values = e_fields(SINE)
    peer = write(tmp_path, "r.AT2", AT2_NEW + "NPTS=   60, DT=   10 MSEC\n" + values)
    rec = velmar.read_record(peer)
    assert rec.dt == pytest.approx(0.01) and rec.units == "g"
    assert velmar.read_record(peer, units="G").units == "g"
    with pytest.raises(ValueError, match="cm/s2"):
        velmar.read_record(peer, units="cm/s2")
    for kind in ("VELOCITY TIME HISTORY IN UNITS OF CM/S", "DISPLACEMENT TIME HISTORY IN UNITS OF CM"):
        other = write(tmp_path, "r.VT2", f"PEER RECORD\nEVENT\n{kind}\nNPTS=   60, DT= .01 SEC\n" + values)
        with pytest.raises(OSError, match="no acceleration"):
            velmar.read_record(other)
    column = "0.1\n0.2\n-0.3\n"
    stated = write(tmp_path, "s.txt", "STATION X\nUNITS: G   (PEAK 245.2 CM/S/S = 0.25 G)\n" + column)
    assert velmar.read_record(stated, dt=0.01).units == "g"
    mixed = write(tmp_path, "m.txt", "STATION X\nPEAK 245.2 CM/S/S = 0.25 G\n" + column)
    with pytest.raises(OSError, match="UNITS"):
        velmar.read_record(mixed, dt=0.01)
    assert velmar.read_record(mixed, dt=0.01, units="gal").units == "cm/s2"
    assert velmar.read_record(os.path.join(EXAMPLES, "accelerogram.txt")).units == "cm/s2"


def test_deck_signal_header_units(tmp_path):
    from velmar._results import record_units_from_header
    p = tmp_path / "sig.txt"
    p.write_text("station\nUNITS: G   (PEAK 245.2 CM/S/S = 0.25 G)\n0.1\n")
    assert record_units_from_header(str(p), 2) == "g"
    p.write_text("station\nPEAK 245.2 CM/S/S = 0.25 G\n0.1\n")
    with pytest.raises(ValueError, match="sig.txt"):
        record_units_from_header(str(p), 2)


@pytest.mark.parametrize("path, words", [
    ("/dev/urandom", "not text"), ("/dev/zero", "not text"), ("/", "folder"),
])
def test_devices_and_folders_are_refused_by_name(path, words):
    if not os.path.exists(path):
        pytest.skip(f"no {path}")
    with pytest.raises(OSError) as info:
        velmar.read_record(path, dt=0.01)
    assert str(info.value).startswith(path) and words in str(info.value)


def test_path_with_a_nul_byte_is_refused(tmp_path):
    good = write(tmp_path, "r.txt", "0.1\n0.2\n")
    with pytest.raises(ValueError, match="NUL"):
        velmar.read_record(good + "\x00junk", dt=0.01)


def test_units_and_dt_of_a_record():
    assert velmar.Record([0.0, 1.0], 0.01, units="gal").units == "cm/s2"
    assert velmar.Record([0.0, 1.0], 0.01, units="M/S^2").units == "m/s2"
    assert velmar.Record([0.0, 1.0], 10.0).dt == 10.0
    for dt in (1e308, 10.5, 1e-320):
        with pytest.raises(ValueError, match="dt"):
            velmar.Record([0.0, 1.0], dt)
    with pytest.raises(ValueError, match="dt"):
        velmar.read_record("x.txt", dt=1e308)
