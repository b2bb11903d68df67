"""Site response by random vibration theory: propagate and equivalent_linear
with an RvtMotion, vertical motion, batches."""

import warnings

import numpy as np
import pytest

import velmar

G = 9.80665


@pytest.fixture(scope="module")
def motion():
    return velmar.SourceTheoryMotion(magnitude=6.5, distance=20.0, region="wna")


@pytest.fixture(scope="module")
def profile():
    return velmar.Profile(thickness=[6.0, 10.0, 14.0, 0.0], density=[1.8, 1.9, 2.0, 2.4],
                          vs=[150.0, 250.0, 350.0, 1000.0], damping=[0.02, 0.02, 0.02, 0.01],
                          vp=[1500.0, 1600.0, 1700.0, 2000.0], damping_p=[0.01, 0.01, 0.01, 0.005])


def _curves(p):
    return [velmar.Darendeli(pi=20.0)] * p.layers


def _mids(p):
    return p.depth[:-1] + 0.5 * p.thickness[:-1]


def test_linear_surface_spectrum_is_the_transfer_function_times_the_input(motion, profile):
    surf = velmar.propagate(motion, profile)
    assert isinstance(surf, velmar.RvtMotion)
    h = velmar.transfer(profile, motion.freqs)
    np.testing.assert_allclose(surf.fas, motion.fas * np.abs(h) / 2.0, rtol=1e-12)
    assert surf.duration == motion.duration and surf.peak_method == motion.peak_method
    freqs, amp = surf.site
    assert 0 < freqs[0] < freqs[1] and amp > 1.0
    # Within at 16 m, and the input scaled.
    within = velmar.propagate(motion, profile, input="within", input_depth=16.0, scale=2.0, depth=6.0)
    h6, h16 = velmar.transfer(profile, motion.freqs, depth=6.0), velmar.transfer(profile, motion.freqs, depth=16.0)
    np.testing.assert_allclose(within.fas, 2.0 * motion.fas * np.abs(h6) / np.abs(h16), rtol=1e-9)


def test_weak_motion_iteration_equals_the_linear_analysis(motion, profile):
    res = velmar.equivalent_linear(motion, profile, curves=_curves(profile), water_table=2.0, scale=1e-7,
                                   modulus="dormieux")
    assert res.converged and res.iterations <= 2
    np.testing.assert_allclose(res.g_ratio, 1.0, atol=1e-6)
    # The linear profile: each curve's small-strain damping.
    xi = [velmar.curve_values(c, 0.0, s)[1] for c, s in zip(_curves(profile), res.mean_stress)]
    lin = velmar.Profile(thickness=profile.thickness, density=profile.density, vs=profile.vs,
                         damping=np.r_[xi, profile.damping[-1]], modulus="dormieux")
    a = res.motion(depth=0.0)
    b = velmar.propagate(motion, lin, scale=1e-7)
    np.testing.assert_allclose(a.fas, b.fas, rtol=1e-5)
    periods = np.logspace(-2, 1, 30)
    np.testing.assert_allclose(res.response_spectrum(periods), b.response_spectrum(periods), rtol=1e-5)


def test_peak_strain_against_a_direct_computation(motion, profile):
    res = velmar.equivalent_linear(motion, profile, curves=_curves(profile), water_table=2.0, strain_ratio=0.65,
                                   tolerance=1e-7, max_iterations=60, modulus="dormieux", input="outcrop")
    assert res.converged and res.iterations >= 3
    assert np.all(res.g_ratio < 0.95)
    w = 2 * np.pi * motion.freqs
    for i, z in enumerate(_mids(profile)):
        s = velmar.transfer(res.profile, motion.freqs, depth=z, quantity="strain")
        amp = np.abs(s) * motion.fas * G / w**2 / 2.0  # outcrop: half the motion is the incident wave
        assert res.max_strain[i] == pytest.approx(motion.peak_of(amp), rel=1e-5)
    assert res.strain_history.shape == (res.iterations, profile.layers)
    # A surface motion in m/s2 gives the same strains.
    ms2 = velmar.RvtMotion(motion.freqs, motion.fas * G, motion.duration, units="m/s2")
    again = velmar.equivalent_linear(ms2, profile, curves=_curves(profile), water_table=2.0, tolerance=1e-7,
                                     max_iterations=60, modulus="dormieux")
    np.testing.assert_allclose(again.max_strain, res.max_strain, rtol=1e-9)


def test_vertical_motion_by_p_waves_on_the_converged_profile(motion, profile):
    res = velmar.equivalent_linear(motion, profile, curves=_curves(profile), water_table=2.0, modulus="dormieux")
    up = velmar.propagate(motion, res.profile, wave="P", angle=0.0, depth=0.0, component="vertical")
    assert isinstance(up, velmar.RvtMotion)
    r = velmar.response(res.profile, motion.freqs, [0.0], wave="P")
    np.testing.assert_allclose(up.fas, motion.fas * np.abs(r.w[0]) / 2.0, rtol=1e-12)
    psa = up.response_spectrum(np.logspace(-2, 1, 20))
    assert np.all(np.isfinite(psa)) and np.all(psa > 0)
    assert up.peak("accel") < res.motion(0.0).peak("accel")
    # The result gives it too.
    np.testing.assert_allclose(res.motion(0.0, wave="P", component="vertical").fas, up.fas)


