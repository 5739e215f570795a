#!/usr/bin/env bash
# Colour reduction against pngquant and ImageMagick, as whole processes on the same files.
# Usage: bench/quant.sh [BUILD_DIR] [speed|quality]   (both by default; a build with -DZERIMO_BENCH=ON: zerimo-cli and quant_bench;
# pngquant and ImageMagick come from scripts/bootstrap.sh)
# Speed: 256 colours of a 12-megapixel photo (30 Kodak photos tiled 5 x 6, 3840 x 3072, PNG in and
# PNG out); 16 colours by the spatial quantizers on a 768 x 512 photo; Otsu of a 12-megapixel grey
# image. Quality: mean PSNR and mean CIEDE2000 over the Kodak set at 256 and 16 colours.
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${1:-build}/bin/zerimo-cli
metric=${1:-build}/bin/quant_bench
kodak=../shared/corpus/kodak
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
secs() { /usr/bin/time -f %e "$@" 2>&1 >/dev/null | tail -1; }

what=${2:-all}
if [ "$what" != quality ]; then
files=("$kodak"/*.png)
montage "${files[@]}" "${files[@]:0:6}" -tile 5x6 -geometry 768x512+0+0 -depth 8 "$tmp/big.png"
convert "$tmp/big.png" -colorspace Gray -type TrueColor -depth 8 "$tmp/grey.png"
echo "== speed (seconds, whole process) =="
printf '%-34s %s\n' "zerimo pnn 256 (12 MP)" "$(secs "$cli" quantize "$tmp/big.png" "$tmp/a.png" --colors 256 --method pnn)"
printf '%-34s %s\n' "zerimo pnnlab 256 (12 MP)" "$(secs "$cli" quantize "$tmp/big.png" "$tmp/b.png" --colors 256 --method pnnlab)"
printf '%-34s %s\n' "pngquant 256 (12 MP)" "$(secs pngquant 256 --force --output "$tmp/c.png" "$tmp/big.png")"
printf '%-34s %s\n' "magick -colors 256 (12 MP)" "$(secs convert "$tmp/big.png" -colors 256 "$tmp/d.png")"
printf '%-34s %s\n' "zerimo scq 16 (768x512)" "$(secs "$cli" quantize "$kodak/01.png" "$tmp/e.png" --colors 16 --method scq)"
printf '%-34s %s\n' "zerimo eaq 16 (768x512)" "$(secs "$cli" quantize "$kodak/01.png" "$tmp/f.png" --colors 16 --method eaq)"
"$cli" quantize "$tmp/grey.png" "$tmp/g.png" --colors 2 --method otsu --time 2>&1 | sed 's/^/zerimo otsu 2 (12 MP) conversion: /'

fi
[ "$what" = speed ] && exit 0

echo "== quality over $kodak (mean PSNR dB / mean CIEDE2000) =="
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
      read -r p d < <("$metric" --quality "$f" "$out")
      psnr=$(echo "$psnr + $p" | bc -l); de=$(echo "$de + $d" | bc -l); n=$((n + 1))
    done
    printf '%-4s colours %-9s PSNR %6.2f  DE2000 %6.3f\n' "$colors" "$tool" "$(echo "$psnr / $n" | bc -l)" "$(echo "$de / $n" | bc -l)"
  done
done
