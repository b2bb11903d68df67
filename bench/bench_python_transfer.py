#!/usr/bin/env python3
"""Time velmar.transfer from Python (SH, surface, 30000 frequencies).

The profile is the graded model of bench/bench_site.cpp (thickness 2 + 0.5 k m,
density 1.6 + 0.01 k t/m3, vs 150 + 12 k + 40 (k mod 3) m/s, damping 0.05,
half-space 2.5 t/m3 and at least 2000 m/s) and the grid its 0 to 150 Hz in
steps of 0.005 Hz, so the figures compare with BM_transfer_sh. Reports the
median of several calls, and the throughput of two threads calling at once
against one thread making the same calls in turn.

    PYTHONPATH=build/python python3 bench/bench_python_transfer.py
"""

import statistics
import threading
import time

import numpy as np

import velmar

GRID = 30000
DF = 0.005
REPEATS = 15


def graded_profile(nlayer):
    k = np.arange(nlayer, dtype=float)
    vs = 150.0 + 12.0 * k + 40.0 * (np.arange(nlayer) % 3)
    return velmar.Profile(thickness=2.0 + 0.5 * k, density=np.append(1.6 + 0.01 * k, 2.5),
                          vs=np.append(vs, max(2000.0, vs[-1] + 100.0)), damping=np.append(np.full(nlayer, 0.05), 0.0))


def median_time(fn, repeats=REPEATS):
    fn()  # warm-up
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return statistics.median(times)


def two_threads_ratio(p, f, calls=8):
    """Throughput of two threads making `calls` calls each at once, over one
    thread making 2 * calls in turn."""
    def work():
        for _ in range(calls):
            velmar.transfer(p, f)

    def one():
        for _ in range(2):
            work()

    def two():
        threads = [threading.Thread(target=work) for _ in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    t_one = median_time(one, 5)
    t_two = median_time(two, 5)
    return t_one / t_two, t_one, t_two


def main():
    f = np.arange(GRID) * DF
    print(f"velmar.transfer, SH at the surface, {GRID} frequencies (median of {REPEATS} calls)")
    for n in (49, 400):
        p = graded_profile(n)
        t = median_time(lambda: velmar.transfer(p, f))
        print(f"  {n:4d} layers: {t * 1e3:8.2f} ms   {t / (n * GRID) * 1e9:6.2f} ns per layer and frequency")
    p = graded_profile(49)
    ratio, t_one, t_two = two_threads_ratio(p, f)
    print(f"  two threads at once vs one (49 layers, 16 calls): {ratio:.2f}x throughput "
          f"({t_one * 1e3:.1f} ms in turn, {t_two * 1e3:.1f} ms at once)")


if __name__ == "__main__":
    main()
