#!/usr/bin/env bash
# Runs a plan of `vesper-render plan` on this machine: the tasks its header
# declares (independent of each other) with up to JOBS at a time, then the
# merge once they have all succeeded. A plan whose lines do not match its header
# is refused before anything runs (scripts/cluster/plan-tasks.sh).
#   scripts/cluster/run-local.sh PLAN [JOBS]
# JOBS defaults to the number of cores; give the plan --threads 1 (or
# cores / JOBS) so that the parallel tasks do not each start a thread per core.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 PLAN [JOBS]" >&2
  exit 2
fi
plan=$1
jobs=${2:-$(nproc)}
if ! [[ $jobs =~ ^[1-9][0-9]{0,5}$ ]]; then
  echo "run-local: JOBS must be a whole number from 1 to 999999, not \"$jobs\"; nothing was run" >&2
  exit 2
fi
if ! tasks=$("$here/plan-tasks.sh" "$plan"); then
  echo "run-local: the plan was refused; nothing was run" >&2
  exit 2
fi
# xargs gives each line to `bash -c` whole, so a line runs as the command it is.
if ! sed -n "2,$((tasks + 1))p" "$plan" | xargs -d '\n' -n 1 -P "$jobs" bash -c; then
  echo "run-local: a task failed; the merge was not run" >&2
  exit 1
fi
bash -c "$(sed -n "$((tasks + 2))p" "$plan")"
