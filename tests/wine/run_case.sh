#!/usr/bin/env bash
# Runs one case of the Wine suite: the uninstaller in a fresh Wine prefix set to Windows 95 or 98, under its own Xvfb display, with the dialogs answered from outside as a user
# would; then dumps the machine state and compares it, field by field, with the case's expected
# state and with the same case run on the simulated machine.
#
#   run_case.sh CASE SCENARIO FLOW NEXT EXPECTED_DIR OUT_DIR
# FLOW is ok-no, ok-yes or cancel. NEXT is "next" to start a new Wine session afterwards and
# compare the state that Windows' start-up leaves (wininit.ini worked through), under Wine and on
# the simulated machine; "wine" to compare Wine's alone; or "-".
# Environment: RK514_EXE (KB47UNIN.EXE), RK514_WINE_TOOLS (seed.exe, probe.exe, uidriver.exe),
# RK514_CHECK (the host checker), RK514_TEMPLATES (the template prefixes, see prepare_templates.sh),
# RK514_WINE_ARCH (win32: the i686 build in 32-bit Wine; win64: the x86_64 build in 64-bit Wine).
set -euo pipefail

case_name=$1 scenario=$2 flow=$3 next=$4 expected_dir=$5 out=$6
timeout_ms=${RK514_WINE_TIMEOUT_MS:-20000}

fail() { echo "FAIL [$case_name]: $*" >&2; exit 1; }
source "$(dirname "$0")/wine32.sh"
if [ "${RK514_WINE_ARCH:-win64}" = win32 ]; then
  status=0
  rk514_wine32 || status=$?
  [ "$status" = 0 ] || exit "$status"
fi
for tool in wine wineserver Xvfb convert; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/deps.sh installs it)"
done
for file in "$RK514_EXE" "$RK514_WINE_TOOLS/seed.exe" "$RK514_WINE_TOOLS/probe.exe" \
            "$RK514_WINE_TOOLS/uidriver.exe" "$RK514_CHECK" "$scenario"; do
  [ -f "$file" ] || fail "missing $file (build the host, win32 and win64 trees first)"
done
release=$(sed -n 's/^release[[:space:]]*\(win9[58]\).*/\1/p' "$scenario")
[ -d "$RK514_TEMPLATES/$release/drive_c" ] || fail "no template prefix $RK514_TEMPLATES/$release"

rm -rf "$out"
mkdir -p "$out/shots"
# Where the time goes: one line per step, seconds since the start.
started=$(date +%s%N)
mark() { echo "$(( ($(date +%s%N) - started) / 1000000 )) ms: $*" >>"$out/timing.log"; }
winpath() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }

# A fresh prefix, copied from the template (wineboot -i once per release instead of per case).
export WINEPREFIX="$out/prefix"
rk514_copy_prefix "$RK514_TEMPLATES/$release" "$WINEPREFIX" || fail "cannot copy the template prefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mark "prefix copied"

# A display of our own: Xvfb picks a free one and writes its number to fd 3.
xvfb_pid=
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
trap 'exit 1' INT TERM  # a test stopped by its timeout still ends its Wine session and display
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$out/display" 2>"$out/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$out/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb could not start: $(tail -3 "$out/xvfb.log")"
  sleep 0.1
done
[ -s "$out/display" ] || fail "Xvfb gave no display within 10 s"
export DISPLAY=":$(head -1 "$out/display")"
mark "display up"

# One Wine session from seeding to probing: HKEY_CURRENT_CONFIG keys live only as long as the
# session, and a new session works through wininit.ini before anything else runs.
wineserver -p
scenario_w=$(winpath "$scenario")
wine "$RK514_WINE_TOOLS/probe.exe" "$scenario_w" "$(winpath "$out")\\before.dump" ||
  fail "Wine does not start (probe.exe failed in a fresh prefix)"
mark "session started"
wine "$RK514_WINE_TOOLS/seed.exe" "$scenario_w" >"$out/seed.log" 2>&1 ||
  fail "seeding failed: $(cat "$out/seed.log")"
wine "$RK514_WINE_TOOLS/probe.exe" "$scenario_w" "$(winpath "$out")\\seeded.dump"
mark "seeded and probed"

# The program, with its process creations traced: a restart request shows as the start of
# "wineboot.exe --end-session". Wine's ExitWindowsEx returns at once; wineboot then ends every
# program of the session, and the next program to start (the probe) begins a new session, which
# works through wininit.ini as Windows does at its restart.
( cd "$out"; code=0; WINEDEBUG=-all,trace+process wine "$RK514_EXE" >program.log 2>&1 || code=$?
  echo "$code" >exit ) &
program_pid=$!

