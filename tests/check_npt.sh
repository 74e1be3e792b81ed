#!/usr/bin/env bash
# Cross-checks vabo's control-point files against pyFAI's ControlPoints:
# files written by pyFAI read by vabo, files written by vabo loaded by pyFAI,
# the TwoTheta of rings (check_npt.py).
# Usage: check_npt.sh <vabo binary> <source dir> <build dir>
# The files are read by <build dir>/tests/vabo_peers_probe.  Without pyFAI
# it fails, or is skipped (77) when the optional packages were declined
# (see script_support.sh).
set -u
if [ $# -ne 3 ]; then
  echo "usage: check_npt.sh <vabo binary> <source dir> <build dir>" >&2
  exit 2
fi
source_dir=$2
build_dir=$3
python=/usr/bin/python3
name=check_npt
. "$source_dir/tests/script_support.sh"

require_python "pyFAI" "pyFAI.control_points, pyFAI.calibrant"
require_tools "$build_dir" vabo_peers_probe vabo_model_probe
exec "$python" "$source_dir/tests/check_npt.py" --probe "$build_dir/tests/vabo_peers_probe"
