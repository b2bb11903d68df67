"""Site indices, kappa0 and its adjustment, quarter-wavelength amplification and
its inversion, logic trees (here and on Dask worker processes), and their figures."""

import json
import math
import pickle

import numpy as np
import pytest

import velmar


def layered(h, vs, rho=2.0, damping=None):
    n = len(vs)
    return velmar.Profile(thickness=list(h) + [0.0], density=[rho] * n, vs=vs,
                          damping=damping if damping is not None else [0.0] * n)


# --- indices on the profile ------------------------------------------------------------------------


def test_vs30_and_vsz_of_hand_computed_profiles():
    assert layered([10, 10, 10], [150, 300, 600, 1000]).vs30 == pytest.approx(30 / (10 / 150 + 10 / 300 + 10 / 600))
    # Shallower than 30 m: the half-space continues it.
    shallow = layered([10], [200, 800])
    assert shallow.vs30 == pytest.approx(400.0, rel=1e-14)
    assert shallow.time_averaged_vs(50.0) == pytest.approx(50 / (10 / 200 + 40 / 800), rel=1e-14)
    with pytest.raises(ValueError, match="depth"):
        shallow.time_averaged_vs(-5)


def test_depth_to_reports_none_when_never_reached():
    p = layered([5, 15, 100], [200, 1000, 700, 2600])
    assert p.depth_to(1000) == 5.0 and p.depth_to(2500) == 120.0 and p.depth_to(50) == 0.0
    assert p.depth_to(3000) is None
    with pytest.raises(ValueError, match="vs"):
        p.depth_to(0)


@pytest.mark.parametrize("code,vs,expected", [
    ("asce7-16", 762.0, "C"), ("asce7-16", 762.5, "B"), ("asce7-16", 183.0, "D"), ("asce7-16", 182.0, "E"),
    ("asce7-22", 914.0, "BC"), ("asce7-22", 914.5, "B"), ("asce7-22", 442.0, "CD"), ("asce7-22", 152.0, "E"),
    ("asce7-22", 152.5, "DE"), ("ec8", 800.0, "B"), ("ec8", 360.0, "B"), ("ec8", 180.0, "C"), ("ec8", 179.0, "D"),
])
def test_site_class_bounds(code, vs, expected):
    c = velmar.Profile([0.0], [2.0], [vs]).site_class(code)
    assert c == expected and isinstance(c, str)
    assert c.code == code and c.vs30 == pytest.approx(vs) and c.not_checked


def test_ec8_class_e_and_what_a_vs_profile_cannot_tell():
    e = layered([10], [200, 1000]).site_class("ec8")
    assert e == "E" and "5-20 m" in e.basis
    assert layered([25], [200, 1000]).site_class("ec8") == "C"
    assert "S1" in e.not_checked and "S2" in e.not_checked
    assert "soft clay" in layered([10], [200, 1000]).site_class("asce7-16").not_checked
    assert pickle.loads(pickle.dumps(e)).basis == e.basis
    with pytest.raises(ValueError, match="code"):
        e = layered([10], [200, 1000]).site_class("nehrp")


def test_fundamental_frequency_is_labelled_both_ways():
    f = layered([20], [200, 1200]).fundamental_frequency()
    assert f.quarter_wavelength == pytest.approx(2.5, rel=1e-12)
    assert f.sh_peak == pytest.approx(2.5, rel=1e-6)
    with pytest.raises(ValueError, match="no layers"):
        velmar.Profile([0.0], [2.0], [500.0]).fundamental_frequency()


def test_kappa0_and_the_adjustment_to_a_target():
    one = velmar.Profile([20.0, 0.0], [1.9, 2.2], [250.0, 800.0], damping=[0.05, 0.02])
    assert one.kappa0 == pytest.approx(2 * 0.05 * 20 / 250, rel=1e-15)
    p = velmar.Profile([5, 20, 40, 0], [1.8, 1.9, 2.0, 2.3], [150, 300, 600, 1500], damping=[0.03, 0.02, 0.01, 0.005],
                       modulus="seed")
    for target in (0.0, 0.01, 0.04):
        a = velmar.adjust_damping(p, kappa0=target)
        assert a.kappa0 == pytest.approx(target, abs=1e-16)
        np.testing.assert_allclose(a.damping[:-1] * a.vs[:-1], a.damping[0] * a.vs[0], rtol=1e-14)  # Q ~ Vs
        assert a.damping[-1] == 0.005 and a.modulus == "seed"
    with pytest.raises(ValueError, match="kappa0"):
        velmar.adjust_damping(p, kappa0=-0.001)
    with pytest.raises(ValueError, match="kappa0"):
        velmar.adjust_damping(p, kappa0=10.0)


def test_profile_pickles_to_the_same_table():
    p = velmar.Profile([4.0, 0.0], [1.8, 2.2], [200.0, 900.0], damping=[0.03, 0.01], vp=[500.0, 1800.0],
                       modulus="kramer")
    q = pickle.loads(pickle.dumps(p))
    for name in ("thickness", "density", "vs", "damping", "vp", "damping_p"):
        np.testing.assert_array_equal(getattr(q, name), getattr(p, name))
    assert q.modulus == "kramer"


