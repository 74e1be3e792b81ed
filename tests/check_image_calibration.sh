#!/usr/bin/env bash
# The program's image= on images made by pyFAI in every format, its
# failures, and vabo-plot --image (image_calibration_check.py).
# Usage: check_image_calibration.sh <vabo binary> <source dir> <build dir>
# vabo-plot --image reads the image through the Python module of
# <build dir>/python; a build without the module (the sanitized one) leaves
# that check out.  Without pyFAI, fabio or h5py it fails, or is skipped
# (77) when the optional packages were declined (see script_support.sh).
set -u
if [ $# -ne 3 ]; then
  echo "usage: check_image_calibration.sh <vabo binary> <source dir> <build dir>" >&2
  exit 2
fi
source_dir=$2
python=/usr/bin/python3
name=check_image_calibration
. "$source_dir/tests/script_support.sh"

require_python "pyFAI, fabio and h5py" "pyFAI, fabio, h5py"
require_python "matplotlib and silx" "matplotlib, silx"
PYTHONPATH="$3/python${PYTHONPATH:+:$PYTHONPATH}" \
  "$python" "$source_dir/tests/image_calibration_check.py" "$1" "$source_dir"
