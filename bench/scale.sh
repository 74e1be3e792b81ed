#!/usr/bin/env bash
# How vabo scales with the number of calibration points.  For each size
# (default 10^3, 10^4, 10^5 and 10^6 points) it writes a LaB6 calibration
# file with examples/make_points.py --points N into a temporary directory,
# then runs, alternately and several times, vabo on it (the start values of
# scripts/example.sh, default options) and a plain C reader (bench/
# plain_reader.c: fgets + strtod of every value into arrays, compiled here).
# One row per size: the best wall time of each, their ratio, and vabo's peak
# resident memory per point (bytes).
#   usage: bench/scale.sh [vabo binary (default build-tests/vabo)] [N ...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
vabo=${1:-$root/build-tests/vabo}
[[ $# -gt 0 ]] && shift
sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(1000 10000 100000 1000000)
if [[ ! -x $vabo ]]; then
  echo "scale.sh: no vabo binary at $vabo (build it first or pass its path)" >&2
  exit 1
fi
vabo=$(cd "$(dirname "$vabo")" && pwd)/$(basename "$vabo")

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cc=${CC:-cc}
"$cc" -O2 -o "$tmp/plain_reader" "$root/bench/plain_reader.c"
"$cc" -O2 -o "$tmp/timed_run" "$root/bench/timed_run.c"
start=(75_um 75_um 1000 1000 20_cm 0 0 0)

# Runs a command under timed_run; sets t (s), rss (bytes) and out (file).
measure() {
  out=$tmp/out
  read -r t rss code _ < <("$tmp/timed_run" "$out" "$@")
  if [[ $code != 0 ]]; then
    echo "scale.sh: $* ended with status $code" >&2
    exit 1
  fi
}

printf '%9s %10s %10s %8s %14s\n' points vabo_s reader_s ratio bytes/point
for n in "${sizes[@]}"; do
  data=$tmp/points_$n.dat
  /usr/bin/python3 "$root/examples/make_points.py" --points "$n" > "$data"
  runs=5
  (( n >= 100000 )) && runs=3
  best_vabo=
  best_reader=
  peak=0
  for (( r = 0; r < runs; r++ )); do
    measure "$vabo" input="$data" "${start[@]}"
    # The fifth statistic, ndata, is printed with %lg (1e+06).
    if ! awk -v n="$n" 'END { exit ($5 + 0 == n) ? 0 : 1 }' "$out"; then
      echo "scale.sh: vabo did not read $n points" >&2
      exit 1
    fi
    best_vabo=$(awk -v a="$t" -v b="$best_vabo" 'BEGIN { print (b == "" || a < b) ? a : b }')
    (( rss > peak )) && peak=$rss
    measure "$tmp/plain_reader" "$data"
    best_reader=$(awk -v a="$t" -v b="$best_reader" 'BEGIN { print (b == "" || a < b) ? a : b }')
  done
  awk -v n="$n" -v v="$best_vabo" -v r="$best_reader" -v m="$peak" 'BEGIN {
    printf "%9d %10.4f %10.4f %8.2f %14.1f\n", n, v, r, v / r, m / n
  }'
done
