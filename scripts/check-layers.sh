#!/usr/bin/env bash
# Fails when a source under src/ includes a header of a layer it may not reach.
# Layers, each reaching only those before it:
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
echo "layers ok"
