#!/usr/bin/env bash
# Builds everything and runs every test, then checks formatting.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
scripts/build.sh
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)"
scripts/check-format.sh
