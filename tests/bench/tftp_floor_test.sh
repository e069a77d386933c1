#!/usr/bin/env bash
# The benchmark's yardstick server must deliver what it is measured with:
# whole files, through windows and the wrap of the block number, fetched by
# the project's client on loopback.
#   tftp_floor_test.sh TFTP_FLOOR VINDLE_TFTP
set -euo pipefail
FLOOR=$1 CLIENT=$2
DIR=$(mktemp -d)
FLOOR_PID=""
cleanup() {
  [ -z "$FLOOR_PID" ] || kill "$FLOOR_PID" 2>/dev/null || true
  rm -rf "$DIR"
}
trap cleanup EXIT
mkdir "$DIR/serve" "$DIR/got"
: > "$DIR/serve/empty.bin"
head -c $((16 * 1428)) /dev/urandom > "$DIR/serve/window.bin"
# 65536 blocks of 512 bytes and a short one: the block number wraps.
head -c $((65536 * 512 + 100)) /dev/urandom > "$DIR/serve/wrap.bin"

mkfifo "$DIR/ready"
"$FLOOR" "$DIR/serve" 127.0.0.1:0 > "$DIR/ready" &
FLOOR_PID=$!
read -r -t 30 line < "$DIR/ready" || { echo "tftp-floor did not start"; exit 1; }
PORT=${line##*:}

fetch() {  # fetch NAME [client options...]
  local name=$1
  shift
  "$CLIENT" get --port "$PORT" --timeout 2000 "$@" 127.0.0.1 "$name" "$DIR/got/$name"
  cmp "$DIR/serve/$name" "$DIR/got/$name"
  rm -f "$DIR/got/$name"
}
fetch empty.bin --no-tsize
fetch window.bin --no-tsize --blksize 1428 --windowsize 16
fetch window.bin --no-tsize --blksize 1428 --windowsize 5
fetch window.bin --blksize 1428 --windowsize 16 --drop-data 5
fetch wrap.bin --no-tsize --windowsize 64
if "$CLIENT" get --port "$PORT" 127.0.0.1 missing.bin "$DIR/got/missing.bin" 2> "$DIR/err"; then
  echo "a missing file was served"
  exit 1
fi
grep -q "File Not Found" "$DIR/err" || { cat "$DIR/err"; exit 1; }
echo "tftp-floor: all fetches identical"
