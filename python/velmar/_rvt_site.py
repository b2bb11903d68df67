"""Site response by random vibration theory (RVT): an RvtMotion through a profile.

``velmar.propagate`` and ``velmar.equivalent_linear`` hand an RvtMotion here:
the same calls as for a record, giving RvtMotions where a record analysis gives
histories. Linear responses multiply the motion's Fourier amplitudes by the
modulus of the transfer function (SH, or P-SV for vertical motion); the
strain-compatible iteration takes each pass's peak strains from the strain
transfer function times the input spectrum, its moments and the motion's peak
factor (no oscillator correction).
"""

from __future__ import annotations

import inspect
from typing import Any, Optional, Sequence

import numpy as np

from . import _checks
from . import _velmar
from ._profile import Profile
from ._rvt import RvtMotion


def is_motion(value: Any) -> bool:
    """Whether `value` is an RvtMotion (a Fourier spectrum and a duration)."""
    return isinstance(value, RvtMotion)


def batch_motion_args(m: RvtMotion) -> tuple:
    """The arguments of the library motion a batch runs: the motion in g (a
    batch's results are in g), as plain values that pickle for Dask."""
    c = m._core
    factor = _to_si(m) / _velmar.STANDARD_GRAVITY
    return (c.freqs, c.fas * factor, c.duration, c.peak_method, c.magnitude, c.distance, c.region, c.site)


def motion_name(m: RvtMotion) -> str:
    """A short name of a motion for a batch's record axis."""
    name = f"RVT {type(m).__name__}"
    if m.magnitude is not None and m.distance is not None:
        name += f" M{m.magnitude:g} R{m.distance:.4g} km"
    return name


def _to_si(m: RvtMotion) -> float:
    """m/s2 per unit of the motion's acceleration."""
    return float(_velmar.acceleration_unit(m.units))


def propagate(rec: RvtMotion, p: Profile, wave: str = "SH", angle: float = 0.0, input: str = "outcrop",
              depth: float = 0.0, quantity: str = "accel", scale: float = 1.0, input_depth: float = 0.0,
              component: Optional[str] = None, modulus: Optional[str] = None, **more: Any) -> RvtMotion:
    """The motion at `depth` when the RvtMotion `rec` is the input motion.

    The same arguments as for a record: `rec` (times `scale`) observed as
    `input` says ("outcrop", "incident" or "within" at `input_depth`), the
    wave ("SH"; "P" or "SV" for P-SV motion, `component` "vertical" or
    "horizontal", default the wave's own). Returns an RvtMotion with the same
    frequencies, duration, peak method and scenario, Fourier amplitudes
    ``|H(depth) c| x fas`` (c: 1/2 outcrop, 1 incident, 1/H(input_depth)
    within), and the site's resonance (the first three peaks of that
    transfer function and its modulus at the first) for the "WR18" method.

    Raises
    ------
    ValueError
        A bad argument; a `quantity` other than "accel" (an RvtMotion is an
        acceleration spectrum); an argument a record analysis has but a
        spectrum has not.
    """
    from ._response import _profile, _setup

    _refuse_extra(more, "propagate")
    p = _profile(p)
    options = _velmar.PropagateOptions(setup=_setup(p, wave, angle, modulus), input=input, input_depth=input_depth,
                                       depth=depth, quantity=quantity, component=component, scale=scale)
    return RvtMotion._wrap(_velmar.rvt_propagate(rec._core, p._core, options), rec.units)


def amplification(m: RvtMotion, p: Profile, wave: str = "SH", angle: float = 0.0, input: str = "outcrop",
                  depth: float = 0.0, input_depth: float = 0.0, component: Optional[str] = None,
                  modulus: Optional[str] = None) -> np.ndarray:
    """|H(depth) c| at m.freqs: the factor `propagate` applies (arguments as there)."""
    from ._response import _profile, _setup

    p = _profile(p)
    options = _velmar.PropagateOptions(setup=_setup(p, wave, angle, modulus), input=input, input_depth=input_depth,
                                       depth=depth, component=component)
    return _velmar.rvt_amplification(m._core, p._core, options)


