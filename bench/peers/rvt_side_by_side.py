#!/usr/bin/env python3
"""Side-by-side RVT equivalent-linear timing: VELMAR against pystrata on the same case, in one process.

Case: the 30-layer profile of VELMAR's bench/bench_eql.cpp (layers of 2 m, density 1.75 + 0.005 k
t/m3, Vs 140 + 9 k m/s, Darendeli PI = 10 + 10 (k mod 4), OCR 1, K0 0.5; half-space 2.4 t/m3,
1000 m/s, damping 0.01; water table at 2 m; Dormieux complex modulus; strain ratio 0.65; outcrop
input) under a point-source motion: VELMAR's SourceTheoryMotion (M 6.5 at 20 km, "wna", depth 8 km,
512 frequencies 0.05-100 Hz, Vanmarcke's peak factor). pystrata gets that very spectrum and duration
as its RvtMotion (peak calculator "V75"), so both analyse the same input; pystrata's Darendeli soils
get VELMAR's mean effective stresses and curves tabulated at 701 strains 1e-8..1e-1, and its
tolerance in percent (100 x VELMAR's).

Timing: one warm-up call each, then the calls alternate A B A B ... (A = VELMAR, B = pystrata); each
call times motion + profile + the iteration (no import, no output), in wall-clock time and in the
process's CPU time (which a loaded machine inflates less). Reported: medians, the median of the
pair-by-pair ratios, passes, and the agreement of the surface PSA (5 %) and the peak strains.

Environment: VELMAR_PATH (the folder holding VELMAR's Python package, e.g. a build's python/
folder), PEERS_DIR (the rebuilt peers; default $HOME/peers). Not used by the tests.
Usage: rvt_side_by_side.py [--pairs 15] [--tol 0.01] [--max-iterations 15] [--magnitude 6.5]
                           [--distance 20] [--json FILE]
"""
import argparse
import json
import os
import statistics
import sys
import time
import warnings

import numpy as np

LAYERS = 30
G_UNIT = 9.81
K0 = 0.5
WATER_TABLE = 2.0
STRAIN_RATIO = 0.65
PERIODS = np.logspace(-2, 1, 100)


def set_import_path():
    velmar_path = os.environ.get("VELMAR_PATH")
    if not velmar_path:
        sys.exit("VELMAR_PATH is not set: the folder that holds VELMAR's Python package `velmar`.")
    peers = os.environ.get("PEERS_DIR") or os.path.join(os.path.expanduser("~"), "peers")
    if not os.path.isdir(os.path.join(peers, "pystrata", "src")):
        sys.exit(f"no pystrata/src under PEERS_DIR={peers}: see /work/shared/peers/README.md")
    paths = [os.path.join(peers, s) for s in ("pystrata/src", "pyrvt/src", "pykooh/src", "shims")]
    for p in reversed(paths + [velmar_path]):
        sys.path.insert(1, p)


def profile_arrays():
    k = np.arange(LAYERS, dtype=float)
    th = np.r_[np.full(LAYERS, 2.0), 0.0]
    rho = np.r_[1.75 + 0.005 * k, 2.4]
    vs = np.r_[140.0 + 9.0 * k, 1000.0]
    xi = np.r_[np.full(LAYERS, 0.02), 0.01]
    pi = [10.0 + (i % 4) * 10.0 for i in range(LAYERS)]
    return th, rho, vs, xi, pi


def mean_stress(th, rho):
    out, sv, z = [], 0.0, 0.0
    for i in range(LAYERS):
        zm = z + th[i] / 2
        s = sv + G_UNIT * rho[i] * th[i] / 2 - G_UNIT * max(zm - WATER_TABLE, 0.0)
        out.append(s * (1 + 2 * K0) / 3)
        sv += G_UNIT * rho[i] * th[i]
        z += th[i]
    return np.array(out)


