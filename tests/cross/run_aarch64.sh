#!/usr/bin/env bash
# Cross-builds the computing routines for AArch64 (Debian's g++-aarch64-linux-gnu)
# and runs, under qemu-user, the unit tests of the layers, signal and site
# routines (the site tests run the library's engines) and the example decks compared with their expected outputs (the build is
# tests/cross/CMakeLists.txt; Release, in build-aarch64/). Installs the cross
# compiler, qemu-user and GoogleTest's sources from Debian's packages when
# missing. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/../.."

need=()
command -v aarch64-linux-gnu-g++ >/dev/null || need+=(g++-aarch64-linux-gnu)
command -v qemu-aarch64 >/dev/null || need+=(qemu-user)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  apt-get -o DPkg::Lock::Timeout=600 update -qq
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq "${need[@]}"
fi

build=build-aarch64
cmake -S tests/cross -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELMAR_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/aarch64-linux-gnu.cmake"
cmake --build "$build" -j2
ctest --test-dir "$build" -j2 --output-on-failure
