#!/usr/bin/env bash
# Drives zerimo-cli as a user would: exit codes, the one-line error, the JSON keys, conversions.
set -u
cli=$1
data=$2
sample=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fails=0
check() { # description, expected exit code, command...
  local what=$1 want=$2
  shift 2
  "$@" >"$tmp/out" 2>"$tmp/err"
  local got=$?
  if [ "$got" != "$want" ]; then
    echo "FAIL: $what: exit $got, expected $want"; sed 's/^/  | /' "$tmp/err"; fails=$((fails + 1))
  fi
}
expect_out() { # description, extended regex the standard output must match
  if ! grep -Eq -- "$2" "$tmp/out"; then echo "FAIL: $1: output does not match $2"; head -c 600 "$tmp/out"; fails=$((fails + 1)); fi
}
expect_one_error_line() {
  local n; n=$(wc -l <"$tmp/err")
  if [ "$n" != 1 ]; then echo "FAIL: $1: $n lines on standard error, expected 1"; cat "$tmp/err"; fails=$((fails + 1)); fi
}

# Usage errors and help.
check "no command" 2 "$cli"
check "unknown command" 2 "$cli" frobnicate
check "info without files" 2 "$cli" info
check "info unknown option" 2 "$cli" info --xml "$sample"
check "convert with one file" 2 "$cli" convert "$sample"
check "convert bad quality" 2 "$cli" convert "$sample" "$tmp/a.jpg" --quality 0
check "convert quality without value" 2 "$cli" convert "$sample" "$tmp/a.jpg" --quality
for c in info convert; do check "$c --help" 0 "$cli" $c --help; expect_out "$c --help" "usage: zerimo-cli $c"; done
check "--help" 0 "$cli" --help

# info --json: exactly the documented keys, in order, with the sample's facts.
check "info --json sample" 0 "$cli" info --json "$sample"
keys='^\{"path":"[^"]*","ok":true,"width":768,"height":512,"pixelFormat":137224,"pixelFormatName":"24 bpp RGB","bitsPerPixel":24,"frameCount":1,"frameDimensions":\["\{7462dc86-6180-4c7e-8e3f-ee7333a7a483\}"\],"dpiX":[0-9.]+,"dpiY":[0-9.]+,"flags":[0-9]+,"rawFormat":"JPEG","hasTransparency":false,"properties":\[.*\]\}$'
expect_out "info --json keys" "$keys"
check "info text" 0 "$cli" info "$sample"
expect_out "info text" "768 x 512"

# Failures: one line on standard error, exit 1; JSON still printed with ok false.
check "missing file" 1 "$cli" info --json "$tmp/none.png"
expect_one_error_line "missing file"
expect_out "missing file json" '"ok":false'
printf 'not an image' >"$tmp/junk.png"
check "junk file" 1 "$cli" info "$tmp/junk.png"
expect_one_error_line "junk file"
check "unknown extension" 1 "$cli" convert "$sample" "$tmp/out.xyz"
expect_one_error_line "unknown extension"

# Conversions through every encoder read back with the sample's size.
for ext in png bmp tif jpg JPEG; do
  check "convert to .$ext" 0 "$cli" convert "$sample" "$tmp/out.$ext" --quality 80
  check "read back .$ext" 0 "$cli" info --json "$tmp/out.$ext"
  expect_out "read back .$ext" '"width":768,"height":512'
done

# GIF holds 8-bit images: an 8-bit source converts as it is, a deeper one through the RGB quantizer.
check "8-bit to .gif" 0 "$cli" convert "$data/gif/static_transparent.gif" "$tmp/out8.gif"
check "24-bit to .gif" 0 "$cli" convert "$sample" "$tmp/out24.gif"
check "read back 24-bit .gif" 0 "$cli" info --json "$tmp/out24.gif"
expect_out "read back 24-bit .gif" '"width":768,"height":512,"pixelFormat":198659'

# quantize: every method and count writes an image of the asked depth; the result is the same with
# and without threads; bad options are usage errors.
check "quantize without --colors" 2 "$cli" quantize "$sample" "$tmp/q.png"
check "quantize bad count" 2 "$cli" quantize "$sample" "$tmp/q.png" --colors 17
check "quantize bad method" 2 "$cli" quantize "$sample" "$tmp/q.png" --colors 16 --method kmeans
check "quantize --help" 0 "$cli" quantize --help
for spec in "256 auto 198659" "256 pnnlab 198659" "16 auto 197634" "2 otsu 196865" "65536 auto 135174"; do
  set -- $spec
  check "quantize $1 $2" 0 "$cli" quantize "$sample" "$tmp/q_$1_$2.bmp" --colors "$1" --method "$2"
  check "read back quantize $1 $2" 0 "$cli" info --json "$tmp/q_$1_$2.bmp"
  expect_out "read back quantize $1 $2" "\"pixelFormat\":$3"
