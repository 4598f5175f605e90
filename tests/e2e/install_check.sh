#!/usr/bin/env bash
# make install's rules put the program, its manual page and the shell
# completions under PREFIX, inside DESTDIR.
#   install_check.sh BUILD_DIR
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" --prefix /opt/rs >/dev/null
[ -x "$stage/opt/rs/bin/reposearch" ] || { echo "no bin/reposearch"; exit 1; }
[ -f "$stage/opt/rs/share/man/man1/reposearch.1" ] || { echo "no man page"; exit 1; }
for completion in bash-completion/completions/reposearch zsh/site-functions/_reposearch \
                  fish/vendor_completions.d/reposearch.fish; do
  [ -f "$stage/opt/rs/share/$completion" ] || { echo "no share/$completion"; exit 1; }
done
grep -q '^complete -F _reposearch reposearch$' "$stage/opt/rs/share/bash-completion/completions/reposearch"
"$stage/opt/rs/bin/reposearch" --version | grep -q '^reposearch '
echo "1 passed, 0 failed"
