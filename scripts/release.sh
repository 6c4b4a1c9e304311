#!/usr/bin/env bash
# Builds every release artefact of the current commit into build/dist/:
#   tarnholm_VERSION_ARCH.deb          the Debian package (checked with lintian)
#   tarnholm-VERSION-setup.exe         the Windows installer (both widths)
#   tarnholm-VERSION-windows.zip       the Windows DLLs (x64/, x86/) with the headers
#   tarnholm-VERSION.tar.gz            the source archive of HEAD
#   SHA256SUMS                         the checksums of the above
# VERSION is the CMake project's. Uncommitted changes are refused, since
# the source archive is made from the commit.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release: commit your changes first (the source archive is made from HEAD)" >&2
  exit 1
fi
scripts/setup.sh
version=$(sed -n 's/^project(TarnHolm VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
dist=build/dist
rm -rf "$dist"
mkdir -p "$dist"
jobs=$(nproc)
# The package build has the ci build's flags; with the build folder left out
# of ccache's hash it takes most objects from the ci build.
export CCACHE_NOHASHDIR=true

echo "== Debian package"
cmake --preset package >/dev/null
cmake --build --preset package -j "$jobs"
rm -rf build/package/package
(cd build/package && cpack -G DEB >/dev/null)
cp build/package/package/*.deb "$dist/"
lintian --fail-on error,warning "$dist"/*.deb

echo "== Windows builds and installer"
for arch in x86_64 i686; do
  cmake --preset "mingw-$arch" >/dev/null
  cmake --build --preset "mingw-$arch" -j "$jobs" --target tarn holm tarnctl
done
packaging/windows/build_installer.sh build/mingw-x86_64 build/mingw-i686 \
  "$dist/tarnholm-$version-setup.exe"

echo "== Windows DLLs with headers"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root="$stage/tarnholm-$version-windows"
mkdir -p "$root/x64" "$root/x86"
cp build/mingw-x86_64/tarn/server/libtarn.dll build/mingw-x86_64/holm/module/libholm.dll "$root/x64/"
cp build/mingw-i686/tarn/server/libtarn.dll build/mingw-i686/holm/module/libholm.dll "$root/x86/"
mkdir -p "$root/include"
cp -r include/tarnholm "$root/include/"
cp README.md docs/client-guide.md "$root/"
(cd "$stage" && zip -qrX - "tarnholm-$version-windows") >"$dist/tarnholm-$version-windows.zip"

echo "== Source archive"
git archive --format=tar.gz --prefix="tarnholm-$version/" -o "$dist/tarnholm-$version.tar.gz" HEAD

(cd "$dist" && sha256sum -- * >SHA256SUMS)
echo "== build/dist"
(cd "$dist" && ls -l && cat SHA256SUMS)
