"""Random vibration theory (RVT): motions given as a Fourier amplitude spectrum and a duration.

A motion's expected peaks and response spectra come from the spectrum's moments
(m_k = 2 int (2 pi f)^k |A|^2 df, trapezoidal rule on the motion's frequencies)
and a peak factor. Peak methods: "V75" (Vanmarcke 1975, the default), "CLH56",
"D64", "DK85", "TM87", "BJ84", "LP99", "BT12", "BT15", "WR18"; BT12, BT15 and WR18
need magnitude and distance (km; the point-source distance for BT15 and WR18)
within their tables (BT12: M 4-8, BT15: M 2-8; 2-1262 km).
"""

from __future__ import annotations

from typing import Any, Optional

import numpy as np

from . import _checks
from . import _velmar
from ._record import units_name

#: The peak-factor methods, by name.
PEAK_METHODS = ("V75", "CLH56", "D64", "DK85", "TM87", "BJ84", "LP99", "BT12", "BT15", "WR18")
#: The regions of the point-source parameters and the Boore-Thompson tables.
REGIONS = ("wna", "cena")

_UNIT_M_S2 = {"g": 9.80665, "m/s2": 1.0, "cm/s2": 0.01}


def _name(what: str, value: Any, allowed) -> str:
    if not isinstance(value, str):
        raise ValueError(f"{what} must be one of {', '.join(allowed)}, got {value!r}")
    return value


def _site(value: Any):
    """None, or (mode frequencies (1 to 3, Hz), |TF| at the first) as plain floats."""
    if value is None:
        return None
    try:
        freqs, amplitude = value
        freqs = tuple(_checks.real(f"site frequency", f) for f in np.atleast_1d(np.asarray(freqs, dtype=object)))
    except (TypeError, ValueError) as exc:
        raise ValueError(f"site must be (mode frequencies in Hz, |TF| at the first mode), got {value!r}") from exc
    if not 1 <= len(freqs) <= 3:
        raise ValueError(f"site must give 1 to 3 mode frequencies, got {len(freqs)}")
    return freqs, _checks.real("site amplitude", amplitude)


def _damping(value: Any) -> float:
    z = _checks.real("damping", value)
    if not 0.0 < z < 1.0:
        raise ValueError(f"damping must be above 0 and below 1, got {z!r}")
    return z


