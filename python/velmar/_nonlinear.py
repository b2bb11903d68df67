"""Nonlinear site response in the time domain: a lumped-mass soil column."""

from __future__ import annotations

import numbers
import warnings
from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional, Sequence, Tuple

import numpy as np

from . import _velmar
from ._files import OutputFile
from ._profile import Profile
from ._record import Record
from ._soil import SoilModel

#: Quantities of `NonlinearResult.motion`, and their other spellings.
MOTION_QUANTITIES = {"accel": "accel", "acceleration": "accel", "velocity": "velocity", "vel": "velocity",
                     "displacement": "displacement", "disp": "displacement"}

#: Columns of `NonlinearResult.to_dataframe` / `to_csv`.
PEAK_COLUMNS = ("layer", "depth", "sublayers", "max_strain", "max_stress", "max_stress_ratio", "vertical_stress",
                "mean_stress", "gmax", "small_strain_damping", "top_depth", "max_accel_top")


@dataclass
class NonlinearResult:
    """The result of `nonlinear`: histories, peaks and the energy balance.

    Layers are indexed from 0 in arrays and in `loop` (messages count them
    from 1, as people do). Per-layer arrays hold the given layers down to the
    column's base (a ``"within"`` record's depth can end the column inside or
    above the profile's last layer; see `warnings`).

    Attributes
    ----------
    dt : float
        The record's step, s; every history has the record's `samples`.
    units : str
        The record's acceleration units (accelerations are in them, scaled).
    node_depth : ndarray
        Depth of every node of the column (surface first, base last), m.
    accel, velocity, displacement : ndarray, shape (nodes, samples)
        Total motion at every node: acceleration in `units`, velocity m/s,
        displacement m.
    layer_depth : ndarray
        Depth of every layer's middle, m (strains and stresses are there).
    sublayers : ndarray
        Sublayers of every layer (odd, each passing `max_frequency`).
    strain, stress : ndarray, shape (layers, samples)
        Shear strain (ratio) and stress (kPa, soil plus viscous) histories
        at every layer's middle.
    max_strain, max_stress, max_stress_ratio : ndarray
        Peaks per layer: strain (ratio), stress (kPa), stress over the
        vertical effective stress.
    vertical_stress, mean_stress, gmax, small_strain_damping : ndarray
        Per layer: sigma'_v and sigma'_m at the middle (kPa), rho Vs^2 (kPa),
        and the damping ratio of the viscous damping (the fit's dmin, or the
        profile's damping for a linear layer).
    models : list of SoilModel or None
        The fitted model of every layer (``velmar.SoilModel``: parameters,
        shear strength ``tau_max`` and ``strength_source`` for GQ/H, fit
        errors, its own curves and loops); None for a layer that stayed
        linear.
    accel_depth, max_accel : ndarray
        Peak acceleration (`units`) at every layer's top and at the base.
    site_frequency : float
        1 / (4 sum h/Vs) of the column, Hz.
    damping_frequencies : list of float
        Rayleigh's frequencies, or the band of the frequency-independent
        damping, Hz.
    steps, substeps, iterations, max_step_iterations : int
        Record steps, sub-steps per step, Newton iterations in all and most
        in one sub-step.
    energy : dict
        kJ per m2 at the record's end: input, kinetic, strain, viscous,
        hysteretic, radiation (into an elastic base) and balance_error (the
        largest imbalance over the record / the largest input).
    warnings : list of str
    """

    dt: float
    units: str
    node_depth: np.ndarray
    accel: np.ndarray
    velocity: np.ndarray
    displacement: np.ndarray
    layer_depth: np.ndarray
    sublayers: np.ndarray
    strain: np.ndarray
    stress: np.ndarray
    max_strain: np.ndarray
    max_stress: np.ndarray
    max_stress_ratio: np.ndarray
    vertical_stress: np.ndarray
    mean_stress: np.ndarray
    gmax: np.ndarray
    small_strain_damping: np.ndarray
    models: List[Optional[SoilModel]]
    accel_depth: np.ndarray
    max_accel: np.ndarray
    site_frequency: float
    damping_frequencies: List[float]
    steps: int
    substeps: int
    iterations: int
    max_step_iterations: int
    energy: Dict[str, float]
    warnings: List[str] = field(default_factory=list)

    @property
    def samples(self) -> int:
        """Samples of every history (the record's)."""
        return int(self.accel.shape[1])

    @property
    def time(self) -> np.ndarray:
        """Time of every sample, s."""
        return np.arange(self.samples) * self.dt

    @property
    def layers(self) -> int:
        """Layers reported."""
        return int(self.layer_depth.size)

    def motion(self, depth: float = 0.0, quantity: str = "accel") -> np.ndarray:
        """The total motion at `depth` (m, 0 to the column's base).

        Between nodes the histories are interpolated linearly in depth.

        Parameters
        ----------
        depth : float
        quantity : {"accel", "velocity", "displacement"}
            Acceleration in the record's units, velocity in m/s, displacement
            in m ("acceleration", "vel", "disp" are accepted too).

        Returns
        -------
        ndarray
            The record's length and step.
        """
        key = MOTION_QUANTITIES.get(quantity.lower()) if isinstance(quantity, str) else None
        if key is None:
            raise ValueError(f"quantity must be 'accel', 'velocity' or 'displacement', got {quantity!r}")
        z = _number("depth", depth)
        base = float(self.node_depth[-1])
        if not 0.0 <= z <= base:
            raise ValueError(f"depth must lie in [0, {base:g}] m (the column's surface to its base), got {z!r}")
        h = getattr(self, key)
        k = int(np.searchsorted(self.node_depth, z, side="right")) - 1
        k = min(max(k, 0), self.node_depth.size - 2)
        z0, z1 = self.node_depth[k], self.node_depth[k + 1]
        w = (z - z0) / (z1 - z0)
        if w == 0.0:
            return h[k].copy()
        return (1.0 - w) * h[k] + w * h[k + 1]

    def _layer(self, layer: Any) -> int:
        if isinstance(layer, bool) or not isinstance(layer, numbers.Integral):
            raise ValueError(f"layer must be an integer index from 0, got {layer!r}")
        i = int(layer)
        if not 0 <= i < self.layers:
            raise ValueError(f"layer {i} is not in the column: indices run from 0 to {self.layers - 1} "
                             f"(layers 1 to {self.layers} counted from 1)")
        return i

    def loop(self, layer: int) -> Tuple[np.ndarray, np.ndarray]:
        """(strain, stress) histories at the middle of `layer` (0-based).

        Strain as a ratio, stress in kPa: plotted against each other they
        are the layer's hysteresis loops.
        """
        i = self._layer(layer)
        return self.strain[i].copy(), self.stress[i].copy()

    def response_spectrum(self, periods: Any = None, depth: float = 0.0, damping: float = 0.05) -> np.ndarray:
        """Pseudo-spectral acceleration (the record's units) of the motion at
        `depth` (see `velmar.response_spectrum`; periods None: the default
        periods)."""
        return _velmar_response_spectrum(self.motion(depth, "accel"), self.dt, periods, damping)

    def to_dataframe(self):
        """The peak profiles as a pandas DataFrame, one row per layer (columns
        `PEAK_COLUMNS`: layer counted from 1, depth of the middle m, peak
        strain ratio, stress kPa, stress ratio, stresses kPa, gmax kPa,
        damping ratio, depth of the layer's top m and the peak acceleration
        there in the record's units)."""
        import pandas as pd

        return pd.DataFrame(dict(zip(PEAK_COLUMNS, self._peak_columns())))

    def _peak_columns(self) -> list:
        n = self.layers
        return [np.arange(1, n + 1), self.layer_depth, np.asarray(self.sublayers), self.max_strain, self.max_stress,
                self.max_stress_ratio, self.vertical_stress, self.mean_stress, self.gmax,
                self.small_strain_damping, self.accel_depth[:n], self.max_accel[:n]]

    def to_csv(self, path: Any) -> None:
        """Writes the peak profiles (as `to_dataframe`) as CSV, 17
        significant digits, replacing the file whole only once written."""
        out = path if isinstance(path, OutputFile) else OutputFile(path, what="the CSV file")
        table = np.column_stack([np.asarray(c, dtype=float) for c in self._peak_columns()])

        def writer(name: str) -> None:
            with open(name, "w", encoding="utf-8", newline="") as f:
                f.write(",".join(PEAK_COLUMNS) + "\n")
                np.savetxt(f, table, fmt=["%d", "%.17g", "%d"] + ["%.17g"] * (table.shape[1] - 3), delimiter=",")

        out.write(writer)

    def __repr__(self) -> str:
        return (f"NonlinearResult({self.layers} layers, {int(np.sum(self.sublayers))} sublayers, "
                f"{self.samples} samples at dt={self.dt:g} s, surface peak {self.max_accel[0]:.4g} {self.units}, "
                f"largest peak strain {self.max_strain.max():.3g}, energy balance error "
                f"{self.energy['balance_error']:.2g})")


