#!/usr/bin/env bash
# Fails when a C++ file differs from what clang-format makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files -co --exclude-standard -- '*.h' '*.cpp' | grep -v '^build')
[ -n "$files" ] || exit 0
if ! clang-format --dry-run --Werror $files; then
  echo "formatting differs: run scripts/format.sh" >&2
  exit 1
fi
echo "format ok"
