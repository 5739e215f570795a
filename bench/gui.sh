#!/usr/bin/env bash
# The viewer's figures on a real window under Xvfb (1920 x 1080), with a 24-megapixel JPEG:
#   start to the first painted frame  vs  1.3 x a bare libjpeg-turbo decode of the file + 150 ms
#   Get Next to a preloaded image (< 30 ms to the painted frame) and to one that is not (<= 1.2 x decode)
#   paints at several zooms (< 16 ms)
# usage: bench/gui.sh [BUILD_DIR]   (default build; builds zerimo there)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" zerimo >/dev/null
zerimo=$build/bin/zerimo

work=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
# A 6000 x 4000 photo (the Kodak sample enlarged), five copies in one folder.
mkdir -p "$work/pics"
convert samples/kodim23.jpg -resize 6000x4000\! -quality 90 "$work/pics/p1.jpg"
for i in 2 3 4 5; do cp "$work/pics/p1.jpg" "$work/pics/p$i.jpg"; done
cc -O2 -o "$work/bare" bench/bare_jpeg_decode.c -ljpeg

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")" XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
bare=$("$work/bare" "$work/pics/p1.jpg" 5)
echo "bare libjpeg-turbo decode of the 6000 x 4000 JPEG: median $bare ms"
runs=()
for r in 1 2 3; do
  sync
  line=$("$zerimo" --benchmark "--start-ns=$(date +%s%N)" "$work/pics/p1.jpg" 2>/dev/null | tee "$work/run$r.txt" | grep '^first-paint-ms')
  runs+=("${line#first-paint-ms }")
done
median=$(printf '%s\n' "${runs[@]}" | sort -n | sed -n 2p)
limit=$(awk -v b="$bare" 'BEGIN { printf "%.1f", 1.3 * b + 150 }')
echo "start to first paint: runs ${runs[*]} ms, median $median ms (limit 1.3 x $bare + 150 = $limit ms)"
grep -v '^first-paint-ms' "$work/run2.txt" | sed 's/^/  /'
