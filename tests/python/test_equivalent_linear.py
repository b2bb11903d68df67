"""velmar.equivalent_linear and its curves, against independent numpy work."""

import math
import warnings

import numpy as np
import pytest

import velmar

PA = 101.325
G = 9.80665


def motion(pga, n=2000, dt=0.01):
    t = np.arange(n) * dt
    a = np.exp(-0.5 * (t - 5.0) ** 2) * (np.sin(2 * np.pi * 2.1 * t) + 0.4 * np.sin(2 * np.pi * 5.3 * t))
    return velmar.Record(pga * a, dt)


def padded_length(n):
    """The documented window: the smallest 2^k or 3 2^k at least 2 n."""
    p = 1 << int(math.ceil(math.log2(2 * n)))
    return 3 * p // 4 if p >= 4 and 3 * p // 4 >= 2 * n else p


def clay_site(**kw):
    return velmar.Profile(thickness=[4, 6, 10, 0], density=[1.7, 1.8, 1.9, 2.3], vs=[120, 180, 260, 900],
                          damping=[0.02, 0.02, 0.02, 0.01], **kw)


def eql(rec, p, **kw):
    """An analysis allowed the passes a soft site needs."""
    kw.setdefault("max_iterations", 100)
    return velmar.equivalent_linear(rec, p, **kw)


def clay_curves():
    return [velmar.Darendeli(pi=30.0), velmar.Darendeli(pi=20.0), velmar.Darendeli(pi=10.0)]


# --- curves written out from the published formulas (strain in percent) -----------------------

def darendeli_dmin(pi, ocr, sm, freq=1.0):
    return (0.8005 + 0.0129 * pi * ocr ** -0.1069) * (sm / PA) ** -0.2889 * (1 + 0.2919 * math.log(freq))


def darendeli_by_hand(strain, pi, ocr, sm, freq=1.0, cycles=10.0):
    gr = (0.0352 + 0.0010 * pi * ocr ** 0.3246) * (sm / PA) ** 0.3483
    dmin = darendeli_dmin(pi, ocr, sm, freq)
    return hyperbola_by_hand(100 * strain, gr, 0.9190, dmin, 0.6329 - 0.00566 * math.log(cycles))


def hyperbola_by_hand(gam, gr, a, dmin, b):
    g = 1.0 / (1.0 + (gam / gr) ** a)
    d1 = 100 / math.pi * (4 * (gam - gr * math.log((gam + gr) / gr)) / (gam ** 2 / (gam + gr)) - 2)
    c1 = -1.1143 * a * a + 1.8618 * a + 0.2523
    c2 = 0.0805 * a * a - 0.0710 * a - 0.0095
    c3 = -0.0005 * a * a + 0.0002 * a + 0.0003
    return g, (b * g ** 0.1 * (c1 * d1 + c2 * d1 ** 2 + c3 * d1 ** 3) + dmin) / 100


@pytest.mark.parametrize("strain", [3e-5, 2e-4, 1e-3, 5e-3])
@pytest.mark.parametrize("pi, ocr, sm", [(0.0, 1.0, 50.0), (30.0, 2.0, 200.0), (60.0, 4.0, 400.0)])
def test_darendeli_matches_the_formulas(strain, pi, ocr, sm):
    g, d = velmar.curve_values(velmar.Darendeli(pi=pi, ocr=ocr), [strain], sm)
    g0, d0 = darendeli_by_hand(strain, pi, ocr, sm)
    assert g[0] == pytest.approx(g0, rel=1e-12)
    assert d[0] == pytest.approx(d0, rel=1e-10)


@pytest.mark.parametrize("curve, sm, gr", [
    (velmar.Darendeli(pi=30.0), PA, 0.0652e-2),
    (velmar.Menq(cu=4.0, d50=3.0), PA, 0.12 * 4.0 ** -0.6 * 1e-2),
])
def test_half_modulus_at_the_reference_strain_and_minimum_damping_at_small_strain(curve, sm, gr):
    g, d = velmar.curve_values(curve, [gr, 1e-12, 0.0], sm)
    assert g[0] == pytest.approx(0.5, abs=1e-12)
    assert g[1] == pytest.approx(1.0, abs=1e-7)
    assert d[1] == pytest.approx(d[2], abs=1e-8)


# --- a one-layer analysis iterated by hand with numpy ------------------------------------------