done
check "quantize one thread" 0 "$cli" quantize "$sample" "$tmp/q1.png" --colors 256 --threads 1
check "quantize two threads" 0 "$cli" quantize "$sample" "$tmp/q2.png" --colors 256 --threads 2
if ! cmp -s "$tmp/q1.png" "$tmp/q2.png"; then echo "FAIL: quantize differs with threads"; fails=$((fails + 1)); fi

# script: the Convert To commands finish before the next line.
printf 'open %s\nconvert-256\nstate\nconvert-high\nstate\nundo\nstate\n' "$sample" >"$tmp/quant.script"
check "script convert" 0 "$cli" script "$tmp/quant.script"
if [ "$(grep -c '"busy":false' "$tmp/out")" != 3 ] || ! grep -q '"pixelFormat":198659' "$tmp/out" ||
   ! grep -q '"pixelFormat":135174' "$tmp/out"; then
  echo "FAIL: script convert states"; cat "$tmp/out"; fails=$((fails + 1))
fi

# Frames: an animated GIF's second frame converts, a frame past the end fails.
gif="$data/gif/animated_loop_interlaced.gif"
if [ -f "$gif" ]; then
  check "convert --frame 1" 0 "$cli" convert "$gif" "$tmp/f1.png" --frame 1
  check "convert --frame 999" 1 "$cli" convert "$gif" "$tmp/f999.png" --frame 999
  expect_one_error_line "frame past the end"
fi

# script: one document through its commands; state is one JSON line.
cp "$sample" "$tmp/a.jpg"
cp "$sample" "$tmp/b.jpg"
printf 'open %s\nstate\nnext\nstate\nundo\nsaveas %s\nstate\nnosuch\n' "$tmp/a.jpg" "$tmp/c.png" >"$tmp/s1"
check "script run" 1 "$cli" script "$tmp/s1"
state_keys='^\{"title":"a.jpg","path":"[^"]*/a.jpg","modified":false,"canUndo":false,"canRedo":false,"historySize":1,"position":1,"width":768,"height":512,"pixelFormat":137224,"bitsPerPixel":24,"frameCount":1,"currentFrame":0,"hasTransparency":false,"busy":false\}$'
expect_out "script state keys" "$state_keys"
expect_out "script next" '"title":"b.jpg"'
expect_out "script saveas" '"title":"c.png","path":"[^"]*/c.png"'
if ! grep -q '^message: disabled: undo$' "$tmp/err"; then echo "FAIL: undo on a fresh open is refused"; fails=$((fails + 1)); fi
if ! grep -q "unknown command 'nosuch'" "$tmp/err"; then echo "FAIL: unknown script command"; fails=$((fails + 1)); fi
printf 'open %s\n' "$tmp/none.png" | "$cli" script - >"$tmp/out" 2>"$tmp/err"
if ! grep -q '^message: Failed to open document.$' "$tmp/err"; then echo "FAIL: open failure message"; cat "$tmp/err"; fails=$((fails + 1)); fi
check "script --answer" 2 "$cli" script --answer maybe

# info --report: the properties report of the file.
check "info --report" 0 "$cli" info --report "$sample"
expect_out "report file line" '^File: .*kodim23.jpg'
expect_out "report format" '^Format: JPEG'
expect_out "report pixels" '^Pixels: 768 × 512'

# convert writes what the save chain writes, and its failure line is the save message.
check "convert to ico" 0 "$cli" convert "$sample" "$tmp/out.ico"
check "convert to webp" 0 "$cli" convert "$sample" "$tmp/out.webp" --quality 70
check "read back webp" 0 "$cli" info --report "$tmp/out.webp"
expect_out "webp size" '^Pixels: 768 × 512'
check "convert to emf" 0 "$cli" convert "$sample" "$tmp/out.emf"
check "convert unwritable" 1 "$cli" convert "$sample" "$tmp/no/such/dir.png"
if ! grep -q "^message: Failed to save image in '$tmp/no/such/dir.png' file$" "$tmp/err"; then echo "FAIL: save message"; cat "$tmp/err"; fails=$((fails + 1)); fi

# batch: prefix and folder, undecodable files skipped, one target per base name (the later wins).
mkdir -p "$tmp/batch"
cp "$data/png/basn0g01.png" "$tmp/a.png"
check "batch" 0 "$cli" batch --to png --prefix p_ --out "$tmp/batch" "$tmp/a.jpg" "$tmp/junk.png" "$tmp/a.png"
[ -f "$tmp/batch/p_a.png" ] || { echo "FAIL: batch output missing"; fails=$((fails + 1)); }
[ -f "$tmp/batch/p_junk.png" ] && { echo "FAIL: undecodable file written"; fails=$((fails + 1)); }
check "batch read back" 0 "$cli" info --json "$tmp/batch/p_a.png"
expect_out "the later file wins" '"width":32,"height":32'
check "batch unwritable" 1 "$cli" batch --to png --out "$tmp/no/such" "$tmp/a.jpg"
check "batch usage" 2 "$cli" batch --to png "$tmp/a.jpg"

