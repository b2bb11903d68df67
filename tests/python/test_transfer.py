"""velmar.transfer and velmar.response against closed forms and symmetries."""

import threading

import numpy as np
import pytest

import velmar
from conftest import LAYER, REL_TOL, one_layer_profile, one_layer_sh

FREQS = np.linspace(0.0, 30.0, 601)


@pytest.mark.parametrize("law", velmar.MODULUS_LAWS)
@pytest.mark.parametrize("angle", [0.0, 30.0, -60.0])
def test_one_layer_matches_closed_form(law, angle):
    p = one_layer_profile()
    h = velmar.transfer(p, FREQS, angle=angle, modulus=law)
    ref, _, _ = one_layer_sh(FREQS, angle=angle, law=law, **LAYER)
    np.testing.assert_allclose(h, ref, rtol=REL_TOL, atol=REL_TOL)


@pytest.mark.parametrize("z", [0.0, 2.5, 7.0, 10.0])
def test_depth_inside_the_layer_strain_and_stress(z):
    p = one_layer_profile()
    u_ref, strain_ref, stress_ref = one_layer_sh(FREQS, z=z, **LAYER)
    if z == LAYER["h"]:
        # On an interface the strain is the entry's below (stress is continuous,
        # strain jumps by the ratio of the moduli).
        strain_ref = stress_ref / (LAYER["rho2"] * LAYER["vs2"] ** 2)
    u = velmar.transfer(p, FREQS, depth=z)
    strain = velmar.transfer(p, FREQS, depth=z, quantity="strain")
    stress = velmar.transfer(p, FREQS, depth=z, quantity="stress")
    np.testing.assert_allclose(u, u_ref, rtol=REL_TOL, atol=REL_TOL)
    np.testing.assert_allclose(strain, strain_ref, rtol=0, atol=REL_TOL * (np.max(np.abs(strain_ref)) + 1.0))
    np.testing.assert_allclose(stress, stress_ref, rtol=0, atol=REL_TOL * (np.max(np.abs(stress_ref)) + 1.0))


def test_strain_vanishes_at_the_free_surface_and_stress_is_modulus_times_strain():
    p = one_layer_profile()
    assert np.all(velmar.transfer(p, FREQS, quantity="strain") == 0.0)
    z = 6.0
    strain = velmar.transfer(p, FREQS[1:], depth=z, quantity="strain")
    stress = velmar.transfer(p, FREQS[1:], depth=z, quantity="stress")
    v1 = 200.0 / (1.0 + 0.05j)  # the default law's complex velocity
    np.testing.assert_allclose(stress / strain, 1.8 * v1**2, rtol=REL_TOL)


def test_motion_quantities_share_the_displacement_transfer():
    p = one_layer_profile()
    h = velmar.transfer(p, FREQS)
    for q in ("accel", "velocity", "displacement"):
        np.testing.assert_array_equal(velmar.transfer(p, FREQS, quantity=q), h)


@pytest.mark.parametrize("angle", [0.0, 45.0, 89.0])
def test_bare_half_space_doubles(angle):
    p = velmar.Profile(thickness=[0.0], density=[2.0], vs=[800.0])
    np.testing.assert_allclose(velmar.transfer(p, FREQS, angle=angle), 2.0, rtol=REL_TOL)


def test_thin_sublayers_equal_one_thick_layer():
    """400 identical sublayers of a 40 m layer respond as the one layer does,
    at the surface and at a depth between interfaces."""
    n = 400
    p = velmar.Profile(thickness=[0.1] * n + [0.0], density=[1.8] * n + [2.2], vs=[200.0] * n + [1000.0],
                       damping=[0.05] * n + [0.0])
    f = np.linspace(0.1, 25.0, 250)
    for z in (0.0, 13.33):
        ref, _, _ = one_layer_sh(f, h=40.0, rho1=1.8, vs1=200.0, xi1=0.05, rho2=2.2, vs2=1000.0, z=z)
        # 400 interfaces: the error grows with the number of layer products.
        np.testing.assert_allclose(velmar.transfer(p, f, depth=z), ref, rtol=400 * REL_TOL, atol=400 * REL_TOL)