def one_layer_by_hand(rec, h, rho, vs, rho_r, vs_r, pi, tol, max_it, ratio=0.65):
    """SH on one layer over an elastic half-space, outcrop input, the 'seed'
    law G* = G (1 - 2 i xi): strain at mid-depth per outcrop displacement is
    -k sin(k z) / (cos kH - i alpha sin kH), k = w / V*, alpha = rho V* / (rho_r V_r)."""
    n = rec.accel.size
    L = padded_length(n)
    w = 2 * np.pi * np.fft.rfftfreq(L, rec.dt)
    x = np.fft.rfft(np.asarray(rec.accel) * G, L)
    disp = np.zeros_like(x)
    disp[1:] = x[1:] / -(w[1:] ** 2)
    sm = 9.81 * rho * h / 2 * (1 + 2 * 0.5) / 3
    g, d = 1.0, darendeli_dmin(pi, 1.0, sm) / 100
    for it in range(1, max_it + 1):
        vstar = vs * math.sqrt(g) * np.sqrt(1 - 2j * d)
        k = w / vstar
        alpha = rho * vstar / (rho_r * vs_r)
        tf = -k * np.sin(k * h / 2) / (np.cos(k * h) - 1j * alpha * np.sin(k * h))
        peak = np.abs(np.fft.irfft(disp * tf, L)[:n]).max()
        g1, d1 = darendeli_by_hand(ratio * peak, pi, 1.0, sm)
        change = max(abs(g1 - g) / g1, abs(d1 - d) / d1)
        g, d = g1, d1
        if change < tol:
            break
    return it, peak, g, d


@pytest.mark.parametrize("pga, n", [(0.05, 2000), (0.2, 2000), (0.4, 2000), (0.2, 1400), (0.4, 2500)])
def test_one_layer_matches_a_plain_numpy_loop(pga, n):
    # 2000 samples are padded to 4096, 1400 to 3072 and 2500 to 6144.
    rec = motion(pga, n)
    p = velmar.Profile(thickness=[15.0, 0.0], density=[1.8, 2.2], vs=[160.0, 700.0], damping=[0.0, 0.0])
    res = velmar.equivalent_linear(rec, p, curves=[velmar.Darendeli(pi=15.0)], tolerance=1e-4,
                                   max_iterations=50, modulus="seed", iteration="plain")
    it, peak, g, d = one_layer_by_hand(rec, 15.0, 1.8, 160.0, 2.2, 700.0, 15.0, 1e-4, 50)
    assert res.converged
    assert res.iterations == it
    # The closed form and the library's sweep round differently at high
    # frequency, where the sines of complex phases are large.
    assert res.max_strain[0] == pytest.approx(peak, rel=1e-6)
    assert res.g_ratio[0] == pytest.approx(g, rel=1e-6)
    assert res.damping[0] == pytest.approx(d, rel=1e-6)


# --- behaviour of the analysis ----------------------------------------------------------------

def test_weak_motion_reproduces_the_linear_result():
    p = clay_site()
    table = velmar.CurveTable(strain=[1e-9, 1e-6, 1e-2], g_ratio=[1.0, 1.0, 0.3], damping=[0.02, 0.02, 0.15])
    rec = motion(1e-4)
    res = velmar.equivalent_linear(rec, p, curves=[table] * 3, modulus="velmar")  # the linear calls' law
    assert res.converged and res.iterations == 1
    np.testing.assert_array_equal(res.profile.vs, p.vs)
    lin = velmar.propagate(rec, p)
    np.testing.assert_allclose(velmar.propagate(rec, res.profile), lin, atol=1e-12 * np.abs(lin).max())
    for i in range(3):
        z = p.depth[i] + p.thickness[i] / 2
        strain = velmar.propagate(rec, p, depth=z, quantity="strain")
        assert res.max_strain[i] == pytest.approx(np.abs(strain).max(), rel=1e-9)


def test_result_fields_and_the_profile_carries_the_law():
    rec = motion(0.3)
    res = eql(rec, clay_site(), curves=clay_curves(), water_table=2.0, modulus="dormieux")
    for name in ("max_strain", "g_ratio", "damping", "mean_stress"):
        a = getattr(res, name)
        assert isinstance(a, np.ndarray) and a.shape == (3,)
    assert isinstance(res.converged, bool) and isinstance(res.iterations, int)
    assert np.all((res.g_ratio > 0) & (res.g_ratio < 1)) and np.all(res.damping > 0.02 * 0)
    assert res.strain_history.shape == (res.iterations, 3)
    assert res.profile.modulus == "dormieux"
    own = velmar.propagate(rec, res.profile)
    np.testing.assert_array_equal(own, velmar.propagate(rec, res.profile, modulus="dormieux"))
    other = velmar.propagate(rec, res.profile, modulus="velmar")
    assert not np.allclose(own, other)
    assert "converged" in repr(res)


