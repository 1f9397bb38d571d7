#!/usr/bin/env bash
# Builds everything (host, win32, win64) and runs every test. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
rk514_install_deps

jobs=$(nproc)
for preset in host win32 win64; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

echo "== tests"
ctest --preset host -j "$jobs"
