"""Figures of a batch of randomised profiles: the surface spectra's median
and +-1 standard deviation over the realisations (`batch_figure`), and the
realisations' Vs with depth (`vs_realisations_figure`). Each returns a
``matplotlib.figure.Figure``; matplotlib is imported when a figure is drawn.
"""

from __future__ import annotations

from typing import Any, Optional, Sequence

import numpy as np

from ._batch import Simulations
from ._plotting import figure_and_axes, profile_steps
from ._profile import Profile

MEDIAN_COLOUR = "#c0392b"
INPUT_COLOUR = "#1f4e9c"
REALISATION_COLOUR = "0.72"


def batch_figure(sims: Simulations, record: int = 0, realisations: bool = True, title: str = "") -> Any:
    """Response spectra of a batch at its output depth (PSA, g) for one
    record: every realisation (thin, grey), their median and the median
    times exp(+-1 log standard deviation), the input's spectrum; below, the
    same for the ratio to the input. The title says over how many runs the
    statistics were taken and how many failed.

    Parameters
    ----------
    sims : Simulations
        What `simulate` returned.
    record : int, optional
        Which record's results (counted from 0, in the order given).
    realisations : bool, optional
        Also draw every realisation.
    title : str, optional

    Returns
    -------
    matplotlib.figure.Figure
    """
    if not isinstance(sims, Simulations):
        raise ValueError(f"sims must be the velmar.Simulations of simulate, got {type(sims).__name__}")
    n, records, _ = sims.psa.shape
    if isinstance(record, bool) or not isinstance(record, (int, np.integer)) or not 0 <= record < records:
        raise ValueError(f"record must be a whole number from 0 to {records - 1}, got {record!r}")
    stats = sims.statistics()
    periods = np.asarray(sims.periods, dtype=float)
    from ._plotting import new_figure

    fig = new_figure(7.5, 6.4)
    top, bottom = fig.subplots(2, 1, sharex=True, height_ratios=(2.0, 1.2))
    used = int(np.max(stats["psa"]["count"][record])) if stats["psa"]["count"].size else 0
    failed = int(sims.failed[record])
    for ax, key, values in ((top, "psa", sims.psa), (bottom, "ratio", sims.ratio)):
        ax.set_axisbelow(True)
        med = stats[key]["median"][record]
        sd = stats[key]["log_std"][record]
        if realisations:
            for i in range(n):
                ax.plot(periods, values[i, record], color=REALISATION_COLOUR, lw=0.4, zorder=2,
                        label="realisations" if i == 0 else None)
        ax.plot(periods, med, color=MEDIAN_COLOUR, lw=2.0, zorder=4, label="median")
        ax.plot(periods, med * np.exp(sd), color=MEDIAN_COLOUR, lw=1.2, ls="--", zorder=4,
                label="median x exp(±σ_ln)")
        ax.plot(periods, med * np.exp(-sd), color=MEDIAN_COLOUR, lw=1.2, ls="--", zorder=4)
        ax.set_xscale("log")
        ax.grid(True, which="both", color="0.92")
    top.plot(periods, sims.input_psa[record], color=INPUT_COLOUR, lw=1.6, zorder=3, label="input")
    top.set_ylim(bottom=0.0)
    top.set_ylabel("PSA (g), 5 % damping" if np.isclose(sims.inputs.get("damping", 0.05), 0.05)
                   else f"PSA (g), {100 * sims.inputs['damping']:g} % damping")
    top.legend(fontsize=8)
    bottom.axhline(1.0, color="0.5", lw=0.8, ls=":")
    bottom.set_ylim(bottom=0.0)
    bottom.set_ylabel("ratio output / input")
    bottom.set_xlabel("period (s)")
    bottom.set_xlim(periods.min(), periods.max())
    name = sims.record_names[record] if record < len(sims.record_names) else f"record {record}"
    head = title or f"Batch: {name}"
    top.set_title(f"{head}\nstatistics over {used} of {n} realisations ({failed} failed)", fontsize=10)
    return fig


def vs_realisations_figure(profiles: Sequence[Profile], base: Optional[Profile] = None, depth: Optional[float] = None,
                           title: str = "", ax: Any = None) -> Any:
    """Vs with depth of randomised profiles (thin, grey), their median at
    every depth, and the base profile.

    Parameters
    ----------
    profiles : sequence of Profile
        The realisations (what `randomize` returned).
    base : Profile, optional
        The base case, drawn bold.
    depth : float, optional
        Deepest depth drawn, m; default 1.1 x the deepest half-space top.
    title : str, optional
    ax : matplotlib Axes, optional
        Where to draw; a new figure when None.

    Returns
    -------
    matplotlib.figure.Figure
    """
    profiles = list(profiles)
    if not profiles or not all(isinstance(p, Profile) for p in profiles):
        raise ValueError("profiles must be a non-empty sequence of velmar.Profile")
    deepest = max(float(p.depth[-1]) for p in profiles + ([base] if base is not None else []))
    bottom = 1.1 * deepest if depth is None else float(depth)
    if not bottom > 0.0:
        raise ValueError(f"depth must be above 0 m, got {depth!r}")
    fig, ax = figure_and_axes(ax, 5.0, 6.5)
    ax.set_axisbelow(True)
    grid = np.linspace(0.0, bottom, 600)

    def at(p: Profile, z: np.ndarray) -> np.ndarray:
        tops = np.asarray(p.depth, dtype=float)
        return np.asarray(p.vs, dtype=float)[np.searchsorted(tops, z, side="right") - 1]

    def steps(p: Profile):
        return profile_steps(p.depth, p.vs, bottom)

    for i, p in enumerate(profiles):
        v, z = steps(p)
        ax.plot(v, z, color=REALISATION_COLOUR, lw=0.5, zorder=2,
                label=f"realisations ({len(profiles)})" if i == 0 else None)
    median = np.median(np.vstack([at(p, grid) for p in profiles]), axis=0)
    ax.plot(median, grid, color=MEDIAN_COLOUR, lw=2.0, zorder=4, label="median of the realisations")
    if base is not None:
        v, z = steps(base)
        ax.plot(v, z, color=INPUT_COLOUR, lw=1.6, ls="--", zorder=5, label="base profile")
    ax.set_ylim(bottom, 0.0)
    ax.set_xlim(left=0.0)
    ax.set_xlabel("shear-wave velocity Vs (m/s)")
    ax.set_ylabel("depth (m)")
    ax.xaxis.set_label_position("top")
    ax.xaxis.tick_top()
    ax.grid(True, color="0.9")
    ax.set_title(title or "Vs of the realisations", fontsize=10)
    ax.legend(loc="lower left", fontsize=8)
    return fig
