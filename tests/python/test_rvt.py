"""RVT motions from Python: the names and signatures, units, pickling, refusals."""

import inspect
import pickle
import warnings

import numpy as np
import pytest

import velmar

PERIODS = np.logspace(-2, 1, 40)


def test_signatures_are_the_documented_ones():
    s = inspect.signature(velmar.SourceTheoryMotion)
    assert list(s.parameters)[:7] == ["magnitude", "distance", "region", "depth", "stress_drop", "kappa", "freqs"]
    assert s.parameters["magnitude"].default == 6.5 and s.parameters["distance"].default == 20.0
    assert s.parameters["region"].default == "wna" and s.parameters["depth"].default == 8.0
    s = inspect.signature(velmar.RvtMotion)
    assert list(s.parameters)[:7] == ["freqs", "fas", "duration", "peak", "magnitude", "distance", "region"]
    assert s.parameters["peak"].default == "V75"
    s = inspect.signature(velmar.CompatibleRvtMotion)
    assert list(s.parameters)[:8] == ["periods", "psa", "duration", "damping", "peak", "magnitude", "distance",
                                      "region"]
    assert issubclass(velmar.SourceTheoryMotion, velmar.RvtMotion)
    assert issubclass(velmar.CompatibleRvtMotion, velmar.RvtMotion)


def test_source_theory_motion_check_values_and_default_grid():
    m = velmar.SourceTheoryMotion(magnitude=6.0, distance=20.0, region="wna", depth=8.0)
    assert m.duration == pytest.approx(3.889, abs=5e-4)
    assert 1 / m.corner_freq == pytest.approx(2.813, abs=1e-3)
    assert m.distance == pytest.approx(np.hypot(20.0, 8.0))  # what the peak factors use
    assert m.freqs.size == 800 and m.freqs[0] == 0.005 and m.freqs[-1] == 300.0
    assert np.all(np.diff(np.log(m.freqs)) > 0) and np.allclose(np.diff(np.log(m.freqs)), np.log(60000) / 799)
    assert m.fas.shape == m.freqs.shape and np.all(m.fas > 0)
    psa = m.response_spectrum(PERIODS)
    assert isinstance(psa, np.ndarray) and psa.shape == PERIODS.shape
    assert psa[0] == pytest.approx(m.peak("accel"), rel=0.01)
    # PGV in m/s from a g-s spectrum: the velocity spectrum's peak times g.
    pgv = m.peak("velocity")
    v = velmar.RvtMotion(m.freqs, m.fas / (2 * np.pi * m.freqs), m.duration)
    assert pgv == pytest.approx(v.peak("accel") * 9.80665, rel=1e-12)
    cm = velmar.RvtMotion(m.freqs, m.fas * 980.665, m.duration, units="cm/s2")
    assert cm.peak("velocity") == pytest.approx(pgv, rel=1e-12)
    # Overrides reach the spectrum.
    k = velmar.SourceTheoryMotion(6.0, 20.0, kappa=0.02, stress_drop=50.0)
    assert k.kappa == 0.02 and k.stress_drop == 50.0
    assert not np.allclose(k.fas, m.fas)


def test_every_peak_method_runs_and_scenario_methods_need_magnitude_and_distance():
    m = velmar.SourceTheoryMotion(6.5, 30.0, "cena")
    for name in velmar.PEAK_METHODS:
        kw = dict(magnitude=6.5, distance=m.distance) if name in ("BT12", "BT15", "WR18") else {}
        r = velmar.RvtMotion(m.freqs, m.fas, m.duration, peak=name, region="cena", **kw)
        psa = r.response_spectrum([0.1, 1.0])
        assert np.all(np.isfinite(psa)) and np.all(psa > 0), name
        assert r.peak_method == name
    with pytest.raises(ValueError, match="needs the motion's magnitude and distance"):
        velmar.RvtMotion(m.freqs, m.fas, m.duration, peak="BT15")
    with pytest.raises(ValueError, match="magnitude must be within the BT12"):
        velmar.RvtMotion(m.freqs, m.fas, m.duration, peak="BT12", magnitude=3.0, distance=20.0)
    with pytest.raises(ValueError, match="V75, CLH56"):
        velmar.RvtMotion(m.freqs, m.fas, m.duration, peak="vanmarcke")
    # A source-theory motion carries its scenario into BT15.
    bt = velmar.SourceTheoryMotion(6.5, 30.0, "cena", peak="BT15")
    assert bt.magnitude == 6.5 and bt.peak_method == "BT15"
    assert not np.allclose(bt.response_spectrum([1.0]), m.response_spectrum([1.0]))


