#!/usr/bin/env bash
# check_install.sh BUILD_DIR EXPECTED_FILES VERSION
# Installs the build into a temporary DESTDIR with the prefix /usr and checks
# what lands there: the file list, the desktop entry, the AppStream
# metainfo, the systemd unit and the man pages. Exit 77 (skipped) when a
# checker is missing; systemd-analyze is used where it exists.
set -euo pipefail
build=$1
expected=$2
version=$3

. "$(dirname "$0")/skip_unless.sh"
skip_unless_tools desktop-file-validate appstreamcli man
skip_unless_man_pages "$build"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$build" --prefix /usr >"$root.log" 2>&1 || {
  cat "$root.log"
  rm -f "$root.log"
  exit 1
}
rm -f "$root.log"

failed=0
fail() {
  echo "$*"
  failed=1
}

if ! difference=$(diff <(cd "$root" && find . \( -type f -o -type l \) | sort) <(sort "$expected")); then
  fail "installed files differ from $expected (< installed only, > expected only):"
  grep '^[<>]' <<<"$difference" || true
fi
for program in usr/bin/vindle usr/bin/vindlectl usr/sbin/vindle-tftpd; do
  [ -x "$root/$program" ] || fail "$program is not executable"
done

desktop=$root/usr/share/applications/de.orvex.vindle.desktop
desktop-file-validate "$desktop" | grep -v ': hint: ' && fail "desktop-file-validate complains"
appstreamcli validate --no-net "$root/usr/share/metainfo/de.orvex.vindle.metainfo.xml" ||
  fail "appstreamcli validate fails"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/de.orvex.vindle.metainfo.xml" ||
  fail "the metainfo's release is not $version"

unit=$root/lib/systemd/system/vindle-tftpd.service
grep -qx 'ExecStart=/usr/sbin/vindle-tftpd /etc/vindle/vindle-tftpd.ini' "$unit" ||
  fail "the unit does not start the installed /usr/sbin/vindle-tftpd"
if command -v systemd-analyze >/dev/null; then
  # The unit as installed names /usr/sbin; verify a copy that names the
  # program in DESTDIR, and without looking up man pages on this machine.
  mkdir "$root/verify"
  sed "s|^ExecStart=/usr/sbin/|ExecStart=$root/usr/sbin/|" "$unit" >"$root/verify/vindle-tftpd.service"
  if ! out=$(systemd-analyze verify --man=no "$root/verify/vindle-tftpd.service" 2>&1) ||
    grep -q 'vindle-tftpd' <<<"$out"; then
    fail "systemd-analyze verify: $out"
  fi
else
  echo "systemd-analyze is missing: the unit is not verified"
fi

for page in "$root"/usr/share/man/man*/*.gz; do
  out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man fails on $page"
  [ -z "$out" ] || fail "man warns on ${page#"$root"}: $out"
  zcat "$page" | grep -q "vindle $version" || fail "${page#"$root"} does not name version $version"
done

[ $failed -eq 0 ] && echo "install into DESTDIR: $(wc -l <"$expected") files as expected, all checks pass"
exit $failed
