#!/usr/bin/env bash
# The shell completions: each names every option --help does, and bash, zsh
# and fish (those installed) offer the options, the values of -j, nothing
# for a string, .xml files and folders for the exports, pages for --html.
#   completion_check.sh COMPLETIONS_DIR REPOSEARCH
set -euo pipefail
dir=$(cd "$1" && pwd) binary=$2
fail() { echo "completion: $*"; exit 1; }
# The options --help names, but --option=VALUE and groups such as -qw.
for script in reposearch.bash _reposearch reposearch.fish; do
  for option in $("$binary" --help | grep -oE '(^|[ ,])--?[a-z]+' | tr -d ' ,' | grep -vx -- --option | grep -vxE -- '-[a-z]{2,}' | sort -u); do
    pattern=$option
    if [ "$script" = reposearch.fish ]; then  # fish names them -l NAME and -s LETTER
      case $option in --*) pattern="-l ${option#--}" ;; -*) pattern="-s ${option#-}" ;; esac
    fi
    grep -qe "$pattern" "$dir/$script" || fail "$script does not name $option"
  done
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir sub
touch a.xml B.XML notes.txt page.html "with space.xml" sub/c.xml

# What each shell offers for a line, as "a|b|c" (the order as the shell has it).
expect() {  # SHELL LINE WANTED GOT
  [ "$3" = "$4" ] || fail "$1: '$2' offers '$4', not '$3'"
}

