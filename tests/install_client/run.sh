#!/usr/bin/env bash
# Installs a build tree into a temporary prefix, builds a client project
# against it with find_package, registers the installed components into a
# private registry and runs the client.
#   tests/install_client/run.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$here/project" -B "$work/client" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/client" >/dev/null
export COMRT_REGISTRY="$work/registry"
libdir=$(dirname "$(find "$work/prefix" -name 'libcomrt.so*' | head -n 1)")
export LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
"$work/prefix/bin/regsvr" "$libdir/libtarn.so" >/dev/null
"$work/prefix/bin/regsvr" "$libdir/libholm.so" >/dev/null
out=$("$work/client/installed_client")
echo "$out"
grep -q '^BRENTAR.TARN: OK$' <<<"$out"
grep -q '^Brenlow.S19SUPPORT: No error$' <<<"$out"
echo "install check: passed"
