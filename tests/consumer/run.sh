#!/usr/bin/env bash
# Installs the library from build folder $1 into a fresh prefix, then builds
# and runs the outside consumer project against it with find_package.
set -euo pipefail
build=${1:?usage: run.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" > /dev/null
cmake -S "$here" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$work/build" -j2 > /dev/null
"$work/build/consumer"
"$work/build/consumer_workspace"
