"""Randomised profiles and batches: statistics of the draws, the same numbers
however the work is split (threads, Dask worker processes, a worker killed
mid-batch), failures listed, results as an xarray Dataset and netCDF."""

import os
import signal
import threading
import time

import numpy as np
import pytest

import velmar

# Sampling allowance in standard errors (fixed seeds: a pass stays a pass).
SIGMAS = 4.5


def base_profile(layers=10, h=3.0):
    vs = np.append(180.0 + 15.0 * np.arange(layers), 1000.0)
    return velmar.Profile(thickness=np.append(np.full(layers, h), 0.0), density=np.full(layers + 1, 1.9),
                          vs=vs, damping=np.append(np.full(layers, 0.03), 0.01))


def pulse(amplitude=0.1, samples=1500, dt=0.01, name="pulse"):
    t = np.arange(samples) * dt
    return velmar.Record(amplitude * np.sin(2 * np.pi * 2.5 * t) * np.exp(-1.5 * t), dt, name=name)


def test_randomize_pure_function_of_seed_and_index():
    p = base_profile()
    a = velmar.randomize(p, n=6, seed=3)
    b = velmar.randomize(p, n=3, seed=3, first=3)
    assert len(a) == 6 and all(isinstance(x, velmar.Profile) for x in a)
    for x, y in zip(a[3:], b):
        np.testing.assert_array_equal(x.vs, y.vs)
        np.testing.assert_array_equal(x.thickness, y.thickness)
    assert not np.array_equal(a[0].thickness, velmar.randomize(p, n=1, seed=4)[0].thickness)
    kept = velmar.randomize(p, n=2, seed=3, vs_model=None, layering=False)
    np.testing.assert_array_equal(kept[1].vs, p.vs)


@pytest.mark.parametrize("model", ["USGS C", "Geomatrix AB", velmar.VelocityModel(0.25, 0.8, 5.0, 0.9, 0.0, 0.2)])
def test_draws_follow_the_velocity_model(model):
    p = base_profile(layers=12, h=2.5)
    n = 3000
    ln = np.log(np.array([q.vs for q in velmar.randomize(p, n=n, seed=8, vs_model=model, layering=False,
                                                          truncation=0.0)]) / p.vs)
    m = model if isinstance(model, velmar.VelocityModel) else velmar.VelocityModel.named(model)
    i, j = 4, 5  # mid-depths 11.25 and 13.75 m
    assert abs(ln[:, i].mean()) < SIGMAS * m.sigma_ln / np.sqrt(n)
    assert abs(ln[:, i].std() / m.sigma_ln - 1) < SIGMAS * np.sqrt(0.5 / n)
    z, t = 12.5, 2.5
    rho_d = m.rho_200 * ((z + m.z_0) / (200 + m.z_0)) ** m.b
    rho = (1 - rho_d) * m.rho_0 * np.exp(-t / m.delta) + rho_d
    assert abs(np.corrcoef(ln[:, i], ln[:, j])[0, 1] - rho) < SIGMAS * (1 - rho**2) / np.sqrt(n)
    np.testing.assert_array_equal(ln[:, -1], 0.0)  # the half-space keeps its velocity


def test_truncated_draws_keep_sigma_within_the_scaled_bound():
    p = base_profile(layers=3)
    n = 3000
    ln = np.log(np.array([q.vs for q in velmar.randomize(p, n=n, seed=2, layering=False)]) / p.vs)[:, :-1] / 0.31
    assert np.abs(ln).max() <= 2 * 1.13685 + 1e-9
    assert abs(ln[:, 0].std() - 1) < SIGMAS * np.sqrt(0.5 / n)


def test_mean_layer_count_is_the_expected_boundary_count():
    p = base_profile(layers=10, h=5.0)  # half-space at 50 m
    n = 3000
    layers = np.array([q.layers for q in velmar.randomize(p, n=n, seed=5, vs_model=None)])
    lam = velmar.LayeringModel().expected_boundaries(50.0)
    assert abs(layers.mean() - 1 - lam) < SIGMAS * np.sqrt(lam / n)


@pytest.mark.parametrize("kwargs, message", [
    (dict(n=0), "n must be"),
    (dict(seed=-1), "seed must be"),
    (dict(vs_model="USGS E"), "vs_model"),
    (dict(layering={"c4": 1.0}), "layering"),
    (dict(analysis="nonlinear"), "analysis"),
    (dict(analysis="equivalent_linear"), "needs curves"),
    (dict(periods=[0.1, -1.0]), r"periods\[1\]"),
    (dict(truncation=-1.0), "truncation"),
    (dict(chunk=0), "chunk"),
    (dict(analysis="equivalent_linear", curves=[None, None]), "one per layer of the base profile"),
])
def test_simulate_names_bad_arguments(kwargs, message):
    with pytest.raises(ValueError, match=message):
        velmar.simulate(base_profile(), [pulse()], **{"n": 2, **kwargs})


