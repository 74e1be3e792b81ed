#!/usr/bin/env bash
# Cross-check of the iteration log: runs vabo with the savesteps switch on
# exact synthetic points and reads vabo_iteration.spec back with silx's
# SPEC-file reader (scan numbers, column labels, rows).
# Usage: check_silx_log.sh <vabo binary> <source dir> <build dir>
# Without silx it fails, or is skipped (77) when the optional packages were
# declined (see script_support.sh).
set -u
# Absolute paths: the run happens in a temporary directory.
vabo=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
source_dir=$(cd "$2" && pwd)
python=/usr/bin/python3
checker=$source_dir/tests/silx_log_check.py
name=check_silx_log
. "$source_dir/tests/script_support.sh"

require_python silx silx.io.specfile
enter_work_dir

"$python" "$checker" points >points.dat || exit 1

# Two steps from start values a little off: scans 0, 1 and 2.
"$vabo" debug=0x80 maxiter=2 mindev=0 \
  75e-6 75e-6 1030.1 981.9 0.2051 0.0297 -0.0219 0 \
  <points.dat >stdout.txt 2>stderr.txt
status=$?
if [ "$status" -ne 0 ]; then
  echo "check_silx_log: vabo exited with $status"
  cat stderr.txt
  exit 1
fi
if [ ! -f vabo_iteration.spec ]; then
  echo "check_silx_log: vabo wrote no vabo_iteration.spec"
  exit 1
fi

"$python" "$checker" check vabo_iteration.spec points.dat 3
