"""Acceleration records."""

from __future__ import annotations

import os
from typing import Any, Optional, Union

import numpy as np

from . import _checks
from . import _velmar

#: Units a record's acceleration may be given in.
UNITS = ("g", "m/s2", "cm/s2")

PathLike = Union[str, "os.PathLike[str]"]


class Record:
    """An acceleration history sampled at a constant step.

    Parameters
    ----------
    accel : array_like
        The samples, first sample at time 0; at least one, all finite.
    dt : float
        Sample interval, s, above 0.
    units : str, optional
        Units of `accel`: ``"g"`` (default), ``"m/s2"`` or ``"cm/s2"``.
    name : str, optional
        A label (the file a record was read from).

    Attributes
    ----------
    accel : ndarray
        The samples, in `units` (read-only).
    dt : float
        Sample interval, s.
    units : str
        Units of `accel`.
    time : ndarray
        Time of every sample, s: ``arange(len(record)) * dt``.

    Raises
    ------
    ValueError
        No sample, a sample that is not finite, `dt` not finite or not above
        0, unknown `units`.
    """

    def __init__(self, accel: Any, dt: float, units: str = "g", name: str = "") -> None:
        a = _checks.float_array("accel", accel)
        if a.size == 0:
            raise ValueError("accel must hold at least one sample, got 0")
        a.setflags(write=False)
        self._accel = a
        self._dt = _checks.positive("dt", dt)
        self._units = _checks.choice("units", units, UNITS)
        self._name = str(name)

    @property
    def accel(self) -> np.ndarray:
        """The acceleration samples, in `units`."""
        return self._accel

    @property
    def dt(self) -> float:
        """Sample interval, s."""
        return self._dt

    @property
    def units(self) -> str:
        """Units of the samples: "g", "m/s2" or "cm/s2"."""
        return self._units

    @property
    def name(self) -> str:
        """The record's label (its file name when read from a file)."""
        return self._name

    @property
    def time(self) -> np.ndarray:
        """Time of every sample, s (the first at 0)."""
        return np.arange(self._accel.size) * self._dt

    @property
    def duration(self) -> float:
        """Time of the last sample, s."""
        return (self._accel.size - 1) * self._dt

    def __len__(self) -> int:
        return int(self._accel.size)

    def __repr__(self) -> str:
        a = self._accel
        i = int(np.argmax(np.abs(a)))
        label = f"{self._name!r}, " if self._name else ""
        return (f"velmar.Record({label}{a.size} samples at dt={self._dt:g} s "
                f"({self.duration:g} s), peak {a[i]:.6g} {self._units} at {i * self._dt:g} s)")

    def _core_args(self) -> tuple:
        return self._accel, self._dt, self._units


def read_record(path: PathLike, dt: Optional[float] = None, units: str = "g") -> Record:
    """Read an acceleration record from a text file.

    The format is recognised from the content:

    - PEER NGA ``.AT2``: four header lines, the fourth giving the count and
      step (``NPTS=  5590, DT=   .0050 SEC`` or ``4096    0.0100    NPTS, DT``),
      then the values in g; a count of values other than NPTS is refused;
    - two columns, time (s) and acceleration, with or without a header line;
      the times must rise evenly;
    - one column of values: `dt` must then be given.

    Parameters
    ----------
    path : str or os.PathLike
        The file.
    dt : float, optional
        Sample interval, s, above 0; overrides the file's own.
    units : str, optional
        Units of the values: ``"g"`` (default; a PEER file is in g),
        ``"m/s2"`` or ``"cm/s2"``.

    Returns
    -------
    Record

    Raises
    ------
    OSError
        The file is missing, cannot be read, or its content is not one of the
        formats above (the message names the file and the line).
    ValueError
        A bad `dt` or `units`.
    """
    p = os.fspath(path)
    if not isinstance(p, str):
        raise ValueError(f"path must be a file name, got {path!r}")
    step = 0.0 if dt is None else _checks.positive("dt", dt)
    u = _checks.choice("units", units, UNITS)
    accel, file_dt, file_units, name = _velmar.read_record(p, step, u)
    return Record(accel, file_dt, file_units, name=name or p)
