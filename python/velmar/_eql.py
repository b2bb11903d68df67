"""Equivalent-linear (strain-compatible) SH site response."""

from __future__ import annotations

import warnings
from dataclasses import dataclass, field
from typing import Any, List, Optional, Sequence

import numpy as np

from . import _checks
from . import _velmar
from ._profile import MODULUS_LAWS, Profile
from ._record import Record

#: Where the record of an equivalent-linear analysis was observed.
EQL_INPUTS = ("outcrop", "within", "incident")


def _finite(name: str, value: Any, low: float, *, strict: bool) -> float:
    v = _checks.real(name, value)
    if v < low or (strict and v == low):
        raise ValueError(f"{name} must be {'above' if strict else 'at least'} {low:g}, got {v!r}")
    return v


@dataclass(frozen=True)
class Darendeli:
    """Darendeli (2001) curves of fine-grained soils and sands.

    Parameters
    ----------
    pi : float
        Plasticity index, percent (0 for a clean sand).
    ocr : float
        Over-consolidation ratio, above 0.
    k0 : float
        Coefficient of earth pressure at rest (mean stress = vertical
        effective stress x (1 + 2 k0) / 3).
    frequency : float
        Loading frequency, Hz (above 0.0325 Hz).
    cycles : float
        Number of loading cycles, at least 1.
    """

    pi: float = 0.0
    ocr: float = 1.0
    k0: float = 0.5
    frequency: float = 1.0
    cycles: float = 10.0

    def __post_init__(self) -> None:
        _finite("pi", self.pi, 0.0, strict=False)
        _finite("ocr", self.ocr, 0.0, strict=True)
        _finite("k0", self.k0, 0.0, strict=True)
        _finite("frequency", self.frequency, 0.0, strict=True)
        _finite("cycles", self.cycles, 1.0, strict=False)

    def _core(self) -> tuple:
        return ("darendeli", float(self.pi), float(self.ocr), float(self.k0), float(self.frequency),
                float(self.cycles))


@dataclass(frozen=True)
class Menq:
    """Menq (2003) curves of gravels.

    Parameters
    ----------
    cu : float
        Uniformity coefficient, above 0.
    d50 : float
        Mean grain size, mm, above 0.
    k0 : float
        Coefficient of earth pressure at rest.
    cycles : float
        Number of loading cycles, at least 1.
    """

    cu: float = 10.0
    d50: float = 5.0
    k0: float = 0.5
    cycles: float = 10.0

    def __post_init__(self) -> None:
        _finite("cu", self.cu, 0.0, strict=True)
        _finite("d50", self.d50, 0.0, strict=True)
        _finite("k0", self.k0, 0.0, strict=True)
        _finite("cycles", self.cycles, 1.0, strict=False)

    def _core(self) -> tuple:
        return ("menq", float(self.cu), float(self.d50), float(self.k0), float(self.cycles))


class CurveTable:
    """A user table of G/Gmax and damping against shear strain.

    Values are interpolated linearly in log-strain; outside the table the
    end rows are used and the result warns.

    Parameters
    ----------
    strain : array_like
        Shear strain, a ratio (not percent), above 0 and rising.
    g_ratio : array_like
        G/Gmax at each strain, in (0, 1].
    damping : array_like
        Damping ratio at each strain (0.05 = 5 %), in [0, 1).
    """

    def __init__(self, strain: Any, g_ratio: Any, damping: Any) -> None:
        s = _checks.float_array("strain", strain)
        g = _checks.float_array("g_ratio", g_ratio)
        d = _checks.float_array("damping", damping)
        if not (s.size == g.size == d.size) or s.size == 0:
            raise ValueError(f"strain, g_ratio and damping must have the same number of rows (at least 1), "
                             f"got {s.size}, {g.size} and {d.size}")
        _checks.first_bad("strain", s, s > 0.0, "must be above 0 (a ratio)")
        if s.size > 1:
            _checks.first_bad("strain", s[1:], np.diff(s) > 0.0, "must exceed the row before")
        _checks.first_bad("g_ratio", g, (g > 0.0) & (g <= 1.0), "must lie in (0, 1]")
        _checks.first_bad("damping", d, (d >= 0.0) & (d < 1.0), "must lie in [0, 1)")
        for a in (s, g, d):
            a.setflags(write=False)
        self.strain, self.g_ratio, self.damping = s, g, d

    def _core(self) -> tuple:
        return ("table", self.strain, self.g_ratio, self.damping)

    def __repr__(self) -> str:
        return f"CurveTable({self.strain.size} rows, strain {self.strain[0]:g} to {self.strain[-1]:g})"


