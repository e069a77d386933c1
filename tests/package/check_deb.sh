#!/usr/bin/env bash
# check_deb.sh BUILD_DIR CPACK EXPECTED_FILES VERSION
# Builds the Debian package from the build with CPack into a temporary
# folder and checks its metadata, its contents and lintian's verdict. The
# package is never installed. Exit 77 (skipped) when a tool is missing.
set -euo pipefail
build=$1
cpack=$2
expected=$3
version=$4

. "$(dirname "$0")/skip_unless.sh"
skip_unless_tools dpkg-deb dpkg-shlibdeps lintian
skip_unless_man_pages "$build"

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
if ! log=$("$cpack" --config "$build/CPackConfig.cmake" -B "$out" 2>&1); then
  echo "$log"
  exit 1
fi
deb=$out/vindle_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || {
  echo "cpack made no $(basename "$deb"):"
  echo "$log"
  exit 1
}

failed=0
fail() {
  echo "$*"
  failed=1
}
field() { dpkg-deb -f "$deb" "$1"; }

[ "$(field Package)" = vindle ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), not $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture: $(field Architecture)"
depends=$(field Depends)
for runtime in libqt6core6 libqt6gui6 libqt6widgets6 libcap2-bin; do
  grep -Eq "(^|, )$runtime( |,|$)" <<<"$depends" || fail "Depends lacks $runtime: $depends"
done
# Nothing the build needs may be required at run time.
if grep -Eq -- '-dev\b|gtest|gmock|clang|cmake|ninja' <<<"$depends"; then
  fail "Depends names build tools or headers: $depends"
fi

if ! difference=$(diff <(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sort) <(sort "$expected")); then
  fail "package contents differ from $expected (< package only, > expected only):"
  grep '^[<>]' <<<"$difference" || true
fi
control=$out/control
dpkg-deb -e "$deb" "$control"
grep -qx /etc/vindle/vindle-tftpd.ini "$control/conffiles" || fail "the INI file is not a conffile"
for program in /usr/bin/vindle /usr/bin/vindlectl; do
  grep -q "$program" "$control/postinst" || fail "postinst does not setcap $program"
done
grep -q 'setcap cap_net_bind_service=+ep' "$control/postinst" || fail "postinst grants no capability"
# The unit is installed, never enabled by the package.
if grep -Eq 'systemctl (enable|start)|deb-systemd-helper enable' "$control/postinst"; then
  fail "postinst enables or starts the service"
fi
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/vindle/changelog.gz | zcat | head -1 |
  grep -q "^vindle ($version)" || fail "the changelog's first entry is not $version"

if ! verdict=$(lintian --fail-on error "$deb" 2>&1); then
  fail "lintian reports errors:"
  echo "$verdict"
fi

[ $failed -eq 0 ] && echo "$(basename "$deb"): Depends: $depends; lintian without errors"
exit $failed
