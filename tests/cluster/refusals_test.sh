#!/usr/bin/env bash
# What vesper-merge, vesper-render --region, plans and their runners refuse,
# one row per case: expected exit status, a fragment of the message, the
# command; a refusal prints nothing on stdout. Tiles of tests/cluster/still.json,
# some rendered with other settings, stand in for a cluster's output; a refused
# merge must write nothing, a refused plan or runner neither write nor run.
#   tests/cluster/refusals_test.sh VESPER_RENDER VESPER_MERGE
set -uo pipefail
render=$1 merge=$2
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d /tmp/vesper-refusals.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
failures=0

# STATUS FRAGMENT COMMAND...
check() {
  local want=$1 fragment=$2 out err got
  shift 2
  out=$("$@" 2>"$tmp/stderr")
  got=$?
  err=$(<"$tmp/stderr")
  if [ "$got" != "$want" ] || [[ "$err$out" != *"$fragment"* ]] ||
    { [ "$want" != 0 ] && [ -n "$out" ]; }; then
    echo "FAIL: $*" >&2
    echo "  wanted status $want and \"$fragment\"; got status $got: $err$out" >&2
    failures=$((failures + 1))
  fi
}

# RESULT REGION [OPTION...]: a tile of still.json.
tile() {
  local out=$1 region=$2
  shift 2
  "$render" --scene "$here/still.json" --threads 1 --region "$region" --out "$tmp/$out" "$@" \
    >/dev/null 2>&1 || { echo "FAIL: cannot render $out" >&2; exit 1; }
}
tile t0.exr 0,0,32,20
tile t1.exr 32,0,64,20
tile t2.exr 0,20,32,40
tile t3.exr 32,20,64,40
tile spp.exr 32,20,64,40 --spp 2
tile seed.exr 32,20,64,40 --seed 9
tile wide.exr 32,20,64,40 --width 66
tile direct.exr 32,20,64,40 --mode direct
tile edge.exr 30,20,64,40
tile t3.png 32,20,64,40
cp "$tmp/t3.png" "$tmp/bare.png"
t="$tmp/t0.exr $tmp/t1.exr $tmp/t2.exr"
out=$tmp/frame.exr