def test_convergence_history_contracts_and_stops_below_the_tolerance():
    res = velmar.equivalent_linear(motion(0.1), clay_site(), curves=clay_curves(), water_table=2.0,
                                   tolerance=1e-3, max_iterations=100, iteration="plain")
    assert res.converged and res.change[-1] < 1e-3
    assert np.all(np.diff(res.change) < 0)


def test_non_convergence_warns_and_says_so():
    with pytest.warns(RuntimeWarning, match="did not converge"):
        res = velmar.equivalent_linear(motion(0.3), clay_site(), curves=clay_curves(), tolerance=1e-8,
                                       max_iterations=3)
    assert not res.converged and res.iterations == 3


def test_stronger_shaking_softens_and_damps_more():
    kw = dict(curves=clay_curves(), water_table=2.0)
    weak = eql(motion(0.05), clay_site(), **kw)
    strong = eql(motion(0.05), clay_site(), scale=6.0, **kw)
    assert np.all(strong.g_ratio < weak.g_ratio)
    assert np.all(strong.damping > weak.damping)
    assert np.all(strong.max_strain > weak.max_strain)


def test_p_waves_on_the_converged_profile():
    p = clay_site(vp=[400, 1500, 1600, 2000])
    res = eql(motion(0.2), p, curves=clay_curves(), water_table=4.0)
    assert res.profile.vp[0] / res.profile.vs[0] == pytest.approx(400 / 120)
    assert res.profile.vp[1] == 1500.0
    v = velmar.propagate(motion(0.2), res.profile, wave="P")
    assert np.all(np.isfinite(v)) and np.abs(v).max() > 0


def test_table_outside_its_strains_warns():
    table = velmar.CurveTable(strain=[1e-6, 1e-5], g_ratio=[1.0, 0.9], damping=[0.01, 0.02])
    with pytest.warns(RuntimeWarning, match="outside the curve table"):
        velmar.equivalent_linear(motion(0.3), clay_site(), curves=[table, None, None])


@pytest.mark.parametrize("make, error, match", [
    (lambda: velmar.CurveTable(strain=[1e-5, 1e-3], g_ratio=[1.0, 0.0], damping=[0.01, 0.1]), ValueError, "g_ratio"),
    (lambda: velmar.CurveTable(strain=[1e-5, 1e-3], g_ratio=[1.1, 0.5], damping=[0.01, 0.1]), ValueError, "g_ratio"),
    (lambda: velmar.CurveTable(strain=[1e-5, 1e-3], g_ratio=[1.0, 0.5], damping=[-0.01, 0.1]), ValueError, "damping"),
    (lambda: velmar.CurveTable(strain=[1e-3, 1e-5], g_ratio=[1.0, 0.5], damping=[0.01, 0.1]), ValueError, "strain"),
    (lambda: velmar.Darendeli(pi=-5.0), ValueError, "pi"),
    (lambda: velmar.Menq(cu=4.0, d50=0.0), ValueError, "d50"),
    (lambda: velmar.equivalent_linear(motion(0.1), clay_site(), curves=clay_curves()[:2]), ValueError, "curves"),
    (lambda: velmar.equivalent_linear(motion(0.1), clay_site(), curves=[1, 2, 3]), TypeError, "curves"),
    (lambda: velmar.equivalent_linear(motion(0.1), clay_site(), curves=clay_curves(), strain_ratio=0.0),
     ValueError, "strain_ratio"),
    (lambda: velmar.equivalent_linear(motion(0.1), clay_site(), curves=clay_curves(), input="borehole"),
     ValueError, "input"),
    (lambda: velmar.equivalent_linear(motion(1.5), clay_site(), curves=clay_curves(), strain_limit=1e-4),
     RuntimeError, "strain limit"),
])
def test_refused_inputs(make, error, match):
    with pytest.raises(error, match=match):
        make()


