"""The published modulus-reduction and damping curves, beside Darendeli and Menq.

Table curves (Vucetic and Dobry, Seed and Idriss, Idriss, EPRI) are read
from the library's catalogue and interpolated linearly in log-strain, as a
`CurveTable` is; outside the tabulated strains the end values are used (the
analysis warns). Closed forms (Zhang, Andrus and Juang; Kishida et al.;
Rollins et al.) are evaluated at each layer's mean effective stress, as
Darendeli's. Every class is a frozen value: it pickles, compares equal by
its parameters and is accepted wherever a curve is (`equivalent_linear`,
`simulate`, `curve_values`, the JSON analysis files under the "model" names
of `curves()`).

Curve variation (``simulate(..., vary_curves=True)``) moves every curve,
these included, by Darendeli's standard deviations of G/Gmax and damping
about the curve's own values at the layer's mean stress.
"""

from __future__ import annotations

from dataclasses import dataclass, fields
from typing import Any, List, NamedTuple, Optional, Tuple

import numpy as np

from . import _checks
from . import _velmar

_FOOT = 0.3048  # m


def _check(curve: Any) -> None:
    _velmar.check_curve(curve._core())


def _integer_choice(cls: str, name: str, value: Any, allowed: Tuple[int, ...]) -> int:
    """`value` as one of the published integers `allowed` (30 and 30.0 alike)."""
    x = _checks.real(f"{cls}.{name}", value)
    if x not in allowed:
        raise ValueError(f"{cls}.{name} must be one of the published values {', '.join(map(str, allowed))}, "
                         f"got {value!r}")
    return int(x)


class _Table:
    """Shared by the published table curves: the library curve by its name."""

    def _key(self) -> str:  # pragma: no cover - every subclass defines it
        raise NotImplementedError

    def _core(self) -> "_velmar.PublishedCurve":
        return _velmar.PublishedCurve(name=self._key())

    @property
    def title(self) -> str:
        """Authors, year and soil of the table."""
        return _CATALOGUE[self._key()][0]

    @property
    def source(self) -> str:
        """The publication the values come from."""
        return _CATALOGUE[self._key()][1]

    def table(self) -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
        """The published values: strain (ratio), G/Gmax and damping ratio at
        the tabulated strains."""
        t = _velmar.published_curve_table(self._key())
        return np.asarray(t.strain), np.asarray(t.g_ratio), np.asarray(t.damping)


@dataclass(frozen=True)
class VuceticDobry(_Table):
    """Vucetic and Dobry (1991) curves of clays and sands by plasticity index.

    Source: Vucetic, M. and Dobry, R. (1991). Effect of soil plasticity on
    cyclic response. Journal of Geotechnical Engineering 117(1): 89-107.
    Tabulated at strains 1e-6 to 1e-2 (ratio; 1e-4 to 1 %); beyond them the
    end values are used.

    Parameters
    ----------
    pi : int
        Plasticity index, percent: one of the published curves 0, 15, 30, 50,
        100, 200 (ValueError otherwise; there is no interpolation between them).
    """

    pi: int = 0

    def __post_init__(self) -> None:
        object.__setattr__(self, "pi", _integer_choice("VuceticDobry", "pi", self.pi, (0, 15, 30, 50, 100, 200)))

    def _key(self) -> str:
        return f"vucetic_dobry_1991_pi{self.pi}"


@dataclass(frozen=True)
class SeedIdriss(_Table):
    """Seed and Idriss (1970) curves of sands.

    Source: Seed, H. B. and Idriss, I. M. (1970). Soil moduli and damping
    factors for dynamic response analyses. Report EERC 70-10, University of
    California, Berkeley. Tabulated at strains 1e-6 to 1e-2 (ratio).

    Parameters
    ----------
    kind : {"mean", "upper"}
        "mean": the mean G/Gmax and damping of the sands gathered; "upper":
        the upper range of G/Gmax with the lower range of damping (the
        stiffer, less damped bound). The lower range of G/Gmax with the
        upper range of damping is not in the catalogue and is refused.
    """

    kind: str = "mean"

    def __post_init__(self) -> None:
        if isinstance(self.kind, str) and self.kind.lower() == "lower":
            raise ValueError("SeedIdriss.kind 'lower' (the lower range of G/Gmax with the upper range of damping) "
                             "is not in the catalogue; use 'mean' or 'upper'")
        object.__setattr__(self, "kind", _checks.choice("SeedIdriss.kind", self.kind, ("mean", "upper")))

    def _key(self) -> str:
        return f"seed_idriss_1970_sand_{self.kind}"


