"""Results as tables: one home for ``to_dataframe()`` and ``to_csv(path)``.

A result describes itself as named columns of equal length, in order, each
name carrying its unit in parentheses (``"vs (m/s)"``, ``"G/Gmax"``); the
same names head the CSV file and the DataFrame, so
``pandas.read_csv(path)`` gives back ``result.to_dataframe()``.

CSV files are written through ``velmar._files.OutputFile``: replaced whole
(through a temporary file beside them), never written over an input of the
result (the record file it was computed from). Numbers are written in the
shortest form that reads back to the same double; a missing value (NaN) is
an empty field, which pandas reads as NaN.
"""

from __future__ import annotations

import csv
import io
import os
from typing import Any, List, Optional, Sequence, Tuple

import numpy as np

from ._files import Input, OutputFile, write_text

#: One column: its name (with the unit in parentheses) and its values.
Column = Tuple[str, Any]


def _checked(columns: Sequence[Column]) -> List[Tuple[str, np.ndarray]]:
    out = []
    rows = None
    for name, values in columns:
        a = np.asarray(values)
        if a.ndim != 1:
            raise ValueError(f"the column {name!r} must be one-dimensional, got shape {a.shape}")
        if rows is None:
            rows = a.size
        elif a.size != rows:
            raise ValueError(f"the column {name!r} has {a.size} rows where the first has {rows}")
        out.append((name, a))
    return out


def dataframe(columns: Sequence[Column], attrs: Optional[dict] = None):
    """The columns as a pandas DataFrame (in their order); `attrs` go to
    ``DataFrame.attrs``."""
    import pandas as pd

    cols = _checked(columns)
    df = pd.DataFrame({name: a for name, a in cols}, columns=[name for name, _ in cols])
    if attrs:
        df.attrs.update(attrs)
    return df


def _cells(a: np.ndarray) -> List[str]:
    """The text of every value: floats in their shortest exact form (NaN
    empty), whole numbers as they are, flags as True/False, text as is."""
    kind = a.dtype.kind
    if kind == "f":
        return ["" if v != v else repr(v) for v in a.astype(np.float64).tolist()]
    if kind in "iu":
        return [str(v) for v in a.tolist()]
    if kind == "b":
        return ["True" if v else "False" for v in a.tolist()]
    return [str(v) for v in a.tolist()]


def csv_text(columns: Sequence[Column]) -> str:
    """The columns as CSV text: a header line of the names, one line a row."""
    cols = _checked(columns)
    buf = io.StringIO()
    w = csv.writer(buf, lineterminator="\n")
    w.writerow([name for name, _ in cols])
    w.writerows(zip(*(_cells(a) for _, a in cols)) if cols else [])
    return buf.getvalue()


def write_csv(path: Any, columns: Sequence[Column], inputs: Sequence[Input] = (),
              what: str = "the CSV file") -> str:
    """Write the columns as a CSV file, replaced whole; an output that is one
    of `inputs` is refused (ValueError) before anything is written.

    Returns the file's name as given.
    """
    out = OutputFile(path, inputs, what=what)
    write_text(out, csv_text(columns))
    return out.name


def record_inputs(record: Any) -> List[Input]:
    """The file a record was read from (its name, or the name given, when
    that is a file), as an input no table may be written over."""
    name = record if isinstance(record, str) else getattr(record, "name", "")
    if isinstance(name, str) and name and "\x00" not in name and os.path.exists(name):
        return [("the record file", name)]
    return []


class Tabular:
    """A result that describes itself as columns (``_columns()``) and so has
    ``to_dataframe()`` and ``to_csv(path)``; ``_inputs()`` lists the files a
    CSV file may not replace (by default those its maker put in
    ``_inputs_``)."""

    def _columns(self) -> List[Column]:  # pragma: no cover - every result gives its own
        raise NotImplementedError

    def _inputs(self) -> List[Input]:
        # The files it was computed from, when its maker noted them.
        return list(getattr(self, "_inputs_", []))

    def _attrs(self) -> dict:
        return {}

    def to_dataframe(self):
        """The table as a pandas DataFrame; column names carry their units
        in parentheses, as in `to_csv`."""
        return dataframe(self._columns(), self._attrs())

    def to_csv(self, path: Any) -> str:
        """Write the table (as `to_dataframe`) to a CSV file, replaced whole.

        Raises
        ------
        ValueError
            `path` is not a file name, names a folder, or is a file this
            result was computed from (its record file).
        OSError
            The file cannot be written; an old file is then unchanged.

        Returns
        -------
        str
            The file's name.
        """
        return write_csv(path, self._columns(), self._inputs())


class History(Tabular):
    """A history at one depth: the time of every sample and its value.

    Attributes
    ----------
    time : ndarray
        s, from 0 at the record's step.
    values : ndarray
        The history, in `units`.
    quantity : str
        "accel", "velocity", "displacement", "strain" or "stress".
    units : str
        The record's units for an acceleration, else m/s, m, ratio, kPa.
    depth : float
        m.
    """

    UNITS = {"velocity": "m/s", "displacement": "m", "strain": "ratio", "stress": "kPa"}

    def __init__(self, values: np.ndarray, dt: float, quantity: str, units: str, depth: float) -> None:
        self.values = np.asarray(values, dtype=np.float64)
        self.dt = float(dt)
        self.quantity = quantity
        self.units = units
        self.depth = float(depth)

    @property
    def time(self) -> np.ndarray:
        return np.arange(self.values.size) * self.dt

    def _columns(self) -> List[Column]:
        return [("time (s)", self.time), (f"{self.quantity} ({self.units})", self.values)]

    def _attrs(self) -> dict:
        return {"depth (m)": self.depth, "quantity": self.quantity, "units": self.units}

    def __repr__(self) -> str:
        i = int(np.argmax(np.abs(self.values))) if self.values.size else 0
        peak = self.values[i] if self.values.size else float("nan")
        return (f"velmar.History({self.quantity} at {self.depth:g} m, {self.values.size} samples at dt={self.dt:g} s, "
                f"peak {peak:.6g} {self.units} at {i * self.dt:g} s)")


def spectrum_columns(periods: Any, psa: Any, units: str = "g", sd: Any = None, psv: Any = None) -> List[Column]:
    """The columns of a response spectrum: period, frequency, PSA (and PSV,
    SD when given), in the record's units."""
    t = np.asarray(periods, dtype=np.float64)
    cols: List[Column] = [("period (s)", t), ("frequency (Hz)", 1.0 / t)]
    if sd is not None:
        cols.append((f"sd ({units} s2)", sd))
    if psv is not None:
        cols.append((f"psv ({units} s)", psv))
    cols.append((f"psa ({units})", psa))
    return cols


def spectrum_table(periods: Any, psa: Any, units: str = "g"):
    """A response spectrum held as plain arrays (``velmar.response_spectrum``
    returns one) as a pandas DataFrame: columns ``period (s)``,
    ``frequency (Hz)`` and ``psa (<units>)``. ``ResponseSpectrum`` objects
    (from ``velmar.spectra``) have ``to_dataframe()`` and ``to_csv()``."""
    t = np.asarray(periods, dtype=np.float64).reshape(-1)
    a = np.asarray(psa, dtype=np.float64).reshape(-1)
    if t.size != a.size:
        raise ValueError(f"psa has {a.size} values where periods has {t.size}")
    if not np.all(t > 0.0):
        raise ValueError("periods must all be above 0 s")
    return dataframe(spectrum_columns(t, a, units))
