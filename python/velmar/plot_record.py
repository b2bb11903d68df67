"""Figures of acceleration records: Fourier amplitude spectra (raw and
Konno-Ohmachi smoothed) and the build-up of Arias intensity (Husid plot).

Each function takes one Record or several (a mapping label -> Record, or a
sequence of Records labelled by their names) and returns a
``matplotlib.figure.Figure``. matplotlib is imported when a figure is drawn.
"""

from __future__ import annotations

import os
from typing import Any, Dict, Optional

import numpy as np

from ._measures import arias_intensity, fourier_spectrum, konno_ohmachi, significant_duration
from ._plotting import figure_and_axes, unit_label
from ._record import Record

#: Colours of the records, in order (the input first, as in ``velmar.plot``).
COLOURS = ("#1f4e9c", "#c0392b", "#1e8449", "#7d3c98", "#b9770e", "#17a589")


def _records(records: Any) -> Dict[str, Record]:
    """The records to draw, by label."""
    if isinstance(records, Record):
        records = [records]
    if isinstance(records, dict):
        items = list(records.items())
    else:
        items = [(os.path.basename(r.name) if isinstance(r, Record) and r.name else f"record {i + 1}", r)
                 for i, r in enumerate(records)]
    if not items:
        raise ValueError("records must hold at least one Record, got none")
    out: Dict[str, Record] = {}
    for label, r in items:
        if not isinstance(r, Record):
            raise ValueError(f"records must be velmar.Record objects, got {type(r).__name__} for {label!r}")
        out[str(label)] = r
    units = {r.units for r in out.values()}
    if len(units) > 1:
        raise ValueError(f"the records are in different units ({', '.join(sorted(units))}): convert them to one "
                         f"unit to draw them on one axis")
    return out


def fourier_figure(records: Any, b: float = 40.0, centres: Any = None, raw: bool = True, title: str = "",
                   ax: Any = None) -> Any:
    """Fourier amplitude spectra |A(f)| dt on log-log axes: each record's raw
    spectrum (thin, pale) under its Konno-Ohmachi smoothed spectrum.

    Parameters
    ----------
    records : Record, mapping of str to Record, or sequence of Record
        In one unit.
    b : float, optional
        Konno-Ohmachi bandwidth coefficient (40 by default; larger is narrower).
    centres : array_like, optional
        Frequencies of the smoothed spectra, Hz; default 200 log-spaced from
        the lowest frequency above 0 (at least 0.05 Hz) to the Nyquist frequency.
    raw : bool, optional
        Also draw the raw spectra.
    title : str, optional
    ax : matplotlib Axes, optional
        Where to draw; a new figure when None.

    Returns
    -------
    matplotlib.figure.Figure
    """
    recs = _records(records)
    fig, ax = figure_and_axes(ax, 7.5, 4.6)
    ax.set_axisbelow(True)
    lo, hi = np.inf, 0.0
    small, large = np.inf, 0.0  # the smoothed spectra's range sets the amplitude axis
    units = ""
    for (label, r), colour in zip(recs.items(), COLOURS * (1 + len(recs) // len(COLOURS))):
        f, a = fourier_spectrum(r)
        if f.size < 3:
            raise ValueError(f"{label}: a Fourier spectrum needs at least 4 samples, got {len(r)}")
        c = np.geomspace(max(f[1], 0.05), f[-1], 200) if centres is None else np.asarray(centres, dtype=float)
        smooth = konno_ohmachi(f, a, c, b)
        if raw:
            ax.plot(f[1:], a[1:], color=colour, lw=0.5, alpha=0.35, zorder=2)
        ax.plot(c, smooth, color=colour, lw=1.6, label=f"{label} (smoothed)", zorder=3)
        lo, hi = min(lo, float(c[0])), max(hi, float(c[-1]))
        positive = smooth[smooth > 0.0]
        if positive.size:
            small, large = min(small, float(positive.min())), max(large, float(a[1:].max()))
        units = r.units
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlim(lo, hi)
    if large > 0.0:
        # Raw spectra dip to near zero between peaks: the axis spans the
        # smoothed spectra and a decade below them, not those dips.
        ax.set_ylim(small / 10.0, 2.0 * large)
    ax.set_xlabel("frequency (Hz)")
    ax.set_ylabel(f"Fourier amplitude ({unit_label(units)}·s)")
    ax.grid(True, which="both", color="0.92")
    note = f"Konno-Ohmachi smoothing, b = {b:g}" + ("; raw spectra pale" if raw else "")
    ax.set_title((title + "\n" if title else "Fourier amplitude spectra\n") + note, fontsize=10)
    ax.legend(fontsize=8)
    return fig


def arias_figure(records: Any, title: str = "", ax: Any = None) -> Any:
    """Build-up of Arias intensity (Husid plot): the intensity reached at
    every time as a percentage of the record's total, with the 5 % and 95 %
    levels; the legend gives each total (m/s) and the 5-95 % significant
    duration.

    Parameters
    ----------
    records : Record, mapping of str to Record, or sequence of Record
    title : str, optional
    ax : matplotlib Axes, optional
        Where to draw; a new figure when None.

    Returns
    -------
    matplotlib.figure.Figure
    """
    recs = _records(records)
    fig, ax = figure_and_axes(ax, 7.5, 4.2)
    ax.set_axisbelow(True)
    end = 0.0  # a little past the time every record reaches 99.5 % of its total (a padded tail is not shown)
    for (label, r), colour in zip(recs.items(), COLOURS * (1 + len(recs) // len(COLOURS))):
        ia = arias_intensity(r)
        total = float(ia[-1])
        t = r.time
        share = 100.0 * ia / total if total > 0.0 else np.zeros_like(ia)
        d = significant_duration(r) if total > 0.0 else 0.0
        ax.plot(t, share, color=colour, lw=1.6, zorder=3,
                label=f"{label}: Ia = {total:.3g} m/s, D5-95 = {d:.3g} s")
        reached = np.flatnonzero(share >= 99.5)
        end = max(end, min(float(t[-1]), 1.15 * float(t[reached[0]]) if reached.size else float(t[-1])))
    for level in (5.0, 95.0):
        ax.axhline(level, color="0.5", lw=0.8, ls=":", zorder=2)
        ax.text(0.005, level, f"{level:g} %", transform=ax.get_yaxis_transform(), fontsize=8, color="0.35",
                va="bottom")
    ax.set_xlim(0.0, end if end > 0.0 else 1.0)
    ax.set_ylim(0.0, 102.0)
    ax.set_xlabel("time (s)")
    ax.set_ylabel("Arias intensity (% of the total)")
    ax.grid(True, color="0.92")
    ax.set_title(title or "Build-up of Arias intensity (Husid plot)", fontsize=10)
    ax.legend(loc="lower right", fontsize=8)
    return fig