# --- quarter-wavelength ----------------------------------------------------------------------------


def test_quarter_wavelength_of_a_halfspace_is_one_and_of_two_layers_matches_hand():
    f = np.logspace(-1, 2, 7)
    for eta in (0.5, "ba23"):
        q = velmar.quarter_wavelength(velmar.Profile([0.0], [2.5], [760.0]), f, eta=eta)
        np.testing.assert_allclose(q.amplification, 1.0, rtol=1e-14)
    p = velmar.Profile([30.0, 0.0], [1.8, 2.2], [200.0, 800.0])
    q = velmar.quarter_wavelength(p, [1.0])
    assert q.depth[0] == pytest.approx(110.0) and q.velocity[0] == pytest.approx(440.0)
    assert q.amplification[0] == pytest.approx(math.sqrt(2.2 * 800 / (230 / 110 * 440)), rel=1e-13)
    k = velmar.quarter_wavelength(p, [10.0], kappa=0.03, source_vs=3500.0, source_density=2.8)
    assert k.amplification[0] == pytest.approx(math.sqrt(2.8 * 3500 / (1.8 * 200)) * math.exp(-math.pi * 0.3))
    b = velmar.quarter_wavelength(p, np.logspace(-2, 2, 50), eta="ba23")
    assert np.all(np.isfinite(b.amplification)) and b.eta[0] == 0.0 and 0.4 < b.eta[-1] < 0.7


@pytest.mark.parametrize("kwargs,name", [
    ({"freqs": [1.0, 0.0]}, "freqs"), ({"freqs": [1.0, np.nan]}, "freqs"), ({"freqs": [1e-310]}, "too low"), ({"eta": 0.0}, "eta"),
    ({"eta": "boore"}, "eta"), ({"kappa": -0.01}, "kappa"), ({"source_vs": 0.0}, "source_vs"),
    ({"source_density": -2.0}, "source_density"),
])
def test_quarter_wavelength_refuses_bad_arguments_by_name(kwargs, name):
    args = {"freqs": [1.0, 2.0], **kwargs}
    with pytest.raises(ValueError, match=name):
        velmar.quarter_wavelength(layered([10], [200, 800]), **args)


def test_inversion_recovers_the_profile_it_generated():
    truth = velmar.Profile([3.0, 7.0, 12.0, 20.0, 0.0], [1.8, 1.9, 2.0, 2.1, 2.4], [160.0, 240.0, 380.0, 600.0, 1400.0],
                           damping=[0.03, 0.02, 0.02, 0.01, 0.0])
    f = np.logspace(-0.5, 1.8, 50)
    target = velmar.quarter_wavelength(truth, f, kappa=0.02).amplification
    start = velmar.Profile(truth.thickness, truth.density, truth.vs * [0.87, 1.13, 1.1, 0.88, 1.0],
                           damping=truth.damping)
    fitted = velmar.fit_quarter_wavelength(start, f, target, kappa=0.02)
    np.testing.assert_allclose(fitted.vs, truth.vs, rtol=1e-5)
    fitted, kappa = velmar.fit_quarter_wavelength(start, f, target, kappa=0.03, fit_kappa=True)
    np.testing.assert_allclose(fitted.vs, truth.vs, rtol=1e-5)
    assert kappa == pytest.approx(0.02, rel=1e-5)
    with pytest.raises(ValueError, match="target"):
        velmar.fit_quarter_wavelength(start, f, target[:-1])
    with pytest.raises(ValueError, match="target"):
        velmar.fit_quarter_wavelength(start, f, -target)


# --- logic trees -----------------------------------------------------------------------------------

NODES = {"vs_factor": {"values": [0.8, 1.0, 1.2], "weights": [0.3, 0.4, 0.3]},
         "kappa": {"miller_rice": {"mean": 0.03, "std": 0.01}}}


def test_leaf_weights_are_products_that_sum_to_one():
    leaves = velmar.LogicTree(NODES).leaves()
    assert len(leaves) == 9
    assert math.fsum(leaf.weight for leaf in leaves) == pytest.approx(1.0, abs=1e-15)
    first = leaves[0]
    assert first.values == {"vs_factor": 0.8, "kappa": pytest.approx(0.03 - math.sqrt(3) * 0.01)}
    assert first.weight == pytest.approx(0.3 / 6)
    assert leaves[1].weight == pytest.approx(0.3 * 2 / 3)


