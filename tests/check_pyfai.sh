#!/usr/bin/env bash
# Cross-checks vabo's detector model against pyFAI: the scattering angle of
# random geometries and pixels must agree within 1e-12 rad.
# Usage: check_pyfai.sh <vabo binary> <source dir> <build dir>
# The model is evaluated by <build dir>/tests/vabo_model_probe.  Without
# pyFAI it fails, or is skipped (77) when the optional packages were
# declined (see script_support.sh).
set -u
if [ $# -ne 3 ]; then
  echo "usage: check_pyfai.sh <vabo binary> <source dir> <build dir>" >&2
  exit 2
fi
source_dir=$2
build_dir=$3
python=/usr/bin/python3
probe="$build_dir/tests/vabo_model_probe"
name=check_pyfai
. "$source_dir/tests/script_support.sh"

require_python pyFAI "numpy, pyFAI.geometry"
if [ ! -x "$probe" ]; then
  echo "check_pyfai: $probe not found (build the target vabo_model_probe)" >&2
  exit 1
fi
exec "$python" "$source_dir/tests/pyfai_crosscheck.py" --probe "$probe"
