#!/usr/bin/env bash
# Runs the platform shims' test program (shims_test.exe, from the x86_64 Windows tree) under Wine
# in a fresh prefix, first with Wine acting as Windows XP, then as Windows 98.
# Usage: shims_run.sh path/to/shims_test.exe
set -euo pipefail

exe=${1:?usage: shims_run.sh path/to/shims_test.exe}
if [ ! -f "$exe" ]; then
  echo "error: $exe is missing: build the win64 tree first (cmake --build --preset win64)" >&2
  exit 1
fi
command -v wine >/dev/null || { echo "error: wine is not installed" >&2; exit 1; }

export WINEDEBUG=-all
# No Mono or Gecko: the test needs neither, and their installers would ask for a display.
export WINEDLLOVERRIDES="mscoree,mshtml="
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/rk514-shims-wine.XXXXXX")
export WINEPREFIX
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

timeout 180 wine wineboot -i >/dev/null 2>&1
timeout 60 wineserver -w

failed=0
for release in winxp:NT win98:9x; do
  version=${release%%:*}
  family=${release##*:}
  echo "== Wine as $version"
  timeout 60 wine reg add 'HKCU\Software\Wine' /v Version /d "$version" /f >/dev/null 2>&1
  status=0
  output=$(timeout 120 wine "$exe" 2>&1) || status=$?
  echo "$output"
  if ! grep -q "^platform: $family " <<<"$output"; then
    echo "error: the program did not run as the $family family" >&2
    failed=1
  fi
  if [ "$status" -ne 0 ]; then
    echo "error: shims_test.exe exited with $status as $version" >&2
    failed=1
  fi
done
exit $failed
