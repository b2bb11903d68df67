"""Figures of an equivalent-linear analysis (matplotlib).

``plot_convergence`` shows how the largest relative change of G and D fell
pass by pass; ``plot_strain_compatible`` shows the strain-compatible G/Gmax,
damping and peak strain with depth beside the first (low-strain) pass;
``plot_curves`` shows the G/Gmax and damping curves the layers used, with
each layer's strain-compatible point marked. Each returns a
``matplotlib.figure.Figure``. matplotlib is imported when a figure is drawn,
so the package works without it.
"""

from __future__ import annotations

from typing import Any, Optional, Sequence

import numpy as np

from ._eql import EquivalentLinearResult, curve_values
from ._plotting import figure_and_axes, new_figure

#: Colours of the first (low-strain) pass and of the converged state.
FIRST_COLOUR = "tab:blue"
FINAL_COLOUR = "tab:red"


def _result(res: Any) -> EquivalentLinearResult:
    if not isinstance(res, EquivalentLinearResult):
        raise TypeError(f"res must be a velmar.EquivalentLinearResult, got {type(res).__name__}")
    return res


def _steps(tops: np.ndarray, values: np.ndarray) -> tuple:
    """A profile drawn as steps: each layer's value from its top to its bottom."""
    z = np.repeat(tops, 2)[1:-1]
    v = np.repeat(values, 2)
    return v, z


def plot_convergence(res: EquivalentLinearResult, tolerance: Optional[float] = None, ax: Any = None) -> Any:
    """The largest relative change of G or D in every pass (log scale).

    Parameters
    ----------
    res : EquivalentLinearResult
    tolerance : float, optional
        Drawn as a horizontal line when given (the analysis' tolerance).
    ax : matplotlib Axes, optional
        Where to draw; a new figure when None.

    Returns
    -------
    matplotlib.figure.Figure
        The figure drawn on (that of `ax` when given).
    """
    res = _result(res)
    fig, ax = figure_and_axes(ax, 6.5, 4.2)
    ax.set_axisbelow(True)
    passes = np.arange(1, res.change.size + 1)
    ax.semilogy(passes, res.change, "o-", color=FINAL_COLOUR, label="largest relative change of G, D")
    if tolerance is not None:
        ax.axhline(tolerance, color="0.4", ls="--", label=f"tolerance {tolerance:g}")
    ax.set_xlabel("pass")
    ax.set_ylabel("largest relative change (ratio)")
    state = "converged" if res.converged else "not converged"
    ax.set_title(f"Equivalent-linear iteration: {state} in {res.iterations} passes")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend()
    return fig


def plot_strain_compatible(res: EquivalentLinearResult, axes: Optional[Sequence[Any]] = None) -> Any:
    """Strain-compatible G/Gmax, damping and peak strain against depth.

    Each quantity is drawn per layer of the given profile (steps with
    depth), the converged state beside the first pass on the low-strain
    profile (G/Gmax = 1 and the peak strains of that pass). The G/Gmax and
    damping axes start at 0.

    With sublayering, a layer's G/Gmax and damping are averages over its
    sublayers (weighted by thickness) and its strain is the largest of its
    sublayers' peaks: the panels say so, and the sublayers' own G/Gmax and
    damping (those of ``res.profile``) are drawn as thin steps beside them.

    Parameters
    ----------
    res : EquivalentLinearResult
    axes : sequence of three matplotlib Axes, optional
        Where to draw; a new figure of three panels sharing depth when None.

    Returns
    -------
    matplotlib.figure.Figure
        The figure drawn on (that of `axes` when given).
    """
    res = _result(res)
    if axes is None:
        fig = new_figure(10.0, 5.8)
        axes = fig.subplots(1, 3, sharey=True)
    axes = np.asarray(axes)
    fig = axes[0].figure
    tops = np.asarray(res.depth, dtype=np.float64)
    first_strain = res.strain_history[0]
    split = bool(np.any(np.asarray(res.sublayers) > 1))
    g_label, d_label = "G/Gmax (ratio)", "damping (%)"
    s_label = "peak shear strain (%)"
    if split:
        g_label, d_label = "G/Gmax (ratio),\naveraged over sublayers", "damping (%),\naveraged over sublayers"
        s_label = "peak shear strain (%),\nlargest of a layer's sublayers"
    panels = [
        (axes[0], np.ones_like(res.g_ratio), res.g_ratio, g_label),
        (axes[1], None, 100 * res.damping, d_label),
        (axes[2], 100 * first_strain, 100 * res.max_strain, s_label),
    ]
    for ax, first, final, label in panels:
        ax.set_axisbelow(True)
        if first is not None:
            v, z = _steps(tops, first)
            ax.plot(v, z, color=FIRST_COLOUR, ls="--", label="first pass (low strain)", zorder=3)
        v, z = _steps(tops, final)
        ax.plot(v, z, color=FINAL_COLOUR, label="strain-compatible", zorder=4)
        ax.set_xlabel(label)
        ax.grid(True, alpha=0.3)
    if split:
        # The sublayers' own values, from the strain-compatible profile.
        sub = res.profile
        nsub = int(np.sum(res.sublayers))
        parent = np.repeat(np.arange(res.sublayers.size), res.sublayers)
        vs_sub = np.asarray(sub.vs, dtype=np.float64)[:nsub]
        sub_tops = np.asarray(sub.depth, dtype=np.float64)[:nsub + 1]
        g_sub = (vs_sub / _low_strain_vs(res)[parent]) ** 2
        d_sub = 100.0 * np.asarray(sub.damping, dtype=np.float64)[:nsub]
        for ax, vals in ((axes[0], g_sub), (axes[1], d_sub)):
            v, z = _steps(sub_tops, vals)
            ax.plot(v, z, color=FINAL_COLOUR, lw=0.7, alpha=0.6, label="sublayers", zorder=3)
        axes[1].legend(loc="best", fontsize=8)
    axes[0].set_xlim(0.0, 1.05)
    axes[1].set_xlim(left=0.0)
    axes[2].set_xlim(left=0.0)
    axes[0].set_ylim(tops[-1], 0.0)
    axes[1].set_title("Strain-compatible properties with depth")
    axes[0].set_ylabel("depth (m)")
    axes[0].legend(loc="best", fontsize=8)
    axes[2].legend(loc="best", fontsize=8)
    return fig