# decode: which reader of the load chain takes each file; convert writes .heic and .avif.
t=$'\t'
check "decode --help" 0 "$cli" decode --help
expect_out "decode --help" "usage: zerimo-cli decode"
check "decode without files" 2 "$cli" decode
for pair in tga/utc24.tga:tga psd/psd_rgb_8.psd:psd pcx/odd_stride.pcx:pcx apng/dispose_op_none_region.png:apng \
            heif/one.heic:heif avif/avifenc-8bit.avif:heif png/basn0g01.png:platform webp/test.webp:webp; do
  file=${pair%%:*} reader=${pair##*:}
  check "decode $file" 0 "$cli" decode "$data/$file"
  expect_out "decode $file" "$t$reader$t[0-9]+$t[0-9]+$t"
done
check "decode pages" 0 "$cli" decode "$data/heif/three.heic"
expect_out "decode pages" "${t}heif${t}61${t}37${t}24 bpp RGB${t}3$"
check "decode frames" 0 "$cli" decode "$data/apng/apngasm-3frames.png"
expect_out "decode frames" "${t}apng${t}61${t}37${t}32 bpp ARGB${t}3$"
check "decode with a failure" 1 "$cli" decode "$data/tga/utc24.tga" "$tmp/junk.png"
# The APNG reader says why it refused the junk ".png"; the CLI adds its own line.
[ "$(grep -c "^zerimo-cli: cannot decode '$tmp/junk.png'$" "$tmp/err")" = 1 ] || { echo "FAIL: decode failure line"; cat "$tmp/err"; fails=$((fails + 1)); }
grep -qx 'File signature incorrect.' "$tmp/err" || { echo "FAIL: APNG reason on standard error"; fails=$((fails + 1)); }
expect_out "decode with a failure" "utc24.tga${t}tga"
for ext in heic avif; do
  check "convert to .$ext" 0 "$cli" convert "$sample" "$tmp/out.$ext" --quality 60
  check "decode .$ext" 0 "$cli" decode "$tmp/out.$ext"
  expect_out "decode .$ext" "${t}heif${t}768${t}512${t}32 bpp ARGB${t}1$"
done

# Image operations through script: geometry, filters, colour edits, the bake on export and save.
ops_state() { grep -E "$2" "$tmp/out" >/dev/null || { echo "FAIL: $1: no state line matching $2"; cat "$tmp/out"; fails=$((fails + 1)); }; }
printf '%s\n' "open $sample" rotate-right state rotate-left rotate-180 mirror-h mirror-v "rotate 30" state undo \
  "resize 100 50" "crop 10 10 200 20" state grayscale "filter 30 2 10 5 25" "balance 20 -10 0 100" negate \
  reset-adjustments sepia "blur 0.7" "sharpen 1.0 1.5 --luminance" "soften small" edges "redeye 2 2 10 10" \
  "replace-color 000000 FF0000" "paint 00FF00 5,5 10,10" "text 1 1 8 0000FF Zerimo" state \
  "export $tmp/ops-out.png" undo state >"$tmp/ops.txt"
check "ops script" 0 "$cli" script "$tmp/ops.txt"
ops_state "quarter turn" '"width":512,"height":768'
ops_state "free rotation canvas" '"width":922,"height":828'
ops_state "crop clipped" '"historySize":8,"position":8,"width":90,"height":20'
ops_state "edits recorded" '"historySize":17,"position":17,"width":90,"height":20'
ops_state "undo after export" '"historySize":17,"position":16'
check "ops export readable" 0 "$cli" info --json "$tmp/ops-out.png"
expect_out "ops export readable" '"width":90,"height":20'
for bad in "rotate abc" "resize 0 10" "crop 1 2 3" "soften huge" "replace-color ZZZZZZ 000000" \
           "paint FF0000 10" "sharpen 1 1 --all" "blur 9" "text 1 1 0 000000 x" "filter 1 2 3 4"; do
  printf 'open %s\n%s\n' "$sample" "$bad" >"$tmp/bad.txt"
  check "ops bad line: $bad" 1 "$cli" script "$tmp/bad.txt"
done
printf 'open %s\nnegate\nsave\nstate\n' "$tmp/ops-out.png" >"$tmp/neg.txt"
check "negate and save" 0 "$cli" script "$tmp/neg.txt"
ops_state "saved document is clean" '"modified":false,"canUndo":false'

if [ "$fails" -ne 0 ]; then echo "$fails check(s) failed"; exit 1; fi
echo "all cli checks passed"
