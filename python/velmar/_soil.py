"""Hysteretic soil models of nonlinear analysis, fitted to a curve.

A model is a backbone (MKZ or GQ/H) and an unload-reload rule (extended
Masing, or Masing with the MRDF reduction factor). Fitted to a
modulus-reduction and damping curve at a layer's mean effective stress, it
gives the stress history of any strain history (the loops) and its own
G/Gmax and damping curves.
"""

from __future__ import annotations

from typing import Any, Optional

import numpy as np

from . import _checks
from . import _velmar

#: Backbones and unload-reload rules by name.
SOIL_MODELS = ("gqh", "mkz")
UNLOAD_RULES = ("mrdf", "masing")


def _curve_core(soil: Any) -> Any:
    core = getattr(soil, "_core", None)
    if core is None or not callable(core):
        raise ValueError("soil must be a VELMAR curve (velmar.Darendeli, velmar.Menq, velmar.CurveTable, ...), "
                         f"got {type(soil).__name__}")
    return core()


class SoilModel:
    """A fitted soil model (from :func:`fit_soil_model`). Units: kPa, strain
    as a ratio, damping as a ratio.

    Attributes
    ----------
    model, unload : str
        ``"gqh"`` or ``"mkz"``; ``"mrdf"`` or ``"masing"``.
    gmax, mean_stress : float
        Small-strain shear modulus and the mean effective stress of the fit, kPa.
    gamma_r : float
        MKZ: reference strain at ``mean_stress`` (G/Gmax = 1/2 there, beta = 1);
        GQ/H: tau_max / gmax.
    gamma_ref, pressure_exponent : float
        MKZ: reference strain at 101.325 kPa and its exponent b,
        gamma_r = gamma_ref (sigma'_m / 101.325)^b (taken from the curve).
    s, beta : float
        MKZ curvature (beta stays 1).
    tau_max : float
        GQ/H shear strength, kPa (0 for MKZ); ``strength_source`` says how it
        was obtained: "given", "mohr_coulomb", "undrained_ratio", "curve_floor".
    theta : tuple of 5 floats
        GQ/H theta1 .. theta5 (theta4 stays 1).
    p1, p2, p3 : float
        MRDF reduction factor p1 - p2 (1 - G/Gmax)^p3 (1, 0, 1 for Masing).
    dmin : float
        Small-strain damping ratio (the curve's at the fit's smallest strain).
    fit_strain_range : (float, float)
        Strains of the fit: 1e-6 to 1e-2, or a table's own range within them.
    g_ratio_error, damping_error : float
        Largest |model - curve| of G/Gmax and of the damping ratio over 41
        log-spaced strains of the fit range; ``g_ratio_rms``, ``damping_rms``
        their root mean squares.
    """

    __slots__ = ("_native",)

    def __init__(self, native: Any) -> None:
        if not isinstance(native, _velmar.SoilModel):
            raise ValueError("SoilModel is made by velmar.fit_soil_model")
        self._native = native

    def __getstate__(self) -> tuple:
        return self._native.__getstate__()

    def __setstate__(self, state: tuple) -> None:
        native = _velmar.SoilModel.__new__(_velmar.SoilModel)
        native.__setstate__(state)
        self._native = native

    def __getattr__(self, name: str) -> Any:
        if name.startswith("_"):
            raise AttributeError(name)
        return getattr(self._native, name)

    @property
    def model(self) -> str:
        return self._native.kind

    @property
    def fit_strain_range(self) -> tuple:
        return (self._native.fit_strain_min, self._native.fit_strain_max)

    def __repr__(self) -> str:
        n = self._native
        if n.kind == "gqh":
            shape = f"tau_max={n.tau_max:.4g} kPa ({n.strength_source})"
        else:
            shape = f"gamma_r={n.gamma_r:.4g}, s={n.s:.4g}"
        return (f"SoilModel({n.kind}/{n.unload}, gmax={n.gmax:.6g} kPa, mean_stress={n.mean_stress:.4g} kPa, "
                f"{shape}, G/Gmax error {n.g_ratio_error:.3g}, damping error {n.damping_error:.3g})")

    def __eq__(self, other: Any) -> bool:
        return isinstance(other, SoilModel) and self.__getstate__() == other.__getstate__()

    def __hash__(self) -> int:
        kind, unload, source, values = self.__getstate__()
        return hash((kind, unload, source, tuple(values)))

    def stress(self, strain: Any) -> np.ndarray:
        """Shear stress history (kPa) of a spring driven from rest through the
        strain history `strain` (1-D, ratio): the backbone on first loading,
        extended Masing (MRDF-reduced) branches after each reversal; an inner
        loop closes on the one it left and the path resumes there."""
        s = _checks.float_array("strain", strain)
        return _velmar.soil_stress_history(self._native, s)

    def backbone(self, strain: Any) -> np.ndarray:
        """Backbone stress (kPa) at the given strains (any shape)."""
        s = np.asarray(_checks.real_array("strain", strain))
        return _velmar.soil_backbone(self._native, s.reshape(-1)).reshape(s.shape)

    def g_ratio(self, strain: Any) -> np.ndarray:
        """The model's G/Gmax (secant of the backbone) at the strains (any shape)."""
        s = np.asarray(_checks.real_array("strain", strain))
        return _velmar.soil_g_ratio(self._native, s.reshape(-1)).reshape(s.shape)

    def damping(self, strain: Any) -> np.ndarray:
        """The model's damping ratio at the strain amplitudes (any shape): the
        area of a symmetric loop of that amplitude / (4 pi x its strain
        energy), plus dmin."""
        s = np.asarray(_checks.real_array("strain", strain))
        return _velmar.soil_damping(self._native, s.reshape(-1)).reshape(s.shape)


