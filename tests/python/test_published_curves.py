"""The published curve sets: their tables, closed forms, refusals, and their
use wherever a curve is accepted."""

import json
import math
import os
import pickle

import numpy as np
import pytest

import velmar

PA = 101.325
DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "data", "published_curves.json")

# Each catalogue name and the class call that selects it.
BY_NAME = {
    **{f"vucetic_dobry_1991_pi{pi}": velmar.VuceticDobry(pi=pi) for pi in (0, 15, 30, 50, 100, 200)},
    "seed_idriss_1970_sand_mean": velmar.SeedIdriss("mean"),
    "seed_idriss_1970_sand_upper": velmar.SeedIdriss(kind="upper"),
    "idriss_1990_clay": velmar.Idriss1990(),
    "idriss_1990_sand": velmar.Idriss1990(soil="sand"),
    "epri_1993_sand_0_20ft": velmar.EPRI93(depth="0-20ft"),
    "epri_1993_sand_20_50ft": velmar.EPRI93(depth="6-15m"),
    "epri_1993_sand_50_120ft": velmar.EPRI93(depth=20.0),
    "epri_1993_sand_120_250ft": velmar.EPRI93(depth="120-250 ft"),
    "epri_1993_sand_250_500ft": velmar.EPRI93(depth=100.0),
    "epri_1993_sand_500_1000ft": velmar.EPRI93(depth=304.8),
    **{f"epri_1993_pi{pi}": velmar.EPRI93(pi=pi) for pi in (10, 30, 50, 70)},
}


def published():
    with open(DATA) as f:
        return json.load(f)["curves"]


@pytest.mark.parametrize("entry", published(), ids=lambda e: e["name"])
def test_each_published_curve_reproduces_its_table(entry):
    curve = BY_NAME[entry["name"]]
    strain = np.array(entry["strain"])
    g, d = velmar.curve_values(curve, strain, 100.0)
    np.testing.assert_allclose(g, entry["g_ratio"], rtol=0, atol=1e-12)
    np.testing.assert_allclose(d, entry["damping"], rtol=0, atol=1e-12)
    # Between two rows the value is linear in log-strain (half-way at their
    # geometric mean).
    mid = np.sqrt(strain[:-1] * strain[1:])
    gm, dm = velmar.curve_values(curve, mid, 100.0)
    np.testing.assert_allclose(gm, 0.5 * (g[:-1] + g[1:]), atol=1e-12)
    np.testing.assert_allclose(dm, 0.5 * (d[:-1] + d[1:]), atol=1e-12)
    assert curve.source == entry["source"]
    for got, want in zip(curve.table(), (entry["strain"], entry["g_ratio"], entry["damping"])):
        np.testing.assert_array_equal(got, want)


def test_the_test_data_covers_the_catalogue():
    assert sorted(e["name"] for e in published()) == sorted(BY_NAME)
    assert sorted(n for n, _, _ in velmar._velmar.published_curves()) == sorted(BY_NAME)


# --- closed forms --------------------------------------------------------------------------------

ZHANG = {  # a, k, gr1 (percent) by age, from the paper's table
    "quaternary": lambda pi: (0.0021 * pi + 0.834, 0.316 * math.exp(-0.0142 * pi), 0.0011 * pi + 0.0749),
    "tertiary": lambda pi: (0.0009 * pi + 1.026, 0.316 * math.exp(-0.0110 * pi), 0.0004 * pi + 0.0311),
    "residual": lambda pi: (0.0043 * pi + 0.794, 0.420 * math.exp(-0.0456 * pi), 0.0009 * pi + 0.0385),
}


