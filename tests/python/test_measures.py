"""Response spectra, Fourier spectra, smoothing and intensity measures,
against scipy (an independent integrator and transform) and closed forms."""

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st
from scipy import signal

import velmar

from conftest import pulse_record

G = 9.80665


def sdof_peak_scipy(a, dt, period, zeta):
    """Peak |u| of u'' + 2 zeta w u' + w^2 u = -a, a linear between samples
    (scipy's lsim with a first-order hold is exact for that input)."""
    w = 2 * np.pi / period
    sys = signal.StateSpace([[0.0, 1.0], [-w * w, -2 * zeta * w]], [[0.0], [-1.0]], [[1.0, 0.0]], [[0.0]])
    t = np.arange(a.size) * dt
    _, y, _ = signal.lsim(sys, a, t, interp=True)
    return np.max(np.abs(y))


@pytest.mark.parametrize("zeta", [0.0, 0.02, 0.05, 0.3])
def test_measures_match_an_independent_integrator(zeta):
    rec = pulse_record(n=1500, dt=0.01)
    periods = np.array([0.04, 0.2, 0.55, 1.0, 3.0])
    rs = velmar.spectra(rec, periods=periods, damping=zeta)
    ref = np.array([sdof_peak_scipy(rec.accel, rec.dt, t, zeta) for t in periods])
    np.testing.assert_allclose(rs.sd, ref, rtol=1e-7)
    w = 2 * np.pi / periods
    np.testing.assert_allclose(rs.psv, w * rs.sd, rtol=1e-15)
    np.testing.assert_allclose(rs.psa, w * w * rs.sd, rtol=1e-15)
    assert "ResponseSpectrum" in repr(rs)


@pytest.mark.parametrize("dt, period", [(0.01, 10.0), (5e-4, 10.0), (1e-4, 100.0), (1e-5, 50.0), (1.0, 0.5),
                                        (2.0, 1000.0)])
def test_measures_keep_their_digits_for_small_steps_and_long_periods(dt, period):
    # w dt from 6e-6 to 12.6: the short-step coefficients must not cancel.
    a = np.cumsum(np.random.default_rng(1).standard_normal(3000)) * 0.01
    sd = velmar.spectra(a, dt, periods=[period]).sd[0]
    assert sd == pytest.approx(sdof_peak_scipy(a, dt, period, 0.05), rel=1e-11)


def test_response_spectrum_is_psa_in_record_units_and_defaults_to_100_periods():
    rec = pulse_record(units="cm/s2")
    psa = velmar.response_spectrum(rec.accel, rec.dt)
    assert psa.shape == (100,)
    # Short periods follow the ground: PSA -> PGA.
    assert psa[0] == pytest.approx(np.max(np.abs(rec.accel)), rel=2e-2)
    # Scaling the record scales PSA.
    np.testing.assert_allclose(velmar.response_spectrum(3 * rec.accel, rec.dt), 3 * psa, rtol=1e-12)
    t = velmar.default_periods()
    assert t[0] == 0.01 and t[-1] == 10.0 and np.all(np.diff(np.log(t)) > 0)


def test_free_vibration_window_catches_a_later_peak():
    # A record that stops while an oscillator at its own period is still
    # swinging up (0.75 cycle of a 2 s sine).
    dt = 0.01
    a = np.sin(2 * np.pi * 0.5 * np.arange(150) * dt)
    short = velmar.spectra(a, dt, periods=[2.0]).sd[0]
    longer = velmar.spectra(a, dt, periods=[2.0], free_vibration=5.0).sd[0]
    assert longer > 1.2 * short
    # The window adds zeros after the record: appending them by hand is the same.
    padded = velmar.spectra(np.concatenate([a, np.zeros(500)]), dt, periods=[2.0]).sd[0]
    assert longer == pytest.approx(padded, rel=1e-12)


