#!/usr/bin/env bash
# Reading speed of vabo's calibration input: generates N short data lines
# (default 1,000,000) and times one run of vabo on them with maxiter=0, so
# that only reading, conversion and a single evaluation of the model count.
# Prints the line count, the elapsed seconds and the lines per second.
#   usage: bench/read_data.sh [vabo binary (default build/vabo)] [lines]
set -euo pipefail
cd "$(dirname "$0")/.."
vabo=${1:-build/vabo}
nlines=${2:-1000000}
if [[ ! -x $vabo ]]; then
  echo "no vabo binary at $vabo (build it first or pass its path)" >&2
  exit 1
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
data=$tmp/points.dat

# Short lines "TwoTheta i1 i2", a comment every 100 lines, deterministic.
awk -v n="$nlines" 'BEGIN {
  for (k = 0; k < n; k++) {
    if (k % 100 == 0) print "# block " k
    printf "%.6f %d %d\n", 0.05 + (k % 997) * 1e-4, 100 + k % 1800, 120 + (k * 7) % 1760
  }
}' > "$data"

start=$(date +%s.%N)
"$vabo" input="$data" maxiter=0 maxdev=1e9 \
  75_um 75_um 1000 1000 20_cm 0 0 0 > "$tmp/out" 2> "$tmp/err" || {
  echo "vabo failed:" >&2; cat "$tmp/err" >&2; exit 1; }
end=$(date +%s.%N)

ndata=$(awk 'END { print $5 }' "$tmp/out")
awk -v s="$start" -v e="$end" -v n="$ndata" 'BEGIN {
  t = e - s
  printf "read_data: %d points in %.3f s (%.0f lines/s)\n", n, t, n / t
}'
