#!/usr/bin/env bash
# The screenshot check itself, without Wine: screenshots made from the kept pictures as a run
# would take them, some changed as a faulty dialog would look, each of which must pass or fail.
#   check_shots_test.sh CHECK_SHOTS REFERENCES WORK_DIR
set -euo pipefail
check=$1 references=$2 work=$3
rm -rf "$work"
mkdir -p "$work"

# shoot CASE SHOT REFERENCE PAGE [OPERATION...]: CASE's screenshot SHOT, the REFERENCE picture
# changed by ImageMagick OPERATIONs (in the window's own coordinates) and put on a black screen
# at PAGE (- for where the reference was cut from).
shoot() {
  local case_name=$1 shot=$2 reference=$references/$3.png page=$4
  shift 4
  [ "$page" = - ] && page=$(identify -format '%g' "$reference")
  mkdir -p "$work/$case_name/shots"
  convert "$reference" +repage "$@" -repage "$page" -background black -flatten \
    "$work/$case_name/shots/$shot.png"
}

failures=0
# expect NAME PASS|"FAIL TEXT" CASE:SHOT: runs the check on one screenshot; a failure must be
# for the reason expected, not any.
expect() {
  local name=$1 expected=$2 item=$3 output status=0
  output=$(bash "$check" "$references" "$work" "$item" 2>&1) || status=$?
  if [ "$expected" = PASS ] && [ "$status" = 0 ]; then
    echo "ok: $name: passes"
  elif [ "$expected" != PASS ] && [ "$status" != 0 ] && [[ $output == *"${expected#FAIL }"* ]]; then
    echo "ok: $name: ${output#FAIL: }"
  else
    echo "WRONG: $name: expected $expected, got exit $status: $output"; failures=$((failures + 1))
  fi
}

face='#C0C0C0'
read -r left top <<<"$(identify -format '%X %Y' "$references/win95-aborted.png" | tr -d +)"

shoot win98-same welcome win98-welcome -
expect "the same picture" PASS win98-same:welcome
shoot win98-bar progress win98-progress - -fill '#000080' -draw 'rectangle 49,126 233,136'
expect "the progress bar further on (masked)" PASS win98-bar:progress
shoot win98-stray welcome win98-welcome - -fill red -draw 'point 10,40' -draw 'point 20,40' \
  -draw 'point 30,40'
RK514_SHOT_TOLERANCE=3 expect "3 stray pixels, 3 allowed" PASS win98-stray:welcome
shoot win98-stray4 welcome win98-welcome - -fill red -draw 'point 10,40' -draw 'point 20,40' \
  -draw 'point 30,40' -draw 'point 40,40'
RK514_SHOT_TOLERANCE=3 expect "4 stray pixels, 3 allowed" "FAIL in 4 pixels" win98-stray4:welcome

# Faults of a dialog: a clipped word, a moved control, an inactive caption, a misplaced window.
shoot win98-clipped welcome win98-welcome - -fill "$face" -draw 'rectangle 325,50 378,64'
expect "the word \"Karsenby\" clipped" "FAIL differs from" win98-clipped:welcome
shoot win98-moved welcome win98-welcome - -region 95x32+245+130 -roll +2+0 +region
expect "the Cancel button 2 pixels to the right" "FAIL differs from" win98-moved:welcome
shoot win98-barmoved progress win98-progress - -region 195x19+44+121 -roll +0+1 +region
expect "the progress bar 1 pixel lower" "FAIL differs from" win98-barmoved:progress
shoot win95-inactive welcome win95-welcome - -fill '#808080' -opaque '#000080'
expect "the caption drawn inactive" "FAIL differs from" win95-inactive:welcome
shoot win95-lower aborted win95-aborted "1024x768+$left+$((top + 1))"
expect "the box 1 pixel lower" "FAIL differs from" win95-lower:aborted

# A screen with no window on it; a release with no pictures.
mkdir -p "$work/win95-blank/shots"
convert -size 1024x768 xc:black "$work/win95-blank/shots/aborted.png"
expect "a blank screen" "FAIL not a 1024x768 PNG of a window" win95-blank:aborted
shoot win31-other aborted win95-aborted -
expect "no reference for the release" "FAIL no reference" win31-other:aborted

# Renewing: the reference is cut anew from the screenshot at the window's place, and keeps it.
renewed=$work/renewed
shoot win95-renew aborted win95-aborted -
identify -format '%wx%h%X%Y\n' "$references/win95-aborted.png" >"$work/win95-renew/shots/aborted.window"
if RK514_SHOTS_RENEW=1 bash "$check" "$renewed" "$work" win95-renew:aborted >/dev/null &&
   [ "$(identify -format '%g' "$renewed/win95-aborted.png")" = "$(identify -format '%g' "$references/win95-aborted.png")" ] &&
   [ "$(compare -metric AE "$renewed/win95-aborted.png" "$references/win95-aborted.png" null: 2>&1)" = 0 ]; then
  echo "ok: a renewed reference is the window as it was cut, in its place"
else
  echo "WRONG: the renewed reference differs from the window it was cut from"; failures=$((failures + 1))
fi

[ "$failures" = 0 ] || { echo "$failures case(s) of the screenshot check went wrong"; exit 1; }
