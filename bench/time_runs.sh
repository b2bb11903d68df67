#!/usr/bin/env bash
# time_runs.sh: whole-process wall time of velmar on the largest decks.
#
# Usage: bench/time_runs.sh PATH/TO/velmar [RUNS]
#
# Builds nothing. Writes into a temporary folder (removed at the end) four
# decks over one 49-layer model and a 30000-sample record:
#   sh_transfer    SH, 30000 grid frequencies, transfer-function table
#   psv_transfer   P-SV (incident SV), 30000 grid frequencies
#   sh_signal      SH signal run, 30000 samples (NFFT = 60000)
#   psv_signal     P-SV signal run, 30000 samples (NFFT = 60000)
# runs each RUNS times (default 7) after one untimed warm-up run, and prints
# the minimum and the median wall time per deck in seconds, and the minimum
# processor time (user + system; on a busy machine the wall time includes
# waiting for a core).
set -euo pipefail

if [[ $# -lt 1 ]]; then
  echo "usage: $0 PATH/TO/velmar [RUNS]" >&2
  exit 2
fi
exe=$(readlink -f "$1")
runs=${2:-7}
[[ -x "$exe" ]] || { echo "$0: $exe is not an executable" >&2; exit 2; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"

# The model: 49 graded soft layers (thickness 2..26, VS 150..776, QS 5..101,
# VP = 2 VS, QP = 2 QS) over a stiff half-space; a 30000-sample record of
# enveloped sinusoids. Written with awk so no other tool is needed.
awk 'BEGIN {
  for (k = 0; k < 49; ++k) {
    vs = 150 + 12 * k + 40 * (k % 3); qs = 5 + 2 * k
    printf "%.2f %.3f %.1f %.1f %.1f %.1f\n", 2 + 0.5 * k, 1.6 + 0.01 * k, vs, qs, 2 * vs, 2 * qs
  }
  printf "0.0 2.5 2000.0 100.0 4000.0 200.0\n"
}' > layers.txt
awk 'BEGIN {
  print "SYNTHETIC RECORD FOR TIMING"
  for (i = 0; i < 30000; ++i) {
    t = i * 0.005
    printf "%.6e\n", 100 * exp(-((t - 40) / 20) ^ 2) * (sin(15.7 * t) + 0.5 * sin(41.3 * t + 1))
  }
}' > record.txt

# deck NAME ITYPE ANGLE LOUT TAIL...: the lines after the layer table.
deck() {
  local name=$1 itype=$2 angle=$3 lout=$4
  shift 4
  {
    echo "$name.out"
    echo "$itype $angle"
    echo "49 $lout 1"
    cat layers.txt
    printf '%s\n' "$@"
  } > "$name.deck"
}
deck sh_transfer 0 30.0 1 "0" "0.0 150.0 0.005"
deck psv_transfer 2 20.0 1 "0" "0.0 150.0 0.005"
deck sh_signal 0 30.0 1 "1" "record.txt" "1" "0.005 30000 1 1"
deck psv_signal 2 20.0 1 "1" "record.txt" "1" "0.005 30000 1 1"

# Bash's own `time` gives wall, user and system seconds of the child.
TIMEFORMAT='%R %U %S'

printf '%-14s %10s %10s %10s   (%d runs each, seconds)\n' deck "wall min" "wall med" "cpu min" "$runs"
for name in sh_transfer psv_transfer sh_signal psv_signal; do
  "$exe" < "$name.deck" > /dev/null || { echo "$name: velmar failed" >&2; exit 1; }
  : > times.txt
  for ((r = 0; r < runs; ++r)); do
    { time "$exe" < "$name.deck" > /dev/null; } 2>> times.txt
  done
  sort -n times.txt | awk -v name="$name" '
    { wall[NR] = $1; cpu = $2 + $3; if (NR == 1 || cpu < cmin) cmin = cpu }
    END {
      med = (NR % 2) ? wall[(NR + 1) / 2] : (wall[NR / 2] + wall[NR / 2 + 1]) / 2
      printf "%-14s %10.3f %10.3f %10.3f\n", name, wall[1], med, cmin
    }'
done