@pytest.mark.parametrize("age", sorted(ZHANG))
@pytest.mark.parametrize("pi,sm", [(0.0, 50.0), (25.0, 150.0), (80.0, 400.0)])
def test_zhang_half_modulus_at_its_reference_strain(age, pi, sm):
    a, k, gr1 = ZHANG[age](pi)
    gr = gr1 * (sm / PA) ** k / 100.0  # ratio
    dmin = (0.008 * pi + 0.82) * (sm / PA) ** (-k / 2) / 100.0
    c = velmar.ZhangAndrusJuang(age=age, pi=pi)
    g, d = velmar.curve_values(c, [0.0, gr, 3.0 * gr], sm)
    assert g[0] == 1.0 and d[0] == pytest.approx(dmin, abs=1e-15)
    assert g[1] == pytest.approx(0.5, abs=1e-13)
    assert d[1] == pytest.approx(dmin + (10.6 * 0.25 - 31.6 * 0.5 + 21.0) / 100.0, abs=1e-13)
    assert g[2] == pytest.approx(1.0 / (1.0 + 3.0**a), abs=1e-13)


@pytest.mark.parametrize("pi,ocr,sm", [(0.0, 1.0, 101.325), (30.0, 2.0, 200.0)])
def test_darendeli_half_modulus_at_its_reference_strain(pi, ocr, sm):
    gr = (0.0352 + 0.0010 * pi * ocr**0.3246) * (sm / PA) ** 0.3483 / 100.0
    g, _ = velmar.curve_values(velmar.Darendeli(pi=pi, ocr=ocr), [gr], sm)
    assert g[0] == pytest.approx(0.5, abs=1e-13)


STRAINS = [1e-6, 1e-5, 1e-4, 1e-3, 1e-2]


@pytest.mark.parametrize("cu,sm,g_ref,d_ref", [
    # pystrata 0.5's RollinsEtAlSoilType at the same strains (an independent implementation).
    (20.0, 150.0, [0.9926739843294512, 0.9514225574224906, 0.738971071554913, 0.29037902409821786,
                   0.055844732784260075],
     [0.010326344441891837, 0.013187173000323087, 0.036120429138680674, 0.10683970280178541,
      0.15253851176378797]),
    (None, 80.0, [0.990275847312064, 0.9363863031148101, 0.6802732483252206, 0.2352062043001991,
                  0.042561347899005536],
     [0.01045798158370935, 0.014432423522848986, 0.04399427546339873, 0.11693824864733195,
      0.1546335277894419]),
])
def test_rollins_matches_an_independent_implementation(cu, sm, g_ref, d_ref):
    g, d = velmar.curve_values(velmar.Rollins2020(cu=cu), STRAINS, sm)
    # (Its closed-form Masing damping loses a few digits to cancellation at
    # the smallest strains.)
    np.testing.assert_allclose(g, g_ref, rtol=1e-9)
    np.testing.assert_allclose(d, d_ref, rtol=1e-7)
    gr = (0.0046 * cu**-0.197 * sm**0.52 if cu else 0.0039 * sm**0.42) / 100.0
    assert velmar.curve_values(velmar.Rollins2020(cu=cu), [gr], sm)[0][0] == pytest.approx(0.5, abs=1e-13)


@pytest.mark.parametrize("sv,oc,g_ref,d_ref", [
    # pystrata 0.5's KishidaSoilType (vertical stress sv, organic content oc); it
    # normalises G by its value at 1e-6 rather than at zero strain.
    (50.0, 10.0, [1.0, 0.9966090784778644, 0.9641977317477715, 0.7407715512661466, 0.28229330903966343],
     [0.028836955906373488, 0.029372665272156272, 0.0342462480475518, 0.06253210893304889,
      0.12506894694687273]),
    (150.0, 60.0, [1.0, 0.9990656769663464, 0.9898898491761559, 0.9116240566837915, 0.5713106361295249],
     [0.02888585608626061, 0.029046363038318215, 0.03060185095947505, 0.042797930682597414,
      0.09049234976912215]),
])
def test_kishida_matches_an_independent_implementation(sv, oc, g_ref, d_ref):
    # k0 = 1: the mean stress is the vertical stress the model takes.
    g, d = velmar.curve_values(velmar.Kishida(organic_content=oc, k0=1.0), STRAINS, sv)
    np.testing.assert_allclose(g, g_ref, rtol=1e-3)
    np.testing.assert_allclose(d, d_ref, rtol=5e-3)
    # The same layer described by its mean stress with k0 = 0.5.
    g2, d2 = velmar.curve_values(velmar.Kishida(organic_content=oc, k0=0.5), STRAINS, sv * 2.0 / 3.0)
    np.testing.assert_allclose(g2, g, rtol=1e-13)
    np.testing.assert_allclose(d2, d, rtol=1e-13)


