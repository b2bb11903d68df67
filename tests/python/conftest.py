"""Shared references and models for the velmar package's tests.

The references are written here from the wave equation, independently of the
library: complex velocities of the four damping laws, and the closed-form SH
response of one layer over a half-space.
"""

import os

import numpy as np
import pytest

import velmar

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "examples")
EXAMPLES = os.path.normpath(EXAMPLES)

# Double-precision results of a short recurrence: a few hundred eps of slack.
REL_TOL = 1e-12
# Results through an FFT of a few thousand points (round trips, integrations
# checked against closed forms).
FFT_TOL = 1e-9


def complex_velocity(v, xi, law="velmar"):
    """sqrt(M*/rho) of each damping law, for the time factor exp(-i w t)."""
    v = np.asarray(v, dtype=float)
    xi = np.asarray(xi, dtype=float)
    ratio = {  # M*/M
        "velmar": 1.0 / (1.0 + 1j * xi) ** 2,
        "seed": 1.0 - 2j * xi,
        "kramer": 1.0 - xi**2 - 2j * xi,
        "dormieux": np.sqrt(1.0 - 4.0 * xi**2 + 0j) - 2j * xi,
    }[law]
    return v * np.sqrt(ratio)


def one_layer_sh(f, h, rho1, vs1, xi1, rho2, vs2, angle=0.0, law="velmar", z=0.0):
    """SH displacement at depth z in a layer (0 <= z <= h) over an elastic
    half-space, per unit incident displacement.

    u(z) = A cos(kz z), A = 2 / (cos(kz h) - i a sin(kz h)), a = G1 kz1 / (G2 kz2).
    (With exp(+i w t) the same modulus reads 2 / |cos(k h) + i a sin(k h)|.)
    Also returns the shear strain du/dz and stress G1* du/dz at z.
    """
    w = 2.0 * np.pi * np.asarray(f, dtype=float)
    v1 = complex_velocity(vs1, xi1, law)
    p = np.sin(np.radians(angle)) / vs2
    s1 = np.sqrt(1.0 / v1**2 - p**2)
    s2 = np.sqrt(1.0 / vs2**2 - p**2 + 0j)
    g1 = rho1 * v1**2
    g2 = rho2 * vs2**2
    k = w * s1
    a = g1 * s1 / (g2 * s2)
    amp = 2.0 / (np.cos(k * h) - 1j * a * np.sin(k * h))
    u = amp * np.cos(k * z)
    strain = -amp * k * np.sin(k * z)
    return u, strain, g1 * strain


# One soft layer over rock: fundamental frequency vs / (4 h) = 5 Hz.
LAYER = dict(h=10.0, rho1=1.8, vs1=200.0, xi1=0.05, rho2=2.2, vs2=1000.0)


def one_layer_profile(xi=LAYER["xi1"], **kw):
    L = dict(LAYER, xi1=xi)
    return velmar.Profile(thickness=[L["h"], 0.0], density=[L["rho1"], L["rho2"]], vs=[L["vs1"], L["vs2"]],
                          damping=[L["xi1"], 0.0], **kw)


@pytest.fixture
def layer():
    return one_layer_profile()


@pytest.fixture
def clay_sand_rock():
    """The example deck's profile, damping ratios from its Q values."""
    return velmar.Profile(thickness=[8.0, 15.0, 25.0, 0.0], density=[1.70, 1.90, 2.05, 2.40],
                          vs=[120.0, 250.0, 450.0, 1200.0], qs=[10.0, 15.0, 20.0, 0.0],
                          vp=[1500.0, 1700.0, 1900.0, 2400.0], qp=[20.0, 30.0, 40.0, 0.0])


def pulse_record(n=2048, dt=0.01, f0=2.0, units="g"):
    """A Gaussian-windowed sine in the first half of the record, zero after."""
    t = np.arange(n) * dt
    t0 = 0.25 * n * dt
    width = 0.06 * n * dt
    a = 0.2 * np.sin(2.0 * np.pi * f0 * t) * np.exp(-(((t - t0) / width) ** 2))
    return velmar.Record(a, dt, units)


def assert_close_to_peak(actual, expected, tol):
    """max |actual - expected| within tol times the peak of |expected|."""
    actual = np.asarray(actual)
    expected = np.asarray(expected)
    err = np.max(np.abs(actual - expected)) / np.max(np.abs(expected))
    assert err <= tol, f"relative error {err:.3g} above {tol:.3g}"
