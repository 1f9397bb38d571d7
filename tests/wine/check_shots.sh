#!/usr/bin/env bash
# Compares the Wine cases' screenshots with the pictures of the dialogs kept in the source tree:
#   check_shots.sh REFERENCES CASES_DIR CASE:SHOT,SHOT ...
# CASES_DIR/CASE/shots/SHOT.png must be a PNG image of the whole 1024x768 screen, not a blank one
# (a window brings several colours, seven even in Windows 95's plain look; an empty screen one),
# and the same picture as its reference REFERENCES/RELEASE-SHOT.png (RELEASE: the case name's
# first word, win95 or win98, whose title bars differ) put back on a black screen where it was
# cut from, but for at most RK514_SHOT_TOLERANCE pixels (default below). Masked out of the
# comparison, as it differs from run to run: the inside of the progress bar, which is wherever
# the bar had got to when the picture was taken.
# A screenshot that differs leaves SHOT.diff.png beside it (the differing pixels in red).
#
# With RK514_SHOTS_RENEW=1 (scripts/wine_pictures.sh), each reference is first cut anew from its
# first screenshot in the list (the window's place is in SHOT.window, written by the dialog
# driver) and labelled with the Wine that drew it; the rest are then compared with it.
# With RK514_WINE_ARCH=win32 it exits 77, as the cases did, where this machine runs no 32-bit programs.
set -euo pipefail
references=$1 dir=$2
shift 2
if [ "${RK514_WINE_ARCH:-win64}" = win32 ]; then
  source "$(dirname "$0")/wine32.sh"
  status=0
  rk514_wine32 >/dev/null || status=$?
  [ "$status" = 0 ] || exit "$status"
fi
command -v convert >/dev/null || { echo "FAIL: convert is not installed (imagemagick)" >&2; exit 1; }
# Screenshots of the same dialog are the same picture, pixel for pixel, once the bar is masked:
# measured over five runs of every case (89 screenshots), unmasked they differed in up to 231
# pixels, all inside the bar. The few pixels allowed are a margin for a glyph drawn a hair
# differently, far below what a fault makes (check_shots_test.sh: a clipped word 122 pixels, a
# button moved by 2 pixels 239, an inactive caption thousands). The texts themselves are
# compared byte for byte by the cases' dumps.
tolerance=${RK514_SHOT_TOLERANCE:-8}

# The parts of a picture that differ from run to run, as rectangles WxH+X+Y within the window.
masks_of() {
  case $1 in
    progress) echo 187x13+48+125 ;;  # the bar's inside, within its border
  esac
}

# Draws the masks of SHOT, placed by the reference's offset on the screen, as -draw arguments.
mask_arguments() {
  local shot=$1 left=$2 top=$3 mask w h x y
  for mask in $(masks_of "$shot"); do
    IFS='x+' read -r w h x y <<<"$mask"
    printf -- '-draw\nrectangle %d,%d %d,%d\n' $((left + x)) $((top + y)) \
      $((left + x + w - 1)) $((top + y + h - 1))
  done
}

renewed=" "
failed=0
for item in "$@"; do
  case_name=${item%%:*}
  IFS=, read -ra shots <<<"${item#*:}"
  for shot in "${shots[@]}"; do
    png="$dir/$case_name/shots/$shot.png"
    reference="$references/${case_name%%-*}-$shot.png"
    if [ ! -f "$png" ]; then
      echo "FAIL: no screenshot $png"; failed=1; continue
    fi
    info=$(identify -format '%m %wx%h %k' "$png" 2>&1) || { echo "FAIL: $png: $info"; failed=1; continue; }
    read -r format size colours <<<"$info"
    if [ "$format" != PNG ] || [ "$size" != 1024x768 ] || [ "$colours" -lt 4 ]; then
      echo "FAIL: $png is $info, not a 1024x768 PNG of a window"; failed=1; continue
    fi
    if [ "${RK514_SHOTS_RENEW:-}" = 1 ] && [[ $renewed != *" $reference "* ]]; then
      window=$(cat "${png%.png}.window" 2>/dev/null) ||
        { echo "FAIL: no ${png%.png}.window to cut $reference from"; failed=1; continue; }
      mkdir -p "$references"
      convert "$png" -crop "$window" -set comment "$(wine --version 2>/dev/null)" \
        -define png:exclude-chunks=date,time "$reference"
      renewed+="$reference "
      echo "renewed: $reference from $png"
    fi
    if [ ! -f "$reference" ]; then
      echo "FAIL: no reference $reference for $png (scripts/wine_pictures.sh makes it)"; failed=1; continue
    fi
    read -r page left top <<<"$(identify -format '%W %X %Y' "$reference" | tr -d +)"
    if [ "$page" != 1024 ]; then
      echo "FAIL: $reference has lost where it was cut from the screen"; failed=1; continue
    fi
    mapfile -t masks < <(mask_arguments "$shot" "$left" "$top")
    # Both pictures masked alike, then every pixel that differs counted.
    differing=$(convert "$png" \( "$reference" -background black -flatten \) -fill magenta "${masks[@]}" \
      -compose difference -composite -fill white +opaque black -format '%[fx:round(mean*w*h)]' info:)
    if [ "$differing" -gt "$tolerance" ]; then
      convert "$png" \( "$reference" -background black -flatten \) -fill magenta "${masks[@]}" \
        -compose difference -composite -fill red +opaque black "${png%.png}.diff.png"
      echo "FAIL: $png differs from $reference in $differing pixels (at most $tolerance):" \
           "see ${png%.png}.diff.png. The reference was drawn by $(identify -format '%c' "$reference")," \
           "this by $(wine --version 2>/dev/null || echo "no Wine here"). If the dialog was changed" \
           "on purpose, renew the pictures with scripts/wine_pictures.sh."
      failed=1; continue
    fi
    echo "ok: $png ($info; $differing pixels differ from $reference)"
  done
done
exit $failed
