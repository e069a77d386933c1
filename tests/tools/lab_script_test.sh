#!/usr/bin/env bash
# The lab script seen from outside: COMMAND's exit status comes back, box
# commands run in their box with their variables, and neither a normal end
# nor SIGTERM leaves a namespace or a process behind. Every wait is bounded.
set -u
lab=${1:?path of vindle-lab}
failures=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Namespaces of the lab run by process $1 that still exist.
leftovers() { ip netns list 2>/dev/null | awk '{print $1}' | grep "^vl$1-" ; }

# run_lab <expected status> <lab args...>: runs one lab and checks its status
# and that its namespaces are gone afterwards.
run_lab() {
  local expected=$1; shift
  "$lab" "$@" >"$tmp/out" 2>&1 &
  local pid=$!
  wait $pid
  local status=$?
  [ "$status" = "$expected" ] || fail "vindle-lab $* exited $status, expected $expected: $(cat "$tmp/out")"
  local left
  left=$(leftovers $pid)
  [ -z "$left" ] || fail "vindle-lab $* left namespaces behind: $left"
}

run_lab 0 --boxes 1 -- true
run_lab 1 -- false
run_lab 7 --boxes 2 -- sh -c 'exit 7'

# A box command runs in its box with LAB_BOX_INDEX; COMMAND waits for it.
run_lab 0 --boxes 2 --box-cmd 'true' --box-cmd "echo \$LAB_BOX_INDEX \$LAB_BOX_IP_2 \$(cat /sys/class/net/eth0/address) > $tmp/box2" \
  -- sh -c "for i in \$(seq 500); do [ -s $tmp/box2 ] && exit 0; sleep 0.01; done; exit 9"
[ "$(cat "$tmp/box2" 2>/dev/null)" = "2 10.77.0.3 02:77:00:00:00:03" ] ||
  fail "box command output: '$(cat "$tmp/box2" 2>/dev/null)'"

# Unknown options and bad counts are refused before anything is built.
run_lab 2 --boxes x -- true
run_lab 2 --boxes 1 --box-cmd true --box-cmd true -- true

# SIGTERM while COMMAND and a box command run: everything goes, status 143.
# Both write their PID first (exec keeps it), so the test knows when they run
# and which processes must be gone afterwards, as root and in a user namespace.
"$lab" --boxes 1 --box-cmd "echo \$\$ > $tmp/boxpid; exec sleep 60" \
  -- sh -c "echo \$\$ > $tmp/toolpid; exec sleep 60" >"$tmp/out" 2>&1 &
pid=$!
for _ in $(seq 500); do
  [ -s "$tmp/boxpid" ] && [ -s "$tmp/toolpid" ] && break
  sleep 0.01
done
[ -s "$tmp/boxpid" ] && [ -s "$tmp/toolpid" ] || fail "commands never started: $(cat "$tmp/out")"
kill -TERM $pid
wait $pid
status=$?
[ $status = 143 ] || fail "SIGTERM: status $status, expected 143"
left=$(leftovers $pid)
[ -z "$left" ] || fail "SIGTERM left namespaces behind: $left"
for p in $(cat "$tmp/boxpid" "$tmp/toolpid" 2>/dev/null); do
  # A reused PID would not be a sleep of ours any more.
  if [ "$(tr '\0' ' ' 2>/dev/null < /proc/$p/cmdline)" = "sleep 60 " ]; then
    fail "process $p survived the lab"
  fi
done

if [ $failures -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "vindle-lab passes exit statuses through and cleans up"