@pytest.mark.parametrize("kwargs, name", [
    (dict(accel=[0.0, np.nan], dt=0.01), "accel"),
    (dict(accel=[], dt=0.01), "accel"),
    (dict(accel=[0.0, 1.0], dt=0.0), "dt"),
    (dict(accel=[0.0, 1.0], dt=-1.0), "dt"),
    (dict(accel=[0.0, 1.0], dt=0.01, periods=[1.0, 0.0]), "periods"),
    (dict(accel=[0.0, 1.0], dt=0.01, periods=[np.inf]), "periods"),
    (dict(accel=[0.0, 1.0], dt=0.01, damping=-0.1), "damping"),
    (dict(accel=[0.0, 1.0], dt=0.01, damping=1.0), "damping"),
    (dict(accel=[0.0, 1.0], dt=0.01, free_vibration=-1.0), "free_vibration"),
])
def test_bad_input_raises_value_error_naming_the_argument(kwargs, name):
    with pytest.raises(ValueError, match=name):
        velmar.spectra(**kwargs)


@pytest.mark.parametrize("call", [
    lambda: velmar.arias_intensity([np.nan], 0.01),
    lambda: velmar.fourier_spectrum([], 0.01),
    lambda: velmar.significant_duration([1.0, 2.0], 0.0),
    lambda: velmar.cav([1.0], 0.01, units="furlong/s2"),
    lambda: velmar.arias_intensity(velmar.Record([1.0, 2.0], 0.01, "g"), units="m/s2"),
    lambda: velmar.arias_intensity(velmar.Record([1.0, 2.0], 0.01, "g"), dt=0.02),
    lambda: velmar.konno_ohmachi([0.0, 1.0], [1.0, 1.0], centres=[-1.0]),
    lambda: velmar.konno_ohmachi([0.0, 1.0], [1.0, 1.0], b=0),
])
def test_other_calls_refuse_bad_input(call):
    with pytest.raises(ValueError):
        call()


def test_fourier_spectrum_matches_numpy_for_any_length():
    rng = np.random.default_rng(5)
    for n in (512, 1000, 1531):
        a = rng.standard_normal(n)
        f, amp = velmar.fourier_spectrum(a, 0.02)
        np.testing.assert_allclose(f, np.fft.rfftfreq(n, 0.02), rtol=1e-12, atol=0)
        np.testing.assert_allclose(amp, np.abs(np.fft.rfft(a)) * 0.02, rtol=1e-9, atol=1e-12 * amp.max())


def test_konno_ohmachi_default_centres_keep_the_zero_frequency_and_smooth_the_rest():
    f = np.arange(2000) * 0.05
    amp = 2.0 + np.cos(f)
    s = velmar.konno_ohmachi(f, amp)
    assert s.shape == amp.shape and s[0] == amp[0]
    # The smoothed ripple is much smaller than the raw one at high frequency.
    assert np.ptp(s[1500:]) < 0.1 * np.ptp(amp[1500:])


def test_measuresl_ratio_of_a_scaled_record_is_the_scale():
    rec = pulse_record()
    c, r = velmar.spectral_ratio(2.5 * rec.accel, rec.accel, rec.dt)
    assert c.size == 200 and np.all(np.diff(c) > 0)
    # Bins far down the pulse's spectrum carry the transform's rounding of
    # its peak: a few 1e-7 relative there.
    np.testing.assert_allclose(r, 2.5, rtol=1e-5)
    with pytest.raises(ValueError, match="same length"):
        velmar.spectral_ratio(rec.accel[:-1], rec.accel, rec.dt)


def test_arias_intensity_of_a_sine_in_g_is_in_metres_per_second():
    dt, a0, f = 0.005, 0.3, 2.0
    t = np.arange(2001) * dt  # 10 s, whole cycles
    a = a0 * np.sin(2 * np.pi * f * t)
    ia = velmar.arias_intensity(a, dt)
    expected = np.pi / (2 * G) * (a0 * G) ** 2 * 10.0 / 2
    assert ia[0] == 0.0 and ia[-1] == pytest.approx(expected, rel=1e-12)
    assert np.all(np.diff(ia) >= 0)
    # The same record in other units, or as a Record.
    assert velmar.arias_intensity(a * G, dt, units="m/s2")[-1] == pytest.approx(expected, rel=1e-12)
    assert velmar.arias_intensity(velmar.Record(a * G * 100, dt, "cm/s2"))[-1] == pytest.approx(expected, rel=1e-12)


