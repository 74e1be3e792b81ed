#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/, ASan + UBSan) and
# runs each from its seed corpus in tests/fuzz/corpus/<target>/ for SECONDS
# (default 30), two at a time.  Inputs that add coverage go into a scratch
# directory, so the corpus in the tree stays as it is.  Prints each
# target's executions and coverage; exits non-zero on any finding (crash,
# sanitizer report, failed check, leak, slow input), after showing its log
# and the input that caused it.  Without clang++ it says so and exits 0.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
jobs=$(nproc 2>/dev/null || echo 2)

compiler=$(command -v clang++ || command -v clang++-14 || true)
if [ -z "$compiler" ]; then
  echo "fuzz: no clang++, the fuzz targets are not built"
  exit 0
fi
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER="$compiler" -DVABO_FUZZ=ON \
      -DVABO_TESTS=OFF -DVABO_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-fuzz -j "$jobs"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# One target: its own scratch corpus first (where new inputs go), then the
# seeds.  -close_fd_mask=2 silences the program's standard error; the
# sanitizers and libFuzzer still report.
# The image targets run with the suppression of a leak inside libhdf5
# (tests/fuzz/lsan.supp says which).
run_target() {
  local target=$1
  local lsan=${LSAN_OPTIONS:-}
  case $target in
    fuzz_image) lsan="suppressions=$PWD/tests/fuzz/lsan.supp${lsan:+:$lsan}" ;;
  esac
  mkdir -p "$scratch/$target"
  LSAN_OPTIONS=$lsan build-fuzz/"$target" -close_fd_mask=2 -max_total_time="$seconds" \
      -timeout=10 -rss_limit_mb=2560 -print_final_stats=1 \
      -artifact_prefix="$scratch/$target-" \
      "$scratch/$target" "tests/fuzz/corpus/$target" >"$scratch/$target.log" 2>&1
}

failed=0
report() {
  local target=$1 status=$2
  local done_line
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$scratch/$target.log" | tail -1 || true)
  echo "fuzz: $target: ${done_line:-no summary} (status $status)"
  if [ "$status" -ne 0 ]; then
    failed=1
    tail -n 60 "$scratch/$target.log"
    for artifact in "$scratch/$target"-*; do
      [ -e "$artifact" ] || continue
      echo "fuzz: $target: finding $artifact:"
      od -c "$artifact" | head -n 20
    done
  fi
}

targets=(fuzz_str2double fuzz_program fuzz_format fuzz_cli fuzz_calibrant
         fuzz_npt fuzz_poni fuzz_edf fuzz_image)
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  pair=("${targets[@]:i:2}")
  pids=()
  for target in "${pair[@]}"; do
    run_target "$target" &
    pids+=($!)
  done
  for k in "${!pair[@]}"; do
    status=0
    wait "${pids[$k]}" || status=$?
    report "${pair[$k]}" "$status"
  done
done
exit "$failed"