def _velmar_response_spectrum(accel: np.ndarray, dt: float, periods: Any, damping: float) -> np.ndarray:
    from ._measures import response_spectrum

    return response_spectrum(accel, dt, periods, damping)


def _number(name: str, value: Any) -> float:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise ValueError(f"{name} must be a number, got {value!r}")
    v = float(value)
    if not np.isfinite(v):
        raise ValueError(f"{name} must be finite, got {value!r}")
    return v


def _name(name: str, value: Any) -> str:
    if not isinstance(value, str):
        raise ValueError(f"{name} must be a name (text), got {value!r}")
    return value.lower()


def _curve(name: str, c: Any) -> Any:
    if c is None:
        return None
    if hasattr(c, "_core"):
        return c._core()
    if isinstance(c, (_velmar.Darendeli, _velmar.Menq, _velmar.CurveTable)):
        return c
    raise ValueError(f"{name} must be a velmar.Darendeli, Menq or CurveTable (or None: a linear layer), "
                     f"got {type(c).__name__}")


def _curves(curves: Any) -> list:
    if curves is None:
        raise ValueError("curves must be one curve for all layers or one per layer (None in a list: a linear "
                         "layer), got None")
    if isinstance(curves, (list, tuple)):
        return [_curve(f"curves[{i}]", c) for i, c in enumerate(curves)]
    return [_curve("curves", curves)]


