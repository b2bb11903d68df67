"""Figures of nonlinear analysis (matplotlib, drawn off-screen).

Each function returns a ``matplotlib.figure.Figure`` (no pyplot state, no
window); save it with ``fig.savefig("name.png")``. matplotlib is imported
when a figure is drawn, so the package works without it.

Soil models: ``plot_soil_fit`` (a fitted model's curves against its target
curve), ``plot_loops`` (stress-strain loops).
"""

from __future__ import annotations

from typing import Any, Optional, Sequence

import numpy as np

from . import _checks
from ._soil import SoilModel

#: Colours of the target curve and of the fitted model.
TARGET_COLOUR = "0.15"
MODEL_COLOUR = "#c0392b"


def _figure(width: float, height: float) -> Any:
    from matplotlib.figure import Figure

    return Figure(figsize=(width, height), layout="constrained")


def plot_soil_fit(m: SoilModel, soil: Any, strain: Any = None) -> Any:
    """A fitted soil model's curves against its target curve.

    Three panels against shear strain (percent, log scale): G/Gmax, damping
    (percent), and the backbone stress (kPa) beside the stress the curve
    implies (gmax x strain x G/Gmax) with the GQ/H shear strength. The fit's
    strain range is shaded; the fit errors are in the titles.

    Parameters
    ----------
    m : SoilModel
        From :func:`velmar.fit_soil_model`.
    soil : Darendeli, Menq, CurveTable or another VELMAR curve
        The curve the model was fitted to.
    strain : array_like, optional
        Strains (ratio, above 0) to draw; 1e-7 to 1e-1 when None.

    Returns
    -------
    matplotlib.figure.Figure
    """
    from ._eql import curve_values

    if not isinstance(m, SoilModel):
        raise ValueError(f"m must be a velmar.SoilModel, got {type(m).__name__}")
    if strain is None:
        g = np.logspace(-7, -1, 121)
    else:
        g = _checks.float_array("strain", strain)
        _checks.first_bad("strain", g, g > 0.0, "must be above 0")
    g_target, d_target = curve_values(soil, g, m.mean_stress)
    fig = _figure(13.0, 4.2)
    axes = fig.subplots(1, 3)
    pct = 100.0 * g
    lo, hi = m.fit_strain_range
    for ax in axes:
        ax.axvspan(100.0 * lo, 100.0 * hi, color="0.93", zorder=0, label="fit range")
        ax.set_xscale("log")
        ax.set_xlabel("shear strain (%)")
        ax.grid(True, which="both", alpha=0.3)

    axes[0].plot(pct, g_target, "--", color=TARGET_COLOUR, label="target curve")
    axes[0].plot(pct, m.g_ratio(g), color=MODEL_COLOUR, label=f"{m.model.upper()} backbone")
    axes[0].set_ylabel("G/Gmax")
    axes[0].set_ylim(0.0, 1.05)
    axes[0].set_title(f"G/Gmax: largest error {m.g_ratio_error:.3f}, rms {m.g_ratio_rms:.3f}", fontsize=10)

    axes[1].plot(pct, 100.0 * d_target, "--", color=TARGET_COLOUR, label="target curve")
    axes[1].plot(pct, 100.0 * m.damping(g), color=MODEL_COLOUR, label=f"model loops ({m.unload})")
    axes[1].set_ylabel("damping (%)")
    axes[1].set_ylim(bottom=0.0)
    axes[1].set_title(f"Damping: largest error {100 * m.damping_error:.2f} %, rms {100 * m.damping_rms:.2f} %",
                      fontsize=10)

    axes[2].plot(pct, m.gmax * g * g_target, "--", color=TARGET_COLOUR, label="gmax x strain x G/Gmax")
    axes[2].plot(pct, m.backbone(g), color=MODEL_COLOUR, label="backbone")
    if m.model == "gqh":
        axes[2].axhline(m.tau_max, color="0.45", ls=":", label=f"strength {m.tau_max:.3g} kPa ({m.strength_source})")
    axes[2].set_yscale("log")
    axes[2].set_ylabel("shear stress (kPa)")
    axes[2].set_title(f"Backbone at mean stress {m.mean_stress:.4g} kPa", fontsize=10)
    for ax in axes:
        ax.legend(fontsize=8, loc="best")
    fig.suptitle(f"{m.model.upper()} / {m.unload.upper()} fitted to the curve, gmax {m.gmax:.6g} kPa")
    return fig


