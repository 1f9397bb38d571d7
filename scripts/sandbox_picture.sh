#!/usr/bin/env bash
# Makes docs/sandbox-terminal.png, the README's picture of the sandbox in a terminal: an xterm of
# 100 x 32 characters on a private X display (Xvfb), rk514-sandbox on the Windows 98 sample, its
# welcome dialog photographed with ImageMagick. Installs what it needs (xterm, Xvfb, ImageMagick)
# and builds the sandbox as scripts/sandbox.sh does.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/deps.sh"
rk514_install_deps "${rk514_sandbox_packages[@]}" xterm xvfb imagemagick x11-utils
(
  cd "$root"
  cmake --preset sandbox >/dev/null
  cmake --build --preset sandbox --target rk514-sandbox -j "$(nproc)"
) 1>&2

work=$(mktemp -d)
display=":$((90 + RANDOM % 100))"
cleanup() {
  [ -n "${term_pid:-}" ] && kill "$term_pid" 2>/dev/null || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done

DISPLAY="$display" xterm -geometry 100x32+0+0 -fa 'DejaVu Sans Mono' -fs 11 -bg black -fg grey90 \
  -xrm 'XTerm*allowBoldFonts: true' -e env LANG=C.UTF-8 TERM=xterm-256color \
  "$root/build/sandbox/tools/sandbox/rk514-sandbox" --out "$work/after" &
term_pid=$!
sleep 3  # the dialog is drawn at once; the wait covers a slow start

window=$(DISPLAY="$display" xwininfo -root -tree | awk '/"xterm"/ {print $1; exit}')
DISPLAY="$display" import -window "${window:-root}" "$root/docs/sandbox-terminal.png"
echo "wrote docs/sandbox-terminal.png"
