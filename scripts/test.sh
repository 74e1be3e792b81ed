#!/usr/bin/env bash
# Builds vabo twice -- plainly and with AddressSanitizer + UndefinedBehavior-
# Sanitizer -- and runs the whole test suite in each build.  Exits non-zero
# when a build or any test fails.  The plain build includes the Python module
# and its tests; the sanitized one leaves the module out (an instrumented
# extension cannot load into an uninstrumented interpreter).
# First installs the Debian packages of the sets build, test and optional
# (scripts/deps.sh).  With VABO_SKIP_OPTIONAL=1 it goes on without the
# optional set: the Python module (pybind11) is left out, and the checks
# that need an optional package are reported as skipped, each with its
# reason.  Under CI (CI not empty) the optional set is always installed.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

sets=(build test optional)
python_module=ON
if [ "${VABO_SKIP_OPTIONAL:-0}" = 1 ] && [ -z "${CI:-}" ]; then
  sets=(build test)
  python_module=OFF
  echo "== VABO_SKIP_OPTIONAL=1: optional packages are not installed, the" \
       "Python module is left out, the checks that need a missing one are skipped =="
fi
scripts/deps.sh "${sets[@]}"

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
  # ctest names skipped tests but hides their output; show why they were.
  grep -hE '^[A-Za-z0-9_]+: skipped: ' "$dir/Testing/Temporary/LastTest.log" \
    2>/dev/null || true
}

echo "== plain build =="
run_suite build-tests -DVABO_SANITIZE=OFF -DVABO_PYTHON=$python_module
echo "== sanitized build (ASan + UBSan) =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-sanitize -DVABO_SANITIZE=ON -DVABO_BENCH=OFF -DVABO_PYTHON=OFF
echo "== all tests passed in both builds =="
