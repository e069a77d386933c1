#!/usr/bin/env bash
# TFTP read throughput and server CPU cost: vindle-tftpd against the peer
# servers tftpd-hpa, atftpd and dnsmasq, all serving one large file to the
# same client on loopback inside a private network namespace (nothing leaves
# the machine, nothing binds the host's port 69).
#
#   bench/tftp_bench.sh [options]
#     --build DIR         build folder with vindle-tftpd and vindle-tftp (build/bench)
#     --size MIB          size of the file served to one client (64)
#     --multi-size MIB    size of the file served to each of several
#                         concurrent clients (64, as for one client; a smaller
#                         file lets per-transfer set-up and the uneven end of
#                         concurrent runs weigh in, a quicker but rougher run)
#     --runs N            interleaved runs per case; the median is shown (3)
#     --blksizes "LIST"   block sizes (512 1428 8192 65464)
#     --clients "LIST"    concurrent clients (1 8)
#     --windowsizes "LIST"  windowed cells besides the lock-step ones: the
#                         client asks for each window (RFC 7440); only the
#                         servers that grant it run in those cells ("")
#     --pin "LIST"        pinned (server and clients on CPU 0) and/or unpinned
#     --servers "LIST"    vindle tftpd-hpa atftpd dnsmasq
#     --baseline DIR      also run vindle-tftpd from DIR (a folder or a build
#                         folder) as the server "vindle-base", interleaved
#                         with the others: a before/after comparison
#     --floor             also run tftp-floor (bench/tftp_floor.cpp) as the
#                         server "floor": the least work a server can do per
#                         window, so what it cannot reach is the client's
#                         and the machine's limit
#     --client atftp|vindle   the client program (atftp: it asks for any
#                         blksize and adds no other option)
#     --time-limit S      hard limit for the whole run (3600)
#     --run-limit S       limit for one run; a run that takes longer
#                         (a stalled transfer) is shown as "stall" (120)
#     --keep              keep the scratch folder
#
# MB/s counts 10^6 bytes of file data delivered to all clients per second of
# wall time; CPU s/GB is the server's CPU time (user+system, read from its own
# cpuacct cgroup, so forked children count) per 10^9 bytes. Each figure is
# the median of the runs; runs of all servers are interleaved so that a noisy
# moment hits every server alike, and the ratio columns compare vindle-tftpd
# with each peer (MB/s ratio > 1: vindle faster; CPU ratio < 1: vindle
# cheaper). Every downloaded file is compared with the original and every
# block size is checked to have been granted before the timed runs.
#
# Needs root (network namespace, cgroup). The peers come from Debian: the
# two TFTP daemons are only unpacked into the scratch folder (installing
# them would start a service on the host), dnsmasq-base starts none.
set -euo pipefail

SELF=$(readlink -f "$0")
ROOT=$(dirname "$(dirname "$SELF")")
BUILD=$ROOT/build/bench
SIZE_MIB=64
MULTI_MIB=64
RUNS=3
BLKSIZES="512 1428 8192 65464"
CLIENTS="1 8"
WINDOWSIZES=""
PINS="pinned unpinned"
SERVERS="vindle tftpd-hpa atftpd dnsmasq"
CLIENT=atftp
TIME_LIMIT=3600
RUN_LIMIT=120
BASELINE=""
FLOOR=0
KEEP=0
SCRATCH=/dev/shm/vindle-bench

die() { echo "tftp_bench: $*" >&2; exit 1; }

ARGS=("$@")
while [ $# -gt 0 ]; do
  case "$1" in
    --build) BUILD=$(readlink -f "$2"); shift 2 ;;
    --size) SIZE_MIB=$2; shift 2 ;;
    --multi-size) MULTI_MIB=$2; shift 2 ;;
    --runs) RUNS=$2; shift 2 ;;
    --blksizes) BLKSIZES=$2; shift 2 ;;
    --clients) CLIENTS=$2; shift 2 ;;
    --windowsizes) WINDOWSIZES=$2; shift 2 ;;
    --pin) PINS=$2; shift 2 ;;
    --servers) SERVERS=$2; shift 2 ;;
    --baseline) BASELINE=$(readlink -f "$2"); shift 2 ;;
    --floor) FLOOR=1; shift ;;
    --client) CLIENT=$2; shift 2 ;;
    --time-limit) TIME_LIMIT=$2; shift 2 ;;
    --run-limit) RUN_LIMIT=$2; shift 2 ;;
    --keep) KEEP=1; shift ;;
    -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$SELF"; exit 0 ;;
    *) die "unknown option $1 (see --help)" ;;
  esac
