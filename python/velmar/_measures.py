"""Response spectra, Fourier spectra, intensity measures and peaks with depth."""

from __future__ import annotations

from typing import Any, Optional, Tuple

import numpy as np

from . import _checks
from . import _velmar
from ._profile import Profile
from ._record import Record, units_name
from ._tables import Tabular, record_inputs, spectrum_columns

#: Acceleration of gravity used for records in g, m/s2 (the library's).
STANDARD_GRAVITY = float(_velmar.STANDARD_GRAVITY)


def _record_args(accel: Any, dt: Optional[float], units: Optional[str]) -> Tuple[np.ndarray, float, str]:
    """The samples, step and units of a Record or of an array with its step."""
    if isinstance(accel, Record):
        a, step, u = accel._core_args()
        if dt is not None and _checks.positive("dt", dt) != step:
            raise ValueError(f"dt must be left out for a Record (its dt is {step!r}), got {dt!r}")
        if units is not None and units_name("units", units) != u:
            raise ValueError(f"units must be left out for a Record (its units are {u!r}), got {units!r}")
        return a, step, u
    a = _checks.float_array("accel", accel)
    if a.size == 0:
        raise ValueError("accel must hold at least one sample, got 0")
    if dt is None:
        raise ValueError("dt is required for an array of samples, got None")
    return a, _checks.positive("dt", dt), units_name("units", "g" if units is None else units)


def _damping(value: Any) -> float:
    z = _checks.real("damping", value)
    if not 0.0 <= z < 1.0:
        raise ValueError(f"damping must lie in [0, 1), got {z!r}")
    return z


def _periods(periods: Any, dt: float) -> np.ndarray:
    if periods is None:
        return default_periods()
    t = _checks.float_array("periods", np.atleast_1d(np.asarray(periods)))
    if t.size == 0:
        raise ValueError("periods must hold at least one period (or be left out for the default periods), got none")
    _checks.first_bad("periods", t, t > 0.0, "must be above 0 s")
    _checks.first_bad("periods", t, t >= 1e-9 * dt,
                      f"must be at least 1e-9 dt = {1e-9 * dt!r} s (an oscillator that stiff follows the ground: "
                      "its PSA is the PGA)")
    return t


def default_periods() -> np.ndarray:
    """The default periods of a response spectrum: 100 log-spaced from 0.01 s to 10 s.

    Returns
    -------
    ndarray of float64
        Periods, s.
    """
    return _velmar.default_periods()


class ResponseSpectrum(Tabular):
    """Peak responses of damped single-degree-of-freedom oscillators.

    ``to_dataframe()`` and ``to_csv(path)`` give the table: ``period (s)``,
    ``frequency (Hz)``, ``sd``, ``psv`` and ``psa`` (units in the names).

    Attributes
    ----------
    periods : ndarray
        Oscillator periods, s.
    damping : float
        Damping ratio (0.05 = 5 %).
    sd : ndarray
        Peak relative displacement, (record units) x s^2 (m for a record in
        m/s2; multiply by 9.80665 for a record in g).
    psv : ndarray
        Pseudo-spectral velocity 2 pi / T x SD, (record units) x s.
    psa : ndarray
        Pseudo-spectral acceleration (2 pi / T)^2 x SD, record units.
    units : str
        The record's units.
    """

    def __init__(self, periods: np.ndarray, damping: float, sd: np.ndarray, psv: np.ndarray, psa: np.ndarray,
                 units: str) -> None:
        self.periods = periods
        self.damping = damping
        self.sd = sd
        self.psv = psv
        self.psa = psa
        self.units = units

    def _columns(self) -> list:
        return spectrum_columns(self.periods, self.psa, self.units, sd=self.sd, psv=self.psv)

    def _attrs(self) -> dict:
        return {"damping": self.damping, "units": self.units}

    def __repr__(self) -> str:
        i = int(np.argmax(self.psa))
        return (f"velmar.ResponseSpectrum({self.periods.size} periods {self.periods.min():g}-{self.periods.max():g} s, "
                f"damping {self.damping:g}, peak PSA {self.psa[i]:.6g} {self.units} at {self.periods[i]:g} s)")