def test_compatible_motion_reports_its_fit_and_refuses_a_poor_one():
    src = velmar.SourceTheoryMotion(6.5, 25.0)
    target = src.response_spectrum(PERIODS)
    m = velmar.CompatibleRvtMotion(PERIODS, target, src.duration)
    assert isinstance(m, velmar.RvtMotion)
    assert 0 < m.iterations <= 30 and m.misfit <= 0.005
    assert np.allclose(m.response_spectrum(PERIODS), target, rtol=0.006)
    # A target whose short periods sit far below the peak acceleration the
    # rest implies cannot be met: an error naming the misfit, not a result.
    jagged = target.copy()
    jagged[:5] *= 0.3
    with pytest.raises(ValueError, match=r"% off the target at period"):
        velmar.CompatibleRvtMotion(PERIODS, jagged, src.duration)
    # Between tolerance and max_misfit: a result with a warning.
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        m = velmar.CompatibleRvtMotion(PERIODS, target, src.duration, max_iterations=1, max_misfit=5.0)
    assert m.iterations == 1 and m.misfit > 0.005
    assert any("above the tolerance" in str(w.message) for w in caught)


@pytest.mark.parametrize("make", [
    lambda: velmar.SourceTheoryMotion(6.0, 15.0, "cena", peak="BT15"),
    lambda: velmar.RvtMotion([0.1, 1.0, 10.0], [0.01, 0.02, 0.005], 7.5, peak="WR18", magnitude=6.0,
                             distance=20.0, site=((2.0, 5.0), 4.0)),
    lambda: velmar.CompatibleRvtMotion(PERIODS, velmar.SourceTheoryMotion().response_spectrum(PERIODS), 8.0),
])
def test_motions_pickle(make):
    m = make()
    back = pickle.loads(pickle.dumps(m))
    assert type(back) is type(m)
    assert np.array_equal(back.freqs, m.freqs) and np.array_equal(back.fas, m.fas)
    assert back.duration == m.duration and back.peak_method == m.peak_method and back.site == m.site
    assert np.array_equal(back.response_spectrum(PERIODS), m.response_spectrum(PERIODS))
    assert vars(back).keys() == vars(m).keys()


def test_bad_input_is_a_value_error_naming_the_value(tmp_path):
    f = np.array([0.1, 1.0, 10.0])
    a = np.array([0.01, 0.02, 0.005])
    cases = [
        (lambda: velmar.RvtMotion(f, a[:2], 5.0), "one amplitude per frequency"),
        (lambda: velmar.RvtMotion(f[::-1], a, 5.0), r"freqs\[1\]"),
        (lambda: velmar.RvtMotion(f, [0.01, np.nan, 0.0], 5.0), r"fas"),
        (lambda: velmar.RvtMotion(f, a, -1.0), "duration"),
        (lambda: velmar.RvtMotion(f, a, 5.0, region="europe"), "region"),
        (lambda: velmar.RvtMotion(f, a, 5.0).response_spectrum([0.1, 0.0]), r"periods\[1\]"),
        (lambda: velmar.RvtMotion(f, a, 5.0).response_spectrum([0.1], damping=0.0), "damping"),
        (lambda: velmar.RvtMotion(f, a, 5.0).peak("displacement"), "kind"),
        (lambda: velmar.SourceTheoryMotion(magnitude=11.0), "magnitude"),
        (lambda: velmar.SourceTheoryMotion(kappa=-0.1), "kappa"),
        (lambda: velmar.SourceTheoryMotion(distance="far"), "distance"),
        (lambda: velmar.CompatibleRvtMotion([0.1, 0.2], [0.5], 5.0), "one per period"),
        (lambda: velmar.RvtMotion(f, a, 5.0, peak="WR18", magnitude=6, distance=20, site=5.0), "site"),
        (lambda: velmar.RvtMotion(f, a, 5.0, peak="WR18", magnitude=6, distance=20, site=((3.0, 2.0), 4.0)),
         "site resonance freqs"),
    ]
    for make, pattern in cases:
        with pytest.raises(ValueError, match=pattern):
            make()
    # The spectrum file reader: lines named, values checked.
    good = tmp_path / "fas.txt"
    good.write_text("# f  fas\n0.1 0.01\n\n1.0 0.02\n10.0 0.005\n")
    m = velmar.read_rvt_spectrum(good, 6.0)
    assert np.array_equal(m.freqs, f) and np.array_equal(m.fas, a) and m.duration == 6.0
    bad = tmp_path / "bad.txt"
    bad.write_text("0.1 0.01\n1.0 abc\n")
    with pytest.raises(OSError, match="line 2"):
        velmar.read_rvt_spectrum(bad, 6.0)
    with pytest.raises(OSError):
        velmar.read_rvt_spectrum(tmp_path / "missing.txt", 6.0)
