#!/usr/bin/env bash
# Installs the Debian packages the build, tests and tools need. Safe to run again:
# it only calls apt-get when something is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang clang-format libclang-rt-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev
  libembree-dev libopenimageio-dev libtbb-dev libtinyobjloader-dev pkg-config fonts-dejavu-core
  valgrind
  googletest pkg-config python3
  libcpp-httplib-dev chromium
)
# vesper-studio's browser test runs on Node.js; a Node.js from elsewhere that
# brings its own npm is kept.
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)
# The Windows DLL: MinGW-w64 cross compiler, and wine to run its tests.
if [ "${VESPER_SKIP_WINDOWS:-0}" != 1 ]; then
  packages+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64)
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
# The browser test's npm packages, as the lock file pins them.
browser="$(dirname "$0")/../tests/browser"
if [ ! -f "$browser/node_modules/.package-lock.json" ] ||
    ! cmp -s "$browser/package-lock.json" "$browser/node_modules/.vesper-lock"; then
  (cd "$browser" && npm ci --no-audit --no-fund --loglevel=error &&
    cp package-lock.json node_modules/.vesper-lock)
fi
