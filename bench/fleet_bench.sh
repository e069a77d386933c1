#!/usr/bin/env bash
# Fleet update wall time and tool CPU cost: `vindlectl update` against many
# simulated boxes in the lab (tools/lab/vindle-lab, an isolated network of
# namespaces: nothing is sent on the host's own interfaces), once for each
# --parallel value. Every box fetches the file slowly, as a real box that
# writes flash while it downloads, so that the run measures how well the
# tool overlaps the boxes rather than how fast loopback is.
#
#   bench/fleet_bench.sh [options]
#     --build DIR          build folder with vindlectl and vindle-box (build/main)
#     --boxes N            simulated boxes, one namespace each (100; at most 200)
#     --size SIZE          size of the update file: bytes, or with K or M (4M)
#     --parallel "LIST"    --parallel values of vindlectl, one run each, in this
#                          order; the first is the base of the speed-up (1 25)
#     --ack-delay MS       each box waits MS ms before acknowledging a block (1)
#     --blksize N          block size the boxes ask for (the box's default, 1428)
#     --time-limit S       hard limit for the whole benchmark (1800)
#     --keep               keep the scratch folder (box logs, reports)
#
# For each run: wall time of vindlectl from start to exit; its CPU time
# (user + system, from the shell's rusage of the child: the TFTP server runs
# inside vindlectl, so this is the serving cost too); the speed-up against
# the first run. A run counts only when vindlectl exits 0, its JSON report
# holds every box with result "ok" and the whole file served, and every
# box's log shows one more download of exactly the file's size and CRC-32.
#
# Needs root or unprivileged user namespaces (the lab says what is
# missing). Not a test and not run by CI: it takes minutes (about
# boxes x blocks x ack delay for --parallel 1).
set -euo pipefail

SELF=$(readlink -f "$0")
ROOT=$(dirname "$(dirname "$SELF")")
BUILD=$ROOT/build/main
BOXES=100
SIZE=4M
PARALLEL="1 25"
ACK_DELAY=1
BLKSIZE=""
TIME_LIMIT=1800
KEEP=0

die() { echo "fleet_bench: $*" >&2; exit 1; }

ARGS=("$@")
while [ $# -gt 0 ]; do
  case "$1" in
    --build) BUILD=$(readlink -f "$2"); shift 2 ;;
    --boxes) BOXES=$2; shift 2 ;;
    --size) SIZE=$2; shift 2 ;;
    --parallel) PARALLEL=$2; shift 2 ;;
    --ack-delay) ACK_DELAY=$2; shift 2 ;;
    --blksize) BLKSIZE=$2; shift 2 ;;
    --time-limit) TIME_LIMIT=$2; shift 2 ;;
    --keep) KEEP=1; shift ;;
    --inside) shift ;;   # internal: the second stage, on the lab's tool side
    -h|--help) sed -n '2,29p' "$SELF" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) die "unknown option $1 (see --help)" ;;
  esac
done
number() { case "$2" in ''|*[!0-9]*) die "$1 needs a number: $2" ;; esac; }
number --boxes "$BOXES"
number --ack-delay "$ACK_DELAY"
number --time-limit "$TIME_LIMIT"
[ -z "$BLKSIZE" ] || number --blksize "$BLKSIZE"
[ "$BOXES" -ge 1 ] && [ "$BOXES" -le 200 ] || die "--boxes needs 1 to 200"
for p in $PARALLEL; do number --parallel "$p"; done
[ -n "${PARALLEL// }" ] || die "--parallel needs at least one value"
BYTES=$(numfmt --from=iec "$SIZE" 2>/dev/null) || die "--size needs bytes, or a number with K or M: $SIZE"
[ "$BYTES" -ge 1 ] || die "--size must not be empty"

VINDLECTL=$BUILD/cli/vindlectl
BOX=$BUILD/tools/box/vindle-box
for program in "$VINDLECTL" "$BOX"; do
  [ -x "$program" ] || die "$program is missing (cmake --build $BUILD --target vindlectl vindle-box)"
done

# --- First stage: scratch folder, file, lab with one box per namespace. ---
if [ -z "${FLEET_BENCH_SCRATCH:-}" ]; then
  SCRATCH=$(mktemp -d /tmp/vindle-fleet-bench.XXXXXX)
  cleanup() { [ "$KEEP" = 1 ] && echo "scratch folder kept: $SCRATCH" || rm -rf "$SCRATCH"; }
  trap cleanup EXIT
  # The served folder holds the update file alone: vindlectl serves the
  # whole folder of its file.
  mkdir -p "$SCRATCH/serve" "$SCRATCH/logs" "$SCRATCH/runs"
  head -c "$BYTES" /dev/urandom > "$SCRATCH/serve/fw.bin"
  box_args=(--update-ack-delay "$ACK_DELAY" --lifetime $((TIME_LIMIT + 60)))
  [ -z "$BLKSIZE" ] || box_args+=(--update-blksize "$BLKSIZE")
  lab_args=(--boxes "$BOXES")
  for i in $(seq "$BOXES"); do
    lab_args+=(--box-cmd "exec '$BOX' --interface eth0 ${box_args[*]} > '$SCRATCH/logs/box$i.log' 2>&1")
  done
  export FLEET_BENCH_SCRATCH=$SCRATCH
  # The lab ends its boxes and removes its namespaces when the command
  # ends, also when the time limit sends it SIGTERM. timeout runs in a
  # process group of its own, out of reach of the terminal's Ctrl-C, so an
  # interrupt is passed on to it here; then the lab is waited for until it
  # has cleaned up.
  timeout --kill-after=20 "$TIME_LIMIT" "$ROOT/tools/lab/vindle-lab" "${lab_args[@]}" -- "$SELF" "${ARGS[@]}" --inside &
  lab=$!
  trap 'kill -TERM "$lab" 2>/dev/null || true' INT TERM
  while true; do
    status=0
    wait "$lab" || status=$?
    kill -0 "$lab" 2>/dev/null || break
  done
  [ "$status" -ne 124 ] || echo "fleet_bench: stopped by --time-limit $TIME_LIMIT" >&2
  exit "$status"
