"""Every figure function of velmar.plot returns a matplotlib Figure that
saves as PNG, draws what its labels say, and refuses what it cannot draw
(small cases, Agg backend)."""

import numpy as np
import pytest

import velmar

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
from matplotlib.figure import Figure  # noqa: E402

from velmar import plot as vplot  # noqa: E402

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


@pytest.fixture(scope="module")
def site():
    return velmar.Profile(thickness=[4.0, 6.0, 0.0], density=[1.8, 1.9, 2.2], vs=[150.0, 200.0, 800.0],
                          damping=[0.02, 0.02, 0.01])


@pytest.fixture(scope="module")
def rec():
    t = np.arange(400) * 0.01
    return velmar.Record(0.05 * np.sin(2 * np.pi * 2.0 * t) * np.exp(-0.5 * (t - 1.5) ** 2), 0.01, "g", name="r.txt")


@pytest.fixture(scope="module")
def eql(site, rec):
    return velmar.equivalent_linear(rec, site, [velmar.Darendeli(pi=20)] * 2, tolerance=1e-3)


def saved(fig, tmp_path, name):
    assert isinstance(fig, Figure)
    path = tmp_path / f"{name}.png"
    fig.savefig(path)
    assert path.read_bytes()[:8] == PNG_SIGNATURE
    return fig


def test_every_figure_function_returns_a_figure_that_saves(tmp_path, site, rec, eql):
    f = np.geomspace(0.1, 20, 50)
    periods = velmar.default_periods()
    psa = velmar.spectra(rec, periods=periods).psa
    figures = {
        "profile": vplot.profile_figure(site),
        "transfer": vplot.transfer_figure(f, {"SH": np.abs(velmar.transfer(site, f)) / 2}),
        "histories": vplot.histories_figure(rec.time, rec.accel, {"out": 2 * rec.accel}, "g"),
        "spectra": vplot.spectra_figure(periods, psa, {"out": 2 * psa}, "g"),
        "peaks": vplot.peak_profile_figure(velmar.peak_profile(rec, site)),
        "fourier": vplot.fourier_figure(rec),
        "arias": vplot.arias_figure({"input": rec}),
        "convergence": vplot.plot_convergence(eql, tolerance=1e-3),
        "layers": vplot.plot_strain_compatible(eql),
        "curves": vplot.plot_curves(eql, velmar.Darendeli(pi=20)),
        "vs_profile": vplot.plot_vs_profile(site),
        "quarter": vplot.plot_quarter_wavelength(site, freqs=f),
        "realisations": vplot.vs_realisations_figure(velmar.randomize(site, n=4, seed=2), base=site),
    }
    for name, fig in figures.items():
        saved(fig, tmp_path, name)


def test_an_axes_given_is_drawn_on_and_its_figure_returned(eql, rec):
    fig = Figure()
    ax = fig.add_subplot()
    assert vplot.plot_convergence(eql, ax=ax) is fig and ax.lines
    fig2 = Figure()
    axes = fig2.subplots(1, 3)
    assert vplot.plot_strain_compatible(eql, axes=axes) is fig2
    fig3 = Figure()
    left, right = fig3.subplots(1, 2)
    assert vplot.fourier_figure(rec, ax=left) is fig3 and vplot.arias_figure(rec, ax=right) is fig3


def test_fourier_figure_draws_the_smoothed_spectrum_over_the_raw_one(rec):
    ax = vplot.fourier_figure({"input": rec}, b=20).axes[0]
    assert ax.get_xscale() == "log" and ax.get_yscale() == "log"
    assert "Hz" in ax.get_xlabel() and "(g·s)" in ax.get_ylabel()
    raw, smooth = ax.get_lines()
    f, a = velmar.fourier_spectrum(rec)
    np.testing.assert_allclose(raw.get_ydata(), a[1:])
    c = smooth.get_xdata()
    np.testing.assert_allclose(smooth.get_ydata(), velmar.konno_ohmachi(f, a, c, 20.0))
    assert "smoothed" in smooth.get_label()
    with pytest.raises(ValueError, match="units"):
        vplot.fourier_figure({"a": rec, "b": velmar.Record(rec.accel, rec.dt, "m/s2")})


def test_arias_figure_rises_from_0_to_100_percent_and_names_the_total(rec):
    ax = vplot.arias_figure({"input": rec}).axes[0]
    line = ax.get_lines()[0]
    y = line.get_ydata()
    assert y[0] == 0.0 and y[-1] == pytest.approx(100.0) and np.all(np.diff(y) >= 0.0)
    total = velmar.arias_intensity(rec)[-1]
    assert f"{total:.3g} m/s" in line.get_label() and "(s)" in ax.get_xlabel()


