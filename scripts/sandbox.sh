#!/usr/bin/env bash
# The uninstaller on a copy of a machine, in one step: installs what is missing, builds the host
# tree's rk514-sandbox and runs it with the arguments given (none: the Windows 98 sample machine,
# its dialogs in this terminal). `bash scripts/sandbox.sh --help` lists the options.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/deps.sh"
rk514_install_deps

# The build talks on standard error, so that the report (or --json) alone is on standard output.
(
  cd "$root"
  cmake --preset host >/dev/null
  cmake --build --preset host --target rk514-sandbox -j "$(nproc)"
) 1>&2

# Run from the caller's folder, so that relative --image and --out paths mean what they say.
exec "$root/build/host/tools/sandbox/rk514-sandbox" "$@"