@dataclass(frozen=True)
class Idriss1990(_Table):
    """Idriss (1990) curves of clay (and of sand).

    Source: Idriss, I. M. (1990). Response of soft soil sites during
    earthquakes. Proc. H. Bolton Seed Memorial Symposium, vol. 2: 273-289.
    Tabulated at strains 1e-6 to 0.01 (ratio; 1e-4 to 1 %), the strains
    with published values; beyond them the end values are used and the
    analysis warns, naming the set.

    Parameters
    ----------
    soil : {"clay", "sand"}
        The clay curves (default) or the sand curves of the same paper. The
        sand set carries the same damping values as the clay set, as the
        curve catalogues it was taken from (pystrata's and Strata's) give it.
    """

    soil: str = "clay"

    def __post_init__(self) -> None:
        object.__setattr__(self, "soil", _checks.choice("Idriss1990.soil", self.soil, ("clay", "sand")))

    def _key(self) -> str:
        return f"idriss_1990_{self.soil}"


#: EPRI (1993) sand depth ranges in feet, as published, with their names in
#: metres (rounded) accepted too.
EPRI93_DEPTHS = ("0-20ft", "20-50ft", "50-120ft", "120-250ft", "250-500ft", "500-1000ft")
_EPRI93_METRES = ("0-6m", "6-15m", "15-37m", "37-76m", "76-152m", "152-305m")
_EPRI93_BOUNDS_FT = (0.0, 20.0, 50.0, 120.0, 250.0, 500.0, 1000.0)


@dataclass(frozen=True)
class EPRI93(_Table):
    """EPRI (1993) curves of sands by depth range, or of cohesive soils by PI.

    Source: EPRI (1993). Guidelines for determining design basis ground
    motions, vol. 1. Report TR-102293, Electric Power Research Institute,
    Palo Alto. Tabulated at strains 1e-6 to 1e-2 (ratio).

    Parameters
    ----------
    depth : str or float, optional
        A sand curve: the depth range as published, one of "0-20ft",
        "20-50ft", "50-120ft", "120-250ft", "250-500ft", "500-1000ft" (or in
        metres "0-6m", "6-15m", "15-37m", "37-76m", "76-152m", "152-305m"),
        or the layer's depth in m, 0 to 304.8 (1000 ft), whose range is taken
        (a depth on a boundary takes the deeper range). Stored as the
        range's published name.
    pi : int, optional
        A cohesive-soil curve instead: plasticity index 10, 30, 50 or 70 %.

    Exactly one of `depth` and `pi` is given.
    """

    depth: Optional[Any] = None
    pi: Optional[int] = None

    def __post_init__(self) -> None:
        if (self.depth is None) == (self.pi is None):
            raise ValueError("EPRI93 takes exactly one of depth (sand, by depth range) and pi (cohesive soil), "
                             f"got depth={self.depth!r} and pi={self.pi!r}")
        if self.pi is not None:
            object.__setattr__(self, "pi", _integer_choice("EPRI93", "pi", self.pi, (10, 30, 50, 70)))
            return
        object.__setattr__(self, "depth", self._depth_range(self.depth))

    @staticmethod
    def _depth_range(depth: Any) -> str:
        if isinstance(depth, str):
            text = depth.replace(" ", "").lower()
            if text in EPRI93_DEPTHS:
                return text
            if text in _EPRI93_METRES:
                return EPRI93_DEPTHS[_EPRI93_METRES.index(text)]
            raise ValueError(f"EPRI93.depth must be a depth in m or one of {', '.join(EPRI93_DEPTHS)} (or "
                             f"{', '.join(_EPRI93_METRES)}), got {depth!r}")
        z = _checks.real("EPRI93.depth", depth)
        top = _EPRI93_BOUNDS_FT[-1] * _FOOT
        if not 0.0 <= z <= top:
            raise ValueError(f"EPRI93.depth must lie in [0, {top:g}] m (the published ranges end at 1000 ft), "
                             f"got {depth!r}")
        feet = z / _FOOT
        for i in range(len(EPRI93_DEPTHS)):
            if feet < _EPRI93_BOUNDS_FT[i + 1]:
                return EPRI93_DEPTHS[i]
        return EPRI93_DEPTHS[-1]

    def _key(self) -> str:
        if self.pi is not None:
            return f"epri_1993_pi{self.pi}"
        return "epri_1993_sand_" + str(self.depth).replace("-", "_")


