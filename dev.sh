#!/usr/bin/env bash
# Vindle's developer entry point.
#   ./dev.sh run    install what is missing, build, start Vindle in the lab
#   ./dev.sh test   install what is missing, build, run the normal and the
#                   address+undefined sanitizer suites and every fuzz
#                   target for 15 s over its seed corpus
#   ./dev.sh tsan   the thread sanitizer suite (also part of CI)
#   ./dev.sh package  build/package/vindle_<version>_<arch>.deb from the
#                   normal build (install it with apt, see README)
#   ./dev.sh fuzz [SECONDS]  every fuzz target for SECONDS (default 60),
#                   one after the other; FUZZ_ARGS adds libFuzzer flags
#   ./dev.sh windows  the Windows build (mingw-w64) in build/windows and
#                   its unit tests under Wine, in a network namespace
# Every step is idempotent: a second call with everything in place only
# rebuilds what changed.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
JOBS=$(nproc)

PACKAGES=(g++ cmake ninja-build libgtest-dev libgmock-dev pkg-config
          qt6-base-dev libgl-dev fonts-dejavu-core xvfb xauth
          iproute2 util-linux procps atftp tftp-hpa curl strace systemd
          libcli11-dev nlohmann-json3-dev clang-14 libclang-rt-14-dev
          go-md2man dpkg-dev lintian desktop-file-utils appstream man-db
          imagemagick ansible-core openssh-server openssh-client python3-pytest
          mingw-w64 g++-mingw-w64-x86-64-posix wine wine64 googletest)

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

# The fuzz targets: clang with libFuzzer, only the core folders and
# vindlectl's parsers, no unit tests; only the targets themselves are built.
build_fuzz() {
  cmake -S "$ROOT" -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++-14 -DVINDLE_FUZZ=ON -DVINDLE_TESTS=OFF \
    -DVINDLE_COMPONENTS="net;discovery;config;tftp;cli" >/dev/null
  cmake --build build/fuzz -j "$JOBS" --target vindle_fuzz
}

# suite <dir> <name>: runs every test of a build; the lab tests need root or
# an unprivileged user namespace (tools/lab/vindle-lab checks and says why).
suite() {
  local dir=$1 name=$2
  echo "=== $name suite ==="
  ctest --test-dir "$dir" -j "$JOBS" --output-on-failure --timeout 600
}

# The folders the Windows build has so far; the others follow as they are
# ported to the platform layer.
WINDOWS_COMPONENTS="platform;net;discovery;config;tftp"

build_windows() {
  build build/windows -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVINDLE_COMPONENTS="$WINDOWS_COMPONENTS"
}

# The Windows unit tests under Wine, with a prefix of its own, inside a
# network namespace of its own (only lo, up): nothing reaches the real
# interfaces.
suite_windows() {
  echo "=== Windows suite (Wine) ==="
  local userns=()
  [ "$(id -u)" -eq 0 ] || userns=(--user --map-root-user)
  WINEPREFIX="$ROOT/build/windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    unshare "${userns[@]}" --net sh -c '
      ip link set lo up || exit 1
      wineboot -i >/dev/null 2>&1
      ctest --test-dir build/windows -j 1 --output-on-failure --timeout 600
      status=$?
      wineserver -k 2>/dev/null
      exit $status'
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
    build_fuzz
    build_windows
    suite build/main normal
    suite build/asan address+undefined
    suite_windows
    echo "=== fuzz targets ==="
    ctest --test-dir build/fuzz -L fuzz -j "$JOBS" --output-on-failure
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
  windows)
    install_packages
    build_windows
    suite_windows
    ;;
  package)
    install_packages
    build build/main -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cpack --config build/main/CPackConfig.cmake -B build/package
    ;;
  fuzz)
    seconds=${2:-60}
    install_packages
    build_fuzz
    export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    # New inputs and crash files stay in the build tree; a crash input
    # worth keeping is copied into fuzz/corpus/<target>/ by hand.
    scratch=$ROOT/build/fuzz/fuzz-scratch/run
    failed=()
    for target in build/fuzz/fuzz/fuzz_*; do
      [ -x "$target" ] || continue
      name=${target##*/fuzz_}
      mkdir -p "$scratch/corpus/$name" "$scratch/artifacts"
      echo "=== fuzz $name, ${seconds} s ==="
      # shellcheck disable=SC2086  # FUZZ_ARGS is a list of flags
      if ! timeout $((seconds + 120)) "$target" -max_total_time="$seconds" -timeout=10 \
          -rss_limit_mb=2048 -print_final_stats=1 ${FUZZ_ARGS:-} \
          -artifact_prefix="$scratch/artifacts/$name-" \
          "$scratch/corpus/$name" "$ROOT/fuzz/corpus/$name"; then
        failed+=("$name")
      fi
    done
    if [ ${#failed[@]} -gt 0 ]; then
      echo "fuzz targets that failed: ${failed[*]} (inputs in $scratch/artifacts)"
      exit 1
    fi
    ;;
  *)
    sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
