#!/usr/bin/env bash
# The manual page renders without warnings, names every option --help does and
# carries the program's version.
#   man_check.sh PAGE REPOSEARCH
set -euo pipefail
page=$1 binary=$2
warnings=$(man --warnings -l "$page" 2>&1 >/dev/null || true)
[ -z "$warnings" ] || { echo "man warns: $warnings"; exit 1; }
text=$(MANWIDTH=100 man -l "$page" 2>/dev/null | col -b)
missing=0
for option in $("$binary" --help | grep -oE '(^|[ ,])--?[a-z]+' | tr -d ' ,' | sort -u); do
  grep -qe "$option" <<<"$text" || { echo "the manual page does not name $option"; missing=1; }
done
version=$("$binary" --version | cut -d' ' -f2)
grep -q "reposearch $version\"" "$page" || { echo "the manual page does not carry version $version"; missing=1; }
[ $missing = 0 ] || exit 1
echo "1 passed, 0 failed"
