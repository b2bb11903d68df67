"""Results that come out whole: the equivalent-linear result holds its input
and gives its motions; every result is a table (DataFrame, CSV) and pickles
and copies field for field; a batch says how many runs failed and why."""

import copy
import os
import pickle
import shutil

import numpy as np
import pandas as pd
import pytest

import velmar
from velmar.__main__ import main

from conftest import EXAMPLES, pulse_record


def soil():
    return velmar.Profile(thickness=[6.0, 10.0, 14.0, 0.0], density=[1.8, 1.9, 2.0, 2.3],
                          vs=[150.0, 250.0, 400.0, 1200.0], damping=[0.03, 0.02, 0.015, 0.01])


def run(rec=None, **kw):
    rec = rec if rec is not None else pulse_record()
    kw.setdefault("max_iterations", 40)
    return velmar.equivalent_linear(rec, soil(), [velmar.Darendeli(pi=20), velmar.Darendeli(pi=0),
                                                  velmar.Menq()], **kw)


@pytest.fixture
def record_file(tmp_path):
    """A record read from a file (its name is the file's)."""
    rec = pulse_record()
    path = tmp_path / "motion.txt"
    np.savetxt(path, np.column_stack([rec.time, rec.accel]))
    return velmar.read_record(str(path))


# --- the equivalent-linear result holds its input --------------------------------------------


@pytest.mark.parametrize("options", [
    dict(scale=0.5),
    dict(scale=2.0, input="within", input_depth=16.0, modulus="seed"),
    dict(input="incident", angle=20.0, modulus="kramer", strain_ratio=0.5),
])
def test_motion_uses_the_analysis_input_without_restating_it(options):
    rec = pulse_record()
    res = run(rec, **options)
    assert res.record is rec and res.scale == options.get("scale", 1.0)
    assert res.input == options.get("input", "outcrop") and res.angle == options.get("angle", 0.0)
    assert res.input_depth == options.get("input_depth", 0.0)
    assert res.modulus == res.profile.modulus == options.get("modulus", res.modulus)
    stated = {k: options[k] for k in ("scale", "input", "input_depth", "angle", "modulus") if k in options}
    for depth in (0.0, 7.5, 30.0):
        for q in ("accel", "velocity", "displacement"):
            expected = velmar.propagate(rec, res.profile, depth=depth, quantity=q, **stated)
            np.testing.assert_array_equal(res.motion(depth, q), expected)
    # Forgetting the scale in a follow-up propagate is what the result spares.
    if options.get("scale", 1.0) != 1.0:
        forgot = velmar.propagate(rec, res.profile, **{k: v for k, v in stated.items() if k != "scale"})
        assert np.max(np.abs(res.motion())) != pytest.approx(np.max(np.abs(forgot)), rel=0.1)


def test_motion_and_spectrum_have_the_record_units_length_and_step():
    rec = velmar.Record(np.asarray(pulse_record().accel) * 981.0, 0.01, "cm/s2")
    res = run(rec, scale=0.5)
    m = res.motion()
    assert m.shape == (len(rec),)
    rs = res.response_spectrum(periods=[0.1, 0.5, 1.0], damping=0.02)
    assert rs.units == "cm/s2" and rs.damping == 0.02
    np.testing.assert_array_equal(rs.psa, velmar.spectra(m, rec.dt, [0.1, 0.5, 1.0], 0.02).psa)
    deep = res.response_spectrum(depth=16.0)
    np.testing.assert_array_equal(deep.psa, velmar.spectra(res.motion(16.0), rec.dt).psa)
    h = res.history(depth=6.0, quantity="velocity")
    df = h.to_dataframe()
    assert list(df.columns) == ["time (s)", "velocity (m/s)"]
    np.testing.assert_array_equal(df["velocity (m/s)"], res.motion(6.0, "velocity"))
    with pytest.raises(ValueError, match="quantity"):
        res.motion(0.0, "pressure")
    with pytest.raises(ValueError, match="depth"):
        res.motion(-1.0)


# --- tables ------------------------------------------------------------------------------------


def _read_back(obj, path, **kw):
    written = obj.to_csv(str(path), **kw)
    assert written == str(path)
    assert not [f for f in os.listdir(path.parent) if ".velmar-" in f]  # no temporary file left
    return pd.read_csv(path, float_precision="round_trip")


