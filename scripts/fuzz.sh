#!/usr/bin/env bash
# Builds the libFuzzer target (fuzz/, with clang, ASan and UBSan) and runs it for a given time.
#   bash scripts/fuzz.sh [SECONDS] [BUILD_DIR]     (defaults: 600, build/fuzz)
# The corpus stays in BUILD_DIR/corpus between runs; a finding is saved as BUILD_DIR/crash-*,
# and `BUILD_DIR/fuzz_removal BUILD_DIR/crash-...` replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
rk514_install_deps

seconds=${1:-600}
build=${2:-build/fuzz}
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" --target fuzz_removal
mkdir -p "$build/corpus"
cd "$build"
exec ./fuzz_removal -max_total_time="$seconds" -max_len=4096 -timeout=60 -rss_limit_mb=4096 \
  -print_final_stats=1 corpus
