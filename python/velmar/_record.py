"""Acceleration records."""

from __future__ import annotations

import os
from typing import Any, Optional, Union

import numpy as np

from . import _checks
from . import _velmar

#: The canonical names of a record's units; every spelling the library
#: accepts ("gal", "cm/s^2", "m/s**2" ...) is reported as one of them.
UNITS = ("g", "m/s2", "cm/s2")
#: The sample intervals a record may have, s (the library's bounds).
MIN_DT = float(_velmar.MIN_RECORD_DT)
MAX_DT = float(_velmar.MAX_RECORD_DT)


def units_name(name: str, value: Any) -> str:
    """The canonical name of an acceleration unit, by the library's table."""
    if not isinstance(value, str):
        raise ValueError(f"{name} must be one of {', '.join(map(repr, UNITS))}, got {value!r}")
    try:
        return _velmar.acceleration_unit_name(value)
    except ValueError as exc:
        raise ValueError(str(exc).replace("units must", f"{name} must", 1)) from None


PathLike = Union[str, "os.PathLike[str]"]


class Record:
    """An acceleration history sampled at a constant step.

    Parameters
    ----------
    accel : array_like
        The samples, first sample at time 0; at least one, all finite.
    dt : float
        Sample interval, s, between MIN_DT (1e-6) and MAX_DT (10): no
        accelerogram is sampled outside these.
    units : str, optional
        Units of `accel`: ``"g"`` (default), ``"m/s2"`` or ``"cm/s2"``, case
        ignored; other spellings of these (``"gal"``, ``"cm/s^2"``,
        ``"cm/s/s"``, ``"m/s**2"`` ...) are accepted and reported by their
        canonical name.
    name : str, optional
        A label (the file a record was read from).
    description, station, component : str, optional
        What the record's file says of it, where its format says it: the
        event (an AT2 file's second line), the recording station and the
        component (direction or channel); "" when unknown.

    Attributes
    ----------
    accel : ndarray
        The samples, in `units` (read-only).
    dt : float
        Sample interval, s.
    units : str
        Units of `accel`, by canonical name.
    time : ndarray
        Time of every sample, s: ``arange(len(record)) * dt``.

    Raises
    ------
    ValueError
        No sample, a sample that is not finite (or a boolean, or masked),
        `dt` outside [MIN_DT, MAX_DT], unknown `units`.
    """

    def __init__(self, accel: Any, dt: float, units: str = "g", name: str = "", description: str = "",
                 station: str = "", component: str = "") -> None:
        a = _checks.float_array("accel", accel)
        if a.size == 0:
            raise ValueError("accel must hold at least one sample, got 0")
        a.setflags(write=False)
        self._accel = a
        self._dt = _velmar.check_record_dt(dt)
        self._units = units_name("units", units)
        self._name = str(name)
        self._description = str(description)
        self._station = str(station)
        self._component = str(component)

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
    def description(self) -> str:
        """The event the record's file describes (an AT2 file's second line), or ""."""
        return self.__dict__.get("_description", "")

    @property
    def station(self) -> str:
        """The recording station, where the file's format names it, or ""."""
        return self.__dict__.get("_station", "")

    @property
    def component(self) -> str:
        """The component (direction or channel), where the file's format names it, or ""."""
        return self.__dict__.get("_component", "")

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

    def __setstate__(self, state: dict) -> None:
        # Unpickled or deep-copied: the samples stay read-only, as made.
        self.__dict__.update(state)
        a = np.array(self._accel, dtype=np.float64)
        a.setflags(write=False)
        self._accel = a

    def to_dataframe(self):
        """The record as a pandas DataFrame: ``time (s)`` and
        ``accel (<units>)``."""
        from ._tables import dataframe
        return dataframe(self._table_columns(), {"name": self._name, "units": self._units})

    def to_csv(self, path: PathLike) -> str:
        """Write ``time (s), accel (<units>)`` pairs to a CSV file, replaced
        whole; `read_record` reads it back (time, value pairs after a
        header line). Writing over the file the record was read from is
        refused (ValueError). Returns the file's name."""
        from ._tables import record_inputs, write_csv
        return write_csv(path, self._table_columns(), record_inputs(self))

    def _table_columns(self) -> list:
        return [("time (s)", self.time), (f"accel ({self._units})", np.array(self._accel))]


