#!/usr/bin/env bash
# Both Windows programs of a build carry their manifest, version resource and
# icon, and import only DLLs that every Windows has.
#   windows_resources_check.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
fail() { echo "$build: $*"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
case $(file -b "$build/reposearch.exe") in
  *x86-64*) objdump=x86_64-w64-mingw32-objdump ;;
  *) objdump=i686-w64-mingw32-objdump ;;
esac
for exe in reposearch.exe reposearch-cli.exe; do
  path=$build/$exe
  [ -f "$path" ] || fail "no $exe"
  wrestool -x --raw -t 24 -n 1 "$path" > "$work/manifest.xml" || true
  [ -s "$work/manifest.xml" ] || fail "$exe has no manifest"
  for os in 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
            1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
    grep -q "$os" "$work/manifest.xml" || fail "$exe's manifest lacks the supported system $os"
  done
  grep -q 'level="asInvoker"' "$work/manifest.xml" || fail "$exe asks for elevation"
  if [ "$exe" = reposearch.exe ]; then
    grep -q 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' "$work/manifest.xml" ||
      fail "the dialog's manifest does not ask for common controls 6"
    grep -q '>PerMonitorV2, PerMonitor<' "$work/manifest.xml" || fail "the dialog is not per-monitor DPI aware"
    grep -q '>true/pm<' "$work/manifest.xml" || fail "the dialog is not DPI aware on older systems"
  fi
  wrestool -x --raw -t 16 "$path" | iconv -f UTF-16LE -t UTF-8 -c | tr '\0' '\n' > "$work/version.txt"
  for value in "ProductName" "reposearch" "FileVersion" "$version" "LegalCopyright" "MIT License" "OriginalFilename" "$exe"; do
    grep -qF "$value" "$work/version.txt" || fail "$exe's version resource lacks $value"
  done
  wrestool -x -t 14 "$path" > "$work/icon.ico" || true
  sizes=$(icotool -l "$work/icon.ico" | grep -o 'width=[0-9]*' | sort -u | tr '\n' ' ')
  for size in 16 32 48 256; do
    grep -q "width=$size " <<<"$sizes " || fail "$exe's icon lacks $size pixels ($sizes)"
  done
  dlls=$($objdump -p "$path" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u)
  for dll in $dlls; do
    case $dll in
      KERNEL32.DLL|USER32.DLL|GDI32.DLL|COMCTL32.DLL|COMDLG32.DLL|MSVCRT.DLL|ADVAPI32.DLL|SHELL32.DLL) ;;
      *) fail "$exe imports $dll, which not every Windows has" ;;
    esac
  done
done
echo "2 passed, 0 failed"
