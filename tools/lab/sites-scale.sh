#!/usr/bin/env bash
# Measures a rolling update of SITES sites with BOXES boxes each in the
# multi-site lab (tools/lab/vindle-sites): the playbook's wall time, what
# the controller spends (ansible-playbook and its SSH clients) and what each
# site host spends (everything its SSH server ran: the module, vindlectl).
#   tools/lab/sites-scale.sh BUILD_DIR [SITES [BOXES [FILE_KB]]]
# Needs root, ansible-core and OpenSSH; bounded by a timeout.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)

if [ "${1:-}" != --inside ]; then
  build=$(readlink -f "${1:?usage: $0 BUILD_DIR [SITES [BOXES [FILE_KB]]]}")
  sites=${2:-10} boxes=${3:-10} kb=${4:-2048}
  work=$(mktemp -d /tmp/vindle-sites-scale.XXXXXX)
  trap 'rm -rf "$work"' EXIT
  head -c $((kb * 1024)) /dev/urandom >"$work/fw-2.0.bin"
  exec timeout --kill-after=20 1800 "$ROOT/tools/lab/vindle-sites" --sites "$sites" --boxes "$boxes" \
    --box "$build/tools/box/vindle-box" --box-args "--firmware fw-1.0 --update-firmware fw-2.0" \
    -- bash "$0" --inside "$work" "$build"
fi

work=$2 build=$3
cd "$work"
hz=$(getconf CLK_TCK)
export ANSIBLE_CONFIG=$work/none.cfg ANSIBLE_COLLECTIONS_PATH=$ROOT/ansible ANSIBLE_NOCOLOR=1 \
  ANSIBLE_LOCAL_TEMP=$SITES_DIR/tmp-local ANSIBLE_REMOTE_TEMP=$SITES_DIR/tmp-remote \
  ANSIBLE_SSH_CONTROL_PATH_DIR=$SITES_DIR/cp ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_FORKS=$SITES_COUNT \
  ANSIBLE_SSH_ARGS='-C -o ControlMaster=auto -o ControlPersist=2s'

# CPU seconds of every finished descendant of a site's SSH server.
site_cpu() {
  local stat
  stat=$(cat "/proc/$(cat "$SITES_DIR/s$1/sshd.pid")/stat")
  stat=${stat##*) }
  # Fields after the name: cutime and cstime are the 14th and 15th.
  # shellcheck disable=SC2086
  set -- $stat
  echo $((${14} + ${15}))
}

# Until the SSH sessions (kept open by ControlPersist) have ended, bounded.
wait_sessions_done() {
  local i pid tries
  for ((i = 1; i <= SITES_COUNT; i++)); do
    pid=$(cat "$SITES_DIR/s$i/sshd.pid")
    for ((tries = 0; tries < 100; tries++)); do
      [ -z "$(cat /proc/"$pid"/task/*/children 2>/dev/null | tr -d ' ')" ] && break
      sleep 0.1
    done
  done
}

declare -a before
for ((i = 1; i <= SITES_COUNT; i++)); do before[$i]=$(site_cpu "$i"); done

cat >vars.json <<EOF
{"rolling_update_firmware": "$work/fw-2.0.bin",
 "rolling_update_stage_dir": "$SITES_DIR/stage/{{ inventory_hostname }}",
 "rolling_update_vindlectl": "$build/cli/vindlectl", "rolling_update_report_dir": "$work/reports",
 "rolling_update_wait": 3000, "rolling_update_timeout": 120,
 "rolling_update_skip_if_field": 5, "rolling_update_skip_if_value": "fw-2.0",
 "vindle_waves": [1, "100%"], "vindle_max_fail_percentage": 10}
EOF
TIMEFORMAT='%R %U %S'
status=0
{ time ansible-playbook -i "$SITES_INVENTORY" \
    "$ROOT/ansible/ansible_collections/orvex/vindle/docs/rolling_update.yml" -e @vars.json \
    >"$work/run.log" 2>&1; } 2>"$work/time" || status=$?
read -r wall user sys <"$work/time"
wait_sessions_done
sed -n '/PLAY RECAP/,$p' "$work/run.log"
updated=$(grep -c '"ok": true' "$work/reports/rolling-update.json" || true)
echo "sites=$SITES_COUNT boxes_per_site=$SITES_BOXES forks=$ANSIBLE_FORKS file=$(stat -c %s fw-2.0.bin) bytes"
echo "playbook exit $status, wall ${wall}s, boxes ok $updated of $((SITES_COUNT * SITES_BOXES))"
echo "controller CPU: user ${user}s sys ${sys}s (ansible-playbook, its workers and SSH clients)"
total=0
for ((i = 1; i <= SITES_COUNT; i++)); do
  ticks=$(($(site_cpu "$i") - before[i]))
  total=$((total + ticks))
  printf 'site%-3d CPU %d.%02ds\n' "$i" $((ticks / hz)) $((ticks % hz * 100 / hz))
done
printf 'all site hosts CPU %d.%02ds\n' $((total / hz)) $((total % hz * 100 / hz))
exit $status
