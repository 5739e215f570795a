#!/usr/bin/env bash
# Sets up a fresh machine, builds Zerimo and runs the whole test suite: first the core tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, then every test on the normal build, whose CTest
# summary ends the output.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
jobs=$(nproc)

if [ "${ZERIMO_SKIP_SANITIZE:-0}" != 1 ]; then
  BUILD_DIR=build-asan scripts/build.sh -DZERIMO_SANITIZE=ON
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
     LSAN_OPTIONS=suppressions=$PWD/../tests/lsan.supp \
     QT_QPA_PLATFORM=offscreen ctest -L core -j"$jobs" --output-on-failure)
fi

scripts/build.sh
cd build
QT_QPA_PLATFORM=offscreen ctest -j"$jobs" --output-on-failure
