"""Figures of an equivalent-linear analysis (matplotlib).

``plot_convergence`` shows how the largest relative change of G and D fell
pass by pass; ``plot_strain_compatible`` shows the strain-compatible G/Gmax,
damping and peak strain with depth beside the first (low-strain) pass.
matplotlib is imported when a figure is drawn, so the package works without it.
"""

from __future__ import annotations

from typing import Any, Optional, Sequence

import numpy as np

from ._eql import EquivalentLinearResult

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
    matplotlib Axes
    """
    import matplotlib.pyplot as plt

    res = _result(res)
    if ax is None:
        _, ax = plt.subplots(figsize=(5.5, 3.8))
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
    return ax


def plot_strain_compatible(res: EquivalentLinearResult, axes: Optional[Sequence[Any]] = None) -> Any:
    """Strain-compatible G/Gmax, damping and peak strain against depth.

    Each quantity is drawn per layer of the given profile (steps with
    depth), the converged state beside the first pass on the low-strain
    profile (G/Gmax = 1 and the peak strains of that pass).

    Parameters
    ----------
    res : EquivalentLinearResult
    axes : sequence of three matplotlib Axes, optional
        Where to draw; a new figure of three panels sharing depth when None.

    Returns
    -------
    ndarray of matplotlib Axes
    """
    import matplotlib.pyplot as plt

    res = _result(res)
    if axes is None:
        _, axes = plt.subplots(1, 3, figsize=(10, 5.5), sharey=True)
    axes = np.asarray(axes)
    tops = np.asarray(res.depth, dtype=np.float64)
    first_strain = res.strain_history[0]
    panels = [
        (axes[0], np.ones_like(res.g_ratio), res.g_ratio, "G/Gmax"),
        (axes[1], None, 100 * res.damping, "damping (%)"),
        (axes[2], 100 * first_strain, 100 * res.max_strain, "peak shear strain (%)"),
    ]
    for ax, first, final, label in panels:
        if first is not None:
            v, z = _steps(tops, first)
            ax.plot(v, z, color=FIRST_COLOUR, ls="--", label="first pass (low strain)")
        v, z = _steps(tops, final)
        ax.plot(v, z, color=FINAL_COLOUR, label="strain-compatible")
        ax.set_xlabel(label)
        ax.grid(True, alpha=0.3)
    axes[2].set_xlim(left=0.0)
    axes[0].set_ylim(tops[-1], 0.0)
    axes[1].set_title("Strain-compatible properties with depth")
    axes[0].set_ylabel("depth (m)")
    axes[0].legend(loc="lower left")
    axes[2].legend(loc="lower left")
    return axes
