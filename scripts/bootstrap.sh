#!/usr/bin/env bash
# Installs the Debian packages that building, testing, fuzzing and benchmarking Zerimo need.
# Idempotent: quiet when everything is present, and `apt-get update` runs only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libjpeg62-turbo-dev libpng-dev libgif-dev libtiff-dev liblcms2-dev zlib1g-dev libwebp-dev webp shared-mime-info
  qt6-base-dev fonts-dejavu-core imagemagick pngquant bc xvfb xdotool
  libheif-dev libheif-examples libavif-bin netpbm apngasm
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "bootstrap: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
