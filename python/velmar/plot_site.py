"""Figures of site indices (matplotlib).

``plot_vs_profile`` draws a Vs profile with its Vs30 and site class marked;
``plot_quarter_wavelength`` draws the quarter-wavelength amplification beside
the SH transfer function; ``plot_tree_fractiles`` draws a logic tree's
weighted mean, median and fractiles (spectra, or any curve). Each returns
a ``matplotlib.figure.Figure`` (that of the `ax` given, if any). matplotlib
is imported when a figure is drawn, so the package works without it.
"""

from __future__ import annotations

from typing import Any, Optional, Union

import numpy as np

from ._profile import Profile
from ._response import transfer
from . import _checks, _site
from ._plotting import figure_and_axes, profile_steps


def _profile(p: Any) -> Profile:
    if not isinstance(p, Profile):
        raise ValueError(f"p must be a velmar.Profile, got {type(p).__name__}")
    return p


def plot_vs_profile(p: Profile, code: str = "asce7-16", depth: Optional[float] = None, ax: Any = None) -> Any:
    """Vs against depth (steps per layer), with Vs30 and the site class marked.

    Parameters
    ----------
    p : Profile
    code : {"asce7-16", "asce7-22", "ec8"}, optional
        The building code of the class shown.
    depth : float, optional
        Deepest depth drawn, m; by default 1.25 x the deeper of 30 m and the
        half-space's top.
    ax : matplotlib Axes, optional
        Where to draw; a new figure when None.

    Returns
    -------
    matplotlib.figure.Figure
        The figure drawn on (that of `ax` when given).
    """
    p = _profile(p)
    cls = p.site_class(code)
    tops = p.depth
    bottom = 1.25 * max(30.0, float(tops[-1])) if depth is None else _checks.positive("depth", depth)
    fig, ax = figure_and_axes(ax, 4.8, 6.0)
    ax.set_axisbelow(True)
    ax.plot(*profile_steps(tops, p.vs, bottom), color="tab:blue", lw=2, label="Vs", zorder=3)
    ax.axhline(30.0, color="0.5", ls=":", lw=1)
    ax.plot([cls.vs30, cls.vs30], [0.0, 30.0], color="tab:red", ls="--", lw=1.5,
            label=f"Vs30 = {cls.vs30:.0f} m/s")
    ax.set_ylim(bottom, 0.0)
    ax.set_xlim(0.0, 1.1 * float(np.max(p.vs)))
    ax.set_xlabel("Vs (m/s)")
    ax.set_ylabel("depth (m)")
    ax.set_title(f"Site class {cls} ({code.upper()})")
    ax.text(0.03, 0.03, cls.basis, transform=ax.transAxes, fontsize=8, color="tab:red", va="bottom")
    ax.grid(True, alpha=0.3)
    ax.legend(loc="lower left", bbox_to_anchor=(0.0, 0.08))
    return fig


def plot_quarter_wavelength(p: Profile, freqs: Any = None, eta: Union[float, str] = 0.5, kappa: float = 0.0,
                            ax: Any = None) -> Any:
    """Quarter-wavelength amplification beside |SH transfer function| (outcrop, 2 x incident ratio
    normalised to the half-space's outcrop: the surface over the outcropping half-space).

    Parameters
    ----------
    p : Profile
    freqs : array_like, optional
        Frequencies, Hz; by default 200 from 0.1 to 50 Hz (log spaced).
    eta, kappa
        As for velmar.quarter_wavelength (`kappa` also multiplies the
        transfer function by exp(-pi kappa f), for a like comparison).
    ax : matplotlib Axes, optional

    Returns
    -------
    matplotlib.figure.Figure
        The figure drawn on (that of `ax` when given).
    """
    p = _profile(p)
    f = np.logspace(-1.0, np.log10(50.0), 200) if freqs is None else freqs
    q = _site.quarter_wavelength(p, f, eta=eta, kappa=kappa)
    # Surface over the half-space's outcrop (2 x incident).
    sh = np.abs(transfer(p, q.freqs)) / 2.0 * np.exp(-np.pi * q.freqs * float(kappa))
    fig, ax = figure_and_axes(ax, 6.5, 4.2)
    ax.set_axisbelow(True)
    ax.loglog(q.freqs, sh, color="0.45", lw=1.2, label="SH transfer function (surface / outcrop)")
    label = "quarter-wavelength, eta = ba23" if isinstance(eta, str) else f"quarter-wavelength, eta = {eta:g}"
    ax.loglog(q.freqs, q.amplification, color="tab:red", lw=2.2, label=label)
    ax.axvline(p.fundamental_frequency().quarter_wavelength if p.layers else q.freqs[0], color="tab:blue",
               ls=":", lw=1, label="1 / (4 sum h/Vs)")
    ax.set_xlabel("frequency (Hz)")
    ax.set_ylabel("amplification")
    ax.set_title("Quarter-wavelength amplification and SH transfer function")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(fontsize=8)
    return fig


def plot_tree_fractiles(result: Any, x: Any = None, ax: Any = None, log: bool = True,
                        xlabel: Optional[str] = None, ylabel: str = "value") -> Any:
    """A logic tree's branches, weighted mean, median and fractiles against x.

    Parameters
    ----------
    result : xarray.Dataset
        What LogicTree.run returned, with curves of one dimension per branch
        (a response spectrum, an amplification, ...).
    x : array_like, optional
        The abscissa; by default the coordinate of the curves' dimension, or
        0, 1, 2, ...
    ax : matplotlib Axes, optional
    log : bool, optional
        Logarithmic axes (for spectra).
    xlabel, ylabel : str, optional

    Returns
    -------
    matplotlib.figure.Figure
        The figure drawn on (that of `ax` when given).
    """
    if not hasattr(result, "data_vars") or not {"value", "weight", "fractiles"} <= set(result.data_vars):
        raise ValueError("result must be the xarray.Dataset of LogicTree.run")
    value = result["value"]
    if value.ndim != 2:
        raise ValueError(f"result must hold one curve per branch (2 dimensions), got dimensions {value.dims}")
    dim = value.dims[1]
    if x is None:
        x = np.asarray(value[dim].values) if dim in value.coords else np.arange(value.shape[1])
    x = np.asarray(x, dtype=float)
    if x.shape != (value.shape[1],):
        raise ValueError(f"x must have {value.shape[1]} values, got shape {x.shape}")
    fig, ax = figure_and_axes(ax, 6.5, 4.2)
    ax.set_axisbelow(True)
    w = np.asarray(result["weight"].values)
    for i in range(value.shape[0]):
        ax.plot(x, value.values[i], color="0.7", lw=0.4 + 3.0 * w[i], zorder=1,
                label="branches (width ~ weight)" if i == 0 else None)
    fr = result["fractiles"]
    qs = np.asarray(result["fractile"].values)
    styles = ["--", "-.", ":", (0, (5, 1, 1, 1))]
    for j, q in enumerate(qs):
        if abs(q - 0.5) < 1e-12:
            continue
        ax.plot(x, fr.values[j], color="tab:blue", ls=styles[j % len(styles)], lw=1.4, label=f"fractile {q:g}")
    ax.plot(x, result["median"].values, color="tab:blue", lw=2.2, label="weighted median")
    ax.plot(x, result["mean"].values, color="tab:red", lw=2.2, label="weighted mean")
    if log:
        ax.set_xscale("log")
        ax.set_yscale("log")
    ax.set_xlabel(xlabel or str(dim))
    ax.set_ylabel(ylabel)
    ax.set_title(f"Logic tree: {value.shape[0]} branches ({result.attrs.get('nodes', '')})")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(fontsize=8)
    return fig
