#!/usr/bin/env bash
# Submits a plan of `vesper-render plan` to Slurm: the tasks (every line but the
# last) as a job array, and the merge (the last line) as a job that starts when
# every task has succeeded (afterok) and is cancelled if one fails.
#   scripts/cluster/submit.sh [--throttle N] [--logs DIR] PLAN [-- SBATCH_OPTION...]
# --throttle N runs at most N tasks at once (--array=...%N); --logs sets where
# the jobs' output goes (default: logs/ beside the plan). Options after -- go to
# every sbatch (resources per task: --cpus-per-task, --mem, --partition, ...).
# Plans longer than the cluster's MaxArraySize are submitted as several arrays.
# Prints the merge job's id on stdout.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
throttle="" logs=""
while [ $# -gt 0 ]; do
  case "$1" in
    --throttle) throttle="%$2"; shift 2 ;;
    --logs) logs=$2; shift 2 ;;
    --) break ;;
    -*) echo "submit: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
if [ $# -lt 1 ] || [ ! -s "$1" ]; then
  echo "usage: $0 [--throttle N] [--logs DIR] PLAN [-- SBATCH_OPTION...]" >&2
  exit 2
fi
plan=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift
[ "${1:-}" = -- ] && shift
logs=${logs:-$(dirname "$plan")/logs}
mkdir -p "$logs"
tasks=$(($(wc -l <"$plan") - 1))
max=$(scontrol show config | awk '$1 == "MaxArraySize" { print $3 }')
chunk=$((${max:-1001} - 1))
ids=()
for ((offset = 0; offset < tasks; offset += chunk)); do
  n=$((tasks - offset < chunk ? tasks - offset : chunk))
  ids+=("$(sbatch --parsable --array="1-$n$throttle" --output="$logs/%x-%A_%a.out" "$@" \
    "$here/vesper-task.sbatch" "$plan" "$offset")")
  echo "submit: tasks $((offset + 1))-$((offset + n)) as array job ${ids[-1]}" >&2
done
dependency=""
if [ ${#ids[@]} -gt 0 ]; then
  dependency="--dependency=afterok$(printf ':%s' "${ids[@]%%;*}")"
fi
merge=$(sbatch --parsable $dependency --kill-on-invalid-dep=yes --job-name=vesper-merge \
  --output="$logs/%x-%j.out" "$@" "$here/vesper-task.sbatch" "$plan" merge)
echo "submit: merge as job $merge" >&2
echo "${merge%%;*}"
