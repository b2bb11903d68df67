"""Figures of VELMAR's inputs and results (matplotlib, drawn off-screen).

Every figure function returns a ``matplotlib.figure.Figure`` (no pyplot
state, no window; ``fig.savefig("name.png")`` writes it):

- profiles, responses and records: `profile_figure`, `transfer_figure`,
  `histories_figure`, `spectra_figure`, `peak_profile_figure`, and
  `fourier_figure` (Fourier amplitude spectra, raw and Konno-Ohmachi
  smoothed), `arias_figure` (build-up of Arias intensity, Husid plot);
- an equivalent-linear analysis: `plot_convergence`, `plot_strain_compatible`,
  `plot_curves` (the G/Gmax and damping curves used, each layer's
  strain-compatible point marked);
- a batch: `batch_figure` (median and +-1 sigma of the surface spectra),
  `vs_realisations_figure` (the realisations' Vs with depth);
- site indices: `plot_vs_profile`, `plot_quarter_wavelength`,
  `plot_tree_fractiles`.

`plot_deck` runs a console deck and writes the figures that fit it as PNG
files; `plot_analysis` does the same for an equivalent-linear analysis file.
"""

from __future__ import annotations

import os
from typing import Dict, List, Optional, Sequence

import numpy as np

from ._deck import Deck, read_deck, run_deck
from ._files import OutputFile
from ._profile import Profile
from ._record import Record
from ._response import transfer
from ._results import DeckResults, deck_results, record_units_from_header
from ._measures import PeakProfile, default_periods, peak_profile, spectra
from ._plotting import DPI, WIDTH, unit_label as _unit_label
from .plot_eql import plot_convergence, plot_curves, plot_strain_compatible  # noqa: F401
from .plot_record import arias_figure, fourier_figure  # noqa: F401
from .plot_batch import batch_figure, vs_realisations_figure  # noqa: F401
from .plot_site import plot_quarter_wavelength, plot_tree_fractiles, plot_vs_profile  # noqa: F401

#: Colours: the input motion, then the outputs (horizontal/SH, vertical).
INPUT_COLOUR = "#1f4e9c"
OUTPUT_COLOURS = ("#c0392b", "#1e8449")


def save_png(fig: "Figure", out: OutputFile) -> str:
    """Render `fig` as PNG into `out`, replacing the file whole (see
    ``velmar._files``); returns the file's name."""
    out.write(lambda path: fig.savefig(path, format="png"))
    return out.name


def _figure(height: float):
    from matplotlib.figure import Figure

    fig = Figure(figsize=(WIDTH, height), dpi=DPI, layout="constrained")
    return fig


def profile_figure(profile: Profile, title: str = "") -> "Figure":
    """Shear-wave velocity with depth: steps at the interfaces, the
    half-space drawn below the last layer and labelled.

    Parameters
    ----------
    profile : Profile
    title : str, optional

    Returns
    -------
    matplotlib.figure.Figure
    """
    tops = np.asarray(profile.depth, dtype=float)
    vs = np.asarray(profile.vs, dtype=float)
    bottom = tops[-1]
    # Show the half-space over a fifth of the soil column (at least 5 m).
    extra = max(0.2 * bottom, 5.0)
    z = np.append(tops, bottom + extra)
    fig = _figure(5.2)
    ax = fig.add_subplot()
    ax.set_axisbelow(True)  # the grid under the data: a step at a grid value stays visible
    ax.stairs(vs, z, orientation="horizontal", baseline=None, color=INPUT_COLOUR, linewidth=2, zorder=3)
    ax.axhspan(bottom, bottom + extra, color="0.85", zorder=0)
    ax.text(0.02, bottom + 0.5 * extra, f"half-space, Vs = {vs[-1]:g} m/s", transform=ax.get_yaxis_transform(),
            va="center", fontsize=9)
    for zt in tops[1:-1]:
        ax.axhline(zt, color="0.8", linewidth=0.6, zorder=0)
    ax.set_ylim(bottom + extra, 0.0)
    ax.set_xlim(0.0, 1.08 * vs.max())
    ax.set_xlabel("shear-wave velocity Vs (m/s)")
    ax.set_ylabel("depth (m)")
    ax.xaxis.set_label_position("top")
    ax.xaxis.tick_top()
    ax.grid(True, axis="x", color="0.9")
    ax.set_title(title or f"Vs profile: {profile.layers} layers over a half-space at {bottom:g} m", fontsize=10)
    return fig


