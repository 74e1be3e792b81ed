#!/usr/bin/env bash
# Installs the Debian packages that vabo needs, in three sets:
#   build     compile the program and its libraries (scripts/example.sh)
#   test      build and run the test suite and the benchmarks
#   optional  the optional tools, and the cross-checks that use them
# Usage: scripts/deps.sh SET...        for example: scripts/deps.sh build test
#
# A package counts as present when dpkg records it as installed; with none
# missing the script does nothing (no apt-get at all) and exits 0.  Missing
# packages are installed with apt-get when it runs as root, or through sudo
# when sudo can act (without a password, or with a terminal to ask for one).
# Otherwise, or when the installation fails or is refused, it prints the one
# apt-get line to run as root and exits 1.  Exit 2: bad usage.
#
# scripts/test.sh asks for build, test and optional.  To go on without the
# optional set, run it with VABO_SKIP_OPTIONAL=1: the checks that need those
# packages are then reported as skipped, with the reason (never under CI,
# where they must run).
set -euo pipefail

# Building the program.
build=(
  cmake g++ make
  nlohmann-json3-dev     # the JSON result file
  libfast-float-dev      # reading number literals (header-only)
  libtiff-dev libhdf5-dev libcbf-dev   # the readers of detector images
)
# The tests and the benchmarks.
test=(
  libgtest-dev libgmock-dev
  libbenchmark-dev
  valgrind               # memcheck run of the end-to-end tests
  groff                  # the man pages render without warnings
  pkg-config             # consumer test of the installed library
  python3-numpy python3-scipy   # independent numerical checks
  python3-pytest
  python3-fabio python3-h5py    # images made and read by the field's tools
  locales-all            # a locale with a decimal comma, for number reading
)
# Optional tools, and the cross-checks that use them.
optional=(
  python3-pyfai python3-silx    # cross-checks of the model and the log
  python3-matplotlib            # the plot tool vabo-plot
  clang libclang-rt-14-dev      # libFuzzer fuzz targets
  pybind11-dev python3-pybind11 python3-dev   # Python bindings
)

usage() {
  echo "usage: scripts/deps.sh build|test|optional..." >&2
  exit 2
}

[ $# -gt 0 ] || usage
wanted=()
for set in "$@"; do
  case $set in
    build) wanted+=("${build[@]}") ;;
    test) wanted+=("${test[@]}") ;;
    optional) wanted+=("${optional[@]}") ;;
    *) usage ;;
  esac
done

if ! command -v dpkg-query >/dev/null 2>&1; then
  echo "deps.sh: not a Debian system (no dpkg-query); install the" \
       "equivalents of: ${wanted[*]}" >&2
  exit 1
fi

# One dpkg query for all: the second letter of the status is "i" for an
# installed package.  Unknown names are reported on stderr, dropped here.
installed=$(dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' \
              "${wanted[@]}" 2>/dev/null | awk 'substr($1, 2, 1) == "i" { print $2 }' || true)
missing=()
for pkg in "${wanted[@]}"; do
  if ! grep -qxF -- "$pkg" <<<"$installed" && [[ " ${missing[*]} " != *" $pkg "* ]]; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

install_line="apt-get install --no-install-recommends ${missing[*]}"
refuse() {
  echo "deps.sh: Debian packages for $* are missing; install them as root with:" >&2
  echo "$install_line" >&2
  exit 1
}

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1 && { sudo -n true 2>/dev/null || [ -t 0 ]; }; then
  as_root=(sudo)
else
  refuse "$@"
fi

# Output of apt-get goes to stderr: the callers' stdout carries results.
echo "deps.sh: installing ${missing[*]}" >&2
apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q
     -o DPkg::Lock::Timeout=300)
"${apt[@]}" update >&2 || refuse "$@"
"${apt[@]}" install -y --no-install-recommends "${missing[@]}" >&2 || refuse "$@"
