"""velmar.nonlinear: the weak-motion limit against velmar.propagate, the
result's methods and files, the energy balance, errors and refusals."""

import os
import pickle
import warnings

import numpy as np
import pytest

import velmar


def ricker(f=3.0, amplitude=0.1, n=4000, dt=0.005):
    t = np.arange(n) * dt
    x = (np.pi * f * (t - 3.0)) ** 2
    return velmar.Record(amplitude * (1 - 2 * x) * np.exp(-x), dt, units="g")


def column(xi=0.01):
    return velmar.Profile([10, 15, 20, 0], [1.8, 1.9, 2.0, 2.4], [150, 250, 400, 1000],
                          damping=[xi, xi, xi, 0.0], modulus="seed")


@pytest.mark.parametrize("base,inp", [("elastic", "outcrop"), ("rigid", "within")])
@pytest.mark.parametrize("viscous", ["frequency_independent", "rayleigh"])
def test_weak_motion_matches_propagate(base, inp, viscous):
    rec, p = ricker(), column(0.01)
    res = velmar.nonlinear(rec, p, curves=[None], base=base, input=inp, viscous=viscous)
    kw = {"input_depth": 45.0} if inp == "within" else {}
    for q, name in (("acceleration", "accel"), ("velocity", "velocity")):
        fd = velmar.propagate(rec, p, input=inp, quantity=q, **kw)
        td = res.motion(0.0, name)
        assert td.shape == fd.shape == (len(rec),)
        assert np.max(np.abs(td)) == pytest.approx(np.max(np.abs(fd)), rel=0.02)
    # Inside the column too (between nodes), against the frequency domain.
    fd = velmar.propagate(rec, p, input=inp, depth=12.3, **kw)
    assert np.max(np.abs(res.motion(12.3))) == pytest.approx(np.max(np.abs(fd)), rel=0.02)


def test_strong_motion_result():
    rec, p = ricker(2.0, 0.3, 3000), column(0.01)
    soils = [velmar.Darendeli(pi=0), velmar.Darendeli(pi=30), velmar.Menq()]
    res = velmar.nonlinear(rec, p, curves=soils, water_table=2.0, model="gqh", unload="mrdf")
    n = len(rec)
    assert res.accel.shape == (res.node_depth.size, n) and res.strain.shape == (3, n)
    e = res.energy
    assert e["balance_error"] < 1e-6
    out = e["kinetic"] + e["strain"] + e["viscous"] + e["hysteretic"] + e["radiation"]
    assert out == pytest.approx(e["input"], rel=1e-6)
    assert e["hysteretic"] > 0.0
    strain, stress = res.loop(0)
    assert np.max(np.abs(strain)) == res.max_strain[0] and np.max(np.abs(stress)) == res.max_stress[0]
    np.testing.assert_allclose(res.max_stress_ratio, res.max_stress / res.vertical_stress)
    # The surface node's history is motion(0); the base's peak is the last.
    np.testing.assert_array_equal(res.motion(0.0), res.accel[0])
    assert res.max_accel[-1] == pytest.approx(np.max(np.abs(res.motion(45.0))))
    # Soft ground under strong shaking: the soil takes a share of the work.
    assert all(m.model == "gqh" and m.tau_max > 0 for m in res.models)
    assert velmar.nonlinear(rec, p, curves=[None, soils[1], None], water_table=2.0).models[::2] == [None, None]
    sa = res.response_spectrum([0.1, 0.3, 1.0])
    assert sa.shape == (3,) and np.all(sa > 0)
    again = pickle.loads(pickle.dumps(res))
    np.testing.assert_array_equal(again.stress, res.stress)
    assert again.energy == res.energy
    # One curve for every layer is the same as the list of it.
    one = velmar.nonlinear(rec, p, curves=soils[0], water_table=2.0)
    three = velmar.nonlinear(rec, p, curves=[soils[0]] * 3, water_table=2.0)
    np.testing.assert_array_equal(one.accel, three.accel)