def fit_soil_model(soil: Any, gmax: float, mean_stress: float, model: str = "gqh",
                   strength: Optional[float] = None, unload: str = "mrdf") -> SoilModel:
    """Fit a hysteretic model to a modulus-reduction and damping curve.

    The backbone is fitted to G/Gmax, then (``unload="mrdf"``) the reduction
    factor p1 - p2 (1 - G/Gmax)^p3 to the damping curve less its small-strain
    value, both by least squares over 41 log-spaced strains from 1e-6 to
    1e-2 (a table: its own strain range within these). The fit's largest and
    rms errors are attributes of the result.

    Parameters
    ----------
    soil : Darendeli, Menq, CurveTable or another VELMAR curve
    gmax : float
        Small-strain shear modulus, kPa (rho Vs^2 with rho in t/m3).
    mean_stress : float
        Mean effective stress of the layer, kPa.
    model : {"gqh", "mkz"}
        GQ/H (Groholski et al. 2016), reaching the shear strength at large
        strain; or MKZ (Matasovic and Vucetic 1993) with the curve's pressure
        dependence.
    strength : float or None
        GQ/H shear strength, kPa. None estimates it: Mohr-Coulomb with a
        friction angle of 33 degrees for a K0-consolidated element in simple
        shear (Hardin and Drnevich 1972) for granular curves (Menq, Darendeli
        with PI below 15 %, tables), su = 0.22 sigma'_v OCR^0.8 for Darendeli
        clays of PI 15 % or more; sigma'_v = 3 mean_stress / (1 + 2 K0) and
        never below the stress the curve itself gives at 0.3 % strain. Not
        for MKZ (it has no strength).
    unload : {"mrdf", "masing"}

    Raises
    ------
    ValueError
        A soil that is not a curve, a gmax, mean_stress or strength not a
        finite number above 0, a strength for MKZ, an unknown model or rule.
    """
    core = _curve_core(soil)
    g = _checks.positive("gmax", gmax)
    sm = _checks.positive("mean_stress", mean_stress)
    kind = _checks.choice("model", model, SOIL_MODELS)
    rule = _checks.choice("unload", unload, UNLOAD_RULES)
    st = None if strength is None else _checks.positive("strength", strength)
    if st is not None and kind == "mkz":
        raise ValueError(f"strength is a parameter of model 'gqh'; give None for 'mkz', got {st!r}")
    return SoilModel(_velmar.fit_soil_model(core, g, sm, kind, st, rule))


def estimate_strength(soil: Any, gmax: float, mean_stress: float) -> tuple:
    """The shear strength (kPa) :func:`fit_soil_model` assumes with
    ``strength=None``, and how it was obtained ("mohr_coulomb",
    "undrained_ratio" or "curve_floor")."""
    core = _curve_core(soil)
    return _velmar.estimate_strength(core, _checks.positive("gmax", gmax),
                                     _checks.positive("mean_stress", mean_stress))
