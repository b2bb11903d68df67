"""Site indices, kappa0, and quarter-wavelength amplification with its inversion."""

from __future__ import annotations

from typing import Any, NamedTuple, Optional, Tuple, Union

import numpy as np

from . import _checks
from . import _velmar
from ._profile import Profile

#: Building codes known to :meth:`Profile.site_class`.
SITE_CODES = ("asce7-16", "asce7-22", "ec8")


def _profile(p: Any, name: str = "p") -> Profile:
    if not isinstance(p, Profile):
        raise ValueError(f"{name} must be a velmar.Profile, got {type(p).__name__}")
    return p


class SiteClass(str):
    """A site class label (compares equal to ``"C"``, ``"BC"``, ...) with its grounds.

    Attributes
    ----------
    code : str
        The building code: ``"asce7-16"``, ``"asce7-22"`` or ``"ec8"``.
    vs30 : float
        The profile's Vs30, m/s.
    basis : str
        The rule that gave the class, with its bounds.
    not_checked : str
        The code's criteria that a Vs profile cannot tell (soft-clay
        thickness, liquefiable soils, ...): check them with soil data.
    """

    code: str
    vs30: float
    basis: str
    not_checked: str

    def __new__(cls, label: str, code: str, vs30: float, basis: str, not_checked: str) -> "SiteClass":
        s = super().__new__(cls, label)
        s.code, s.vs30, s.basis, s.not_checked = code, vs30, basis, not_checked
        return s

    def __repr__(self) -> str:
        return f"SiteClass({str(self)!r}, code={self.code!r}, vs30={self.vs30:.6g}, basis={self.basis!r})"

    def __reduce__(self):
        return (SiteClass, (str(self), self.code, self.vs30, self.basis, self.not_checked))


class FundamentalFrequency(NamedTuple):
    """Two estimates of a profile's fundamental frequency, Hz.

    Attributes
    ----------
    sh_peak : float
        The first peak of the SH transfer function's modulus at the surface
        (vertical incidence, the profile's damping).
    quarter_wavelength : float
        1 / (4 sum h / Vs) over the layers (the travel-time estimate).
    """

    sh_peak: float
    quarter_wavelength: float


class QuarterWavelength(NamedTuple):
    """Quarter-wavelength amplification, one entry per frequency.

    Attributes
    ----------
    freqs : ndarray
        The frequencies, Hz.
    depth : ndarray
        The quarter-wavelength depth z(f), m: the vertical S travel time
        from the surface to it is 1 / (4 f).
    velocity : ndarray
        The time-averaged Vs over z(f), m/s.
    density : ndarray
        The depth-averaged density over z(f), t/m3.
    eta : ndarray
        The exponent used at each frequency.
    amplification : ndarray
        (rho_src Vs_src / (density velocity))^eta exp(-pi kappa f).
    """

    freqs: np.ndarray
    depth: np.ndarray
    velocity: np.ndarray
    density: np.ndarray
    eta: np.ndarray
    amplification: np.ndarray


def time_averaged_vs(p: Profile, depth: float) -> float:
    """Time-averaged Vs to `depth` m: depth / vertical S travel time; the
    half-space continues a shallower profile."""
    return float(_velmar.time_averaged_vs(_profile(p)._core, _checks.positive("depth", depth)))


def vs30(p: Profile) -> float:
    """Vs30, m/s: the time-averaged Vs over the top 30 m."""
    return time_averaged_vs(p, 30.0)


def depth_to(p: Profile, vs: float) -> Optional[float]:
    """Depth, m, of the top of the first entry whose Vs reaches `vs` m/s
    (Z1.0 with 1000, Z2.5 with 2500); None when not even the half-space does."""
    d = _velmar.depth_to_vs(_profile(p)._core, _checks.positive("vs", vs))
    return None if d is None else float(d)


def kappa0(p: Profile) -> float:
    """kappa0 of the layers, s: sum of 2 damping h / Vs (the half-space not counted)."""
    return float(_velmar.kappa0(_profile(p)._core))


def site_class(p: Profile, code: str = "asce7-16") -> SiteClass:
    """The site class of `p` by its Vs30 under `code` (see Profile.site_class)."""
    c = _checks.choice("code", code, SITE_CODES)
    return SiteClass(*_velmar.site_class(_profile(p)._core, c))


def fundamental_frequency(p: Profile, modulus: Optional[str] = None) -> FundamentalFrequency:
    """Both estimates of the fundamental frequency (see FundamentalFrequency)."""
    p = _profile(p)
    law = modulus if modulus is not None else (p.modulus or "velmar")
    if not isinstance(law, str):
        raise ValueError(f"modulus must be the name of a complex-modulus law, got {law!r}")
    return FundamentalFrequency(*_velmar.fundamental_frequency(p._core, law))


def adjust_damping(p: Profile, kappa0: float) -> Profile:
    """The profile with its layers' small-strain damping set so that its kappa0 is `kappa0`.

    The damping of layer i becomes c / Vs_i (a quality factor proportional to
    Vs, as in the published practice of kappa-consistent damping), with c
    chosen so that sum 2 damping_i h_i / Vs_i = kappa0. The half-space's
    damping, any P-wave damping and the complex-modulus law are kept.

    Parameters
    ----------
    p : Profile
    kappa0 : float
        Target kappa0, s, 0 or more (0 makes the layers elastic; an elastic
        profile has kappa0 = 0, so no lower target exists).

    Raises
    ------
    ValueError
        A target below 0 or not finite, a target above 0 for a bare
        half-space, or a target that would need a damping ratio of 1 or more.

    Examples
    --------
    >>> import velmar
    >>> p = velmar.Profile([20.0, 0.0], [1.9, 2.2], [250.0, 800.0], damping=[0.02, 0.0])
    >>> round(velmar.adjust_damping(p, kappa0=0.01).kappa0, 12)
    0.01
    """
    p = _profile(p)
    target = _checks.non_negative("kappa0", kappa0)
    return Profile._from_core(_velmar.adjust_damping(p._core, target), p.modulus)