@pytest.mark.parametrize("make, match", [
    # Damping outside [0, 1) once came out of these (129.5, negative, 1.7e90).
    (lambda: velmar.Darendeli(pi=1e6), r"Darendeli: pi .* \[0, 200\]"),
    (lambda: velmar.Darendeli(cycles=1e308), r"Darendeli: cycles must lie in \[1, 1000\]"),
    (lambda: velmar.Darendeli(ocr=0.5), "ocr"),
    (lambda: velmar.Darendeli(frequency=1e300), "frequency"),
    (lambda: velmar.Menq(d50=1e-308), r"Menq: d50 .* \[0.05, 100\]"),
    (lambda: velmar.Menq(cu=0.5), r"Menq: cu"),
    (lambda: velmar.Menq(k0=True), "Menq.k0 must be a real number"),
    (lambda: velmar.CurveTable([1e-5, 1e-4, 1e-3], [1.0, 0.5, 0.8], [0.01, 0.02, 0.03]),
     r"g_ratio\[2\] must not rise with strain"),
    (lambda: velmar.curve_values(velmar.Darendeli(pi=200), [1e-3], mean_stress=1e-9), "does not hold"),
])
def test_curve_models_refused_outside_their_ranges(make, match):
    with pytest.raises(ValueError, match=match):
        make()


def test_analysis_names_the_layer_and_the_curve():
    bad = velmar.Darendeli(pi=20.0)
    object.__setattr__(bad, "pi", 1e6)  # past the constructor's check
    with pytest.raises(ValueError, match=r"curves\[1\] \(layer 2, Darendeli\): pi"):
        eql(motion(0.1), clay_site(), curves=[clay_curves()[0], bad, None])


@pytest.mark.parametrize("kwargs, match", [
    (dict(max_iterations=1.7), "max_iterations must be a whole number"),
    (dict(max_iterations=True), "max_iterations"),
    (dict(magnitude=6.5, strain_ratio=0.6), "magnitude or strain_ratio, not both"),
    (dict(input_depth=3.0), "not 'within'"),
    (dict(water_table=-5.0), "water_table"),
    (dict(tolerance=-1.0), "tolerance"),
    # An out-of-range count once became 1 sublayer per layer.
    (dict(max_frequency=1e300), "too many sublayers"),
    (dict(max_frequency=25.0, wavelength_fraction=1e-20), "too many sublayers"),
    (dict(max_frequency=1e12), "too many sublayers"),
])
def test_bad_options_refused_before_the_first_pass(kwargs, match):
    with pytest.raises(ValueError, match=match):
        eql(motion(0.1), clay_site(), curves=clay_curves(), **kwargs)


def test_sublayering_reports_per_given_layer():
    res = eql(motion(0.1), clay_site(), curves=clay_curves(), max_frequency=25.0)
    assert res.max_strain.shape == (3,)
    assert res.sublayers.sum() == res.profile.layers
    assert np.all(res.sublayers >= 1) and res.profile.layers > 3
    assert res.profile.depth[-1] == pytest.approx(20.0)


def test_magnitude_sets_the_strain_ratio():
    a = eql(motion(0.2), clay_site(), curves=clay_curves(), strain_ratio=0.55)
    b = eql(motion(0.2), clay_site(), curves=clay_curves(), magnitude=6.5)
    np.testing.assert_allclose(a.g_ratio, b.g_ratio, rtol=1e-14)


def test_figures_of_the_iteration_and_the_profiles():
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from velmar import plot_eql

    res = eql(motion(0.1), clay_site(), curves=clay_curves(), water_table=2.0, tolerance=1e-3)
    ax = plot_eql.plot_convergence(res, tolerance=1e-3).axes[0]
    np.testing.assert_allclose(ax.lines[0].get_ydata(), res.change)
    axes = plot_eql.plot_strain_compatible(res).axes
    assert [a.get_xlabel() for a in axes] == ["G/Gmax (ratio)", "damping (%)", "peak shear strain (%)"]
    assert axes[0].get_xlim()[0] == 0.0 and axes[1].get_xlim()[0] == 0.0  # both axes start at 0
    assert axes[0].get_ylim() == (20.0, 0.0)  # depth down to the half-space
    # Steps: every layer's value spans its top to its bottom.
    v, z = axes[0].lines[-1].get_data()
    np.testing.assert_allclose(z, [0, 4, 4, 10, 10, 20])
    np.testing.assert_allclose(v, np.repeat(res.g_ratio, 2))
    with pytest.raises(TypeError):
        plot_eql.plot_convergence(clay_site())
    plt.close("all")
