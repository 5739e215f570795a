#!/usr/bin/env bash
# Configures and builds Zerimo into a build folder (default: build). Extra arguments go to CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${BUILD_DIR:-build}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
ninja -C "$dir"
