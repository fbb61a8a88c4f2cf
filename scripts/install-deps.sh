#!/usr/bin/env bash
# Installs the Debian packages a job needs. Safe to run again: it only calls
# apt-get when something is missing.
#   scripts/install-deps.sh [PROFILE]
#     info    vesper-info: compiler, CMake, Ninja, nlohmann-json
#     render  vesper-render as well: Embree, OpenImageIO, oneTBB, tinyobjloader, a font
#     studio  vesper-studio as well: cpp-httplib, and Python to build the page's notes
#     all     (default) everything the tests, benchmarks, sanitizers, fuzzing, tools
#             and the Python module (pybind11, numpy, pytest, matplotlib) need, with
#             the browser test's chromium and npm packages and Slurm and munge for
#             the cluster test (which starts its own daemons); unless
#             VESPER_SKIP_WINDOWS=1, also the MinGW-w64 cross compiler and wine for
#             the Windows DLL
set -euo pipefail
profile=${1:-all}

case "$profile" in
  info | render | studio | all) ;;
  *)
    echo "install-deps: unknown profile '$profile' (info, render, studio or all)" >&2
    exit 2
    ;;
esac

packages=(cmake ninja-build g++ nlohmann-json3-dev)
if [ "$profile" != info ]; then
  packages+=(libembree-dev libopenimageio-dev libtbb-dev libtinyobjloader-dev pkg-config
             fonts-dejavu-core)
fi
if [ "$profile" = studio ] || [ "$profile" = all ]; then
  packages+=(libcpp-httplib-dev python3)
fi
if [ "$profile" = all ]; then
  packages+=(clang clang-format libclang-rt-dev libgtest-dev libgmock-dev googletest
             libbenchmark-dev valgrind python3 chromium slurmctld slurmd
             slurm-client munge pybind11-dev python3-dev python3-numpy python3-pytest
             python3-matplotlib)
  # vesper-studio's browser test runs on Node.js; a Node.js from elsewhere that
  # brings its own npm is kept.
  command -v node >/dev/null || packages+=(nodejs)
  command -v npm >/dev/null || packages+=(npm)
  if [ "${VESPER_SKIP_WINDOWS:-0}" != 1 ]; then
    packages+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64)
  fi
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -ne 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ "$profile" = all ]; then
  # The browser test's npm packages, as the lock file pins them.
  browser="$(dirname "$0")/../tests/browser"
  if [ ! -f "$browser/node_modules/.package-lock.json" ] ||
      ! cmp -s "$browser/package-lock.json" "$browser/node_modules/.vesper-lock"; then
    (cd "$browser" && npm ci --no-audit --no-fund --loglevel=error &&
      cp package-lock.json node_modules/.vesper-lock)
  fi
fi
