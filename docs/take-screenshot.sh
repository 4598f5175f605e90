#!/bin/bash
# Takes docs/dialog.png: the dialog mid-search under Xvfb and wine, typed into
# with xdotool, the search slowed with cpulimit so the remaining time shows.
# Needs make build, build/win64 (make windows-test), xvfb, xdotool,
# cpulimit and imagemagick.
set -u
cd "$(dirname "$0")/.."
export WINEDEBUG=-all WINEPREFIX=$PWD/build/wineprefix
[ -f build/shot.xml ] || build/make_export 1 1024 build/shot.xml
Xvfb :77 -screen 0 800x600x24 & xvfb=$!
sleep 2
export DISPLAY=:77
/usr/lib/wine/wine64 explorer /desktop=shot,700x560 build/win64/reposearch.exe & wine=$!
for i in $(seq 1 60); do xdotool search --name "Search for specified string" >/dev/null 2>&1 && break; sleep 0.5; done
win=$(xdotool search --name "Search for specified string" | head -1)
xdotool windowactivate --sync "$win"; xdotool windowfocus --sync "$win"
sleep 1
xdotool type --delay 30 "calc_discount"; xdotool key Return
xdotool type --delay 30 "invoice_total"; xdotool key Return
xdotool type --delay 30 "cust_balance"; xdotool key Tab
xdotool type --delay 20 "Z:$(pwd | tr / '\\')\\build\\shot.xml"
cpulimit -p "$(pgrep -f 'win64/reposearch.exe' | grep -v explorer | tail -1)" -l 3 -b >/dev/null 2>&1
sleep 1
xdotool key Return
sleep 40
import -window root -crop 700x560+50+20 build/shot.png
convert build/shot.png +repage -crop 412x342+94+89 +repage docs/dialog.png
kill "$wine"; pkill -f reposearch.exe; pkill cpulimit; kill "$xvfb"
