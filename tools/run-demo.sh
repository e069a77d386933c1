#!/usr/bin/env bash
# Starts Vindle on your display against simulated boxes in the lab (an
# isolated network of namespaces, see tools/lab/vindle-lab), so that you can
# watch it find the boxes, connect to one and update it.
#
#   tools/run-demo.sh BUILD_DIR [--boxes N]
#
# ./dev.sh run builds build/main and calls this with it. Needs root or
# unprivileged user namespaces (the lab says what is missing) and a display;
# without one it tells how to use a virtual display. The demo keeps its own
# settings and update files under BUILD_DIR/demo and never touches yours.
set -eu

usage() {
  sed -n '6p' "$0" | sed 's/^# *//'
  exit 2
}

root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || usage
build=$(cd "$1" && pwd)
shift
boxes=3
while [ $# -gt 0 ]; do
  case $1 in
    --boxes) [ $# -ge 2 ] || usage; boxes=$2; shift 2 ;;
    *) usage ;;
  esac
done
case $boxes in
  ''|*[!0-9]*) echo "run-demo: --boxes needs a number from 1 to 20"; exit 2 ;;
esac
if [ "$boxes" -lt 1 ] || [ "$boxes" -gt 20 ]; then
  echo "run-demo: --boxes needs a number from 1 to 20"
  exit 2
fi

vindle=$build/app/vindle
box=$build/tools/box/vindle-box
for program in "$vindle" "$box"; do
  if [ ! -x "$program" ]; then
    echo "run-demo: $program is missing; build first (./dev.sh run does both)."
    exit 1
  fi
done

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat <<EOT
run-demo: there is no display to show Vindle on (neither DISPLAY nor
WAYLAND_DISPLAY is set). Vindle is a desktop program. On a machine without a
screen, run the demo on a virtual display instead:

    xvfb-run -a -s '-screen 0 1280x800x24' ./dev.sh run

and, from a second terminal, take a picture of that display while it runs
(xvfb-run prints nothing; its display is usually :99, see 'ls /tmp/.X11-unix'):

    DISPLAY=:99 import -window root vindle-demo.png
EOT
  exit 1
fi

demo=$build/demo
mkdir -p "$demo/config" "$demo/updates" "$demo/logs"
# Update files big enough that the progress bar has something to show.
for name in system-update.bin application-update.bin software-update.bin; do
  if [ ! -s "$demo/updates/$name" ]; then
    head -c $((24 * 1024 * 1024)) /dev/urandom > "$demo/updates/$name"
  fi
done

lab_args=(--boxes "$boxes")
for i in $(seq 1 "$boxes"); do
  lab_args+=(--box-cmd "exec '$box' --interface eth0 > '$demo/logs/box$i.log' 2>&1")
done

cat <<EOT
Vindle starts in the lab with $boxes simulated box(es), 10.77.0.2 and up.
  1. The boxes appear in the list, each with its address over its MAC.
  2. Right-click a box and choose "Verbinden": the status turns to "verbunden".
  3. Right-click it again, choose "System Update" and pick
     system-update.bin (the file chooser opens in $demo/updates)
     The box fetches the file from Vindle's TFTP server, the progress bar
     moves, and a message box gives the box's verdict.
  4. "Beenden" closes Vindle and removes the lab.
Vindle's TFTP report lines follow here; the boxes log to $demo/logs/.

EOT

# The file chooser starts in the working directory: the update files.
cd "$demo/updates"
exec "$root/tools/lab/vindle-lab" "${lab_args[@]}" -- env XDG_CONFIG_HOME="$demo/config" "$vindle"
