#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, where they are
# missing. A package index that cannot be fetched, or a package that cannot be
# installed, does not stop it: what can be installed is, the optional
# packages may be left out (it says which, and why), and only a missing
# package the tests cannot do without makes it fail.
# Usage: tools/deps.sh REQUIRED... -- OPTIONAL...
set -u

required=() optional=()
list=required
for p in "$@"; do
  if [ "$p" = -- ]; then list=optional; continue; fi
  if [ $list = required ]; then required+=("$p"); else optional+=("$p"); fi
done

installed() { dpkg -s "$1" >/dev/null 2>&1; }
missing_of() { for p in "$@"; do installed "$p" || echo "$p"; done; }

missing=$(missing_of "${required[@]}" "${optional[@]}")
[ -z "$missing" ] && exit 0
if [ "$(id -u)" != 0 ]; then
  echo "Missing packages (install them as root):" $missing
  exit 1
fi
echo "Installing:" $missing
export DEBIAN_FRONTEND=noninteractive
# 32-bit packages (wine32:i386) need the architecture known to dpkg.
case " $missing " in
  *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386 ;;
esac

# The indexes: a few tries, since a mirror in the middle of a sync fails
# for a while; an index that still fails is one apt then does without.
log=$(mktemp); trap 'rm -f "$log"' EXIT
for try in 1 2 3; do
  if apt-get update -qq >"$log" 2>&1; then break; fi
  if [ $try = 3 ]; then
    echo "note: some package indexes could not be fetched; going on with the others:"
    grep -E '^(E|W):' "$log" | head -5 | sed 's/^/  /'
  else
    sleep $((try * 5))
  fi
done

# All at once, and where that fails one by one, so that one package that
# cannot be had keeps none of the others out.
if ! apt-get install -y -qq $missing >"$log" 2>&1; then
  for p in $missing; do apt-get install -y -qq "$p" >"$log" 2>&1 || true; done
fi

status=0
for p in $(missing_of "${optional[@]}"); do
  case "$p" in
    wine32:i386) why="the Windows tests run the 64-bit build instead" ;;
    *) why="the tests that need it are skipped" ;;
  esac
  echo "note: left out $p: it could not be installed here ($why)"
done
left=$(missing_of "${required[@]}")
if [ -n "$left" ]; then
  echo "error: these packages could not be installed, and the build or the tests need them:" $left
  apt-get install -y -qq $left 2>&1 | grep -E '^(E|W):' | head -5 | sed 's/^/  /'
  status=1
fi
exit $status