def test_significant_duration_and_cav_of_a_constant_record():
    dt, n = 0.01, 1001
    a = np.full(n, 0.2)
    assert velmar.significant_duration(a, dt) == pytest.approx(0.9 * 10.0, rel=1e-12)
    assert velmar.significant_duration(a, dt, start=0.25, end=0.75) == pytest.approx(5.0, rel=1e-12)
    assert velmar.cav(a, dt) == pytest.approx(0.2 * G * 10.0, rel=1e-12)
    with pytest.raises(ValueError, match="start"):
        velmar.significant_duration(a, dt, start=0.9, end=0.1)


def test_intensity_measures_of_a_record():
    rec = pulse_record(units="m/s2")
    im = velmar.intensity_measures(rec)
    assert im.pga == pytest.approx(np.max(np.abs(rec.accel)))
    assert im.arias == pytest.approx(velmar.arias_intensity(rec)[-1])
    assert 0 < im.d5_95 < rec.duration
    # PGV from the frequency-domain integration against a trapezoidal
    # integration with the mean removed over the same padded window.
    n = len(rec)
    L = 1 << int(np.ceil(np.log2(2 * n)))
    v = np.concatenate([[0.0], np.cumsum(0.5 * (rec.accel[1:] + rec.accel[:-1]) * rec.dt)])
    v = np.concatenate([v, np.zeros(L - n)])
    v -= v.mean()
    assert im.pgv == pytest.approx(np.max(np.abs(v[:n])), rel=2e-2)
    assert set(im.as_dict()) == {"pga", "pgv", "pgd", "arias", "d5_95", "cav"}
    assert "m/s" in repr(im)


def test_peak_profile_depths_and_values_match_propagate(clay_sand_rock):
    rec = pulse_record(n=1024, dt=0.01, units="m/s2")
    pp = velmar.peak_profile(rec, clay_sand_rock)
    np.testing.assert_allclose(pp.depth, [0, 4, 8, 15.5, 23, 35.5, 48])
    for i in (0, 3, 6):
        acc = velmar.propagate(rec, clay_sand_rock, depth=pp.depth[i])
        stress = velmar.propagate(rec, clay_sand_rock, depth=pp.depth[i], quantity="stress")
        assert pp.accel[i] == pytest.approx(np.max(np.abs(acc)), rel=1e-9)
        assert pp.stress[i] == pytest.approx(np.max(np.abs(stress)), rel=1e-9, abs=1e-9 * pp.stress.max())
    assert pp.strain[0] < 1e-9 * pp.strain.max()  # no shear at the free surface
    with pytest.raises(TypeError):
        velmar.peak_profile(rec.accel, clay_sand_rock)


@settings(max_examples=25, deadline=None, database=None, derandomize=True)
@given(st.lists(st.floats(-10, 10), min_size=2, max_size=200), st.floats(0.001, 0.05), st.floats(0.0, 0.5))
def test_measures_are_positively_homogeneous_and_sign_blind(samples, dt, zeta):
    a = np.array(samples)
    periods = [0.05, 0.5, 2.0]
    rs = velmar.spectra(a, dt, periods=periods, damping=zeta)
    np.testing.assert_allclose(velmar.spectra(-a, dt, periods=periods, damping=zeta).sd, rs.sd, rtol=1e-12, atol=0)
    # Below the normal range doubling is exact but the recursion's products
    # round to the subnormal grid: an absolute floor of the smallest normal.
    np.testing.assert_allclose(velmar.spectra(2 * a, dt, periods=periods, damping=zeta).sd, 2 * rs.sd, rtol=1e-12,
                               atol=np.finfo(float).tiny)
    assert np.all(rs.sd >= 0)