def test_bad_input_and_runaway_strains(motion, profile):
    with pytest.raises(ValueError, match="accel"):
        velmar.propagate(motion, profile, quantity="strain")
    with pytest.raises(ValueError):
        velmar.propagate(motion, profile, component="vertical")
    with pytest.raises(ValueError):
        velmar.propagate(motion, profile, depth=-1.0)
    with pytest.raises(ValueError, match="curves"):
        velmar.equivalent_linear(motion, profile, curves=_curves(profile)[:2])
    with pytest.raises(ValueError, match="tolerance"):
        velmar.equivalent_linear(motion, profile, curves=_curves(profile), tolerance=-1.0)
    with pytest.raises(RuntimeError, match="strains run away"):
        velmar.equivalent_linear(motion, profile, curves=_curves(profile), strain_limit=1e-5)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        res = velmar.equivalent_linear(motion, profile, curves=velmar.Darendeli(pi=20.0), max_iterations=1)
    assert not res.converged and any("did not converge" in str(w.message) for w in caught)


def test_simulate_with_rvt_motions(motion, profile):
    rec = velmar.Record(0.05 * np.sin(0.3 * np.arange(1500)), 0.01, units="g")
    s = velmar.simulate(profile, [motion, rec], n=4, seed=3, analysis="equivalent_linear",
                        curves=velmar.Darendeli(pi=20.0), water_table=2.0, modulus="dormieux", threads=1)
    assert s.psa.shape == (4, 2, 100) and not s.failures
    assert s.record_names[1].startswith("RVT")
    # Realisation 0 by hand: the RVT iteration on its profile.
    prof = velmar.randomize(profile, n=1, seed=3)[0]
    res = velmar.equivalent_linear(motion, prof, curves=[velmar.Darendeli(pi=20.0)] * prof.layers,
                                   water_table=2.0, modulus="dormieux")
    surf = res.motion(0.0)
    np.testing.assert_allclose(s.psa[0, 1], surf.response_spectrum(s.periods), rtol=1e-9)
    assert s.pga[0, 1] == pytest.approx(surf.peak("accel"), rel=1e-9)
    np.testing.assert_allclose(s.input_psa[1], motion.response_spectrum(s.periods), rtol=1e-9)
    # Linear, with peak strains at given depths.
    lin = velmar.simulate(profile, motion, n=2, seed=3, strain_depths=[3.0, 20.0], threads=1)
    assert np.all(lin.max_strain > 0) and np.all(np.isfinite(lin.psa))


def test_figures_of_an_rvt_analysis(motion, profile, tmp_path):
    import matplotlib.figure
    from velmar import plot_rvt

    res = velmar.equivalent_linear(motion, profile, curves=_curves(profile), water_table=2.0, modulus="dormieux")
    surf = res.motion(0.0)
    figs = [plot_rvt.plot_fourier_spectra(res), plot_rvt.plot_spectral_ratio(motion, surf),
            plot_rvt.plot_response_spectra(res, depth=6.0), plot_rvt.plot_rvt_convergence(res, 0.01)]
    for k, fig in enumerate(figs):
        assert isinstance(fig, matplotlib.figure.Figure)
        fig.savefig(tmp_path / f"f{k}.png")
        assert (tmp_path / f"f{k}.png").stat().st_size > 1000
    ratio_line = figs[1].axes[0].lines[0]
    np.testing.assert_allclose(ratio_line.get_ydata(), surf.fas / motion.fas)
    with pytest.raises(ValueError):
        plot_rvt.plot_fourier_spectra(motion)  # no output motion
    with pytest.raises(ValueError):
        plot_rvt.plot_rvt_convergence(motion)


def test_rvt_batch_on_dask_gives_the_numbers_of_one_process(motion, profile):
    distributed = pytest.importorskip("distributed")
    cluster = distributed.LocalCluster(n_workers=1, threads_per_worker=1, processes=True, dashboard_address=None,
                                       silence_logs=40)
    try:
        with distributed.Client(cluster) as client:
            ms2 = velmar.RvtMotion(motion.freqs, motion.fas * G, motion.duration, units="m/s2")
            kw = dict(n=6, seed=2, analysis="equivalent_linear", curves=velmar.Darendeli(pi=20.0), water_table=2.0)
            local = velmar.simulate(profile, [motion, ms2], threads=1, **kw)
            dask = velmar.simulate(profile, [motion, ms2], client=client, chunk=2, **kw)
    finally:
        cluster.close()
    np.testing.assert_array_equal(local.psa, dask.psa)
    np.testing.assert_array_equal(local.max_strain, dask.max_strain)
    # A motion in m/s2 gives its results in g like one in g.
    np.testing.assert_allclose(local.psa[:, 1], local.psa[:, 0], rtol=1e-12)