@dataclass(frozen=True)
class ZhangAndrusJuang:
    """Zhang, Andrus and Juang (2005) curves by geologic age, PI and stress.

    Source: Zhang, J., Andrus, R. D. and Juang, C. H. (2005). Normalized
    shear modulus and material damping ratio relationships. Journal of
    Geotechnical and Geoenvironmental Engineering 131(4): 453-464.

    G/Gmax = 1 / (1 + (g/gr)^a), gr = gr1 (s'm/pa)^k (percent), with, by age:

    ============  ===================  =======================  ===================
    age           a                    k                        gr1 (%)
    ============  ===================  =======================  ===================
    quaternary    0.0021 PI + 0.834    0.316 exp(-0.0142 PI)    0.0011 PI + 0.0749
    tertiary      0.0009 PI + 1.026    0.316 exp(-0.0110 PI)    0.0004 PI + 0.0311
    residual      0.0043 PI + 0.794    0.420 exp(-0.0456 PI)    0.0009 PI + 0.0385
    ============  ===================  =======================  ===================

    Damping (percent) D = Dmin + 10.6 G^2 - 31.6 G + 21.0 with G = G/Gmax and
    Dmin = (0.008 PI + 0.82) (s'm/pa)^(-k/2), pa = 101.325 kPa, the same
    minimum-damping term for every age. (Scripts in circulation normalise
    the stress by 100 kPa instead: their reference strain is at most 0.6 %
    larger, a difference far inside the scatter of the fit.)

    Parameters
    ----------
    age : {"quaternary", "tertiary", "residual"}
        Quaternary soils, Tertiary and older soils, or residual soils and
        saprolite.
    pi : float
        Plasticity index, percent, 0 to 200.
    k0 : float
        Coefficient of earth pressure at rest, above 0 and at most 5 (mean
        stress = vertical effective stress x (1 + 2 k0) / 3).
    """

    age: str = "quaternary"
    pi: float = 0.0
    k0: float = 0.5

    def __post_init__(self) -> None:
        object.__setattr__(self, "age", _checks.choice("ZhangAndrusJuang.age", self.age,
                                                       ("quaternary", "tertiary", "residual")))
        _check(self)

    def _core(self) -> "_velmar.ZhangAndrusJuang":
        return _velmar.ZhangAndrusJuang(**{f.name: getattr(self, f.name) for f in fields(self)})


@dataclass(frozen=True)
class Kishida:
    """Kishida et al. (2009) curves of organic soils (peat).

    Source: Kishida, T., Boulanger, R. W., Abrahamson, N. A., Driller, M. W.
    and Wehling, T. M. (2009). Site effects for the Sacramento-San Joaquin
    Delta. Earthquake Spectra 25(2): 301-322.

    A closed form in the vertical effective stress s'v (kPa; here the layer's
    mean stress x 3 / (1 + 2 k0)) and the organic content OC, for field
    conditions (laboratory consolidation ratio 1): with x3 = 2 / (1 +
    exp(OC/23)) the reference strain is exp(-1.41 - 0.950 (x3 - 0.5)) percent
    (0.15 to 0.39 %), ln G a regression in ln(g + gr), ln s'v and x3 with
    their interactions, G/Gmax its value over the one at zero strain, and ln
    D (percent) a regression in ln(ln(Gmax/G) + 0.103), ln s'v and x3.

    Parameters
    ----------
    organic_content : float
        Organic content, percent of dry mass, 0 to 100.
    k0 : float
        Coefficient of earth pressure at rest, above 0 and at most 5; it
        turns the mean stress an analysis reports back into the vertical
        stress the model takes.
    """

    organic_content: float = 10.0
    k0: float = 0.5

    def __post_init__(self) -> None:
        _check(self)

    def _core(self) -> "_velmar.Kishida":
        return _velmar.Kishida(**{f.name: getattr(self, f.name) for f in fields(self)})