# --- refusals ------------------------------------------------------------------------------------

@pytest.mark.parametrize("make,match", [
    (lambda: velmar.VuceticDobry(pi=20), "one of the published values 0, 15, 30, 50, 100, 200"),
    (lambda: velmar.VuceticDobry(pi=True), "VuceticDobry.pi must be a real number"),
    (lambda: velmar.SeedIdriss(kind="lower"), "not in the catalogue"),
    (lambda: velmar.SeedIdriss(kind="best"), "SeedIdriss.kind"),
    (lambda: velmar.Idriss1990(soil="silt"), "Idriss1990.soil"),
    (lambda: velmar.EPRI93(), "exactly one of depth"),
    (lambda: velmar.EPRI93(depth=10.0, pi=30), "exactly one of depth"),
    (lambda: velmar.EPRI93(depth=400.0), r"\[0, 304.8\] m"),
    (lambda: velmar.EPRI93(depth=-1.0), r"\[0, 304.8\] m"),
    (lambda: velmar.EPRI93(depth=float("nan")), "finite"),
    (lambda: velmar.EPRI93(depth="3-9m"), "EPRI93.depth"),
    (lambda: velmar.EPRI93(pi=20), "10, 30, 50, 70"),
    (lambda: velmar.ZhangAndrusJuang(age="holocene"), "ZhangAndrusJuang.age"),
    (lambda: velmar.ZhangAndrusJuang(pi=-5.0), "pi"),
    (lambda: velmar.ZhangAndrusJuang(pi=250.0), "pi"),
    (lambda: velmar.ZhangAndrusJuang(k0=0.0), "k0"),
    (lambda: velmar.Kishida(organic_content=120.0), "organic_content"),
    (lambda: velmar.Kishida(organic_content=float("inf")), "organic_content"),
    (lambda: velmar.Rollins2020(cu=0.5), "cu"),
    (lambda: velmar.Rollins2020(cu=0), "cu"),
    (lambda: velmar.Rollins2020(cycles=0.0), "cycles"),
])
def test_parameters_outside_the_published_sets_are_refused(make, match):
    with pytest.raises(ValueError, match=match):
        make()


def test_an_unknown_library_curve_name_is_refused_naming_the_catalogue():
    with pytest.raises(ValueError, match="no curve named 'nonesuch'.*vucetic_dobry_1991_pi0"):
        velmar._velmar.check_curve(velmar._velmar.PublishedCurve(name="nonesuch"))


# --- wherever a curve is accepted ----------------------------------------------------------------

ONE_OF_EACH = [velmar.VuceticDobry(pi=50), velmar.SeedIdriss(), velmar.EPRI93(depth=12.0),
               velmar.ZhangAndrusJuang(age="tertiary", pi=15.0), velmar.Kishida(organic_content=40.0),
               velmar.Rollins2020(cu=8.0)]


def site():
    return velmar.Profile(thickness=[3, 5, 6, 4, 8, 6, 0], density=[1.8, 1.8, 1.9, 1.3, 2.0, 2.0, 2.3],
                          vs=[150, 180, 220, 90, 300, 350, 900], damping=[0.02] * 6 + [0.01])


def pulse(pga, n=1500, dt=0.01):
    t = np.arange(n) * dt
    return velmar.Record(pga * np.exp(-0.5 * (t - 4.0) ** 2) * np.sin(2 * np.pi * 3.0 * t), dt)


