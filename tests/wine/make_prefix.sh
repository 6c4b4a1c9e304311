#!/usr/bin/env bash
# Makes a fresh Wine prefix in DIR (which must not exist) for a Wine check:
# a copy of the prefix that WINE_PREFIX_TEMPLATE names, when it is set (one
# made by this script, once per test run: scripts/test.sh), else a new one
# from wineboot. Making a prefix is the slowest Wine step, above all where
# 32-bit programs are emulated (wineboot sets up the 32-bit half too), and a
# copy of one is as fresh as a new one. Exits non-zero, with a message, when
# wineboot fails or does not finish within its limit.
#   tests/wine/make_prefix.sh DIR
set -euo pipefail
dir=$(realpath -m "$1")
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/timeouts.sh
. "$here/timeouts.sh"
mkdir -p "$(dirname "$dir")"
if [ -n "${WINE_PREFIX_TEMPLATE:-}" ] && [ -f "$WINE_PREFIX_TEMPLATE/system.reg" ]; then
  cp -a "$WINE_PREFIX_TEMPLATE" "$dir"
  exit 0
fi
wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
export WINEPREFIX=$dir WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
# wineboot may leave the 32-bit half of the set-up running: wait for every
# Wine process of the prefix to end.
if ! timeout "$(wine_limit 120)" "$wine" wineboot -i >/dev/null 2>&1 ||
  ! timeout "$(wine_limit 120)" "$(dirname "$wine")/wineserver" -w; then
  echo "wine prefix: wineboot failed or took over $(wine_limit 120) s" >&2
  exit 1
fi
