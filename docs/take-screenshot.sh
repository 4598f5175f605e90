#!/bin/bash
# Takes the README's pictures under Xvfb and wine, typed into with xdotool:
#   docs/dialog.png      the dialog mid-search (slowed with cpulimit, so the
#                        remaining time shows)
#   docs/summary.png     the result summary, offering the page of hits and the log
#   docs/dialog-200.png  the dialog on a screen scaled to 200%
# Needs make build, build/win64 (make windows-test), xvfb, xdotool, cpulimit,
# imagemagick, x11-utils and Wine's fonts (fonts-wine: the caption buttons).
set -u
cd "$(dirname "$0")/.."
export WINEDEBUG=-all
[ -f build/shot.xml ] || build/make_export 1 1024 build/shot.xml
exe=$PWD/build/win64/reposearch.exe  # in full: its processes are told apart by it

# start_dialog DISPLAY PREFIX DPI WIDTHxHEIGHT: Xvfb, a wine desktop, the dialog.
start_dialog() {
  export DISPLAY=$1 WINEPREFIX=$PWD/$2
  Xvfb "$DISPLAY" -screen 0 "${4}x24" & xvfb=$!
  sleep 2
  /usr/lib/wine/wine64 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$3" /f >/dev/null 2>&1
  # Wine draws the caption buttons with its Marlett font, which it does not
  # find in its data folder here: the prefix's font folder has it.
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  # The export where a user would keep it.
  mkdir -p "$WINEPREFIX/drive_c/Projects/Sales"
  cp build/shot.xml "$WINEPREFIX/drive_c/Projects/Sales/repository.xml"
  /usr/lib/wine/wine64 explorer /desktop=shot,"$4" "$exe" & wine=$!
  for i in $(seq 1 60); do xdotool search --name "Search for specified string" >/dev/null 2>&1 && break; sleep 0.5; done
  win=$(xdotool search --name "Search for specified string" | head -1)
  xdotool windowactivate --sync "$win"; xdotool windowfocus --sync "$win"
  sleep 1
  xdotool type --delay 30 "calc_discount"; xdotool key Return
  xdotool type --delay 30 "invoice_total"; xdotool key Return
  xdotool type --delay 30 "cust_balance"; xdotool key Tab
  xdotool type --delay 20 'C:\Projects\Sales\repository.xml'
}
# Ends what start_dialog started, by id: other programs of the same names
# may be running beside it.
stop_dialog() {
  [ -n "${limit:-}" ] && kill "$limit" 2>/dev/null; limit=
  kill "$wine" 2>/dev/null; /usr/lib/wine/wineserver -k; kill "$xvfb"
  sleep 1
}
# crop_window NAME OUT: the window's own rectangle from a shot of the screen.
crop_window() {
  local id info x y w h
  id=$(xdotool search --name "$1" | tail -1)
  info=$(xwininfo -id "$id")
  x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info"); y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
  w=$(sed -n 's/.*Width: *//p' <<<"$info"); h=$(sed -n 's/.*Height: *//p' <<<"$info")
  import -window root build/shot.png
  convert build/shot.png -crop "${w}x${h}+${x}+${y}" +repage "$2"
}

start_dialog :77 build/wineprefix 96 800x600
dialog_pid=$(pgrep -f "$exe" | while read -r p; do grep -q explorer "/proc/$p/cmdline" || echo "$p"; done | tail -1)
cpulimit -p "$dialog_pid" -l 3 >/dev/null 2>&1 & limit=$!
sleep 1
xdotool key Return
sleep 40
crop_window "Search for specified string" docs/dialog.png
kill "$limit"; limit=
for i in $(seq 1 120); do xdotool search --name "Result Summary" >/dev/null 2>&1 && break; sleep 1; done
sleep 1
crop_window "Result Summary" docs/summary.png
stop_dialog

start_dialog :78 build/wineprefix-200 192 1600x1200
sleep 1
crop_window "Search for specified string" docs/dialog-200.png
stop_dialog
