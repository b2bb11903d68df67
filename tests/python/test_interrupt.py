"""Ctrl-C stops the long calls: a batch on local threads and the
equivalent-linear iteration end with KeyboardInterrupt within a second."""

import os
import signal
import subprocess
import sys
import time

import pytest

import velmar

# A child that starts a call lasting minutes, says so, and reports how it ended.
CHILD = r"""
import sys
import numpy as np
import velmar

p = velmar.Profile(thickness=[5, 10, 20, 0], vs=[150, 250, 400, 900], density=[1.8, 1.9, 2.0, 2.2],
                   damping=[0.03, 0.02, 0.02, 0.01])
t = np.arange(4000) * 0.005
rec = velmar.Record(0.3 * np.sin(2 * np.pi * 2 * t) * np.exp(-((t - 10) / 4) ** 2), dt=0.005)
print("started", flush=True)
try:
    if sys.argv[1] == "simulate":
        velmar.simulate(p, rec, n=20_000, analysis="equivalent_linear", curves=velmar.Darendeli(pi=20),
                        threads=int(sys.argv[2]), progress=False)
    else:
        velmar.equivalent_linear(rec, p, [velmar.Darendeli(pi=20)] * 3, max_frequency=50.0,
                                 max_iterations=10**9, tolerance=1e-300)
except KeyboardInterrupt:
    print("KeyboardInterrupt", flush=True)
    sys.exit(3)
print("finished", flush=True)
"""


@pytest.mark.parametrize("args", [["simulate", "2"], ["simulate", "1"], ["equivalent_linear"]])
def test_ctrl_c_stops_the_call_within_a_second(args):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        [os.path.dirname(os.path.dirname(velmar.__file__)), os.environ.get("PYTHONPATH", "")]))
    child = subprocess.Popen([sys.executable, "-c", CHILD, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True, env=env)
    try:
        assert child.stdout.readline().strip() == "started"
        time.sleep(0.4)  # inside the C++ call by now
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=10)
        elapsed = time.monotonic() - sent
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    assert child.returncode == 3 and out.strip() == "KeyboardInterrupt", (out, err)
    assert elapsed < 1.0
