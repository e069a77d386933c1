#!/usr/bin/env bash
# Fails when a core folder or the command-line tool includes an operating
# system header: those belong in platform/ (its posix/ and win32/ sides).
# Usage: check_core_no_os_headers.sh ROOT FOLDER...
set -u
root=${1:-.}
shift
cd "$root" || exit 2
folders=("$@")
[ ${#folders[@]} -gt 0 ] || folders=(net discovery config tftp cli)
pattern='^\s*#\s*include\s*<(sys/|unistd\.h|poll\.h|fcntl\.h|netinet/|arpa/|termios\.h|signal\.h|csignal|pthread\.h|linux/|net/if|ifaddrs\.h|netdb\.h|dirent\.h|io\.h|windows\.h|winsock2?\.h|ws2[a-z]*\.h|iphlpapi\.h|mswsock\.h)'
hits=$(grep -rnE "$pattern" "${folders[@]}" 2>/dev/null | grep -v '^config/dialogs/')
if [ -n "$hits" ]; then
  echo "core folders must reach the system through platform/:"
  echo "$hits"
  exit 1
fi
echo "no OS header in: ${folders[*]}"
