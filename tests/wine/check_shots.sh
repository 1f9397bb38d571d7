#!/usr/bin/env bash
# Checks that the Wine cases took their screenshots: check_shots.sh CASES_DIR CASE:SHOT,SHOT ...
# Each must be a PNG image of the whole 1024x768 screen, and not a blank one: the window on it
# brings a score of colours or more (frame, caption, text), an empty screen just one.
# With RK514_WINE_ARCH=win32 it exits 77, as the cases did, where this machine runs no 32-bit programs.
set -euo pipefail
dir=$1
if [ "${RK514_WINE_ARCH:-win64}" = win32 ]; then
  source "$(dirname "$0")/wine32.sh"
  status=0
  rk514_wine32 >/dev/null || status=$?
  [ "$status" = 0 ] || exit "$status"
fi
shift
command -v identify >/dev/null || { echo "FAIL: identify is not installed (imagemagick)" >&2; exit 1; }
failed=0
for item in "$@"; do
  case_name=${item%%:*}
  IFS=, read -ra shots <<<"${item#*:}"
  for shot in "${shots[@]}"; do
    png="$dir/$case_name/shots/$shot.png"
    if [ ! -f "$png" ]; then
      echo "FAIL: no screenshot $png"; failed=1; continue
    fi
    info=$(identify -format '%m %wx%h %k' "$png" 2>&1) || { echo "FAIL: $png: $info"; failed=1; continue; }
    read -r format size colours <<<"$info"
    if [ "$format" != PNG ] || [ "$size" != 1024x768 ] || [ "$colours" -lt 8 ]; then
      echo "FAIL: $png is $info, not a 1024x768 PNG of a window"; failed=1; continue
    fi
    echo "ok: $png ($info)"
  done
done
exit $failed
