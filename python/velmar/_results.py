"""The results of a console deck, computed in double precision with the library.

A transfer-function run gives the responses on the deck's grid; a signal run
filters the record as the console does (taper, halving, transform length,
response on the transform's grid, multiplication or division). Every step is
the library's deck runner, in double precision; this module names its columns.
"""

from __future__ import annotations

from typing import List, Optional

import numpy as np

from . import _velmar
from ._deck import Deck


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

    The deck's file is read again by the console's reader and computed by the
    library's double-precision deck runner, so its signal file is looked up
    relative to the current folder, as when the deck was read.

    Raises
    ------
    ValueError
        A deck with Q proportional to frequency (IQF = 2): the library's
        profiles hold constant damping.
    """
    if deck.wave is None or deck.profile is None:
        return DeckResults(deck, "none", [], [])
    units = deck.record.units if deck.record is not None else "g"
    # The deck is read again by the console's reader (the signal file relative
    # to the current folder, as when it was read) and computed in C++.
    kind, columns, components, input = _velmar.deck_columns(deck.path, units)
    return DeckResults(deck, kind, [Column(name, unit, values) for name, unit, values in columns],
                       list(components), input=input)
