#!/usr/bin/env bash
# Sets up a fresh machine, builds Zerimo and runs it on the bundled sample image.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
scripts/build.sh
sample=samples/kodim23.jpg
build/bin/zerimo-cli info "$sample"
build/bin/zerimo-cli convert "$sample" build/kodim23.png
build/bin/zerimo-cli info build/kodim23.png
echo "wrote build/kodim23.png"