def _curve_core(c: Any, i: int) -> tuple:
    if c is None:
        return ("linear",)
    if isinstance(c, (Darendeli, Menq, CurveTable)):
        return c._core()
    raise TypeError(f"curves[{i}] must be velmar.Darendeli, velmar.Menq, velmar.CurveTable or None, "
                    f"got {type(c).__name__}")


def curve_values(curve: Any, strain: Any, mean_stress: float = 100.0) -> tuple:
    """G/Gmax and damping ratio of a curve at the given strains.

    Parameters
    ----------
    curve : Darendeli, Menq or CurveTable
    strain : array_like
        Shear strain, ratio, 0 or more.
    mean_stress : float, optional
        Mean effective stress, kPa, above 0 (used by the models).

    Returns
    -------
    (ndarray, ndarray)
        G/Gmax and damping ratio, the shape of `strain`.
    """
    s = np.asarray(strain, dtype=np.float64)
    flat = _checks.float_array("strain", s.reshape(-1))
    _checks.first_bad("strain", flat, flat >= 0.0, "must be 0 or more")
    sm = _finite("mean_stress", mean_stress, 0.0, strict=True)
    g, d = _velmar.evaluate_curve(_curve_core(curve, 0), flat, sm)
    return g.reshape(s.shape), d.reshape(s.shape)


@dataclass
class EquivalentLinearResult:
    """The result of an equivalent-linear analysis.

    Attributes
    ----------
    converged : bool
        Whether the largest relative change of G and D fell below the
        tolerance.
    iterations : int
        Passes made (each one a response of the whole profile).
    max_strain : ndarray
        Peak shear strain of the last pass in every given layer, ratio.
    g_ratio, damping : ndarray
        Strain-compatible G/Gmax and damping ratio of every given layer (the
        ones of `profile`; thickness-weighted over sublayers).
    mean_stress : ndarray
        Mean effective stress at every layer's middle, kPa.
    change : ndarray
        Largest relative change of G or D in each pass.
    strain_history : ndarray
        Peak strain of every layer in every pass, shape (iterations, layers).
    sublayers : ndarray
        Sublayers of every given layer (1 without sublayering).
    profile : Profile
        The strain-compatible profile (with the sublayers, if any); its
        `modulus` is the analysis' law, so `propagate` uses it by default.
    depth : ndarray
        Depth of the top of every given layer and of the half-space, m.
    warnings : list of str
        Non-convergence and curve tables left at their ends.
    """

    converged: bool
    iterations: int
    max_strain: np.ndarray
    g_ratio: np.ndarray
    damping: np.ndarray
    mean_stress: np.ndarray
    change: np.ndarray
    strain_history: np.ndarray
    sublayers: np.ndarray
    profile: Profile
    depth: np.ndarray
    warnings: List[str] = field(default_factory=list)

    def __repr__(self) -> str:
        state = "converged" if self.converged else "NOT converged"
        return (f"EquivalentLinearResult({state} in {self.iterations} passes, {self.max_strain.size} layers, "
                f"largest peak strain {self.max_strain.max():.3g}, smallest G/Gmax {self.g_ratio.min():.3g}, "
                f"largest damping {self.damping.max():.3g}, modulus {self.profile.modulus})")


