#!/usr/bin/env bash
# The image operations against ImageMagick as whole processes on the same PNG files, PNG in and
# PNG out: blur of radius 8 (convert -blur 0x8), resize to half size (-filter Catrom -resize 50%)
# and free rotation by 30 degrees, then the in-process times of the operations alone (ops_bench).
# Best wall-clock time of $REPS runs each. Inputs: Kodak photo 23 drawn up to 6000 x 4000 and
# 4000 x 3000 by zerimo-cli itself (kept in $OPS_BENCH_DIR between runs).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
[ "${OPS_SKIP_BUILD:-0}" = 1 ] || BUILD_DIR=$build scripts/build.sh -DZERIMO_BENCH=ON -DZERIMO_TESTS=OFF >/dev/null
cli=$build/bin/zerimo-cli
reps=${REPS:-3}
data=${OPS_BENCH_DIR:-/tmp/zerimo-ops-bench}
mkdir -p "$data"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
photo=../shared/corpus/kodak/23.png
for size in "6000 4000 24" "4000 3000 12"; do
  set -- $size
  [ -s "$data/photo$3.png" ] || printf 'open %s\nresize %s %s\nexport %s\n' "$photo" "$1" "$2" "$data/photo$3.png" |
    "$cli" script - >/dev/null
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
script() { # file, commands...
  local in=$1
  shift
  { echo "open $in"; printf '%s\n' "$@"; echo "export $work/ours.png"; } >"$work/s.txt"
  echo "$work/s.txt"
}
row() { # label, ours, theirs, limit
  awk -v l="$1" -v o="$2" -v m="$3" -v lim="$4" 'BEGIN {
    printf "  %-34s zerimo-cli %6.2f s   convert %6.2f s   ratio %.2f (limit %s)\n", l, o, m, o / m, lim }'
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)   (best of $reps, wall clock, whole processes)"
p24=$data/photo24.png p12=$data/photo12.png
io24=$(best "$cli" script "$(script "$p24")")
io12=$(best "$cli" script "$(script "$p12")")
echo "  open + export only: 24 MP $(printf %.2f "$io24") s, 12 MP $(printf %.2f "$io12") s"
ours=$(best "$cli" script "$(script "$p24" "blur 8")")
theirs=$(best convert "$p24" -blur 0x8 "$work/magick.png")
row "blur 8.00, 24 MP" "$ours" "$theirs" 1.5
ours=$(best "$cli" script "$(script "$p24" "resize 3000 2000")")
theirs=$(best convert "$p24" -filter Catrom -resize 50% "$work/magick.png")
row "resize to half (bicubic), 24 MP" "$ours" "$theirs" 1.0
ours=$(best "$cli" script "$(script "$p12" "rotate 30")")
theirs=$(best convert "$p12" -background black -rotate 30 "$work/magick.png")
row "rotate 30 degrees, 12 MP" "$ours" "$theirs" "-"
ours=$(best "$cli" script "$(script "$p12" "soften large")")
echo "  soften large, 12 MP                zerimo-cli $(printf %.2f "$ours") s"

echo "operations alone (ops_bench):"
"$build/bin/ops_bench" --benchmark_color=false 2>/dev/null | awk '/^BM_/ { n = $1; sub(/\/.*/, "", n); printf "  %-28s wall %7.0f ms   CPU of all threads %7.0f ms\n", n, $2, $4 }'
echo "  limits: rotate 30 of 12 MP under 1000 ms, bake of 24 MP under 300 ms"
