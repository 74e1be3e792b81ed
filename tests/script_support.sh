# Shared pieces of the script tests (tests/check_*.sh), which source this
# file after setting `python` and `name` (the test's name for its messages).
# It defines functions only; it runs nothing itself.

# require_python WHAT IMPORTS: returns when $python can run "import IMPORTS";
# otherwise exits 77 (skipped), or 1 when CI is set, where every check runs.
require_python() {
  if "$python" -c "import $2" >/dev/null 2>&1; then
    return 0
  fi
  if [ -n "${CI:-}" ]; then
    echo "$name: $1 is not installed for $python"
    exit 1
  fi
  echo "$name: skipped, $1 is not installed for $python"
  exit 77
}

# enter_work_dir: makes a temporary directory `work`, removed when the script
# exits, and changes into it; exits 1 when it cannot.
enter_work_dir() {
  work=$(mktemp -d) || exit 1
  trap 'rm -rf "$work"' EXIT
  cd "$work" || exit 1
}