def test_exclusions_and_json_files(tmp_path):
    tree = velmar.LogicTree(NODES, exclusions=[{"vs_factor": 1.2, "kappa": 0.03}])
    leaves = tree.leaves()
    assert len(leaves) == 8 and math.fsum(leaf.weight for leaf in leaves) == pytest.approx(1.0)
    assert not any(leaf.values["vs_factor"] == 1.2 and leaf.values["kappa"] == 0.03 for leaf in leaves)
    path = tmp_path / "tree.json"
    path.write_text(json.dumps({"nodes": NODES, "exclusions": [{"vs_factor": 1.2, "kappa": 0.03}]}))
    assert velmar.LogicTree(str(path)).leaves() == leaves
    plain = tmp_path / "plain.json"
    plain.write_text(json.dumps(NODES))
    assert len(velmar.LogicTree(plain).leaves()) == 9


@pytest.mark.parametrize("nodes,exclusions,match", [
    ({"a": {"values": [1, 2], "weights": [0.5, 0.6]}}, None, "sum to 1"),
    ({"a": {"values": [1, 2], "weights": [0.5]}}, None, "weights"),
    ({"a": {"values": [1, 2], "weights": [1.0, 0.0]}}, None, "above 0"),
    ({"a": {"miller_rice": {"mean": 1.0, "std": -1.0}}}, None, "std"),
    ({"a": {"value": [1]}}, None, "values"),
    ({"a": {"values": [1, 2], "weights": [0.5, 0.5]}}, [{"b": 1}], "node 'b'"),
    ({"a": {"values": [1, 2], "weights": [0.5, 0.5]}}, [{"a": 3}], "not a value"),
    ({"a": {"values": [1], "weights": [1.0]}}, [{"a": 1}], "every leaf"),
    ({}, None, "nodes"),
])
def test_bad_trees_are_refused(nodes, exclusions, match):
    with pytest.raises(ValueError, match=match):
        velmar.LogicTree(nodes, exclusions=exclusions)


def test_run_gives_weighted_mean_median_and_fractiles():
    tree = velmar.LogicTree({"x": {"values": [1.0, 2.0, 3.0], "weights": [0.3, 0.4, 0.3]}})
    ds = tree.run(lambda v: [v["x"], 10 * v["x"]], fractiles=[0.05, 0.3, 0.31, 0.95])
    assert ds["value"].dims == ("branch", "dim_0")
    np.testing.assert_allclose(ds["weight"], [0.3, 0.4, 0.3])
    np.testing.assert_allclose(ds["mean"], [2.0, 20.0])
    np.testing.assert_allclose(ds["median"], [2.0, 20.0])
    # The smallest value whose cumulative weight reaches q: 0.3 is reached by the first leaf.
    np.testing.assert_allclose(ds["fractiles"][:, 0], [1.0, 1.0, 2.0, 3.0])
    np.testing.assert_array_equal(ds["x"], [1.0, 2.0, 3.0])
    with pytest.raises(ValueError, match="not finite"):
        tree.run(lambda v: float("nan"))
    with pytest.raises(ValueError, match="shape"):
        tree.run(lambda v: np.zeros(int(v["x"])))


def _amplification(values):
    p = velmar.Profile([10.0, 20.0, 0.0], [1.8, 2.0, 2.3], [180.0 * values["vs_factor"], 400.0, 1200.0])
    return velmar.quarter_wavelength(p, [0.5, 2.0, 8.0], kappa=values["kappa"]).amplification


def test_processes_scheduler_equals_the_local_run():
    pytest.importorskip("dask")
    tree = velmar.LogicTree(NODES)
    np.testing.assert_array_equal(tree.run(_amplification, client="processes")["value"],
                                  tree.run(_amplification)["value"])


def test_dask_cluster_equals_the_local_run():
    distributed = pytest.importorskip("distributed")
    tree = velmar.LogicTree(NODES)
    local = tree.run(_amplification)
    with distributed.LocalCluster(n_workers=1, threads_per_worker=1, processes=True, dashboard_address=None,
                                  silence_logs=40) as cluster, distributed.Client(cluster) as client:
        remote = tree.run(_amplification, client=client)
    np.testing.assert_array_equal(remote["value"], local["value"])
    np.testing.assert_array_equal(remote["fractiles"], local["fractiles"])


# --- figures ---------------------------------------------------------------------------------------


def test_figures_draw_what_they_show(tmp_path):
    pytest.importorskip("matplotlib")
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from velmar import plot_site

    p = layered([3, 7, 12, 20], [160, 240, 380, 600, 1400])
    ax = plot_site.plot_vs_profile(p, "asce7-22").axes[0]
    assert "CD" in ax.get_title() and any("Vs30" in t.get_text() for t in ax.get_legend().get_texts())
    ax = plot_site.plot_quarter_wavelength(p, eta="ba23").axes[0]
    assert len(ax.get_lines()) == 3
    ds = velmar.LogicTree(NODES).run(_amplification)
    fig = plot_site.plot_tree_fractiles(ds, x=[0.5, 2.0, 8.0])
    fig.savefig(tmp_path / "tree.png")
    assert (tmp_path / "tree.png").stat().st_size > 0
    with pytest.raises(ValueError, match="x must"):
        plot_site.plot_tree_fractiles(ds, x=[1.0])
    plt.close("all")
