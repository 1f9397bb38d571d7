#!/usr/bin/env bash
# The uninstaller on a copy of a machine, in one step: installs what the sandbox needs and is
# missing (a compiler, CMake, Ninja, CLI11, nlohmann-json, ncurses, The Sleuth Kit and libcreg
# for --disk, Unicorn, Capstone and Nettle for --exe; not the test toolchain), builds
# rk514-sandbox in build/sandbox and runs it with the arguments given (none: the Windows 98
# sample machine, its dialogs in this terminal).
# `bash scripts/sandbox.sh --help` lists the options.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/deps.sh"
rk514_install_deps "${rk514_sandbox_packages[@]}"

# The build talks on standard error, so that the report (or --json) alone is on standard output.
(
  cd "$root"
  cmake --preset sandbox >/dev/null
  cmake --build --preset sandbox --target rk514-sandbox -j "$(nproc)"
) 1>&2

# Run from the caller's folder, so that relative --image and --out paths mean what they say.
exec "$root/build/sandbox/tools/sandbox/rk514-sandbox" "$@"
