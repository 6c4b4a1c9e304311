#!/usr/bin/env bash
# Runs every test: the Linux build with warnings as errors and its test
# suite, an installed-package client, the Windows cross-builds (both run
# under Wine), the Debian package and the Windows installer (each
# installed, used and removed), the tests again under ASan/UBSan, parallel
# download objects under ThreadSanitizer, and the fuzz targets for a bounded
# time. Exits non-zero on the first failure.
#
#   scripts/test.sh            everything
#   scripts/test.sh --quick    the Linux build and its tests only
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
[ "${1:-}" = "--quick" ] && quick=1

scripts/setup.sh

jobs=$(nproc)
# The package build has the ci build's flags; with the build folder left out
# of ccache's hash it takes most objects from the ci build.
export CCACHE_NOHASHDIR=true
echo "== Linux build (warnings as errors)"
cmake --preset ci >/dev/null
cmake --build --preset ci -j "$jobs"

echo "== Tests"
ctest --preset ci -j "$jobs" --timeout 300

echo "== Installed package: a client project built with find_package"
tests/install_client/run.sh build/ci

if [ "$quick" = 1 ]; then exit 0; fi

for arch in i686 x86_64; do
  echo "== Windows cross-build ($arch)"
  cmake --preset "mingw-$arch" >/dev/null
  cmake --build --preset "mingw-$arch" -j "$jobs"
done

# One Wine prefix for the Wine checks below, each of which starts from a
# copy of it (removed after the installer check).
echo "== A Wine prefix for the Wine checks"
step_start=$SECONDS
rm -rf build/wine-prefix
tests/wine/make_prefix.sh build/wine-prefix
export WINE_PREFIX_TEMPLATE=$PWD/build/wine-prefix
echo "   (Wine prefix: $((SECONDS - step_start)) s)"
for arch in x86_64 i686; do
  # 32-bit Wine needs 32-bit programs to run: natively, or emulated where
  # scripts/setup.sh could arrange it (its line above says so). Otherwise
  # the i686 build is compiled only, and the run says so.
  if [ "$arch" = i686 ] && ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo "== Windows build (i686) under Wine: NOT RUN: this kernel cannot execute" \
      "32-bit programs and setup could not emulate them (see its line above);" \
      "the i686 build was compiled only"
    continue
  fi
  echo "== Windows build ($arch) under Wine (regsvr32, COM clients, a COM port served by pagersim)"
  step_start=$SECONDS
  tests/wine/run.sh "build/mingw-$arch" build/ci
  echo "   ($arch under Wine: $((SECONDS - step_start)) s)"
done

echo "== Debian package: lintian, install, tarnctl demo as a new user, remove"
cmake --preset package >/dev/null
cmake --build --preset package -j "$jobs"
rm -rf build/package/package
(cd build/package && cpack -G DEB >/dev/null)
lintian --fail-on error,warning build/package/package/*.deb
tests/package/run.sh build/package/package/*.deb

echo "== Windows installer under Wine: install, every class, version resources, uninstall"
packaging/windows/build_installer.sh build/mingw-x86_64 build/mingw-i686 \
  build/package/package/tarnholm-setup.exe
# The installer registers the 32-bit DLLs with the 32-bit regsvr32.
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  step_start=$SECONDS
  tests/package/windows_installer.sh build/package/package/tarnholm-setup.exe \
    build/mingw-x86_64 build/mingw-i686 build/ci
  echo "   (installer under Wine: $((SECONDS - step_start)) s)"
else
  echo "   NOT RUN: the installer registers 32-bit DLLs, and this machine cannot" \
    "run 32-bit programs (see setup's line above); the installer was built only"
fi
rm -rf build/wine-prefix

# The same tests once more with clang under AddressSanitizer and UBSan. Leak
# detection stays off: in this environment LeakSanitizer's own tracer
# crashes in processes that load libholm (it reads a bogus dynamic-TLS range).
echo "== Tests under ASan and UBSan (clang)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
ASAN_OPTIONS=detect_leaks=0 ctest --test-dir build/fuzz -j "$jobs" --timeout 300 \
  --output-on-failure

# Eight download objects on eight threads under ThreadSanitizer: only the
# targets that test needs are built (about two minutes on two cores).
echo "== Parallel download objects under ThreadSanitizer (clang)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target download_parallel_tests
ctest --test-dir build/tsan -R DownloadParallel --timeout 300 --output-on-failure

if [ -x scripts/fuzz.sh ]; then
  echo "== Fuzzing (bounded)"
  if [ "${CI:-}" = true ]; then export FUZZ_SEED=${FUZZ_SEED:-1}; fi
  scripts/fuzz.sh
fi
echo "== All tests passed"