class RvtMotion:
    """A motion for random vibration theory: a Fourier amplitude spectrum and a duration.

    ``RvtMotion(freqs, fas, duration, peak="V75", magnitude=None, distance=None, region="wna")``

    freqs: Hz, rising, > 0; fas: Fourier amplitudes in (units) x s, >= 0, one per
    frequency (g x s for g, the default units); duration: the ground-motion
    duration, s. peak: the peak-factor method (see PEAK_METHODS). magnitude and
    distance (km) are needed by BT12, BT15 and WR18. Response spectra and peak
    accelerations come out in the fas's units (per s).

    Keyword-only: ``units`` ("g", "m/s2" or "cm/s2"; only the velocity in m/s
    depends on it) and ``site`` ((mode frequencies, |TF| at the first): the
    site's resonance, for WR18's duration terms; set on surface motions).

    Bad input raises ValueError naming the value. Motions pickle.
    """

    def __init__(self, freqs: Any, fas: Any, duration: float, peak: str = "V75",
                 magnitude: Optional[float] = None, distance: Optional[float] = None,
                 region: str = "wna", *, units: str = "g", site: Any = None) -> None:
        f = _checks.float_array("freqs", freqs)
        a = _checks.float_array("fas", fas)
        if f.ndim != 1 or a.ndim != 1:
            raise ValueError(f"freqs and fas must be 1-D arrays, got shapes {f.shape} and {a.shape}")
        self._units = units_name("units", units)
        self._core = _velmar.RvtCore(f, a, duration, _name("peak", peak, PEAK_METHODS), magnitude, distance,
                                     _name("region", region, REGIONS), _site(site))

    @classmethod
    def _wrap(cls, core: Any, units: str = "g"):
        obj = cls.__new__(cls)
        obj._core = core
        obj._units = units
        return obj

    # -- attributes ---------------------------------------------------------
    @property
    def freqs(self) -> np.ndarray:
        """Frequencies, Hz (a copy)."""
        return self._core.freqs

    @property
    def fas(self) -> np.ndarray:
        """Fourier amplitudes, (units) x s (a copy)."""
        return self._core.fas

    @property
    def duration(self) -> float:
        """Ground-motion duration, s."""
        return self._core.duration

    @property
    def peak_method(self) -> str:
        """The peak-factor method's name ("V75", ...)."""
        return self._core.peak_method

    @property
    def magnitude(self) -> Optional[float]:
        return self._core.magnitude

    @property
    def distance(self) -> Optional[float]:
        """The distance the peak factor uses, km (None if not given)."""
        return self._core.distance

    @property
    def region(self) -> str:
        return self._core.region

    @property
    def units(self) -> str:
        return self._units

    @property
    def site(self):
        """(mode frequencies, |TF(f1)|) of the site resonance, or None."""
        return self._core.site

    # -- results ------------------------------------------------------------
    def response_spectrum(self, periods: Any, damping: float = 0.05) -> np.ndarray:
        """PSA at `periods` (s, > 0) for `damping` (ratio), in the fas's units per s.

        Each oscillator's peak uses the method's oscillator duration correction.
        """
        t = _checks.float_array("periods", np.atleast_1d(np.asarray(periods, dtype=float)))
        if t.ndim != 1 or t.size == 0:
            raise ValueError(f"periods must be a 1-D array of at least one period, got shape {t.shape}")
        return self._core.response_spectrum(t, _damping(damping))

    def peak(self, kind: str = "accel") -> float:
        """The expected peak: "accel" in the fas's units per s (PGA), or "velocity" in m/s (PGV)."""
        if kind in ("accel", "acceleration"):
            return self._core.peak_accel()
        if kind in ("velocity", "vel"):
            return self._core.peak_velocity() * _UNIT_M_S2[self._units]
        raise ValueError(f'kind must be "accel" or "velocity", got {kind!r}')

    def peak_of(self, amplitude: Any) -> float:
        """The expected peak of a series whose Fourier amplitude is `amplitude` on this motion's freqs
        (same duration and method, no oscillator correction)."""
        return self._core.peak_of(_checks.float_array("amplitude", amplitude))

    # -- pickling -----------------------------------------------------------
    def __getstate__(self) -> dict:
        state = {k: v for k, v in self.__dict__.items() if k != "_core"}
        c = self._core
        state["_core_args"] = (c.freqs, c.fas, c.duration, c.peak_method, c.magnitude, c.distance, c.region,
                               c.site)
        return state

    def __setstate__(self, state: dict) -> None:
        state = dict(state)
        args = state.pop("_core_args")
        self.__dict__.update(state)
        self._core = _velmar.RvtCore(*args)

    def __repr__(self) -> str:
        extra = ""
        if self.magnitude is not None:
            extra = f", magnitude={self.magnitude!r}, distance={self.distance!r}"
        return (f"{type(self).__name__}({self.freqs.size} frequencies {self.freqs[0]:.4g}-{self.freqs[-1]:.4g} Hz, "
                f"duration={self.duration:.4g} s, peak={self.peak_method!r}{extra}, region={self.region!r})")


