"""Timing of velmar.simulate: linear batches on this machine's cores, and an
equivalent-linear batch on a Dask LocalCluster of one and of two worker
processes.

Run from the build tree:  PYTHONPATH=build/python python3 bench/bench_batch.py [--quick]
Prints one line per measurement (seconds, runs per second) and, for Dask,
the speed-up of two workers over one.
"""

from __future__ import annotations

import argparse
import time

import numpy as np

import velmar


def graded_profile(layers: int = 30) -> velmar.Profile:
    """A soil column of `layers` layers, 2 to 3.5 m thick, Vs 150 to 600 m/s, over rock."""
    k = np.arange(layers, dtype=np.float64)
    thickness = np.append(2.0 + 0.05 * k, 0.0)
    vs = np.append(150.0 + 15.0 * k, 1500.0)
    density = np.append(1.7 + 0.01 * k, 2.4)
    damping = np.append(np.full(layers, 0.03), 0.01)
    return velmar.Profile(thickness=thickness, density=density, vs=vs, damping=damping)


def synthetic_record(samples: int = 12000, dt: float = 0.005, pga: float = 0.1) -> velmar.Record:
    """Band-limited noise under a smooth envelope, scaled to `pga` g (fixed seed)."""
    rng = np.random.default_rng(7)
    t = np.arange(samples) * dt
    noise = np.convolve(rng.standard_normal(samples), np.hanning(9), mode="same")
    a = noise * (t / 5.0) ** 2 * np.exp(-t / 5.0)
    return velmar.Record(a * pga / np.max(np.abs(a)), dt, name="synthetic")


def timed(label: str, runs: int, call) -> float:
    start = time.perf_counter()
    sims = call()
    seconds = time.perf_counter() - start
    print(f"{label}: {seconds:.2f} s, {runs / seconds:.1f} runs/s, {len(sims.failures)} failed", flush=True)
    return seconds


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="a tenth of the runs")
    parser.add_argument("--linear-only", action="store_true")
    args = parser.parse_args()
    scale = 10 if args.quick else 1
    p = graded_profile(30)
    rec = synthetic_record()

    n_lin = 1000 // scale
    timed(f"linear, {n_lin} runs, 30 layers, 12000 samples, all cores", n_lin,
          lambda: velmar.simulate(p, [rec], n=n_lin, seed=1, vs_model="USGS C", layering=False,
                                  analysis="linear", progress=False))
    if args.linear_only:
        return

    from distributed import Client, LocalCluster

    n_el = 200 // scale
    curves = [velmar.Darendeli(pi=15.0, ocr=1.0, k0=0.5)] * p.layers
    times = {}
    for workers in (1, 2):
        with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                          dashboard_address=None) as cluster, Client(cluster) as client:
            client.run(lambda: __import__("velmar"))  # import once on every worker before timing
            cpu_before = sum(client.run(time.process_time).values())
            times[workers] = timed(
                f"equivalent-linear, {n_el} runs, Dask, {workers} worker process{'es' if workers > 1 else ''}",
                n_el, lambda: velmar.simulate(p, [rec], n=n_el, seed=1, vs_model="USGS C", layering=False,
                                              analysis="equivalent_linear", curves=curves, client=client,
                                              progress=False))
            # Worker CPU time over wall time: below the worker count when
            # other processes share the cores (the speed-up is then not the
            # program's).
            cpu = sum(client.run(time.process_time).values()) - cpu_before
            print(f"  worker CPU {cpu:.2f} s, {cpu / times[workers]:.2f} cores busy on average", flush=True)
    print(f"speed-up of two workers over one: {times[1] / times[2]:.2f}x")


if __name__ == "__main__":
    main()