def tampered(curve, **fields):
    """A model curve with fields set past its constructor's check."""
    for name, value in fields.items():
        object.__setattr__(curve, name, value)
    return curve


@pytest.mark.parametrize("kwargs, message", [
    # Each of these once gave an all-NaN batch after running every realisation.
    (dict(tolerance=-1), "tolerance"),
    (dict(tolerance=0), "tolerance"),
    (dict(strain_ratio=0), "strain_ratio"),
    (dict(strain_ratio=2), "strain_ratio"),
    (dict(max_iterations=0), "max_iterations"),
    (dict(max_iterations=1.7), "max_iterations must be a whole number"),
    (dict(strain_limit=0), "strain_limit"),
    (dict(water_table=-5), "water_table"),
    (dict(input_depth=-1), "input_depth"),
    (dict(input_depth=4.0), "not 'within'"),
    (dict(periods=[]), "periods must hold at least one period"),
    (dict(curves=lambda: tampered(velmar.Menq(), d50=1e-308)), r"curves\[0\] \(layer 1, Menq\): d50"),
    (dict(truncation=1e-9), r"truncation must be 0 \(no truncation\) or finite and at least 0.1"),
    (dict(halfspace_sigma_ln=1e300), "halfspace_sigma_ln"),
    (dict(layering=velmar.LayeringModel(c3=1e12)), "layer boundaries"),
    (dict(layering=velmar.LayeringModel(c2=5.0)), "layer boundaries"),
])
def test_equivalent_linear_batch_refuses_bad_options_before_any_realisation(kwargs, message):
    if callable(kwargs.get("curves")):
        kwargs = {**kwargs, "curves": kwargs["curves"]()}
    options = {"analysis": "equivalent_linear", "curves": velmar.Darendeli(pi=20.0), "n": 10_000, **kwargs}
    start = time.monotonic()
    with pytest.raises(ValueError, match=message):
        velmar.simulate(base_profile(), [pulse()], **options)
    assert time.monotonic() - start < 2.0  # refused, not run


def test_a_period_too_short_for_a_record_is_refused_before_any_run():
    start = time.monotonic()
    with pytest.raises(ValueError, match=r"periods\[0\].*below 1e-9 dt"):
        velmar.simulate(base_profile(), [pulse()], n=10_000, periods=[1e-320, 0.1])
    assert time.monotonic() - start < 2.0  # refused, not run


def test_randomize_refuses_unbounded_parameters_and_ends_for_a_bounded_rate():
    p = base_profile()
    with pytest.raises(ValueError, match="truncation"):
        velmar.randomize(p, n=2, truncation=1e-9)
    with pytest.raises(ValueError, match="layer boundaries"):
        velmar.randomize(p, n=2, layering=velmar.LayeringModel(c3=1e12))
    # A rate whose integral is bounded (c2 < -1) once drew for ever.
    start = time.monotonic()
    ps = velmar.randomize(p, n=50, layering=velmar.LayeringModel(c2=-2.0))
    assert time.monotonic() - start < 2.0
    assert all(q.depth[-1] == pytest.approx(p.depth[-1]) for q in ps)


def test_any_number_of_threads_gives_the_same_numbers():
    p, recs = base_profile(), [pulse(0.1), pulse(0.3, name="b")]
    one = velmar.simulate(p, recs, n=16, seed=4, threads=1, strain_depths=[1.0, 10.0])
    two = velmar.simulate(p, recs, n=16, seed=4, threads=2, strain_depths=[1.0, 10.0])
    np.testing.assert_array_equal(one.psa, two.psa)
    np.testing.assert_array_equal(one.max_strain, two.max_strain)
    assert one.psa.shape == (16, 2, 100)
    assert np.all(np.isfinite(one.psa)) and not one.failures
    # A linear run is proportional to the record: three times the record, three times the PSA.
    np.testing.assert_allclose(one.psa[:, 1], 3 * one.psa[:, 0], rtol=1e-9)
    np.testing.assert_allclose(one.ratio[:, 1], one.ratio[:, 0], rtol=1e-9)


def test_progress_bar_steps_give_the_numbers_of_one_call(capsys):
    p, rec = base_profile(), pulse()
    whole = velmar.simulate(p, [rec], n=11, seed=2, threads=1, progress=False)
    stepped = velmar.simulate(p, [rec], n=11, seed=2, threads=1, progress=True)  # steps of 8 realisations
    np.testing.assert_array_equal(whole.psa, stepped.psa)
    assert "11/11" in capsys.readouterr().err