def test_strain_compatible_axes_start_at_0_and_say_what_sublayers_show(site, rec):
    res = velmar.equivalent_linear(rec, site, [velmar.Darendeli(pi=20)] * 2, max_frequency=30.0)
    assert np.any(res.sublayers > 1)
    axes = vplot.plot_strain_compatible(res).axes
    assert axes[0].get_xlim()[0] == 0.0 and axes[1].get_xlim()[0] == 0.0
    assert "averaged over sublayers" in axes[0].get_xlabel() and "largest" in axes[2].get_xlabel()
    # The sublayers' own G/Gmax average back (by thickness) to the layer's.
    sub = [line for line in axes[0].get_lines() if line.get_label() == "sublayers"][0]
    v, z = sub.get_data()
    g, tops = v[::2], np.append(z[::2], z[-1])
    h = np.diff(tops)
    layer = np.repeat(np.arange(res.sublayers.size), res.sublayers)
    np.testing.assert_allclose(np.bincount(layer, weights=g * h) / np.bincount(layer, weights=h), res.g_ratio,
                               rtol=1e-10)


def test_curves_figure_marks_each_layer_on_its_curve(eql):
    fig = vplot.plot_curves(eql, [velmar.Darendeli(pi=20)] * 2)
    ax_g, ax_d = fig.axes
    assert ax_g.get_xscale() == "log" and "(%)" in ax_g.get_xlabel() and ax_g.get_ylim()[0] == 0.0
    points = [line for line in ax_g.get_lines() if line.get_marker() == "o"]
    assert len(points) == 2
    for i, pt in enumerate(points):
        x, y = pt.get_data()
        assert x[0] == pytest.approx(100 * 0.65 * eql.max_strain[i]) and y[0] == eql.g_ratio[i]
        g, _ = velmar.curve_values(velmar.Darendeli(pi=20), [x[0] / 100], float(eql.mean_stress[i]))
        assert y[0] == pytest.approx(g[0], abs=0.02)  # on the curve, to the iteration's tolerance
    with pytest.raises(ValueError, match="one per layer"):
        vplot.plot_curves(eql, [velmar.Darendeli()] * 3)


def test_batch_figure_draws_median_and_sigma_and_counts_the_runs(site, rec):
    sims = velmar.simulate(site, rec, n=3, seed=4, periods=np.geomspace(0.05, 2.0, 8))
    fig = vplot.batch_figure(sims)
    top = fig.axes[0]
    stats = sims.statistics()
    med = [line for line in top.get_lines() if line.get_label() == "median"][0]
    np.testing.assert_allclose(med.get_ydata(), stats["psa"]["median"][0])
    assert "over 3 of 3 realisations (0 failed)" in top.get_title()
    with pytest.raises(ValueError, match="record"):
        vplot.batch_figure(sims, record=1)


def test_a_profile_step_at_a_grid_value_is_drawn_above_the_grid(site):
    from matplotlib.patches import StepPatch

    for ax in (vplot.profile_figure(site).axes[0], vplot.plot_vs_profile(site).axes[0]):
        assert ax.get_axisbelow() is True  # grid lines at zorder 0.5
        data = [p for p in ax.patches if isinstance(p, StepPatch)] or ax.get_lines()[:1]  # the Vs steps
        assert data and all(d.get_zorder() > 1 for d in data)


def _vs_at(line, depth):
    """The Vs a profile line shows at a depth (between its interfaces)."""
    v, z = line.get_data()
    i = int(np.flatnonzero((np.asarray(z[:-1]) <= depth) & (np.asarray(z[1:]) > depth))[0])
    return v[i]


def test_profile_lines_hold_each_layers_vs_over_that_layer(site):
    ax = vplot.plot_vs_profile(site).axes[0]
    line = ax.get_lines()[0]
    for depth, vs in ((2.0, 150.0), (7.0, 200.0), (12.0, 800.0)):
        assert _vs_at(line, depth) == vs
    ax = vplot.vs_realisations_figure([site, site], base=site).axes[0]
    base = [ln for ln in ax.get_lines() if ln.get_label() == "base profile"][0]
    for depth, vs in ((2.0, 150.0), (7.0, 200.0), (10.5, 800.0)):  # drawn down to 1.1 x 10 m
        assert _vs_at(base, depth) == vs
