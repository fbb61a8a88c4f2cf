#!/usr/bin/env bash
# Builds everything and runs every test, then checks formatting. Then the suite
# again under the sanitizers (scripts/sanitize.sh) and a short fuzzing run of
# every fuzz target (scripts/fuzz.sh).
#   SANITIZE=0       skip the sanitizer builds
#   FUZZ_SECONDS=N   fuzzing time per target (default 30; 0 skips fuzzing)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
scripts/build.sh
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)"
scripts/check-format.sh
if [ "${SANITIZE:-1}" != 0 ]; then
  BUILD_DIR="$BUILD_DIR" scripts/sanitize.sh
fi
if [ "${FUZZ_SECONDS:-30}" != 0 ]; then
  BUILD_DIR="$BUILD_DIR-fuzz" FUZZ_SECONDS="${FUZZ_SECONDS:-30}" scripts/fuzz.sh
fi
