#!/usr/bin/env bash
# Configures and builds into build/ (override with BUILD_DIR).
#   scripts/build.sh [CMAKE_OPTION...]
# DEPS names the scripts/install-deps.sh profile (default all); TARGETS the
# targets to build (default: everything the configuration has).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
scripts/install-deps.sh "${DEPS:-all}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
# shellcheck disable=SC2086
cmake --build "$BUILD_DIR" ${TARGETS:+--target $TARGETS}
