#!/usr/bin/env bash
# Fails when a source includes a header it may not reach. Under src/, layers,
# each reaching only those before it:
#   include/vesper  <-  src/frame  <-  src/shading  <-  families
# A family is src/lights/, src/environments/ or one folder of src/materials/; it
# includes its own folder, shading/, frame/ and vesper/, never another family.
set -euo pipefail
cd "$(dirname "$0")/.."

grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' src --include='*.h' --include='*.cpp' |
  awk '
    # The layer of a path relative to src/ (an include is written that way too).
    function layer(path, parts) {
      split(path, parts, "/")
      if (parts[1] == "vesper" || parts[1] == "frame" || parts[1] == "shading") return parts[1]
      if (parts[1] == "lights" || parts[1] == "environments") return parts[1]
      if (parts[1] == "materials" && parts[3] != "") return "materials/" parts[2]
      return "unknown"
    }
    function allowed(from, to) {
      if (to == "vesper") return from != "unknown"
      if (from == "frame") return to == "frame"
      if (from == "shading") return to == "frame" || to == "shading"
      if (from == "unknown" || to == "unknown") return 0
      return to == "frame" || to == "shading" || to == from
    }
    {
      split($0, f, ":")
      file = f[1]
      header = $0
      sub(/^[^"]*"/, "", header)
      sub(/".*$/, "", header)
      from = layer(substr(file, 5))
      to = layer(header)
      if (!allowed(from, to)) {
        printf "%s:%s: %s may not include \"%s\" (%s)\n", file, f[2], from, header, to
        bad = 1
      }
    }
    END { exit bad }
  ' >&2 || {
  echo "layer check failed: see the layers at the top of scripts/check-layers.sh" >&2
  exit 1
}

# The tools and the reference host:
# - a tool's front end (tools/<tool>/) is included by nothing outside it;
# - host/ includes nothing from tools/;
# - the files of host/reference include each other without a loop, a header and
#   its source counting as one (tsort names the loop).
includes() {
  git ls-files -co --exclude-standard -- "$@" | grep -E '\.(h|cpp)$' | grep -v '^build' |
    xargs -r grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' || true
}
bad=0
tool_includes=$(includes . | awk -F: '{
    header = $0; sub(/^[^"]*"/, "", header); sub(/".*$/, "", header)
    if (header !~ /^tools\//) next
    split(header, h, "/"); tool = "tools/" h[2] "/"
    if (h[3] == "" || index($1, tool) != 1) print $1 ":" $2 ": includes " header ", a header of that tool alone"
  }')
if [ -n "$tool_includes" ]; then echo "$tool_includes" >&2; bad=1; fi
host_includes=$(includes host | awk -F: '{
    header = $0; sub(/^[^"]*"/, "", header); sub(/".*$/, "", header)
    if (header ~ /^tools\//) print $1 ":" $2 ": host/ includes " header " from tools/"
  }')
if [ -n "$host_includes" ]; then echo "$host_includes" >&2; bad=1; fi
loop=$(includes host/reference | awk -F: '{
    header = $0; sub(/^[^"]*"/, "", header); sub(/".*$/, "", header)
    if (header !~ /^host\/reference\//) next
    from = $1; sub(/\.(h|cpp)$/, "", from); to = header; sub(/\.h$/, "", to)
    print from, to
  }' | tsort 2>&1 >/dev/null || true)
if [ -n "$loop" ]; then
  echo "host/reference includes in a loop:" >&2
  echo "$loop" | sed -n 's/^tsort: //p' | grep -v 'input contains a loop' | awk '!seen[$0]++' >&2
  bad=1
fi
if [ "$bad" != 0 ]; then
  echo "layer check failed: see the rules at the top of scripts/check-layers.sh" >&2
  exit 1
fi
echo "layers ok"
