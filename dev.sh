#!/usr/bin/env bash
# Vindle's developer entry point.
#   ./dev.sh run    install what is missing, build, start Vindle in the lab
#   ./dev.sh test   install what is missing, build, run the normal and the
#                   address+undefined sanitizer suites
#   ./dev.sh tsan   the thread sanitizer suite (also part of CI)
# Every step is idempotent: a second call with everything in place only
# rebuilds what changed.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
JOBS=$(nproc)

PACKAGES=(g++ cmake ninja-build libgtest-dev libgmock-dev pkg-config
          qt6-base-dev libgl-dev fonts-dejavu-core xvfb xauth
          iproute2 util-linux procps atftp tftp-hpa curl
          libcli11-dev nlohmann-json3-dev)

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# build <dir> [cmake args...]
build() {
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

# suite <dir> <name>: runs every test of a build; the lab tests need root or
# an unprivileged user namespace (tools/lab/vindle-lab checks and says why).
suite() {
  local dir=$1 name=$2
  echo "=== $name suite ==="
  ctest --test-dir "$dir" -j "$JOBS" --output-on-failure --timeout 600
}

cmd=${1:-}
case "$cmd" in
  run)
    install_packages
    build build/main -DCMAKE_BUILD_TYPE=RelWithDebInfo
    exec "$ROOT/tools/run-demo.sh" "$ROOT/build/main"
    ;;
  test)
    install_packages
    build build/main -DCMAKE_BUILD_TYPE=RelWithDebInfo
    build build/asan -DCMAKE_BUILD_TYPE=Debug -DVINDLE_SANITIZE=address
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export LSAN_OPTIONS=suppressions=$ROOT/tools/sanitizer/lsan.supp
    suite build/main normal
    suite build/asan address+undefined
    if [ "${CI:-}" = true ] || [ "${VINDLE_TSAN:-}" = 1 ]; then
      "$0" tsan
    fi
    ;;
  tsan)
    install_packages
    build build/tsan -DCMAKE_BUILD_TYPE=Debug -DVINDLE_SANITIZE=thread
    export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$ROOT/tools/sanitizer/tsan.supp"
    suite build/tsan thread
    ;;
  *)
    sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
