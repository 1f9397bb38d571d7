#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, when any is missing.
# Sourced by the project's commands; fails loudly when it cannot install.
rk514_packages=(
  cmake ninja-build g++ libgtest-dev librapidcheck-dev libbenchmark-dev
  mingw-w64 binutils-mingw-w64 wine64 patchelf xvfb xdotool imagemagick x11-utils
  libcli11-dev nlohmann-json3-dev libncurses-dev tmux clang libclang-rt-14-dev
)

rk514_install_deps() {
  local missing=()
  local p
  for p in "${rk514_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then sudo=(sudo); else
      echo "error: missing packages (${missing[*]}) and not root: install them with apt-get" >&2
      return 1
    fi
  fi
  if ! "${sudo[@]}" apt-get update -q >/dev/null ||
     ! DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}" >/dev/null; then
    echo "error: apt-get could not install: ${missing[*]}" >&2
    return 1
  fi
}
