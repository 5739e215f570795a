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
for ext in png bmp tif gif jpg JPEG; do
  check "convert to .$ext" 0 "$cli" convert "$sample" "$tmp/out.$ext" --quality 80
  check "read back .$ext" 0 "$cli" info --json "$tmp/out.$ext"
  expect_out "read back .$ext" '"width":768,"height":512'
done

# Frames: an animated GIF's second frame converts, a frame past the end fails.
gif="$data/gif/animated_loop_interlaced.gif"
if [ -f "$gif" ]; then
  check "convert --frame 1" 0 "$cli" convert "$gif" "$tmp/f1.png" --frame 1
  check "convert --frame 999" 1 "$cli" convert "$gif" "$tmp/f999.png" --frame 999
  expect_one_error_line "frame past the end"
fi

if [ "$fails" -ne 0 ]; then echo "$fails check(s) failed"; exit 1; fi
echo "all cli checks passed"
