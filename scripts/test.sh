#!/usr/bin/env bash
# Builds everything and runs every test (the studio's browser test, the Python module's
# tests and the generated shader reference check too), then checks formatting, the installed package, the vtable layout under the MSVC ABI
# and the Windows DLL. Then the suite again under the sanitizers
# (scripts/sanitize.sh) and a short fuzzing run of every fuzz target (scripts/fuzz.sh).
# VESPER_SKIP_WINDOWS=1 leaves out the Windows DLL (MinGW build, export check, wine
# runs) for quick local runs; CI runs it.
# SANITIZE=0 skips the sanitizer builds; FUZZ_SECONDS=N sets the fuzzing time per
# target (default 30; 0 skips fuzzing).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
export BUILD_DIR
# Every option the stages below rely on, stated whatever an earlier command (scripts/run.sh
# makes a tree without tests, benchmarks or the studio) left in the build tree's cache.
scripts/build.sh -DVESPER_BUILD_TESTS=ON -DVESPER_BUILD_BENCH=ON -DVESPER_BUILD_TOOLS=ON \
  -DVESPER_BUILD_RENDERER=ON -DVESPER_BUILD_STUDIO=ON -DVESPER_BUILD_PYTHON=ON -DVESPER_SANITIZE= \
  -DVESPER_FUZZ=OFF
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)"
# vesper-studio in chromium (starts and stops its own server).
tests/browser/run.sh
scripts/check-format.sh
scripts/check-layers.sh
scripts/check-install.sh
scripts/check-msvc-abi.sh
if [ "${VESPER_SKIP_WINDOWS:-0}" = 1 ]; then
  echo "VESPER_SKIP_WINDOWS=1: the Windows DLL build, export check and wine tests were skipped"
else
  scripts/check-windows.sh
fi
if [ "${SANITIZE:-1}" != 0 ]; then
  scripts/sanitize.sh
fi
if [ "${FUZZ_SECONDS:-30}" != 0 ]; then
  BUILD_DIR="$BUILD_DIR-fuzz" FUZZ_SECONDS="${FUZZ_SECONDS:-30}" scripts/fuzz.sh
fi
