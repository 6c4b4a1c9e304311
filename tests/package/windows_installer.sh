#!/usr/bin/env bash
# Proves the Windows installer under Wine, in a fresh Wine prefix that is
# removed afterwards (also when a step fails):
#   1. silent install (/S);
#   2. both DLLs of both widths are where they belong and their version
#      resources name the library, the product and the project's version;
#   3. the existing Windows client creates every class by ProgID from the
#      installed 64-bit DLLs (with a COM port served by pagersim), and the
#      probe creates every class in both widths (the 32-bit probe from the
#      DLLs that the 32-bit regsvr32 registered);
#   4. silent uninstall, then nothing of it is left and creating each class
#      fails with "class not registered", in both widths.
# The installer always installs the 32-bit DLLs, so this check needs 32-bit
# programs to run (natively or emulated, see scripts/ia32_emulation.sh);
# each Wine step has a time limit (tests/wine/timeouts.sh).
#   tests/package/windows_installer.sh INSTALLER.exe BUILD64 BUILD32 LINUX_BUILD
set -euo pipefail
installer=$(readlink -f "$1")
b64=$(cd "$2" && pwd)
b32=$(cd "$3" && pwd)
linux=$(cd "$4" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$b64/CMakeCache.txt")
wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
[ -x "$wine" ] || { echo "installer check: wine64 is not installed" >&2; exit 1; }
wineserver="$(dirname "$wine")/wineserver"
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  WINEPREFIX="$work/prefix" timeout 20 "$wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# shellcheck source=SCRIPTDIR/../wine/timeouts.sh
. "$(dirname "$0")/../wine/timeouts.sh"
# shellcheck source=SCRIPTDIR/../wine/pager_com1.sh
. "$(dirname "$0")/../wine/pager_com1.sh"
fail() {
  echo "installer check: $*" >&2
  exit 1
}
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
"$(dirname "$0")/../wine/make_prefix.sh" "$WINEPREFIX"
win() { timeout "$(wine_limit 120)" "$wine" "$@" 2>/dev/null | tr -d '\r'; }
winpath() { echo "Z:${1//\//\\}"; }
drive_c="$WINEPREFIX/drive_c"
dir64="$drive_c/Program Files/Tarn and Holm"
dir32="$drive_c/Program Files (x86)/Tarn and Holm"

echo "-- silent install"
cp "$installer" "$work/setup.exe"
timeout "$(wine_limit 180)" "$wine" "$work/setup.exe" /S >/dev/null 2>&1 ||
  fail "the installer failed"
timeout "$(wine_limit 60)" "$wineserver" -w
# One Wine session for the steps up to the uninstall: a persistent server
# keeps the prefix's services running between them, so that a slow-starting
# (emulated 32-bit) process does not meet them shutting down.
"$wineserver" -p >"$work/wineserver.log" 2>&1
widths="64 32"
for f in "$dir64/libtarn.dll" "$dir64/libholm.dll" "$dir64/uninstall.exe" \
  "$dir32/libtarn.dll" "$dir32/libholm.dll"; do
  [ -f "$f" ] || fail "missing after install: $f"
done
objdump -f "$dir64/libholm.dll" | grep -q pei-x86-64 || fail "the 64-bit folder holds no 64-bit DLL"
objdump -f "$dir32/libholm.dll" | grep -q pei-i386 || fail "the 32-bit folder holds no 32-bit DLL"

echo "-- version resources"
dlls=("$dir64/libtarn.dll" "$dir64/libholm.dll" "$dir32/libtarn.dll" "$dir32/libholm.dll")
for dll in "${dlls[@]}"; do
  info=$(win "$b64/tests/package/win_probe.exe" version "$(winpath "$dll")")
  echo "$info" | sed 's/^/   /'
  lib=$(basename "$dll" .dll)
  case $lib in libtarn) want="Tarn" ;; *) want="Holm" ;; esac
  grep -q "^FileDescription: $want" <<<"$info" || fail "$dll: the description does not name $want"
  grep -qx "ProductName: Tarn and Holm" <<<"$info" || fail "$dll: no product name"
  grep -qx "FileVersion: $version" <<<"$info" || fail "$dll: file version is not $version"
  grep -qx "ProductVersion: $version" <<<"$info" || fail "$dll: product version is not $version"
  grep -qx "Fixed: $version" <<<"$info" || fail "$dll: fixed file version is not $version"
done

echo "-- the Windows client against the installed DLLs"
cp "$b64/tests/wine/wine_client.exe" "$work/"
serve_pager_on_com1 "$linux/tools/pagersim/pagersim" "$work"
win "$work/wine_client.exe" COM1 "$(winpath "$work/image.s19")" >"$work/client.log" ||
  { cat "$work/client.log"; fail "the client failed against the installed DLLs"; }
grep -c '^ok' "$work/client.log" | sed 's/^/   checks passed: /'
kill "$sim_pid" 2>/dev/null || true
sim_pid=""
win "$b64/tests/package/win_probe.exe" classes >"$work/classes64.log" ||
  { cat "$work/classes64.log"; fail "64-bit classes"; }
win "$b32/tests/package/win_probe.exe" classes >"$work/classes32.log" ||
  { cat "$work/classes32.log"; fail "32-bit classes"; }
echo "   every class created (widths: $widths)"

echo "-- silent uninstall"
# The session ends (and the registry is saved) before the uninstaller runs
# in a session of its own, whose end wineserver -w then waits for.
timeout 30 "$wineserver" -k 2>/dev/null || true
timeout 30 "$wineserver" -w 2>/dev/null || true
timeout "$(wine_limit 180)" "$wine" "$dir64/uninstall.exe" /S >/dev/null 2>&1 ||
  fail "the uninstaller failed"
timeout "$(wine_limit 60)" "$wineserver" -w
[ ! -e "$dir64" ] || fail "left after uninstall: $(ls -A "$dir64")"
[ ! -e "$dir32" ] || fail "left after uninstall: $(ls -A "$dir32")"
for bits in $widths; do
  build=$b64
  [ "$bits" = 32 ] && build=$b32
  set +e
  win "$build/tests/package/win_probe.exe" classes >"$work/after$bits.log"
  set -e
  cat "$work/after$bits.log" | sed "s/^/   ($bits-bit) /"
  [ "$(grep -c 'by CLSID: class not registered$' "$work/after$bits.log")" = 6 ] ||
    fail "after uninstall a $bits-bit class can still be created"
done
if grep -q TarnHolm "$WINEPREFIX/system.reg"; then fail "the uninstall entry is left"; fi
if grep -qiE 'BRENTAR\.TARN|Brenlow\.|Tarn and Holm' "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg"; then
  grep -iE 'BRENTAR\.TARN|Brenlow\.|Tarn and Holm' "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg" | head
  fail "registry entries are left after uninstall"
fi
echo "installer check: passed"
