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


def unit_label(units: str) -> str:
    """How an acceleration unit is printed on an axis ("m/s²", "cm/s²", "g")."""
    return {"m/s2": "m/s²", "cm/s2": "cm/s²"}.get(units, units)
