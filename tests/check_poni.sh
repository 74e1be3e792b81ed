#!/usr/bin/env bash
# Cross-checks vabo's PONI reader against pyFAI: the start values read from
# PONI files of versions 1 to 3 give pyFAI's TwoTheta within 1e-12 rad, and
# what vabo cannot honour is refused with one line (check_poni.py).
# Usage: check_poni.sh <vabo binary> <source dir> <build dir>
# The files are read by <build dir>/tests/vabo_peers_probe.  Without pyFAI
# it fails, or is skipped (77) when the optional packages were declined
# (see script_support.sh).
set -u
if [ $# -ne 3 ]; then
  echo "usage: check_poni.sh <vabo binary> <source dir> <build dir>" >&2
  exit 2
fi
source_dir=$2
build_dir=$3
python=/usr/bin/python3
name=check_poni
. "$source_dir/tests/script_support.sh"

require_python "pyFAI" "numpy, pyFAI.azimuthalIntegrator"
require_tools "$build_dir" vabo_peers_probe vabo_model_probe
exec "$python" "$source_dir/tests/check_poni.py" --probe "$build_dir/tests/vabo_peers_probe" --model-probe "$build_dir/tests/vabo_model_probe"