# What is left of this prefix's Wine session while a restart ends it: wineboot, which ends it, and
# the desktop (explorer.exe) that goes with it; their process ids and command lines. Wine's
# services stay, as they do across a restart of Windows.
session_ending() {
  local environ pid command
  for environ in $(grep -lzxF "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ 2>/dev/null); do
    pid=${environ#/proc/}; pid=${pid%/environ}
    command=$(tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline")
    case "$command" in *wineboot.exe*|*explorer.exe*) printf '%s ' "$pid:${command:0:60}" ;; esac
  done
}

ui_step=0
ui_lines=()
driver() { wine "$RK514_WINE_TOOLS/uidriver.exe" "$@"; }
# Starts waiting for a window in the background: the driver photographs the screen as soon as
# the window is drawn (the progress dialog is up for well under a second) and prints what it
# shows. The caller acts (a key, a click), then collects what was seen with seen().
watch() {
  local caption=$1 shot=$2
  watch_caption=$caption watch_shot=$shot
  RK514_DRIVER_READY="$(winpath "$out")\\ui.$shot.ready" \
    driver wait "$caption" "$timeout_ms" "$(winpath "$out/shots")\\$shot.bmp" \
    >"$out/ui.$shot" 2>"$out/ui.$shot.err" &
  watch_pid=$!
  # Act only once the driver is looking: the window may be up for well under a second.
  for _ in $(seq $((timeout_ms / 10))); do
    [ -e "$out/ui.$shot.ready" ] && return 0
    kill -0 "$watch_pid" 2>/dev/null || break
    sleep 0.01
  done
  [ -e "$out/ui.$shot.ready" ] || fail "the dialog driver did not start watching for \"$caption\""
}
seen() {
  wait "$watch_pid" || fail "$(cat "$out/ui.$watch_shot.err")"
  ui_step=$((ui_step + 1))
  ui_lines+=("ui $ui_step => $(tr -d '\r' <"$out/ui.$watch_shot")")
}
# A key typed into a window, and a button clicked, as a user does.
key() { driver key "$1" "$2" "$timeout_ms" 2>"$out/driver.err" || fail "$(cat "$out/driver.err")"; }
click() { driver click "$1" "$2" "$timeout_ms" 2>"$out/driver.err" || fail "$(cat "$out/driver.err")"; }

welcome="Welcome to the disinstallation program"
watch "$welcome" welcome
seen
mark "welcome seen"
case "$flow" in
  ok-no|ok-yes)
    watch "Disinstalling the driver" progress
    key "$welcome" Return
    seen
    watch "Disinstallation succeeded" restart
    seen
    if [ "$flow" = ok-yes ]; then click "Disinstallation succeeded" 6; else click "Disinstallation succeeded" 7; fi
    ;;
  cancel)
    watch "Disinstallation aborted" aborted
    key "$welcome" Escape
    seen
    click "Disinstallation aborted" 1
    ;;
  *) fail "unknown flow $flow" ;;
esac

# The program ends by itself; it is never killed by the test unless it hangs.
for _ in $(seq $((timeout_ms / 100))); do
  [ -s "$out/exit" ] && break
  sleep 0.1
done
[ -s "$out/exit" ] || fail "the program did not end within $((timeout_ms / 1000)) s after the last dialog"
wait "$program_pid" || true
mark "program ended"
if [ "$flow" = ok-yes ]; then
  # The restart: wineboot --end-session may still be ending the session when our program has
  # ended, and a program started before it is done would still belong to that session.
  session_ended=
  for _ in $(seq $((timeout_ms / 100))); do
    if [ -z "$(session_ending)" ]; then session_ended=1; break; fi
    sleep 0.1
  done
  [ -n "$session_ended" ] ||
    fail "the session did not end within $((timeout_ms / 1000)) s after the restart request: $(session_ending)"
  mark "session ended"
fi

wine "$RK514_WINE_TOOLS/probe.exe" "$scenario_w" "$(winpath "$out")\\after.dump"
{
  echo "exit => $(cat "$out/exit")"
  echo "restart => $(grep -c 'CreateProcessInternalW.*wineboot.exe --end-session' "$out/program.log" || true)"
  printf '%s\n' "${ui_lines[@]}"
} >>"$out/after.dump"
mark "probed after"
if [ "$next" = next ] || [ "$next" = wine ]; then
  # The next start: end this session and begin a new one, which works through wininit.ini.
  wineserver -k
  wineserver -w
  wineserver -p
  wine "$RK514_WINE_TOOLS/probe.exe" "$scenario_w" "$(winpath "$out")\\next.dump"
  mark "next start probed"
fi

# The same case on the simulated machine, and every state compared with the expected one.
"$RK514_CHECK" sim "$scenario" "$flow" "$out" || fail "the simulated run of the same case failed"
status=0
"$RK514_CHECK" compare "$expected_dir" "$case_name.expected" "$out/sim-seeded.dump" \
  "$out/sim-after.dump" "$out/after.dump" "$out/seeded.dump" || status=1
if [ "$next" = next ] || [ "$next" = wine ]; then
  sim_next=$out/sim-next.dump
  [ "$next" = wine ] && sim_next=-
  "$RK514_CHECK" compare "$expected_dir" "$case_name.next.expected" "$out/sim-seeded.dump" \
    "$sim_next" "$out/next.dump" || status=1
fi
# The screenshots, as PNG files for people to look at.
for shot in "$out"/shots/*.bmp; do
  convert "$shot" "${shot%.bmp}.png" && rm -f "$shot"
done
[ "$status" = 0 ] || fail "the final state differs (dumps in $out)"
mark "compared"
echo "PASS [$case_name] in $(tail -1 "$out/timing.log" | cut -d' ' -f1) ms"
