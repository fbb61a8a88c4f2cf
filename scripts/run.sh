#!/usr/bin/env bash
# The main job: builds the library and describes every shader it exports.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >&2
exec "${BUILD_DIR:-build}/vesper-info" "$@"
