#!/usr/bin/env bash
# The main job: builds the library and renders the gallery of every shader class it
# exports to out/gallery.png (arguments go to vesper-render).
# `scripts/run.sh info [--json]` describes the classes with vesper-info instead;
# `scripts/run.sh studio [options]` builds and starts vesper-studio, which prints its URL.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
if [ "${1:-}" = "studio" ]; then
  shift
  scripts/install-deps.sh >&2
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
  cmake --build "$BUILD_DIR" --target vesper-studio >&2
  exec "$BUILD_DIR/vesper-studio" "$@"
fi
scripts/build.sh >&2
if [ "${1:-}" = "info" ]; then
  shift
  exec "$BUILD_DIR/vesper-info" "$@"
fi
exec "$BUILD_DIR/vesper-render" "$@"
