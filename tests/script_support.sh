# Shared pieces of the script tests (tests/check_*.sh), which source this
# file after setting `python` and `name` (the test's name for its messages).
# It defines functions only; it runs nothing itself.

# require_python WHAT IMPORTS: returns when $python can run "import IMPORTS".
# Otherwise the check ends with one line: skipped (77) with the line
# "$name: skipped: <reason>", which scripts/test.sh shows, when the user
# declined the optional packages (VABO_SKIP_OPTIONAL=1, see scripts/deps.sh);
# failed (1) in every other case, and always when CI is set.
require_python() {
  if "$python" -c "import $2" >/dev/null 2>&1; then
    return 0
  fi
  local reason="$1 is not installed for $python"
  if [ -n "${CI:-}" ]; then
    echo "$name: $reason (required in CI)"
    exit 1
  fi
  if [ "${VABO_SKIP_OPTIONAL:-0}" = 1 ]; then
    echo "$name: skipped: $reason (VABO_SKIP_OPTIONAL=1)"
    exit 77
  fi
  echo "$name: $reason; install it with scripts/deps.sh optional," \
       "or set VABO_SKIP_OPTIONAL=1 to skip this check"
  exit 1
}

# require_tools BUILD_DIR TOOL...: returns when every TOOL (a test program)
# is built in BUILD_DIR/tests; otherwise fails (1) with one line naming it.
require_tools() {
  local build_dir=$1 tool
  shift
  for tool in "$@"; do
    if [ ! -x "$build_dir/tests/$tool" ]; then
      echo "$name: $build_dir/tests/$tool not found (build the target $tool)" >&2
      exit 1
    fi
  done
}

# enter_work_dir: makes a temporary directory `work`, removed when the script
# exits, and changes into it; exits 1 when it cannot.
enter_work_dir() {
  work=$(mktemp -d) || exit 1
  trap 'rm -rf "$work"' EXIT
  cd "$work" || exit 1
}
