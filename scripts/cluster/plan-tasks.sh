#!/usr/bin/env bash
# Prints the number of tasks a plan of `vesper-render plan` declares, once it has
# checked that the plan holds exactly those and the merge: the header line
# "# vesper-render plan: N tasks, then the merge", N task lines, the merge line,
# none empty, the last ending in a newline. Anything else is refused (status 2,
# naming the plan and what is wrong), so that a runner executes exactly the
# tasks the plan declares and never a line that a name broke off.
#   scripts/cluster/plan-tasks.sh PLAN
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 PLAN" >&2
  exit 2
fi
plan=$1
refuse() {
  echo "$plan: $*" >&2
  exit 2
}
if [ ! -f "$plan" ] || [ ! -r "$plan" ]; then refuse "cannot read the plan"; fi
[ -s "$plan" ] || refuse "the plan is empty"
[ -z "$(tail -c 1 "$plan")" ] || refuse "the last line does not end with a newline"
result=$(awk '
  function refuse(why) {
    print why
    bad = 1
    exit
  }
  NR == 1 {
    tasks = $4
    if (tasks !~ /^[1-9][0-9]*$/ || length(tasks) > 7 ||
        $0 != "# vesper-render plan: " tasks " tasks, then the merge") {
      refuse("line 1 is not the header of a plan (\"# vesper-render plan: N tasks, then the merge\")")
    }
    next
  }
  $0 == "" { refuse("line " NR " is empty") }
  END {
    if (bad) exit
    if (NR != tasks + 2) {
      refuse("the header declares " tasks " tasks and the merge, " tasks + 2 " lines in all, " \
        "but the plan has " NR)
    }
    print "tasks " tasks
  }' "$plan")
case $result in
  "tasks "*) echo "${result#tasks }" ;;
  *) refuse "$result" ;;
esac
