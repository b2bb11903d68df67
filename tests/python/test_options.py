"""Every option of the library reaches it from Python: the option structs of
velmar._velmar, the options `simulate` and `equivalent_linear` pass on, and
the checks made once, in the library, arriving as ValueError."""

import os
import pickle

import numpy as np
import pytest

import velmar
from velmar import _velmar

G = 9.80665


def site():
    return velmar.Profile(thickness=[4, 6, 10, 0], density=[1.7, 1.8, 1.9, 2.3], vs=[120, 180, 260, 900],
                          damping=[0.02, 0.02, 0.02, 0.01])


def curves():
    return [velmar.Darendeli(pi=30.0), velmar.Darendeli(pi=20.0), velmar.Darendeli(pi=10.0)]


def motion(pga=0.15, n=1500, dt=0.01):
    t = np.arange(n) * dt
    a = np.exp(-0.5 * (t - 4.0) ** 2) * (np.sin(2 * np.pi * 2.1 * t) + 0.4 * np.sin(2 * np.pi * 5.3 * t))
    return velmar.Record(pga * a, dt, name="pulse")


def base_case(**kw):
    """A batch of one realisation that is the base profile itself."""
    return velmar.simulate(site(), [motion()], n=1, vs_model=None, layering=False, threads=1, **kw)


# --- simulate: the options once lost on the way to the library --------------------------------

def test_simulate_angle_is_the_single_analysis_angle():
    p, rec = site(), motion()
    s = base_case(angle=35.0)
    surface = velmar.propagate(rec, p, angle=35.0)
    assert s.pga[0, 0] == pytest.approx(np.abs(surface).max(), rel=1e-9)
    assert s.inputs["angle"] == 35.0
    assert abs(base_case().pga[0, 0] - s.pga[0, 0]) > 1e-3 * s.pga[0, 0]


def test_simulate_magnitude_sets_the_strain_ratio_and_refuses_both():
    eql = dict(analysis="equivalent_linear", curves=curves(), max_iterations=50)
    by_magnitude = base_case(magnitude=6.5, **eql)
    by_ratio = base_case(strain_ratio=0.55, **eql)
    np.testing.assert_array_equal(by_magnitude.psa, by_ratio.psa)
    assert not np.array_equal(by_magnitude.psa, base_case(**eql).psa)  # 0.65 by default
    assert by_magnitude.inputs["magnitude"] == 6.5
    with pytest.raises(ValueError, match="magnitude or strain_ratio, not both"):
        base_case(magnitude=6.5, strain_ratio=0.55, **eql)


def test_simulate_sublayering_gives_the_single_analysis_strains():
    p, rec = site(), motion()
    s = base_case(analysis="equivalent_linear", curves=curves(), max_iterations=50, max_frequency=25.0,
                  wavelength_fraction=0.1)
    single = velmar.equivalent_linear(rec, p, curves(), max_iterations=50, max_frequency=25.0,
                                      wavelength_fraction=0.1)
    assert single.sublayers.sum() > p.layers
    np.testing.assert_allclose(s.max_strain[0, 0], single.max_strain, rtol=1e-9)
    coarse = base_case(analysis="equivalent_linear", curves=curves(), max_iterations=50)
    assert not np.allclose(s.max_strain, coarse.max_strain, rtol=1e-6)


def test_simulate_peaks_in_g_for_every_spelling_of_the_units():
    rec = motion()
    gal = velmar.Record(np.asarray(rec.accel) * 100.0 * G, rec.dt, units="gal")
    a = base_case()
    b = velmar.simulate(site(), [gal], n=1, vs_model=None, layering=False, threads=1)
    np.testing.assert_allclose(b.pga, a.pga, rtol=1e-12)
    np.testing.assert_allclose(b.input_psa, a.input_psa, rtol=1e-12)


# --- equivalent_linear: every option reaches the library --------------------------------------

def test_equivalent_linear_takes_every_option():
    p, rec = site(), motion(0.08)
    res = velmar.equivalent_linear(
        rec, p, curves(), water_table=3.0, magnitude=7.0, tolerance=0.005, max_iterations=40, modulus="seed",
        input="within", input_depth=20.0, scale=0.9, angle=20.0, strain_limit=0.05, max_frequency=20.0,
        wavelength_fraction=0.25)
    assert res.converged and res.profile.modulus == "seed"
    assert res.sublayers.sum() > p.layers
    assert np.all(np.isfinite(res.max_strain)) and np.all(res.g_ratio <= 1.0)
    # Each option changes the answer, so none is dropped on the way.
    plain = dict(max_iterations=40)
    reference = velmar.equivalent_linear(rec, p, curves(), **plain).max_strain
    for option in (dict(water_table=3.0), dict(magnitude=7.0), dict(modulus="seed"),
                   dict(input="within", input_depth=20.0), dict(scale=0.9), dict(angle=20.0),
                   dict(max_frequency=20.0), dict(input="incident")):
        changed = velmar.equivalent_linear(rec, p, curves(), **plain, **option).max_strain
        assert not np.allclose(changed, reference, rtol=1e-9, atol=0.0), option


