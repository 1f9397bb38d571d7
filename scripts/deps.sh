#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, when any is missing.
# Sourced by the project's commands; fails loudly when it cannot install.
# What scripts/sandbox.sh needs; everything else is for the tests. libtsk-dev (The Sleuth Kit)
# and libcreg-dev with libbfio-dev, whose header libcreg's includes, read disks (--disk); the
# emulator libraries run the shipped program (platform/emu and the sandbox's --exe), and Nettle
# gives the SHA-256 that names an --exe program; pkg-config finds them.
rk514_sandbox_packages=(cmake ninja-build g++ pkg-config libcli11-dev nlohmann-json3-dev libncurses-dev
  libtsk-dev libcreg-dev libbfio-dev libunicorn-dev libcapstone-dev nettle-dev)
rk514_packages=(
  "${rk514_sandbox_packages[@]}" libgtest-dev librapidcheck-dev
  mingw-w64 binutils-mingw-w64 wine64 fonts-wine patchelf xvfb imagemagick
  tmux dosfstools mtools
)
# What scripts/fuzz.sh needs besides: libFuzzer comes with clang.
rk514_fuzz_packages=(clang libclang-rt-14-dev)

# rk514_install_deps [PACKAGE...]: the packages given, or all of rk514_packages.
rk514_install_deps() {
  local wanted=("$@")
  [ ${#wanted[@]} -eq 0 ] && wanted=("${rk514_packages[@]}")
  local missing=()
  local p
  for p in "${wanted[@]}"; do
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
