"""Transfer functions and propagated histories."""

from __future__ import annotations

from typing import Any, NamedTuple, Optional

import numpy as np

from . import _checks
from . import _rvt_site
from . import _velmar
from ._profile import Profile
from ._record import Record

WAVES = ("SH", "P", "SV")
COMPONENTS = ("horizontal", "vertical")
INPUTS = ("incident", "outcrop", "within")
#: Quantities of a propagated history, with their units.
QUANTITIES = {"accel": "the record's units", "velocity": "m/s", "displacement": "m",
              "strain": "ratio", "stress": "kPa"}
# Acceleration, velocity and displacement share one transfer function (a
# ratio of motions).
_TRANSFER_QUANTITIES = {"displacement": "displacement", "accel": "displacement",
                        "acceleration": "displacement", "velocity": "displacement",
                        "strain": "strain", "stress": "stress"}


def _profile(p: Any) -> Profile:
    if not isinstance(p, Profile):
        raise TypeError(f"p must be a velmar.Profile, got {type(p).__name__}")
    return p


def _setup(p: Profile, wave: Any, angle: Any, modulus: Optional[str]) -> "_velmar.WaveSetup":
    """The wave set-up shared by transfer, response and propagate, as the
    library's WaveSetup (each value converted and named there; the library
    checks the angle and the wave against the profile)."""
    law = modulus if modulus is not None else (p.modulus or "velmar")
    setup = _velmar.WaveSetup(wave=wave, angle=angle, law=law)
    if setup.law == "dormieux":
        # sqrt(1 - 4 xi^2) is real only up to xi = 0.5: named here by the
        # profile's entry, which the library's refusal does not give.
        for name, d in (("damping", p.damping), ("damping_p", p.damping_p if setup.wave != "SH" else None)):
            if d is not None:
                _checks.first_bad(name, d, d <= 0.5, "must be at most 0.5 under modulus 'dormieux'")
    return setup


def transfer(p: Profile, freqs: Any, wave: str = "SH", angle: float = 0.0, depth: float = 0.0,
             component: Optional[str] = None, modulus: Optional[str] = None,
             quantity: str = "displacement") -> np.ndarray:
    """Complex transfer function of a profile, per unit incident displacement.

    Parameters
    ----------
    p : Profile
        The layered profile.
    freqs : array_like
        Frequencies, Hz, finite (any shape). A negative frequency gives the
        complex conjugate of its positive twin; 0 gives the static limit.
    wave : {"SH", "P", "SV"}, optional
        The incident plane wave (case ignored). P and SV need `vp` in `p`.
    angle : float, optional
        Angle of the incident wave in the half-space, degrees from the
        vertical, strictly between -90 and 90.
    depth : float, optional
        Depth of the output, m, 0 or more (the free surface is 0; inside a
        layer, on an interface or in the half-space).
    component : {"horizontal", "vertical"}, optional
        For P and SV; None takes the wave's own: vertical for P, horizontal
        for SV (SH has only its horizontal, out-of-plane motion).
    modulus : {"velmar", "seed", "kramer", "dormieux"}, optional
        The complex-modulus law; None takes the profile's, else "velmar".
    quantity : {"displacement", "strain", "stress"}, optional
        For SH: the displacement (also the ratio of accelerations or
        velocities; "accel" and "velocity" are accepted as the same), the
        shear strain du/dz (1/m per m of incident displacement) or the shear
        stress (kPa per m).

    Returns
    -------
    ndarray of complex128, the shape of `freqs`
        The response per unit displacement of the wave incident from the
        half-space: a bare half-space gives 2 at its surface for SH, 2
        horizontally for SV and -2 vertically for P at vertical incidence.
        Time factor exp(-i w t); vertical motion positive downwards.

    Raises
    ------
    ValueError
        A frequency that is not finite, a bad angle, depth or name, P or SV
        on a profile without `vp`, strain or stress for P or SV.
    """
    p = _profile(p)
    setup = _setup(p, wave, angle, modulus)
    q = _TRANSFER_QUANTITIES.get(quantity.lower(), quantity) if isinstance(quantity, str) else quantity
    f = _checks.real_array("freqs", freqs)
    h = _velmar.transfer(p._core, f.reshape(-1), setup, depth, q, component)
    return h.reshape(f.shape)