# bash: the function called as readline calls it, "=" a word of its own.
bash_offers() {
  bash --norc --noprofile -c '
    source "$1/reposearch.bash"
    line=$2
    read -ra w <<<"${line//=/ = }"
    [[ $line == *" " || $line == *= ]] && w+=("")
    COMP_WORDS=("${w[@]}") COMP_CWORD=$((${#w[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
    _reposearch reposearch "${w[-1]}" "${w[-2]}"
    IFS="|"; echo "${COMPREPLY[*]}"' bash "$dir" "$1" | tr '|' '\n' | sort | paste -sd'|'
}
expect bash "reposearch --js" "--json" "$(bash_offers "reposearch --js")"
expect bash "reposearch --h" "--help|--html" "$(bash_offers "reposearch --h")"
expect bash "reposearch -j " "1|2|4|8" "$(bash_offers "reposearch -j " | tr '|' '\n' | grep -xE '1|2|4|8' | paste -sd'|')"
expect bash "reposearch " "-|B.XML|a.xml|sub|with space.xml" "$(bash_offers "reposearch ")"
expect bash "reposearch a.xml " "" "$(bash_offers "reposearch a.xml ")"
expect bash "reposearch -e x a.xml " "-|B.XML|a.xml|sub|with space.xml" "$(bash_offers "reposearch -e x a.xml ")"
expect bash "reposearch -e " "" "$(bash_offers "reposearch -e ")"
expect bash "reposearch -qe " "" "$(bash_offers "reposearch -qe ")"
expect bash "reposearch -qe x a.xml " "-|B.XML|a.xml|sub|with space.xml" "$(bash_offers "reposearch -qe x a.xml ")"
expect bash "reposearch -lce x a.xml " "-|B.XML|a.xml|sub|with space.xml" "$(bash_offers "reposearch -lce x a.xml ")"
expect bash "reposearch --fi" "--file|--files-with-matches" "$(bash_offers "reposearch --fi")"
expect bash "reposearch -qwf " "-|B.XML|a.xml|notes.txt|page.html|sub|with space.xml" "$(bash_offers "reposearch -qwf ")"
expect bash "reposearch -qj4 a.xml " "" "$(bash_offers "reposearch -qj4 a.xml ")"
expect bash "reposearch --html=" "page.html|sub" "$(bash_offers "reposearch --html=")"
expect bash "reposearch -f " "-|B.XML|a.xml|notes.txt|page.html|sub|with space.xml" "$(bash_offers "reposearch -f ")"
echo "bash: passed"

if command -v fish >/dev/null; then
  fish_offers() {
    fish --no-config -c "source '$dir/reposearch.fish'; complete -C'$1'" | cut -f1 | sort | paste -sd'|'
  }
  expect fish "reposearch --js" "--json" "$(fish_offers "reposearch --js")"
  expect fish "reposearch -j " "1|2|4|8" "$(fish_offers "reposearch -j ")"
  expect fish "reposearch -e " "" "$(fish_offers "reposearch -e ")"
  expect fish "reposearch -qe " "" "$(fish_offers "reposearch -qe ")"
  expect fish "reposearch -qj " "1|2|4|8" "$(fish_offers "reposearch -qj ")"
  expect fish "reposearch --fi" "--file|--files-with-matches" "$(fish_offers "reposearch --fi")"
  fish_offers "reposearch " | tr '|' '\n' | grep -qx "a.xml" || fail "fish offers no export"
  fish_offers "reposearch --html " | tr '|' '\n' | grep -qx "page.html" || fail "fish offers no page"
  echo "fish: passed"
fi

if command -v zsh >/dev/null; then
  # zsh: an interactive shell in a pseudo-terminal, its compadd made to
  # print what each completion would add (each tag tried, in turn).
  cat > capture.zsh <<'EOF'
zmodload zsh/zpty
zpty z zsh -f -i
zpty -w z "fpath=($1 \$fpath); autoload -Uz compinit; compinit -u -d /dev/null; PROMPT='%% '"
zpty -w z 'compadd() {
  if [[ ${@[1,(i)(-|--)]} == *-(O|A|D)\ * ]]; then builtin compadd "$@"; return; fi
  local -a __hits
  builtin compadd -A __hits "$@"
  print -r -l -- "<<${^__hits}>>"
}'
zpty -w z "zstyle ':completion:*' completer _complete; bindkey '^I' complete-word"
# The markers are typed in two pieces, so that only what the shell prints
# holds them whole, never the echo of what was typed. Nothing is really
# added, so the completion ends with a bell: then the line is cleared.
zpty -w z "print -r -- '<<beg''in>>'"
zpty -w -n z "$2"$'\t'
zpty -r z out '*<<begin>>*'$'\a'
zpty -w z $'\C-u'"print -r -- '<<e''nd>>'"
zpty -r z rest '*<<end>>*'
zpty -d z
local -a got=()
out=${out#*<<begin>>}
while [[ $out =~ '<<([^<>]*)>>' ]]; do
  [[ $match[1] == (begin|end) ]] || got+=(${(z)match[1]})
  out=${out#*$MATCH}
done
print -r -l -- ${(u)got}
EOF
  zsh_offers() { timeout 20 zsh -f capture.zsh "$dir" "$1" | tr -d '\r' | sort | paste -sd'|'; }
  expect zsh "reposearch --js" "--json" "$(zsh_offers "reposearch --js")"
  expect zsh "reposearch -j " "1|2|4|8" "$(zsh_offers "reposearch -j ")"
  expect zsh "reposearch -e " "" "$(zsh_offers "reposearch -e ")"
  expect zsh "reposearch a.xml " "" "$(zsh_offers "reposearch a.xml ")"
  zsh_offers "reposearch -" | tr '|' '\n' | grep -qx -- "--version" || fail "zsh offers no --version"
  zsh_offers "reposearch " | tr '|' '\n' | grep -qx "a.xml" || fail "zsh offers no export"
  zsh_offers "reposearch -e x a.xml " | tr '|' '\n' | grep -qx "B.XML" || fail "zsh offers no export after -e"
  zsh_offers "reposearch -qe x a.xml " | tr '|' '\n' | grep -qx "B.XML" || fail "zsh offers no export after -qe"
  zsh_offers "reposearch -lce x a.xml " | tr '|' '\n' | grep -qx "B.XML" || fail "zsh offers no export after -lce"
  expect zsh "reposearch --fi" "--file|--files-with-matches" "$(zsh_offers "reposearch --fi")"
  expect zsh "reposearch -qe " "" "$(zsh_offers "reposearch -qe ")"
  zsh_offers "reposearch --html " | tr '|' '\n' | grep -qx "page.html" || fail "zsh offers no page"
  echo "zsh: passed"
fi
echo "1 passed, 0 failed"
