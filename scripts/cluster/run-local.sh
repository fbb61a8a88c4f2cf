#!/usr/bin/env bash
# Runs a plan of `vesper-render plan` on this machine: every line but the last
# (the tasks, independent of each other) with up to JOBS at a time, then the
# last line (the merge) once they have all succeeded.
#   scripts/cluster/run-local.sh PLAN [JOBS]
# JOBS defaults to the number of cores; give the plan --threads 1 (or
# cores / JOBS) so that the parallel tasks do not each start a thread per core.
set -euo pipefail
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 PLAN [JOBS]" >&2
  exit 2
fi
plan=$1
jobs=${2:-$(nproc)}
if [ ! -r "$plan" ] || [ ! -s "$plan" ]; then
  echo "run-local: cannot read the plan $plan" >&2
  exit 2
fi
lines=$(wc -l <"$plan")
if [ "$lines" -gt 1 ]; then
  # xargs appends each line to `bash -c`, so a line runs as the shell command it is.
  if ! head -n $((lines - 1)) "$plan" | xargs -d '\n' -n 1 -P "$jobs" bash -c; then
    echo "run-local: a task failed; the merge was not run" >&2
    exit 1
  fi
fi
tail -n 1 "$plan" | bash
