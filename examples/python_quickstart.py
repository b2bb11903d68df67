#!/usr/bin/env python3
"""VELMAR from Python: a profile, its transfer function, a record propagated
to the surface, the result saved as CSV.

Run from the top folder of the repository, with the package on the path:
    PYTHONPATH=build/python python3 examples/python_quickstart.py [out.csv]
"""

import os
import sys

import numpy as np

import velmar

HERE = os.path.dirname(os.path.abspath(__file__))

# Three soil layers over rock, top down; the last entry is the half-space.
# Units: m, t/m3, m/s; damping as a ratio (Q = 1 / (2 damping)).
profile = velmar.Profile(
    thickness=[8.0, 15.0, 25.0, 0.0],
    density=[1.70, 1.90, 2.05, 2.40],
    vs=[120.0, 250.0, 450.0, 1200.0],
    damping=[0.05, 0.033, 0.025, 0.0],  # 0 in the half-space: elastic rock
)
print(profile)

# Surface response per unit incident displacement (2 for bare rock), vertical SH.
freqs = np.linspace(0.0, 25.0, 2501)  # Hz
h = velmar.transfer(profile, freqs, wave="SH", angle=0.0, depth=0.0)
peak = int(np.argmax(np.abs(h)))
print(f"surface/outcrop amplification peaks at {freqs[peak]:.2f} Hz: {abs(h[peak]) / 2:.2f}")

# The example accelerogram: 4 header lines, then 5 values a line, in cm/s2 at 0.01 s.
record = velmar.read_record(os.path.join(HERE, "accelerogram.txt"), dt=0.01, units="cm/s2")
print(record)

# The record as an outcrop motion of the rock; acceleration at the surface (in
# the record's units) and shear strain in the middle of the clay, 4 m (a ratio).
surface = velmar.propagate(record, profile, input="outcrop", depth=0.0, quantity="accel")
strain = velmar.propagate(record, profile, input="outcrop", depth=4.0, quantity="strain")
print(f"peak acceleration: input {np.max(np.abs(record.accel)):.1f} cm/s2, "
      f"surface {np.max(np.abs(surface)):.1f} cm/s2; peak strain at 4 m {np.max(np.abs(strain)):.2e}")

out = sys.argv[1] if len(sys.argv) > 1 else "python_quickstart.csv"
np.savetxt(out, np.column_stack([record.time, record.accel, surface, strain]), delimiter=",", fmt="%.17g",
           header="time_s,input_accel_cm/s2,surface_accel_cm/s2,strain_4m_ratio", comments="")
print(f"wrote {out}")