def transfer_figure(freqs: np.ndarray, curves: Dict[str, np.ndarray], title: str = "",
                    ylabel: str = "amplification |H| / 2 (surface / outcrop)") -> "Figure":
    """Amplitude of transfer functions on a log frequency axis.

    Parameters
    ----------
    freqs : ndarray
        Hz (points at 0 Hz are left out: the axis is logarithmic).
    curves : dict of str to ndarray
        Label to values at `freqs`.
    title, ylabel : str, optional

    Returns
    -------
    matplotlib.figure.Figure
    """
    f = np.asarray(freqs, dtype=float)
    keep = f > 0.0
    fig = _figure(4.2)
    ax = fig.add_subplot()
    for (label, y), colour in zip(curves.items(), OUTPUT_COLOURS):
        ax.plot(f[keep], np.asarray(y)[keep], color=colour, linewidth=1.3, label=label)
    ax.set_xscale("log")
    ax.set_xlim(f[keep].min(), f[keep].max())
    ax.set_ylim(bottom=0.0)
    ax.axhline(1.0, color="0.5", linewidth=0.8, linestyle=":")
    ax.set_xlabel("frequency (Hz)")
    ax.set_ylabel(ylabel)
    ax.set_axisbelow(True)
    ax.grid(True, which="both", color="0.92")
    if len(curves) > 1:
        ax.legend()
    ax.set_title(title, fontsize=10)
    return fig


def histories_figure(time: np.ndarray, input: np.ndarray, outputs: Dict[str, np.ndarray], units: str,
                     title: str = "", input_label: str = "input") -> "Figure":
    """The input history above the output histories, on one time axis.

    Parameters
    ----------
    time : ndarray
        s.
    input : ndarray
        Input acceleration, `units`.
    outputs : dict of str to ndarray
        Label to output acceleration, `units`.
    units : str
    title : str, optional

    Returns
    -------
    matplotlib.figure.Figure
    """
    n = 1 + len(outputs)
    fig = _figure(1.9 + 1.6 * n)
    axes = fig.subplots(n, 1, sharex=True, sharey=True)
    u = _unit_label(units)
    series = [(input_label, input, INPUT_COLOUR)] + [(k, v, c) for (k, v), c in zip(outputs.items(), OUTPUT_COLOURS)]
    for ax, (label, y, colour) in zip(np.atleast_1d(axes), series):
        y = np.asarray(y)
        i = int(np.argmax(np.abs(y)))
        ax.plot(time, y, color=colour, linewidth=0.7)
        ax.plot(time[i], y[i], "o", color=colour, markersize=4)
        ax.set_title(f"{label}: peak {abs(y[i]):.3g} {u} at {time[i]:.2f} s", fontsize=9, loc="left")
        ax.set_ylabel(f"accel. ({u})")
        ax.axhline(0.0, color="0.6", linewidth=0.5)
        ax.set_axisbelow(True)
        ax.grid(True, color="0.93")
    np.atleast_1d(axes)[-1].set_xlabel("time (s)")
    np.atleast_1d(axes)[-1].set_xlim(time[0], time[_active_end([y for _, y, _ in series])])
    if title:
        fig.suptitle(title, fontsize=10)
    return fig


def _active_end(histories: Sequence[np.ndarray], level: float = 0.01) -> int:
    """Index a little past the last sample where any history exceeds
    `level` times its own peak (a padded tail of zeros is not shown)."""
    last = 0
    for y in histories:
        y = np.abs(np.asarray(y))
        peak = y.max()
        if peak > 0.0:
            last = max(last, int(np.flatnonzero(y > level * peak)[-1]))
    n = len(histories[0])
    return min(n - 1, int(1.08 * last) + 1)


def spectra_figure(periods: np.ndarray, input: np.ndarray, outputs: Dict[str, np.ndarray], units: str,
                   damping: float = 0.05, title: str = "", input_label: str = "input",
                   reference: float = 1.0, reference_label: str = "") -> "Figure":
    """Response spectra (PSA) of the input and the outputs on a log period
    axis, and below them each output's ratio to the input.

    `reference` is drawn as a dotted line on the ratio panel (with
    `reference_label` beside it): 1, or 2 where the input is an incident
    wave, which the free surface doubles at long periods.

    Returns
    -------
    matplotlib.figure.Figure
    """
    fig = _figure(6.0)
    top, bottom = fig.subplots(2, 1, sharex=True, height_ratios=(2.0, 1.0))
    u = _unit_label(units)
    top.plot(periods, input, color=INPUT_COLOUR, linewidth=1.5, label=input_label)
    for (label, y), colour in zip(outputs.items(), OUTPUT_COLOURS):
        top.plot(periods, y, color=colour, linewidth=1.5, label=label)
        with np.errstate(divide="ignore", invalid="ignore"):
            bottom.plot(periods, np.asarray(y) / np.asarray(input), color=colour, linewidth=1.3, label=label)
    top.set_xscale("log")
    top.set_ylim(bottom=0.0)
    top.set_ylabel(f"PSA ({u}), {100 * damping:g} % damping")
    top.legend()
    top.set_axisbelow(True)
    top.grid(True, which="both", color="0.92")
    bottom.axhline(reference, color="0.5", linewidth=0.8, linestyle=":")
    if reference_label:
        bottom.text(0.01, 0.96 * reference, reference_label, transform=bottom.get_yaxis_transform(), ha="left",
                    va="top", fontsize=8, color="0.35")
    bottom.set_ylim(bottom=0.0)
    bottom.set_ylabel("ratio output / input")
    bottom.set_xlabel("period (s)")
    bottom.set_xlim(periods.min(), periods.max())
    bottom.set_axisbelow(True)
    bottom.grid(True, which="both", color="0.92")
    top.set_title(title or "response spectra", fontsize=10)
    return fig


