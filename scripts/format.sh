#!/usr/bin/env bash
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -co --exclude-standard -- '*.h' '*.cpp' | grep -v '^build' | xargs -r clang-format -i