def spectra(accel: Any, dt: Optional[float] = None, periods: Any = None, damping: float = 0.05,
            free_vibration: float = 0.0, units: Optional[str] = None) -> ResponseSpectrum:
    """SD, PSV and PSA of an acceleration record.

    Each oscillator starts at rest and follows the record exactly for an
    acceleration linear between samples (a closed-form step, no
    sub-stepping); its peak is taken over the samples.

    Parameters
    ----------
    accel : array_like or Record
        Acceleration samples (or a Record, whose dt and units are used).
    dt : float
        Sample interval, s, above 0 (left out for a Record).
    periods : array_like, optional
        Oscillator periods, s, at least one, each at least 1e-9 `dt` (an
        oscillator that stiff follows the ground: its PSA is the PGA);
        default `default_periods()`.
    damping : float, optional
        Damping ratio in [0, 1); 0.05 by default.
    free_vibration : float, optional
        Seconds of zeros appended after the record (the oscillators ring on,
        a later peak is caught); 0 by default. At most the longer of the
        record's duration and ten times the longest period (and at most
        1e7 `dt` when that is longer than the record): a damped oscillator's
        free vibration is highest within half a period of the record's end.
    units : {"g", "m/s2", "cm/s2"}, optional
        Units of `accel` (labels only); "g" by default.

    Returns
    -------
    ResponseSpectrum

    Raises
    ------
    ValueError
        An empty record, a sample that is not finite, `dt` not above 0, no
        period or a period out of range, `damping` outside [0, 1), a
        negative or too long `free_vibration`, a result above the largest
        double; the message names the argument.
    KeyboardInterrupt
        Ctrl-C while the spectra are computed (the call stops within a
        fraction of a second).

    Notes
    -----
    Records of any size are handled: the oscillators run on the record
    scaled to a peak near 1 and the results are scaled back.
    """
    a, step, u = _record_args(accel, dt, units)
    t = _periods(periods, step)
    z = _damping(damping)
    fv = _checks.non_negative("free_vibration", free_vibration)
    sd, psv, psa = _velmar.response_spectrum(a, step, t, z, fv)
    rs = ResponseSpectrum(t, z, sd, psv, psa, u)
    rs._inputs_ = record_inputs(accel) if isinstance(accel, Record) else []
    return rs


def response_spectrum(accel: Any, dt: Optional[float] = None, periods: Any = None,
                      damping: float = 0.05) -> np.ndarray:
    """Pseudo-spectral acceleration of a record, in the record's units.

    The same as ``spectra(accel, dt, periods, damping).psa``; see `spectra`
    for SD and PSV and for the parameters.

    Returns
    -------
    ndarray of float64
        PSA at every period, in the units of `accel`.
    """
    return spectra(accel, dt, periods, damping).psa


def fourier_spectrum(accel: Any, dt: Optional[float] = None) -> Tuple[np.ndarray, np.ndarray]:
    """Fourier amplitude spectrum |X(f)| dt of a record, not padded.

    Parameters
    ----------
    accel : array_like or Record
        N samples.
    dt : float
        Sample interval, s (left out for a Record).

    Returns
    -------
    freqs : ndarray
        k / (N dt), k = 0 .. N // 2, Hz.
    amplitude : ndarray
        |sum_j a_j exp(2 pi i j k / N)| dt, (record units) x s.

    Raises
    ------
    ValueError
        An empty record, a sample that is not finite, `dt` not above 0, an
        amplitude or a frequency above the largest double (a record of any
        size is otherwise transformed without overflow).
    """
    a, step, _ = _record_args(accel, dt, None)
    return _velmar.fourier_amplitude(a, step)