def peak_strains(m: RvtMotion, p: Profile, depths: Any, angle: float = 0.0, input: str = "outcrop",
                 input_depth: float = 0.0, scale: float = 1.0, modulus: Optional[str] = None) -> np.ndarray:
    """Expected peak SH shear strain (ratio) at each of `depths` (m) of a linear profile.

    The strain transfer function times the input's displacement spectrum
    (the motion in its units, converted to m/s2, over (2 pi f)^2, times the
    input factor), its moments and the motion's peak factor without
    oscillator correction.
    """
    from ._response import _profile, _setup

    p = _profile(p)
    d = _checks.float_array("depths", np.atleast_1d(np.asarray(depths, dtype=float)))
    options = _velmar.PropagateOptions(setup=_setup(p, "SH", angle, modulus), input=input, input_depth=input_depth,
                                       scale=scale)
    return _velmar.rvt_peak_strains(m._core, p._core, options, d, _to_si(m))


def _refuse_extra(more: dict, call: str) -> None:
    if more:
        raise ValueError(f"{call}: {', '.join(sorted(more))} not available for an RvtMotion (a Fourier spectrum "
                         "and a duration)")


# The keywords of equivalent_linear whose library field has another name.
_RENAMED = {"modulus": "law"}


def equivalent_linear(rec: RvtMotion, p: Profile, curves: Sequence[Any], **kw: Any):
    """The strain-compatible iteration driven by random vibration theory.

    Called by ``velmar.equivalent_linear`` for an RvtMotion, with the same
    keywords as for a record: every option means what it means there, and
    the curves, stresses, damping laws, sublayering, convergence test and
    strain limit are the same. Each pass's peak strain at the middle of every
    (sub)layer is the RVT peak of the strain transfer function times the
    input's displacement spectrum (the motion's duration and peak factor, no
    oscillator correction).

    Returns
    -------
    RvtEquivalentLinearResult
        An EquivalentLinearResult with ``motion(depth=0.0)``: the RvtMotion
        at a depth of the strain-compatible profile.
    """
    import warnings

    from . import _eql
    from ._rvt_results import RvtEquivalentLinearResult

    if not isinstance(p, Profile):
        raise TypeError(f"p must be a velmar.Profile, got {type(p).__name__}")
    if curves is not None and not isinstance(curves, (list, tuple)):
        curves = [curves] * p.layers  # one curve for every layer
    # Options left at the record analysis' defaults take the library's;
    # the others go to the library under their field's name.
    defaults = _defaults(_eql.equivalent_linear)
    fields = {"curves": curves}
    for k, v in kw.items():
        if k in defaults and (v is defaults[k] or _same(v, defaults[k])):
            continue
        fields[_RENAMED.get(k, k)] = v
    if "law" not in fields and p.modulus:
        fields["law"] = p.modulus
    try:
        options = _velmar.EquivalentLinearOptions(**fields)
    except TypeError as e:
        raise ValueError(f"equivalent_linear with an RvtMotion: {e}") from None
    d = _velmar.rvt_equivalent_linear(rec._core, p._core, options, _to_si(rec))
    for w in d["warnings"]:
        warnings.warn(w, RuntimeWarning, stacklevel=3)
    n = d["max_strain"].size
    return RvtEquivalentLinearResult(
        converged=bool(d["converged"]), iterations=int(d["iterations"]), max_strain=d["max_strain"],
        g_ratio=d["g_ratio"], damping=d["damping"], mean_stress=d["mean_stress"], change=d["change"],
        strain_history=d["strain_history"].reshape(-1, n), sublayers=np.asarray(d["sublayers"], dtype=np.int64),
        profile=Profile._from_core(d["profile"], d["law"]), depth=np.array(p.depth),
        warnings=list(d["warnings"]), input_motion=rec, input=options.input, input_depth=options.input_depth,
        angle=options.angle, scale=options.scale)


_DEFAULTS: dict = {}


def _defaults(function: Any) -> dict:
    """The keyword defaults of `function`, read once."""
    if function not in _DEFAULTS:
        _DEFAULTS[function] = {k: v.default for k, v in inspect.signature(function).parameters.items()}
    return _DEFAULTS[function]


def _same(a: Any, b: Any) -> bool:
    """a equals the default b (plain values only)."""
    try:
        return type(a) is type(b) and bool(a == b)
    except Exception:  # an array or another value without a plain truth
        return False