def test_pickled_curves_come_back_equal_and_equally_valued():
    for c in ONE_OF_EACH:
        back = pickle.loads(pickle.dumps(c))
        assert back == c
        np.testing.assert_array_equal(velmar.curve_values(back, STRAINS, 80.0)[1],
                                      velmar.curve_values(c, STRAINS, 80.0)[1])
    assert velmar.EPRI93(depth=10.0) == velmar.EPRI93(depth="20-50ft")


def test_equivalent_linear_with_every_kind_of_curve():
    res = velmar.equivalent_linear(pulse(0.25), site(), ONE_OF_EACH, water_table=2.0, max_iterations=60)
    assert res.converged
    assert np.all((res.g_ratio > 0) & (res.g_ratio <= 1)) and np.all(res.damping > 0)
    assert res.g_ratio.min() < 0.5
    # Each layer's properties are its curve's at its effective strain and mean stress.
    for i, c in enumerate(ONE_OF_EACH):
        g, d = velmar.curve_values(c, [0.65 * res.max_strain[i]], res.mean_stress[i])
        assert res.g_ratio[i] == pytest.approx(g[0], rel=1e-12)
        assert res.damping[i] == pytest.approx(d[0], rel=1e-12)


def test_simulate_takes_and_varies_the_published_curves():
    kw = dict(n=2, seed=5, analysis="equivalent_linear", curves=ONE_OF_EACH, periods=[0.1, 0.5], threads=1,
              max_iterations=60)
    plain = velmar.simulate(site(), [pulse(0.15)], **kw)
    varied = velmar.simulate(site(), [pulse(0.15)], vary_curves=True, **kw)
    assert np.all(np.isfinite(plain.psa)) and np.all(np.isfinite(varied.psa))
    assert not np.array_equal(plain.psa, varied.psa)
    kinds = [c[0] for c in plain.inputs["curves"]]
    assert kinds == ["published", "published", "published", "zhang_andrus_juang", "kishida", "rollins_2020"]


def test_curves_lists_every_set_and_the_json_route_reads_them(tmp_path):
    listed = velmar.curves()
    names = [c.name for c in listed]
    assert len(set(names)) == len(names)
    assert {"vucetic_dobry", "seed_idriss", "idriss_1990", "epri_1993", "zhang_andrus_juang", "kishida",
            "rollins_2020", "darendeli", "menq"} <= set(names)
    assert all(c.source and c.parameters for c in listed)

    from velmar._analysis import read_analysis
    rec = pulse(0.1)
    np.savetxt(tmp_path / "rec.txt", rec.accel)
    p = site()
    doc = {"record": {"file": "rec.txt", "dt": 0.01, "units": "g"},
           "profile": {"thickness": list(map(float, p.thickness)), "density": list(map(float, p.density)),
                       "vs": list(map(float, p.vs)), "damping": list(map(float, p.damping))},
           "curves": [{"model": "vucetic_dobry", "pi": 50}, {"model": "seed_idriss"},
                      {"model": "epri_1993", "depth": 12.0},
                      {"model": "zhang_andrus_juang", "age": "tertiary", "pi": 15},
                      {"model": "kishida", "organic_content": 40}, {"model": "rollins_2020", "cu": 8}],
           "analysis": {}}
    (tmp_path / "a.json").write_text(json.dumps(doc))
    a = read_analysis(str(tmp_path / "a.json"))
    assert a.curves == ONE_OF_EACH
    doc["curves"][0] = {"model": "vucetic_dobry", "pi": 20}
    (tmp_path / "b.json").write_text(json.dumps(doc))
    with pytest.raises(ValueError, match=r"curves\[0\] \(vucetic_dobry\).*published values"):
        read_analysis(str(tmp_path / "b.json"))