done
[ "$(id -u)" -eq 0 ] || die "needs root (network namespace and cgroup)"
case "$CLIENT" in atftp|vindle) ;; *) die "--client is atftp or vindle" ;; esac
# The largest window asked for is the most vindle-tftpd grants.
MAX_WINDOW=1
for w in $WINDOWSIZES; do [ "$w" -gt "$MAX_WINDOW" ] && MAX_WINDOW=$w; done

PEERS=$SCRATCH/peers
VINDLE_TFTPD=$(find "$BUILD" -name vindle-tftpd -type f -perm -u+x 2>/dev/null | head -1)
VINDLE_TFTP=$(find "$BUILD" -name vindle-tftp -type f -perm -u+x 2>/dev/null | head -1)
[ -n "$VINDLE_TFTP" ] || die "vindle-tftp not found under $BUILD (build it first)"
BASE_TFTPD=""
if [ -n "$BASELINE" ]; then
  BASE_TFTPD=$(find "$BASELINE" -name vindle-tftpd -type f -perm -u+x 2>/dev/null | head -1)
  [ -n "$BASE_TFTPD" ] || die "vindle-tftpd not found under $BASELINE"
  case " $SERVERS " in *" vindle-base "*) ;; *) SERVERS="$SERVERS vindle-base" ;; esac
fi

FLOOR_TFTPD=""
if [ "$FLOOR" = 1 ]; then
  FLOOR_TFTPD=$(find "$BUILD" -name tftp-floor -type f -perm -u+x 2>/dev/null | head -1)
  [ -n "$FLOOR_TFTPD" ] || die "tftp-floor not found under $BUILD (build it first)"
  case " $SERVERS " in *" floor "*) ;; *) SERVERS="$SERVERS floor" ;; esac
fi

