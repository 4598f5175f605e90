#!/usr/bin/env bash
# What make dist hands out: the Windows zip (both 32-bit programs, a README,
# the guide and the changelog with CR LF line ends, the license) and the Linux
# tarball (the program, its manual page, the guide with its pictures and the
# shell completions). The Debian package has its own check, deb_check.sh.
#   dist_check.sh VERSION
set -euo pipefail
export LC_ALL=C  # the lists below are sorted bytewise
cd "$(dirname "$0")/../.."
version=$1
zip=dist/reposearch-$version-win32.zip
tarball=dist/reposearch-$version-linux-x86_64.tar.gz
fail() { echo "dist: $*"; exit 1; }
[ -f "$zip" ] || fail "no $zip"
[ -f "$tarball" ] || fail "no $tarball"

listed=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
want="reposearch-$version/CHANGELOG.txt reposearch-$version/GUIDE.txt reposearch-$version/LICENSE.txt reposearch-$version/README.txt reposearch-$version/reposearch-cli.exe reposearch-$version/reposearch.exe "
[ "$listed" = "$want" ] || fail "the zip holds: $listed"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work"
for text in README.txt LICENSE.txt CHANGELOG.txt GUIDE.txt; do
  f=$work/reposearch-$version/$text
  lines=$(wc -l < "$f"); crlf=$(grep -c $'\r$' "$f" || true)
  [ "$lines" -gt 0 ] && [ "$lines" = "$crlf" ] || fail "$text: $crlf of $lines lines end in CR LF"
done
grep -q "MIT License" "$work/reposearch-$version/LICENSE.txt" || fail "the license is not MIT"
grep -q "reposearch $version for Windows" "$work/reposearch-$version/README.txt" || fail "the README names no version"
grep -q "^## $version " "$work/reposearch-$version/CHANGELOG.txt" || fail "the changelog names no $version"
for exe in reposearch.exe reposearch-cli.exe; do
  file "$work/reposearch-$version/$exe" | grep -q "PE32 executable.*Intel 80386" || fail "$exe is not a 32-bit program"
done

tar -tzf "$tarball" | sort > "$work/tar.txt"
for path in bin/reposearch share/man/man1/reposearch.1 README.md LICENSE CHANGELOG.md docs/GUIDE.md docs/report.png share/bash-completion/completions/reposearch \
            share/zsh/site-functions/_reposearch share/fish/vendor_completions.d/reposearch.fish; do
  grep -qx "reposearch-$version/$path" "$work/tar.txt" || fail "the tarball lacks $path"
done
tar -xzf "$tarball" -C "$work"
"$work/reposearch-$version/bin/reposearch" --version | grep -qx "reposearch $version" || fail "the Linux program's version"
echo "2 passed, 0 failed"