def konno_ohmachi(freqs: Any, amplitude: Any, centres: Any = None, b: float = 40.0) -> np.ndarray:
    """Konno-Ohmachi smoothing of an amplitude spectrum.

    The value at a centre fc is sum W A / sum W over the spectrum's
    frequencies above 0, with W = [sin(b log10(f/fc)) / (b log10(f/fc))]^4.
    Terms where the window's bound (b log10(f/fc))^-4 is below 1e-6 are left
    out (within a factor 10^(31.6/b) of fc: 6.2 for b = 40); on a linear grid
    this moves results by at most ~1e-4 of the difference between the far
    amplitudes and the near ones.

    Parameters
    ----------
    freqs : array_like
        Frequencies of `amplitude`, Hz, rising, 0 or more.
    amplitude : array_like
        The spectrum (any units), same length as `freqs`.
    centres : array_like, optional
        Where the smoothed spectrum is wanted, Hz, above 0. Default: the
        spectrum's own frequencies (its zero-frequency value, where the
        window has no meaning, is kept as it is). For long spectra pass a
        log-spaced list: the work is proportional to its length.
    b : float, optional
        Bandwidth coefficient, above 0 (larger is narrower); 40 by default.

    Returns
    -------
    ndarray of float64
        The smoothed amplitude at every centre.

    Raises
    ------
    ValueError
        Lengths that differ, frequencies not rising, a centre not above 0 or
        with no frequency of the spectrum within its window, `b` not above 0
        or so large that b log10(f) is above the largest double. Amplitudes
        of any size are smoothed without overflow.
    """
    f = _checks.float_array("freqs", freqs)
    a = _checks.float_array("amplitude", amplitude)
    bb = _checks.positive("b", b)
    if centres is None:
        out = a.copy()
        pos = f > 0.0
        if np.any(pos):
            out[pos] = _velmar.konno_ohmachi(f, a, f[pos], bb)
        return out
    c = _checks.float_array("centres", np.atleast_1d(centres))
    _checks.first_bad("centres", c, c > 0.0, "must be above 0 Hz")
    return _velmar.konno_ohmachi(f, a, c, bb)


def spectral_ratio(surface: Any, input: Any, dt: Optional[float] = None, centres: Any = None,
                   b: float = 40.0) -> Tuple[np.ndarray, np.ndarray]:
    """Ratio of the smoothed Fourier spectra of two records (surface / input).

    Parameters
    ----------
    surface, input : array_like or Record
        Two records of the same length and step (the output and the input
        motion of a site, say).
    dt : float
        Sample interval, s (left out for Records).
    centres : array_like, optional
        Frequencies of the ratio, Hz; default 200 log-spaced from
        max(0.1 Hz, 1 / (N dt)) to half the sampling frequency.
    b : float, optional
        Konno-Ohmachi bandwidth coefficient, 40 by default.

    Returns
    -------
    centres : ndarray
        Hz.
    ratio : ndarray
        Smoothed |surface| / smoothed |input| (inf where the input's
        smoothed spectrum is 0).

    Raises
    ------
    ValueError
        As for `fourier_spectrum` and `konno_ohmachi`; records of different
        lengths or steps.
    """
    s, ds, _ = _record_args(surface, dt, None)
    i, di, _ = _record_args(input, dt, None)
    if s.size != i.size or ds != di:
        raise ValueError(f"surface and input must have the same length and dt, got {s.size} samples at {ds!r} s "
                         f"and {i.size} samples at {di!r} s")
    f, S = _velmar.fourier_amplitude(s, ds)
    _, I = _velmar.fourier_amplitude(i, di)
    if centres is None:
        if f.size < 2:
            raise ValueError(f"surface must hold at least 2 samples for a spectral ratio, got {s.size}")
        centres = np.geomspace(max(0.1, f[1]), f[-1], 200)
    c = _checks.float_array("centres", np.atleast_1d(centres))
    _checks.first_bad("centres", c, c > 0.0, "must be above 0 Hz")
    bb = _checks.positive("b", b)
    num = _velmar.konno_ohmachi(f, S, c, bb)
    den = _velmar.konno_ohmachi(f, I, c, bb)
    with np.errstate(divide="ignore", invalid="ignore"):
        return c, np.where(den > 0.0, num / np.where(den > 0.0, den, 1.0), np.inf)


