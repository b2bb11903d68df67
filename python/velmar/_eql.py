"""Equivalent-linear (strain-compatible) SH site response."""

from __future__ import annotations

import warnings
from dataclasses import dataclass, field, fields
from typing import Any, List, Optional, Sequence

import numpy as np

from . import _checks
from . import _rvt_site
from . import _velmar
from ._profile import Profile
from ._record import Record

#: Where the record of an equivalent-linear analysis was observed.
EQL_INPUTS = ("outcrop", "within", "incident")


def _check_model(curve: Any) -> None:
    """The model as the library's curve: each field converted (ValueError
    naming the model and the field), then the library's check of their
    ranges."""
    _velmar.check_curve(curve._core())


@dataclass(frozen=True)
class Darendeli:
    """Darendeli (2001) curves of fine-grained soils and sands.

    Values outside the ranges below raise ValueError at construction. They
    hold the soils and tests the model was fitted to (clean sands and clays
    of plasticity index up to about 130 %, over-consolidation ratio up to
    about 8) with room to spare, and stop where its formulas leave sense.

    Parameters
    ----------
    pi : float
        Plasticity index, percent, 0 to 200 (0 for a clean sand).
    ocr : float
        Over-consolidation ratio, 1 to 50.
    k0 : float
        Coefficient of earth pressure at rest, above 0 and at most 5 (mean
        stress = vertical effective stress x (1 + 2 k0) / 3).
    frequency : float
        Loading frequency, Hz, 0.0326 to 100 (below 0.03252 Hz the model's
        small-strain damping is negative).
    cycles : float
        Number of loading cycles, 1 to 1000.
    """

    pi: float = 0.0
    ocr: float = 1.0
    k0: float = 0.5
    frequency: float = 1.0
    cycles: float = 10.0

    def __post_init__(self) -> None:
        _check_model(self)

    def _core(self) -> "_velmar.Darendeli":
        return _velmar.Darendeli(**{f.name: getattr(self, f.name) for f in fields(self)})


@dataclass(frozen=True)
class Menq:
    """Menq (2003) curves of sands and gravels.

    Values outside the ranges below raise ValueError at construction.

    Parameters
    ----------
    cu : float
        Uniformity coefficient D60/D10, 1 to 100.
    d50 : float
        Mean grain size, mm, 0.05 to 100 (fine sand to coarse gravel; the
        model's small-strain damping grows without bound as d50 goes to 0).
    k0 : float
        Coefficient of earth pressure at rest, above 0 and at most 5.
    cycles : float
        Number of loading cycles, 1 to 1000.
    """

    cu: float = 10.0
    d50: float = 5.0
    k0: float = 0.5
    cycles: float = 10.0

    def __post_init__(self) -> None:
        _check_model(self)

    def _core(self) -> "_velmar.Menq":
        return _velmar.Menq(**{f.name: getattr(self, f.name) for f in fields(self)})


def _percent_factor(name: str, units: Any) -> float:
    """1 for "ratio", 0.01 for "percent"."""
    factors = {"ratio": 1.0, "percent": 0.01}
    if not isinstance(units, str) or units.lower() not in factors:
        raise ValueError(f"{name} must be 'ratio' or 'percent', got {units!r}")
    return factors[units.lower()]