def test_peak_table_and_csv(tmp_path):
    rec, p = ricker(3.0, 0.05, 1500), column(0.02)
    res = velmar.nonlinear(rec, p, curves=velmar.Darendeli(pi=15), water_table=1.0, model="mkz", unload="masing")
    df = res.to_dataframe()
    assert list(df.columns) == list(velmar._nonlinear.PEAK_COLUMNS) and len(df) == 3
    assert list(df["layer"]) == [1, 2, 3]
    path = tmp_path / "peaks.csv"
    res.to_csv(path)
    back = np.genfromtxt(path, delimiter=",", names=True)
    np.testing.assert_allclose(back["max_strain"], res.max_strain, rtol=1e-15)
    # A folder is not overwritten; a file given as output is replaced whole.
    with pytest.raises(ValueError):
        res.to_csv(tmp_path)
    assert os.path.isdir(tmp_path)


def test_rigid_base_within_at_depth():
    rec, p = ricker(3.0, 0.02, 1500), column(0.02)
    with pytest.warns(RuntimeWarning, match="column ends"):
        res = velmar.nonlinear(rec, p, curves=velmar.Darendeli(), base="rigid", input="within", input_depth=20.0)
    assert res.layers == 2 and res.node_depth[-1] == 20.0
    np.testing.assert_allclose(res.motion(20.0), rec.accel, atol=1e-12)


def test_absurd_input_is_a_clear_error():
    rec, p = ricker(2.0, 0.4, 2000), column(0.01)
    with pytest.raises(RuntimeError, match=r"t = .* s .*scale 200"):
        velmar.nonlinear(rec, p, curves=velmar.Darendeli(), water_table=2.0, scale=200.0)
    with pytest.raises(RuntimeError, match="did not converge"):
        velmar.nonlinear(rec, p, curves=velmar.Darendeli(), water_table=2.0, scale=2.0, max_iterations=2)


@pytest.mark.parametrize("kwargs,words", [
    ({"base": "rigid"}, "within"),
    ({"input": "within"}, "rigid"),
    ({"base": "soft"}, "base"),
    ({"model": "hyperbolic"}, "model|mkz|gqh"),
    ({"unload": "x"}, "masing|mrdf"),
    ({"viscous": "modal"}, "viscous"),
    ({"curves": [velmar.Darendeli()] * 2}, "curves has 2"),
    ({"curves": "sand"}, "curves"),
    ({"curves": None}, "curves"),
    ({"strength": [10.0, 20.0]}, "strength has 2"),
    ({"strength": -5.0}, "strength"),
    ({"strength": 50.0, "model": "mkz"}, "MKZ"),
    ({"scale": float("nan")}, "scale"),
    ({"max_frequency": 0.0}, "max_frequency"),
    ({"input_depth": 3.0}, "input_depth"),
    ({"water_table": -1.0}, "water_table"),
    ({"rayleigh_frequencies": [1.0]}, "rayleigh"),
    ({"max_iterations": 2.5}, "max_iterations"),
])
def test_refusals(kwargs, words):
    rec, p = ricker(3.0, 0.01, 300), column()
    args = {"curves": velmar.Darendeli()}
    args.update(kwargs)
    with pytest.raises(ValueError, match=words):
        velmar.nonlinear(rec, p, **args)


def test_result_method_refusals():
    res = velmar.nonlinear(ricker(3.0, 0.01, 300), column(), curves=[None])
    with pytest.raises(ValueError, match="depth"):
        res.motion(46.0)
    with pytest.raises(ValueError, match="quantity"):
        res.motion(0.0, "strain")
    with pytest.raises(ValueError, match=r"layers 1 to 3"):
        res.loop(3)
    with pytest.raises(ValueError, match="integer"):
        res.loop(1.0)


