#!/usr/bin/env bash
# The library's test suites under AddressSanitizer with UndefinedBehaviorSanitizer
# ($BUILD_DIR-asan), and the concurrency tests under ThreadSanitizer
# ($BUILD_DIR-tsan). The renderer and benchmarks are left out of both builds to
# keep CI short. Any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=halt_on_error=1:detect_stack_use_after_return=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
options=(-DVESPER_BUILD_TOOLS=OFF -DVESPER_BUILD_RENDERER=OFF -DVESPER_BUILD_BENCH=OFF)

echo "== asan: building $BUILD_DIR-asan"
BUILD_DIR="$BUILD_DIR-asan" scripts/build.sh -DVESPER_SANITIZE=address,undefined "${options[@]}"
ctest --test-dir "$BUILD_DIR-asan" --output-on-failure -j "$(nproc)"

echo "== tsan: building $BUILD_DIR-tsan"
scripts/install-deps.sh
cmake -S . -B "$BUILD_DIR-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVESPER_SANITIZE=thread "${options[@]}" >/dev/null
cmake --build "$BUILD_DIR-tsan" --target vesper_tests
"$BUILD_DIR-tsan/tests/vesper_tests" --gtest_filter='*Concurren*' --gtest_brief=1
