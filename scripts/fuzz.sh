#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (ASan and UBSan on) and runs
# each for a bounded time, one process at a time. Inputs start from the seed
# corpus in fuzz/corpus/<target> (plus one seed per exported class for the
# targets that take a class name); a finding
# fails the run and leaves its reproducer in $BUILD_DIR/findings/<target>.
#   BUILD_DIR     build tree (default build-fuzz)
#   FUZZ_SECONDS  time per target (default 30)
#   FUZZ_TARGETS  targets to run (default: all)
#   FUZZ_MERGE=1  instead of fuzzing, minimise fuzz/corpus/<target> in place
#                 (libFuzzer -merge=1: the smallest inputs that keep the edge coverage
#                 of the committed corpus, the per-class seeds and $BUILD_DIR/corpus;
#                 parameter inputs cut to 2048 bytes, so that all committed seeds stay
#                 under 2 MB, while fuzzing still grows them to 4096 bytes)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-fuzz}
FUZZ_SECONDS=${FUZZ_SECONDS:-30}
FUZZ_TARGETS=${FUZZ_TARGETS:-"fuzz_parameters fuzz_host fuzz_exports fuzz_scene fuzz_merge fuzz_studio fuzz_plan"}
scripts/install-deps.sh
CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVESPER_FUZZ=ON -DVESPER_BUILD_TESTS=OFF -DVESPER_BUILD_TOOLS=OFF >/dev/null
# shellcheck disable=SC2086
cmake --build "$BUILD_DIR" -j2 --target $FUZZ_TARGETS
root=$(pwd)
build=$(cd "$BUILD_DIR" && pwd)
lib="$build/libvesperShaders64.so"
classes=$(nm -D --defined-only "$lib" | sed -n 's/.* T \(.*\)_create$/\1/p')
status=0
for target in $FUZZ_TARGETS; do
  work="$build/corpus/$target"
  seeds="$build/seeds/$target"
  findings="$build/findings/$target"
  mkdir -p "$work" "$seeds" "$findings" "$root/fuzz/corpus/$target"
  case $target in fuzz_parameters | fuzz_host)
    for cls in $classes; do
      { printf '%s\n' "$cls"; head -c 256 /dev/zero; } >"$seeds/$cls"
    done
    ;;
  esac
  if [ "${FUZZ_MERGE:-0}" = 1 ]; then
    merged="$build/merged/$target"
    rm -rf "$merged" && mkdir -p "$merged"
    case $target in fuzz_parameters | fuzz_host) len=2048 ;; *) len=4096 ;; esac
    "$build/fuzz/$target" -merge=1 -use_counters=0 -timeout=10 -max_len=$len "$merged" \
      "$root/fuzz/corpus/$target" "$seeds" "$work" >"$findings/merge.log" 2>&1 || {
      tail -n 30 "$findings/merge.log" >&2
      exit 1
    }
    rm -rf "$root/fuzz/corpus/$target" && cp -r "$merged" "$root/fuzz/corpus/$target"
    echo "$target: $(ls "$merged" | wc -l) inputs, $(du -sb "$merged" | cut -f1) bytes"
    continue
  fi
  echo "fuzzing $target for ${FUZZ_SECONDS}s"
  # New inputs go to the first directory, a scratch copy: the repository's
  # corpus only changes when someone adds a seed on purpose.
  if ! (cd "$findings" && "$build/fuzz/$target" -max_total_time="$FUZZ_SECONDS" -timeout=10 \
      -max_len=4096 -jobs=1 -workers=1 -print_final_stats=1 -artifact_prefix="$findings/" \
      "$work" "$root/fuzz/corpus/$target" "$seeds" >"$findings/run.log" 2>&1); then
    status=1
  fi
  if ls "$findings"/crash-* "$findings"/timeout-* "$findings"/oom-* "$findings"/leak-* \
      >/dev/null 2>&1; then
    status=1
  fi
  if [ "$status" -ne 0 ]; then
    echo "$target: finding(s) in $findings" >&2
    tail -n 60 "$findings"/fuzz-*.log >&2 || true
    break
  fi
  grep -h -E 'stat::number_of_executed_units|Done [0-9]+ runs' "$findings"/fuzz-*.log || true
done
exit $status