def plot_loops(strain: Any, stress: Any, labels: Optional[Sequence[str]] = None, title: Optional[str] = None) -> Any:
    """Stress-strain loops: stress (kPa) against strain (percent).

    Parameters
    ----------
    strain, stress : array_like, or sequences of them
        One history (1-D, the same length), or several (one loop each, e.g.
        several layers or models).
    labels : sequence of str, optional
        One per history.
    title : str, optional

    Returns
    -------
    matplotlib.figure.Figure
    """
    def histories(name: str, v: Any) -> list:
        if isinstance(v, (list, tuple)) and v and np.ndim(v[0]) == 1:
            return [_checks.float_array(f"{name}[{i}]", x) for i, x in enumerate(v)]
        return [_checks.float_array(name, v)]

    gs, ts = histories("strain", strain), histories("stress", stress)
    if len(gs) != len(ts):
        raise ValueError(f"strain holds {len(gs)} histories and stress {len(ts)}: give one stress per strain")
    for i, (g, t) in enumerate(zip(gs, ts)):
        if g.size != t.size:
            raise ValueError(f"history {i}: strain has {g.size} samples and stress {t.size}; give them equal lengths")
    if labels is not None and len(labels) != len(gs):
        raise ValueError(f"labels holds {len(labels)} names for {len(gs)} histories")
    fig = _figure(6.0, 4.8)
    ax = fig.subplots()
    for i, (g, t) in enumerate(zip(gs, ts)):
        ax.plot(100.0 * g, t, lw=1.0, label=None if labels is None else labels[i])
    ax.axhline(0.0, color="0.6", lw=0.6)
    ax.axvline(0.0, color="0.6", lw=0.6)
    ax.set_xlabel("shear strain (%)")
    ax.set_ylabel("shear stress (kPa)")
    ax.grid(True, alpha=0.3)
    if labels is not None:
        ax.legend(fontsize=8)
    ax.set_title(title or "Stress-strain loops")
    return fig


# --- Figures of a soil column's nonlinear response (velmar.nonlinear) -------
# plot_column_loops: the stress-strain loops of chosen layers;
# plot_column_peaks: peak profiles with depth, beside an equivalent-linear
# analysis of the same site when one is given.

#: Colours of the nonlinear and of the equivalent-linear analysis.
NONLINEAR_COLOUR = "#c0392b"
EQL_COLOUR = "tab:blue"


def _column_result(res: Any) -> Any:
    from ._nonlinear import NonlinearResult

    if not isinstance(res, NonlinearResult):
        raise ValueError(f"res must be a velmar.NonlinearResult, got {type(res).__name__}")
    return res


def plot_column_loops(res: Any, layers: Optional[Sequence[int]] = None, title: Optional[str] = None) -> Any:
    """Stress-strain loops at the middle of chosen layers of a nonlinear
    analysis, one panel each.

    Parameters
    ----------
    res : NonlinearResult
    layers : sequence of int, optional
        Layer indices from 0 (as ``res.loop``); default: the layer of the
        largest peak strain and up to three others spread over the column.
    title : str, optional

    Returns
    -------
    matplotlib.figure.Figure
    """
    res = _column_result(res)
    if layers is None:
        picks = set(np.linspace(0, res.layers - 1, min(res.layers, 3)).round().astype(int).tolist())
        picks.add(int(np.argmax(res.max_strain)))
        layers = sorted(picks)
    layers = [res._layer(k) for k in layers]
    if not layers:
        raise ValueError("layers is empty: give at least one layer index")
    cols = min(len(layers), 2)
    rows = (len(layers) + cols - 1) // cols
    fig = _figure(4.2 * cols, 3.4 * rows)
    axes = np.atleast_1d(fig.subplots(rows, cols)).ravel()
    for ax, k in zip(axes, layers):
        g, t = res.loop(k)
        ax.plot(100.0 * g, t, lw=0.8, color=NONLINEAR_COLOUR)
        ax.axhline(0.0, color="0.6", lw=0.6)
        ax.axvline(0.0, color="0.6", lw=0.6)
        ax.set_title(f"layer {k + 1}, {res.layer_depth[k]:.3g} m: peak {100 * res.max_strain[k]:.3g} %, "
                     f"{res.max_stress[k]:.3g} kPa", fontsize=9)
        ax.set_xlabel("shear strain (%)")
        ax.set_ylabel("shear stress (kPa)")
        ax.grid(True, alpha=0.3)
    for ax in axes[len(layers):]:
        ax.set_visible(False)
    fig.suptitle(title or "Stress-strain loops at the layers' middles")
    return fig


