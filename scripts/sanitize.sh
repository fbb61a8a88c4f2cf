#!/usr/bin/env bash
# The whole test suite in two instrumented builds: AddressSanitizer with
# UndefinedBehaviorSanitizer in $BUILD_DIR-asan, ThreadSanitizer in $BUILD_DIR-tsan.
# Any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# new_delete_type_mismatch: OpenImageIO's TextureSystem (the reference host's
# textures) frees with a size other than it allocated; the library itself
# only ever frees with the unsized delete.
export ASAN_OPTIONS=halt_on_error=1:detect_stack_use_after_return=1:new_delete_type_mismatch=0
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
for variant in "asan address,undefined" "tsan thread"; do
  set -- $variant
  dir="$BUILD_DIR-$1"
  echo "== $1: building $dir"
  BUILD_DIR="$dir" scripts/build.sh -DVESPER_SANITIZE="$2" -DVESPER_BUILD_TOOLS=OFF
  ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
done
