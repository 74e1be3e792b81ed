#!/usr/bin/env bash
# Cross-checks vabo's Fit2D geometry against pyFAI's getFit2D and setFit2D
# on random geometries, and the reader of Fit2D files (check_fit2d.py).
# Usage: check_fit2d.sh <vabo binary> <source dir> <build dir>
# The files are read by <build dir>/tests/vabo_peers_probe.  Without pyFAI
# it fails, or is skipped (77) when the optional packages were declined
# (see script_support.sh).
set -u
if [ $# -ne 3 ]; then
  echo "usage: check_fit2d.sh <vabo binary> <source dir> <build dir>" >&2
  exit 2
fi
source_dir=$2
build_dir=$3
python=/usr/bin/python3
name=check_fit2d
. "$source_dir/tests/script_support.sh"

require_python "pyFAI" "numpy, pyFAI.geometry"
require_tools "$build_dir" vabo_peers_probe vabo_model_probe
exec "$python" "$source_dir/tests/check_fit2d.py" --probe "$build_dir/tests/vabo_peers_probe"
