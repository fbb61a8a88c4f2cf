#!/usr/bin/env bash
# The installed package, as a host developer uses it: installs the Linux build into
# a scratch prefix, moves the tree (the package must not depend on where it was
# installed), checks that the documents, vesper-info and the example host's source
# are there and that the Python module (when built) imports from the path pkg-config
# gives and loads the plug-in installed with it, builds that installed example out
# of tree with strict warnings as errors, once through find_package(vesperShaders
# CONFIG) with clang and once through pkg-config with GCC, and runs both on every
# class the library exports.
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

docdir=$(pkg-config --variable=docdir vesperShaders)
example=$docdir/examples/minimal_host
for f in "$docdir/README.md" "$docdir/docs/host-integration.md" "$docdir/docs/shader-reference.md" \
  "$example/main.cpp" "$example/CMakeLists.txt"; do
  [ -f "$f" ] || { echo "check-install: ${f#"$prefix"/} is not installed" >&2; exit 1; }
done
info_classes=$("$(pkg-config --variable=bindir vesperShaders)/vesper-info" --json |
  python3 -c 'import json, sys; print(len(json.load(sys.stdin)["classes"]))')
if [ "$info_classes" != "$(echo "$classes" | wc -w)" ]; then
  echo "check-install: the installed vesper-info lists $info_classes classes" >&2
  exit 1
fi

pythonpath=$(pkg-config --variable=pythonpath vesperShaders)
if [ -n "$pythonpath" ]; then
  python=$(sed -n 's/^Python3_EXECUTABLE:[A-Z]*=//p' "$BUILD_DIR/CMakeCache.txt")
  loaded=$(cd "$work" && PYTHONPATH=$pythonpath "${python:-python3}" -c \
    'import vesper; print(vesper.Library().path)')
  if [ "$(realpath "$loaded")" != "$(realpath "$plugin")" ]; then
    echo "check-install: the installed module loads $loaded, not $plugin" >&2
    exit 1
  fi
  echo "python module: $pythonpath"
fi

header_api=$(sed -n 's/.*kApiVersion = \([0-9]*\);.*/\1/p' include/vesper/shader.h)
if [ "$(pkg-config --variable=apiversion vesperShaders)" != "$header_api" ]; then
  echo "check-install: pkg-config apiversion differs from the header's $header_api" >&2
  exit 1
fi

# What a careful host project turns on, as errors: the public header and the
# example must pass them with both compilers.
flags="-Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Wshadow -Wconversion -Werror"

run_host() {  # name, program
  if ! "$2" $classes >"$work/$1.log" 2>&1; then
    cat "$work/$1.log"
    echo "check-install: the example host built with $1 failed" >&2
    exit 1
  fi
  echo "example host ($1): $(tail -n 1 "$work/$1.log")"
}

CXX=clang++ cmake -S "$example" -B "$work/host" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$work/host" >/dev/null
run_host find_package "$work/host/minimal_host"

# shellcheck disable=SC2046,SC2086
g++ -std=c++17 $flags $(pkg-config --cflags vesperShaders) -DVESPER_PLUGIN="\"$plugin\"" \
  "$example/main.cpp" -o "$work/host-pc" -ldl
run_host pkg-config "$work/host-pc"