class CurveTable:
    """A user table of G/Gmax and damping against shear strain.

    Values are interpolated linearly in log-strain; outside the table the
    end rows are used and the result warns.

    Parameters
    ----------
    strain : array_like
        Shear strain, a ratio (not percent), above 0 and rising.
    g_ratio : array_like
        G/Gmax at each strain, in (0, 1], not rising with strain.
    damping : array_like
        Damping ratio at each strain (0.05 = 5 %), in [0, 1).
    strain_units, damping_units : {"ratio", "percent"}, optional
        "percent" for a table copied from a report in percent: the values
        are divided by 100 once, here (`strain` and `damping` then hold
        ratios). Default "ratio".

    Raises
    ------
    ValueError
        Rows of different lengths, strains not above 0 or not rising, G/Gmax
        outside (0, 1] or rising, damping outside [0, 1); and, as ratios, a
        strain above 0.2 or a damping above 0.5: the values look like
        percent (give ``strain_units="percent"`` / ``damping_units="percent"``).
    """

    def __init__(self, strain: Any, g_ratio: Any, damping: Any, *, strain_units: str = "ratio",
                 damping_units: str = "ratio") -> None:
        s = _checks.float_array("strain", strain) * _percent_factor("strain_units", strain_units)
        g = _checks.float_array("g_ratio", g_ratio)
        d = _checks.float_array("damping", damping) * _percent_factor("damping_units", damping_units)
        self._table = _velmar.CurveTable(strain=s, g_ratio=g, damping=d)
        _velmar.check_curve(self._table)
        for a in (s, g, d):
            a.setflags(write=False)
        self.strain, self.g_ratio, self.damping = s, g, d

    def _core(self) -> "_velmar.CurveTable":
        return self._table

    def __repr__(self) -> str:
        return f"CurveTable({self.strain.size} rows, strain {self.strain[0]:g} to {self.strain[-1]:g})"


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

    Raises
    ------
    ValueError
        A bad strain or mean stress, or a model read where it gives G/Gmax
        outside (0, 1] or damping outside [0, 1) (at a mean stress far from
        those it was fitted to).
    """
    s = np.asarray(strain, dtype=np.float64)
    flat = _checks.float_array("strain", s.reshape(-1))
    _checks.first_bad("strain", flat, flat >= 0.0, "must be 0 or more")
    sm = _checks.positive("mean_stress", mean_stress)
    g, d = _velmar.evaluate_curve(curve, flat, sm)
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
                      strain_ratio: Optional[float] = None, tolerance: float = 0.01, max_iterations: int = 15,
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
    rec : Record or RvtMotion
        The input acceleration (an RvtMotion: by random vibration theory, giving RvtMotions).
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
        Effective over peak strain, in (0, 1]; 0.65 unless `magnitude` is
        given (giving both is an error).
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
        Earthquake magnitude in (1, 11]; when given the strain ratio is
        (M - 1) / 10 (not with `strain_ratio`).
    input_depth : float, optional
        Depth of a "within" record, m (only with ``input="within"``).
    angle : float, optional
        Incidence of the SH wave in the half-space, degrees from vertical.
    strain_limit : float, optional
        Peak strain (ratio, above 0) beyond which, in two successive passes,
        the analysis stops with RuntimeError.
    max_frequency : float, optional
        Turns sublayering on: every layer is cut so that no sublayer is
        thicker than `wavelength_fraction` x Vs / `max_frequency` (Hz) with
        the current Vs. Results stay per given layer. More than 20 000
        sublayers in all, or more than 64 million (sub)layer x frequency
        values of strain spectra (about 1 GB), are refused as too many.
    wavelength_fraction : float, optional
        In (0, 1]; 0.2 by default.

    Returns
    -------
    EquivalentLinearResult

    Raises
    ------
    ValueError
        A bad argument, a curve count other than the layer count, a curve
        outside its allowed values (named by its layer and model), too many
        sublayers. Every argument is checked before the first pass.
    RuntimeError
        Strains ran away (beyond `strain_limit` in two successive passes).
    KeyboardInterrupt
        Ctrl-C stops the analysis between passes.

    Warns
    -----
    RuntimeWarning
        When the iteration did not converge, or a curve table was read
        outside its strains.
    """
    if _rvt_site.is_motion(rec):  # a Fourier spectrum and a duration: random vibration theory
        return _rvt_site.equivalent_linear(**locals())
    if not isinstance(rec, Record):
        raise TypeError(f"rec must be a velmar.Record, got {type(rec).__name__}")
    if not isinstance(p, Profile):
        raise TypeError(f"p must be a velmar.Profile, got {type(p).__name__}")
    # Every option goes to the library as it is given: the options object
    # converts each (naming it) and the analysis checks them all, with the
    # curves against the profile, before the first pass.
    options = _velmar.EquivalentLinearOptions(
        curves=curves, water_table=water_table, strain_ratio=strain_ratio, magnitude=magnitude,
        tolerance=tolerance, max_iterations=max_iterations, strain_limit=strain_limit,
        law=modulus if modulus is not None else (p.modulus or "velmar"), input=input, input_depth=input_depth,
        angle=angle, scale=scale, max_frequency=max_frequency, wavelength_fraction=wavelength_fraction)
    d = _velmar.equivalent_linear(*rec._core_args(), p._core, options)
    for w in d["warnings"]:
        warnings.warn(w, RuntimeWarning, stacklevel=2)
    n = p.layers
    return EquivalentLinearResult(
        converged=bool(d["converged"]), iterations=int(d["iterations"]), max_strain=d["max_strain"],
        g_ratio=d["g_ratio"], damping=d["damping"], mean_stress=d["mean_stress"], change=d["change"],
        strain_history=d["strain_history"].reshape(-1, n), sublayers=np.asarray(d["sublayers"], dtype=np.int64),
        profile=Profile._from_core(d["profile"], d["law"]), depth=np.array(p.depth),
        warnings=list(d["warnings"]))