def test_figures(tmp_path):
    matplotlib = pytest.importorskip("matplotlib")
    from matplotlib.figure import Figure
    from velmar import plot_nonlinear as pn

    rec, p = ricker(2.0, 0.3, 2000), column(0.01)
    soils = [velmar.Darendeli(pi=0), velmar.Darendeli(pi=30), velmar.Menq()]
    res = velmar.nonlinear(rec, p, curves=soils, water_table=2.0)
    eql = velmar.equivalent_linear(rec, p, curves=soils, water_table=2.0)
    fig = pn.plot_column_loops(res, [0, 2])
    assert isinstance(fig, Figure) and sum(ax.get_visible() for ax in fig.axes) == 2
    x, y = fig.axes[1].lines[0].get_data()
    np.testing.assert_allclose(x, 100.0 * res.strain[2])
    assert isinstance(pn.plot_column_loops(res), Figure)
    fig = pn.plot_column_peaks(res, eql)
    assert isinstance(fig, Figure) and len(fig.axes[1].lines) == 2
    fig.savefig(tmp_path / "peaks.png")
    assert (tmp_path / "peaks.png").stat().st_size > 0
    with pytest.raises(ValueError, match="layers 1 to 3"):
        pn.plot_column_loops(res, [5])
    with pytest.raises(ValueError, match="NonlinearResult"):
        pn.plot_column_peaks(eql)
    with pytest.raises(ValueError, match="EquivalentLinearResult"):
        pn.plot_column_peaks(res, eql=res)


def _band_gain(x, y, dt, lo, hi):
    n = 2 * len(x)
    f = np.fft.rfftfreq(n, dt)
    X, Y = np.fft.rfft(x, n), np.fft.rfft(y, n)
    m = (f >= lo) & (f < hi)
    return np.sqrt(np.sum(np.abs(Y[m]) ** 2) / np.sum(np.abs(X[m]) ** 2))


def test_weak_motion_with_a_broadband_record():
    # A record at 0.01 s carries content up to 50 Hz and is integrated in two
    # sub-steps per sample: the input between samples and the column's
    # dispersion must not filter what lies below max_frequency (25 Hz).
    p = velmar.Profile([4, 6, 10, 0], [1.7, 1.8, 1.9, 2.3], [120, 180, 260, 900],
                       damping=[0.01] * 3 + [0], modulus="seed")
    rng = np.random.default_rng(7)
    x = rng.standard_normal(4096) * 0.05
    x[-400:] = 0.0
    noise = velmar.Record(x, 0.01, units="g")
    td = velmar.nonlinear(noise, p, curves=[None])
    assert td.substeps == 2
    fd = velmar.propagate(noise, p)
    for lo in range(0, 25, 5):
        ratio = _band_gain(x, td.motion(), 0.01, max(lo, 0.5), lo + 5) / _band_gain(x, fd, 0.01, max(lo, 0.5), lo + 5)
        assert ratio == pytest.approx(1.0, abs=0.03 if lo < 20 else 0.05), (lo, ratio)
    path = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "accelerogram.txt")
    rec = velmar.read_record(path, dt=0.01, units="cm/s2")
    peak = np.max(np.abs(velmar.nonlinear(rec, p, curves=[None]).motion()))
    assert peak == pytest.approx(np.max(np.abs(velmar.propagate(rec, p))), rel=0.05)
    # Over a rigid base, the record as the total motion at the half-space's top.
    peak = np.max(np.abs(velmar.nonlinear(rec, p, curves=[None], base="rigid", input="within").motion()))
    assert peak == pytest.approx(np.max(np.abs(velmar.propagate(rec, p, input="within", input_depth=20.0))), rel=0.02)


def test_record_depth_inside_a_layer_warns():
    rec, p = ricker(3.0, 0.02, 1500), column(0.02)
    with pytest.warns(RuntimeWarning, match="inside layer 2: it is cut from 15 m to 10 m"):
        velmar.nonlinear(rec, p, curves=[None], base="rigid", input="within", input_depth=20.0)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        velmar.nonlinear(rec, p, curves=[None], base="rigid", input="within")
