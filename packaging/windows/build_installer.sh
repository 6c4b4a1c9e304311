#!/usr/bin/env bash
# Makes the Windows installer from the two MinGW cross-builds.
#   packaging/windows/build_installer.sh BUILD64 BUILD32 OUT.exe
# The version is the CMake project's (read from the 64-bit build's cache).
set -euo pipefail
b64=$(cd "$1" && pwd)
b32=$(cd "$2" && pwd)
out=$(readlink -f "$3")
here=$(cd "$(dirname "$0")" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$b64/CMakeCache.txt")
[ -n "$version" ] || { echo "build_installer: no project version in $b64" >&2; exit 1; }
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/64" "$stage/32"
cp "$b64/tarn/server/libtarn.dll" "$b64/holm/module/libholm.dll" "$stage/64/"
cp "$b32/tarn/server/libtarn.dll" "$b32/holm/module/libholm.dll" "$stage/32/"
defines=()
if [ -f "$b64/tools/tarnctl/tarnctl.exe" ]; then
  cp "$b64/tools/tarnctl/tarnctl.exe" "$stage/64/"
  defines+=(-DHAVE_TARNCTL)
fi
makensis -V2 -DVERSION="$version" -DSRC64="$stage/64" -DSRC32="$stage/32" \
  -DOUTFILE="$out" "${defines[@]}" "$here/installer.nsi"
