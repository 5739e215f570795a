#!/usr/bin/env bash
# Builds the benchmarks (build-bench/) and runs the side-by-side comparisons of the image layer
# against the bare libraries, printing each pair's medians and their ratio.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=build-bench scripts/build.sh -DZERIMO_BENCH=ON -DZERIMO_TESTS=OFF >/dev/null
bin=build-bench/bin
reps=${REPS:-7}

# name pattern of ours, of the reference, and the limit of their ratio
pair() {
  local file=$1 ours=$2 ref=$3 limit=$4 col=$5
  awk -v o="${ours}_median" -v r="${ref}_median" -v lim="$limit" -v col="$col" '
    $1 == o { ot = $col; ou = $(col + 1) } $1 == r { rt = $col; ru = $(col + 1) }
    END { printf "  %-28s %8.1f %s   %-28s %8.1f %s   ratio %.3f (limit %s)\n", o, ot, ou, r, rt, ru, ot / rt, lim }' "$file"
}

run() {
  local name=$1
  shift
  "$bin/$name" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true --benchmark_color=false "$@" >"/tmp/zerimo-$name.txt" 2>/dev/null
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)   (CPU-time medians of $reps runs)"
run jpeg_bench
echo "JPEG 6000 x 4000:"
pair /tmp/zerimo-jpeg_bench.txt BM_DecodeImageFromStream BM_DecodeBareLibjpeg 1.10 4
pair /tmp/zerimo-jpeg_bench.txt BM_EncodeImageSave BM_EncodeBareLibjpeg 1.10 4
run png_bench
echo "PNG 4000 x 3000:"
pair /tmp/zerimo-png_bench.txt BM_PngImageFromStream BM_PngBareLibpng 1.10 4
run lockbits_bench
echo "LockBits 24bpp as 32bppARGB, 6000 x 4000:"
grep -h 'medians' /tmp/zerimo-lockbits_bench.txt | sed 's/\x1b\[[0-9;]*m//g; s/^/  /'
echo "  (limit 3)"
echo "JPEG open, 24 megapixels:"
"$bin/jpeg_bench" --peak | sed 's/^/  /'
run document_bench
echo "Document:"
pair /tmp/zerimo-document_bench.txt BM_OpenDocumentJpeg/real_time BM_ReadAndDecodeBareLibjpeg/real_time 1.15 2
grep -h 'BM_GetNextListing10000/real_time_median\|BM_UndoRedo24MP_median' /tmp/zerimo-document_bench.txt | awk '{ printf "  %-40s %8.3f %s\n", $1, $2, $3 }'
echo "  (Get Next limit 30 ms)"
