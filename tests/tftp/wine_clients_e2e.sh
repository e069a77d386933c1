#!/bin/sh
# vindle-tftpd.exe under Wine serving Linux's atftp and tftp-hpa clients on
# loopback, both directions, byte-exact. Run inside a network namespace of
# its own with lo up and WINEPREFIX set (the Windows suite does both).
# Usage: wine_clients_e2e.sh VINDLE-TFTPD.EXE
set -u
exe=$1
for client in atftp tftp; do
  command -v "$client" >/dev/null || { echo "missing client: $client"; exit 1; }
done
work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/home" "$work/client"
head -c 300000 /dev/urandom >"$work/home/down.bin"
head -c 123457 /dev/urandom >"$work/client/up-atftp.bin"
cp "$work/client/up-atftp.bin" "$work/client/up-hpa.bin"
port=6969
# Wine sees the Linux root as drive Z:.
printf '[LISTEN-ON]\n127.0.0.1:%s\n[HOME]\nZ:%s/home\n[TFTP-OPTIONS]\noverwrite=y\nwindowsize=16\n' \
  "$port" "$work" >"$work/server.ini"
wine "$exe" "Z:$work/server.ini" >"$work/server.log" 2>&1 &
server=$!
# Wine starts slowly: wait for the server's own word, bounded.
ready=no
for _ in $(seq 1 600); do
  grep -q 'Accepting requests' "$work/server.log" && { ready=yes; break; }
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
if [ "$ready" != yes ]; then
  echo "server did not start:"; cat "$work/server.log"; exit 1
fi
fail=0
check() {  # NAME EXPECTED ACTUAL
  if cmp -s "$2" "$3"; then echo "ok: $1"; else echo "FAILED: $1"; fail=1; fi
}
cd "$work/client" || exit 1
timeout 60 atftp --option "blksize 1428" -g -r down.bin -l atftp-down.bin 127.0.0.1 "$port"
check "atftp read" "$work/home/down.bin" atftp-down.bin
# A window of 16 blocks: Windows sends it datagram by datagram.
timeout 60 atftp --option "blksize 1428" --option "windowsize 16" -g -r down.bin -l atftp-window.bin \
  127.0.0.1 "$port"
check "atftp read, window 16" "$work/home/down.bin" atftp-window.bin
timeout 60 atftp -p -l up-atftp.bin -r up-atftp.bin 127.0.0.1 "$port"
check "atftp write" up-atftp.bin "$work/home/up-atftp.bin"
timeout 60 tftp 127.0.0.1 "$port" -m binary -c get down.bin hpa-down.bin
check "tftp-hpa read" "$work/home/down.bin" hpa-down.bin
timeout 60 tftp 127.0.0.1 "$port" -m binary -c put up-hpa.bin up-hpa.bin
check "tftp-hpa write" up-hpa.bin "$work/home/up-hpa.bin"
if [ "$fail" -ne 0 ] || ls -a "$work/home" | grep -q '^\.vindle-upload-'; then
  echo "--- server report"; cat "$work/server.log"; exit 1
fi
exit 0
