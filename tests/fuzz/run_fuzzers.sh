#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in their own folder and runs each for
# a bounded time; exits non-zero on any crash, hang (an input running over 10 s),
# memory blow-up or sanitizer report. Inputs that failed are kept in the build
# folder under artifacts/.
#
# Usage: tests/fuzz/run_fuzzers.sh SECONDS
#   SECONDS  fuzzing time for all targets together, shared evenly (the build comes on top)
# Environment: VELMAR_FUZZ_BUILD  build folder (default: build-fuzz in the repository)
set -euo pipefail

total=${1:?usage: run_fuzzers.sh SECONDS}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VELMAR_FUZZ_BUILD:-$root/build-fuzz}
targets=(group run)

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f "$build/CMakeCache.txt" ]; then
  CXX=clang++ cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELMAR_FUZZ=ON -DVELMAR_TESTS=OFF -DVELMAR_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

# Seeds from the example decks, in each target's input layout.
seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$seeds/group" "$seeds/run"
for deck in "$root"/examples/*.deck "$root"/tests/data/corpus/*.deck; do
  base=$(basename "$(dirname "$deck")")_$(basename "$deck" .deck)
  # run: the deck without its first line; a signal deck names sig.txt and carries its record after 0xff.
  signal=$(awk 'NR > 1 && /^[^0-9. -]/ { print; exit }' "$deck")
  {
    tail -n +2 "$deck" | sed -e "s|^$signal\$|sig.txt|"
    if [ -n "$signal" ]; then
      printf '\377'
      record=$(dirname "$deck")/$(basename "$signal")
      [ -f "$record" ] || record=$root/$signal
      cat "$record"
    fi
  } >"$seeds/run/$base"
  # group: six floats, then three integers, over the deck's lines.
  { printf '\005\000'; cat "$deck"; } >"$seeds/group/${base}_floats"
  { printf '\002\377'; tail -n +3 "$deck"; } >"$seeds/group/${base}_ints"
done

# The run target keeps its files in a folder of its own under TMPDIR; keep
# those inside the build folder, and remove them at the end.
export TMPDIR=$build/fuzz-tmp
rm -rf "$TMPDIR"
mkdir -p "$TMPDIR"
trap 'rm -rf "$TMPDIR"' EXIT

per=$(( total / ${#targets[@]} ))
[ "$per" -ge 1 ] || per=1
status=0
for t in "${targets[@]}"; do
  corpus=$build/corpus/$t
  mkdir -p "$corpus" "$build/artifacts"
  max_len=65536
  [ "$t" = group ] && max_len=4096
  echo "== fuzz_$t for ${per}s"
  if ! "$build/tests/fuzz/fuzz_$t" "$corpus" "$seeds/$t" -dict="$root/tests/fuzz/deck.dict" \
      -max_total_time="$per" -timeout=10 -rss_limit_mb=2048 -max_len="$max_len" \
      -artifact_prefix="$build/artifacts/$t-" -print_final_stats=1 2>"$build/fuzz_$t.log"; then
    echo "fuzz_$t FAILED; its log:"
    tail -n 60 "$build/fuzz_$t.log"
    status=1
  else
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$build/fuzz_$t.log" || true
  fi
done
exit "$status"
