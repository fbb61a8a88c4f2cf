#!/usr/bin/env bash
# Builds everything and runs every test, then checks formatting, the installed
# package, the generated shader reference, the vtable layout under the MSVC ABI
# and the Windows DLL.
# VESPER_SKIP_WINDOWS=1 leaves out the Windows DLL (MinGW build, export check, wine
# runs) for quick local runs; CI runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
export BUILD_DIR
scripts/build.sh
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)"
scripts/check-format.sh
scripts/check-install.sh
scripts/gen-shader-reference.py --check
scripts/check-msvc-abi.sh
if [ "${VESPER_SKIP_WINDOWS:-0}" = 1 ]; then
  echo "VESPER_SKIP_WINDOWS=1: the Windows DLL build, export check and wine tests were skipped"
else
  scripts/check-windows.sh
fi