def plot_column_peaks(res: Any, eql: Any = None, title: Optional[str] = None) -> Any:
    """Peak profiles with depth: acceleration, shear strain, shear stress and
    stress ratio tau / sigma'_v of a nonlinear analysis.

    Parameters
    ----------
    res : NonlinearResult
    eql : EquivalentLinearResult, optional
        An equivalent-linear analysis of the same profile (same layers), drawn
        beside: its peak strains, the stresses G x peak strain of its
        strain-compatible moduli (G = G/Gmax x rho Vs^2), and their ratio to
        sigma'_v. (Its accelerations are not part of its result.)
    title : str, optional

    Returns
    -------
    matplotlib.figure.Figure
    """
    from ._eql import EquivalentLinearResult

    res = _column_result(res)
    n = res.layers
    if eql is not None:
        if not isinstance(eql, EquivalentLinearResult):
            raise ValueError(f"eql must be a velmar.EquivalentLinearResult, got {type(eql).__name__}")
        if eql.max_strain.size < n:
            raise ValueError(f"eql has {eql.max_strain.size} layers and the nonlinear result {n}: give an "
                             "equivalent-linear analysis of the same profile")
    fig = _figure(11.0, 4.8)
    axes = fig.subplots(1, 4, sharey=True)
    z = res.layer_depth
    axes[0].plot(res.max_accel, res.accel_depth, "o-", color=NONLINEAR_COLOUR, ms=3, label="nonlinear")
    axes[0].set_xlabel(f"peak acceleration ({res.units})")
    axes[1].plot(100.0 * res.max_strain, z, "o-", color=NONLINEAR_COLOUR, ms=3, label="nonlinear")
    axes[1].set_xlabel("peak shear strain (%)")
    axes[2].plot(res.max_stress, z, "o-", color=NONLINEAR_COLOUR, ms=3, label="nonlinear")
    axes[2].set_xlabel("peak shear stress (kPa)")
    axes[3].plot(res.max_stress_ratio, z, "o-", color=NONLINEAR_COLOUR, ms=3, label="nonlinear")
    axes[3].set_xlabel("peak stress ratio tau / sigma'_v")
    if eql is not None:
        strain = np.asarray(eql.max_strain[:n])
        stress = np.asarray(eql.g_ratio[:n]) * res.gmax * strain
        with np.errstate(divide="ignore", invalid="ignore"):
            ratio = np.where(res.vertical_stress > 0, stress / res.vertical_stress, np.nan)
        for ax, v in ((axes[1], 100.0 * strain), (axes[2], stress), (axes[3], ratio)):
            ax.plot(v, z, "s--", color=EQL_COLOUR, ms=3, label="equivalent linear")
    for ax in axes:
        ax.grid(True, alpha=0.3)
        ax.set_xlim(left=0.0)
    axes[0].set_ylim(res.node_depth[-1], 0.0)
    axes[0].set_ylabel("depth (m)")
    axes[1].legend(fontsize=8, loc="lower right")
    fig.suptitle(title or "Peak profiles")
    return fig
