#!/usr/bin/env bash
# Makes the reader fixtures that other programs write (ImageMagick, netpbm, apngasm, heif-enc,
# avifenc) from one small crop of the Kodak photo in samples/. Run once; the outputs are committed
# so the tests do not depend on these tools. Needs: imagemagick netpbm apngasm libheif-examples
# libavif-bin.
set -euo pipefail
cd "$(dirname "$0")"
IM=/usr/bin/convert
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Sources: an odd-sized RGB crop, an RGBA version with a soft alpha ramp, and three tinted frames.
mkdir -p source
$IM ../../samples/kodim23.jpg -crop 61x37+300+200 +repage -strip source/rgb.png
$IM source/rgb.png \( -size 61x37 gradient:white-black -rotate 90 -resize 61x37\! \) -alpha off \
    -compose CopyOpacity -composite -strip source/rgba.png
for i in 0 1 2; do $IM source/rgb.png -modulate 100,100,$((100 + 40 * i)) -strip "$tmp/f$i.png"; done

# TGA: netpbm (uncompressed, bottom-up) and ImageMagick (RLE, 32-bit with alpha).
pngtopnm source/rgb.png | pamtotga -rgb > tga/netpbm-rgb24.tga
pngtopnm source/rgb.png | ppmtopgm | pamtotga -mono > tga/netpbm-grey8.tga
$IM source/rgba.png -compress RLE tga/im-rgba32-rle.tga

# PCX: netpbm 24-bit planar and 16-colour planar, ImageMagick 8-bit with a palette.
pngtopnm source/rgb.png | ppmtopcx -24bit > pcx/netpbm-rgb24.pcx
pngtopnm source/rgb.png | pnmquant 16 2>/dev/null | ppmtopcx -planes 4 > pcx/netpbm-16colour.pcx
pngtopnm source/rgb.png | pnmquant 16 2>/dev/null | pnmtopng > pcx/netpbm-16colour.png
$IM source/rgb.png -colors 200 -type Palette pcx/im-palette8.pcx
$IM pcx/im-palette8.pcx pcx/im-palette8.png

# PSD: ImageMagick's RLE RGB document.
$IM source/rgb.png -compress RLE psd/im-rgb8-rle.psd

# APNG: three frames assembled by apngasm (default image part of the animation).
apngasm apng/apngasm-3frames.png "$tmp/f0.png" "$tmp/f1.png" "$tmp/f2.png" 1 10 -z0 >/dev/null
for i in 0 1 2; do cp "$tmp/f$i.png" "apng/apngasm-frame$i.png.ref"; done

# HEIF: one image, one with alpha, and a collection of three (the first input is the primary).
heif-enc -q 90 source/rgb.png -o heif/one.heic >/dev/null
heif-enc -q 90 source/rgba.png -o heif/alpha.heic >/dev/null
heif-enc -q 90 "$tmp/f0.png" "$tmp/f1.png" "$tmp/f2.png" -o heif/three.heic >/dev/null
heif-convert heif/one.heic "$tmp/one.png" >/dev/null && cp "$tmp/one.png" heif/one.heic.png

# AVIF through avifenc (heif-enc cannot write AVIF here): 8-bit 4:2:0 and 10-bit 4:4:4 with alpha.
avifenc --min 8 --max 16 source/rgb.png avif/avifenc-8bit.avif >/dev/null
avifenc --min 8 --max 16 -d 10 -y 444 source/rgba.png avif/avifenc-10bit-alpha.avif >/dev/null
avifdec avif/avifenc-8bit.avif "$tmp/a8.png" >/dev/null && cp "$tmp/a8.png" avif/avifenc-8bit.avif.png