def run_velmar(velmar, spec, tol, maxit, post=False):
    th, rho, vs, xi, pi = profile_arrays()
    t0, c0 = time.perf_counter(), time.process_time()
    m = velmar.SourceTheoryMotion(magnitude=spec["magnitude"], distance=spec["distance"], region="wna", depth=8.0)
    p = velmar.Profile(thickness=th, density=rho, vs=vs, damping=xi)
    curves = [velmar.Darendeli(pi=v, ocr=1.0, k0=K0) for v in pi]
    res = velmar.equivalent_linear(m, p, curves=curves, water_table=WATER_TABLE, strain_ratio=STRAIN_RATIO,
                                   tolerance=tol, max_iterations=maxit, modulus="dormieux", input="outcrop")
    out = dict(s=time.perf_counter() - t0, cpu=time.process_time() - c0, passes=int(res.iterations), converged=bool(res.converged),
               max_strain=np.asarray(res.max_strain))
    if post:
        out["psa"] = res.motion(depth=0.0).response_spectrum(PERIODS, 0.05)
        out["pga"] = res.motion(depth=0.0).peak("accel")
    return out


def run_pystrata(pystrata, spec, tol, maxit, post=False):
    th, rho, vs, xi, pi = profile_arrays()
    sm = mean_stress(th, rho)
    strains = np.logspace(-8, -1, 701)
    t0, c0 = time.perf_counter(), time.process_time()
    motion = pystrata.motion.RvtMotion(spec["freqs"], spec["fas"], duration=spec["duration"],
                                       peak_calculator="V75")
    layers = [pystrata.site.Layer(pystrata.site.DarendeliSoilType(
                  G_UNIT * rho[i], plas_index=pi[i], ocr=1.0, stress_mean=sm[i], strains=strains),
                  th[i], vs[i]) for i in range(LAYERS)]
    rock = pystrata.site.SoilType("rock", G_UNIT * rho[-1], None, xi[-1])
    layers.append(pystrata.site.Layer(rock, 0.0, vs[-1]))
    prof = pystrata.site.Profile(layers, wt_depth=WATER_TABLE)
    calc = pystrata.propagation.EquivalentLinearCalculator(
        strain_ratio=STRAIN_RATIO, tolerance=100.0 * tol, max_iterations=maxit)
    count = [0]
    waves = calc._calc_waves

    def counting(*a, **k):      # one wave computation a pass
        count[0] += 1
        return waves(*a, **k)
    calc._calc_waves = counting
    loc_in = prof.location("outcrop", index=-1)
    calc(motion, prof, loc_in)
    out = dict(s=time.perf_counter() - t0, cpu=time.process_time() - c0, passes=count[0],
               converged=bool(max(l.max_error for l in prof[:-1]) < 100.0 * tol),
               max_strain=np.array([l.strain_max for l in prof[:-1]]))
    if post:
        tf = calc.calc_accel_tf(loc_in, prof.location("outcrop", index=0))
        out["psa"] = motion.calc_osc_accels(1.0 / PERIODS, 0.05, tf)
        out["pga"] = motion.calc_peak(tf)
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--pairs", type=int, default=15)
    ap.add_argument("--tol", type=float, default=0.01, help="VELMAR's convention (a ratio)")
    ap.add_argument("--max-iterations", type=int, default=15)
    ap.add_argument("--magnitude", type=float, default=6.5)
    ap.add_argument("--distance", type=float, default=20.0)
    ap.add_argument("--json", help="also write the figures to this file")
    a = ap.parse_args()
    set_import_path()
    import pystrata
    import velmar
    warnings.simplefilter("ignore", RuntimeWarning)

    m = velmar.SourceTheoryMotion(magnitude=a.magnitude, distance=a.distance, region="wna", depth=8.0)
    spec = dict(magnitude=a.magnitude, distance=a.distance, freqs=m.freqs, fas=m.fas, duration=m.duration)
    run_velmar(velmar, spec, a.tol, 2)       # warm-up
    run_pystrata(pystrata, spec, a.tol, 2)
    tv, tp, cv, cp = [], [], [], []
    for k in range(a.pairs):
        v = run_velmar(velmar, spec, a.tol, a.max_iterations, post=(k == 0))
        p = run_pystrata(pystrata, spec, a.tol, a.max_iterations, post=(k == 0))
        tv.append(v["s"])
        tp.append(p["s"])
        cv.append(v["cpu"])
        cp.append(p["cpu"])
        if k == 0:
            v0, p0 = v, p
    ratios = np.array(tp) / np.array(tv)
    cpu_ratios = np.array(cp) / np.array(cv)
    rel_psa = np.abs(p0["psa"] / v0["psa"] - 1)
    rel_strain = np.abs(p0["max_strain"] / v0["max_strain"] - 1)
    r = dict(magnitude=a.magnitude, distance=a.distance, frequencies=int(m.freqs.size), duration=float(m.duration),
             tolerance=a.tol, pystrata_tolerance_percent=100 * a.tol, max_iterations=a.max_iterations,
             pairs=a.pairs, velmar_version=getattr(velmar, "__version__", "?"),
             pystrata_version=pystrata.__version__,
             velmar_median_s=statistics.median(tv), pystrata_median_s=statistics.median(tp),
             pystrata_per_pass_s=statistics.median(tp) / max(p0["passes"], 1),
             velmar_cpu_median_s=statistics.median(cv), pystrata_cpu_median_s=statistics.median(cp),
             cpu_ratio_median=float(np.median(cpu_ratios)), load_average=os.getloadavg()[0],
             ratio_median=float(np.median(ratios)), ratio_min=float(ratios.min()), ratio_max=float(ratios.max()),
             velmar_passes=v0["passes"], velmar_converged=v0["converged"],
             pystrata_passes=p0["passes"], pystrata_converged=p0["converged"],
             pga_velmar=float(v0["pga"]), pga_pystrata=float(p0["pga"]),
             psa_max_rel_diff=float(rel_psa.max()), psa_worst_period_s=float(PERIODS[rel_psa.argmax()]),
             max_strain_max_rel_diff=float(rel_strain.max()),
             max_strain_worst_layer=int(rel_strain.argmax()) + 1)
    print(f"RVT EQL, {LAYERS} layers, M {a.magnitude} at {a.distance} km (wna), {m.freqs.size} frequencies, "
          f"duration {m.duration:.3f} s; tolerance {a.tol} (pystrata {100 * a.tol:g} %), at most "
          f"{a.max_iterations} passes; {a.pairs} pairs A B A B ...")
    print(f"  velmar   median {1e3 * r['velmar_median_s']:9.3f} ms  ({r['velmar_passes']} passes, "
          f"converged {r['velmar_converged']})")
    print(f"  pystrata median {1e3 * r['pystrata_median_s']:9.3f} ms  ({r['pystrata_passes']} passes, "
          f"converged {r['pystrata_converged']}; {1e3 * r['pystrata_per_pass_s']:.2f} ms a pass)")
    print(f"  pystrata / velmar: median of pair ratios {r['ratio_median']:.1f}x "
          f"(pairs {r['ratio_min']:.1f}..{r['ratio_max']:.1f})")
    print(f"  CPU time (process): velmar {1e3 * r['velmar_cpu_median_s']:.3f} ms, pystrata "
          f"{1e3 * r['pystrata_cpu_median_s']:.3f} ms; median of pair ratios {r['cpu_ratio_median']:.1f}x "
          f"(load average {r['load_average']:.1f} on {os.cpu_count()} cores)")
    print(f"  surface PSA 5 %: max rel diff {100 * r['psa_max_rel_diff']:.2f} % (T = {r['psa_worst_period_s']:.3g} s);"
          f" PGA {r['pga_velmar']:.4f} g vs {r['pga_pystrata']:.4f} g; peak strain: max rel diff "
          f"{100 * r['max_strain_max_rel_diff']:.2f} % (layer {r['max_strain_worst_layer']})")
    if a.json:
        with open(a.json, "w") as f:
            json.dump(r, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
