"""Randomised profiles about a base case (Toro 1995 layering and velocities)."""

from __future__ import annotations

from dataclasses import dataclass, fields
from typing import Any, List, Optional, Tuple, Union

import numpy as np

from . import _checks
from . import _velmar
from ._profile import Profile

#: Names of the generic site classes of the velocity model, for ``vs_model=``.
VS_MODELS = tuple(_velmar.velocity_model_names())


@dataclass(frozen=True)
class VelocityModel:
    """Parameters of the correlated ln Vs model (user values for ``vs_model=``).

    Parameters
    ----------
    sigma_ln : float
        Standard deviation of ln Vs, 0 to 2.
    rho_0 : float
        Correlation of adjacent layers at zero distance.
    delta : float
        Decay distance of the distance term, m.
    rho_200 : float
        Depth term of the correlation at and below 200 m.
    z_0 : float
        Depth offset of the depth term, m.
    b : float
        Exponent of the depth term.
    """

    sigma_ln: float
    rho_0: float
    delta: float
    rho_200: float
    z_0: float = 0.0
    b: float = 0.0

    @classmethod
    def named(cls, name: str) -> "VelocityModel":
        """The parameters of a generic site class (one of `VS_MODELS`)."""
        v = _velmar.velocity_model(_checks.choice("vs_model", name, VS_MODELS))
        return cls(**{f.name: getattr(v, f.name) for f in fields(cls)})


@dataclass(frozen=True)
class LayeringModel:
    """The rate of layer boundaries with depth, c3 (z + c1)^c2 per m (z in m).

    c1 and c3 must be above 0 and c2 finite and other than -1. A model that
    expects more than 10 000 boundaries above the half-space (the integral
    of the rate, `expected_boundaries`) is refused when it is used; with
    c2 < -1 the integral is bounded and the draws end there.
    """

    c1: float = 10.86
    c2: float = -0.89
    c3: float = 1.98

    def expected_boundaries(self, z: float) -> float:
        """Expected number of layer boundaries above depth `z` (m)."""
        return float(_velmar.expected_boundaries(_core(self, "LayeringModel"), _checks.real("z", z)))


VsModelLike = Union[None, str, VelocityModel, dict]
LayeringLike = Union[bool, None, LayeringModel, dict]


def _core(value: Any, kind: str) -> Any:
    """A model dataclass as the library's struct (each field converted,
    naming it, by the binding)."""
    return getattr(_velmar, kind)(**{f.name: getattr(value, f.name) for f in fields(value)})


def _model(name: str, value: Any, cls: type) -> Any:
    """A model given as its dataclass or as a dict of its fields, as the
    library's struct; None when `value` is neither."""
    if isinstance(value, dict):
        try:
            value = cls(**value)
        except TypeError as exc:
            raise ValueError(f"{name} as a dict takes the fields of {cls.__name__} "
                             f"({', '.join(f.name for f in fields(cls))}), got {value!r}") from exc
    if isinstance(value, cls):
        return _core(value, cls.__name__)
    return None


def velocity_spec(vs_model: VsModelLike) -> Any:
    """The velocity model as the library's VelocityModel, or None (no variation)."""
    if vs_model is None:
        return None
    if isinstance(vs_model, str):
        return _velmar.velocity_model(_checks.choice("vs_model", vs_model, VS_MODELS))
    spec = _model("vs_model", vs_model, VelocityModel)
    if spec is None:
        raise ValueError(f"vs_model must be a site-class name ({', '.join(VS_MODELS)}), a VelocityModel, "
                         f"a dict or None, got {vs_model!r}")
    return spec


def layering_spec(layering: LayeringLike) -> Any:
    """The layering model as the library's LayeringModel, or None (base layers kept)."""
    if layering is None or layering is False:
        return None
    if layering is True:
        return _velmar.LayeringModel()
    spec = _model("layering", layering, LayeringModel)
    if spec is None:
        raise ValueError(f"layering must be True, False, a LayeringModel or a dict, got {layering!r}")
    return spec


def randomize_options(vs_model: VsModelLike, layering: LayeringLike, truncation: Any, halfspace_sigma_ln: Any,
                      rho_gd: Any = None) -> Any:
    """The library's RandomizeOptions (`rho_gd` None: the curves are not varied)."""
    return _velmar.RandomizeOptions(
        velocity=velocity_spec(vs_model), layering=layering_spec(layering), truncation=truncation,
        halfspace_sigma_ln=halfspace_sigma_ln,
        curves=None if rho_gd is None else _velmar.CurveVariation(rho_gd=rho_gd))


def realisation_count(n: Any) -> int:
    """`n` as a count of at least 1 (the seed is converted by the library)."""
    if isinstance(n, bool) or not isinstance(n, (int, np.integer)) or n < 1:
        raise ValueError(f"n must be an integer of at least 1, got {n!r}")
    return int(n)


def randomize(profile: Profile, n: int = 100, seed: int = 1, vs_model: VsModelLike = "USGS C",
              layering: LayeringLike = True, *, truncation: float = 2.0, halfspace_sigma_ln: float = 0.0,
              first: int = 0) -> List[Profile]:
    """Randomised profiles about a base profile.

    Realisation ``i`` depends only on (`seed`, `first` + ``i``): the same
    call always gives the same profiles, and ``randomize(p, n=10, first=5)``
    gives the last ten of ``randomize(p, n=15)``.

    Parameters
    ----------
    profile : Profile
        The base case: its layers give the median Vs, density and damping at
        every depth; its half-space is kept.
    n : int, optional
        Number of profiles.
    seed : int, optional
        Seed, an integer in [0, 2**64).
    vs_model : str, VelocityModel, dict or None, optional
        The ln Vs model: a site class of `VS_MODELS` ("Geomatrix AB",
        "Geomatrix CD", "USGS AB", "USGS CD", "USGS A", "USGS B", "USGS C",
        "USGS D"), user parameters, or None to keep the base velocities.
    layering : bool, LayeringModel or dict, optional
        True draws layer boundaries from the depth-dependent rate (default
        coefficients); False keeps the base layers.
    truncation : float, optional
        Normal deviates are truncated at +-`truncation` standard deviations
        and scaled to keep unit variance (by 1.1368 at 2); 0 means none,
        else at least 0.1.
    halfspace_sigma_ln : float, optional
        Standard deviation of ln(depth of the half-space), 0 to 2; 0 keeps
        the base depth.
    first : int, optional
        Index of the first realisation.

    Returns
    -------
    list of Profile
        Each with the base profile's modulus law.

    Raises
    ------
    ValueError
        A bad count, seed, model name or parameter (checked by the library
        before anything is drawn), or a layering model expecting more than
        10 000 boundaries above a realisation's half-space.
    KeyboardInterrupt
        Ctrl-C stops the draws between realisations.
    """
    if not isinstance(profile, Profile):
        raise ValueError(f"profile must be a velmar.Profile, got {type(profile).__name__}")
    count = realisation_count(n)
    options = randomize_options(vs_model, layering, truncation, halfspace_sigma_ln)
    out = _velmar.realise(profile._core, options, seed, first, count)
    return [Profile._from_core(core, profile.modulus) for core, *_ in out]
