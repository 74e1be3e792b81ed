#!/usr/bin/env bash
# Builds vabo and refines the shipped example calibration (examples/points.dat,
# LaB6 rings on a tilted 2000 x 2000 detector of 75 um pixels, made from a
# known geometry by examples/make_points.py).  The start values are a few
# percent off; the refined geometry is printed next to the true one, each
# refined value with its standard deviation.  These deviations are partial
# (each from its own column, correlations between parameters ignored), so the
# true error of a correlated pair such as cen1 and rot2 can be a few times
# larger.
set -euo pipefail
cd "$(dirname "$0")/.."

# Installs what building needs (scripts/deps.sh); tests and benchmarks, whose
# packages belong to other sets, are left out of this build.
scripts/deps.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVABO_TESTS=OFF -DVABO_BENCH=OFF > /dev/null
cmake --build build -j2 --target vabo > /dev/null

data=examples/points.dat
start=(75_um 75_um 1000 1000 20_cm 0 0 0)

echo "== vabo input=$data ${start[*]} debug=1"
out=$(mktemp)
trap 'rm -f "$out"' EXIT
status=0
build/vabo input="$data" "${start[@]}" debug=1 > "$out" || status=$?
cat "$out"
echo

# The last three lines of standard output are the result lines: refined
# values, their standard deviations, and stdev mindev maxdev total ndata nopt.
truth=$(awk '/^# truth:/ { sub(/^# truth: */, ""); print; exit }' "$data")
tail -n 3 "$out" | awk -v truth="$truth" -v start="${start[*]}" '
  NR == 1 { for (i = 1; i <= 8; i++) par[i] = $i }
  NR == 2 { for (i = 1; i <= 8; i++) dev[i] = $i }
  NR == 3 { for (i = 1; i <= 6; i++) stat[i] = $i }
  END {
    split("pix1 pix2 cen1 cen2 dis rot1 rot2 rot3", name, " ")
    split(truth, t, " ")
    split(start, s, " ")
    printf "%-6s %12s %14s %14s %12s %12s\n", "param", "start", "true",
           "refined", "stddev", "refined-true"
    for (i = 1; i <= 8; i++) {
      diff = (dev[i] > 0) ? sprintf("%12.3g", par[i] - t[i]) \
                          : sprintf("%12s", "kept")
      printf "%-6s %12s %14.8g %14s %12s %s\n", name[i], s[i], t[i], par[i],
             dev[i], diff
    }
    printf "stdev of the fit %s rad over %d points, %d parameters refined\n",
           stat[1], stat[5], stat[6]
  }'
exit $status
