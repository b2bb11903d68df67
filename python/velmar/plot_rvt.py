"""Figures of a site response by random vibration theory (matplotlib).

Each function returns a matplotlib Figure (made without pyplot, so it can be
saved from any thread: ``fig.savefig("x.png")``):

- ``plot_fourier_spectra``: the input and surface Fourier amplitude spectra;
- ``plot_spectral_ratio``: their ratio (the site's amplification), with the
  site's resonance peaks;
- ``plot_response_spectra``: input and surface response spectra;
- ``plot_rvt_convergence``: the equivalent-linear iteration pass by pass
  (largest relative change, and each layer's peak strain).

They take an equivalent-linear result of an RvtMotion (its input motion and
its motion at `depth`) or, for the spectra, two RvtMotions (input, output).
matplotlib is imported when a figure is drawn.
"""

from __future__ import annotations

from typing import Any, Optional

import numpy as np

from ._rvt import RvtMotion

INPUT_COLOUR = "tab:blue"
SURFACE_COLOUR = "tab:red"


def _figure(width: float = 6.0, height: float = 4.2):
    from matplotlib.figure import Figure

    return Figure(figsize=(width, height), layout="constrained")


def _pair(res_or_input: Any, output: Optional[RvtMotion], depth: float):
    """(input, output, label of the output) from a result or two motions."""
    if isinstance(res_or_input, RvtMotion):
        if not isinstance(output, RvtMotion):
            raise ValueError("give the output RvtMotion beside the input (or an equivalent-linear result of an "
                             f"RvtMotion), got {type(output).__name__}")
        return res_or_input, output, "output"
    motion = getattr(res_or_input, "motion", None)
    if not callable(motion) or not isinstance(getattr(res_or_input, "input_motion", None), RvtMotion):
        raise ValueError("expected an RvtMotion or the equivalent-linear result of an RvtMotion, got "
                         f"{type(res_or_input).__name__}")
    where = "surface" if depth == 0.0 else f"{depth:g} m"
    return res_or_input.input_motion, motion(depth), where


def plot_fourier_spectra(res_or_input: Any, output: Optional[RvtMotion] = None, depth: float = 0.0):
    """Input and output Fourier amplitude spectra, log-log.

    Parameters
    ----------
    res_or_input : RvtEquivalentLinearResult or RvtMotion
        A result (its input motion and its motion at `depth`), or the input
        motion with `output` beside it.
    output : RvtMotion, optional
    depth : float, optional
        Depth of a result's output motion, m (0: the surface).
    """
    inp, out, where = _pair(res_or_input, output, depth)
    fig = _figure()
    ax = fig.add_subplot()
    ax.loglog(inp.freqs, inp.fas, color=INPUT_COLOUR, label="input")
    ax.loglog(out.freqs, out.fas, color=SURFACE_COLOUR, label=where)
    ax.set_xlabel("frequency (Hz)")
    ax.set_ylabel(f"Fourier amplitude ({inp.units} s)")
    ax.set_title(f"Fourier amplitude spectra (duration {inp.duration:.3g} s, peak {inp.peak_method})")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend()
    return fig


def plot_spectral_ratio(res_or_input: Any, output: Optional[RvtMotion] = None, depth: float = 0.0):
    """Output over input Fourier amplitude (the site's amplification), with
    the first three resonance peaks of the output motion's site marked."""
    inp, out, where = _pair(res_or_input, output, depth)
    fig = _figure()
    ax = fig.add_subplot()
    with np.errstate(divide="ignore", invalid="ignore"):
        ratio = np.where(inp.fas > 0, out.fas / inp.fas, np.nan)
    ax.semilogx(out.freqs, ratio, color=SURFACE_COLOUR, label=f"{where} / input")
    if out.site is not None:
        modes, amp = out.site
        for k, f in enumerate(modes):
            ax.axvline(f, color="0.5", ls=":", lw=1)
            ax.annotate(f"f{k + 1} = {f:.3g} Hz", (f, 0.97), xycoords=("data", "axes fraction"), rotation=90,
                        ha="right", va="top", fontsize=8, color="0.3")
    ax.axhline(1.0, color="0.6", lw=0.8)
    ax.set_xlabel("frequency (Hz)")
    ax.set_ylabel("Fourier amplitude ratio")
    ax.set_title("Spectral ratio")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(loc="upper right")
    return fig


def plot_response_spectra(res_or_input: Any, output: Optional[RvtMotion] = None, depth: float = 0.0,
                          periods: Any = None, damping: float = 0.05):
    """Input and output response spectra by RVT (PSA, the method's
    oscillator correction), on `periods` (default 100 from 0.01 to 10 s)."""
    inp, out, where = _pair(res_or_input, output, depth)
    t = np.logspace(-2, 1, 100) if periods is None else np.asarray(periods, dtype=float)
    fig = _figure()
    ax = fig.add_subplot()
    ax.semilogx(t, inp.response_spectrum(t, damping), color=INPUT_COLOUR, label="input")
    ax.semilogx(t, out.response_spectrum(t, damping), color=SURFACE_COLOUR, label=where)
    ax.set_xlabel("period (s)")
    ax.set_ylabel(f"PSA ({inp.units}), damping {100 * damping:g} %")
    ax.set_title("Response spectra by random vibration theory")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend()
    return fig


def plot_rvt_convergence(res: Any, tolerance: Optional[float] = None):
    """The iteration pass by pass: the largest relative change of G or D
    (log scale, with the tolerance when given) and every layer's peak strain."""
    change = getattr(res, "change", None)
    history = getattr(res, "strain_history", None)
    if change is None or history is None:
        raise ValueError(f"expected an equivalent-linear result, got {type(res).__name__}")
    fig = _figure(10.0, 4.2)
    a, b = fig.subplots(1, 2)
    passes = np.arange(1, len(change) + 1)
    a.semilogy(passes, change, "o-", color=SURFACE_COLOUR, label="largest relative change of G, D")
    if tolerance is not None:
        a.axhline(tolerance, color="0.4", ls="--", label=f"tolerance {tolerance:g}")
    a.set_xlabel("pass")
    a.set_ylabel("largest relative change (ratio)")
    state = "converged" if res.converged else "not converged"
    a.set_title(f"{state} in {res.iterations} passes")
    a.grid(True, which="both", alpha=0.3)
    a.legend()
    cmap = __import__("matplotlib").colormaps["viridis"]
    n = history.shape[1]
    for i in range(n):
        b.semilogy(passes, 100 * history[:, i], color=cmap(i / max(n - 1, 1)), lw=1)
    b.set_xlabel("pass")
    b.set_ylabel("peak shear strain (%)")
    b.set_title(f"peak strain of each layer (purple: layer 1 at the top; yellow: layer {n})")
    b.grid(True, which="both", alpha=0.3)
    return fig
