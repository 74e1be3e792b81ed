#!/bin/sh
# Runs one program under valgrind's memcheck for the end-to-end tests
# (VABO_TEST_WRAPPER): every invalid access, use of an undefined value and
# every leak (definite, indirect or possible; memory still reachable at exit,
# such as the units table, is no error) makes it end with status 99, which no
# run of vabo ends with, and appends valgrind's report to standard error, so
# that the test that ran it fails and shows why.  Otherwise the program's
# output and status pass through unchanged.
log=$(mktemp "${TMPDIR:-/tmp}/vabo_memcheck.XXXXXX") || exit 98
valgrind --quiet --tool=memcheck --leak-check=full \
         --errors-for-leak-kinds=definite,indirect,possible \
         --error-exitcode=99 --log-file="$log" "$@"
status=$?
if [ "$status" -eq 99 ]; then
  cat "$log" >&2
fi
rm -f "$log"
exit "$status"
