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