def _low_strain_vs(res: EquivalentLinearResult) -> np.ndarray:
    """The low-strain Vs of every given layer (its sublayers share it): the
    layer's G/Gmax is sum(h Vs_sub^2) / (H Vs0^2) over its sublayers."""
    nsub = int(np.sum(res.sublayers))
    vs = np.asarray(res.profile.vs, dtype=np.float64)[:nsub]
    th = np.asarray(res.profile.thickness, dtype=np.float64)[:nsub]
    parent = np.repeat(np.arange(res.sublayers.size), res.sublayers)
    # G/Gmax averaged over sublayers = sum(h vs^2) / (H vs0^2): solve for vs0.
    num = np.bincount(parent, weights=th * vs ** 2)
    den = np.bincount(parent, weights=th) * res.g_ratio
    return np.sqrt(num / den)


def plot_curves(res: EquivalentLinearResult, curves: Any, strain_ratio: Optional[float] = None,
                magnitude: Optional[float] = None, layers: Optional[Sequence[int]] = None) -> Any:
    """The G/Gmax and damping curves the layers used, each layer's
    strain-compatible point marked.

    Each layer's curve is drawn at its mean effective stress (the models
    depend on it), over strains 1e-6 to 1e-1 (ratio), on log strain axes
    shown in percent. The point of a layer is at its effective strain
    (`strain_ratio` x its peak strain) and its strain-compatible G/Gmax and
    damping: on the curve, to the iteration's tolerance. With sublayering
    the point's strain is that of the layer's most strained sublayer and its
    G/Gmax and damping are averages over the sublayers, so it may lie off
    the curve; the legend says so.

    Parameters
    ----------
    res : EquivalentLinearResult
    curves : curve model or sequence
        What the analysis was given: one model for every layer, or one entry
        per layer (None for a linear layer, which is not drawn).
    strain_ratio, magnitude : float, optional
        As given to the analysis (0.65 when neither is).
    layers : sequence of int, optional
        Layers to draw, counted from 1 (default: every nonlinear layer).

    Returns
    -------
    matplotlib.figure.Figure
    """
    res = _result(res)
    n = res.g_ratio.size
    per_layer = list(curves) if isinstance(curves, (list, tuple)) else [curves] * n
    if len(per_layer) != n:
        raise ValueError(f"curves must be one model or {n} entries (one per layer), got {len(per_layer)}")
    if strain_ratio is not None:
        ratio = float(strain_ratio)
    elif magnitude is not None:
        ratio = (float(magnitude) - 1.0) / 10.0
    else:
        ratio = 0.65
    chosen = [i for i in range(n) if per_layer[i] is not None] if layers is None else [int(k) - 1 for k in layers]
    for i in chosen:
        if not 0 <= i < n:
            raise ValueError(f"layers must be counted from 1 to {n}, got {i + 1}")
    fig = new_figure(10.0, 4.8)
    ax_g, ax_d = fig.subplots(1, 2, sharex=True)
    strain = np.geomspace(1e-6, 1e-1, 200)
    from matplotlib import colormaps

    cmap = colormaps["viridis"]
    split = bool(np.any(np.asarray(res.sublayers) > 1))
    mid = 0.5 * (res.depth[:-1] + res.depth[1:])
    for k, i in enumerate(chosen):
        if per_layer[i] is None:
            continue
        colour = cmap(k / max(len(chosen) - 1, 1) * 0.9)
        g, d = curve_values(per_layer[i], strain, float(res.mean_stress[i]))
        label = f"layer {i + 1} ({mid[i]:.3g} m, σ'm {res.mean_stress[i]:.3g} kPa)"
        ax_g.plot(100 * strain, g, color=colour, lw=1.2, label=label, zorder=3)
        ax_d.plot(100 * strain, 100 * d, color=colour, lw=1.2, zorder=3)
        x = 100 * ratio * res.max_strain[i]
        ax_g.plot(x, res.g_ratio[i], "o", color=colour, mec="k", mew=0.6, ms=6, zorder=4)
        ax_d.plot(x, 100 * res.damping[i], "o", color=colour, mec="k", mew=0.6, ms=6, zorder=4)
    point = (f"● strain-compatible point: effective strain = {ratio:g} x peak"
             + ("; with sublayers, the largest sublayer strain and G/Gmax, D averaged over sublayers" if split else ""))
    for ax in (ax_g, ax_d):
        ax.set_xscale("log")
        ax.set_xlim(100 * strain[0], 100 * strain[-1])
        ax.set_xlabel("shear strain (%)")
        ax.set_axisbelow(True)
        ax.grid(True, which="both", alpha=0.3)
    ax_g.set_ylim(0.0, 1.05)
    ax_g.set_ylabel("G/Gmax (ratio)")
    ax_d.set_ylim(bottom=0.0)
    ax_d.set_ylabel("damping (%)")
    ax_g.set_title("modulus reduction", fontsize=10)
    ax_d.set_title("damping", fontsize=10)
    ax_g.legend(loc="lower left", fontsize=7)
    fig.suptitle("Curves used by the equivalent-linear analysis\n" + point, fontsize=9)
    return fig
