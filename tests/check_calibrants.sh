#!/usr/bin/env bash
# Cross-checks vabo's built-in calibrants against pyFAI: every ring's
# d-spacing, label and multiplicity against the calibrant files pyFAI ships
# and against pyFAI's own enumeration of the same cells
# (calibrant_crosscheck.py).
# Usage: check_calibrants.sh <vabo binary> <source dir> <build dir>
# The rings are printed by <build dir>/tests/vabo_calibrant_probe.  Without
# pyFAI it fails, or is skipped (77) when the optional packages were
# declined (see script_support.sh).
set -u
if [ $# -ne 3 ]; then
  echo "usage: check_calibrants.sh <vabo binary> <source dir> <build dir>" >&2
  exit 2
fi
source_dir=$2
build_dir=$3
python=/usr/bin/python3
probe="$build_dir/tests/vabo_calibrant_probe"
name=check_calibrants
. "$source_dir/tests/script_support.sh"

require_python "pyFAI" "pyFAI.calibrant"
require_tools "$build_dir" vabo_calibrant_probe
"$python" "$source_dir/tests/calibrant_crosscheck.py" --probe "$probe"
