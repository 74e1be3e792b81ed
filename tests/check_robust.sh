#!/usr/bin/env bash
# The targets of the robust options, measured by bench/robust.py on
# generated LaB6 data: reject=4 lands within 3 standard errors of the true
# geometry with 1 % and 5 % of the points on a wrong ring, and method=lm
# reaches the least-squares minimum from at least 11 of 12 starts far off.
#
#   check_robust.sh VABO_BINARY SOURCE_DIR BUILD_DIR
#
# Exit 0 pass, 1 fail, 77 skip (no python3 at /usr/bin, when the optional
# packages were declined; see script_support.sh).
set -u
vabo=$1
source_dir=$2
python=/usr/bin/python3
name=check_robust
source "$source_dir/tests/script_support.sh"
require_python "python3" "json"
"$python" "$source_dir/bench/robust.py" --vabo "$vabo" --seeds 3 --check
