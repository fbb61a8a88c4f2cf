#!/usr/bin/env bash
# The task list of `vesper-render plan` run two ways. On one machine
# (scripts/cluster/run-local.sh): a 4-value wedge of wedge.json in 2 tiles a
# frame, whose merged frames equal one-process renders byte for byte, with the
# contact sheet. On a one-node Slurm cluster started here (munged, slurmctld,
# slurmd on free ports, everything in a temporary directory that goes with the
# daemons on exit): still.json in 4 tiles as a job array plus the afterok merge
# job, whose frame equals the one-process render. Without the Slurm packages
# that half is skipped (exit 77) with a notice.
# Both runners also get a real plan with a line more than its header declares,
# as a line break in a name would make it: "touch pwned" on a line of its own.
# Each refuses it, and nothing runs.
#   tests/cluster/cluster_test.sh VESPER_RENDER
set -euo pipefail
render=$1
here=$(cd "$(dirname "$0")" && pwd)
scripts=$here/../../scripts/cluster
tmp=$(mktemp -d /tmp/vesper-cluster.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# EXR files equal but for the capture date OpenEXR stamps in the header.
same_exr() {
  python3 - "$1" "$2" <<'PY'
import re, sys
strip = lambda p: re.sub(rb"capDate\0string\0....[0-9: ]{19}", b"", open(p, "rb").read())
sys.exit(strip(sys.argv[1]) != strip(sys.argv[2]))
PY
}

# The injected plan; after a refusal, neither the touch nor a task has run.
"$render" plan --scene "$here/still.json" --tiles 2 --out-dir "$tmp/injected" |
  awk -v touch="touch $tmp/pwned" 'NR == 3 { print touch } { print }' >"$tmp/injected.plan"
untouched() {
  if [ -e "$tmp/pwned" ] || [ -e "$tmp/injected" ]; then fail "$1 ran a task of a refused plan"; fi
}

# ---- one machine: the wedge ----
"$scripts/run-local.sh" "$tmp/injected.plan" 1 >"$tmp/out" 2>&1 && fail "run-local ran the injected plan"
grep -q "the header declares 2 tasks and the merge, 4 lines in all, but the plan has 5" "$tmp/out" ||
  fail "run-local refused the injected plan with: $(cat "$tmp/out")"
untouched run-local
"$render" plan --scene "$here/wedge.json" --tiles 2 --threads 1 --out-dir "$tmp/wedge" >"$tmp/wedge.plan"
[ "$(wc -l <"$tmp/wedge.plan")" = 10 ] || fail "the wedge plan is not a header, 8 tasks and a merge"
"$scripts/run-local.sh" "$tmp/wedge.plan" 2 >"$tmp/local.log" 2>&1 || { cat "$tmp/local.log"; fail "run-local"; }
for f in 0 3; do
  "$render" --scene "$here/wedge.json" --frame $f --out "$tmp/one$f.png" >/dev/null 2>&1
  cmp "$tmp/one$f.png" "$tmp/wedge/wedge_f000$f.png" || fail "merged wedge frame $f differs"
done
grep -q '"wedgeValue": "0.6"' "$tmp/wedge/wedge_f0003.png.json" || fail "frame 3 lacks its wedge value"
# 2 x 2 cells of 160 x 100 with 16-pixel labels and 4-pixel gaps.
size=$(od -An -tu1 -j16 -N8 "$tmp/wedge/wedge_sheet.png" | awk '{print $3*256+$4, $7*256+$8}')
[ "$size" = "332 244" ] || fail "the contact sheet is $size, not 332 x 244"

# ---- Slurm ----
for tool in munged slurmctld slurmd sbatch scontrol sinfo; do
  if ! command -v $tool >/dev/null; then
    echo "######## SKIPPED: $tool is missing: the Slurm job array was NOT tested." >&2
    echo "######## scripts/install-deps.sh installs slurmctld, slurmd, slurm-client and munge." >&2
    exit 77
  fi
done
if [ "$(id -u)" != 0 ]; then
  echo "######## SKIPPED: slurmd must run as root: the Slurm job array was NOT tested." >&2
  exit 77
fi
mkdir -p "$tmp/slurm"/{munge,state,spool,log}
s=$tmp/slurm
head -c 1024 /dev/urandom >"$s/munge/key"
chmod 600 "$s/munge/key"
munged -F -f --key-file="$s/munge/key" --socket="$s/munge/sock" --log-file="$s/munge/log" \
  --pid-file="$s/munge/pid" --seed-file="$s/munge/seed" >"$s/log/munged.out" 2>&1 &
pids+=($!)
read -r ctld_port d_port < <(python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("", 0))
print(*[x.getsockname()[1] for x in s])')
host=$(hostname -s)
cat >"$s/slurm.conf" <<CONF
ClusterName=vesper-test
SlurmctldHost=$host
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$s/munge/sock
CredType=cred/munge
StateSaveLocation=$s/state
SlurmdSpoolDir=$s/spool
SlurmctldPidFile=$s/slurmctld.pid
SlurmdPidFile=$s/slurmd.pid
SlurmctldLogFile=$s/log/slurmctld.log
SlurmdLogFile=$s/log/slurmd.log
SlurmctldPort=$ctld_port
SlurmdPort=$d_port
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/backfill
ReturnToService=2
MpiDefault=none
NodeName=$host CPUs=$(nproc) State=UNKNOWN
PartitionName=local Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$s/slurm.conf
for i in $(seq 50); do [ -S "$s/munge/sock" ] && break; sleep 0.2; done
slurmctld -D -i -f "$SLURM_CONF" >"$s/log/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D -f "$SLURM_CONF" >"$s/log/slurmd.out" 2>&1 &
pids+=($!)
logs() { tail -n 20 "$s"/log/* "$tmp"/logs/* 2>/dev/null || true; }
for i in $(seq 120); do
  [ "$(sinfo -h -o %T 2>/dev/null)" = idle ] && break
  [ "$i" = 120 ] && { logs; fail "the node did not come up"; }
  sleep 0.5
done

"$render" plan --scene "$here/still.json" --tiles 4 --format exr --out-dir "$tmp/still" >"$tmp/still.plan"
[ "$(wc -l <"$tmp/still.plan")" = 6 ] || fail "the still plan is not a header, 4 tasks and a merge"
merge=$("$scripts/submit.sh" --logs "$tmp/logs" "$tmp/still.plan" -- --cpus-per-task=1)
for i in $(seq 600); do
  state=$(scontrol show job "$merge" 2>/dev/null | grep -o 'JobState=[A-Z_]*' || true)
  case "$state" in
    JobState=COMPLETED) break ;;
    JobState=PENDING | JobState=RUNNING | JobState=CONFIGURING | JobState=COMPLETING | "") ;;
    *) logs; fail "the merge job ended $state" ;;
  esac
  [ "$i" = 600 ] && { logs; fail "the merge job did not finish in 5 minutes"; }
  sleep 0.5
done
"$render" --scene "$here/still.json" --out "$tmp/one.exr" >/dev/null 2>&1
same_exr "$tmp/one.exr" "$tmp/still/still.exr" || fail "the Slurm merge differs from the one-process render"

# submit.sh refuses the injected plan before queueing anything; a task job
# given it as the plan of 2 tasks it declares (as submit.sh would pass it)
# refuses it too.
"$scripts/submit.sh" --logs "$tmp/logs" "$tmp/injected.plan" >"$tmp/out" 2>&1 && fail "submit took the injected plan"
grep -q "submit: the plan was refused; nothing was submitted" "$tmp/out" ||
  fail "submit refused the injected plan with: $(cat "$tmp/out")"
[ -z "$(squeue -h -o %i)" ] || fail "submit queued a job of the injected plan"
sbatch --wait --array=1-1 --output="$tmp/logs/injected.out" "$scripts/vesper-task.sbatch" \
  "$tmp/injected.plan" 2 0 >/dev/null 2>&1 && fail "a task job ran the injected plan"
grep -q "is not the plan of 2 tasks and a merge it was submitted as; nothing was run" \
  "$tmp/logs/injected.out" || { logs; fail "the task job's refusal is not in its log"; }
untouched "a Slurm task job"
echo "local wedge and Slurm job array: frames identical to one-process renders; both runners refused the injected plan"
