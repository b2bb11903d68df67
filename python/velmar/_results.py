"""The results of a console deck, computed in double precision with the library.

A transfer-function run gives the responses on the deck's grid; a signal run
filters the record as the console does (taper, halving, transform length,
response on the transform's grid, multiplication or division), with the
library's double-precision response and numpy's transform.
"""

from __future__ import annotations

from typing import List, Optional, Tuple

import numpy as np

from . import _velmar
from ._deck import Deck
from ._response import transfer

#: The console's quarter-sine taper: this fraction of the samples at each end.
TAPER_FRACTION = 0.05
#: The console computes the zero-frequency bin at this frequency, Hz.
ZERO_FREQUENCY = 1.0e-6
#: Floor on |response|^2 when the console divides (ICONV = 2).
DIVISION_FLOOR = 1.0e-7


class Column:
    """One column of results: a name, its unit and the values."""

    def __init__(self, name: str, unit: str, values: np.ndarray) -> None:
        self.name, self.unit, self.values = name, unit, np.asarray(values, dtype=float)

    @property
    def header(self) -> str:
        return f"{self.name} ({self.unit})" if self.unit else self.name


class DeckResults:
    """What a deck computes, as named columns.

    Attributes
    ----------
    deck : Deck
    kind : {"transfer", "signal", "none"}
    columns : list of Column
        Transfer run: frequency, then |H|/2 and Re H, Im H of each component
        (H per unit incident displacement). Signal run: time, then the
        filtered history of each component (the record's units).
    components : list of str
        "SH", or "horizontal" and "vertical" for P-SV.
    input : ndarray or None
        Signal run: the record as the console filters it (tapered, halved,
        padded with zeros to the transform length).
    """

    def __init__(self, deck: Deck, kind: str, columns: List[Column], components: List[str],
                 input: Optional[np.ndarray] = None) -> None:
        self.deck, self.kind, self.columns, self.components, self.input = deck, kind, columns, components, input

    def column(self, name: str) -> Column:
        for c in self.columns:
            if c.name == name:
                return c
        raise KeyError(name)


def _components(deck: Deck) -> List[Tuple[str, Optional[str], float]]:
    """(label, component, depth) of each response the console reports."""
    if deck.wave == "SH":
        return [("SH", None, deck.depth)]
    return [("horizontal", "horizontal", 0.0), ("vertical", "vertical", 0.0)]


def nearfft(n: int) -> int:
    """The smallest length not below n whose only prime factors are 2, 3 and 5."""
    m = max(int(n), 1)
    while True:
        k = m
        for p in (2, 3, 5):
            while k % p == 0:
                k //= p
        if k == 1:
            return m
        m += 1


#: The most of a signal file's header read for its units, bytes.
HEADER_BYTES = 1 << 20


def record_units_from_header(path: str, nskip: int) -> Optional[str]:
    """The units a signal file's header lines name ("g", "m/s2" or "cm/s2"), or None.

    The first `nskip` lines (at most HEADER_BYTES) are read, by the library's
    rule: a statement (``UNITS: G``) wins over units merely mentioned
    (``PEAK 245.2 CM/S/S``); None when the file cannot be read (the deck's
    own reading reports that) or the header names no unit.

    Raises
    ------
    ValueError
        Statements, or (without one) mentions, that disagree, such as
        ``PEAK 245.2 CM/S/S = 0.25 G``; a stated unit that is unknown; a
        header naming a velocity or displacement. The message names the file.
    """
    lines: List[bytes] = []
    try:
        with open(path, "rb") as f:
            budget = HEADER_BYTES
            for _ in range(max(int(nskip), 0)):
                line = f.readline(budget)
                if not line:
                    break
                lines.append(line)
                budget -= len(line)
                if budget <= 0:
                    break
    except (OSError, ValueError):
        return None
    head = b"".join(lines).decode("utf-8", errors="replace").replace("\x00", " ")
    try:
        units = _velmar.header_units(head)
    except ValueError as exc:
        raise ValueError(f"{path}: {exc}: add a line 'UNITS: ...' to its header, or give the units "
                         "(--units, or units=)") from None
    return units or None


def deck_results(deck: Deck) -> DeckResults:
    """Compute what `deck` asks for (see DeckResults).

    Raises
    ------
    ValueError
        A deck with Q proportional to frequency (IQF = 2): the library's
        profiles hold constant damping.
    """
    if deck.wave is None or deck.profile is None:
        return DeckResults(deck, "none", [], [])
    if deck.q_proportional:
        raise ValueError(f"{deck.path}: Q proportional to frequency (IQF = 2) is not computed by the library; "
                         "use the console's output file")
    comps = _components(deck)
    if deck.kind == "transfer":
        f = deck.freqs
        cols = [Column("frequency", "Hz", f)]
        for label, comp, depth in comps:
            h = transfer(deck.profile, np.where(f == 0.0, ZERO_FREQUENCY, f), deck.wave, deck.angle, depth=depth,
                         component=comp)
            suffix = "" if label == "SH" else f"_{label}"
            cols += [Column(f"half_modulus{suffix}", "ratio", np.abs(h) / 2.0),
                     Column(f"real{suffix}", "per unit incident displacement", h.real),
                     Column(f"imag{suffix}", "per unit incident displacement", h.imag)]
        return DeckResults(deck, "transfer", cols, [c[0] for c in comps])

    rec = deck.record
    x = np.array(rec.accel, dtype=float)
    n = x.size
    ntap = min(int(np.floor(n * TAPER_FRACTION + 0.5)), n // 2)
    if ntap > 0:
        w = np.sin(np.arange(ntap) * (np.pi / 2.0) / ntap)
        x[:ntap] *= w
        x[n - ntap:][::-1] *= w
    if deck.ihalf == 2:
        x *= 0.5
    nfft = 2 * nearfft(n)
    xp = np.zeros(nfft)
    xp[:n] = x
    # Forward transform with exp(+i w t) (the time factor is exp(-i w t)).
    X = np.fft.ifft(xp) * nfft
    half = nfft // 2
    f = np.arange(half) / (nfft * rec.dt)
    f[0] = ZERO_FREQUENCY
    # The deck's DT is held in single precision; the time column uses the
    # decimal value the deck wrote (0.01, not 0.0099999997764825821).
    t = np.arange(nfft) * float(str(np.float32(rec.dt)))
    cols = [Column("time", "s", t)]
    for label, comp, depth in comps:
        h = transfer(deck.profile, f, deck.wave, deck.angle, depth=depth, component=comp)
        H = np.zeros(nfft, dtype=complex)
        H[:half] = h
        H[half + 1:] = np.conj(h[1:][::-1])
        if deck.iconv == 2:
            H = np.conj(H) / np.maximum(np.abs(H) ** 2, DIVISION_FLOOR)
        y = np.fft.fft(X * H).real / nfft
        cols.append(Column("accel" if label == "SH" else f"accel_{label}", rec.units, y))
    return DeckResults(deck, "signal", cols, [c[0] for c in comps], input=xp)