class SourceTheoryMotion(RvtMotion):
    """The acceleration spectrum (g x s) of a single-corner (Brune) point source.

    ``SourceTheoryMotion(magnitude=6.5, distance=20.0, region="wna", depth=8.0,
    stress_drop=None, kappa=None, freqs=None)``

    Campbell's (2003) parameters for western ("wna") or central-eastern ("cena")
    North America: shear velocity 3.5 / 3.6 km/s, density 2.8 g/cm3, Q(f) 180 f^0.45 /
    680 f^0.36, kappa 0.04 / 0.006 s, stress drop 100 bar / 10^(3.45 - 0.2 max(M, 5))
    bar, their geometric spreading, crustal amplification (interpolated linearly in
    frequency) and duration 1/fc plus the path term. distance is epicentral (km);
    the hypocentral distance sqrt(distance^2 + depth^2) is the motion's distance for
    the peak factors. freqs default to 800 log-spaced values from 0.005 to 300 Hz.
    Keyword-only: peak (as RvtMotion), shear_velocity (km/s), density (g/cm3).
    """

    def __init__(self, magnitude: float = 6.5, distance: float = 20.0, region: str = "wna",
                 depth: float = 8.0, stress_drop: Optional[float] = None, kappa: Optional[float] = None,
                 freqs: Any = None, *, peak: str = "V75", shear_velocity: Optional[float] = None,
                 density: Optional[float] = None) -> None:
        f = None if freqs is None else _checks.float_array("freqs", freqs)
        core, info = _velmar.rvt_source_theory(magnitude, distance, _name("region", region, REGIONS), depth,
                                               stress_drop, kappa, shear_velocity, density,
                                               _name("peak", peak, PEAK_METHODS), f)
        self._core = core
        self._units = "g"
        self.epicentral_distance = float(distance)
        self.depth = float(depth)
        self.hypo_distance = info["hypo_distance"]
        self.corner_freq = info["corner_freq"]
        self.stress_drop = info["stress_drop"]
        self.kappa = info["kappa"]


class CompatibleRvtMotion(RvtMotion):
    """The motion whose RVT response spectrum matches a target.

    ``CompatibleRvtMotion(periods, psa, duration, damping=0.05, peak="V75",
    magnitude=None, distance=None, region="wna")``

    Starts from Gasparini and Vanmarcke's (1976) estimate, then multiplies the
    spectrum by target / computed PSA (interpolated in ln f) until the largest
    misfit is below `tolerance` (keyword-only, 0.005). `iterations` and `misfit`
    (the largest |computed / target - 1|) tell how it went; a fit whose misfit
    stays above `max_misfit` (0.05) after `max_iterations` (30) raises ValueError.
    The fas is in the units of psa x s. Keyword-only `freqs`: the motion's
    frequencies (default: log-spaced past both ends of the target's).
    """

    def __init__(self, periods: Any, psa: Any, duration: float, damping: float = 0.05, peak: str = "V75",
                 magnitude: Optional[float] = None, distance: Optional[float] = None, region: str = "wna", *,
                 tolerance: float = 0.005, max_misfit: float = 0.05, max_iterations: int = 30,
                 freqs: Any = None, units: str = "g") -> None:
        t = _checks.float_array("periods", periods)
        s = _checks.float_array("psa", psa)
        if t.ndim != 1 or s.ndim != 1:
            raise ValueError(f"periods and psa must be 1-D arrays, got shapes {t.shape} and {s.shape}")
        f = None if freqs is None else _checks.float_array("freqs", freqs)
        self._units = units_name("units", units)
        core, iterations, misfit = _velmar.rvt_compatible(
            t, s, duration, _damping(damping), _name("peak", peak, PEAK_METHODS), magnitude, distance,
            _name("region", region, REGIONS), tolerance, max_misfit, max_iterations, f)
        self._core = core
        self.iterations = int(iterations)
        self.misfit = float(misfit)
        if self.misfit > float(tolerance):
            import warnings
            warnings.warn(f"CompatibleRvtMotion: after {self.iterations} iterations the fit is {100 * self.misfit:.3g} % "
                          f"off the target at worst, above the tolerance {100 * float(tolerance):.3g} % "
                          f"(accepted up to max_misfit {100 * float(max_misfit):.3g} %)", RuntimeWarning, stacklevel=2)
        self.target_periods = t.copy()
        self.target_psa = s.copy()
        self.damping = float(damping)


def read_rvt_spectrum(path: Any, duration: float, peak: str = "V75") -> RvtMotion:
    """An RvtMotion from a text file of two columns, frequency (Hz) and Fourier amplitude.

    Blank lines and lines starting with '#' are skipped. OSError for a file that cannot
    be read or a line that is not two numbers (naming the line); ValueError for values
    a motion refuses.
    """
    import os
    return RvtMotion._wrap(_velmar.read_rvt_spectrum(os.fspath(path), duration, _name("peak", peak, PEAK_METHODS)))
