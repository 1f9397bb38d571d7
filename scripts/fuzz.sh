#!/usr/bin/env bash
# Builds a libFuzzer target (fuzz/, with clang, ASan and UBSan) and runs it for a given time.
#   bash scripts/fuzz.sh [SECONDS] [BUILD_DIR] [TARGET]   (defaults: 600, build/fuzz, fuzz_removal)
# TARGET: fuzz_removal (random machines, the removal and its invariant), fuzz_hive (the
# sandbox's reader of SYSTEM.DAT and USER.DAT) or fuzz_runner (the emulated runner on PE files,
# its corpus started from the win32 tree's KB47UNIN.EXE: build it first). The corpus stays in
# BUILD_DIR/corpus-TARGET between runs (BUILD_DIR/corpus for fuzz_removal); a finding is saved as
# BUILD_DIR/crash-*, and `BUILD_DIR/TARGET BUILD_DIR/crash-...` replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
rk514_install_deps "${rk514_packages[@]}" "${rk514_fuzz_packages[@]}"

seconds=${1:-600}
build=${2:-build/fuzz}
target=${3:-fuzz_removal}
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" --target "$target"
case "$target" in
  fuzz_removal) corpus=corpus max_len=4096 ;;
  fuzz_hive) corpus=corpus-$target max_len=65536 ;;
  fuzz_runner)
    corpus=corpus-$target max_len=65536
    exe=build/win32/app/KB47UNIN.EXE
    [ -f "$exe" ] || { echo "error: $exe is missing: build the win32 tree first" >&2; exit 1; }
    mkdir -p "$build/$corpus"
    cp "$exe" "$build/$corpus/KB47UNIN.EXE" ;;
  *) echo "error: no fuzz target $target" >&2; exit 1 ;;
esac
mkdir -p "$build/$corpus"
cd "$build"
exec "./$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=60 -rss_limit_mb=4096 \
  -print_final_stats=1 "$corpus"
