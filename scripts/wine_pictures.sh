#!/usr/bin/env bash
# Renews docs/dialogs/*.png, the pictures of the real dialogs under Wine that the README shows and
# that the Wine suite's screenshot check compares its screenshots with: builds what the Wine cases
# need (the x86_64 program and tools, the host checker), runs the cases under 64-bit Wine, cuts
# each dialog out of the first screenshot of it for each release, and checks every other
# screenshot against the new picture. Run it when a dialog was changed on purpose (or Wine was),
# look at the pictures, and commit them.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source scripts/deps.sh
rk514_install_deps
jobs=$(nproc)
{
  cmake --preset host >/dev/null
  cmake --build --preset host --target rk514_wine_check -j "$jobs"
  cmake --preset win64 >/dev/null
  cmake --build --preset win64 -j "$jobs"
} >&2
# The screenshot check needs every case run: CTest runs them first (its fixtures).
RK514_SHOTS_RENEW=1 ctest --test-dir build/host -R '^wine64\.screenshots$' -j "$jobs" --output-on-failure
git status --short docs/dialogs