# --- Outside the namespace: fetch what is missing, then re-enter isolated. ---
if [ -z "${VINDLE_BENCH_INSIDE:-}" ]; then
  need=()
  for p in atftp libwrap0 libpcre2-8-0 dnsmasq-base; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
  done
  if [ ${#need[@]} -gt 0 ]; then
    echo "installing ${need[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
  fi
  mkdir -p "$PEERS"
  for p in tftpd-hpa atftpd; do
    if ! ls "$PEERS"/${p}_*.deb >/dev/null 2>&1; then
      (cd "$PEERS" && apt-get download -q "$p" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
    fi
    # Apart: atftpd ships its own in.tftpd name.
    dpkg -x "$PEERS"/${p}_*.deb "$PEERS/$p"
  done
  export VINDLE_BENCH_INSIDE=1
  exec timeout --kill-after=10 "$TIME_LIMIT" unshare --net -- "$SELF" "${ARGS[@]}"
fi

# --- Inside the private namespace. ---
ip link set lo up
# NOTE: tftpd-hpa in a fresh namespace wants an address on lo besides
# 127.0.0.1 before it answers.
ip addr add 127.0.0.2/8 dev lo 2>/dev/null || true

HOME_DIR=$SCRATCH/home
OUT=$SCRATCH/out
RESULTS=$SCRATCH/results.tsv
CG=/sys/fs/cgroup/cpuacct/vindle-bench.$$
mkdir -p "$HOME_DIR" "$OUT"
chmod 777 "$HOME_DIR"
: > "$RESULTS"
mkdir "$CG" || die "cannot create cgroup $CG"
SERVER_PID=""

cleanup() {
  stop_server || true
  rmdir "$CG" 2>/dev/null || true
  [ "$KEEP" = 1 ] || rm -rf "$HOME_DIR" "$OUT"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# make_file <name> <MiB>
make_file() {
  if [ ! -f "$HOME_DIR/$1" ] || [ "$(stat -c %s "$HOME_DIR/$1")" -ne $(($2 * 1048576)) ]; then
    head -c $(($2 * 1048576)) /dev/urandom > "$HOME_DIR/$1"
  fi
}
make_file big.bin "$SIZE_MIB"
make_file multi.bin "$MULTI_MIB"
# The probe spans three full blocks of the largest size and a short one.
head -c $((3 * 65464 + 100)) /dev/urandom > "$HOME_DIR/probe.bin"

# pin_prefix <pinned|unpinned>
pin_prefix() { [ "$1" = pinned ] && echo "taskset -c 0" || true; }

# start_server <name> <pin>: starts it inside the cgroup and waits until
# 127.0.0.1:69 is bound.
start_server() {
  local name=$1 pin=$2 cmd
  case "$name" in
    vindle|vindle-base)
      local binary=$VINDLE_TFTPD
      [ "$name" = vindle-base ] && binary=$BASE_TFTPD
      [ -n "$binary" ] || die "vindle-tftpd not found under $BUILD"
      # The server reads the INI file beside its own program file, and its
      # home directory defaults to the program's folder.
      # Replaced by rename: a copy over a program still running would fail.
      cp "$binary" "$HOME_DIR/vindle-tftpd.new"
      mv -f "$HOME_DIR/vindle-tftpd.new" "$HOME_DIR/vindle-tftpd"
      printf '[LISTEN-ON]\n127.0.0.1:69\n' > "$HOME_DIR/vindle-tftpd.ini"
      [ "$MAX_WINDOW" -gt 1 ] && printf '[TFTP-OPTIONS]\nwindowsize=%s\n' "$MAX_WINDOW" >> "$HOME_DIR/vindle-tftpd.ini"
      cmd="$HOME_DIR/vindle-tftpd" ;;
    floor)
      cmd="$FLOOR_TFTPD $HOME_DIR 127.0.0.1:69" ;;
    tftpd-hpa)
      cmd="$PEERS/tftpd-hpa/usr/sbin/in.tftpd -L -u root -s $HOME_DIR -a 127.0.0.1:69" ;;
    atftpd)
      cmd="$PEERS/atftpd/usr/sbin/atftpd --daemon --no-fork --user root.root --bind-address 127.0.0.1 --port 69 --logfile /dev/null --maxthread 64 $HOME_DIR" ;;
    dnsmasq)
      # Port 0 switches DNS off; TFTP stays on 69. Large blocks need a large
      # EDNS packet limit, which dnsmasq also applies to TFTP.
      cmd="dnsmasq --keep-in-foreground --conf-file=/dev/null --port=0 --enable-tftp --tftp-root=$HOME_DIR --listen-address=127.0.0.1 --bind-interfaces --edns-packet-max=65535 --tftp-max=64 --user=root --group=root --pid-file= --log-facility=/dev/null" ;;
    *) die "unknown server $name" ;;
  esac
  bash -c "echo \$\$ > $CG/cgroup.procs; exec $(pin_prefix "$pin") $cmd" >"$SCRATCH/server.log" 2>&1 &
  SERVER_PID=$!
  local i
  for i in $(seq 100); do
    ss -Huln 'sport = :69' | grep -q '127.0.0.1:69' && return 0
    kill -0 "$SERVER_PID" 2>/dev/null || break
    sleep 0.05
  done
  cat "$SCRATCH/server.log" >&2
  die "$name did not start"
}

stop_server() {
  [ -n "$SERVER_PID" ] || return 0
  kill -TERM "$SERVER_PID" 2>/dev/null || true
  wait "$SERVER_PID" 2>/dev/null || true
  SERVER_PID=""
  # Forked transfer children of a server end with their transfers; end any
  # that is left, one by one.
  local pid
  for pid in $(cat "$CG/cgroup.procs"); do kill -KILL "$pid" 2>/dev/null || true; done
}

# fetch <blksize> <windowsize> <remote> <local>: one download by the chosen
# client; a window of 1 is not asked for.
fetch() {
  local bs=$1 ws=$2 file=$3 local=$4
  if [ "$CLIENT" = atftp ]; then
    local window=()
    [ "$ws" -gt 1 ] && window=(--option "windowsize $ws")
    atftp --get -r "$file" -l "$local" --option "blksize $bs" "${window[@]}" 127.0.0.1 69
  else
    "$VINDLE_TFTP" get --blksize "$bs" --windowsize "$ws" --no-tsize --expect-blksize 127.0.0.1 "$file" "$local" 2>/dev/null
  fi
}