def arias_intensity(accel: Any, dt: Optional[float] = None, units: Optional[str] = None) -> np.ndarray:
    """Cumulative Arias intensity pi / (2 g) int a^2 dt, m/s.

    Trapezoidal rule over the samples, 0 at the first sample; `a` in m/s2
    (a record in g or cm/s2 is converted with g = 9.80665 m/s2).

    Parameters
    ----------
    accel : array_like or Record
        Acceleration samples.
    dt : float
        Sample interval, s (left out for a Record).
    units : {"g", "m/s2", "cm/s2"}, optional
        Units of `accel`; "g" by default (a Record's own otherwise).

    Returns
    -------
    ndarray of float64
        The intensity reached at every sample, m/s.

    Raises
    ------
    ValueError
        An empty record, a sample that is not finite, `dt` not above 0, an
        unknown unit, an intensity above the largest double (a record above
        about 1e150 m/s2).
    """
    a, step, u = _record_args(accel, dt, units)
    return _velmar.arias_intensity(a, step, u)


def significant_duration(accel: Any, dt: Optional[float] = None, units: Optional[str] = None,
                         start: float = 0.05, end: float = 0.95) -> float:
    """Time between `start` and `end` of the final Arias intensity (D5-95), s.

    The instants are where the cumulative intensity first reaches each
    fraction, linear between samples; 0 for a record of zeros. Records of
    any size are handled (the fractions are formed on the record scaled to
    a peak near 1, so a record whose intensity underflows keeps its
    duration).

    Parameters
    ----------
    accel, dt, units
        As for `arias_intensity`.
    start, end : float, optional
        Fractions, 0 <= start < end <= 1; 0.05 and 0.95 by default.

    Returns
    -------
    float
        Duration, s.
    """
    a, step, u = _record_args(accel, dt, units)
    s = _checks.real("start", start)
    e = _checks.real("end", end)
    if not 0.0 <= s < e <= 1.0:
        raise ValueError(f"start and end must satisfy 0 <= start < end <= 1, got {s!r} and {e!r}")
    return _velmar.record_significant_duration(a, step, u, s, e)


def cav(accel: Any, dt: Optional[float] = None, units: Optional[str] = None) -> float:
    """Cumulative absolute velocity int |a| dt, m/s (trapezoidal rule).

    Parameters
    ----------
    accel, dt, units
        As for `arias_intensity`.

    Returns
    -------
    float
        m/s.
    """
    a, step, u = _record_args(accel, dt, units)
    return _velmar.cumulative_absolute_velocity(a, step, u)


class IntensityMeasures:
    """Scalar measures of a record.

    Attributes
    ----------
    pga : float
        Peak |a| over the samples, in `units`.
    pgv : float
        Peak |velocity|, m/s.
    pgd : float
        Peak |displacement|, m.
    arias : float
        Final Arias intensity, m/s.
    d5_95 : float
        Significant duration D5-95, s.
    cav : float
        Cumulative absolute velocity, m/s.
    units : str
        Units of `pga` (the record's).

    Notes
    -----
    Velocity and displacement are integrated in the frequency domain: the
    record is padded with zeros as ``propagate`` pads it (to 2**k or 3 * 2**k
    samples, at least twice its length) and its spectrum divided by -i w and -w^2 with the zero-frequency term
    dropped, so both histories have zero mean over that window (no baseline
    drift; a record ending with a permanent offset is not represented).
    """

    _FIELDS = (("pga", None), ("pgv", "m/s"), ("pgd", "m"), ("arias", "m/s"), ("d5_95", "s"), ("cav", "m/s"))

    def __init__(self, values: dict, units: str) -> None:
        for name, _ in self._FIELDS:
            setattr(self, name, float(values[name]))
        self.units = units

    def as_dict(self) -> dict:
        """The measures by name (floats)."""
        return {name: getattr(self, name) for name, _ in self._FIELDS}

    def __repr__(self) -> str:
        parts = [f"{n}={getattr(self, n):.6g} {u or self.units}" for n, u in self._FIELDS]
        return "velmar.IntensityMeasures(" + ", ".join(parts) + ")"


