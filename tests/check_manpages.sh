#!/usr/bin/env bash
# Checks the manual pages: each renders with groff -man -ww (all warnings on)
# without a single warning, on a terminal and for print, and vabo(1)
# documents every option word ("name=") that the front end's sources know.
#
#   check_manpages.sh VABO_BINARY SOURCE_DIR BUILD_DIR
#
# Exit 0 pass, 1 fail, 77 skip (groff not installed).
set -euo pipefail
source_dir=$2

command -v groff >/dev/null || { echo "SKIP: groff is not installed"; exit 77; }

status=0
for page in "$source_dir/man/vabo.1" "$source_dir/man/numio.3"; do
  for device in utf8 ps; do
    warnings=$(groff -man -ww -z -T"$device" "$page" 2>&1) || true
    if [ -n "$warnings" ]; then
      echo "FAIL: $(basename "$page") (-T$device) has warnings:"
      echo "$warnings"
      status=1
    fi
  done
done

# The option words of the front end, as string literals "name=" in src/.
mapfile -t options < <(grep -ohE '"[a-z]+="' "$source_dir"/src/*.cpp | tr -d '"' | sort -u)
if [ ${#options[@]} -lt 5 ]; then
  echo "FAIL: found only ${#options[@]} option words in src/ (${options[*]:-none})"
  status=1
fi
# The tags of the OPTIONS section: the lines that follow a .TP there.
tags=$(awk '/^\.SH/ { section = $2 }
            section == "OPTIONS" && previous == ".TP" { print }
            { previous = $0 }' "$source_dir/man/vabo.1")
for option in "${options[@]}"; do
  if ! grep -q "^\.BI $option " <<<"$tags"; then
    echo "FAIL: option $option is not documented in man/vabo.1"
    status=1
  fi
done

[ $status -eq 0 ] && echo "man pages: ok"
exit $status