def test_layer_table_reads_back_exactly_and_holds_the_layer_values(tmp_path):
    res = run(scale=0.8)
    df = res.to_dataframe()
    pd.testing.assert_frame_equal(_read_back(res, tmp_path / "layers.csv"), df, check_exact=True)
    p = soil()
    np.testing.assert_array_equal(df["layer"], [1, 2, 3])
    np.testing.assert_array_equal(df["depth top (m)"], [0, 6, 16])
    np.testing.assert_array_equal(df["depth bottom (m)"], [6, 16, 30])
    np.testing.assert_array_equal(df["depth middle (m)"], [3, 11, 23])
    np.testing.assert_array_equal(df["thickness (m)"], p.thickness[:3])
    np.testing.assert_array_equal(df["vs low-strain (m/s)"], p.vs[:3])
    np.testing.assert_array_equal(df["vs strain-compatible (m/s)"], p.vs[:3] * np.sqrt(res.g_ratio))
    np.testing.assert_array_equal(df["G/Gmax"], res.g_ratio)
    np.testing.assert_array_equal(df["damping (ratio)"], res.damping)
    np.testing.assert_array_equal(df["max strain (ratio)"], res.max_strain)
    np.testing.assert_allclose(df["max strain (%)"], 100 * res.max_strain, rtol=1e-15)
    np.testing.assert_allclose(df["effective strain (%)"], 65 * res.max_strain, rtol=1e-15)
    np.testing.assert_array_equal(df["mean effective stress (kPa)"], res.mean_stress)


def test_profile_table_has_a_half_space_row(tmp_path):
    p = velmar.Profile(thickness=[5.0, 0.0], density=[1.8, 2.2], vs=[200.0, 900.0], damping=[0.05, 0.0],
                       vp=[500.0, 2000.0], modulus="seed")
    df = p.to_dataframe()
    back = _read_back(p, tmp_path / "profile.csv")
    pd.testing.assert_frame_equal(back, df, check_exact=True)
    assert list(df["half-space"]) == [False, True]
    assert df["depth bottom (m)"].tolist()[0] == 5.0 and np.isnan(df["depth bottom (m)"].iloc[1])
    assert np.isnan(df["thickness (m)"].iloc[1])
    np.testing.assert_array_equal(df["vp (m/s)"], p.vp)
    assert df.attrs["modulus"] == "seed"


def test_spectra_histories_peaks_and_records_are_tables(tmp_path):
    rec = pulse_record()
    rs = velmar.spectra(rec, periods=[0.1, 0.2, 1.0])
    df = _read_back(rs, tmp_path / "rs.csv")
    assert list(df.columns) == ["period (s)", "frequency (Hz)", "sd (g s2)", "psv (g s)", "psa (g)"]
    np.testing.assert_array_equal(df["psa (g)"], rs.psa)
    plain = velmar.spectrum_table([0.1, 0.2, 1.0], velmar.response_spectrum(rec, periods=[0.1, 0.2, 1.0]))
    np.testing.assert_array_equal(plain["psa (g)"], rs.psa)
    with pytest.raises(ValueError, match="psa has 2 values where periods has 3"):
        velmar.spectrum_table([0.1, 0.2, 1.0], [1.0, 2.0])
    pp = velmar.peak_profile(rec, soil())
    np.testing.assert_array_equal(_read_back(pp, tmp_path / "peaks.csv")["stress (kPa)"], pp.stress)
    back = _read_back(rec, tmp_path / "rec.csv")
    np.testing.assert_array_equal(back["accel (g)"], rec.accel)
    # read_record reads the file back as time, value pairs.
    again = velmar.read_record(str(tmp_path / "rec.csv"))
    np.testing.assert_array_equal(again.accel, rec.accel)
    assert again.dt == pytest.approx(rec.dt, rel=1e-12)


def test_to_csv_refuses_the_record_file_and_replaces_other_files_whole(record_file, tmp_path):
    res = run(record_file)
    before = open(record_file.name).read()
    for obj in (res, res.history(), res.response_spectrum(), record_file):
        with pytest.raises(ValueError, match="the record file"):
            obj.to_csv(record_file.name)
    assert open(record_file.name).read() == before
    # A symbolic link to it is the same file.
    os.symlink(record_file.name, tmp_path / "link.csv")
    with pytest.raises(ValueError, match="the record file"):
        res.to_csv(str(tmp_path / "link.csv"))
    # An existing output is replaced whole.
    out = tmp_path / "old.csv"
    out.write_text("x" * 100000)
    res.to_csv(str(out))
    assert pd.read_csv(out).shape[0] == 3
    with pytest.raises(ValueError, match="folder"):
        res.to_csv(str(tmp_path))


