#!/usr/bin/env bash
# End-to-end runs of the real program under Xvfb, driven by xdotool: open a file, zoom, step to the
# next file, full screen and back, exit; each step is checked on a screenshot by pixel colours.
# usage: e2e.sh ZERIMO SAMPLE.jpg   (ZERIMO_E2E_SHOTS=DIR keeps the screenshots there)
# Exit 77 (skipped) when Xvfb, xdotool or ImageMagick is missing.
set -uo pipefail
zerimo=$1
sample=$2
for tool in Xvfb xdotool import convert; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
shots=${ZERIMO_E2E_SHOTS:-$work/shots}
mkdir -p "$shots" "$work/pics" "$work/config"
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
passes=0
check() { # name, condition result
  if [ "$2" = 0 ]; then passes=$((passes + 1)); else failures=$((failures + 1)); echo "FAILED: $1"; fi
}

# A display of our own.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
export XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8

# a.jpg is the sample photo, b.png a pure red picture after it in the folder.
cp "$sample" "$work/pics/a.jpg"
convert -size 300x200 xc:'#ff0000' "$work/pics/b.png"

shot() { # name -> file
  import -window root "$shots/$1.png" 2>/dev/null
  echo "$shots/$1.png"
}
pixel() { # file x y -> RRGGBB
  convert "$1" -crop "1x1+$2+$3" -depth 8 txt:- 2>/dev/null | sed -n 's/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p' | head -n1
}
near() { # RRGGBB RRGGBB tolerance
  local a=$1 b=$2 t=$3 i
  for i in 0 2 4; do
    local x=$((16#${a:$i:2})) y=$((16#${b:$i:2}))
    [ $(((x - y) * (x - y))) -le $((t * t)) ] || return 1
  done
}
# expect NAME SHOT X Y COLOUR TOLERANCE [not]: polls screenshots for up to 15 s, so a slow machine
# only takes longer.
expect() {
  local name=$1 file=$2 x=$3 y=$4 colour=$5 tol=$6 negate=${7:-} p="" ok=1
  for _ in $(seq 30); do
    import -window root "$shots/$file.png" 2>/dev/null
    p=$(pixel "$shots/$file.png" "$x" "$y")
    if [ -n "$p" ]; then
      if near "$p" "$colour" "$tol"; then ok=0; else ok=1; fi
      [ -n "$negate" ] && ok=$((1 - ok))
      [ "$ok" = 0 ] && break
    fi
    sleep 0.5
  done
  check "$name (got $p)" "$ok"
}
wait_title() { # pattern
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}
settle() { sleep "${1:-0.6}"; }

background=D7E4F2
"$zerimo" "$work/pics/a.jpg" >"$work/zerimo.log" 2>&1 &
app_pid=$!
wait_title "^a\.jpg - Zerimo \(64 bit\) 1\.84$"
check "the window shows a.jpg in its title" $?
win=$(xdotool search --onlyvisible --name "Zerimo" | head -n1)
xdotool windowmove --sync "$win" 0 0 windowsize --sync "$win" 1000 700 windowfocus --sync "$win" 2>/dev/null
settle 1
eval "$(xdotool getwindowgeometry --shell "$win")"
# The photo is fitted to the height: image on the left, the background on the right.
expect "the photo is painted at (200, 300)" 01-open 200 300 "$background" 10 not
expect "the background shows right of the fitted photo" 01-open $((WIDTH - 20)) 300 "$background" 4

# Three zoom steps: the photo grows past the right edge.
xdotool key ctrl+equal ctrl+equal ctrl+equal
expect "after zooming in the photo reaches the right edge" 02-zoom $((WIDTH - 30)) 300 "$background" 10 not

# Get Next: the red picture, fitted.
xdotool key Right
wait_title "^b\\.png - Zerimo \\(64 bit\\) 1\\.84$"
check "Get Next opens b.png" $?
expect "b.png is painted red" 03-next 200 300 FF0000 4

# Full screen: no menu, the picture fitted to the screen's width at the top, background below.
xdotool key F11
expect "full screen starts with the picture at the top-left corner" 04-fullscreen 5 5 FF0000 4
expect "full screen shows the background below the picture" 04-fullscreen 640 880 "$background" 4
xdotool key Escape
expect "Esc leaves full screen: the menu bar is back" 05-windowed 5 5 FF0000 30 not

# Exit from the File menu writes the settings (the menu is opened again if a slow machine missed it).
for _ in 1 2 3; do
  xdotool key alt+f
  sleep 1
  xdotool key x
  for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app_pid" 2>/dev/null || break
  xdotool key Escape
done
kill -0 "$app_pid" 2>/dev/null && r=1 || r=0
check "Exit ends the program" $r
app_pid=""
ini="$work/config/Zerimo/Zerimo.ini"
grep -q '^Quality=100' "$ini" 2>/dev/null
check "the profile holds Pref/Quality" $?
grep -q "^File1=$work/pics/b.png" "$ini" 2>/dev/null || grep -q "^File1=$work/pics/a.jpg" "$ini" 2>/dev/null
check "the recent-file list holds the opened file" $?

echo "$passes passed, $failures failed"
[ "$failures" = 0 ]
