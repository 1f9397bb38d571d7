# 32-bit Wine for the Wine suite, sourced by its scripts: rk514_wine32 makes the i386 build of
# the installed Wine's own version ready in a folder of its own, kept between runs, and puts its
# wine, wineboot and wineserver first on PATH. The 32-bit loader is served by the system's 64-bit
# wineserver of the same version.
#
# Returns 0 when 32-bit Wine is ready; 77 when this machine's kernel runs no 32-bit programs (it
# says so, with the kernel's own words); 1, loudly, when the folder cannot be made.
#
# rk514_wine_boot ARCH boots the new prefix $WINEPREFIX (wineboot -i), for either Wine; every
# script that makes a prefix calls it.
#
# The folder (some 730 MB): ${XDG_CACHE_HOME:-$HOME/.cache}/rk514/wine32-VERSION. Debian's
# wine32:i386 cannot simply be installed beside wine64 when the archive's i386 and amd64 indexes
# differ, so the packages are fetched with an empty package database of their own and unpacked.

rk514_wine32_fail() { echo "FAIL: 32-bit Wine: $*" >&2; return 1; }

# Fetches and unpacks wine32 and libwine for i386, VERSION, with their dependencies, into $1.
rk514_wine32_make() {
  local root=$1 version=$2 work
  work=$(mktemp -d "${TMPDIR:-/tmp}/rk514-wine32.XXXXXX") || return 1
  local apt_opts=(-q -o Dir::State::status="$work/status" -o Dir::State::Lists="$work/lists"
                  -o Dir::Cache="$work/cache" -o APT::Architecture=i386 -o APT::Architectures=i386
                  -o Debug::NoLocking=1)
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial" && : >"$work/status"
  # An index that fails to download (the security archive's, while it is being synced) is
  # reported and left out; whether the packages can be had is what the next step finds out.
  apt-get "${apt_opts[@]}" update >"$work/update.log" 2>&1 || grep '^E:' "$work/update.log" >&2
  if ! apt-get "${apt_opts[@]}" --download-only --no-install-recommends -y \
         install "wine32=$version" "libwine=$version" >"$work/download.log" 2>&1; then
    tail -5 "$work/download.log" >&2
    rm -rf "$work"
    rk514_wine32_fail "apt-get cannot fetch wine32 and libwine $version for i386"
    return 1
  fi
  rm -rf "$root.partial" && mkdir -p "$root.partial"
  local deb
  for deb in "$work"/cache/archives/*.deb; do
    dpkg-deb -x "$deb" "$root.partial" || { rm -rf "$work"; rk514_wine32_fail "cannot unpack $deb"; return 1; }
  done
  rm -rf "$work"
  local loader=$root.partial/usr/lib/wine/wine
  local interpreter=$root.partial/lib/i386-linux-gnu/ld-linux.so.2
  local dlls=$root.partial/usr/lib/i386-linux-gnu/wine/i386-windows
  [ -f "$loader" ] && [ -f "$interpreter" ] && [ -d "$dlls" ] ||
    { rk514_wine32_fail "the unpacked packages lack the loader, ld-linux.so.2 or the DLLs"; return 1; }
  # Wine's user32 loads zlib1.dll, which the packages put where only an installed system has it.
  cp "$root.partial/usr/i686-w64-mingw32/lib/zlib1.dll" "$dlls/" ||
    { rk514_wine32_fail "no zlib1.dll among the unpacked packages"; return 1; }
  # The loader asks for /lib/ld-linux.so.2; it gets the one unpacked with its own libc.
  command -v patchelf >/dev/null || { rk514_wine32_fail "patchelf is not installed (scripts/deps.sh)"; return 1; }
  patchelf --set-interpreter "$root/lib/i386-linux-gnu/ld-linux.so.2" "$loader" ||
    { rk514_wine32_fail "patchelf cannot set the loader's interpreter"; return 1; }
  rm -rf "$root" && mv "$root.partial" "$root"
}

# Writes the commands that the suite's scripts call by name into $1/rk514-bin.
rk514_wine32_wrappers() {
  local root=$1 bin=$1/rk514-bin
  mkdir -p "$bin"
  cat >"$bin/wine" <<WRAPPER
#!/bin/sh
# The 32-bit Wine loader with its own libraries; a new prefix is a 32-bit one.
export WINEARCH=win32 WINESERVER=/usr/lib/wine/wineserver64
export LD_LIBRARY_PATH="$root/usr/lib/i386-linux-gnu:$root/lib/i386-linux-gnu\${LD_LIBRARY_PATH:+:\$LD_LIBRARY_PATH}"
exec "$root/usr/lib/wine/wine" "\$@"
WRAPPER
  printf '#!/bin/sh\nexec "%s/wine" wineboot "$@"\n' "$bin" >"$bin/wineboot"
  printf '#!/bin/sh\nexec /usr/lib/wine/wineserver64 "$@"\n' >"$bin/wineserver"
  chmod +x "$bin/wine" "$bin/wineboot" "$bin/wineserver"
}

# Boots the new prefix $WINEPREFIX: wineboot -i, within $2 seconds (default 180) each time. A new
# 32-bit prefix takes two more steps. Its first wineboot -i makes the prefix and then exits with
# 53: the start.exe it runs cannot import user32, for "Library zlib1.dll (which is needed by
# C:\windows\system32\user32.dll) not found". While the prefix is being made, Wine loads
# zlib1.dll from its own DLL folder; once it exists, Wine looks for it in C:\windows\system32,
# where nothing put it. So zlib1.dll goes there, and wineboot -i runs again.
rk514_wine_boot() {
  local arch=${1:?usage: rk514_wine_boot win32|win64 [SECONDS]} limit=${2:-180} status=0
  [ -n "${WINEPREFIX:-}" ] || { echo "FAIL: rk514_wine_boot: WINEPREFIX is not set" >&2; return 1; }
  if [ "$arch" != win32 ]; then
    timeout "$limit" wineboot -i
    return
  fi
  local zlib=${RK514_WINE32_ROOT:-}/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll
  [ -f "$zlib" ] || { rk514_wine32_fail "no zlib1.dll at $zlib (rk514_wine32 sets up that Wine)"; return 1; }
  timeout "$limit" wineboot -i || status=$?
  if [ "$status" != 0 ] && [ "$status" != 53 ]; then
    rk514_wine32_fail "the first wineboot -i of $WINEPREFIX exited with $status"
    return 1
  fi
  timeout 60 wineserver -w || true
  [ -d "$WINEPREFIX/drive_c/windows/system32" ] ||
    { rk514_wine32_fail "the first wineboot -i made no $WINEPREFIX/drive_c/windows/system32"; return 1; }
  cp "$zlib" "$WINEPREFIX/drive_c/windows/system32/" ||
    { rk514_wine32_fail "cannot copy zlib1.dll into $WINEPREFIX/drive_c/windows/system32"; return 1; }
  timeout "$limit" wineboot -i || { status=$?; rk514_wine32_fail "the second wineboot -i of $WINEPREFIX exited with $status"; return 1; }
}

# rk514_copy_prefix FROM TO makes TO a prefix of its own from the template FROM. Wine's own DLLs
# (system32, syswow64: some 600 MB, which no case and no start of Windows writes) are linked,
# not copied; every other file, the registry and the .ini files among them, is a copy, so that
# nothing a run writes can reach the template.
rk514_copy_prefix() {
  local from=${1:?usage: rk514_copy_prefix FROM TO} to=${2:?usage: rk514_copy_prefix FROM TO} dlls
  mkdir -p "$to" || return 1
  tar -C "$from" --exclude=./drive_c/windows/system32 --exclude=./drive_c/windows/syswow64 -cf - . |
    tar -C "$to" -xf - || return 1
  for dlls in system32 syswow64; do
    [ -d "$from/drive_c/windows/$dlls" ] || continue
    cp -al "$from/drive_c/windows/$dlls" "$to/drive_c/windows/" || return 1
  done
}

rk514_wine32() {
  local version cache root
  version=$(dpkg-query -W -f='${Version}' wine64 2>/dev/null) ||
    { rk514_wine32_fail "wine64 is not installed (scripts/deps.sh installs it)"; return 1; }
  [ -x /usr/lib/wine/wineserver64 ] || { rk514_wine32_fail "no /usr/lib/wine/wineserver64"; return 1; }
  cache=${XDG_CACHE_HOME:-$HOME/.cache}/rk514
  root=$cache/wine32-$version
  mkdir -p "$cache" || { rk514_wine32_fail "cannot make $cache"; return 1; }
  (
    # One maker at a time; the others wait and then find the folder ready.
    flock 9
    if [ ! -f "$root/.rk514-ready" ]; then
      started=$(date +%s)
      echo "== 32-bit Wine $version: fetching and unpacking into $root"
      rk514_wine32_make "$root" "$version" || exit 1
      rk514_wine32_wrappers "$root"
      date +%s >"$root/.rk514-ready"
      echo "== 32-bit Wine ready in $(( $(date +%s) - started )) s"
    fi
  ) 9>"$cache/wine32.lock" || return 1

  local out status=0
  out=$("$root/rk514-bin/wine" --version 2>&1) || status=$?
  if [ "$status" -ne 0 ]; then
    if [ "$status" -eq 126 ] && grep -qi 'exec format error' <<<"$out"; then
      echo "SKIPPED: this machine's kernel runs no 32-bit programs: the i386 Wine loader gives" \
           "\"Exec format error\"; the i686 KB47UNIN.EXE cannot run under Wine here." >&2
      dmesg 2>/dev/null | grep -iE 'ia32|32-bit emulation' | head -2 >&2 || true
      return 77
    fi
    rk514_wine32_fail "the 32-bit loader does not start ($status): $out"
    return 1
  fi
  [ "$out" = "$(wine --version 2>/dev/null)" ] ||
    { rk514_wine32_fail "the 32-bit loader is $out, the system's wine $(wine --version)"; return 1; }
  export PATH="$root/rk514-bin:$PATH" RK514_WINE32_ROOT="$root"
}