fi

# --- Second stage: on the lab's tool side. ---
SCRATCH=$FLEET_BENCH_SCRATCH
FILE=$SCRATCH/serve/fw.bin
CRC=$(python3 -c 'import sys, zlib; print("%08x" % zlib.crc32(open(sys.argv[1], "rb").read()))' "$FILE")

echo "== waiting for $BOXES boxes"
deadline=$((SECONDS + 60))
for i in $(seq "$BOXES"); do
  until grep -q "config: listening" "$SCRATCH/logs/box$i.log" 2>/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || { cat "$SCRATCH/logs/box$i.log" >&2 || true; die "box $i did not start"; }
    sleep 0.2
  done
done
targets=()
for i in $(seq "$BOXES"); do
  var=LAB_BOX_IP_$i
  targets+=("${!var}")
done

blocks=$(( (BYTES + ${BLKSIZE:-1428} - 1) / ${BLKSIZE:-1428} ))
echo "== $BOXES boxes, file $BYTES bytes ($blocks blocks of ${BLKSIZE:-1428} asked for), ack delay $ACK_DELAY ms, $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg)"

# check_run <run number> <report> <exit status>: every box ok, whole file
# served, and each box's log has exactly <run number> good downloads.
check_run() {
  local run=$1 report=$2 code=$3 bad=0 i got
  [ "$code" -eq 0 ] || { echo "  vindlectl exited $code" >&2; bad=1; }
  python3 - "$report" "$BOXES" "$BYTES" <<'PY' || bad=1
import json, sys
path, boxes, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
try:
    report = json.load(open(path))
except (OSError, ValueError) as error:
    sys.exit(f"  no readable report: {error}")
rows = report.get("boxes", [])
wrong = [b for b in rows if b.get("result") != "ok" or b.get("bytes_served") != size]
for b in wrong[:10]:
    print(f"  {b.get('ip')}: {b.get('result')}, {b.get('bytes_served')} bytes served", file=sys.stderr)
if len(rows) != boxes or wrong:
    sys.exit(f"  {len(rows)} boxes in the report, {len(wrong)} not ok")
PY
  for i in $(seq "$BOXES"); do
    got=$(grep -c "update: received 'fw.bin': $BYTES bytes, crc32 $CRC," "$SCRATCH/logs/box$i.log" || true)
    if [ "$got" -ne "$run" ]; then
      echo "  box $i: $got good downloads in its log, $run expected" >&2
      bad=1
    fi
  done
  return "$bad"
}

RESULTS=$SCRATCH/results.tsv
: > "$RESULTS"
run=0
failed=0
for p in $PARALLEL; do
  run=$((run + 1))
  report=$SCRATCH/runs/parallel$p.json
  echo "-- --parallel $p"
  TIMEFORMAT='%3R %3U %3S'
  code=0
  # `time` reports the child's own rusage, so the figures are vindlectl's
  # alone (its TFTP server threads included), not the boxes'.
  { time "$VINDLECTL" update system "$FILE" "${targets[@]}" --adapter "$LAB_TOOL_IF" --parallel "$p" \
      --timeout 600 --format csv --report "$report" > "$SCRATCH/runs/parallel$p.out" \
      2> "$SCRATCH/runs/parallel$p.err" || code=$?; } 2> "$SCRATCH/runs/parallel$p.time"
  read -r wall user sys < <(tail -1 "$SCRATCH/runs/parallel$p.time")
  if check_run "$run" "$report" "$code"; then
    verdict=ok
  else
    verdict=FAILED
    failed=1
    tail -5 "$SCRATCH/runs/parallel$p.err" >&2 || true
  fi
  echo -e "$p\t$wall\t$user\t$sys\t$verdict" >> "$RESULTS"
  awk -v w="$wall" -v u="$user" -v s="$sys" -v v="$verdict" \
    'BEGIN { printf "   wall %8.2f s   CPU %6.2f s (user %.2f + sys %.2f)   %s\n", w, u + s, u, s, v }'
done

echo
awk -F'\t' -v boxes="$BOXES" 'BEGIN {
    printf "%-10s %10s %10s %14s %10s  %s\n", "parallel", "wall s", "CPU s", "CPU ms/box", "speed-up", "boxes ok" }
  NR == 1 { base = $2 }
  { printf "%-10s %10.2f %10.2f %14.1f %9.1fx  %s\n", $1, $2, $3 + $4, ($3 + $4) * 1000 / boxes, base / $2,
           $5 == "ok" ? "all " boxes : "NO" }' "$RESULTS"
[ "$failed" = 0 ] || { echo "SOME RUNS FAILED (see above)"; exit 1; }