# --- pickling and copying ----------------------------------------------------------------------


def _same(a, b, path="value"):
    """Every field of a result equal, recursively (arrays bit for bit)."""
    assert type(a) is type(b), path
    if isinstance(a, np.ndarray):
        np.testing.assert_array_equal(a, b, err_msg=path)
        assert a.dtype == b.dtype and a.flags.writeable == b.flags.writeable, path
    elif isinstance(a, velmar.Profile):
        for f in ("thickness", "density", "vs", "damping", "vp", "damping_p", "modulus", "depth"):
            _same(getattr(a, f), getattr(b, f), f"{path}.{f}")
    elif isinstance(a, velmar.Record):
        for f in ("accel", "dt", "units", "name"):
            _same(getattr(a, f), getattr(b, f), f"{path}.{f}")
    elif isinstance(a, (list, tuple)):
        assert len(a) == len(b), path
        for i, (x, y) in enumerate(zip(a, b)):
            _same(x, y, f"{path}[{i}]")
    elif isinstance(a, dict):
        assert a.keys() == b.keys(), path
        for k in a:
            _same(a[k], b[k], f"{path}[{k!r}]")
    elif hasattr(a, "_fields") and not isinstance(a, tuple):  # a library options struct
        for f in a._fields:
            _same(getattr(a, f), getattr(b, f), f"{path}.{f}")
    elif hasattr(a, "__dict__") and not isinstance(a, (str, int, float)):
        _same(vars(a), vars(b), path)
    elif isinstance(a, float) and np.isnan(a):
        assert np.isnan(b), path
    else:
        assert a == b, path
        if isinstance(a, str):  # a str with fields (SiteClass)
            _same(getattr(a, "__dict__", {}), getattr(b, "__dict__", {}), path)


COPIES = {"pickle": lambda x: pickle.loads(pickle.dumps(x, protocol=pickle.HIGHEST_PROTOCOL)),
          "pickle-2": lambda x: pickle.loads(pickle.dumps(x, protocol=2)),
          "copy": copy.copy, "deepcopy": copy.deepcopy}


@pytest.mark.parametrize("how", COPIES)
def test_results_pickle_and_copy_field_for_field(how, tmp_path):
    again = COPIES[how]
    rec = pulse_record()
    res = run(rec, scale=0.7, modulus="dormieux", max_frequency=20.0)
    curves = [velmar.CurveTable([1e-6, 1e-4, 1e-2], [1.0, 0.8, 0.2], [0.01, 0.05, 0.2]),
              velmar.Darendeli(pi=15), None]
    sims = velmar.simulate(soil(), rec, n=4, threads=1, periods=[0.1, 1.0])
    p = soil()
    objects = [p, velmar.Profile(thickness=[5.0, 0.0], density=[1.8, 2.2], vs=[200.0, 900.0], vp=[600.0, 2000.0],
                                 qp=[20.0, 0.0], modulus="kramer"),
               rec, res, curves, sims, velmar.spectra(rec), velmar.peak_profile(rec, p),
               velmar.intensity_measures(rec), p.site_class(), p.fundamental_frequency(), res.history(8.0)]
    for obj in objects:
        _same(obj, again(obj), type(obj).__name__)
    copied = again(res)
    np.testing.assert_array_equal(copied.motion(), res.motion())
    assert copied.to_dataframe().equals(res.to_dataframe())
    c = again(curves[0])
    assert not c.strain.flags.writeable
    r = again(rec)
    with pytest.raises(ValueError):
        r.accel[0] = 1.0


