"""The equivalent-linear analysis' defaults and small-strain damping
overrides: one curve for every layer, the law and strain limit an engineer
expects, damping_min, and the warning beyond 1 % effective strain."""

import warnings

import numpy as np
import pytest

import velmar


def motion(pga, n=2000, dt=0.01):
    t = np.arange(n) * dt
    a = np.exp(-0.5 * (t - 5.0) ** 2) * (np.sin(2 * np.pi * 2.1 * t) + 0.4 * np.sin(2 * np.pi * 5.3 * t))
    return velmar.Record(pga * a / np.abs(a).max(), dt)


def site():
    return velmar.Profile(thickness=[4, 6, 10, 0], density=[1.7, 1.8, 1.9, 2.3], vs=[120, 180, 260, 900],
                          damping=[0.03, 0.025, 0.02, 0.01])


def run(rec, p, curves, **kw):
    kw.setdefault("max_iterations", 100)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        return velmar.equivalent_linear(rec, p, curves, **kw)


def test_one_curve_serves_every_layer_and_equals_the_list():
    rec, p, c = motion(0.2), site(), velmar.Darendeli(pi=20)
    one, listed = run(rec, p, c), run(rec, p, [c] * p.layers)
    np.testing.assert_array_equal(one.max_strain, listed.max_strain)
    np.testing.assert_array_equal(one.damping, listed.damping)
    table = velmar.CurveTable(strain=[1e-6, 1e-4, 1e-2], g_ratio=[1.0, 0.8, 0.2], damping=[0.01, 0.05, 0.2])
    assert run(rec, p, table).g_ratio.shape == (p.layers,)
    with pytest.raises(ValueError, match="3 layers"):
        run(rec, p, [c, c])


def test_the_analysis_defaults_to_dormieux_unless_told():
    rec, p, c = motion(0.2), site(), velmar.Darendeli(pi=20)
    res = run(rec, p, c)
    assert res.profile.modulus == "dormieux"
    assert run(rec, p, c, modulus="velmar").profile.modulus == "velmar"
    # A law the profile names is kept.
    deckish = velmar.Profile(thickness=p.thickness, density=p.density, vs=p.vs, damping=p.damping, modulus="seed")
    assert run(rec, deckish, c).profile.modulus == "seed"
    # Linear calls keep the deck's law.
    assert velmar.propagate(rec, p).shape == (rec.accel.size,)


def test_damping_min_sets_the_small_strain_damping():
    weak, p = motion(1e-5), site()
    dar = velmar.Darendeli(pi=20)
    # Under weak shaking each layer's damping is the curve's value at zero strain.
    own = run(weak, p, dar).damping
    assert np.all(own > 0.005) and np.all(np.abs(own - 0.02) > 1e-3)
    np.testing.assert_allclose(run(weak, p, velmar.Darendeli(pi=20, damping_min=0.02)).damping, 0.02, atol=2e-5)
    np.testing.assert_allclose(run(weak, p, velmar.Menq(damping_min=0.015)).damping, 0.015, atol=2e-5)
    np.testing.assert_allclose(run(weak, p, dar, damping_min=0.012).damping, 0.012, atol=2e-5)
    np.testing.assert_allclose(run(weak, p, dar, damping_min="profile").damping, p.damping[:-1], atol=2e-5)
    # The override shifts the whole curve: under stronger shaking each layer
    # has the curve's hysteretic damping at its effective strain on top of it.
    res = run(motion(0.15), p, dar, damping_min=0.02)
    for i in range(p.layers):
        _, d = velmar.curve_values(dar, [0.0, 0.65 * res.max_strain[i]], res.mean_stress[i])
        assert res.damping[i] == pytest.approx(d[1] - d[0] + 0.02, rel=1e-9)
        assert res.damping[i] > 0.025


@pytest.mark.parametrize("make, match", [
    (lambda: velmar.Darendeli(damping_min=2.0), "looks like percent"),
    (lambda: velmar.Menq(damping_min=-0.01), r"\[0, 0\.5\)"),
    (lambda: run(motion(0.1), site(), velmar.Darendeli(), damping_min=5.0), "percent"),
    (lambda: run(motion(0.1), site(), velmar.Darendeli(), damping_min="site"), "'profile'"),
    (lambda: velmar.simulate(site(), motion(0.1), n=2, analysis="equivalent_linear", curves=velmar.Darendeli(),
                             damping_min=0.7), "damping_min"),
])
def test_bad_damping_min_is_refused(make, match):
    with pytest.raises(ValueError, match=match):
        make()


def test_effective_strain_above_one_percent_warns_and_points_to_nonlinear():
    soft = velmar.Profile(thickness=[6, 0], density=[1.7, 2.2], vs=[60, 800], damping=[0.02, 0.01])
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        res = velmar.equivalent_linear(motion(1.0), soft, velmar.Darendeli(pi=0), max_iterations=100)
    effective = 0.65 * res.max_strain[0]
    assert effective > 0.01
    text = [str(w.message) for w in caught if "effective strain" in str(w.message)]
    assert len(text) == 1 and "layer 1" in text[0] and "nonlinear" in text[0]
    assert any("nonlinear" in w for w in res.warnings)
    # Below the level nothing is said.
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        velmar.equivalent_linear(motion(0.05), soft, velmar.Darendeli(pi=0), max_iterations=100)
    assert not [w for w in caught if "effective strain" in str(w.message)]


def test_simulate_takes_the_analysis_defaults():
    p, rec = site(), motion(0.1)
    sims = velmar.simulate(p, rec, n=2, analysis="equivalent_linear", curves=velmar.Darendeli(pi=20),
                           damping_min="profile", progress=False)
    assert sims.inputs["modulus"] == "dormieux" and sims.inputs["strain_limit"] == 0.05
    assert velmar.simulate(p, rec, n=2, progress=False).inputs["modulus"] == "velmar"
