#!/usr/bin/env bash
# Builds the Debian package from a finished build and checks it without installing it:
# its files, its metadata, lintian, the desktop entry, the AppStream file, the man page, and
# the packaged program answering --version from a temporary root.
# Usage: check_package.sh BUILD_DIR   (exit 77: skipped, the reason on standard output)
set -euo pipefail
build=$(cd "$1" && pwd)

missing=()
for tool in dpkg-deb dpkg-shlibdeps lintian desktop-file-validate appstreamcli man cpack; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "SKIPPED: missing ${missing[*]} (tools/install-deps.sh installs them)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log") || { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/quorvane_*_*.deb)
[ -f "${debs[0]}" ] || fail "no quorvane_<version>_<arch>.deb in $(ls "$work")"
deb=${debs[0]}
echo "package: $(basename "$deb")"

listing=$(dpkg-deb -c "$deb")
for path in ./usr/lib/quorvane/quorvane "./usr/bin/quorvane -> ../lib/quorvane/quorvane" \
            ./usr/share/applications/quorvane.desktop ./usr/share/icons/hicolor/16x16/apps/quorvane.png \
            ./usr/share/icons/hicolor/256x256/apps/quorvane.png ./usr/share/metainfo/ \
            ./usr/share/man/man1/quorvane.1.gz ./usr/share/doc/quorvane/copyright \
            ./usr/share/doc/quorvane/changelog.gz ./usr/lib/systemd/user/quorvane.service \
            ./usr/lib/systemd/system/quorvane@.service; do
  grep -qF -- "$path" <<<"$listing" || fail "the package lacks $path"
done
[ "$(dpkg-deb -f "$deb" Section)" = net ] || fail "section is not net"
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "Depends lacks the Qt libraries: $(dpkg-deb -f "$deb" Depends)"

echo "lintian:"
lintian --fail-on error "$deb" 2>&1 | grep -v 'root privileges' || true
lintian --fail-on error "$deb" >/dev/null 2>&1 || fail "lintian reports an error"
# The hardening flags reach the binaries, and the package runs no maintainer scripts it does not need.
unwanted=$(lintian -I "$deb" 2>/dev/null | grep -E 'hardening-no-|maintscript-calls-ldconfig' || true)
[ -z "$unwanted" ] || fail "lintian: $unwanted"

root="$work/root"
dpkg -x "$deb" "$root"
grep -qx 'Exec=/usr/bin/quorvane' "$root/usr/share/applications/quorvane.desktop" || fail "desktop Exec"
desktop-file-validate "$root/usr/share/applications/quorvane.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml || fail "appstreamcli validate"
page=$(MANWIDTH=80 man -l "$root/usr/share/man/man1/quorvane.1.gz" 2>"$work/man.err")
[ ! -s "$work/man.err" ] || { cat "$work/man.err"; fail "man -l warns"; }
grep -q 'XDG_CONFIG_HOME' <<<"$page" || fail "man page"

version=$(env -u DISPLAY QT_QPA_PLATFORM=offscreen HOME="$work/home" "$root/usr/bin/quorvane" --version)
echo "packaged program: $version"
grep -q '1.3 Build 47' <<<"$version" || fail "--version"
echo "package checks passed"