def equivalent_linear(rec: Record, p: Profile, curves: Sequence[Any], water_table: Optional[float] = None,
                      strain_ratio: float = 0.65, tolerance: float = 0.01, max_iterations: int = 15,
                      modulus: Optional[str] = None, input: str = "outcrop", scale: float = 1.0,
                      magnitude: Optional[float] = None, input_depth: float = 0.0, angle: float = 0.0,
                      strain_limit: float = 0.1, max_frequency: Optional[float] = None,
                      wavelength_fraction: float = 0.2) -> EquivalentLinearResult:
    """Strain-compatible shear moduli and damping of an SH site response.

    Each pass takes the shear strain history at the middle of every layer
    (its strain transfer function times the record's spectrum), its peak,
    the effective strain `strain_ratio` x peak, and new G/Gmax and damping
    from the layer's curve at its mean effective stress, until the largest
    relative change of G and of D is below `tolerance`. The loop runs in
    C++ without the GIL.

    Parameters
    ----------
    rec : Record
        The input acceleration.
    p : Profile
        The low-strain profile (vs gives Gmax = density vs^2).
    curves : sequence
        One per layer above the half-space: ``Darendeli``, ``Menq``,
        ``CurveTable`` or None (a linear layer keeping the profile's damping).
        A model curve gives the layer's small-strain damping too.
    water_table : float, optional
        Depth of the water table, m (None: dry). Below it the water pressure
        (9.81 kN/m3) is taken off the vertical stress.
    strain_ratio : float, optional
        Effective over peak strain, in (0, 1].
    tolerance : float, optional
        Largest relative change of G and D for convergence, above 0.
    max_iterations : int, optional
        Passes at most, 1 or more.
    modulus : {"velmar", "seed", "kramer", "dormieux"}, optional
        The complex-modulus law; None takes the profile's, else "velmar".
    input : {"outcrop", "within", "incident"}, optional
        Where the record was observed ("within": at `input_depth`).
    scale : float, optional
        Multiplies the record.
    magnitude : float, optional
        Earthquake magnitude; when given the strain ratio is (M - 1) / 10.
    input_depth : float, optional
        Depth of a "within" record, m.
    angle : float, optional
        Incidence of the SH wave in the half-space, degrees from vertical.
    strain_limit : float, optional
        Peak strain (ratio) beyond which, in two successive passes, the
        analysis stops with RuntimeError.
    max_frequency : float, optional
        Turns sublayering on: every layer is cut so that no sublayer is
        thicker than `wavelength_fraction` x Vs / `max_frequency` (Hz) with
        the current Vs. Results stay per given layer.
    wavelength_fraction : float, optional
        In (0, 1]; 0.2 by default.

    Returns
    -------
    EquivalentLinearResult

    Raises
    ------
    ValueError
        A bad argument, a curve count other than the layer count, a curve
        outside its allowed values.
    RuntimeError
        Strains ran away (beyond `strain_limit` in two successive passes).

    Warns
    -----
    RuntimeWarning
        When the iteration did not converge, or a curve table was read
        outside its strains.
    """
    if not isinstance(rec, Record):
        raise TypeError(f"rec must be a velmar.Record, got {type(rec).__name__}")
    if not isinstance(p, Profile):
        raise TypeError(f"p must be a velmar.Profile, got {type(p).__name__}")
    cl = list(curves)
    if len(cl) != p.layers:
        raise ValueError(f"curves must have one entry per layer above the half-space ({p.layers}), got {len(cl)}")
    core_curves = [_curve_core(c, i) for i, c in enumerate(cl)]
    law = _checks.optional_choice("modulus", modulus, MODULUS_LAWS) or p.modulus or "velmar"
    src = _checks.choice("input", input, EQL_INPUTS)
    wt = None if water_table is None else _checks.non_negative("water_table", water_table)
    if magnitude is not None:
        mag = _checks.real("magnitude", magnitude)
        if not 1.0 < mag <= 11.0:
            raise ValueError(f"magnitude must lie in (1, 11], got {mag!r}")
    else:
        mag = None
    r = _checks.real("strain_ratio", strain_ratio)
    if not 0.0 < r <= 1.0:
        raise ValueError(f"strain_ratio must lie in (0, 1], got {r!r}")
    tol = _finite("tolerance", tolerance, 0.0, strict=True)
    if isinstance(max_iterations, bool) or int(max_iterations) != max_iterations or max_iterations < 1:
        raise ValueError(f"max_iterations must be an integer of at least 1, got {max_iterations!r}")
    limit = _finite("strain_limit", strain_limit, 0.0, strict=True)
    fmax = None if max_frequency is None else _finite("max_frequency", max_frequency, 0.0, strict=True)
    frac = _checks.real("wavelength_fraction", wavelength_fraction)
    if not 0.0 < frac <= 1.0:
        raise ValueError(f"wavelength_fraction must lie in (0, 1], got {frac!r}")
    accel, dt, units = rec._core_args()
    d = _velmar.equivalent_linear(accel, dt, units, p._core, core_curves, wt, r, mag, tol, int(max_iterations),
                                  limit, law, src, _checks.non_negative("input_depth", input_depth),
                                  _checks.angle("angle", angle), _checks.real("scale", scale), fmax, frac)
    for w in d["warnings"]:
        warnings.warn(w, RuntimeWarning, stacklevel=2)
    n = p.layers
    return EquivalentLinearResult(
        converged=bool(d["converged"]), iterations=int(d["iterations"]), max_strain=d["max_strain"],
        g_ratio=d["g_ratio"], damping=d["damping"], mean_stress=d["mean_stress"], change=d["change"],
        strain_history=d["strain_history"].reshape(-1, n), sublayers=np.asarray(d["sublayers"], dtype=np.int64),
        profile=Profile._from_core(d["profile"], d["law"]), depth=np.array(p.depth),
        warnings=list(d["warnings"]))
