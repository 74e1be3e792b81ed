#!/usr/bin/env bash
# Cross-checks vabo against pyFAI: the scattering angle of random geometries
# and pixels must agree within 1e-12 rad (pyfai_crosscheck.py), and pyFAI
# must load vabo's PONI files, whose JSON companions carry standard errors
# that agree with numpy and scipy (results_crosscheck.py).
# Usage: check_pyfai.sh <vabo binary> <source dir> <build dir>
# The model is evaluated by <build dir>/tests/vabo_model_probe.  Without
# pyFAI or scipy it fails, or is skipped (77) when the optional packages were
# declined (see script_support.sh).
set -u
if [ $# -ne 3 ]; then
  echo "usage: check_pyfai.sh <vabo binary> <source dir> <build dir>" >&2
  exit 2
fi
vabo=$1
source_dir=$2
build_dir=$3
python=/usr/bin/python3
probe="$build_dir/tests/vabo_model_probe"
name=check_pyfai
. "$source_dir/tests/script_support.sh"

require_python "pyFAI or scipy" "numpy, scipy.optimize, pyFAI.geometry"
require_tools "$build_dir" vabo_model_probe
status=0
"$python" "$source_dir/tests/pyfai_crosscheck.py" --probe "$probe" || status=1
"$python" "$source_dir/tests/results_crosscheck.py" --vabo "$vabo" \
  --probe "$probe" --example "$source_dir/examples/points.dat" || status=1
exit $status
