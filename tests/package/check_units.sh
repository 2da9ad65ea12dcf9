#!/usr/bin/env bash
# The systemd units as systemd-analyze sees them: every key known and every value parsed, the
# commands and the man page of Documentation= found. ExecStart is pointed at a stand-in for the
# program, as the install rule points it at the installed one.
# Usage: check_units.sh SOURCE_DIR   (exit 77: skipped, the reason on standard output)
set -euo pipefail
packaging=$(cd "$1/packaging" && pwd)

missing=()
for tool in systemd-analyze man; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "SKIPPED: missing ${missing[*]} (tools/install-deps.sh installs them)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/man/man1" "$work/runtime" "$work/units"
printf '#!/bin/sh\n' >"$work/bin/quorvane"
chmod +x "$work/bin/quorvane"
cp "$packaging/quorvane.1" "$work/man/man1/"
for unit in quorvane.service quorvane@.service; do
  sed "s|/usr/bin/quorvane|$work/bin/quorvane|" "$packaging/$unit" >"$work/units/$unit"
done

# A misspelt key or a value systemd cannot parse is only a warning, and the exit status stays 0:
# any output at all fails.
failed=0
verify() {
  local out
  out=$(env MANPATH="$work/man" XDG_RUNTIME_DIR="$work/runtime" systemd-analyze verify "$@" 2>&1) || failed=1
  [ -z "$out" ] || { echo "$out"; failed=1; }
}
verify --user "$work/units/quorvane.service"
verify --system "$work/units/quorvane@.service"
[ "$failed" = 0 ] || { echo "FAIL: systemd-analyze verify"; exit 1; }
echo "units verified: $(systemd-analyze --version | head -n 1)"