def peak_profile_figure(pp: PeakProfile, title: str = "") -> "Figure":
    """Peak acceleration, shear strain and shear stress with depth, side by side.

    Returns
    -------
    matplotlib.figure.Figure
    """
    fig = _figure(5.0)
    axes = fig.subplots(1, 3, sharey=True)
    u = _unit_label(pp.units)
    # Strain jumps at every interface (it is the lower medium's there): the
    # panel shows it at the layer middles (odd entries), the others at every depth.
    mid = slice(1, None, 2)
    panels = ((pp.depth, pp.accel, f"peak acceleration ({u})"),
              (pp.depth[mid], 100.0 * pp.strain[mid], "peak shear strain (%),\nat layer middles"),
              (pp.depth, pp.stress, "peak shear stress (kPa)"))
    for ax, (z, x, label) in zip(axes, panels):
        for zi in pp.depth[2::2]:
            ax.axhline(zi, color="0.45", linewidth=0.8, linestyle="--", zorder=2)
        ax.plot(x, z, "o-", color=OUTPUT_COLOURS[0], markersize=3, linewidth=1.2)
        ax.set_xlabel(label, fontsize=9)
        ax.set_xlim(left=0.0, right=1.1 * max(float(np.max(x)) if x.size else 0.0, 1e-300))
        ax.xaxis.set_label_position("top")
        ax.xaxis.tick_top()
        ax.tick_params(labelsize=8)
        ax.set_axisbelow(True)
        ax.grid(True, axis="x", color="0.92")
    axes[0].set_ylim(pp.depth[-1] * 1.04 + 1e-9, 0.0)
    axes[0].set_ylabel("depth (m)")
    fig.suptitle((title or "peaks with depth (SH)") + "\ndashed lines: layer interfaces and the top of the half-space",
                 fontsize=10)
    return fig


#: The figures `plot_deck` may write, each to ``<stem>_<name>.png``.
FIGURES = ("profile", "transfer", "histories", "spectra", "fourier", "arias", "peaks")


def _stem(deck: Deck) -> str:
    return os.path.splitext(os.path.basename(deck.output))[0] or "velmar"


def _console_table(path: str) -> Optional[np.ndarray]:
    """The console's frequency table (3 columns), or None when unreadable."""
    try:
        return np.loadtxt(path, ndmin=2)
    except (OSError, ValueError):
        return None