def intensity_measures(rec: Any, dt: Optional[float] = None, units: Optional[str] = None) -> IntensityMeasures:
    """PGA, PGV, PGD, Arias intensity, D5-95 and CAV of a record.

    Parameters
    ----------
    rec : Record or array_like
        The record (or its samples, with `dt` and `units`).

    Returns
    -------
    IntensityMeasures

    Raises
    ------
    ValueError
        As for `arias_intensity`: a measure above the largest double (the
        Arias intensity of a record above about 1e150 m/s2) is refused, not
        returned as infinity; `spectra`, `cav` and `fourier_spectrum` take
        such records.
    """
    a, step, u = _record_args(rec, dt, units)
    return IntensityMeasures(_velmar.intensity_measures(a, step, u), u)


class PeakProfile(Tabular):
    """Peaks with depth of a record propagated through a profile (SH).

    ``to_dataframe()`` and ``to_csv(path)`` give ``depth (m)``,
    ``accel (<units>)``, ``strain (ratio)``, ``strain (%)`` and ``stress (kPa)``.

    Attributes
    ----------
    depth : ndarray
        m: 0, the middle of the top layer, its base, ..., the top of the
        half-space.
    accel : ndarray
        Peak |acceleration|, in `units`.
    strain : ndarray
        Peak |shear strain|, ratio (at an interface, of the medium below).
    stress : ndarray
        Peak |shear stress|, kPa.
    units : str
    """

    def __init__(self, depth: np.ndarray, accel: np.ndarray, strain: np.ndarray, stress: np.ndarray,
                 units: str) -> None:
        self.depth, self.accel, self.strain, self.stress, self.units = depth, accel, strain, stress, units

    def _columns(self) -> list:
        return [("depth (m)", self.depth), (f"accel ({self.units})", self.accel), ("strain (ratio)", self.strain),
                ("strain (%)", 100.0 * np.asarray(self.strain)), ("stress (kPa)", self.stress)]

    def __repr__(self) -> str:
        return (f"velmar.PeakProfile({self.depth.size} depths to {self.depth[-1]:g} m, surface accel "
                f"{self.accel[0]:.6g} {self.units}, max strain {self.strain.max():.6g}, "
                f"max stress {self.stress.max():.6g} kPa)")


def peak_profile(rec: Record, profile: Profile, angle: float = 0.0, input: str = "outcrop",
                 input_depth: float = 0.0, scale: float = 1.0, modulus: Optional[str] = None) -> PeakProfile:
    """Peak acceleration, shear strain and shear stress with depth (SH wave).

    The record is propagated as `velmar.propagate` does (same padding, same
    input conventions) to the middle of every layer and every interface.

    Parameters
    ----------
    rec : Record
        The input motion.
    profile : Profile
    angle : float, optional
        Incidence angle of the SH wave in the half-space, degrees.
    input : {"incident", "outcrop", "within"}, optional
        Where the record was observed (see `propagate`).
    input_depth : float, optional
        Depth of a "within" record, m.
    scale : float, optional
        Multiplies the record.
    modulus : {"velmar", "seed", "kramer", "dormieux"}, optional
        Damping law; the profile's own by default.

    Returns
    -------
    PeakProfile

    Raises
    ------
    ValueError
        As for `propagate`; a peak above the largest double (`scale` times
        the record too large).
    """
    if not isinstance(rec, Record):
        raise TypeError(f"rec must be a velmar.Record, got {type(rec).__name__}")
    if not isinstance(profile, Profile):
        raise TypeError(f"profile must be a velmar.Profile, got {type(profile).__name__}")
    law = modulus if modulus is not None else (profile.modulus or "velmar")
    options = _velmar.PropagateOptions(setup=_velmar.WaveSetup(wave="SH", angle=angle, law=law), input=input,
                                       input_depth=input_depth, scale=scale)
    acc, dt, units = rec._core_args()
    depth, pa, strain, stress = _velmar.peak_profile(acc, dt, units, profile._core, options)
    return PeakProfile(depth, pa, strain, stress, units)
