#!/usr/bin/env bash
# The program's C runtime on Windows is only what the program uses: its fopen takes "r" and "a+",
# its fprintf the format "%s\n" and one string. This compiles a use of each (which must build)
# and each other use (which must not, naming the reason), with the i686 compiler.
#   crt_surface.sh CXX PLATFORM_WIN_DIR
set -euo pipefail
cxx=$1 include=$2
command -v "$cxx" >/dev/null || { echo "FAIL: $cxx is not installed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Compiles one function body; prints the compiler's messages to $work/out.
compiles() {
  printf '#include "platform.h"\nvoid Use(FILE* file, const char* text) {\n%s\n}\n' "$1" >"$work/use.cpp"
  "$cxx" -std=c++20 -fsyntax-only -I "$include" "$work/use.cpp" >"$work/out" 2>&1
}

failed=0
good='FILE* r = fopen(text, "r"); FILE* a = fopen(text, "a+");
      fgetc(r); ftell(r); ferror(r); fputs("\n", a); fprintf(a, "%s\n", text); fclose(a); fclose(r);
      free(realloc(malloc(4), 8)); (void)file;'
if ! compiles "$good"; then
  echo "FAIL: the program's own uses do not compile:"; cat "$work/out"; failed=1
fi

# Each refused use, and the name that the compiler's message must give.
while IFS='|' read -r use reason; do
  if compiles "$use"; then
    echo "FAIL: compiles, but must not: $use"; failed=1
  elif ! grep -q "$reason" "$work/out"; then
    echo "FAIL: refused without naming $reason: $use"; head -5 "$work/out"; failed=1
  else
    echo "ok: refused: $use"
  fi
done <<'USES'
fopen(text, "w");|OnlyModesRAndAPlusAreProvided
fopen(text, "rb");|OnlyModesRAndAPlusAreProvided
fopen(text, "a");|OnlyModesRAndAPlusAreProvided
fprintf(file, "%d\n", 1);|OnlyTheFormatPercentSNewlineIsProvided
fprintf(file, "NUL=%s\n", text);|OnlyTheFormatPercentSNewlineIsProvided
fprintf(file, "%s\n", text, text);|PlatformFprintf
USES
exit $failed
