#!/usr/bin/env bash
# Sets up a Debian machine for VELMAR: installs the packages that are missing,
# builds the program, the library and the Python package, and runs an example
# deck. `./setup.sh --deps` only installs the packages.
set -euo pipefail
cd "$(dirname "$0")"

# Debian packages: the compiler and CMake for the program; GoogleTest and
# Google Benchmark for the tests and benchmarks; pybind11, numpy and pytest for
# the Python package and its tests; venv, pip and setuptools to install the
# package with pip (and to test that); matplotlib for its figures; scipy and
# hypothesis as independent references in its tests; Dask (distributed),
# xarray, netCDF4 and tqdm for batches of runs.
packages=(cmake g++ libgtest-dev libbenchmark-dev pybind11-dev python3-dev python3-numpy python3-pytest
          python3-venv python3-pip python3-setuptools
          python3-matplotlib python3-scipy python3-hypothesis
          python3-distributed python3-xarray python3-netcdf4 python3-tqdm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  # Wait for another package manager run to finish rather than fail.
  $sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq "${missing[@]}"
fi
[ "${1:-}" = "--deps" ] && exit 0

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j2
./build/src/velmar < examples/sh_transfer_clay_sand_rock.deck
echo "example written: sh_transfer_clay_sand_rock.out (first rows below)"
head -5 sh_transfer_clay_sand_rock.out
