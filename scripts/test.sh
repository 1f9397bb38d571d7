#!/usr/bin/env bash
# Builds everything (host, win32, win64) and runs every test. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
rk514_install_deps

jobs=$(nproc)
# 32-bit Wine, for the Wine cases of the shipped i686 build (wine.*): fetched and set up while the
# trees build (it is mostly download), and waited for before the tests, so that a failure to set
# it up ends the run there, loudly. A kernel that runs no 32-bit programs is no failure of the
# project's; the wine.* tests then report themselves skipped, and this says why.
mkdir -p build
wine32_log=build/wine32-setup.log
( source tests/wine/wine32.sh && rk514_wine32 ) >"$wine32_log" 2>&1 &
wine32_pid=$!

for preset in host win32 win64; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

echo "== 32-bit Wine"
status=0
wait "$wine32_pid" || status=$?
cat "$wine32_log"
if [ "$status" = 77 ]; then
  echo "NOTE: this machine runs no 32-bit programs: the i686 KB47UNIN.EXE cannot run under Wine" \
       "here, and the wine.* tests will be reported as skipped; the x86_64 build runs (wine64.*)."
elif [ "$status" != 0 ]; then
  exit 1
fi

echo "== tests"
ctest --preset host -j "$jobs"
