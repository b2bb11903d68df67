"""Argument checks shared by the public calls.

Every check raises ``ValueError`` (or ``TypeError`` for an argument of the
wrong kind) with a message naming the argument and the offending value, in
the form ``vs[3] must be above 0, got -120.0``.
"""

from __future__ import annotations

import math
from typing import Any, Iterable, Optional

import numpy as np


def float_array(name: str, value: Any, *, allow_inf: bool = False) -> np.ndarray:
    """Return `value` as a new, contiguous, one-dimensional float64 array.

    Raises ValueError for anything that is not a one-dimensional sequence of
    real numbers, or that holds NaN or an infinity (+infinity is let through
    when `allow_inf`).
    """
    if value is None:
        raise ValueError(f"{name} is required, got None")
    try:
        arr = np.array(value, dtype=np.float64, order="C", copy=True)
    except (TypeError, ValueError) as exc:
        raise ValueError(f"{name} must be a sequence of real numbers, got {value!r}") from exc
    if np.iscomplexobj(np.asarray(value)):
        raise ValueError(f"{name} must hold real numbers, got complex values")
    if arr.ndim != 1:
        raise ValueError(f"{name} must be one-dimensional, got an array of shape {arr.shape}")
    ok = np.isfinite(arr) | (allow_inf & (arr == np.inf))
    first_bad(name, arr, ok, "must be finite")
    return arr


def first_bad(name: str, arr: np.ndarray, ok: np.ndarray, what: str) -> None:
    """Raise ValueError for the first entry of `arr` where `ok` is False."""
    bad = np.flatnonzero(~ok)
    if bad.size:
        i = int(bad[0])
        raise ValueError(f"{name}[{i}] {what}, got {arr[i]!r}")


def real(name: str, value: Any) -> float:
    """Return `value` as a finite float; ValueError names it otherwise."""
    if isinstance(value, (bool, np.bool_)) or isinstance(value, (complex, np.complexfloating)):
        raise ValueError(f"{name} must be a real number, got {value!r}")
    try:
        x = float(value)
    except (TypeError, ValueError) as exc:
        raise ValueError(f"{name} must be a real number, got {value!r}") from exc
    if not math.isfinite(x):
        raise ValueError(f"{name} must be finite, got {x!r}")
    return x


def positive(name: str, value: Any) -> float:
    x = real(name, value)
    if not x > 0.0:
        raise ValueError(f"{name} must be above 0, got {x!r}")
    return x


def non_negative(name: str, value: Any) -> float:
    x = real(name, value)
    if x < 0.0:
        raise ValueError(f"{name} must be 0 or more, got {x!r}")
    return x


def angle(name: str, value: Any) -> float:
    """An incidence angle in degrees, strictly between -90 and 90."""
    x = real(name, value)
    if not abs(x) < 90.0:
        raise ValueError(f"{name} must lie strictly between -90 and 90 degrees, got {x!r}")
    return x


def choice(name: str, value: Any, allowed: Iterable[str], *, upper: bool = False) -> str:
    """A name from `allowed`, compared without regard to case.

    Returns the allowed spelling (upper case when `upper`).
    """
    allowed = tuple(allowed)
    if not isinstance(value, str):
        raise ValueError(f"{name} must be one of {', '.join(map(repr, allowed))}, got {value!r}")
    for a in allowed:
        if value.lower() == a.lower():
            return a.upper() if upper else a
    raise ValueError(f"{name} must be one of {', '.join(map(repr, allowed))}, got {value!r}")


def optional_choice(name: str, value: Optional[str], allowed: Iterable[str]) -> Optional[str]:
    return None if value is None else choice(name, value, allowed)
