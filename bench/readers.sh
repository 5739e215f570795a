#!/usr/bin/env bash
# Our own readers against ImageMagick as whole processes: `zerimo-cli decode FILE` and
# `convert FILE ppm:/dev/null` on 4000 x 3000 files (TGA RLE 32-bit, PSD RLE 8-bit RGB, PCX 24-bit,
# a 20-frame APNG), best wall time of $REPS runs each.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
[ -x "$build/bin/zerimo-cli" ] || BUILD_DIR=$build scripts/build.sh >/dev/null
cli=$build/bin/zerimo-cli
# The real ImageMagick, not a wrapper of the same name earlier on the path.
im=/usr/bin/convert
[ -x "$im" ] || im=convert
reps=${REPS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A photo at 4000 x 3000 with an alpha ramp for the 32-bit TGA.
"$im" ../shared/corpus/kodak/23.png -resize 4000x3000\! -strip "$work/photo.png"
"$im" "$work/photo.png" \( -size 3000x4000 gradient:white-gray40 -rotate 90 \) -alpha off \
      -compose CopyOpacity -composite "$work/photo-alpha.png"
"$im" "$work/photo-alpha.png" -compress RLE "$work/rle32.tga"
"$im" "$work/photo.png" -compress RLE "$work/rle8.psd"
"$im" "$work/photo.png" -type TrueColor "$work/rgb24.pcx"

# The APNG: the photo's PNG data as the default image and as 19 more frames (the same data in
# fdAT chunks), so every frame decodes to a whole 4000 x 3000 picture.
python3 - "$work/photo.png" "$work/anim20.png" <<'PY'
import struct, sys, zlib
src = open(sys.argv[1], 'rb').read()
chunks, at = [], 8
while at < len(src):
    n, = struct.unpack('>I', src[at:at + 4]); chunks.append((src[at + 4:at + 8], src[at + 8:at + 8 + n])); at += 12 + n
ihdr = next(d for t, d in chunks if t == b'IHDR')
idat = b''.join(d for t, d in chunks if t == b'IDAT')
w, h = struct.unpack('>II', ihdr[:8])
def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
seq = 0
def fctl():
    global seq
    d = struct.pack('>IIIIIHHBB', seq, w, h, 0, 0, 1, 10, 0, 0); seq += 1; return chunk(b'fcTL', d)
out = [src[:8], chunk(b'IHDR', ihdr), chunk(b'acTL', struct.pack('>II', 20, 0)), fctl()]
out += [chunk(b'IDAT', idat[i:i + (1 << 20)]) for i in range(0, len(idat), 1 << 20)]
for _ in range(19):
    out.append(fctl())
    for i in range(0, len(idat), 1 << 20):
        out.append(chunk(b'fdAT', struct.pack('>I', seq) + idat[i:i + (1 << 20)])); seq += 1
out.append(chunk(b'IEND', b''))
open(sys.argv[2], 'wb').write(b''.join(out))
PY

best() { # command... -> "wall cpu": the best wall time and the best user + system time of $reps runs
  local wall="" cpu=""
  for _ in $(seq "$reps"); do
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null 2>&1
    read -r w u s <"$work/time"
    wall=$(awk -v a="$w" -v b="$wall" 'BEGIN { print (b == "" || a < b) ? a : b }')
    cpu=$(awk -v a="$u" -v s="$s" -v b="$cpu" 'BEGIN { t = a + s; print (b == "" || t < b) ? t : b }')
  done
  echo "$wall $cpu"
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)   (best of $reps runs, 4000 x 3000; wall and user + system seconds)"
for f in rle32.tga rle8.psd rgb24.pcx anim20.png; do
  line=$("$cli" decode "$work/$f" | tr '\r' '\n' | tail -1)
  read -r ow oc <<<"$(best "$cli" decode "$work/$f")"
  read -r mw mc <<<"$(best "$im" "$work/$f" ppm:/dev/null)"
  size=$(du -m "$work/$f" | cut -f1)
  awk -v f="$f" -v ow="$ow" -v oc="$oc" -v mw="$mw" -v mc="$mc" -v s="$size" -v l="$line" 'BEGIN {
    split(l, p, "\t")
    printf "  %-11s %4d MB %-5s %-11s %2s frames   zerimo-cli decode %6.3f s (cpu %6.3f)   convert %6.3f s (cpu %6.3f)   ratio %.2f, cpu %.2f (limit 1)\n",
      f, s, p[2], p[5], p[6], ow, oc, mw, mc, ow / mw, oc / mc }'
done
