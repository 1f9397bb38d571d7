#!/usr/bin/env bash
# Runs the platform's test program (platform_test.exe) under Wine in a fresh prefix, first with
# Wine acting as Windows XP, then as Windows 98.
# Usage: platform_run.sh path/to/platform_test.exe ARCH [TEMPLATES]
# TEMPLATES: the suite's template prefixes (prepare_templates.sh); the prefix is then a copy of
# its win98 one rather than a new one booted here.
# ARCH win32: the i686 program in a 32-bit prefix (exit code 77 where this machine runs no 32-bit
# programs); win64: the x86_64 one in a 64-bit prefix.
set -euo pipefail

exe=${1:?usage: platform_run.sh path/to/platform_test.exe win32|win64}
arch=${2:-win64}
templates=${3:-}
if [ ! -f "$exe" ]; then
  echo "error: $exe is missing: build the $arch tree first (cmake --build --preset $arch)" >&2
  exit 1
fi
source "$(dirname "$0")/wine32.sh"
if [ "$arch" = win32 ]; then
  status=0
  rk514_wine32 || status=$?
  [ "$status" = 0 ] || exit "$status"
fi
command -v wine >/dev/null || { echo "error: wine is not installed" >&2; exit 1; }

export WINEDEBUG=-all
# No Mono or Gecko: the test needs neither, and their installers would ask for a display.
export WINEDLLOVERRIDES="mscoree,mshtml="
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/rk514-platform-wine.XXXXXX")
export WINEPREFIX
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

if [ -n "$templates" ]; then
  rk514_copy_prefix "$templates/win98" "$WINEPREFIX" ||
    { echo "error: cannot copy the template prefix $templates/win98" >&2; exit 1; }
elif ! rk514_wine_boot "$arch" >"$WINEPREFIX.boot.log" 2>&1; then
  echo "error: Wine cannot set up a prefix in $WINEPREFIX:" >&2
  tail -5 "$WINEPREFIX.boot.log" >&2
  rm -f "$WINEPREFIX.boot.log"
  exit 1
fi
rm -f "$WINEPREFIX.boot.log"
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
    echo "error: platform_test.exe exited with $status as $version" >&2
    failed=1
  fi
done
exit $failed