@pytest.mark.parametrize("kwargs, match", [
    (dict(periods=[]), "periods must hold at least one"),
    (dict(periods=[1.0, 1e-160]), r"periods\[1\]"),
    (dict(periods=[1e-320]), r"periods\[0\]"),
    (dict(periods=[1.0], free_vibration=1e5), "free_vibration must be at most"),
])
def test_spectra_refuse_no_period_a_period_too_short_and_an_endless_free_vibration(kwargs, match):
    with pytest.raises(ValueError, match=match):
        velmar.spectra(np.sin(np.arange(500) * 0.1), 0.01, **kwargs)


@pytest.mark.parametrize("factor", [1e-300, 1e-170, 1e170, 1e300])
def test_measures_of_records_near_the_ends_of_the_doubles_scale_with_the_record(factor):
    # Huge and tiny records give the same measures times their size: no
    # infinity, NaN or false 0; what is above the largest double is refused.
    rec = pulse_record(n=1500, dt=0.01, units="m/s2")
    big = velmar.Record(rec.accel * factor, rec.dt, rec.units)
    periods = [0.05, 0.5, 5.0, 1000.0]
    np.testing.assert_allclose(velmar.spectra(big, periods=periods).psa / factor,
                               velmar.spectra(rec, periods=periods).psa, rtol=1e-12)
    np.testing.assert_allclose(velmar.fourier_spectrum(big)[1] / factor, velmar.fourier_spectrum(rec)[1],
                               rtol=1e-12, atol=1e-12 * velmar.fourier_spectrum(rec)[1].max())
    assert velmar.significant_duration(big) == pytest.approx(velmar.significant_duration(rec), rel=1e-12)
    assert velmar.cav(big) / factor == pytest.approx(velmar.cav(rec), rel=1e-12)
    if factor > 1e150:
        with pytest.raises(ValueError, match="Arias intensity is above the largest double"):
            velmar.intensity_measures(big)
    else:
        im, ref = velmar.intensity_measures(big), velmar.intensity_measures(rec)
        for name in ("pga", "pgv", "pgd", "cav"):
            assert getattr(im, name) / factor == pytest.approx(getattr(ref, name), rel=1e-12), name
    f = np.arange(1000) * 0.05
    np.testing.assert_allclose(velmar.konno_ohmachi(f, (2 + np.sin(f)) * factor, [0.5, 5.0]) / factor,
                               velmar.konno_ohmachi(f, 2 + np.sin(f), [0.5, 5.0]), rtol=1e-13)


def test_peak_profile_scale_multiplies_the_peaks_or_is_refused_above_the_largest_double(clay_sand_rock):
    rec = pulse_record(n=1024, dt=0.01, units="m/s2")
    pp = velmar.peak_profile(rec, clay_sand_rock)
    for scale in (1e-300, 1e306):
        big = velmar.peak_profile(rec, clay_sand_rock, scale=scale)
        for name in ("accel", "strain", "stress"):
            np.testing.assert_allclose(getattr(big, name) / scale, getattr(pp, name), rtol=1e-12)
    with pytest.raises(ValueError, match="scale"):  # a stress of 26 kPa times 1e308
        velmar.peak_profile(rec, clay_sand_rock, scale=1e308)


def test_spectra_stop_promptly_on_ctrl_c(tmp_path):
    # Many periods over a long record: tens of seconds of work, interrupted
    # a moment after it starts.
    import os
    import signal as sig
    import subprocess
    import sys
    import time
    code = ("import numpy as np, velmar\n"
            "a = np.sin(np.arange(2_000_000) * 0.01)\n"
            "print('start', flush=True)\n"
            "velmar.spectra(a, 0.005, periods=np.geomspace(0.01, 10.0, 4000))\n"
            "print('finished', flush=True)\n")
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(velmar.__file__)))
    proc = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                            text=True)
    try:
        assert proc.stdout.readline().strip() == "start"
        time.sleep(0.5)
        proc.send_signal(sig.SIGINT)
        sent = time.monotonic()
        out, err = proc.communicate(timeout=30)
        elapsed = time.monotonic() - sent
    finally:
        proc.kill()
        proc.wait()
    assert "KeyboardInterrupt" in err and "finished" not in out
    assert elapsed < 2.0, elapsed  # within a second on a quiet machine
