#!/usr/bin/env bash
# A rolling update across three sites of four boxes each, driven by
# ansible-playbook over real SSH from the controller of tools/lab/vindle-sites.
# Box 3 of site 2 answers every update with "error". Checks: check mode sends
# nothing; the update reaches the other 11 boxes with the controller's file
# (SHA-256 of what each box fetched) and fails only site 2, naming the box's
# text; a second run changes nothing; the combined report has 12 rows.
#   tests/ansible/sites_lab_test.sh BUILD_DIR
# Needs root, ansible-core and OpenSSH; ends by itself (timeout).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
SITES=3
BOXES=4
FAILING_SITE=2
FAILING_BOX=3
LIMIT_SECONDS=${SITES_TEST_LIMIT:-900}

if [ "${1:-}" != --inside ]; then
  build=$(readlink -f "${1:?usage: $0 BUILD_DIR}")
  for program in ansible-playbook ssh /usr/sbin/sshd; do
    command -v "$program" >/dev/null || { echo "SKIP: $program is missing"; exit 77; }
  done
  [ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root"; exit 77; }
  work=$(mktemp -d /tmp/vindle-sites-test.XXXXXX)
  trap 'rm -rf "$work"' EXIT
  head -c 700000 /dev/urandom >"$work/fw-2.0.bin"
  status=0
  timeout --kill-after=20 "$LIMIT_SECONDS" "$ROOT/tools/lab/vindle-sites" --sites $SITES --boxes $BOXES \
    --box "$build/tools/box/vindle-box" --box-args "--firmware fw-1.0 --update-firmware fw-2.0" \
    --box-extra "$FAILING_SITE.$FAILING_BOX" "--update-answer error --update-error flash-full" \
    -- bash "$0" --inside "$work" "$build" || status=$?
  [ $status = 0 ] && echo "PASS" || echo "FAIL (status $status)"
  exit $status
fi

work=$2
build=$3
cd "$work"
export ANSIBLE_CONFIG=$work/none.cfg ANSIBLE_COLLECTIONS_PATH=$ROOT/ansible ANSIBLE_NOCOLOR=1 \
  ANSIBLE_LOCAL_TEMP=$SITES_DIR/tmp-local ANSIBLE_REMOTE_TEMP=$SITES_DIR/tmp-remote \
  ANSIBLE_SSH_CONTROL_PATH_DIR=$SITES_DIR/cp ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_FORKS=$SITES \
  ANSIBLE_HOST_KEY_CHECKING=True

cat >vars.json <<EOF
{
  "rolling_update_firmware": "$work/fw-2.0.bin",
  "rolling_update_stage_dir": "$SITES_DIR/stage/{{ inventory_hostname }}",
  "rolling_update_vindlectl": "$build/cli/vindlectl",
  "rolling_update_report_dir": "$work/reports",
  "rolling_update_wait": 3000,
  "rolling_update_timeout": 60,
  "rolling_update_skip_if_field": 5,
  "rolling_update_skip_if_value": "fw-2.0",
  "vindle_waves": [1, "100%"],
  "vindle_max_fail_percentage": 50
}
EOF

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# play NAME [ansible-playbook args]: runs the example playbook; its status in
# $play_status, its output in NAME.log.
play() {
  local name=$1; shift
  play_status=0
  ansible-playbook -i "$SITES_INVENTORY" "$ROOT/ansible/ansible_collections/orvex/vindle/docs/rolling_update.yml" \
    -e @vars.json "$@" >"$name.log" 2>&1 || play_status=$?
  echo "--- $name: ansible-playbook exit $play_status, recap:"
  sed -n '/PLAY RECAP/,$p' "$name.log"
}

# recap HOST FIELD: a number of the PLAY RECAP line of HOST.
recap() {
  sed -n '/PLAY RECAP/,$p' "$1.log" | grep "^$2 " | grep -o "$3=[0-9]*" | cut -d= -f2
}

# Every file the boxes fetched, as "site.box sha256".
fetched() {
  local i j f
  for ((i = 1; i <= SITES; i++)); do
    for ((j = 1; j <= BOXES; j++)); do
      local dir=SITES_BOX_DIR_${i}_$j
      for f in "${!dir}"/*; do
        [ -f "$f" ] && echo "$i.$j $(sha256sum <"$f" | cut -d' ' -f1)"
      done
    done
  done
  return 0
}

# report_rows: the combined report's rows as "site ip result ok skipped".
report_rows() {
  /usr/bin/python3 - "$work/reports/rolling-update.json" "$work/reports/rolling-update.csv" <<'EOF'
import csv, json, sys
rows = json.load(open(sys.argv[1]))
with open(sys.argv[2], newline='') as f:
    csv_rows = list(csv.DictReader(f))
assert len(csv_rows) == len(rows), 'CSV has %d rows, JSON %d' % (len(csv_rows), len(rows))
for row, csv_row in zip(rows, csv_rows):
    assert csv_row['result'] == row['result'] and csv_row['site'] == row['site'], (row, csv_row)
    print(row['site'], row['ip'], row['result'].replace(' ', '_'), row['ok'], row['skipped'])
EOF
}

sha=$(sha256sum <"$work/fw-2.0.bin" | cut -d' ' -f1)

# 1. Check mode: the pre-flight passes everywhere and no box fetches anything.
play check --check
[ "$play_status" = 0 ] || fail "check mode exit $play_status"
[ -z "$(fetched)" ] || fail "check mode: boxes fetched files: $(fetched)"
rows=$(report_rows) || fail "check mode report unreadable"
[ "$(echo "$rows" | grep -c ' ready True False$')" = $((SITES * BOXES)) ] ||
  fail "check mode report: $rows"

# 2. The rolling update: 11 boxes updated, site 2 alone fails, naming its box.
play update
[ "$play_status" = 2 ] || fail "update exit $play_status (a failed host gives 2)"
for ((i = 1; i <= SITES; i++)); do
  expect_failed=0
  [ $i = $FAILING_SITE ] && expect_failed=1
  [ "$(recap update site$i failed)" = $expect_failed ] || fail "site$i failed=$(recap update site$i failed)"
  # A failed task counts as failed, not changed, in the recap.
  [ $expect_failed = 1 ] || [ "$(recap update site$i changed)" -ge 1 ] || fail "site$i changed nothing"
done
ok_fetched=0
all_fetched=$(fetched)
for ((i = 1; i <= SITES; i++)); do
  for ((j = 1; j <= BOXES; j++)); do
    [ $i.$j = $FAILING_SITE.$FAILING_BOX ] && continue
    if grep -qx "$i.$j $sha" <<<"$all_fetched"; then ok_fetched=$((ok_fetched + 1)); else fail "box $i.$j has no copy of the file"; fi
  done
done
[ $ok_fetched = $((SITES * BOXES - 1)) ] || fail "$ok_fetched boxes hold the file"
grep -q "10.77.0.$((FAILING_BOX + 1)): flash-full" update.log || fail "the failing box's text is not in the output"
rows=$(report_rows) || fail "update report unreadable"
echo "$rows"
[ "$(echo "$rows" | wc -l)" = $((SITES * BOXES)) ] || fail "report rows: $(echo "$rows" | wc -l)"
[ "$(echo "$rows" | grep -c ' ok True False$')" = $((SITES * BOXES - 1)) ] || fail "report: not 11 updated rows"
grep -q "^site$FAILING_SITE 10.77.0.$((FAILING_BOX + 1)) flash-full False False$" <<<"$rows" ||
  fail "report: the failing box's row"

# 3. Again: the updated boxes are skipped, nothing changes, site 2 still fails.
touch "$work/marker"
play again
[ "$play_status" = 2 ] || fail "second run exit $play_status"
for ((i = 1; i <= SITES; i++)); do
  [ "$(recap again site$i changed)" = 0 ] || fail "second run: site$i changed=$(recap again site$i changed)"
done
rows=$(report_rows) || fail "second report unreadable"
[ "$(echo "$rows" | grep -c ' ok True True$')" = $((SITES * BOXES - 1)) ] || fail "second run: not 11 skipped rows"
[ "$(echo "$rows" | wc -l)" = $((SITES * BOXES)) ] || fail "second report rows"
for ((i = 1; i <= SITES; i++)); do
  for ((j = 1; j <= BOXES; j++)); do
    [ $i.$j = $FAILING_SITE.$FAILING_BOX ] && continue
    dir=SITES_BOX_DIR_${i}_$j
    [ -z "$(find "${!dir}" -type f -newer "$work/marker")" ] || fail "second run: box $i.$j fetched again"
  done
done

if [ $failures -gt 0 ]; then
  for log in check update again; do echo "=== $log.log"; tail -60 "$log.log"; done
  exit 1
fi
exit 0