def plot_deck(path: str, out: Optional[str] = None, units: Optional[str] = None, run: bool = True) -> List[str]:
    """Run a console deck and write the figures that fit it as PNG files.

    Every deck: the Vs profile. Transfer-function run: the response on the
    deck's grid (both components for P-SV). Signal run: the transfer
    function over the transform's band, the input and output histories,
    their response spectra (5 % damping) with the ratio, their Fourier
    amplitude spectra (raw and smoothed), the build-up of their Arias
    intensity, and for SH the peaks with depth.

    Parameters
    ----------
    path : str
        The deck.
    out : str, optional
        Folder for the figures (created if missing); by default the folder
        of the deck's output file.
    units : {"g", "m/s2", "cm/s2"}, optional
        Units of a signal file's samples; by default those its header lines
        name, else "g".
    run : bool, optional
        Also run the deck as the console does (its output file written).

    Returns
    -------
    list of str
        The files written, ``<stem>_<figure>.png`` (figures "profile",
        "transfer", "histories", "spectra", "fourier", "arias", "peaks"),
        each replaced whole (see
        ``velmar._files``); empty for a deck that computes nothing (ITYPE <
        0), which ``python3 -m velmar plot`` reports with exit status 2.

    Raises
    ------
    ValueError
        A deck whose layer table the library cannot take (see `read_deck`:
        a QS of 0.5 or below, a damping ratio typed in the Q column).
        Also when a figure's file is the deck, its signal file or the
        console's output file (in any spelling): refused before anything runs.
    """
    import matplotlib

    matplotlib.use("Agg")
    probe = read_deck(path)
    if units is None and probe.kind == "signal":
        units = record_units_from_header(probe.signal_file, probe.nskip) or "g"
    deck = read_deck(path, units or "g")
    folder = out if out is not None else (os.path.dirname(deck.output) or ".")
    os.makedirs(folder, exist_ok=True)
    stem = _stem(deck)
    inputs = [("the deck", os.fspath(path)), ("the console's output file", deck.output)]
    if deck.signal_file:
        inputs.append(("the deck's signal file", deck.signal_file))
    files = {name: OutputFile(os.path.join(folder, f"{stem}_{name}.png"), inputs, what="the figure")
             for name in FIGURES}
    if run:
        run_deck(path)
    written: List[str] = []

    def save(fig, name: str) -> None:
        written.append(save_png(fig, files[name]))

    deck_name = os.path.basename(deck.path)
    wave = f"{deck.wave} wave at {deck.angle:g}°" if deck.wave else "no wave"
    if deck.profile is not None:
        save(profile_figure(deck.profile, f"{deck_name}: Vs profile ({deck.profile.layers} layers)"), "profile")
    if deck.profile is None or deck.wave is None:
        return written

    if deck.q_proportional:
        # The library holds constant damping: draw the console's own table.
        table = _console_table(deck.output) if deck.kind == "transfer" and run else None
        if table is not None:
            curves = {"SH": table[:, 1]} if deck.wave == "SH" else {"horizontal": table[:, 1], "vertical": table[:, 2]}
            save(transfer_figure(table[:, 0], curves, f"{deck_name}: {wave}, Q ∝ f (console values)"), "transfer")
        return written

    res = deck_results(deck)
    where = f"interface {deck.lout} ({deck.depth:g} m)" if deck.wave == "SH" else "surface"
    ylabel = ("amplification |H| / 2 (surface / outcrop)" if deck.wave == "SH"
              else "|H| / 2 (H per unit incident displacement)")
    if res.kind == "transfer":
        # The deck's own grid is linear; the figure draws the same function
        # on a log-spaced grid over the same band, so low frequencies are
        # not drawn as a few straight segments.
        fd = res.column("frequency").values
        lo = fd[fd > 0.0].min() if np.any(fd > 0.0) else deck.df
        f = np.geomspace(lo, max(fd.max(), lo * 1.0001), 1000)
    else:
        fnyq = 0.5 / deck.record.dt
        f = np.geomspace(min(0.1, fnyq / 100.0), fnyq, 1000)
    curves = {}
    for c in res.components:
        comp = None if c == "SH" else c
        h = transfer(deck.profile, f, deck.wave, deck.angle, depth=deck.depth if c == "SH" else 0.0, component=comp)
        curves[c] = np.abs(h) / 2.0
    save(transfer_figure(f, curves, f"{deck_name}: {wave}, {where}", ylabel), "transfer")
    if res.kind == "transfer":
        return written

    rec: Record = deck.record

    t = res.column("time").values
    outs = {f"output, {c}" if c != "SH" else f"output at {where}": col.values
            for c, col in zip(res.components, res.columns[1:])}
    units_label = rec.units
    if deck.iconv == 2:
        op, input_label, ref, ref_label = "deconvolved", "input: record (at the output's depth)", 1.0, ""
    else:
        op, input_label = "filtered", "input: record, as the incident wave"
        ref, ref_label = 2.0, "2: the free surface doubles the incident wave"
    save(histories_figure(t, res.input, outs, units_label, f"{deck_name}: record and {op} motion ({wave})",
                          input_label), "histories")

    periods = default_periods()
    psa_in = spectra(res.input, rec.dt, periods).psa
    psa_out = {k: spectra(v, rec.dt, periods).psa for k, v in outs.items()}
    save(spectra_figure(periods, psa_in, psa_out, units_label, 0.05, f"{deck_name}: response spectra, 5 % damping",
                        input_label, ref, ref_label), "spectra")

    motions = {input_label: Record(res.input, rec.dt, rec.units)}
    motions.update({k: Record(v, rec.dt, rec.units) for k, v in outs.items()})
    save(fourier_figure(motions, title=f"{deck_name}: Fourier amplitude spectra ({wave})"), "fourier")
    save(arias_figure(motions, title=f"{deck_name}: build-up of Arias intensity ({wave})"), "arias")

    if deck.wave == "SH":
        n = rec.accel.size
        tapered = Record(res.input[:n], rec.dt, rec.units)
        src = "within" if deck.iconv == 2 else "incident"
        pp = peak_profile(tapered, deck.profile, deck.angle, input=src, input_depth=deck.depth)
        save(peak_profile_figure(pp, f"{deck_name}: peaks with depth ({wave}, record as the {src} motion)"), "peaks")
    return written


def plot_analysis(path: str, out: Optional[str] = None) -> List[str]:
    """Run an equivalent-linear analysis file (JSON) and write its figures;
    see ``velmar._analysis.plot_analysis``."""
    from ._analysis import plot_analysis as run_and_plot

    return run_and_plot(path, out)