@pytest.mark.parametrize("option, message", [
    (dict(angle=90.0), "angle must be strictly between -90 and 90 degrees, got 90"),
    (dict(max_frequency=20.0, wavelength_fraction=0.0), "wavelength_fraction must lie in (0, 1], got 0"),
    (dict(magnitude=0.5), "magnitude must lie in (1, 11], got 0.5"),
    (dict(strain_limit=float("nan")), "strain_limit must be finite"),
    (dict(scale=float("inf")), "scale must be finite, got inf"),
    (dict(tolerance=True), "tolerance must be a real number, got True"),
    (dict(water_table="2 m"), "water_table must be a real number, got '2 m'"),
    (dict(max_iterations=2**40), "max_iterations must lie in"),
    (dict(modulus="hardin"), "modulus must be one of 'velmar', 'seed', 'kramer', 'dormieux', got 'hardin'"),
])
def test_equivalent_linear_options_are_checked_once_by_the_library(option, message):
    with pytest.raises(ValueError) as info:
        velmar.equivalent_linear(motion(), site(), curves(), **option)
    assert message in str(info.value)


# --- the option structs ---------------------------------------------------------------------

def test_option_structs_check_their_fields_and_name_them():
    with pytest.raises(ValueError, match="tolerance must be a real number, got True"):
        _velmar.EquivalentLinearOptions(tolerance=True)
    with pytest.raises(ValueError, match="Menq.d50 must be a real number"):
        _velmar.Menq(d50="coarse")
    with pytest.raises(ValueError, match=r"seed must be an integer in \[0, 2\*\*64\)"):
        _velmar.BatchOptions(seed=-1)
    with pytest.raises(ValueError, match="input must be 'incident', 'outcrop' or 'within', got 'borehole'"):
        _velmar.PropagateOptions(input="borehole")
    with pytest.raises(TypeError, match="no field 'tolerence'.*tolerance"):
        _velmar.EquivalentLinearOptions(tolerence=0.1)
    with pytest.raises(TypeError, match=r"curves\[1\] must be velmar.Darendeli"):
        _velmar.EquivalentLinearOptions(curves=[None, "clay"])
    with pytest.raises(TypeError, match="el must be a velmar._velmar.EquivalentLinearOptions"):
        _velmar.BatchOptions(el={"tolerance": 0.1})


def test_option_structs_round_trip_through_pickle():
    o = _velmar.BatchOptions(
        randomize=_velmar.RandomizeOptions(velocity=_velmar.velocity_model("USGS B"),
                                           layering=_velmar.LayeringModel(c1=5.0),
                                           curves=_velmar.CurveVariation(rho_gd=-0.3)),
        seed=2**64 - 1, analysis="equivalent_linear", periods=[0.1, 1.0], spectral_damping=0.1,
        curves=[None, velmar.Menq(cu=4.0), velmar.CurveTable([1e-5, 1e-3], [1.0, 0.5], [0.01, 0.1])],
        el=_velmar.EquivalentLinearOptions(magnitude=6.0, input="within", input_depth=5.0, law="kramer"))
    back = pickle.loads(pickle.dumps(o))
    assert repr(back) == repr(o)
    assert back.seed == 2**64 - 1 and back.el.magnitude == 6.0 and back.el.law == "kramer"
    assert [type(c).__name__ for c in back.curves] == ["LinearLayer", "Menq", "CurveTable"]
    np.testing.assert_array_equal(back.curves[2].g_ratio, [1.0, 0.5])
    assert back.randomize.layering.c1 == 5.0 and back.randomize.curves.rho_gd == -0.3
    assert _velmar.BatchOptions().periods is None  # None: the default periods


# --- profiles and decks ---------------------------------------------------------------------

def test_quality_and_damping_columns_mix_without_a_round_trip():
    p = velmar.Profile(thickness=[5.0, 0.0], density=[1.8, 2.2], vs=[200.0, 900.0], qs=[8.0, 0.0],
                       vp=[400.0, 1800.0], damping_p=[0.03, 0.0])
    assert p.damping.tolist() == [1 / 16, 0.0]
    assert p.damping_p.tolist() == [0.03, 0.0]
    q = velmar.Profile(thickness=[5.0, 0.0], density=[1.8, 2.2], vs=[200.0, 900.0], damping=[0.07, 0.0],
                       vp=[400.0, 1800.0], qp=[20.0, np.inf])
    assert q.damping.tolist() == [0.07, 0.0] and q.damping_p.tolist() == [0.025, 0.0]


DECK = """out/result.txt
0 0.0
1 1 1
10.0 1.8 200.0 10.0 400.0 10.0
0.0 2.2 900.0 0.0 1800.0 0.0
0
0.5 20.0 0.5
"""


def test_reading_a_deck_writes_no_file_at_all(tmp_path, monkeypatch):
    (tmp_path / "deck.txt").write_text(DECK)
    scratch = tmp_path / "tmp"
    scratch.mkdir()
    monkeypatch.setenv("TMPDIR", str(scratch))
    monkeypatch.chdir(tmp_path)
    d = velmar.read_deck("deck.txt", units="gal")
    assert d.output == "out/result.txt" and d.freqs.size == 39
    assert sorted(os.listdir(tmp_path)) == ["deck.txt", "tmp"] and os.listdir(scratch) == []


def test_command_line_units_by_the_library_table(tmp_path, monkeypatch, capsys):
    import shutil

    from conftest import EXAMPLES
    from velmar.__main__ import main

    shutil.copytree(EXAMPLES, tmp_path / "examples", ignore=shutil.ignore_patterns("expected"))
    monkeypatch.chdir(tmp_path)
    assert main(["run", "examples/sh_signal.deck", "--csv", "--out", "a.csv", "--units", "gal"]) == 0
    assert main(["run", "examples/sh_signal.deck", "--csv", "--out", "b.csv", "--units", "cm/s2"]) == 0
    assert open("a.csv").read() == open("b.csv").read()
    with pytest.raises(SystemExit):
        main(["run", "examples/sh_signal.deck", "--csv", "--units", "ft/s2"])
    assert "--units must be 'g', 'm/s2' or 'cm/s2'" in capsys.readouterr().err
