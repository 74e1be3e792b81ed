#!/usr/bin/env bash
# Builds vabo twice -- plainly and with AddressSanitizer + UndefinedBehavior-
# Sanitizer -- and runs the whole test suite in each build.  Exits non-zero
# when a build or any test fails.  The plain build includes the Python module
# and its tests; the sanitized one leaves the module out (an instrumented
# extension cannot load into an uninstrumented interpreter).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

echo "== plain build =="
run_suite build-tests -DVABO_SANITIZE=OFF -DVABO_PYTHON=ON
echo "== sanitized build (ASan + UBSan) =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-sanitize -DVABO_SANITIZE=ON -DVABO_BENCH=OFF -DVABO_PYTHON=OFF
echo "== all tests passed in both builds =="
