# Sourced by the check scripts that need a Python package of the optional
# set (scripts/deps.sh): require_python NAME STATEMENT PACKAGE returns when
# /usr/bin/python3 can run STATEMENT, and otherwise ends the check with one
# line on stderr.  A missing package fails the check, unless the user
# declined the optional set (VABO_SKIP_OPTIONAL=1): then it exits 77, which
# ctest reports as skipped, with the line "NAME: skipped: <reason>" for
# scripts/test.sh to show.  Under CI (CI not empty) it always fails.
python=/usr/bin/python3

require_python() {
  local name=$1 statement=$2 package=$3
  "$python" -c "$statement" >/dev/null 2>&1 && return 0
  local reason="$package is not installed for $python"
  if [ -n "${CI:-}" ]; then
    echo "$name: $reason (required in CI)" >&2
    exit 1
  fi
  if [ "${VABO_SKIP_OPTIONAL:-0}" = 1 ]; then
    echo "$name: skipped: $reason (VABO_SKIP_OPTIONAL=1)" >&2
    exit 77
  fi
  echo "$name: $reason; install it with scripts/deps.sh optional," \
       "or set VABO_SKIP_OPTIONAL=1 to skip this check" >&2
  exit 1
}
