#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and uses it as other projects
# do: checks that the install tree is complete, runs the installed program on
# the installed example calibration, builds a CMake project against the
# package (find_package(vabo CONFIG), every installed header on its own,
# examples/expr_table.cpp) and plain compiler calls with pkg-config flags
# (the example program of numio(3), a user of vabo-refine, a shared module
# loaded into a running process).
#
#   check_consumers.sh CMAKE BUILD_DIR SOURCE_DIR WORK_DIR CXX [FLAGS]
#
# FLAGS are added to every compile and link (the sanitizer flags of a
# sanitized build, whose static libraries need them).  The install
# directories come from the environment (VABO_BINDIR, VABO_INCLUDEDIR,
# VABO_LIBDIR, VABO_MANDIR, VABO_DOCDIR, relative to the prefix).
# Exit 0 pass, 1 fail, 77 skip (no pkg-config).
set -euo pipefail
cmake=$1 build=$(cd "$2" && pwd) source=$(cd "$3" && pwd) work=$4 cxx=$5 flags=${6:-}
case $work in /*) ;; *) work=$PWD/$work ;; esac

fail() { echo "FAIL: $*" >&2; exit 1; }
command -v pkg-config >/dev/null || { echo "SKIP: pkg-config is not installed"; exit 77; }

# Compares a command's standard output with the expected text.
expect_output() {
  local expected=$1; shift
  local actual
  actual=$("$@") || fail "$* exited with $?"
  [ "$actual" = "$expected" ] || fail "$* printed '$actual', expected '$expected'"
}

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" ||
  fail "cmake --install (see $work/install.log)"

for file in "$VABO_BINDIR/vabo" \
            "$VABO_INCLUDEDIR"/vabo/{numio,gamma,strlib,tilt3d,vabo_base,vabo_list}.h \
            "$VABO_INCLUDEDIR"/vabo/{vabo_run,vabo_results,vabo_robust}.h \
            "$VABO_LIBDIR"/cmake/vabo/{vaboConfig,vaboConfigVersion,vaboTargets}.cmake \
            "$VABO_LIBDIR"/pkgconfig/{vabo-numio,vabo-refine,vabo-calib}.pc \
            "$VABO_MANDIR/man1/vabo.1" "$VABO_MANDIR/man3/numio.3" \
            "$VABO_DOCDIR/points.dat"; do
  [ -f "$prefix/$file" ] || fail "not installed: $file"
done
ls "$prefix/$VABO_LIBDIR"/libvabo-numio.* "$prefix/$VABO_LIBDIR"/libvabo-refine.* \
   "$prefix/$VABO_LIBDIR"/libvabo-calib.* \
  >/dev/null 2>&1 || fail "libraries not installed in $VABO_LIBDIR"

# The installed program refines the installed example calibration.
result=$("$prefix/$VABO_BINDIR/vabo" "input=$prefix/$VABO_DOCDIR/points.dat" \
         75_um 75_um 1000 1000 20_cm 0 0 0 2>/dev/null) ||
  fail "installed vabo on the installed points.dat exited with $?"
[ "$(printf '%s\n' "$result" | wc -l)" -eq 3 ] || fail "installed vabo: not three result lines"

# A CMake project.
"$cmake" -S "$source/tests/consumers" -B "$work/cmake" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_CXX_FLAGS="$flags" -DVABO_EXAMPLES_DIR="$source/examples" \
  >"$work/cmake.log" 2>&1 || fail "configuring the CMake consumer (see $work/cmake.log)"
"$cmake" --build "$work/cmake" -j 2 >>"$work/cmake.log" 2>&1 ||
  fail "building the CMake consumer (see $work/cmake.log)"
expect_output "0.11" "$work/cmake/read_cm"
expect_output "dis 5" "$work/cmake/use_refine"
expect_output "65 33" "$work/cmake/use_calib"
expect_output "$(printf '# x\t_x*_x_cm in mm\n0\t0_mm\n1\t10_mm\n2\t40_mm')" \
  "$work/cmake/expr_table" "_x*_x_cm" x 0 2 1 mm

# Plain compiler calls with pkg-config.  The first program is the example of
# numio(3), taken from the page (the first .EX block of EXAMPLES) with its
# escapes undone, so that the manual shows a program that works.
# Shared libraries in a private prefix are found as users find them there.
export PKG_CONFIG_PATH=$prefix/$VABO_LIBDIR/pkgconfig
export LD_LIBRARY_PATH=$prefix/$VABO_LIBDIR${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
awk '/^\.SH EXAMPLES?$/ { section = 1 }
     section && /^\.EE/ { exit }
     section && copying { print }
     section && /^\.EX/ { copying = 1 }' "$prefix/$VABO_MANDIR/man3/numio.3" |
  sed -e 's/\\-/-/g' -e "s/\\\\(aq/'/g" -e 's/\\(dq/"/g' -e 's/\\&//g' -e 's/\\e/\\/g' \
  >"$work/readnum.cpp"
grep -q 'main' "$work/readnum.cpp" || fail "no example program in numio(3)"
# shellcheck disable=SC2086
"$cxx" -std=c++20 $flags "$work/readnum.cpp" $(pkg-config --cflags --libs vabo-numio) \
  -o "$work/readnum" 2>"$work/readnum.log" ||
  fail "compiling the example of numio(3) (see $work/readnum.log)"
expect_output "0.11" "$work/readnum" 11_cm
if message=$("$work/readnum" 2cm 2>&1); then fail "readnum 2cm succeeded"; fi
[ "$message" = "cannot read 2cm: error scanning expression" ] ||
  fail "readnum 2cm wrote '$message'"
# shellcheck disable=SC2086
"$cxx" -std=c++20 $flags "$source/tests/consumers/use_refine.cpp" \
  $(pkg-config --cflags --libs vabo-refine) -o "$work/use_refine" ||
  fail "compiling use_refine with pkg-config"
expect_output "dis 5" "$work/use_refine"
# shellcheck disable=SC2086
"$cxx" -std=c++20 $flags "$source/tests/consumers/use_calib.cpp" \
  $(pkg-config --cflags --libs vabo-calib) -o "$work/use_calib" ||
  fail "compiling use_calib with pkg-config"
expect_output "65 33" "$work/use_calib"
pkg-config --exists "vabo-numio >= 1.0" || fail "pkg-config: vabo-numio version"

# A shared module linked with the library, loaded where the C library's
# gamma (ln |Gamma|) is already there: the module's gamma( must stay the
# library's (gamma(5) is 24, not ln 24).
# shellcheck disable=SC2086
"$cxx" -std=c++20 -shared -fPIC $flags "$source/tests/consumers/module_gamma.cpp" \
  $(pkg-config --cflags --libs vabo-numio) -o "$work/module_gamma.so" ||
  fail "linking a shared module with vabo-numio"
# shellcheck disable=SC2086
"$cxx" -std=c++20 $flags "$source/tests/consumers/load_module.cpp" -o "$work/load_module" ||
  fail "compiling load_module"
value=$("$work/load_module" "$work/module_gamma.so" "gamma(5)") ||
  fail "load_module exited with $?"
[ "$value" = 24 ] ||
  fail "gamma(5) in a shared module gave $value: the C library's gamma, not the library's"

rm -rf "$work"
echo "install tree and its consumers: ok"
