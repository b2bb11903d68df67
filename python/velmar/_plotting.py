"""Shared helpers of the figure modules: a new off-screen Figure (no pyplot
state, no window) and unit labels. matplotlib is imported when called."""

from __future__ import annotations

from typing import Any, Tuple

#: Figure width, in, and resolution, dots per inch.
WIDTH = 7.5
DPI = 110


def new_figure(width: float = WIDTH, height: float = 4.2) -> Any:
    """A matplotlib Figure laid out by constrained layout (nothing clipped)."""
    from matplotlib.figure import Figure

    return Figure(figsize=(width, height), dpi=DPI, layout="constrained")


def figure_and_axes(ax: Any, width: float = WIDTH, height: float = 4.2) -> Tuple[Any, Any]:
    """`ax` and its figure, or a new figure with one Axes when `ax` is None."""
    if ax is not None:
        return ax.figure, ax
    fig = new_figure(width, height)
    return fig, fig.add_subplot()


def profile_steps(tops: Any, values: Any, bottom: float) -> Tuple[Any, Any]:
    """A layered profile as a line (x = value, y = depth): each layer's value
    held from its top to the next top, the last (the half-space) down to
    `bottom`. (A "post" step drawn with the value on x would hold each value
    over the layer above it.)"""
    import numpy as np

    t = np.asarray(tops, dtype=float)
    edges = np.append(t, max(float(bottom), float(t[-1])))
    return np.repeat(np.asarray(values, dtype=float), 2), np.repeat(edges, 2)[1:-1]


def unit_label(units: str) -> str:
    """How an acceleration unit is printed on an axis ("m/s²", "cm/s²", "g")."""
    return {"m/s2": "m/s²", "cm/s2": "cm/s²"}.get(units, units)
