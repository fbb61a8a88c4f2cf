#!/usr/bin/env bash
# Starts vesper-studio on a free port, runs the browser tests against it and
# stops the server again, whatever the outcome. STUDIO_SCREENSHOTS=DIR also
# saves the screenshots of docs/studio.md there (STUDIO_SCREENSHOTS=docs).
set -euo pipefail
if [ -n "${STUDIO_SCREENSHOTS:-}" ]; then
  STUDIO_SCREENSHOTS=$(realpath -m "$STUDIO_SCREENSHOTS")
  export STUDIO_SCREENSHOTS
fi
cd "$(dirname "$0")"
BUILD=$(cd "../../${BUILD_DIR:-build}" && pwd)
[ -d node_modules/playwright-core ] || npm ci --no-audit --no-fund
log=$(mktemp)
"$BUILD/vesper-studio" --port 0 --assets "$BUILD/studio-assets" >"$log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; rm -f "$log"' EXIT
url=""
for _ in $(seq 1 300); do
  url=$(sed -n 's/.*open \(http:[^ ]*\).*/\1/p' "$log")
  [ -n "$url" ] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$url" ]; then
  echo "browser test: vesper-studio did not start" >&2
  cat "$log" >&2
  exit 1
fi
STUDIO_URL=$url VESPER_RENDER="$BUILD/vesper-render" node --test --test-concurrency=1 studio.test.mjs
