#!/usr/bin/env bash
# Retakes docs/print.png: --print with colour on the sample export, as a
# terminal shows it (the escape codes drawn as a terminal draws them, in
# headless Chromium).
#   docs/take-print-picture.sh [REPOSEARCH]
set -euo pipefail
cd "$(dirname "$0")/.."
binary=${1:-build/reposearch}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp samples/repository.xml "$work/repository.xml"
(cd "$work" && "$OLDPWD/$binary" -q --print --color=always -C 1 --not-in element=UDESCR repository.xml custno \
  >"$work/out.txt" 2>"$work/err.txt")
python3 - "$work" <<'PY'
import html, re, sys
work = sys.argv[1]
out = open(work + "/out.txt", encoding="utf-8").read()
err = open(work + "/err.txt", encoding="utf-8").read()
styles = {"2": "color:#8a8f98", "01;31": "color:#ff5f56;font-weight:bold"}
body, open_span = [], False
for piece in re.split(r"(\x1b\[[0-9;]*m)", out):
    m = re.fullmatch(r"\x1b\[([0-9;]*)m", piece)
    if m:
        if open_span:
            body.append("</span>")
            open_span = False
        if m.group(1) in styles:
            body.append('<span style="%s">' % styles[m.group(1)])
            open_span = True
    else:
        body.append(html.escape(piece))
prompt = '<span style="color:#7ec699">$</span> reposearch --print -C 1 --not-in element=UDESCR repository.xml custno\n'
page = ('<!DOCTYPE html><meta charset="utf-8"><body style="margin:0;background:#1e1f22">'
        '<pre style="margin:0;padding:14px 16px;color:#d7dae0;font:14px/1.35 DejaVu Sans Mono,monospace">'
        + prompt + "".join(body) + html.escape(err) + "</pre>")
open(work + "/page.html", "w", encoding="utf-8").write(page)
PY
# As tall as the lines: 19 pixels a line, and the padding.
height=$(( ($(wc -l < "$work/out.txt") + $(wc -l < "$work/err.txt") + 1) * 19 + 30 ))
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1240,$height \
  --screenshot="$work/shot.png" "file://$work/page.html" >/dev/null 2>&1
cp "$work/shot.png" docs/print.png
echo "docs/print.png"
