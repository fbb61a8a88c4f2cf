#!/usr/bin/env bash
# The main job: builds the library and vesper-render, and renders the gallery of
# every shader class the library exports to out/gallery.png (arguments go to
# vesper-render). `scripts/run.sh info [--json]` builds vesper-info instead and
# describes the classes; `scripts/run.sh studio [options]` builds and starts
# vesper-studio, which prints its URL. Only the packages and targets the job needs
# are installed and built.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
export BUILD_DIR
case "${1:-}" in
  info)
    shift
    tool=vesper-info
    options=(-DVESPER_BUILD_TOOLS=ON)
    deps=info
    ;;
  studio)
    shift
    tool=vesper-studio
    options=(-DVESPER_BUILD_RENDERER=ON -DVESPER_BUILD_TOOLS=ON -DVESPER_BUILD_STUDIO=ON)
    deps=studio
    ;;
  *)
    tool=vesper-render
    options=(-DVESPER_BUILD_RENDERER=ON)
    deps=render
    ;;
esac
# Each profile states the options its tool needs, whatever an earlier command left
# in the build tree. A new tree also leaves out the tests and benchmarks (and what
# the job does not run), so that configuring needs none of their packages; a tree
# configured before, by scripts/test.sh say, keeps its other settings.
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  options+=(-DVESPER_BUILD_TESTS=OFF -DVESPER_BUILD_BENCH=OFF)
  case "$tool" in
    vesper-info) options+=(-DVESPER_BUILD_RENDERER=OFF -DVESPER_BUILD_STUDIO=OFF) ;;
    vesper-render) options+=(-DVESPER_BUILD_STUDIO=OFF) ;;
  esac
fi
DEPS=$deps TARGETS=$tool scripts/build.sh "${options[@]}" >&2
exec "$BUILD_DIR/$tool" "$@"
