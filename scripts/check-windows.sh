#!/usr/bin/env bash
# The Windows plug-in. Cross-builds vesperShaders64.dll and the Windows contract
# tests with MinGW-w64, checks the DLL's exports and imports against the Linux
# build, installs the DLL package and cross-builds the example host against it,
# then runs the contract tests and the example host (every class) under wine.
#
# Needs the Linux build in $BUILD_DIR (scripts/build.sh). The Windows build goes
# to $WINDOWS_BUILD_DIR (default: $BUILD_DIR-mingw). When wine cannot run
# programs here the wine steps are skipped with a notice; VESPER_REQUIRE_WINE=1
# makes that a failure instead.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
WIN_DIR=${WINDOWS_BUILD_DIR:-$BUILD_DIR-mingw}
toolchain=$PWD/cmake/toolchain-mingw-w64.cmake

echo "== Windows: cross-building the DLL and its tests"
cmake -S . -B "$WIN_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DVESPER_BUILD_TOOLS=OFF -DVESPER_BUILD_RENDERER=OFF -DVESPER_BUILD_BENCH=OFF \
  -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$WIN_DIR"
WIN_DIR=$(cd "$WIN_DIR" && pwd)

echo "== Windows: DLL exports and imports"
scripts/check-dll-exports.sh "$WIN_DIR/vesperShaders64.dll" "$BUILD_DIR/libvesperShaders64.so"

echo "== Windows: example host against the installed DLL package"
prefix=$WIN_DIR/package
rm -rf "$prefix"
cmake --install "$WIN_DIR" --prefix "$prefix" >/dev/null
cmake -S examples/minimal_host -B "$WIN_DIR/minimal_host" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DvesperShaders_DIR="$prefix/lib/cmake/vesperShaders" -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" \
  >/dev/null
cmake --build "$WIN_DIR/minimal_host"

echo "== Windows: running under wine"
export WINEPREFIX=${WINEPREFIX:-$WIN_DIR/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko install prompts
probe_log=$WIN_DIR/wine-probe.log
if ! command -v wine >/dev/null; then
  echo "wine is not installed" >"$probe_log"
  wine_ok=0
elif timeout 300 wine cmd.exe /c echo wine-can-run >"$probe_log" 2>&1 &&
  grep -q wine-can-run "$probe_log"; then
  wine_ok=1
else
  wine_ok=0
fi
if [ "$wine_ok" -ne 1 ]; then
  cat "$probe_log" >&2
  echo "############################################################################" >&2
  echo "## SKIPPED: wine cannot run Windows programs on this machine, so the       ##" >&2
  echo "## Windows contract tests and the Windows example host were NOT run.       ##" >&2
  echo "## The DLL was built and its exports and imports were checked.             ##" >&2
  echo "############################################################################" >&2
  [ "${VESPER_REQUIRE_WINE:-0}" = 1 ] && exit 1
  exit 0
fi

ctest --test-dir "$WIN_DIR" --output-on-failure --timeout 900

classes=$(nm -D --defined-only "$BUILD_DIR/libvesperShaders64.so" | sed -n 's/.* \(.*\)_create$/\1/p')
host_log=$WIN_DIR/minimal_host.log
# shellcheck disable=SC2086
if ! timeout 600 wine "$WIN_DIR/minimal_host/minimal_host.exe" $classes >"$host_log" 2>&1; then
  cat "$host_log"
  echo "check-windows: the example host failed under wine" >&2
  exit 1
fi
echo "windows example host: $(tail -n 1 "$host_log" | tr -d '\r')"
