#!/usr/bin/env bash
# The installed package, as a host developer uses it: installs the Linux build into
# a scratch prefix, moves the tree (the package must not depend on where it was
# installed), builds the example host out of tree against it, once through
# find_package(vesperShaders CONFIG) and once through pkg-config, and runs both
# on every class the library exports.
#
# Needs the Linux build in $BUILD_DIR (scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$BUILD_DIR" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/moved"
prefix=$work/moved
export PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name vesperShaders.pc)")
plugin=$(pkg-config --variable=plugin vesperShaders)
classes=$(nm -D --defined-only "$plugin" | sed -n 's/.* \(.*\)_create$/\1/p')
[ -n "$classes" ] || { echo "check-install: $plugin exports no classes" >&2; exit 1; }

header_api=$(sed -n 's/.*kApiVersion = \([0-9]*\);.*/\1/p' include/vesper/shader.h)
if [ "$(pkg-config --variable=apiversion vesperShaders)" != "$header_api" ]; then
  echo "check-install: pkg-config apiversion differs from the header's $header_api" >&2
  exit 1
fi

# Another compiler than the library's, with warnings as errors on the public header.
cxx=$(command -v clang++ || command -v c++)
flags="-Wall -Wextra -Wpedantic -Werror"

run_host() {  # name, program
  if ! "$2" $classes >"$work/$1.log" 2>&1; then
    cat "$work/$1.log"
    echo "check-install: the example host built with $1 failed" >&2
    exit 1
  fi
  echo "example host ($1): $(tail -n 1 "$work/$1.log")"
}

CXX=$cxx cmake -S examples/minimal_host -B "$work/host" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$work/host" >/dev/null
run_host find_package "$work/host/minimal_host"

# shellcheck disable=SC2046,SC2086
"$cxx" -std=c++17 $flags $(pkg-config --cflags vesperShaders) -DVESPER_PLUGIN="\"$plugin\"" \
  examples/minimal_host/main.cpp -o "$work/host-pc" -ldl
run_host pkg-config "$work/host-pc"
