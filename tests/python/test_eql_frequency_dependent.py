"""The frequency-dependent equivalent-linear variants and the iteration option
through the Python API."""

import numpy as np
import pytest

import velmar
from velmar._eql import _frequency_dependent_motion


def motion(pga, n=2000, dt=0.01):
    t = np.arange(n) * dt
    a = np.exp(-0.5 * (t - 5.0) ** 2) * (np.sin(2 * np.pi * 2.1 * t) + 0.4 * np.sin(2 * np.pi * 5.3 * t)
                                        + 0.2 * np.sin(2 * np.pi * 11.7 * t))
    return velmar.Record(pga * a, dt)


def site():
    return velmar.Profile(thickness=[4, 6, 10, 0], density=[1.7, 1.8, 1.9, 2.3], vs=[120, 180, 260, 900],
                          damping=[0.02, 0.02, 0.02, 0.01])


CURVES = [velmar.Darendeli(pi=30.0), velmar.Darendeli(pi=20.0), velmar.Darendeli(pi=10.0)]


@pytest.mark.parametrize("variant", ["ka02", "zr15", "ko"])
def test_variant_gives_its_properties_per_frequency_and_its_motion(variant):
    rec = motion(0.3)
    res = velmar.equivalent_linear(rec, site(), CURVES, water_table=2.0, modulus="dormieux",
                                   frequency_dependent=variant, max_iterations=100)
    assert res.converged and res.frequency_dependent == variant
    assert res.iterations > res.classic_iterations
    nf = res.frequencies.size
    assert res.frequencies[1] == pytest.approx(1.0 / (4096 * 0.01))
    for a in (res.g_ratio_f, res.damping_f, res.strain_f):
        assert a.shape == (3, nf) and np.all(np.isfinite(a))
    # Every strain at most about the effective one (the last pass used a
    # mixed point near it); stiffer and less damped above the strain
    # spectrum's band than the classic value at the effective strain.
    eff = 0.65 * res.max_strain
    assert np.all(res.strain_f <= eff[:, None] * 1.05)
    assert np.all(res.g_ratio_f[:, -1] > res.g_ratio)
    assert np.all(res.damping_f[:, -1] < res.damping)
    # The motion with these properties: its strain at each middle peaks at
    # the strains the last pass found.
    for i, z in enumerate([2.0, 7.0, 15.0]):
        s = _frequency_dependent_motion(res, rec, z, "strain")
        assert np.abs(s).max() == pytest.approx(res.max_strain[i], rel=1e-6)
    acc = _frequency_dependent_motion(res, rec, 0.0, "accel")
    assert acc.shape == (2000,) and np.all(np.isfinite(acc))


def test_weak_motion_is_linear_and_classic_results_carry_no_spectra():
    rec = motion(1e-5)
    res = velmar.equivalent_linear(rec, site(), CURVES, water_table=2.0, frequency_dependent="zr15")
    assert res.g_ratio_f.min() > 0.999
    classic = velmar.equivalent_linear(rec, site(), CURVES, water_table=2.0)
    assert classic.g_ratio_f is None and classic.frequency_dependent is None
    a = _frequency_dependent_motion(res, rec, 0.0, "accel")
    b = velmar.propagate(rec, classic.profile, depth=0.0, quantity="accel")
    assert np.abs(a - b).max() < 2e-3 * np.abs(b).max()
    with pytest.raises(ValueError, match="frequency-dependent"):
        _frequency_dependent_motion(classic, rec, 0.0, "accel")


def test_accelerated_and_plain_reach_the_same_fixed_point():
    rec = motion(0.4)
    kw = dict(water_table=2.0, modulus="dormieux", max_iterations=500)
    fixed = velmar.equivalent_linear(rec, site(), CURVES, tolerance=1e-8, iteration="plain", **kw)
    fast = velmar.equivalent_linear(rec, site(), CURVES, tolerance=0.01, **kw)
    assert fast.converged
    np.testing.assert_allclose(fast.max_strain, fixed.max_strain, rtol=0.03)


@pytest.mark.parametrize("kw, name", [
    (dict(frequency_dependent="ka2"), "frequency_dependent"),
    (dict(frequency_dependent=3), "frequency_dependent"),
    (dict(ko_bandwidth=0.0), "ko_bandwidth"),
    (dict(ko_bandwidth=float("nan")), "ko_bandwidth"),
    (dict(iteration="anderson"), "iteration"),
])
def test_bad_values_are_refused_by_name(kw, name):
    with pytest.raises((ValueError, TypeError), match=name):
        velmar.equivalent_linear(motion(0.1), site(), CURVES, **kw)