def test_conjugate_symmetry_over_random_profiles():
    rng = np.random.default_rng(20261208)
    for _ in range(20):
        n = int(rng.integers(1, 12))
        p = velmar.Profile(thickness=rng.uniform(1.0, 30.0, n), density=rng.uniform(1.5, 2.5, n + 1),
                           vs=np.sort(rng.uniform(80.0, 2000.0, n + 1)), damping=rng.uniform(0.0, 0.2, n + 1))
        f = rng.uniform(0.0, 40.0, 64)
        z = float(rng.uniform(0.0, 1.2 * p.depth[-1]))
        angle = float(rng.uniform(-70.0, 70.0))
        law = str(rng.choice(velmar.MODULUS_LAWS))
        pos = velmar.transfer(p, f, depth=z, angle=angle, modulus=law)
        neg = velmar.transfer(p, -f, depth=z, angle=angle, modulus=law)
        np.testing.assert_allclose(neg, np.conj(pos), rtol=REL_TOL, atol=REL_TOL)
        assert np.all(np.isfinite(pos))


@pytest.mark.parametrize("law", velmar.MODULUS_LAWS)
def test_each_damped_peak_below_the_undamped(law):
    f = np.linspace(3.0, 7.0, 4001)  # around the fundamental, 5 Hz
    undamped = np.max(np.abs(velmar.transfer(one_layer_profile(xi=0.0), f, modulus=law)))
    # Elastic layer: the peak is 2 Z_rock / Z_layer.
    assert undamped == pytest.approx(2.0 * 2.2 * 1000.0 / (1.8 * 200.0), rel=1e-6)
    peaks = [np.max(np.abs(velmar.transfer(one_layer_profile(xi=xi), f, modulus=law))) for xi in (0.02, 0.05, 0.1)]
    assert undamped > peaks[0] > peaks[1] > peaks[2]


def test_laws_differ_and_the_profile_law_is_the_default():
    f = np.linspace(1.0, 20.0, 50)
    hs = {law: velmar.transfer(one_layer_profile(xi=0.1), f, modulus=law) for law in velmar.MODULUS_LAWS}
    for a in velmar.MODULUS_LAWS:
        for b in velmar.MODULUS_LAWS:
            if a < b:
                assert np.max(np.abs(hs[a] - hs[b])) > 1e-3
    np.testing.assert_array_equal(velmar.transfer(one_layer_profile(xi=0.1), f), hs["velmar"])
    seeded = one_layer_profile(xi=0.1, modulus="seed")
    np.testing.assert_array_equal(velmar.transfer(seeded, f), hs["seed"])
    np.testing.assert_array_equal(velmar.transfer(seeded, f, modulus="kramer"), hs["kramer"])


def test_shape_of_freqs_is_kept():
    p = one_layer_profile()
    f = FREQS[:12].reshape(3, 4)
    h = velmar.transfer(p, f)
    assert h.shape == (3, 4) and h.dtype == np.complex128
    np.testing.assert_array_equal(h.ravel(), velmar.transfer(p, FREQS[:12]))
    assert velmar.transfer(p, 5.0).shape == ()
    assert velmar.transfer(p, []).shape == (0,)


def test_response_grid_matches_transfer():
    p = one_layer_profile()
    depths = [0.0, 4.0, 10.0, 25.0]
    r = velmar.response(p, FREQS, depths)
    assert r.u.shape == (4, FREQS.size) and r.w is None
    for i, z in enumerate(depths):
        np.testing.assert_allclose(r.u[i], velmar.transfer(p, FREQS, depth=z), rtol=REL_TOL, atol=REL_TOL)
        np.testing.assert_allclose(r.strain[i], velmar.transfer(p, FREQS, depth=z, quantity="strain"),
                                   rtol=REL_TOL, atol=REL_TOL)


def test_two_threads_give_the_same_arrays_as_one():
    n = 49
    p = velmar.Profile(thickness=np.full(n, 2.0), density=np.linspace(1.6, 2.4, n + 1),
                       vs=np.linspace(100.0, 1500.0, n + 1), damping=np.full(n + 1, 0.03))
    f = np.linspace(0.0, 50.0, 20000)
    alone = [velmar.transfer(p, f, depth=z) for z in (0.0, 30.0)]
    results = [None, None]
    barrier = threading.Barrier(2)

    def work(i):
        barrier.wait()
        results[i] = [velmar.transfer(p, f, depth=z) for z in (0.0, 30.0)]

    threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for r in results:
        for a, b in zip(r, alone):
            np.testing.assert_array_equal(a, b)