def test_failed_runs_are_listed_and_the_rest_computed():
    p = base_profile()
    sims = velmar.simulate(p, [pulse(0.1), pulse(1e306, name="huge")], n=5, seed=1, threads=2)
    assert [f[:2] for f in sims.failures] == [(r, 1) for r in range(5)]
    assert "not finite" in sims.failures[0][2]
    np.testing.assert_array_equal(sims.failed, [0, 5])
    assert np.all(np.isnan(sims.psa[:, 1])) and np.all(np.isfinite(sims.psa[:, 0]))
    stats = sims.statistics()
    np.testing.assert_array_equal(stats["pga"]["count"], [5, 0])


def test_dataset_and_netcdf_round_trip(tmp_path):
    p = base_profile()
    sims = velmar.simulate(p, [pulse()], n=8, seed=9, periods=[0.1, 0.3, 1.0], strain_depths=[2.0, 6.0])
    ds = sims.to_xarray(percentiles=[10, 90])
    assert dict(ds.sizes) == {"realisation": 8, "record": 1, "period": 3, "depth": 2, "percentile": 2}
    assert ds.attrs["seed"] == 9 and ds.attrs["vs_model"] == "USGS C"
    med = ds["psa_median"].values[0]
    np.testing.assert_allclose(med, np.median(sims.psa[:, 0], axis=0), rtol=1e-14)
    np.testing.assert_allclose(ds["psa_log_std"].values[0], np.log(sims.psa[:, 0]).std(axis=0, ddof=1),
                               rtol=1e-12)
    np.testing.assert_allclose(ds["pga_percentiles"].values[:, 0], np.percentile(sims.pga[:, 0], [10, 90]),
                               rtol=1e-14)
    path = tmp_path / "batch.nc"
    sims.to_netcdf(str(path))
    import xarray as xr
    with xr.open_dataset(path) as back:
        np.testing.assert_array_equal(back["psa"].values, sims.psa)
        assert back.attrs["layering"] == "[10.86, -0.89, 1.98]"


def test_equivalent_linear_batch_with_varied_curves():
    darendeli = velmar.Darendeli
    p = base_profile(layers=5)
    rec = pulse(0.2)
    kw = dict(n=4, seed=2, analysis="equivalent_linear", curves=darendeli(pi=20.0, ocr=1.0, k0=0.5),
              vary_curves=True, periods=[0.1, 0.5])
    one = velmar.simulate(p, [rec], threads=1, **kw)
    two = velmar.simulate(p, [rec], threads=2, **kw)
    np.testing.assert_array_equal(one.psa, two.psa)
    assert one.max_strain.shape == (4, 1, 5)
    assert np.all(np.isfinite(one.max_strain) | np.isnan(one.psa[:, :, :1]))


# --- Dask ------------------------------------------------------------------------------------------


@pytest.fixture(scope="module")
def client():
    distributed = pytest.importorskip("distributed")
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                       dashboard_address=None, silence_logs=40)
    c = distributed.Client(cluster)
    yield c
    c.close()
    cluster.close()


def test_dask_gives_the_numbers_of_one_process(client):
    p, recs = base_profile(), [pulse(0.1), pulse(0.2, name="b")]
    local = velmar.simulate(p, recs, n=30, seed=6, strain_depths=[4.0])
    dask = velmar.simulate(p, recs, n=30, seed=6, strain_depths=[4.0], client=client, chunk=4)
    np.testing.assert_array_equal(local.psa, dask.psa)
    np.testing.assert_array_equal(local.pga, dask.pga)
    np.testing.assert_array_equal(local.max_strain, dask.max_strain)
    np.testing.assert_array_equal(local.layers, dask.layers)


def test_a_worker_killed_mid_batch_leaves_every_realisation_once(client):
    # About a second of work on two idle cores; the kill comes 0.1 s after
    # the first task starts.
    p, rec = base_profile(layers=20), pulse(0.1, samples=8000)
    n = 300
    local = velmar.simulate(p, [rec], n=n, seed=12, threads=2)
    pids = list(client.run(os.getpid).values())
    killed = []

    def kill_when_busy():
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            busy = [w for w, keys in client.processing().items() if keys]
            if busy:
                time.sleep(0.1)
                os.kill(pids[0], signal.SIGKILL)
                killed.append(time.monotonic())
                return
            time.sleep(0.02)

    killer = threading.Thread(target=kill_when_busy)
    killer.start()
    dask = velmar.simulate(p, [rec], n=n, seed=12, client=client, chunk=6)
    finished = time.monotonic()
    killer.join()
    assert killed and killed[0] < finished, "no worker was killed during the batch"
    assert pids[0] not in client.run(os.getpid).values()
    np.testing.assert_array_equal(local.psa, dask.psa)
    assert not dask.failures
