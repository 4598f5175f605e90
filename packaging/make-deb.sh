#!/usr/bin/env bash
# Builds the Debian package of a Linux build with dpkg-deb: the program, its
# manual page, the shell completions, the copyright and the changelog, under /usr; the
# libraries it needs as dpkg-shlibdeps finds them.
#   make-deb.sh BUILD_DIR VERSION OUT_DIR
# DEB_MAINTAINER names the maintainer (a placeholder when unset).
set -euo pipefail
build=$1 version=$2 out=$3
src=$(cd "$(dirname "$0")/.." && pwd)
arch=$(dpkg --print-architecture)
umask 022
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root

DESTDIR=$root cmake --install "$build" --prefix /usr --strip >/dev/null
# Debian's zsh looks in vendor-completions for what packages bring.
if [ -d "$root/usr/share/zsh/site-functions" ]; then
  mkdir -p "$root/usr/share/zsh/vendor-completions"
  mv "$root/usr/share/zsh/site-functions/_reposearch" "$root/usr/share/zsh/vendor-completions/"
  rmdir "$root/usr/share/zsh/site-functions"
fi
gzip -9n "$root/usr/share/man/man1/reposearch.1"
doc=$root/usr/share/doc/reposearch
mkdir -p "$doc"
{
  echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
  echo "Upstream-Name: reposearch"
  echo
  echo "Files: *"
  echo "Copyright: $(sed -n 's/^Copyright (c) //p' "$src/LICENSE")"
  echo "License: Expat"
  # The license text after its title and copyright line, a blank line as " ."
  sed '1,/^Copyright/d' "$src/LICENSE" | sed '/./,$!d' | sed 's/^$/./; s/^/ /'
} > "$doc/copyright"
gzip -9nc "$src/CHANGELOG.md" > "$doc/changelog.gz"
gzip -9nc "$src/docs/GUIDE.md" > "$doc/GUIDE.md.gz"
find "$root" -type d -exec chmod 755 {} +

# The libraries the program needs, with the versions its symbols ask for.
mkdir "$work/debian"
printf 'Source: reposearch\n\nPackage: reposearch\nArchitecture: any\n' > "$work/debian/control"
depends=$(cd "$work" && dpkg-shlibdeps -O "$root/usr/bin/reposearch" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "make-deb: dpkg-shlibdeps found no libraries"; exit 1; }
rm -rf "$work/debian"

mkdir "$root/DEBIAN"
cat > "$root/DEBIAN/control" <<EOF
Package: reposearch
Version: $version
Architecture: $arch
Maintainer: ${DEB_MAINTAINER:-The reposearch developers <reposearch@localhost>}
Installed-Size: $(du -sk "$root/usr" | cut -f1)
Depends: $depends
Section: utils
Priority: optional
Description: search application repository exports for strings
 reposearch reads the XML export of an application repository and reports
 every data line that holds one of the search strings, with the library,
 form, table, field and element it stands in, in a log beside the export.
 It searches many exports at once, writes JSON Lines for other tools and a
 self-contained HTML page of the hits.
EOF
mkdir -p "$out"
dpkg-deb --root-owner-group -Zxz --build "$root" "$out/reposearch_${version}_${arch}.deb" >/dev/null
echo "$out/reposearch_${version}_${arch}.deb"