@dataclass(frozen=True)
class Rollins2020:
    """Rollins et al. (2020) curves of gravels.

    Source: Rollins, K. M., Singh, M. and Roy, J. (2020). Simplified
    equations for shear-modulus degradation and damping of gravels. Journal
    of Geotechnical and Geoenvironmental Engineering 146(9): 04020076.

    G/Gmax = 1 / (1 + (g/gr)^0.84) with gr = 0.0046 Cu^-0.197 s'm^0.52
    percent (s'm in kPa), or gr = 0.0039 s'm^0.42 when Cu is unknown;
    damping by the modified Masing rule (Darendeli's curvature correction)
    scaled by b = 0.53 - 0.0057 ln(cycles), times (G/Gmax)^0.1, plus a
    minimum damping of 1 %.

    Parameters
    ----------
    cu : float, optional
        Uniformity coefficient D60/D10, 1 to 100; None when unknown.
    k0 : float
        Coefficient of earth pressure at rest, above 0 and at most 5.
    cycles : float
        Number of loading cycles, 1 to 1000.
    """

    cu: Optional[float] = None
    k0: float = 0.5
    cycles: float = 10.0

    def __post_init__(self) -> None:
        if self.cu is not None and _checks.real("Rollins2020.cu", self.cu) == 0.0:
            raise ValueError("Rollins2020.cu must lie in [1, 100] (None when unknown), got 0")
        _check(self)

    def _core(self) -> "_velmar.Rollins":
        return _velmar.Rollins(cu=0.0 if self.cu is None else self.cu, k0=self.k0, cycles=self.cycles)


class CurveSet(NamedTuple):
    """One entry of `curves()`."""

    name: str         # the "model" name in a JSON analysis file
    cls: type         # the class to build it with
    source: str       # the publication
    parameters: str   # what the class takes


_CATALOGUE = {name: (title, source) for name, title, source in _velmar.published_curves()}


def _source(key: str) -> str:
    return _CATALOGUE[key][1]


def curves() -> List[CurveSet]:
    """The curve models and published curve sets VELMAR offers.

    Returns
    -------
    list of CurveSet
        (name, cls, source, parameters) for each: `name` is the model's name
        in a JSON analysis file ({"model": name, ...parameters}), `cls` the
        class, `source` the publication, `parameters` what it takes.
    """
    from ._eql import Darendeli, Menq

    return [
        CurveSet("darendeli", Darendeli, "Darendeli, M. B. (2001). Development of a new family of normalized "
                 "modulus reduction and material damping curves. PhD thesis, University of Texas at Austin",
                 "pi 0-200 %, ocr 1-50, k0, frequency (Hz), cycles"),
        CurveSet("menq", Menq, "Menq, F.-Y. (2003). Dynamic properties of sandy and gravelly soils. PhD thesis, "
                 "University of Texas at Austin", "cu 1-100, d50 0.05-100 mm, k0, cycles"),
        CurveSet("vucetic_dobry", VuceticDobry, _source("vucetic_dobry_1991_pi0"), "pi in {0, 15, 30, 50, 100, 200}"),
        CurveSet("seed_idriss", SeedIdriss, _source("seed_idriss_1970_sand_mean"), "kind in {mean, upper} (sand)"),
        CurveSet("idriss_1990", Idriss1990, _source("idriss_1990_clay"), "soil in {clay, sand}"),
        CurveSet("epri_1993", EPRI93, _source("epri_1993_pi10"),
                 "depth (sand): a range in " + ", ".join(EPRI93_DEPTHS) + " or a depth 0-304.8 m; "
                 "or pi in {10, 30, 50, 70} (cohesive)"),
        CurveSet("zhang_andrus_juang", ZhangAndrusJuang, "Zhang, J., Andrus, R. D. and Juang, C. H. (2005). "
                 "Normalized shear modulus and material damping ratio relationships. J. Geotech. Geoenviron. Eng. "
                 "131(4): 453-464", "age in {quaternary, tertiary, residual}, pi 0-200 %, k0"),
        CurveSet("kishida", Kishida, "Kishida, T., Boulanger, R. W., Abrahamson, N. A., Driller, M. W. and "
                 "Wehling, T. M. (2009). Site effects for the Sacramento-San Joaquin Delta. Earthquake Spectra "
                 "25(2): 301-322", "organic_content 0-100 %, k0"),
        CurveSet("rollins_2020", Rollins2020, "Rollins, K. M., Singh, M. and Roy, J. (2020). Simplified equations "
                 "for shear-modulus degradation and damping of gravels. J. Geotech. Geoenviron. Eng. 146(9): "
                 "04020076", "cu 1-100 or None, k0, cycles 1-1000"),
    ]
