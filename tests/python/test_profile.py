"""velmar.Profile: the table, damping or Q, the half-space, the repr."""

import numpy as np
import pytest

import velmar


def test_attributes_are_numpy_arrays_top_down():
    p = velmar.Profile(thickness=[8.0, 15.0, 0.0], density=[1.7, 1.9, 2.4], vs=[120.0, 250.0, 1200.0],
                       damping=[0.05, 0.03, 0.01], vp=[1500.0, 1700.0, 2400.0])
    assert p.layers == 2
    for name, want in [("thickness", [8.0, 15.0, 0.0]), ("density", [1.7, 1.9, 2.4]),
                       ("vs", [120.0, 250.0, 1200.0]), ("damping", [0.05, 0.03, 0.01]),
                       ("vp", [1500.0, 1700.0, 2400.0]), ("qs", [10.0, 1 / 0.06, 50.0]),
                       ("depth", [0.0, 8.0, 23.0])]:
        a = getattr(p, name)
        assert isinstance(a, np.ndarray) and a.dtype == np.float64
        np.testing.assert_allclose(a, want, rtol=1e-15)
    # Without qp or damping_p, P waves take the shear damping.
    np.testing.assert_array_equal(p.damping_p, p.damping)
    np.testing.assert_array_equal(p.qp, p.qs)
    with pytest.raises(ValueError):
        p.vs[0] = 1.0  # read-only views: a profile does not change under the library


def test_quality_factors_and_damping_ratios_are_the_same_profile():
    by_q = velmar.Profile(thickness=[10.0, 0.0], density=[1.8, 2.2], vs=[200.0, 1000.0], qs=[10.0, 0.0],
                          vp=[500.0, 2000.0], qp=[20.0, np.inf])
    by_xi = velmar.Profile(thickness=[10.0, 0.0], density=[1.8, 2.2], vs=[200.0, 1000.0], damping=[0.05, 0.0],
                           vp=[500.0, 2000.0], damping_p=[0.025, 0.0])
    np.testing.assert_allclose(by_q.damping, by_xi.damping, rtol=1e-15)
    np.testing.assert_allclose(by_q.damping_p, by_xi.damping_p, rtol=1e-15)
    np.testing.assert_array_equal(by_q.qs, [10.0, np.inf])
    np.testing.assert_array_equal(by_q.qp, [20.0, np.inf])
    f = np.linspace(0.0, 20.0, 101)
    np.testing.assert_allclose(velmar.transfer(by_q, f), velmar.transfer(by_xi, f), rtol=1e-14)


def test_layers_only_damping_and_thickness_leave_an_elastic_half_space():
    short = velmar.Profile(thickness=[10.0], density=[1.8, 2.2], vs=[200.0, 1000.0], damping=[0.05])
    full = velmar.Profile(thickness=[10.0, 0.0], density=[1.8, 2.2], vs=[200.0, 1000.0], damping=[0.05, 0.0])
    np.testing.assert_array_equal(short.damping, [0.05, 0.0])
    np.testing.assert_array_equal(short.thickness, full.thickness)
    f = np.linspace(0.0, 20.0, 41)
    np.testing.assert_array_equal(velmar.transfer(short, f), velmar.transfer(full, f))


def test_a_damped_half_space_is_used_when_given():
    f = np.linspace(1.0, 20.0, 41)
    elastic = velmar.transfer(velmar.Profile(thickness=[10.0], density=[1.8, 2.2], vs=[200.0, 1000.0],
                                             damping=[0.05, 0.0]), f, depth=30.0)
    damped = velmar.transfer(velmar.Profile(thickness=[10.0], density=[1.8, 2.2], vs=[200.0, 1000.0],
                                            damping=[0.05, 0.05]), f, depth=30.0)
    assert np.max(np.abs(damped - elastic)) > 1e-3


def test_no_damping_at_all_is_elastic():
    p = velmar.Profile(thickness=[10.0, 0.0], density=[1.8, 2.2], vs=[200.0, 1000.0])
    np.testing.assert_array_equal(p.damping, 0.0)
    assert p.vp is None and p.qp is None and p.damping_p is None


def test_repr_is_a_readable_table():
    p = velmar.Profile(thickness=[8.0, 0.0], density=[1.7, 2.4], vs=[120.0, 1200.0], damping=[0.05, 0.0])
    text = repr(p)
    assert "1 layer over a half-space at 8 m" in text
    assert "vs m/s" in text and "half-space" in text and "120" in text
    n = 400
    long = velmar.Profile(thickness=np.ones(n), density=np.full(n + 1, 2.0), vs=np.linspace(100, 900, n + 1))
    lines = repr(long).splitlines()
    assert len(lines) < 20 and "..." in repr(long) and "400 layers" in lines[0]
