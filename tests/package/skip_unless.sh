# Sourced by the package checks: each function exits 77 (skipped) with the
# reason when what the check needs is missing; ./dev.sh test installs all.

# skip_unless_tools TOOL...: every TOOL is on the PATH.
skip_unless_tools() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null; then
      echo "skipped: $tool is missing (./dev.sh test installs it)"
      exit 77
    fi
  done
}

# skip_unless_man_pages BUILD_DIR: the build made its man pages.
skip_unless_man_pages() {
  if ! ls "$1"/man/*.gz >/dev/null 2>&1; then
    echo "skipped: no man pages were built (go-md2man was missing at configure time)"
    exit 77
  fi
}
