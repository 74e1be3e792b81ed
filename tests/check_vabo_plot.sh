#!/usr/bin/env bash
# Checks the plotting tool tools/vabo-plot on a real iteration log: vabo
# refines the shipped example calibration, with weights added, and writes
# vabo_iteration.spec; vabo_plot_check.py then runs the tool on it.
# Usage: check_vabo_plot.sh <vabo binary> <source dir> <build dir>
# Without silx or matplotlib it fails, or is skipped (77) when the optional
# packages were declined (see script_support.sh).
set -u
# Absolute paths: the run happens in a temporary directory.
vabo=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
source_dir=$(cd "$2" && pwd)
python=/usr/bin/python3
name=check_vabo_plot
. "$source_dir/tests/script_support.sh"

require_python "silx or matplotlib" "silx.io.specfile, matplotlib.figure"
enter_work_dir
# Headless, and a matplotlib cache of its own rather than the user's.
export MPLBACKEND=Agg MPLCONFIGDIR=$work/mplconfig

# Weights 0, 0.625, 1.25 and 1.875 in turn, so that the table must weight
# its sums and meet points of weight 0.
awk '/^#/ || NF == 0 { print; next } { print $0, (NR % 4) * 0.625 }' \
  "$source_dir/examples/points.dat" >points.dat
"$vabo" input=points.dat 75_um 75_um 1000 1000 20_cm 0 0 0 debug=128 \
  >stdout.txt 2>stderr.txt
status=$?
if [ "$status" -ne 0 ] || [ ! -f vabo_iteration.spec ]; then
  echo "check_vabo_plot: vabo exited with $status"
  cat stderr.txt
  exit 1
fi

"$python" "$source_dir/tests/vabo_plot_check.py" \
  "$source_dir/tools/vabo-plot" "$work/vabo_iteration.spec"