# shellcheck disable=SC2086  # $t is the list of the first three tiles
{
  check 0 "" "$merge" --out "$out" $t "$tmp/t3.exr"
  check 0 "" "$merge" --out "$tmp/frame.png" $t "$tmp/t3.png"
  rm -f "$out"
  check 1 "$tmp/gone.exr: missing" "$merge" --out "$out" $t "$tmp/gone.exr"
  check 1 "no tile covers pixel (32, 20): a tile is missing" "$merge" --out "$out" $t
  check 1 "edge.exr: its region [30, 20, 64, 40) overlaps" "$merge" --out "$out" $t "$tmp/edge.exr"
  check 1 "spp.exr: samples per pixel 2, but" "$merge" --out "$out" $t "$tmp/spp.exr"
  check 1 "seed.exr: seed 9, but" "$merge" --out "$out" $t "$tmp/seed.exr"
  check 1 "wide.exr: tile of a 66 x 40 frame, but" "$merge" --out "$out" $t "$tmp/wide.exr"
  check 1 "direct.exr: scene hash" "$merge" --out "$out" $t "$tmp/direct.exr"
  check 1 "bare.png: its sidecar $tmp/bare.png.json is missing" "$merge" --out "$out" $t "$tmp/bare.png"
  check 2 "has no tiles" "$merge" --out "$out"
  check 2 "needs one %d for the frame" "$merge" --frames 2 --tiles 2 --out "$out" --tile "t%02d.exr"
  check 2 "--frames 100000 x --tiles 65536 makes 6553600000 tiles; a merge reads at most 1000000" \
    "$merge" --frames 100000 --tiles 65536 --out "$tmp/f%d.exr" --tile "$tmp/t%d_%d.exr"
  # A file that is no image, however large, is refused by its first bytes.
  echo hello >"$tmp/text.exr"
  truncate -s 1G "$tmp/zeros.exr"
  check 1 "text.exr: not an image file" "$merge" --out "$out" $t "$tmp/text.exr"
  check 1 "zeros.exr: not an image file" "$merge" --out "$out" $t "$tmp/zeros.exr"
  # A window near 2^31 would wrap in an int and place the tile far outside the frame.
  cp "$tmp/t3.png" "$tmp/far.png"
  tr -d ' \n' <"$tmp/t3.png.json" |
    sed 's/"dataWindow":\[[^]]*\]/"dataWindow":[2147483616,20,-2147483616,40]/' >"$tmp/far.png.json"
  check 1 "far.png.json: \"dataWindow\"[0] is 2147483616, not a whole number from 0 to 16384" \
    "$merge" --out "$out" $t "$tmp/far.png"
  # An input is never overwritten, by its own name or another one.
  cp "$tmp/t0.exr" "$tmp/t0.keep"
  ln "$tmp/t0.exr" "$tmp/hard.exr"
  check 2 "--out $tmp/t0.exr would overwrite its input $tmp/t0.exr" "$merge" --out "$tmp/t0.exr" $t "$tmp/t3.exr"
  check 2 "--out $tmp/hard.exr would overwrite its input $tmp/t0.exr" "$merge" --out "$tmp/hard.exr" $t "$tmp/t3.exr"
  check 2 "--out $tmp/./t0.exr would overwrite its input $tmp/t0.exr" "$merge" --out "$tmp/./t0.exr" $t "$tmp/t3.exr"
  check 2 "--sheet $out would overwrite its input $out" "$merge" --sheet "$out" "$out"
  check 2 "--out $out writes the file of --out $out again" "$merge" --out "$out" $t "$tmp/t3.exr" --out "$out" $t "$tmp/t3.exr"
  cmp -s "$tmp/t0.exr" "$tmp/t0.keep" || { echo "FAIL: a refused merge overwrote t0.exr" >&2; failures=$((failures + 1)); }
}
[ -e "$out" ] && { echo "FAIL: a refused merge wrote $out" >&2; failures=$((failures + 1)); }

s=$here/still.json
check 1 "region 0,0,65,40 lies outside the 64 x 40 image" "$render" --scene "$s" --region 0,0,65,40
check 1 "region -1,0,8,8 lies outside" "$render" --scene "$s" --region -1,0,8,8
check 2 "region 5,5,5,9 is empty" "$render" --scene "$s" --region 5,5,5,9
check 2 "region 0,0,0,0 is empty" "$render" --scene "$s" --region 0,0,0,0
check 2 "region 9,0,3,8 is reversed" "$render" --scene "$s" --region 9,0,3,8
check 2 "--region expects X0,Y0,X1,Y1" "$render" --scene "$s" --region 1,2,3
check 2 "--region is not an option of plan" "$render" plan --scene "$s" --region 0,0,8,8

# Frames: the orbit's second frame (0 degrees) sees the scene from still.json's camera.
tt=$here/turntable.json
check 1 "has 4 frame(s), numbered from 0; there is no frame 4" "$render" --scene "$tt" --frame 4
check 0 "" "$render" --scene "$tt" --frame 1 --out "$tmp/orbit1.png"
check 0 "" "$render" --scene "$s" --out "$tmp/still.png"
cmp -s "$tmp/orbit1.png" "$tmp/still.png" || { echo "FAIL: orbit frame 1 != still" >&2; failures=$((failures + 1)); }
echo '{"objects": [], "wedge": {"object": "ball", "parameter": "p", "values": [1]}}' >"$tmp/w1.json"
echo '{"wedge": {"object": "b", "parameter": "p", "values": [1, "x"]}}' >"$tmp/w2.json"
check 1 "wedge: no object named \"ball\"" "$render" --scene "$tmp/w1.json"
check 1 "\"values\"[1] \"x\" is not of the kind of \"values\"[0] 1" "$render" --scene "$tmp/w2.json"

