#!/usr/bin/env bash
# zerimo-cli batch against ImageMagick's mogrify on the same 200 JPEGs (Kodak photos, copied),
# converting to PNG; prints files per second of each as whole processes, best of $REPS runs.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
[ -x "$build/bin/zerimo-cli" ] || BUILD_DIR=$build scripts/build.sh >/dev/null
cli=$build/bin/zerimo-cli
reps=${REPS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/ours" "$work/magick"
kodak=../shared/corpus/kodak
n=0
while [ $n -lt 200 ]; do
  for f in "$kodak"/*.png; do
    [ $n -ge 200 ] && break
    convert "$f" -quality 90 "$work/in/photo$n.jpg"
    n=$((n + 1))
  done
done
best() { # command...
  local best=""
  for _ in $(seq "$reps"); do
    local t0 t1
    t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N)
    best=$(echo "$t0 $t1 $best" | awk '{ t = $2 - $1; if ($3 == "" || t < $3) print t; else print $3 }')
  done
  echo "$best"
}
ours=$(best "$cli" batch --to png --prefix "" --out "$work/ours" "$work"/in/*.jpg)
magick=$(best mogrify -path "$work/magick" -format png "$work"/in/*.jpg)
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v o="$ours" -v m="$magick" 'BEGIN {
  printf "  zerimo-cli batch  %6.2f s  %7.1f files/s\n", o, 200 / o
  printf "  mogrify           %6.2f s  %7.1f files/s\n", m, 200 / m
  printf "  ratio (ours/theirs, files per second) %.2f (limit >= 1)\n", m / o }'