def test_library_curves_pickle_inside_batch_options_and_serve_as_logic_tree_branches():
    # The batch's options travel to Dask workers pickled, curves included.
    core = [c._core() for c in ONE_OF_EACH]
    opts = velmar._velmar.BatchOptions(curves=core)
    back = pickle.loads(pickle.dumps(opts))
    assert [type(c).__name__ for c in back.curves] == ["PublishedCurve"] * 3 + ["ZhangAndrusJuang", "Kishida",
                                                                                 "Rollins"]
    assert back.curves[0].name == "vucetic_dobry_1991_pi50" and back.curves[3].age == "tertiary"
    tree = velmar.LogicTree({"curve": {"values": [velmar.VuceticDobry(pi=30), velmar.Idriss1990()],
                                       "weights": [0.6, 0.4]}})
    out = tree.run(lambda leaf: velmar.curve_values(leaf["curve"], [1e-4], 100.0)[0][0])
    np.testing.assert_array_equal(out["value"].values, [0.9, 0.941])
    assert out["mean"].item() == pytest.approx(0.6 * 0.9 + 0.4 * 0.941)


# --- a layer beyond its table -------------------------------------------------------------------

def soft_site():
    p = site()
    vs = np.array(p.vs, dtype=float)
    vs[3] = 60.0
    return velmar.Profile(thickness=p.thickness, density=p.density, vs=vs, damping=p.damping)


def test_idriss_1990_ends_at_its_last_published_strain_and_warns_beyond_it():
    # Past 1 % the paper gives no value: the end values are used, and a layer
    # driven there is reported with the set's name and the strains it spans.
    for soil, g_end in (("clay", 0.238), ("sand", 0.08)):
        strain, g, d = velmar.Idriss1990(soil=soil).table()
        assert strain[-1] == 0.01 and g[-1] == g_end and d[-1] == 0.21
        gb, db = velmar.curve_values(velmar.Idriss1990(soil=soil), [0.01, 0.0316, 0.1], 100.0)
        np.testing.assert_array_equal(gb, [g_end] * 3)
        np.testing.assert_array_equal(db, [0.21] * 3)
    with pytest.warns(RuntimeWarning) as record:
        res = velmar.equivalent_linear(pulse(0.6), soft_site(), [velmar.Idriss1990(soil="sand")] * 6,
                                       max_iterations=60)
    assert 0.65 * res.max_strain[3] > 0.01 and res.g_ratio[3] == 0.08 and res.damping[3] == 0.21
    texts = [str(w.message) for w in record]
    assert ("layer 4: an effective strain fell outside the table of Idriss (1990), sand (tabulated from "
            "1e-06 (0.0001 %) to 0.01 (1 %)); its end values were used") in texts, texts
    assert not any(t.startswith("layer 1:") and "outside" in t for t in texts)


def test_the_warning_names_the_published_set_or_the_users_table():
    # A weak motion leaves every layer below the first tabulated strain.
    table = velmar.CurveTable(strain=[1e-5, 1e-3], g_ratio=[1.0, 0.8], damping=[0.01, 0.05])
    curves = [velmar.VuceticDobry(pi=30), table, velmar.EPRI93(depth="50-120ft"), None, None, None]
    with pytest.warns(RuntimeWarning) as record:
        velmar.equivalent_linear(pulse(1e-4), site(), curves)
    texts = sorted(str(w.message) for w in record)
    assert texts == [
        "layer 1: an effective strain fell outside the table of Vucetic and Dobry (1991), PI 30 % (tabulated "
        "from 1e-06 (0.0001 %) to 0.01 (1 %)); its end values were used",
        "layer 2: an effective strain fell outside the curve table (tabulated from 1e-05 (0.001 %) to "
        "0.001 (0.1 %)); its end values were used",
        "layer 3: an effective strain fell outside the table of EPRI (1993), sand, 50-120 ft (tabulated from "
        "1e-06 (0.0001 %) to 0.01 (1 %)); its end values were used",
    ], texts