# ---- plans and runners ----
# A name that breaks a line would make a second task of what follows it.
nl=$'\n'
cp "$s" "$tmp/a${nl}touch pwned${nl}.json"
mkdir "$tmp/lib${nl}touch pwned"
cp "$(dirname "$render")/libvesperShaders64.so" "$tmp/lib${nl}touch pwned/"
o=$tmp/o
# OPTION VALUE MESSAGE: a plan refuses VALUE with MESSAGE.
refused() {
  check 1 "$1 \"$3: a plan cannot carry control characters" "$render" plan --scene "$s" "$1" "$2"
}
refused --out-dir "$o${nl}touch pwned" "$o\ntouch pwned\" holds a line feed (\n)"
refused --out-dir "$o$nl" "$o\n\" holds a line feed (\n)"
refused --out-dir "$o"$'\r' "$o\r\" holds a carriage return (\r)"
refused --out-dir "$o"$'\tx' "$o\tx\" holds the control character \t"
refused --out-dir "$o"$'\x7f' "$o\x7f\" holds the control character \x7f"
refused --out-dir "$o"$'\u0085' "$o\u0085\" holds the control character \u0085"
refused --out-dir "$o"$'\u2028' "$o\u2028\" holds a line separator (\u2028)"
refused --scene "$tmp/a${nl}touch pwned${nl}.json" "$tmp/a\ntouch pwned\n.json\" holds a line feed (\n)"
refused --library "$tmp/lib${nl}touch pwned/libvesperShaders64.so" \
  "$tmp/lib\ntouch pwned/libvesperShaders64.so\" holds a line feed (\n)"
w=$tmp/wedge.json
sed 's/"range": \[0.05, 0.6\], "count": 4/"values": [0.5, 0.7, 1e300]/' "$here/wedge.json" >"$w"
check 1 "wedge.json: frame 2: wedge.params.\"u_roughValue\": \"u_roughValue\" holds 1e+300, beyond" \
  "$render" plan --scene "$w" --out-dir "$o"
sed 's/"wedge".*/"animation": {"frames": 4, "orbit": {"radius": 6}}/; s/"fov": 35/&, "up": [1, 0, 0]/' \
  "$here/wedge.json" >"$w"
check 1 "wedge.json: frame 1: camera: \"up\" is parallel to the view direction" \
  "$render" plan --scene "$w" --out-dir "$o"

p=$tmp/still.plan
"$render" plan --scene "$s" --tiles 2 --out-dir "$o" >"$p"
header="# vesper-render plan: 2 tasks, then the merge"
[ "$(head -n 1 "$p")" = "$header" ] || { echo "FAIL: the plan's header is not \"$header\"" >&2; failures=$((failures + 1)); }
runlocal=$here/../../scripts/cluster/run-local.sh
submit=$here/../../scripts/cluster/submit.sh
for jobs in 0 -1 1x 1000000; do
  check 2 "run-local: JOBS must be a whole number from 1 to 999999, not \"$jobs\"" "$runlocal" "$p" "$jobs"
done
check 2 "submit: --throttle expects a whole number from 1 to 999999, not \"0\"" "$submit" --throttle 0 "$p"
head -c -1 "$p" >"$tmp/cut.plan"
tail -n +2 "$p" >"$tmp/bare.plan"
sed '2s/^.*$//' "$p" >"$tmp/blank.plan"
sed 's/2 tasks/3 tasks/' "$p" >"$tmp/more.plan"
for row in "cut|the last line does not end with a newline" \
  "bare|line 1 is not the header of a plan" "blank|line 2 is empty" \
  "more|the header declares 3 tasks and the merge, 5 lines in all, but the plan has 4"; do
  check 2 "$tmp/${row%%|*}.plan: ${row#*|}" "$runlocal" "$tmp/${row%%|*}.plan" 1
  check 2 "submit: the plan was refused; nothing was submitted" "$submit" "$tmp/${row%%|*}.plan"
done
for made in pwned "$tmp/pwned" "$o"; do
  [ -e "$made" ] && { echo "FAIL: a refused plan or runner made $made" >&2; failures=$((failures + 1)); }
done

if [ "$failures" -gt 0 ]; then
  echo "$failures case(s) failed" >&2
  exit 1
fi
echo "all refusals as expected"
