#!/usr/bin/env bash
# A person at the terminal: rk514-sandbox in a detached tmux session of 100 x 40 cells, the keys
# pressed as a person would press them, the screen read back with capture-pane. Five sessions:
# OK (after trying Tab and Shift-Tab) then N; Tab to Cancel and Space; OK then Escape while the
# bar moves; NO_COLOR; a terminal too small for the dialog, then made larger. Each screen that is
# checked is printed, as the dialogs look.
# Usage: tui_test.sh PATH/TO/rk514-sandbox
set -euo pipefail
sandbox=$1
work=$(mktemp -d)
socket="rk514-tui-$$"
tmux_() { tmux -L "$socket" -f /dev/null "$@"; }
trap 'tmux_ kill-server 2>/dev/null || true; rm -rf "$work"' EXIT

screen() { tmux_ capture-pane -p -t run -S -400; }  # with the lines scrolled off, for the report
show() {
  echo "---- $1"
  tmux_ capture-pane -p -t run | sed -e 's/[[:space:]]*$//'
}
fail() {
  echo "FAIL: $*"
  echo "---- the screen:"
  screen
  exit 1
}
# Waits until the screen holds the text (a fixed string), at most $2 seconds.
wait_for() {
  local text=$1 limit=${2:-10} start=$SECONDS
  until screen | grep -qF -- "$text"; do
    ((SECONDS - start >= limit)) && fail "no \"$text\" on the screen after ${limit}s"
    sleep 0.1
  done
}
# A screen is drawn in more than one write: what shows with the text waited for may still be
# on its way, so a text that must be there is given a few seconds too.
expect() { wait_for "$1" 5; }
expect_not() { if screen | grep -qF -- "$1"; then fail "\"$1\" is on the screen"; fi; }
keys() { tmux_ send-keys -t run "$@"; }
now_ms() { date +%s%3N; }
# start NAME [COLUMNS ROWS [ENV...]]
start() {
  tmux_ kill-session -t run 2>/dev/null || true
  tmux_ new-session -d -s run -x "${2:-100}" -y "${3:-40}" \
    "env LANG=C.UTF-8 TERM=screen ${4:-} '$sandbox' --out '$work/$1'; echo \"[exit \$?]\"; sleep 600"
}

# ---- OK, the paced bar, the restart prompt, N.
start ok-no
wait_for "Welcome to the disinstallation program"
expect "Click on the 'OK' button to start disinstalling the"
expect "ZANTEROVA Karsenby RK514 driver."
expect "Click on the 'Cancel' button to quit the disinstallation"
expect "[   >OK<    ]"
expect "[  Cancel   ]"
show "the welcome dialog"
keys Tab
wait_for "[ >Cancel<  ]"
expect "[    OK     ]"
keys BTab
wait_for "[   >OK<    ]"
keys Enter
began=$(now_ms)
wait_for "Disinstalling the driver" 5
wait_for "is currently being disinstalled..." 5
wait_for "█" 5
expect "Esc: stop before anything is removed"
expect_not "Tab: next button"
sleep 1
show "the progress dialog, a second in"
wait_for "Disinstallation succeeded" 20
took=$(($(now_ms) - began))
# 71 timer messages of 55 ms each: about 3.9 s of bar.
((took >= 3000)) || fail "the bar took ${took} ms, less than the 71 ticks of the Windows 98 timer"
echo "the progress dialog lasted ${took} ms"
expect "You must restart your PC to finish the disinstallation."
expect "[ >Yes<  ]  [   No   ]"
show "the restart prompt"
keys n
wait_for "[exit 0]"
expect "Exit code: 2"
expect "Restart of Windows asked for: no"
expect "The removal ran: yes"
expect "  3. message box \"Disinstallation succeeded\": No"
expect "Still there: 1"
expect "Summary: 36 removed, 5 waiting for the restart, 1 still there, no other changes"
expect "The machine after the run: $work/ok-no"
show "the report, at its end"
[ -f "$work/ok-no/registry.reg" ] || fail "no machine image in $work/ok-no"

# ---- Tab to Cancel, Space: the aborted message over the welcome dialog, Enter.
start cancel
wait_for "Welcome to the disinstallation program"
keys Tab
wait_for "[ >Cancel<  ]"
keys Space
wait_for "Disinstallation aborted"
expect "The ZANTEROVA Karsenby RK514 driver has not been disinstalled and"  # wrapped at 72 columns
expect "remains on your PC."
expect "[  >OK<  ]"
show "the aborted message"
keys Enter
wait_for "[exit 0]"
expect "The removal ran: no"
expect "Removed: nothing"
expect "  1. dialog \"Welcome to the disinstallation program\": Cancel, result 2"

# ---- OK, then Escape while the bar moves: the dialog closes early and nothing is removed.
start early
wait_for "Welcome to the disinstallation program"
keys Enter
wait_for "Disinstalling the driver" 5
sleep 1
keys Escape
wait_for "Disinstallation aborted" 5
expect_not "Disinstallation succeeded"
keys Enter
wait_for "[exit 0]"
expect "The removal ran: no"
expect "  2. dialog \"Disinstalling the driver\": Escape"
expect "Removed: nothing"

# ---- NO_COLOR: the same dialog, no colour set on any cell (only bold and reverse).
start plain 100 40 NO_COLOR=1
wait_for "Welcome to the disinstallation program"
if tmux_ capture-pane -e -p -t run | grep -qE $'\e\\[([0-9;]*;)?(3|4)[0-7](;[0-9;]*)?m'; then
  fail "colours are set although NO_COLOR is"
fi
keys Escape
wait_for "Disinstallation aborted"
keys Enter
wait_for "[exit 0]"

# ---- 60 x 20: the welcome dialog does not fit; a notice says so, keys wait, a larger terminal
# shows the dialog.
start small 60 20
wait_for "The terminal is 60 x 20 characters" 5
expect "needs 71 x 16"
expect_not "[   >OK<    ]"
show "a terminal too small for the dialog"
keys Enter  # pressed blind: does nothing
sleep 0.5
expect "The terminal is 60 x 20 characters"
tmux_ resize-window -t run -x 100 -y 40
wait_for "[   >OK<    ]" 5
keys Tab Space
wait_for "Disinstallation aborted"
keys Enter
wait_for "[exit 0]"
expect "  1. dialog \"Welcome to the disinstallation program\": Cancel, result 2"
echo "PASS"
