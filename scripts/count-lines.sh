#!/usr/bin/env bash
# Physical lines of code, split into test code and the rest.
#   scripts/count-lines.sh [-v] [DIR]      (DIR defaults to the repository)
# Prints "test_lines other_lines ratio"; -v first prints a table per directory.
#
# Code: C++ (.cpp .cc .h .hpp), Python, shell, JavaScript/TypeScript (.js .mjs .ts
# .tsx), CMake (CMakeLists.txt, .cmake). Not code: everything else (golden files,
# scenes, images, JSON), and the directories .git, node_modules, corpus, out, docs,
# third_party, vendor and build*.
# Test code: anything under a directory named tests, testkit or test; files named
# *_test.*, *.test.*, *.spec.* or test_*. The rest is other code (host/ included:
# its recording registry serves vesper-info and vesper-studio too).
# A last line without a newline counts as a line.
set -euo pipefail
verbose=0
if [ "${1:-}" = -v ]; then
  verbose=1
  shift
fi
root=${1:-"$(dirname "$0")/.."}
cd "$root"

find . -mindepth 1 \
  \( -type d \( -name .git -o -name node_modules -o -name corpus -o -name out -o -name docs \
  -o -name third_party -o -name vendor -o -name 'build*' \) -prune \) -o \
  -type f \( -name '*.cpp' -o -name '*.cc' -o -name '*.h' -o -name '*.hpp' -o -name '*.py' \
  -o -name '*.sh' -o -name '*.js' -o -name '*.mjs' -o -name '*.ts' -o -name '*.tsx' \
  -o -name '*.cmake' -o -name CMakeLists.txt \) -print0 |
  xargs -0 -r awk '{ n[FILENAME]++ } END { for (f in n) print n[f] "\t" f }' |
  awk -F'\t' -v verbose="$verbose" '
    {
      path = substr($2, 3)            # without "./"
      k = split(path, part, "/")
      name = part[k]
      test = name ~ /(_test\.|\.test\.|\.spec\.|^test_)/
      for (i = 1; i < k; i++)
        if (part[i] == "tests" || part[i] == "testkit" || part[i] == "test") test = 1
      dir = k == 1 ? "." : (k == 2 ? part[1] : part[1] "/" part[2])
      if (test) { t += $1; dt[dir] += $1 } else { o += $1; do_[dir] += $1 }
      dirs[dir] = 1
    }
    END {
      if (verbose) {
        printf "%-32s %8s %8s\n", "directory", "test", "other"
        m = 0
        for (d in dirs) list[++m] = d
        for (i = 2; i <= m; i++)          # insertion sort: portable awk has no asort
          for (j = i; j > 1 && list[j - 1] > list[j]; j--) {
            s = list[j]; list[j] = list[j - 1]; list[j - 1] = s
          }
        for (i = 1; i <= m; i++) printf "%-32s %8d %8d\n", list[i], dt[list[i]], do_[list[i]]
        printf "%-32s %8d %8d\n\n", "total", t, o
      }
      printf "%d %d %.2f\n", t, o, o ? t / o : 0
    }'
