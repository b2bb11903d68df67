#!/usr/bin/env bash
# Installs the Python package the way Python users do: a copy of source tree
# $1 without its git metadata and build folders (as an unpacked source archive
# holds it), `pip install --no-build-isolation --no-index` into a fresh
# virtual environment that sees the system's packages (numpy, setuptools),
# then imports velmar from there, outside the source tree, and runs a small
# analysis. $2 is the interpreter (default /usr/bin/python3). Exits 77 (the
# test is skipped) when that interpreter lacks venv, pip or setuptools.
set -euo pipefail
src=$(cd "${1:?usage: run.sh SOURCE_DIR [PYTHON]}" && pwd)
py=${2:-/usr/bin/python3}

# (setuptools checked by itself: importing it after pip trips its distutils shim)
if ! "$py" -c "import ensurepip, venv, pip, numpy" 2>/dev/null || ! "$py" -c "import setuptools" 2>/dev/null; then
  echo "skipped: $py lacks venv, pip, setuptools or numpy (Debian: python3-venv python3-pip python3-setuptools python3-numpy)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
tar -C "$src" --exclude=./.git --exclude='./build*' --exclude='./.cache' -cf - . | tar -x -C "$work/src"
test ! -e "$work/src/.git"

"$py" -m venv --system-site-packages "$work/venv"
# The compiler cache, when there is one, keeps a repeated test fast; the base
# folder makes its entries independent of this run's temporary paths.
if command -v ccache >/dev/null; then
  export CMAKE_ARGS="${CMAKE_ARGS:-} -DCMAKE_CXX_COMPILER_LAUNCHER=ccache" CCACHE_BASEDIR="$work"
fi
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
"$work/venv/bin/python" -m pip install --no-build-isolation --no-index --quiet "$work/src"

cd "$work"
rm -rf "$work/src"   # the installed package must not need its sources
env -u PYTHONPATH "$work/venv/bin/python" - "$work/venv" <<'PY'
import sys
import numpy as np
import velmar

assert velmar.__file__.startswith(sys.argv[1]), f"velmar imported from {velmar.__file__}, not from the venv"
# One 10 m layer (Vs 200 m/s) over rock: the surface amplification peaks at
# the quarter-wavelength frequency Vs / (4 H) = 5 Hz.
p = velmar.Profile(thickness=[10.0, 0.0], density=[1.8, 2.2], vs=[200.0, 1000.0], damping=[0.05, 0.0])
f = np.linspace(0.1, 10.0, 991)
h = velmar.transfer(p, f)
peak = f[np.argmax(np.abs(h))]
assert abs(peak - 5.0) < 0.1, peak
t = np.arange(2000) * 0.01
rec = velmar.Record(0.1 * np.sin(2 * np.pi * 2.0 * t) * np.exp(-((t - 5.0) / 2.0) ** 2), dt=0.01)
surface = velmar.propagate(rec, p)
assert surface.shape == (2000,) and np.all(np.isfinite(surface))
assert np.max(np.abs(surface)) > np.max(np.abs(rec.accel))
print(f"velmar {velmar.__version__} from {velmar.__file__}: peak at {peak:.2f} Hz")
PY
