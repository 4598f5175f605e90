#!/usr/bin/env bash
# The Debian package make dist builds: its control fields, that it holds the
# program, the manual page, the completions and the copyright (owned by
# root, nothing else), and that they work once installed in a scratch root.
#   deb_check.sh VERSION
set -euo pipefail
export LC_ALL=C  # the lists below are sorted bytewise
cd "$(dirname "$0")/../.."
version=$1
arch=$(dpkg --print-architecture)
deb=dist/reposearch_${version}_${arch}.deb
fail() { echo "deb: $*"; exit 1; }
[ -f "$deb" ] || fail "no $deb"

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = reposearch ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
field Depends | grep -qE '^libc6 \(>= [0-9.]+\)' || fail "Depends: $(field Depends)"
[ -n "$(field Maintainer)" ] && [ -n "$(field Description)" ] || fail "no Maintainer or Description"

listed=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort | tr '\n' ' ')
want="./usr/bin/reposearch ./usr/share/bash-completion/completions/reposearch ./usr/share/doc/reposearch/GUIDE.md.gz \
./usr/share/doc/reposearch/changelog.gz ./usr/share/doc/reposearch/copyright \
./usr/share/fish/vendor_completions.d/reposearch.fish ./usr/share/man/man1/reposearch.1.gz \
./usr/share/zsh/vendor-completions/_reposearch "
[ "$listed" = "$want" ] || fail "it holds: $listed"
owners=$(dpkg-deb --contents "$deb" | awk '{ print $2 }' | sort -u)
[ "$owners" = root/root ] || fail "owned by $owners"
dpkg-deb --contents "$deb" | awk '$1 ~ /^d/ && $1 != "drwxr-xr-x" { bad = 1 } END { exit bad }' || fail "a folder not 755"

# Installed in a scratch root: the files where dpkg puts them, and working.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# (libc6 is not in the scratch root: its dependency is let be.)
said=$(dpkg --root="$root" --force-not-root --force-depends --force-script-chrootless --log=/dev/null \
       --install "$deb" 2>&1) || fail "dpkg could not install it in a scratch root: $said"
dpkg --root="$root" --status reposearch | grep -qx 'Status: install ok installed' || fail "not installed"
"$root/usr/bin/reposearch" --version | grep -qx "reposearch $version" || fail "the program's version"
warnings=$(man --warnings -l "$root/usr/share/man/man1/reposearch.1.gz" 2>&1 >/dev/null || true)
[ -z "$warnings" ] || fail "man warns: $warnings"
man -l "$root/usr/share/man/man1/reposearch.1.gz" 2>/dev/null | grep -q "reposearch $version" || fail "the manual page"
bash -n "$root/usr/share/bash-completion/completions/reposearch" || fail "bash completion"
grep -q "MIT\|Expat" "$root/usr/share/doc/reposearch/copyright" || fail "no license in the copyright"
cmp -s <(sed '1,/^Copyright/d' LICENSE | tr -d '\n ') \
       <(sed '1,/^License:/d' "$root/usr/share/doc/reposearch/copyright" | sed 's/^ \.$//' | tr -d '\n ') ||
  fail "the copyright's license text is not LICENSE's"
zcat "$root/usr/share/doc/reposearch/changelog.gz" | grep -q "^## $version " || fail "the changelog names no $version"
zcat "$root/usr/share/doc/reposearch/GUIDE.md.gz" | grep -q "^# " || fail "the package carries no guide"
echo "1 passed, 0 failed"
