"""Conversions of the public calls' arguments into what the library takes.

Arrays become contiguous float64 numpy arrays, with the refusals numpy
cannot make (a boolean or text entry it would turn into 1.0 or a number, a
masked entry whose mask would be lost, NaN). Ranges and combinations are
the library's checks, made once, in C++ (the option structs of
``velmar._velmar`` convert scalar options, naming them); the few left here
serve calls whose arguments the library does not see as such. Every
refusal raises ``ValueError`` naming the argument and the value, in the
form ``vs[3] must be finite, got nan``.
"""

from __future__ import annotations

import math
from typing import Any, Iterable, Optional

import numpy as np


# Entry types numpy converts to float64 as they are (an int too large for a
# float raises OverflowError, and the entries are then looked at one by one).
_PLAIN_NUMBERS = frozenset((float, int, np.float64, np.float32, np.int64, np.int32))


def _shown(x: Any) -> str:
    """A value for a message: a huge integer by its size, not its 400 digits."""
    if isinstance(x, (int, np.integer)) and not isinstance(x, (bool, np.bool_)) and abs(int(x)) > 10**30:
        return f"an integer of {len(str(abs(int(x))))} digits"
    text = repr(x)
    return text if len(text) <= 80 else text[:77] + "..."


def _entry(name: str, index: tuple) -> str:
    return f"{name}[{', '.join(str(int(i)) for i in index)}]"


def _bad_entry(name: str, x: Any) -> Optional[str]:
    """Why one entry of an array argument is not a real number, or None."""
    if isinstance(x, (bool, np.bool_)):
        return f"must be a number, got {x!r} (a boolean is not a number)"
    if isinstance(x, (str, bytes, np.str_, np.bytes_)):
        return f"must be a real number, got {_shown(x)} (text)"
    if x is np.ma.masked:
        return "must be a real number, got a masked entry (its value would be lost)"
    if x is None:
        return "must be a real number, got None"
    if isinstance(x, (complex, np.complexfloating)):
        return f"must be a real number, got {x!r}"
    if isinstance(x, (int, np.integer)):
        try:
            float(x)
        except OverflowError:
            return f"is too large for a float, got {_shown(x)}"
    return None


def _scan(name: str, value: Any, index: tuple = (), depth: int = 0, *, every: bool = False) -> None:
    """Raise ValueError naming the first entry of a nested list or an object
    array that is not a real number (booleans and text included, which numpy
    would otherwise turn into 1.0 and 300.0). Entries are looked at one by
    one only when their types call for it (or `every`)."""
    if isinstance(value, np.ndarray):
        if value.dtype.kind in "OUSb":
            for idx in np.ndindex(value.shape):
                _check_entry(name, value[idx], index + idx, depth + 1, every)
        return
    if not every:
        types = set(map(type, value))
        if types <= _PLAIN_NUMBERS:  # the common case, quickly
            return
    for i, x in enumerate(value):
        _check_entry(name, x, index + (i,), depth + 1, every)


def _check_entry(name: str, x: Any, index: tuple, depth: int, every: bool) -> None:
    if isinstance(x, (list, tuple, np.ndarray)) and x is not np.ma.masked:
        if depth < 32:
            _scan(name, x, index, depth, every=every)
        return
    why = _bad_entry(name, x)
    if why is not None:
        raise ValueError(f"{_entry(name, index)} {why}")


def real_array(name: str, value: Any, *, allow_inf: bool = False) -> np.ndarray:
    """Return `value` as a new, contiguous float64 array of any shape.

    Raises ValueError (naming the argument, and the entry where there is
    one) for None, a masked array with masked entries (the mask would be
    lost), an entry that is a boolean, text, None, complex, an integer too
    large for a float, NaN or an infinity (+infinity is let through when
    `allow_inf`).
    """
    if value is None:
        raise ValueError(f"{name} is required, got None")
    if isinstance(value, np.ma.MaskedArray):
        mask = np.ma.getmaskarray(value)
        if mask.any():
            where = np.unravel_index(int(np.flatnonzero(mask)[0]), mask.shape) if mask.ndim else ()
            raise ValueError(f"{name} is a masked array with masked entries (the first at {_entry(name, where)}): "
                             f"the mask would be ignored; pass {name}.compressed() or {name}.filled(value)")
        value = np.ma.getdata(value)
    if isinstance(value, (str, bytes, bool, np.bool_)):
        raise ValueError(f"{name} must be a sequence of real numbers, got {_shown(value)}")
    if isinstance(value, np.ndarray):
        if value.dtype.kind == "b":
            raise ValueError(f"{name} must hold numbers, got an array of booleans")
        if value.dtype.kind == "c":
            raise ValueError(f"{name} must hold real numbers, got complex values")
        if value.dtype.kind in "OUS":
            _scan(name, value)
    elif isinstance(value, (list, tuple)):
        _scan(name, value)
    try:
        arr = np.array(value, dtype=np.float64, order="C", copy=True)
    except (TypeError, ValueError, OverflowError) as exc:
        if isinstance(value, (list, tuple)):
            _scan(name, value, every=True)
        raise ValueError(f"{name} must be a sequence of real numbers, got {_shown(value)}") from exc
    ok = np.isfinite(arr) | (allow_inf & (arr == np.inf))
    first_bad(name, arr, ok, "must be finite")
    return arr


def float_array(name: str, value: Any, *, allow_inf: bool = False) -> np.ndarray:
    """Return `value` as a new, contiguous, one-dimensional float64 array.

    Raises ValueError for anything that is not a one-dimensional sequence of
    real numbers (see real_array: booleans, text and masked entries are
    refused too), or that holds NaN or an infinity (+infinity is let through
    when `allow_inf`).
    """
    arr = real_array(name, value, allow_inf=allow_inf)
    if arr.ndim != 1:
        raise ValueError(f"{name} must be one-dimensional, got an array of shape {arr.shape}")
    return arr


def first_bad(name: str, arr: np.ndarray, ok: np.ndarray, what: str, offset: int = 0) -> None:
    """Raise ValueError for the first entry of `arr` where `ok` is False.

    `offset` is the index of arr[0] in the argument (for a slice such as
    x[1:]); an array of several dimensions names the entry by all its indices.
    """
    ok = np.asarray(ok)
    bad = np.flatnonzero(~ok)
    if bad.size:
        i = int(bad[0])
        if arr.ndim > 1:
            where = np.unravel_index(i, arr.shape)
            raise ValueError(f"{_entry(name, where)} {what}, got {arr.flat[i]!r}")
        raise ValueError(f"{name}[{i + offset}] {what}, got {arr.reshape(-1)[i]!r}")


def real(name: str, value: Any) -> float:
    """Return `value` as a finite float; ValueError names it otherwise."""
    if isinstance(value, (bool, np.bool_)) or isinstance(value, (complex, np.complexfloating)):
        raise ValueError(f"{name} must be a real number, got {value!r}")
    try:
        x = float(value)
    except OverflowError:
        raise ValueError(f"{name} must be a finite real number, got {_shown(value)} (too large for a float)") from None
    except (TypeError, ValueError) as exc:
        raise ValueError(f"{name} must be a real number, got {_shown(value)}") from exc
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
