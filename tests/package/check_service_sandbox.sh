#!/usr/bin/env bash
# check_service_sandbox.sh BUILD_DIR
# The installed service unit and program together. systemd-analyze rates
# the unit's exposure at 2.0 or below. Then the installed vindle-tftpd runs
# the way the unit runs it, as far as that works without a running systemd:
# in a network namespace of its own (only lo), with /proc mounted as
# ProtectProc=invisible and ProcSubset=pid mount it, as an unprivileged user
# holding only CAP_NET_BIND_SERVICE, without new privileges, under the
# unit's UMask. An upload and a download must work there, the upload must
# be linked in through /proc/self/fd, and every system call the program
# makes must be one the unit's SystemCallFilter allows.
# Exit 77 (skipped) when a tool or root is missing.
set -euo pipefail
build=$1

. "$(dirname "$0")/skip_unless.sh"
skip_unless_tools systemd-analyze unshare setpriv strace tftp ip
if [ "$(id -u)" != 0 ] || ! id nobody >/dev/null 2>&1; then
  echo "skipped: needs root and the user nobody"
  exit 77
fi

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$build" --prefix /usr >"$root/install.log" 2>&1 || {
  cat "$root/install.log"
  exit 1
}
chmod 755 "$root"

failed=0
fail() {
  echo "$*"
  failed=1
}

unit=$root/lib/systemd/system/vindle-tftpd.service
exposure=$(timeout 60 systemd-analyze security --offline=true --threshold=20 "$unit" 2>&1) ||
  fail "the unit's exposure is above 2.0: $(grep 'Overall' <<<"$exposure")"
value() { sed -n "s/^$1=//p" "$unit" | tail -1; }
group=$(id -gn nobody)

home=$root/home
mkdir "$home"
head -c 70000 /dev/urandom >"$home/served.bin"
head -c 30000 /dev/urandom >"$root/upload.bin"
chown nobody:"$group" "$home"
ini=$root/vindle-tftpd.ini
printf '[HOME]\n%s\n' "$home" >"$ini"
trace=$root/trace
out=$root/out

# Runs as PID 1 of its own namespaces: nothing it starts outlives it.
sandbox() {
  mount -t proc -o hidepid=invisible,subset=pid proc /proc
  ip link set lo up
  umask "$(value UMask)"
  mkfifo "$root/lines"
  strace -f -qq -o "$trace" \
    setpriv --reuid=nobody --regid="$group" --clear-groups --no-new-privs \
    --inh-caps=-all,+net_bind_service --ambient-caps=-all,+net_bind_service \
    --bounding-set=-all,+net_bind_service \
    "$root/usr/sbin/vindle-tftpd" "$ini" >"$root/lines" 2>&1 &
  local tracer=$!
  exec 3<"$root/lines"
  local line ready=0
  while IFS= read -r -t 20 line <&3; do
    echo "$line" >>"$out"
    if [ "$line" = "Accepting requests.." ]; then
      ready=1
      break
    fi
  done
  cat <&3 >>"$out" &
  [ $ready = 1 ] || return 1
  (cd "$root" && timeout 20 tftp -m octet 127.0.0.1 -c put upload.bin uploaded.bin) || return 2
  (cd "$root" && timeout 20 tftp -m octet 127.0.0.1 -c get served.bin fetched.bin) || return 3
  # setpriv became the server: the first PID of the trace is its own.
  kill -TERM "$(awk '{ print $1; exit }' "$trace")"
  wait "$tracer"
}
export -f sandbox value
export root trace out ini unit group
status=0
timeout 120 unshare --mount --propagation private --net --pid --fork bash -c sandbox || status=$?
case $status in
  0) ;;
  1) fail "vindle-tftpd did not come up in the sandbox: $(cat "$out")" ;;
  2) fail "the upload failed in the sandbox: $(cat "$out")" ;;
  3) fail "the download failed in the sandbox: $(cat "$out")" ;;
  *) fail "the sandbox ended with status $status: $(cat "$out")" ;;
esac
if [ $status = 0 ]; then
  grep -qx "ini file: $ini" "$out" || fail "no line names the INI file: $(cat "$out")"
  cmp -s "$root/upload.bin" "$home/uploaded.bin" || fail "the uploaded file differs"
  cmp -s "$home/served.bin" "$root/fetched.bin" || fail "the fetched file differs"
  mode=$(stat -c %a "$home/uploaded.bin")
  [ "$mode" = 640 ] || fail "the uploaded file has mode $mode, not 640 under UMask $(value UMask)"
  grep -Eq 'linkat\(AT_FDCWD, "/proc/self/fd/[0-9]+", .*= 0$' "$trace" ||
    fail "the upload was not linked in through /proc/self/fd"
fi

# The filter as the unit writes it: the first line allows, the others deny.
expand() {
  local name
  systemd-analyze syscall-filter "$1" | tail -n +2 | sed 's/^ *//; /^#/d; /^$/d' | while read -r name; do
    case $name in
      @*) expand "$name" ;;
      *) echo "$name" ;;
    esac
  done
}
allowed=$(expand @system-service | sort -u)
for entry in $(sed -n 's/^SystemCallFilter=~//p' "$unit"); do
  allowed=$(comm -23 <(echo "$allowed") <(expand "$entry" | sort -u))
done
# Only what the program does after setpriv became it.
used=$(awk 'started { print $2 } /execve\("[^"]*\/vindle-tftpd"/ { started = 1 }' "$trace" |
  sed -n 's/^\([a-z0-9_]*\)(.*/\1/p' | sort -u)
[ -n "$used" ] || fail "no system calls of vindle-tftpd were traced"
denied=$(comm -23 <(echo "$used") <(echo "$allowed"))
[ -z "$denied" ] || fail "system calls outside the unit's filter: $denied"

[ $failed -eq 0 ] && echo "$(grep 'Overall' <<<"$exposure"); served, uploaded and filtered as the unit allows"
exit $failed
