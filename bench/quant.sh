#!/usr/bin/env bash
# Colour reduction against pngquant and ImageMagick, as whole processes on the same files.
# Usage: bench/quant.sh [BUILD_DIR]   (needs pngquant and ImageMagick; scripts/bootstrap.sh installs them)
# Speed: 256 colours of a 12-megapixel photo (PNG in, PNG out); 16 colours by the spatial quantizers
# on a 768 x 512 photo; Otsu of a 12-megapixel grey image. Quality: mean PSNR and CIEDE2000 over
# the Kodak set at 256 and 16 colours (ImageMagick's compare gives both).
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${1:-build}/bin/zerimo-cli
kodak=../shared/corpus/kodak
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
secs() { /usr/bin/time -f %e "$@" 2>&1 >/dev/null | tail -1; }

convert "$kodak/01.png" -resize 4000x3000! "$tmp/big.png"               # 12 megapixels
convert "$tmp/big.png" -colorspace Gray -type TrueColor "$tmp/grey.png"
echo "== speed (seconds, whole process) =="
printf '%-34s %s\n' "zerimo pnn 256 (12 MP)" "$(secs "$cli" quantize "$tmp/big.png" "$tmp/a.png" --colors 256 --method pnn)"
printf '%-34s %s\n' "zerimo pnnlab 256 (12 MP)" "$(secs "$cli" quantize "$tmp/big.png" "$tmp/b.png" --colors 256 --method pnnlab)"
printf '%-34s %s\n' "pngquant 256 (12 MP)" "$(secs pngquant 256 --force --output "$tmp/c.png" "$tmp/big.png")"
printf '%-34s %s\n' "magick -colors 256 (12 MP)" "$(secs convert "$tmp/big.png" -colors 256 "$tmp/d.png")"
printf '%-34s %s\n' "zerimo scq 16 (768x512)" "$(secs "$cli" quantize "$kodak/01.png" "$tmp/e.png" --colors 16 --method scq)"
printf '%-34s %s\n' "zerimo eaq 16 (768x512)" "$(secs "$cli" quantize "$kodak/01.png" "$tmp/f.png" --colors 16 --method eaq)"
"$cli" quantize "$tmp/grey.png" "$tmp/g.png" --colors 2 --method otsu --time 2>&1 | sed 's/^/zerimo otsu 2 (12 MP) conversion: /'

echo "== quality over $kodak (mean PSNR dB / mean CIEDE2000) =="
metric() { # reference candidate metric
  compare -metric "$3" "$1" "$2" null: 2>&1 | sed 's/ (.*//' || true
}
for colors in 256 16; do
  for tool in pnn pnnlab scq eaq pngquant magick; do
    [ "$colors" = 256 ] && { [ $tool = scq ] || [ $tool = eaq ]; } && continue
    psnr=0; de=0; n=0
    for f in "$kodak"/*.png; do
      out="$tmp/q.png"
      case $tool in
        pngquant) pngquant "$colors" --force --output "$out" "$f" ;;
        magick) convert "$f" -colors "$colors" "$out" ;;
        *) "$cli" quantize "$f" "$out" --colors "$colors" --method $tool 2>/dev/null ;;
      esac
      p=$(metric "$f" "$out" PSNR); d=$(compare -metric DE2000 "$f" "$out" null: 2>&1 | sed 's/ (.*//' || true)
      psnr=$(echo "$psnr + $p" | bc -l); de=$(echo "$de + $d" | bc -l); n=$((n + 1))
    done
    printf '%-4s colours %-9s PSNR %6.2f  DE2000 %s\n' "$colors" "$tool" "$(echo "$psnr / $n" | bc -l)" "$(echo "$de / $n" | bc -l)"
  done
done
