#!/usr/bin/env bash
# Sets up a fresh machine, builds Zerimo and starts the viewer on the bundled sample image.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
scripts/build.sh
sample=samples/kodim23.jpg
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # No desktop to show a window on: the command-line tool shows what the viewer would open.
  echo "no display: showing the sample with zerimo-cli instead of the viewer"
  build/bin/zerimo-cli info "$sample"
  exit 0
fi
exec build/bin/zerimo "$sample"