def _strength(strength: Any) -> list:
    if strength is None:
        return []
    if isinstance(strength, (list, tuple, np.ndarray)):
        return [None if s is None else _number(f"strength[{i}]", s) for i, s in enumerate(strength)]
    return [_number("strength", strength)]


def nonlinear(rec: Record, p: Profile, curves: Any, water_table: Optional[float] = None, model: str = "gqh",
              unload: str = "mrdf", strength: Any = None, viscous: str = "frequency_independent",
              base: str = "elastic", input: str = "outcrop", input_depth: float = 0.0, scale: float = 1.0,
              max_frequency: float = 25.0, *, rayleigh_frequencies: Optional[Sequence[float]] = None,
              strain_limit: float = 0.1, max_iterations: int = 30, linear: bool = False) -> NonlinearResult:
    """Nonlinear SH response of a soil column in the time domain.

    Every layer is cut into an odd number of sublayers that pass
    `max_frequency` (Vs / (4 h) >= max_frequency); each sublayer's mass is a
    mix of lumped and consistent (cancelling the column's dispersion and the
    integration's period elongation to second order) and each sublayer is a
    shear spring following the layer's soil
    model, fitted to its curve at the mean effective stress of its middle
    (``velmar.fit_soil_model``), plus small-strain viscous damping. The
    column is integrated with Newmark's average acceleration and Newton
    iterations, each record step cut into ceil(8 max_frequency dt)
    sub-steps, the record band-limited (DFT) interpolated between samples.
    The loop runs in C++ without the GIL.

    Parameters
    ----------
    rec : Record
    p : Profile
        Gmax = density x vs^2 (kPa with t/m3 and m/s).
    curves : curve or sequence of curves
        One ``Darendeli``, ``Menq`` or ``CurveTable`` for every layer, or one
        per layer (None in a list: a linear layer at Gmax with the profile's
        damping).
    water_table : float, optional
        Depth of the water table, m (None: dry).
    model : {"gqh", "mkz"}
        GQ/H (with a shear strength) or MKZ backbone.
    unload : {"mrdf", "masing"}
        Unload-reload rule: non-Masing reduction (loop damping follows the
        damping curve) or extended Masing.
    strength : None, float or sequence
        Shear strength, kPa (GQ/H only): one for every layer or one per layer
        (None entries estimated). None: estimated by ``fit_soil_model``
        (Mohr-Coulomb with a friction angle of 33 degrees for granular
        curves, 0.22 sigma'_v OCR^0.8 for Darendeli clays of PI >= 15 %, never
        below the curve's own stress at 0.3 % strain; see its documentation;
        each layer's value and source are in ``res.models``) -- on real sites the result depends on it more than
        on anything else: give measured strengths where there are some.
    viscous : {"frequency_independent", "rayleigh"}
        Small-strain damping: constant over [f_site / 2, f_hi] (relaxation
        elements in every spring; f_hi the record's Nyquist frequency, at
        least max_frequency and at most twice it), or Rayleigh at
        `rayleigh_frequencies` (default the site frequency and 5 times it).
    base : {"elastic", "rigid"}
        Elastic: a dashpot rho Vs of the half-space, loaded by the outcrop
        (or incident) record. Rigid: the record is the total motion at the
        base (``input="within"``).
    input : {"outcrop", "incident", "within"}
    input_depth : float
        Depth of a "within" record, m: the column ends there (0: at the
        half-space's top); a layer it cuts is shortened and layers below it
        are left out, each with a RuntimeWarning.
    scale : float
        Multiplies the record.
    max_frequency : float
        Hz, 1 to 200.
    rayleigh_frequencies : sequence of one or two floats, optional
        Hz (viscous "rayleigh" only).
    strain_limit : float
        A strain beyond it stops the analysis with RuntimeError (soil failure).
    max_iterations : int
        Newton iterations per sub-step at most.
    linear : bool
        Every layer elastic at Gmax with its small-strain damping (the
        weak-motion limit).

    Returns
    -------
    NonlinearResult

    Raises
    ------
    ValueError
        A bad argument (named with its value), a curve count other than 1
        or the layer count, a base and input that do not go together.
    RuntimeError
        The integration cannot go on: no convergence, a strain beyond
        `strain_limit` (the message gives the time, the layer and what to
        change).
    KeyboardInterrupt
        Ctrl-C stops the analysis.
    """
    if not isinstance(rec, Record):
        raise TypeError(f"rec must be a velmar.Record, got {type(rec).__name__}")
    if not isinstance(p, Profile):
        raise TypeError(f"p must be a velmar.Profile, got {type(p).__name__}")
    wt = None if water_table is None else _number("water_table", water_table)
    rf = [] if rayleigh_frequencies is None else [_number(f"rayleigh_frequencies[{i}]", f)
                                                  for i, f in enumerate(rayleigh_frequencies)]
    if isinstance(max_iterations, bool) or not isinstance(max_iterations, numbers.Integral):
        raise ValueError(f"max_iterations must be an integer, got {max_iterations!r}")
    if not isinstance(linear, (bool, np.bool_)):
        raise ValueError(f"linear must be True or False, got {linear!r}")
    d = _velmar.run_nonlinear(
        *rec._core_args(), p._core, _curves(curves), wt, _name("model", model), _name("unload", unload),
        _strength(strength), _name("viscous", viscous), rf, _name("base", base), _name("input", input),
        _number("input_depth", input_depth), _number("scale", scale), _number("max_frequency", max_frequency),
        _number("strain_limit", strain_limit), int(max_iterations), bool(linear))
    for w in d["warnings"]:
        warnings.warn(w, RuntimeWarning, stacklevel=2)
    return NonlinearResult(
        dt=float(d["dt"]), units=str(d["units"]), node_depth=d["node_depth"], accel=d["accel"],
        velocity=d["velocity"], displacement=d["displacement"], layer_depth=d["layer_depth"],
        sublayers=np.asarray(d["sublayers"], dtype=np.int64), strain=d["strain"], stress=d["stress"],
        max_strain=d["max_strain"], max_stress=d["max_stress"], max_stress_ratio=d["max_stress_ratio"],
        vertical_stress=d["vertical_stress"], mean_stress=d["mean_stress"], gmax=d["gmax"],
        small_strain_damping=d["small_strain_damping"], models=[None if m is None else SoilModel(m) for m in d["models"]], accel_depth=d["accel_depth"],
        max_accel=d["max_accel"], site_frequency=float(d["site_frequency"]),
        damping_frequencies=list(d["damping_frequencies"]), steps=int(d["steps"]), substeps=int(d["substeps"]),
        iterations=int(d["iterations"]), max_step_iterations=int(d["max_step_iterations"]),
        energy=dict(d["energy"]), warnings=list(d["warnings"]))
