#!/usr/bin/env bash
# The program with the field's files (calibrant=, npt=, start=, refine=,
# keep=, control points as input=) against pyFAI: round trips of control
# points and PONI files, and the bad input of every new option
# (field_files_check.py).
# Usage: check_field_files.sh <vabo binary> <source dir> <build dir>
# Without pyFAI it fails, or is skipped (77) when the optional packages were
# declined (see script_support.sh).
set -u
if [ $# -ne 3 ]; then
  echo "usage: check_field_files.sh <vabo binary> <source dir> <build dir>" >&2
  exit 2
fi
source_dir=$2
python=/usr/bin/python3
name=check_field_files
. "$source_dir/tests/script_support.sh"

require_python "pyFAI" "pyFAI.control_points"
"$python" "$source_dir/tests/field_files_check.py" "$1" "$source_dir"
