"""Console decks: read one into the package's objects, or run it in-process."""

from __future__ import annotations

import os
from typing import Optional, Union

import numpy as np

from . import _velmar
from ._profile import Profile
from ._record import Record, units_name

PathLike = Union[str, "os.PathLike[str]"]

_WAVES = {0: "SH", 1: "P", 2: "SV"}


class Deck:
    """A console deck, read and checked.

    Attributes
    ----------
    path : str
        The deck file.
    output : str
        The output file the deck names (relative to the current folder).
    kind : {"transfer", "signal"}
        A transfer-function run (ISIG = 0) or a signal run (ISIG = 1).
    wave : {"SH", "P", "SV"} or None
        The incident wave; None when ITYPE < 0 (the console computes nothing).
    itype : int
        ITYPE as written: 0 SH, 1 P, 2 SV, negative nothing.
    angle : float
        Incidence angle in the half-space, degrees from the vertical.
    profile : Profile or None
        The model the console computes with: damping ratio 1 / (2 QS) (and
        1 / (2 QP) for P waves) in the layers, an elastic half-space; vp is
        kept for an SH deck when it is a valid P-SV model. None when ITYPE < 0
        (a deck whose table the library cannot take is refused by
        `read_deck`). Densities are in the deck's own consistent units, as
        the console reads them (only ratios of densities enter a linear
        response); the equivalent-linear analysis needs them in t/m3.
    q_proportional : bool
        True when the deck asks for Q proportional to frequency (IQF = 2);
        `profile` then holds the Q values as written, i.e. Q at 1 Hz, and the
        library's calls treat them as constant.
    lout : int
        The SH interface reported (1 = free surface).
    depth : float
        Depth of that interface, m (0 for P-SV decks).
    table : dict of ndarray
        The layer table as read: "thick", "rho", "vs", "qs", "vp", "qp".
    freqs : ndarray or None
        Transfer-function run: the console's grid FMIN + i DF, Hz.
    fmin, fmax, df : float or None
        Transfer-function run: the grid's limits and step, Hz.
    record : Record or None
        Signal run: the NPT samples read (before the console's taper and
        halving), at step DT.
    signal_file : str or None
    nskip, npt, ihalf, iconv : int or None
        Signal run: the deck's values.
    """

    def __init__(self, path: str, d: dict) -> None:
        self.path = path
        self.output: str = d["output"]
        self.itype: int = d["itype"]
        self.wave: Optional[str] = _WAVES.get(self.itype)
        self.angle: float = d["angle"]
        self.kind: str = "signal" if d["isig"] == 1 else "transfer"
        self.profile: Optional[Profile] = Profile._from_core(d["profile"]) if d["profile"] is not None else None
        self.q_proportional: bool = d["iqf"] == 2
        self.lout: int = d["lout"]
        self.depth: float = d["depth"]
        self.table = {k: d[k] for k in ("thick", "rho", "vs", "qs", "vp", "qp")}
        signal = self.kind == "signal"
        self.freqs: Optional[np.ndarray] = None if signal else d["freqs"]
        self.fmin: Optional[float] = None if signal else d["fmin"]
        self.fmax: Optional[float] = None if signal else d["fmax"]
        self.df: Optional[float] = None if signal else d["df"]
        self.record: Optional[Record] = None
        self.signal_file: Optional[str] = None
        self.nskip = self.npt = self.ihalf = self.iconv = None
        if signal:
            accel, dt, units, name = d["record"]
            self.record = Record(accel, dt, units, name=name)
            self.signal_file = d["signal_file"]
            self.nskip, self.npt, self.ihalf, self.iconv = d["nskip"], d["npt"], d["ihalf"], d["iconv"]

    def __repr__(self) -> str:
        wave = self.wave if self.wave is not None else f"none (ITYPE {self.itype})"
        layers = self.table["vs"].size - 1
        run = (f"{self.freqs.size} frequencies from {self.fmin:g} Hz step {self.df:g} Hz"
               if self.kind == "transfer" else f"record {self.signal_file!r}, {self.npt} samples at {self.record.dt:g} s")
        return (f"velmar.Deck({self.path!r}: {self.kind} run, wave {wave} at {self.angle:g} deg, "
                f"{layers} layers, {run}, output {self.output!r})")


def read_deck(path: PathLike, units: str = "g") -> Deck:
    """Read a console deck into a profile, a wave set-up and a grid or a record.

    The deck is read and checked by the console program's own reader (the
    same format, messages and limits; see "The deck, line by line" in the
    README). Nothing is written: the output file the deck names is neither
    created nor touched.

    Parameters
    ----------
    path : str or os.PathLike
        The deck file. A signal file it names is taken relative to the
        current folder, as the console does.
    units : {"g", "m/s2", "cm/s2"}, optional
        Units of the signal file's samples (the deck does not say); any
        spelling `Record` accepts ("gal", "cm/s^2" ...).

    Returns
    -------
    Deck

    Raises
    ------
    OSError
        The deck file is missing or unreadable.
    ValueError
        The console would refuse the deck (exit status 2); the message is the
        console's, ``deck:line: what is wrong: 'text'``.
        Also a deck the console runs but whose layer table the library cannot
        build a profile from: a QS (or, for P-SV, QP) of 0.5 or below, i.e. a
        damping ratio of 1 or more -- nearly always a damping ratio typed in
        the Q column (a damping ratio xi is Q = 1 / (2 xi)).
    RuntimeError
        The console would stop at a limit (exit status 1), with its message.
    """
    p = _path("path", path)
    u = units_name("units", units)
    d = _velmar.read_deck(p, u)
    if d["profile"] is None and d["itype"] >= 0:
        raise ValueError(f"{p}: the console runs this deck, but its layer table gives the library no profile: "
                         f"{d['profile_problem'] or 'refused by the library'}")
    return Deck(p, d)


def run_deck(path: PathLike) -> str:
    """Run a console deck in-process, writing the same output file as the console.

    Parameters
    ----------
    path : str or os.PathLike
        The deck file. File names in it are relative to the current folder.

    Returns
    -------
    str
        The output file's name, as the deck gives it.

    Raises
    ------
    OSError
        The deck file is missing or unreadable.
    ValueError
        Refused input (the console's exit status 2), with its message; also a
        deck that names itself as its output file.
    RuntimeError
        A limit stop (the console's exit status 1), with its message.
    """
    return _velmar.run_deck(_path("path", path))


def _path(name: str, path: PathLike) -> str:
    try:
        p = os.fspath(path)
    except TypeError as exc:
        raise ValueError(f"{name} must be a file name, got {path!r}") from exc
    if not isinstance(p, str):
        raise ValueError(f"{name} must be a file name (str), got {path!r}")
    return p