def test_a_deck_profile_in_kg_per_m3_pickles(tmp_path):
    deck = open(os.path.join(EXAMPLES, "sh_transfer_clay_sand_rock.deck")).read()
    for t, kg in (("1.70", "1700"), ("1.90", "1900"), ("2.05", "2050"), ("2.40", "2400")):
        deck = deck.replace(f" {t} ", f" {kg} ", 1)
    path = tmp_path / "kg.deck"
    path.write_text(deck)
    p = velmar.read_deck(str(path)).profile
    assert p.density[0] == 1700.0
    for how, again in COPIES.items():
        q = again(p)
        _same(p, q, how)
        f = np.linspace(0.1, 20.0, 50)
        np.testing.assert_array_equal(velmar.transfer(q, f), velmar.transfer(p, f))
    assert p.to_dataframe().columns[5] == "density (as given)"
    # A profile pickled by an earlier version (its table) still loads.
    from velmar._profile import _rebuild
    _same(_rebuild(np.array(soil().thickness), np.array(soil().density), np.array(soil().vs),
                   np.array(soil().damping), None, None, None), soil())


# --- batch failures ----------------------------------------------------------------------------


@pytest.fixture(scope="module")
def failing_batch():
    """An equivalent-linear batch where runs of both records miss
    convergence in 4 passes (most of the stronger one's) and others converge."""
    rec = velmar.Record(np.asarray(pulse_record().accel) * 0.3, 0.01, name="strong")
    weak = velmar.Record(np.asarray(pulse_record().accel) * 0.05, 0.01, name="weak")
    return velmar.simulate(soil(), [rec, weak], n=24, threads=1, periods=[0.1, 0.5, 2.0],
                           analysis="equivalent_linear", curves=velmar.Darendeli(), max_iterations=4)


def test_a_batch_counts_its_failures_by_reason_and_masks_them(failing_batch, tmp_path):
    s = failing_batch
    n = s.psa.shape[0]
    failed = s.failed
    assert 0 < failed[1] < failed[0] < n and failed[0] + failed[1] == len(s.failures)
    summary = s.failure_summary()
    assert summary == {"did not converge within max_iterations": len(s.failures)}
    assert f"{len(s.failures)} failed" in repr(s) and "did not converge" in repr(s)
    m = s.masked("psa")
    assert isinstance(m, np.ma.MaskedArray)
    np.testing.assert_array_equal(m.mask.any(axis=2), s.failed_runs)
    np.testing.assert_array_equal(s.failed_runs.sum(axis=0), failed)
    np.testing.assert_array_equal(s.pga_masked.mask, s.failed_runs)
    with pytest.raises(ValueError, match="'psa'"):
        s.masked("sd")
    stats = s.statistics()
    for name in ("psa", "ratio"):
        np.testing.assert_array_equal(stats[name]["count"], (n - failed)[:, None] * np.ones((1, 3), dtype=int))
        np.testing.assert_array_equal(stats[name]["failed"], failed[:, None] * np.ones((1, 3), dtype=int))
    np.testing.assert_array_equal(stats["pga"]["count"], n - failed)
    # The median is the masked array's, over the runs that succeeded.
    ok = ~s.failed_runs[:, 0]
    np.testing.assert_allclose(stats["psa"]["median"][0], np.median(s.psa[ok, 0, :], axis=0), rtol=1e-14)
    np.testing.assert_allclose(stats["psa"]["median"][0], np.ma.median(m[:, 0, :], axis=0), rtol=1e-14)

    df = s.to_dataframe()
    back = pd.read_csv(s.to_csv(str(tmp_path / "stats.csv")), float_precision="round_trip")
    pd.testing.assert_frame_equal(back, df, check_dtype=False)
    assert list(df["record name"]) == ["strong"] * 3 + ["weak"] * 3
    np.testing.assert_array_equal(df["runs used"], np.repeat(n - failed, 3))
    np.testing.assert_array_equal(df["runs failed"], np.repeat(failed, 3))
    np.testing.assert_array_equal(df["psa p84 (g)"], stats["psa"]["percentiles"][1].reshape(-1))
    np.testing.assert_array_equal(df["ratio ln std"], stats["ratio"]["log_std"].reshape(-1))

    ds = s.to_xarray()
    np.testing.assert_array_equal(ds["psa_count"].values, stats["psa"]["count"])
    np.testing.assert_array_equal(ds["failed_count"].values, failed)
    assert ds.attrs["failed_runs"] == len(s.failures)
    assert "did not converge" in ds.attrs["failure_summary"]