def _eta_args(eta: Union[float, str]) -> Tuple[float, bool]:
    if isinstance(eta, str):
        if eta.lower() == "ba23":
            return 0.5, True
        raise ValueError(f"eta must be a number in (0, 2] or \"ba23\", got {eta!r}")
    x = _checks.real("eta", eta)
    if not 0.0 < x <= 2.0:
        raise ValueError(f"eta must be a number in (0, 2] or \"ba23\", got {x!r}")
    return x, False


def _freqs(freqs: Any) -> np.ndarray:
    f = _checks.float_array("freqs", freqs)
    if f.size == 0:
        raise ValueError("freqs must hold at least one frequency, got none")
    _checks.first_bad("freqs", f, f > 0.0, "must be above 0")
    return f


def quarter_wavelength(p: Profile, freqs: Any, eta: Union[float, str] = 0.5, kappa: float = 0.0,
                       source_vs: Optional[float] = None,
                       source_density: Optional[float] = None) -> QuarterWavelength:
    """Quarter-wavelength (square-root impedance) amplification of a profile.

    For each frequency f the depth z(f) where the vertical S travel time from
    the surface is 1 / (4 f) is found (exactly: the travel time is piecewise
    linear in depth; the half-space continues below the layers), with the
    time-averaged velocity V(f) = 4 f z(f) and the depth-averaged density
    rho(f) over it. The amplification is
    ``(source_density source_vs / (rho(f) V(f)))**eta * exp(-pi kappa f)``.

    Parameters
    ----------
    p : Profile
    freqs : array_like
        Frequencies, Hz, above 0.
    eta : float or "ba23", optional
        The exponent: 0.5 for the classic method, or ``"ba23"`` for the 2023
        frequency-dependent exponent, a function of log10(f / f_bot) with
        f_bot = 1 / (4 sum h / Vs) over the layers (0 a decade and more below
        f_bot, rising to about 0.56 above it).
    kappa : float, optional
        Kappa, s, 0 or more: the site term's exp(-pi kappa f).
    source_vs, source_density : float, optional
        The velocity (m/s) and density (t/m3) at the source; the half-space's
        by default.

    Returns
    -------
    QuarterWavelength
        freqs, depth, velocity, density, eta and amplification arrays.

    Examples
    --------
    >>> import velmar
    >>> p = velmar.Profile([30.0, 0.0], [2.0, 2.0], [200.0, 800.0])
    >>> q = velmar.quarter_wavelength(p, [1.0, 10.0])
    >>> [round(float(a), 3) for a in q.amplification]
    [1.348, 2.0]
    """
    p = _profile(p)
    f = _freqs(freqs)
    e, ba23 = _eta_args(eta)
    k = _checks.non_negative("kappa", kappa)
    sv = None if source_vs is None else _checks.positive("source_vs", source_vs)
    sd = None if source_density is None else _checks.positive("source_density", source_density)
    depth, vel, rho, etas, amp = _velmar.quarter_wavelength(p._core, f, e, ba23, k, sv, sd)
    return QuarterWavelength(f, depth, vel, rho, etas, amp)


def fit_quarter_wavelength(p: Profile, freqs: Any, target: Any, eta: Union[float, str] = 0.5,
                           kappa: float = 0.0, fit_kappa: bool = False,
                           source_vs: Optional[float] = None,
                           source_density: Optional[float] = None) -> Union[Profile, Tuple[Profile, float]]:
    """The profile whose quarter-wavelength amplification best matches `target`.

    The layers' Vs (and kappa with `fit_kappa`) are fitted, starting from `p`
    and `kappa`, by Levenberg-Marquardt least squares on the log
    amplifications, without regularisation: a target this function's own
    quarter_wavelength made is matched exactly, and its profile recovered
    (given frequencies that sample every layer). Thicknesses, densities,
    damping and the half-space (the source by default) are kept; a P
    velocity keeps its ratio to Vs.

    Parameters
    ----------
    p : Profile
        The starting profile.
    freqs : array_like
        Frequencies, Hz, above 0, at least as many as the unknowns.
    target : array_like
        The amplification to match at `freqs`, above 0.
    eta, kappa, source_vs, source_density
        As for quarter_wavelength (`kappa` is the start when fitted).
    fit_kappa : bool, optional
        Fit kappa too.

    Returns
    -------
    Profile, or (Profile, kappa) with `fit_kappa`

    Raises
    ------
    ValueError
        Bad frequencies or target (lengths that differ, a value not above 0),
        a profile without layers, fewer frequencies than unknowns.
    """
    p = _profile(p)
    f = _freqs(freqs)
    t = _checks.float_array("target", target)
    if t.size != f.size:
        raise ValueError(f"target must have one value per frequency ({f.size}), got {t.size}")
    _checks.first_bad("target", t, t > 0.0, "must be above 0")
    e, ba23 = _eta_args(eta)
    k = _checks.non_negative("kappa", kappa)
    if not isinstance(fit_kappa, (bool, np.bool_)):
        raise ValueError(f"fit_kappa must be True or False, got {fit_kappa!r}")
    sv = None if source_vs is None else _checks.positive("source_vs", source_vs)
    sd = None if source_density is None else _checks.positive("source_density", source_density)
    core, k_fit, _, _ = _velmar.fit_quarter_wavelength(p._core, f, t, e, ba23, k, sv, sd, bool(fit_kappa))
    fitted = Profile._from_core(core, p.modulus)
    return (fitted, float(k_fit)) if fit_kappa else fitted
