#!/usr/bin/env bash
# Makes the template Wine prefixes that every case of the Wine suite copies: one booted prefix
# (rk514_wine_boot, tests/wine/wine32.sh) per release, set to Windows 95 or 98, its windows drawn with their own captions
# (no window manager runs on the test display), with Wine's own fonts in its Fonts folder and the
# colours and fonts of Windows 95 and 98 (windows-standard.reg). Kept between runs while Wine's
# version is the same; a run that cannot start Wine fails here, loudly.
#   prepare_templates.sh DIR ARCH    -> DIR/win95, DIR/win98
# ARCH win32: 32-bit prefixes, for the i686 build (tests/wine/wine32.sh provides that Wine; exit
# code 77 where this machine runs no 32-bit programs); win64: 64-bit prefixes, for the x86_64 one.
set -euo pipefail
dir=$1 arch=${2:-win64}
source "$(dirname "$0")/wine32.sh"
if [ "$arch" = win32 ]; then
  status=0
  rk514_wine32 || status=$?
  [ "$status" = 0 ] || exit "$status"
fi
for tool in wine wineserver wineboot; do
  command -v "$tool" >/dev/null ||
    { echo "FAIL: $tool is not installed (scripts/deps.sh installs wine64)" >&2; exit 1; }
done
# Wine's own fonts (Debian: fonts-wine): Marlett draws the caption buttons' symbols, and the
# bitmap "MS Sans Serif" is the dialogs' font as on Windows 95 and 98. Debian's Wine 8 looks for
# them under "<data dir>\../fonts", a path that does not resolve, and then draws a letter on each
# caption button and the dialogs in whatever the host's fontconfig offers; a font in the prefix's
# Fonts folder is always loaded. Linked, not copied: every case copies the template.
font_dir=
for candidate in /usr/share/wine/fonts "$(dirname "$(readlink -f "$(command -v wine)")")/../share/wine/fonts"; do
  [ -f "$candidate/marlett.ttf" ] && { font_dir=$(realpath "$candidate"); break; }
done
[ -n "$font_dir" ] ||
  { echo "FAIL: Wine's own fonts (marlett.ttf) are not installed (scripts/deps.sh installs fonts-wine)" >&2; exit 1; }
look=$(dirname "$0")/windows-standard.reg
# The template is remade when Wine, its fonts, its look or this script change.
stamp="$(wine --version 2>/dev/null) $arch $(command -v wine) $(cat "$0" "$(dirname "$0")/wine32.sh" | sha1sum | cut -c1-12)"
stamp+=" $(cat "$font_dir"/* "$look" | sha1sum | cut -c1-12)"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$dir"
for release in win95 win98; do
  prefix="$dir/$release"
  if [ -f "$prefix/.rk514-stamp" ] && [ "$(cat "$prefix/.rk514-stamp")" = "$stamp" ]; then
    continue
  fi
  rm -rf "$prefix"
  export WINEPREFIX="$prefix"
  # The title bar: Windows 98 shades it from dark to light blue, Windows 95 draws it plain.
  if [ "$release" = win98 ]; then active="16 132 208" inactive="192 192 192"
  else active="0 0 128" inactive="128 128 128"; fi
  { cat "$look"
    printf '\n[HKEY_CURRENT_USER\\Control Panel\\Colors]\n'
    printf '"GradientActiveTitle"="%s"\n"GradientInactiveTitle"="%s"\n' "$active" "$inactive"
  } >"$dir/$release-look.reg"
  if ! rk514_wine_boot "$arch" >"$dir/$release.log" 2>&1 ||
     ! wine reg add 'HKCU\Software\Wine' /v Version /d "$release" /f >>"$dir/$release.log" 2>&1 ||
     ! wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$dir/$release.log" 2>&1 ||
     ! wine regedit /S "Z:$(realpath "$dir/$release-look.reg" | tr / '\\')" >>"$dir/$release.log" 2>&1; then
    echo "FAIL: Wine cannot set up a prefix in $prefix:" >&2
    tail -5 "$dir/$release.log" >&2
    exit 1
  fi
  wineserver -w
  ln -sf "$font_dir"/*.ttf "$font_dir"/*.fon "$prefix/drive_c/windows/Fonts/"
  [ -f "$prefix/system.reg" ] || { echo "FAIL: wineboot made no registry in $prefix" >&2; exit 1; }
  grep -q "^\"GradientActiveTitle\"=\"$active\"" "$prefix/user.reg" ||
    { echo "FAIL: regedit did not import $dir/$release-look.reg into $prefix" >&2; exit 1; }
  if [ "$arch" = win32 ] && [ -d "$prefix/drive_c/windows/syswow64" ]; then
    echo "FAIL: $prefix is a 64-bit prefix, not a 32-bit one" >&2; exit 1
  fi
  echo "$stamp" >"$prefix/.rk514-stamp"
done
echo "template prefixes ready in $dir ($stamp)"
