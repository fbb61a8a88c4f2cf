#!/usr/bin/env bash
# The main job: builds the library and vesper-render, and renders the gallery of
# every shader class the library exports to out/gallery.png (arguments go to
# vesper-render). `scripts/run.sh info [--json]` builds vesper-info instead and
# describes the classes. Only the packages and targets the job needs are
# installed and built.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
export BUILD_DIR
if [ "${1:-}" = "info" ]; then
  shift
  tool=vesper-info
  options=(-DVESPER_BUILD_TOOLS=ON)
  deps=info
else
  tool=vesper-render
  options=(-DVESPER_BUILD_RENDERER=ON)
  deps=render
fi
# A new build tree leaves out the tests and benchmarks (and the renderer, for
# info), so that configuring needs none of their packages; a tree configured
# before, by scripts/test.sh say, keeps its settings.
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  options+=(-DVESPER_BUILD_TESTS=OFF -DVESPER_BUILD_BENCH=OFF)
  if [ "$tool" = vesper-info ]; then options+=(-DVESPER_BUILD_RENDERER=OFF); fi
fi
DEPS=$deps TARGETS=$tool scripts/build.sh "${options[@]}" >&2
exec "$BUILD_DIR/$tool" "$@"
