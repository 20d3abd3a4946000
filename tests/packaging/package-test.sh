#!/usr/bin/env bash
# The Debian package as a lab administrator gets it: lintian finds no error and no warning; the
# desktop entry and the AppStream metainfo inside it validate; unpacked into a scratch root
# (dpkg-deb -x), its programs tell the project's version and every manual page renders without a
# warning; the udev rule lies in udev's rules folder.
#   package-test.sh PACKAGE.deb VERSION
set -uo pipefail
deb=${1:?usage: package-test.sh PACKAGE.deb VERSION}
version=${2:?usage: package-test.sh PACKAGE.deb VERSION}
passed=0 failed=0
check() {  # check NAME COMMAND...: runs the command, counts and tells the outcome
  local name=$1; shift
  local out
  if out=$("$@" 2>&1); then
    passed=$((passed + 1)); echo "ok: $name"
  else
    failed=$((failed + 1)); echo "FAILED: $name"; [ -n "$out" ] && sed 's/^/    /' <<<"$out"
  fi
}

root=$(mktemp -d "${TMPDIR:-/tmp}/moirex-package-XXXXXX")
trap 'rm -rf "$root"' EXIT

# lintian's notes (I:) are printed for the record; errors and warnings fail.
lintian --display-info --fail-on error,warning "$deb" >"$root.lintian" 2>&1
lintian_status=$?
lintian_out=$(grep -v 'running with root privileges is not recommended' "$root.lintian")
rm -f "$root.lintian"
[ -n "$lintian_out" ] && sed 's/^/    lintian: /' <<<"$lintian_out"
check "lintian: no error, no warning" test "$lintian_status" -eq 0

dpkg-deb -x "$deb" "$root" || { echo "FAILED: dpkg-deb -x $deb"; exit 1; }
check "package version is $version" test "$(dpkg-deb -f "$deb" Version)" = "$version"

app=io.github.moirex.Moirex
check "desktop entry validates" desktop-file-validate "$root/usr/share/applications/$app.desktop"
check "metainfo validates" appstreamcli validate --no-net "$root/usr/share/metainfo/$app.metainfo.xml"
check "metainfo names version $version" grep -q "<release version=\"$version\"" \
  "$root/usr/share/metainfo/$app.metainfo.xml"
check "udev rule in udev's rules folder" test -f "$root/usr/lib/udev/rules.d/70-moirex-serial.rules"

# Each installed program tells the version, and has its manual page.
for program in "$root"/usr/bin/*; do
  name=$(basename "$program")
  check "$name --version" test "$("$program" --version)" = "$name $version"
  check "manual page of $name" test -f "$root/usr/share/man/man1/$name.1.gz"
done

# Every page as man renders it, with groff's warnings on: a non-empty text, no warning.
render() {
  local warnings text
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$1" 2>&1 >/dev/null)
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -E UTF-8 -l "$1" 2>/dev/null)
  [ -z "$warnings" ] || { echo "$warnings"; return 1; }
  [ "$(wc -l <<<"$text")" -gt 10 ] || { echo "the page is nearly empty"; return 1; }
}
for page in "$root"/usr/share/man/man1/*.1.gz; do
  check "man -l $(basename "$page")" render "$page"
done
check "moirexctl's page has every command" bash -c '
  page=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -E UTF-8 -l "$1/usr/share/man/man1/moirexctl.1.gz" 2>/dev/null)
  while IFS=$'"'\t'"' read -r name summary; do
    grep -q "moirexctl $name\$" <<<"$page" || { echo "missing: moirexctl $name"; exit 1; }
  done < <("$1/usr/bin/moirexctl" --commands)' _ "$root"

# Installed under a system prefix and run as root, moirexctl keeps its files in root's XDG
# folders, never beside itself. Needs root and a mount namespace (a tmpfs over /usr/local/bin,
# seen by nothing outside it); skipped where the machine does not allow that.
installed_files() {
  local home="$root/xdg-home"
  mkdir -p "$home" "$root/cwd"
  unshare -m bash -c '
    mount -t tmpfs moirex-package-test /usr/local/bin || exit 77
    cp "$1/usr/bin/moirexctl" /usr/local/bin/ || exit 1
    cd "$1/cwd" && env HOME="$2" XDG_CONFIG_HOME= XDG_DATA_HOME= MOIREX_HOME= \
      /usr/local/bin/moirexctl setup --pump SIM --mfc-a SIM --mfc-b SIM --no >/dev/null 2>&1
    left=$(ls -A /usr/local/bin | grep -v "^moirexctl$")
    [ -z "$left" ] || { echo "written beside the installed program: $left"; exit 1; }' _ "$root" "$home" || return
  [ -f "$home/.config/moirex/moirex.ini" ] || { echo "no moirex.ini in ~/.config/moirex"; return 1; }
  [ -d "$home/.local/share/moirex/Userdata" ] || { echo "no Userdata in ~/.local/share/moirex"; return 1; }
}
if [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
  check "installed moirexctl run as root keeps its files in the XDG folders" installed_files
else
  echo "skipped: installed program's files (needs root and a mount namespace)"
fi

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
