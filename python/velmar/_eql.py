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
from ._tables import Column, History, Tabular, record_inputs

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
    damping_min : float, optional
        Small-strain damping ratio in [0, 0.5) replacing the model's own
        (the curve's damping is then b (G/Gmax)^0.1 D_Masing + damping_min);
        None keeps the model's.
    """

    pi: float = 0.0
    ocr: float = 1.0
    k0: float = 0.5
    frequency: float = 1.0
    cycles: float = 10.0
    damping_min: Optional[float] = None

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
    damping_min : float, optional
        Small-strain damping ratio in [0, 0.5) replacing the model's own;
        None keeps the model's.
    """

    cu: float = 10.0
    d50: float = 5.0
    k0: float = 0.5
    cycles: float = 10.0
    damping_min: Optional[float] = None

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

    def __reduce__(self):
        # Rebuilt through the constructor: its checks and read-only rows hold.
        return (CurveTable, (np.array(self.strain), np.array(self.g_ratio), np.array(self.damping)))

    def __repr__(self) -> str:
        return f"CurveTable({self.strain.size} rows, strain {self.strain[0]:g} to {self.strain[-1]:g})"


def curve_values(curve: Any, strain: Any, mean_stress: float = 100.0) -> tuple:
    """G/Gmax and damping ratio of a curve at the given strains.

    Parameters
    ----------
    curve : Darendeli, Menq, CurveTable or a published set (velmar.curves())
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


def is_curve(value: Any) -> bool:
    """Whether `value` is one curve (a package curve class or a library
    curve), not a list of them."""
    if hasattr(value, "_core"):
        return True
    return isinstance(value, (_velmar.Darendeli, _velmar.Menq, _velmar.CurveTable, _velmar.LinearLayer))


def curves_per_layer(curves: Any, layers: int) -> Any:
    """One curve for every layer as a list of `layers` of it; a list as given
    (the library checks its length against the profile)."""
    return [curves] * layers if is_curve(curves) else curves


def damping_min_options(damping_min: Any) -> dict:
    """The library options of an analysis' `damping_min` (a ratio,
    "profile" or None)."""
    if damping_min is None:
        return {}
    if isinstance(damping_min, str):
        if damping_min.lower() != "profile":
            raise ValueError(f"damping_min must be a ratio in [0, 0.5), 'profile' or None, got {damping_min!r}")
        return {"damping_min_from_profile": True}
    return {"damping_min": damping_min}


@dataclass
class EquivalentLinearResult(Tabular):
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
    record : Record
        The input record, as given (unscaled).
    input_profile : Profile
        The low-strain profile given.
    curves : list
        The curves given, one per layer.
    input, scale, input_depth, angle : str, float, float, float
        Where the record was observed ("outcrop", "within", "incident"),
        its scale, the depth of a "within" record (m) and the SH wave's
        incidence (degrees), as the analysis used them.
    modulus : str
        The complex-modulus law the analysis used.
    strain_ratio : float
        Effective over peak strain used (from `strain_ratio`, a magnitude
        or 0.65).
    options : velmar._velmar.EquivalentLinearOptions
        Every option of the run as the library read it (picklable).

    frequencies : ndarray or None
        Frequency-dependent analyses only: the frequencies of the analysis'
        transform, Hz (k / (L dt), L the padded record length).
    g_ratio_f, damping_f : ndarray or None
        Frequency-dependent analyses only, shape (rows, frequencies): the
        G/Gmax and damping ratio the last pass used at every frequency. Rows
        are the layers of `profile` (the sublayers with sublayering).
        `g_ratio` and `damping` stay the values at the effective strain.
    strain_f : ndarray or None
        The strain spectrum (ratio) those properties were read at, same shape.
    vs_low : ndarray or None
        Low-strain Vs of every row (Gmax = density vs_low^2).
    classic_iterations : int
        Passes of the classic run (all passes when not frequency-dependent;
        `iterations` counts them with the frequency-dependent ones).
    frequency_dependent : str or None
        The variant ("ka02", "zr15", "ko") or None.
    Notes
    -----
    `motion` and `response_spectrum` give the motion through the
    strain-compatible profile with the record, scale and input convention
    above: nothing is re-stated. `to_dataframe` / `to_csv` give the layer
    table; pickling and ``copy.deepcopy`` keep every field.
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
    # What the analysis was given, so that its motions need nothing re-stated.
    record: Optional[Record] = None
    input_profile: Optional[Profile] = None
    curves: Optional[List[Any]] = None
    input: str = "outcrop"
    scale: float = 1.0
    input_depth: float = 0.0
    angle: float = 0.0
    modulus: Optional[str] = None
    strain_ratio: Optional[float] = None
    options: Any = None
    frequencies: Optional[np.ndarray] = None
    g_ratio_f: Optional[np.ndarray] = None
    damping_f: Optional[np.ndarray] = None
    strain_f: Optional[np.ndarray] = None
    vs_low: Optional[np.ndarray] = None
    classic_iterations: int = 0
    frequency_dependent: Optional[str] = None

    def motion(self, depth: float = 0.0, quantity: str = "accel") -> np.ndarray:
        """The history at `depth` through the strain-compatible profile.

        The analysis' record, scale, input convention (and input depth),
        angle and law are used, as `velmar.propagate` would with them.

        Parameters
        ----------
        depth : float, optional
            m, 0 or more (0: the surface).
        quantity : {"accel", "velocity", "displacement", "strain", "stress"}, optional
            Acceleration in the record's units, velocity in m/s,
            displacement in m (horizontal, SH), shear strain (ratio) or
            stress (kPa).

        Returns
        -------
        ndarray
            The history, the record's length and step.

        Raises
        ------
        ValueError
            A bad depth or quantity; a result that holds no record.
        """
        from ._response import propagate

        if self.g_ratio_f is not None:
            # Frequency-dependent properties: the column's moduli vary with
            # frequency, which no single profile holds.
            return _frequency_dependent_motion(self, self._input_record(), depth, quantity, input=self.input,
                                               input_depth=self.input_depth, angle=self.angle, scale=self.scale)
        return propagate(self._input_record(), self.profile, angle=self.angle, input=self.input, depth=depth,
                         quantity=quantity, scale=self.scale, input_depth=self.input_depth,
                         modulus=self._law())

    def history(self, depth: float = 0.0, quantity: str = "accel") -> History:
        """`motion` with its times and units, as a table (``to_dataframe``,
        ``to_csv``: columns ``time (s)`` and ``<quantity> (<units>)``)."""
        rec = self._input_record()
        values = self.motion(depth, quantity)
        q = quantity.lower() if isinstance(quantity, str) else quantity
        q = "accel" if q == "acceleration" else q
        units = rec.units if q == "accel" else History.UNITS.get(q, "")
        h = History(values, rec.dt, q, units, depth)
        h._inputs_ = record_inputs(rec)
        return h

    def response_spectrum(self, periods: Any = None, damping: float = 0.05, depth: float = 0.0) -> Any:
        """The response spectrum of the acceleration at `depth` (default
        the surface) through the strain-compatible profile.

        Returns
        -------
        ResponseSpectrum
            SD, PSV and PSA in the record's units (``.psa``), with
            ``to_dataframe()`` and ``to_csv()``.
        """
        from ._measures import spectra

        rec = self._input_record()
        rs = spectra(self.motion(depth, "accel"), rec.dt, periods, damping, units=rec.units)
        rs._inputs_ = record_inputs(rec)
        return rs

    def _input_record(self) -> Record:
        if self.record is None:
            raise ValueError("this result holds no input record (it was not made by equivalent_linear); "
                             "use velmar.propagate with its profile")
        return self.record

    def _law(self) -> Optional[str]:
        return self.modulus if self.modulus is not None else self.profile.modulus

    def _columns(self) -> List[Column]:
        """One row per given layer: depths, thickness, low-strain and
        strain-compatible Vs, G/Gmax, damping, peak (and effective) strain,
        mean effective stress, sublayers."""
        n = self.max_strain.size
        top = np.asarray(self.depth[:n], dtype=np.float64)
        bottom = np.asarray(self.depth[1:n + 1], dtype=np.float64)
        cols: List[Column] = [("layer", np.arange(1, n + 1)), ("depth top (m)", top), ("depth bottom (m)", bottom),
                              ("depth middle (m)", 0.5 * (top + bottom)), ("thickness (m)", bottom - top)]
        if self.input_profile is not None:
            vs = np.asarray(self.input_profile.vs[:n])
            cols += [("density (t/m3)", np.asarray(self.input_profile.density[:n])), ("vs low-strain (m/s)", vs),
                     ("vs strain-compatible (m/s)", vs * np.sqrt(self.g_ratio))]
        cols += [("G/Gmax", self.g_ratio), ("damping (ratio)", self.damping),
                 ("max strain (ratio)", self.max_strain), ("max strain (%)", 100.0 * self.max_strain)]
        if self.strain_ratio is not None:
            cols.append(("effective strain (%)", 100.0 * self.strain_ratio * self.max_strain))
        cols += [("mean effective stress (kPa)", self.mean_stress), ("sublayers", self.sublayers)]
        return cols

    def _inputs(self) -> list:
        return record_inputs(self.record)

    def _attrs(self) -> dict:
        return {"converged": bool(self.converged), "iterations": int(self.iterations), "modulus": self._law(),
                "input": self.input, "scale": self.scale}

    def __repr__(self) -> str:
        state = "converged" if self.converged else "NOT converged"
        return (f"EquivalentLinearResult({state} in {self.iterations} passes, {self.max_strain.size} layers, "
                f"largest peak strain {self.max_strain.max():.3g}, smallest G/Gmax {self.g_ratio.min():.3g}, "
                f"largest damping {self.damping.max():.3g}, modulus {self.profile.modulus})")


def equivalent_linear(rec: Record, p: Profile, curves: Any, water_table: Optional[float] = None,
                      strain_ratio: Optional[float] = None, tolerance: float = 0.01, max_iterations: int = 40,
                      modulus: Optional[str] = None, input: str = "outcrop", scale: float = 1.0,
                      magnitude: Optional[float] = None, input_depth: float = 0.0, angle: float = 0.0,
                      strain_limit: float = 0.05, max_frequency: Optional[float] = None,
                      wavelength_fraction: float = 0.2, damping_min: Any = None,
                      frequency_dependent: Optional[str] = None, ko_bandwidth: float = 30.0,
                      iteration: str = "accelerated") -> EquivalentLinearResult:
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
    curves : curve or sequence
        One curve for every layer, or one per layer above the half-space:
        ``Darendeli``, ``Menq``, ``CurveTable``, a published set
        (``velmar.curves()`` lists them) or None (a linear layer keeping the
        profile's damping). A curve gives the layer's small-strain damping
        too (see `damping_min`).
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
    modulus : {"dormieux", "velmar", "seed", "kramer"}, optional
        The complex-modulus law; None takes the profile's if it has one,
        else "dormieux" (the law other equivalent-linear programs use; the
        linear calls default to "velmar", the deck's law).
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
        Peak strain (ratio, above 0; 0.05 = 5 % by default) beyond which, in
        two successive passes, the analysis stops with RuntimeError. Above
        an effective strain of 1 % the result warns: the method no longer
        follows the soil there (use a nonlinear analysis).
    max_frequency : float, optional
        Turns sublayering on: every layer is cut so that no sublayer is
        thicker than `wavelength_fraction` x Vs / `max_frequency` (Hz) with
        the current Vs. Results stay per given layer. More than 20 000
        sublayers in all, or more than 64 million (sub)layer x frequency
        values of strain spectra (about 1 GB), are refused as too many.
    wavelength_fraction : float, optional
        In (0, 1]; 0.2 by default.
    damping_min : float or "profile", optional
        Small-strain damping of every layer with a curve: a ratio in
        [0, 0.5) shifts each curve's damping so that its value at zero strain
        is that ratio; "profile" takes each layer's damping in `p` instead.
        None (default) keeps the curves' own (a model's `damping_min`
        included).
    frequency_dependent : {None, "ka02", "zr15", "ko"}, optional
        After the classic iteration has converged (one strain per layer), go
        on with G/Gmax and damping read frequency by frequency (a complex
        modulus per layer and frequency), from the strain Fourier spectrum
        S(f) at each layer's middle and the effective strain gamma_eff =
        `strain_ratio` x peak strain (the same strain ratio as the classic
        run, 0.65 by default), until their largest relative change over
        layers and frequencies is below `tolerance`:

        - "ka02" (Kausel and Assimaki 2002): mean frequency fbar = int f S /
          int S, mean strain Sbar = int_0^fbar S df / fbar; a and b fitted by
          least squares to ln(S/Sbar) = -a f/fbar - b ln(f/fbar) above fbar;
          strain gamma_eff min(1, exp(-a f/fbar) / (f/fbar)^b);
        - "zr15" (Zalachoris and Rathje 2015): gamma_eff S(f) / max S;
        - "ko": S smoothed by Konno-Ohmachi (bandwidth `ko_bandwidth`),
          over its largest value, times gamma_eff, then made non-increasing
          with frequency.

        Curves are read through a table of 64 strains a decade (linear in
        log strain). The result then carries `frequencies`, `g_ratio_f`,
        `damping_f` and `strain_f`; its `profile` holds the properties at
        the effective strain only, so motions come from the result's motion
        method, not from `propagate` on the profile. The sublayers of the
        classic run are kept.
    ko_bandwidth : float, optional
        Konno-Ohmachi bandwidth b of "ko", in [1, 1000]; 30 by default.
    iteration : {"accelerated", "plain"}, optional
        "accelerated" (the default) starts from properties read at the
        strain PGV / Vs and mixes the log peak strains of the last three
        passes (Anderson mixing); it stops when the change is below
        `tolerance` and the change times q / (1 - q), q the ratio of the
        last two changes (the distance left to the fixed point), is too,
        or when the change is below a tenth of `tolerance`. "plain" reads
        the next properties at the last pass's strains, from the low-strain
        profile, and stops on the change alone (it stops farther from the
        fixed point when the passes contract slowly).

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
        curves=curves_per_layer(curves, p.layers), water_table=water_table, strain_ratio=strain_ratio,
        magnitude=magnitude, tolerance=tolerance, max_iterations=max_iterations, strain_limit=strain_limit,
        law=modulus if modulus is not None else (p.modulus or "dormieux"), input=input, input_depth=input_depth,
        angle=angle, scale=scale, max_frequency=max_frequency, wavelength_fraction=wavelength_fraction,
        iteration=iteration, frequency_dependent="none" if frequency_dependent is None else frequency_dependent,
        ko_bandwidth=ko_bandwidth, **damping_min_options(damping_min))
    d = _velmar.equivalent_linear(*rec._core_args(), p._core, options)
    for w in d["warnings"]:
        warnings.warn(w, RuntimeWarning, stacklevel=2)
    n = p.layers
    return EquivalentLinearResult(
        converged=bool(d["converged"]), iterations=int(d["iterations"]), max_strain=d["max_strain"],
        g_ratio=d["g_ratio"], damping=d["damping"], mean_stress=d["mean_stress"], change=d["change"],
        strain_history=d["strain_history"].reshape(-1, n), sublayers=np.asarray(d["sublayers"], dtype=np.int64),
        profile=Profile._from_core(d["profile"], d["law"]), depth=np.array(p.depth),
        warnings=list(d["warnings"]),
        record=rec, input_profile=p, curves=list(curves) if isinstance(curves, (list, tuple)) else curves,
        input=options.input, scale=float(options.scale), input_depth=float(options.input_depth),
        angle=float(options.angle), modulus=d["law"], strain_ratio=d.get("strain_ratio"), options=options,
        frequencies=d.get("frequencies"), g_ratio_f=d.get("g_ratio_f"),
        damping_f=d.get("damping_f"), strain_f=d.get("strain_f"), vs_low=d.get("vs_low"),
        classic_iterations=int(d["classic_iterations"]),
        frequency_dependent=None if d.get("frequencies") is None else str(frequency_dependent).lower())


def _frequency_dependent_motion(res: EquivalentLinearResult, rec: Record, depth: float, quantity: str,
                                input: str = "outcrop", input_depth: float = 0.0, angle: float = 0.0,
                                scale: float = 1.0) -> np.ndarray:
    """The motion at `depth` of a frequency-dependent result: `rec` (the
    record the analysis ran on, with its `input`, `input_depth`, `angle` and
    `scale`) filtered through the column whose G/Gmax and damping vary with
    frequency as in `res.g_ratio_f` and `res.damping_f`.

    `quantity`: "accel" (the record's units), "velocity" (m/s), "displacement"
    (m), "strain" (ratio) or "stress" (kPa). Raises ValueError for a result
    without frequency-dependent properties, a record of another length, or
    a bad depth or quantity.
    """
    if res.g_ratio_f is None:
        raise ValueError("the result holds no frequency-dependent properties: use propagate with res.profile")
    options = _velmar.PropagateOptions(depth=depth, quantity=quantity, input=input, input_depth=input_depth,
                                       scale=scale)
    options.setup = _velmar.WaveSetup(wave="SH", angle=angle, law=res.profile.modulus or "velmar")
    return _velmar.frequency_dependent_motion(*rec._core_args(), res.profile._core, res.profile.modulus or "velmar",
                                              res.vs_low, res.frequencies, res.g_ratio_f, res.damping_f, options)
