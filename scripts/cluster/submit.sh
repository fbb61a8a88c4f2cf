#!/usr/bin/env bash
# Submits a plan of `vesper-render plan` to Slurm: the tasks its header declares
# as a job array, and the merge as a job that starts when every task has
# succeeded (afterok) and is cancelled if one fails. A plan whose lines do not
# match its header is refused before anything is submitted
# (scripts/cluster/plan-tasks.sh).
#   scripts/cluster/submit.sh [--throttle N] [--logs DIR] PLAN [-- SBATCH_OPTION...]
# --throttle N runs at most N tasks at once (--array=...%N); --logs sets where
# the jobs' output goes (default: logs/ beside the plan). Options after -- go to
# every sbatch (resources per task: --cpus-per-task, --mem, --partition, ...).
# Plans longer than the cluster's MaxArraySize are submitted as several arrays.
# Prints the merge job's id on stdout.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
usage() {
  echo "submit: $1" >&2
  echo "usage: $0 [--throttle N] [--logs DIR] PLAN [-- SBATCH_OPTION...]" >&2
  exit 2
}
throttle="" logs=""
while [ $# -gt 0 ]; do
  case "$1" in
    --throttle)
      [[ ${2:-} =~ ^[1-9][0-9]{0,5}$ ]] ||
        usage "--throttle expects a whole number from 1 to 999999, not \"${2:-}\"; nothing was submitted"
      throttle="%$2"
      shift 2
      ;;
    --logs)
      [ -n "${2:-}" ] || usage "--logs needs a directory; nothing was submitted"
      logs=$2
      shift 2
      ;;
    --) break ;;
    -*) usage "unknown option $1; nothing was submitted" ;;
    *) break ;;
  esac
done
if [ $# -lt 1 ] || [ "$1" = -- ]; then usage "no plan given; nothing was submitted"; fi
if ! tasks=$("$here/plan-tasks.sh" "$1"); then
  echo "submit: the plan was refused; nothing was submitted" >&2
  exit 2
fi
plan=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift
[ "${1:-}" = -- ] && shift
logs=${logs:-$(dirname "$plan")/logs}
mkdir -p "$logs"
max=$(scontrol show config | awk '$1 == "MaxArraySize" { print $3 }')
chunk=$((${max:-1001} - 1))
ids=()
for ((offset = 0; offset < tasks; offset += chunk)); do
  n=$((tasks - offset < chunk ? tasks - offset : chunk))
  ids+=("$(sbatch --parsable --array="1-$n$throttle" --output="$logs/%x-%A_%a.out" "$@" \
    "$here/vesper-task.sbatch" "$plan" "$tasks" "$offset")")
  echo "submit: tasks $((offset + 1))-$((offset + n)) as array job ${ids[-1]}" >&2
done
merge=$(sbatch --parsable --dependency="afterok$(printf ':%s' "${ids[@]%%;*}")" \
  --kill-on-invalid-dep=yes --job-name=vesper-merge --output="$logs/%x-%j.out" "$@" \
  "$here/vesper-task.sbatch" "$plan" "$tasks" merge)
echo "submit: merge as job $merge" >&2
echo "${merge%%;*}"