def test_a_batch_without_failures_says_so():
    s = velmar.simulate(soil(), pulse_record(), n=3, threads=1, periods=[0.2])
    assert s.failure_summary() == {} and not s.masked().mask.any()
    assert repr(s).endswith("0 failed)")
    assert s.to_dataframe()["runs used"].tolist() == [3]


def test_unknown_failure_messages_are_grouped_without_their_numbers():
    from velmar._batch import failure_reason
    assert failure_reason("layer 3: the curve gives G/Gmax 1.2e-3") == failure_reason("layer 7: the curve gives "
                                                                                      "G/Gmax 0.5")
    assert failure_reason("strains run away: the peak strain in layer 2 is 0.2") == \
        "strains ran away (beyond strain_limit in two passes)"


# --- the JSON command-line route ---------------------------------------------------------------


@pytest.fixture
def workdir(tmp_path, monkeypatch):
    shutil.copytree(EXAMPLES, tmp_path / "examples", ignore=shutil.ignore_patterns("expected"))
    monkeypatch.chdir(tmp_path)
    return tmp_path


def test_an_analysis_file_writes_the_surface_spectrum_and_history(workdir, capsys):
    path = "examples/eql_soft_clay.json"
    assert main(["run", path, "--csv"]) == 0
    said = capsys.readouterr().out.split("\n")
    assert said[1:3] == ["examples/eql_soft_clay.surface-spectrum.csv", "examples/eql_soft_clay.surface-history.csv"]
    from velmar._analysis import read_analysis, run_analysis
    a = read_analysis(path)
    res = run_analysis(a)
    spec = pd.read_csv("examples/eql_soft_clay.surface-spectrum.csv", float_precision="round_trip")
    u = a.record.units
    np.testing.assert_array_equal(spec[f"psa ({u})"], res.response_spectrum().psa)
    np.testing.assert_array_equal(spec["period (s)"], velmar.default_periods())
    scaled = np.asarray(a.record.accel) * res.scale
    np.testing.assert_array_equal(spec[f"psa input ({u})"], velmar.spectra(scaled, a.record.dt).psa)
    hist = pd.read_csv("examples/eql_soft_clay.surface-history.csv", float_precision="round_trip")
    np.testing.assert_array_equal(hist[f"accel surface ({u})"], res.motion())
    np.testing.assert_array_equal(hist[f"accel input ({u})"], scaled)
    # --out names the layer table; the surface files take its stem.
    assert main(["run", path, "--csv", "--out", "out/site.csv"]) == 2  # no such folder
    os.mkdir("out")
    assert main(["run", path, "--csv", "--out", "out/site.csv"]) == 0
    assert sorted(os.listdir("out")) == ["site.csv", "site.surface-history.csv", "site.surface-spectrum.csv"]


def test_a_surface_file_that_is_an_input_is_refused_before_the_run(workdir, capsys):
    # The record file named as the surface history: nothing written, status 2.
    import json
    doc = json.load(open("examples/eql_soft_clay.json"))
    shutil.copy("examples/accelerogram.txt", "examples/site.surface-history.csv")
    doc["record"]["file"] = "site.surface-history.csv"
    json.dump(doc, open("examples/site.json", "w"))
    before = open("examples/site.surface-history.csv").read()
    assert main(["run", "examples/site.json", "--csv"]) == 2
    assert "record file" in capsys.readouterr().err
    assert open("examples/site.surface-history.csv").read() == before
    assert not os.path.exists("examples/site.layers.csv")


def test_a_layer_table_on_standard_output_keeps_it_clean(workdir):
    import subprocess
    import sys
    env = dict(os.environ)
    root = os.path.dirname(os.path.dirname(os.path.abspath(velmar.__file__)))
    env["PYTHONPATH"] = root + os.pathsep + env.get("PYTHONPATH", "")
    out = subprocess.run([sys.executable, "-m", "velmar", "run", "examples/eql_soft_clay.json", "--csv", "--out",
                          "/dev/stdout"], capture_output=True, text=True, env=env, timeout=120)
    assert out.returncode == 0, out.stderr
    assert out.stdout.count("\n") == 13 and ".csv" not in out.stdout  # header and 12 layers only
    assert out.stderr.split() == ["examples/eql_soft_clay.surface-spectrum.csv",
                                  "examples/eql_soft_clay.surface-history.csv"]
    assert os.path.getsize("examples/eql_soft_clay.surface-history.csv") > 1000
