#!/usr/bin/env bash
# vabo's image readers against fabio and h5py: images of every format and
# pixel type made by them, with gaps, saturation, NaN, frames and masks,
# read by the probe (tests/tools/vabo_image_probe) and compared pixel by
# pixel with what fabio reads (tests/images_crosscheck.py).
#
#   check_images.sh VABO_BINARY SOURCE_DIR BUILD_DIR
#
# Exit 0 pass, 1 fail, 77 skip (fabio or h5py missing, when the optional
# packages were declined; see script_support.sh).
set -u
source_dir=$2
build_dir=$3
python=/usr/bin/python3
name=check_images
source "$source_dir/tests/script_support.sh"
require_python "python3-fabio, python3-h5py and numpy" "fabio, h5py, numpy"
"$python" -W ignore "$source_dir/tests/images_crosscheck.py" \
  "$build_dir/tests/vabo_image_probe"