def read_record(path: PathLike, dt: Optional[float] = None, units: Optional[str] = None,
                skip_header: int = 0) -> Record:
    """Read an acceleration record from a text file.

    After `skip_header` lines, the lines before the first line of numbers are
    the header. The layout of the numbers is recognised:

    - PEER NGA ``.AT2``: four header lines, the fourth giving the count and
      step (``NPTS=  5590, DT=   .0050 SEC`` or ``4096    0.0100    NPTS, DT``),
      then the values several to a line; a header with ``NPTS=`` and ``DT=``
      anywhere is read the same way (DT in SEC or MSEC);
    - a line of two numbers, the count and the step (``4096    0.0100``, as
      a PEER fourth line or the line after a title), then that many values
      or that many time, value pairs;
    - time (s) and acceleration pairs, the times rising by one step;
    - one value a line: the step from the header, else `dt`;
    - COSMOS V2 (processed volume 2): the text header, the integer and real
      header blocks (``100 Integer-header values follow on 10 lines, Format=
      (10I8)``), then the acceleration block (``8000 acceleration pts, approx
      40 secs, units=cm/sec2 (04), Format=(8F10.5)``) read in its fixed-width
      columns. The step is the real header's time increment (its value 62),
      which must agree with the block's stated duration; the units are the
      block's. Velocity and displacement blocks are passed over. The event
      is the second text line, the station the fifth.
    - K-NET / KiK-net ASCII: the header lines ``Sampling Freq(Hz)  100Hz``
      and ``Scale Factor  7845(gal)/8223790``, then whole counts 8 to a line
      after the ``Memo.`` line: each count times the factor, less the mean
      of the record (the offset the network asks users to remove), in gal
      (cm/s2). A duration that differs from the samples' span by more than
      1 s (a file cut short) is refused. Station from ``Station Code``,
      component from ``Dir.``, the event from ``Origin Time`` and ``Mag.``.

    Values several to a line are read in order only when a count in the file
    confirms them: a table of two or more columns without a time column or a
    count is refused, so a time is never read as a sample. A count that
    differs from the values, a last line without a line end, and an E field
    with fewer digits than the fields above it (a file cut short) are
    refused. So are a folder, binary content (a device such as
    ``/dev/urandom``) and a file above 256 MiB.

    Parameters
    ----------
    path : str or os.PathLike
        The file.
    dt : float, optional
        Sample interval, s, in [MIN_DT, MAX_DT]. For a file that gives its
        own step (a header, a count line, a time column) it must agree with
        it (within 1e-4); for one value a line without a step it is needed.
    units : str, optional
        Units of the values: ``"g"``, ``"m/s2"`` or ``"cm/s2"`` (any spelling
        `Record` accepts). None takes the units the header names (``UNITS:
        CM/S/S``, ``IN UNITS OF G``; a statement wins over units merely
        mentioned), else g. Given, they must agree with the header's. A
        header that names a velocity or displacement is refused.
    skip_header : int, optional
        Lines to pass over before reading (their count, step and units are
        not read).

    Returns
    -------
    Record
        With the units' canonical name, and the file's event description,
        station and component where its format gives them.

    Raises
    ------
    OSError
        The file is missing, cannot be read, or its content is not one of the
        layouts above (the message names the file and the line).
    ValueError
        A bad `dt`, `units` or `skip_header`, a `dt` or `units` the file
        contradicts, a path holding a NUL byte.
    """
    p = os.fspath(path)
    if not isinstance(p, str):
        raise ValueError(f"path must be a file name, got {path!r}")
    if "\0" in p:
        raise ValueError(f"path holds a NUL byte, which no file name has: {p!r}")
    step = 0.0 if dt is None else _velmar.check_record_dt(dt)
    u = "" if units is None else units_name("units", units)
    if isinstance(skip_header, (bool, np.bool_)) or not isinstance(skip_header, (int, np.integer)) \
            or not 0 <= skip_header < 2**62:
        raise ValueError(f"skip_header must be a whole number of lines, 0 or more, got {skip_header!r}")
    accel, file_dt, file_units, name, description, station, component = _velmar.read_record(
        p, step, u, int(skip_header))
    return Record(accel, file_dt, file_units, name=name or p, description=description, station=station,
                  component=component)