# grants_window <windowsize>: whether the running server echoes the window.
grants_window() {
  local log=$SCRATCH/probe.log
  if [ "$CLIENT" = atftp ]; then
    atftp --trace --get -r probe.bin -l "$OUT/probe" --option "windowsize $1" 127.0.0.1 69 >"$log" 2>&1 || true
    grep -q "windowsize: $1," "$log"
  else
    "$VINDLE_TFTP" get --windowsize "$1" 127.0.0.1 probe.bin "$OUT/probe" 2>"$log" || true
    grep -q "windowsize $1\b" "$log"
  fi
}

# The block size asked for must be the one granted, for every server.
check_granted() {
  local server=$1 bs=$2 log=$SCRATCH/probe.log
  if [ "$CLIENT" = atftp ]; then
    atftp --trace --get -r probe.bin -l "$OUT/probe" --option "blksize $bs" 127.0.0.1 69 >"$log" 2>&1 || true
    grep -q "received OACK <blksize: $bs," "$log" || { cat "$log" >&2; die "$server did not grant blksize $bs"; }
  else
    "$VINDLE_TFTP" get --blksize "$bs" --no-tsize --expect-blksize 127.0.0.1 probe.bin "$OUT/probe" \
      2>"$log" || { cat "$log" >&2; die "$server did not grant blksize $bs"; }
  fi
  cmp -s "$OUT/probe" "$HOME_DIR/probe.bin" || die "$server: probe at blksize $bs differs"
  rm -f "$OUT/probe"
}

# measure <server> <pin> <clients> <blksize> <windowsize> <run>
measure() {
  local server=$1 pin=$2 clients=$3 bs=$4 ws=$5 run=$6 i pids=() failed=0 file=big.bin mib=$SIZE_MIB
  [ "$clients" -gt 1 ] && { file=multi.bin; mib=$MULTI_MIB; }
  start_server "$server" "$pin"
  rm -f "$OUT"/c*
  local cpu0 t0 t1 cpu1
  cpu0=$(cat "$CG/cpuacct.usage")
  t0=$(date +%s%N)
  for i in $(seq "$clients"); do
    (
      [ "$pin" = pinned ] && taskset -pc 0 "$BASHPID" >/dev/null
      fetch "$bs" "$ws" "$file" "$OUT/c$i"
    ) >"$OUT/log$i" 2>&1 &
    pids+=($!)
  done
  # A stalled transfer ends the run: its clients go, the run counts as one.
  (
    sleep "$RUN_LIMIT"
    touch "$OUT/stalled"
    pkill -P "$(IFS=,; echo "${pids[*]}")" 2>/dev/null
  ) &
  local watchdog=$!
  for i in "${!pids[@]}"; do wait "${pids[$i]}" || failed=1; done
  t1=$(date +%s%N)
  cpu1=$(cat "$CG/cpuacct.usage")
  kill "$watchdog" 2>/dev/null || true
  wait "$watchdog" 2>/dev/null || true
  if [ -e "$OUT/stalled" ]; then
    rm -f "$OUT/stalled"
    stop_server
    echo -e "$pin\t$clients\t$bs\t$ws\t$server\t$run\tSTALL\tSTALL" >> "$RESULTS"
    echo "  $server $pin clients=$clients blksize=$bs window=$ws run $run: stalled (over $RUN_LIMIT s)"
    return 0
  fi
  stop_server
  for i in $(seq "$clients"); do
    if ! cmp -s "$OUT/c$i" "$HOME_DIR/$file"; then
      failed=1
      echo "  VERIFY FAILED: $server $pin clients=$clients blksize=$bs run=$run client $i" >&2
      cat "$OUT/log$i" >&2 || true
    fi
  done
  rm -f "$OUT"/c*
  [ "$failed" = 0 ] || { echo -e "$pin\t$clients\t$bs\t$ws\t$server\t$run\tFAIL\tFAIL" >> "$RESULTS"; return 0; }
  local bytes=$((clients * mib * 1048576))
  awk -v p="$pin" -v c="$clients" -v b="$bs" -v w="$ws" -v s="$server" -v r="$run" -v by="$bytes" \
      -v ns=$((t1 - t0)) -v cpu=$((cpu1 - cpu0)) 'BEGIN {
        printf "%s\t%s\t%s\t%s\t%s\t%s\t%.2f\t%.3f\n", p, c, b, w, s, r, by / (ns / 1e9) / 1e6, (cpu / 1e9) / (by / 1e9) }' \
      >> "$RESULTS"
  tail -1 "$RESULTS" | awk -F'\t' '{ printf "  %-9s %s clients=%s blksize=%-5s window=%-3s run %s: %8s MB/s %8s CPU s/GB\n", $5, $1, $2, $3, $4, $6, $7, $8 }'
}

