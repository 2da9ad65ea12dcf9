#!/usr/bin/env bash
# Installs the Debian packages the build, the tests (the package check among them), the
# benchmarks, the fuzzer and the format check need.
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
packages=(
  cmake make g++ ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev
  xvfb xauth locales
  dpkg-dev file lintian desktop-file-utils appstream man-db systemd procps
  clang libclang-rt-14-dev clang-format
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
# The log tests format dates under fixed locales.
for loc in en_US.UTF-8 en_GB.UTF-8; do
  if ! locale -a 2>/dev/null | grep -qi "^${loc/UTF-8/utf8}$"; then
    $SUDO sed -i "s/^# *${loc} UTF-8/${loc} UTF-8/" /etc/locale.gen
    need_gen=1
  fi
done
if [ "${need_gen:-0}" = 1 ]; then $SUDO locale-gen; fi