class Response(NamedTuple):
    """The response of a profile at several depths and frequencies.

    Every array has shape (len(depths), len(freqs)), per unit displacement
    of the incident wave.

    Attributes
    ----------
    u : ndarray of complex128
        SH: the out-of-plane displacement; P-SV: the horizontal one.
    w : ndarray of complex128 or None
        P-SV: the vertical displacement (positive down); None for SH.
    strain : ndarray of complex128 or None
        SH: the shear strain du/dz, 1/m per m of incident displacement.
    stress : ndarray of complex128 or None
        SH: the shear stress, kPa per m of incident displacement.
    """

    u: np.ndarray
    w: Optional[np.ndarray]
    strain: Optional[np.ndarray]
    stress: Optional[np.ndarray]


def response(p: Profile, freqs: Any, depths: Any, wave: str = "SH", angle: float = 0.0,
             modulus: Optional[str] = None) -> Response:
    """The response at many depths at once (one sweep through the profile).

    Parameters
    ----------
    p : Profile
    freqs : array_like
        Frequencies, Hz, finite, one-dimensional.
    depths : array_like
        Depths, m, 0 or more, one-dimensional.
    wave, angle, modulus
        As for `transfer`.

    Returns
    -------
    Response
        Arrays of shape (len(depths), len(freqs)).

    Raises
    ------
    ValueError
        As for `transfer`; a negative depth.
    """
    p = _profile(p)
    setup = _setup(p, wave, angle, modulus)
    f = _checks.float_array("freqs", freqs)
    d = _checks.float_array("depths", depths)
    u, wv, strain, stress = _velmar.response(p._core, f, d, setup)
    shape = (d.size, f.size)

    def grid(x: np.ndarray) -> Optional[np.ndarray]:
        return x.reshape(shape) if x.size else None

    return Response(u.reshape(shape), grid(wv), grid(strain), grid(stress))


def propagate(rec: Record, p: Profile, wave: str = "SH", angle: float = 0.0, input: str = "outcrop",
              depth: float = 0.0, quantity: str = "accel", scale: float = 1.0, input_depth: float = 0.0,
              component: Optional[str] = None, modulus: Optional[str] = None) -> np.ndarray:
    """The history at `depth` when `rec` is the input motion.

    The record (times `scale`) is padded with zeros to at least twice its
    length, transformed, multiplied by the ratio of the response at `depth`
    to the response where the record was observed, and transformed back.

    Parameters
    ----------
    rec : Record or RvtMotion
        The input acceleration (an RvtMotion: by random vibration theory, giving RvtMotions).
    p : Profile
    wave, angle, component, modulus
        As for `transfer`.
    input : {"incident", "outcrop", "within"}, optional
        Where the record was observed: the up-going wave at the top of the
        half-space ("incident"), an outcrop of the half-space's rock (2 x
        incident, the default), or the total motion at `input_depth` inside
        the profile ("within", a borehole record; the spectrum is divided by
        the response there, with a floor of 1e-7 on its squared modulus).
    depth : float, optional
        Depth of the output, m, 0 or more.
    quantity : {"accel", "velocity", "displacement", "strain", "stress"}, optional
        Acceleration in the record's units, velocity in m/s, displacement in
        m (both integrated in the frequency domain: zero mean over the padded
        window), shear strain as a ratio, shear stress in kPa (strain and
        stress for SH only).
    scale : float, optional
        Multiplies the record (finite).
    input_depth : float, optional
        Depth of a "within" record, m, 0 or more.

    Returns
    -------
    ndarray of float64
        The history, same length and step as `rec`.

    Raises
    ------
    ValueError
        As for `transfer`; a bad `input`, `quantity`, `scale` or `input_depth`.
    """
    if _rvt_site.is_motion(rec):  # a Fourier spectrum and a duration: random vibration theory
        return _rvt_site.propagate(**locals())
    if not isinstance(rec, Record):
        raise TypeError(f"rec must be a velmar.Record, got {type(rec).__name__}")
    p = _profile(p)
    options = _velmar.PropagateOptions(setup=_setup(p, wave, angle, modulus), input=input, input_depth=input_depth,
                                       depth=depth, quantity=quantity, component=component, scale=scale)
    return _velmar.propagate(*rec._core_args(), p._core, options)
