#!/usr/bin/env bash
# The main job: builds the library and renders the gallery of every shader class it
# exports to out/gallery.png (arguments go to vesper-render).
# `scripts/run.sh info [--json]` describes the classes with vesper-info instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >&2
BUILD_DIR=${BUILD_DIR:-build}
if [ "${1:-}" = "info" ]; then
  shift
  exec "$BUILD_DIR/vesper-info" "$@"
fi
exec "$BUILD_DIR/vesper-render" "$@"