read -r -a server_list <<< "$SERVERS"
echo "== checking that every server grants every block size ($CLIENT client)"
# Windowed cells list the servers that grant that window, per window.
declare -A window_servers
for s in "${server_list[@]}"; do
  start_server "$s" unpinned
  for bs in $BLKSIZES; do check_granted "$s" "$bs"; done
  for ws in $WINDOWSIZES; do
    if grants_window "$ws"; then
      window_servers[$ws]="${window_servers[$ws]:-} $s"
    else
      echo "  $s does not grant windowsize $ws: left out of those cells"
    fi
    rm -f "$OUT/probe"
  done
  stop_server
done

echo "== $SIZE_MIB MiB file for one client, $MULTI_MIB MiB for each of several; $RUNS runs per case, client $CLIENT, $(nproc) CPUs"
for pin in $PINS; do
  for clients in $CLIENTS; do
    for bs in $BLKSIZES; do
      for ws in 1 $WINDOWSIZES; do
        cell=("${server_list[@]}")
        [ "$ws" -gt 1 ] && read -r -a cell <<< "${window_servers[$ws]:-}"
        n=${#cell[@]}
        [ "$n" -gt 0 ] || continue
        for run in $(seq "$RUNS"); do
          # Rotate the order from run to run so that no server always goes first.
          for k in $(seq 0 $((n - 1))); do
            measure "${cell[$(((k + run) % n))]}" "$pin" "$clients" "$bs" "$ws" "$run"
          done
        done
      done
    done
  done
done

python3 - "$RESULTS" "$SERVERS" <<'PY'
import statistics, sys
from collections import defaultdict
rows = [l.rstrip("\n").split("\t") for l in open(sys.argv[1]) if l.strip()]
servers = sys.argv[2].split()
peers = [s for s in servers if s != "vindle"]
mbps, cpu, failed, stalled = defaultdict(list), defaultdict(list), set(), set()
for pin, clients, bs, ws, server, run, m, c in rows:
    key = (pin, int(clients), int(bs), int(ws))
    if m == "FAIL":
        failed.add(key + (server,))
        continue
    if m == "STALL":
        stalled.add(key + (server,))
        continue
    mbps[key + (server,)].append(float(m))
    cpu[key + (server,)].append(float(c))
med = lambda d, k: statistics.median(d[k]) if d.get(k) else float("nan")
# A cell with a stalled run has no median worth printing.
for k in stalled:
    mbps.pop(k, None)
cases = sorted({k[:4] for k in mbps} | {k[:4] for k in failed | stalled},
               key=lambda k: (k[0] != "pinned", k[1], k[2], k[3]))
print()
print("median MB/s | median server CPU s/GB" + ("   | vindle ratio: MB/s x, CPU x per peer" if "vindle" in servers else ""))
head = f"{'pin':9}{'cl':>3}{'blksize':>8}{'win':>6}" + "".join(f"{s:>20}" for s in servers)
if "vindle" in servers:
    head += "".join(f"{'vs ' + p:>22}" for p in peers)
print(head)
for case in cases:
    line = f"{case[0]:9}{case[1]:>3}{case[2]:>8}{case[3]:>6}"
    for s in servers:
        k = case + (s,)
        if k in failed:
            line += f"{'FAILED':>20}"
        elif k in stalled:
            line += f"{'stalled':>20}"
        elif k not in mbps:
            line += f"{'-':>20}"   # a windowed cell of a server that grants no window
        else:
            line += f"{med(mbps, k):>10.1f} {med(cpu, k):>8.2f}s"
    if "vindle" in servers:
        v = case + ("vindle",)
        for p in peers:
            k = case + (p,)
            if k in mbps and v in mbps:
                line += f"{med(mbps, v) / med(mbps, k):>12.2f}x {med(cpu, v) / med(cpu, k):>7.2f}x"
            else:
                line += f"{'-':>22}"
    print(line)
if failed:
    print("\nSOME DOWNLOADS FAILED VERIFICATION (see above)")
    sys.exit(1)
PY
