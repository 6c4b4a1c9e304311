#!/usr/bin/env bash
# Runs the Windows build under Wine: registers libtarn.dll and libholm.dll
# with regsvr32 in a fresh Wine prefix, serves a simulated pager (the Linux
# pagersim) on a pseudo-terminal that Wine maps to COM1, and runs the
# Windows client against all five Holm classes and the download object
# (early and late bound); then the writers' file rules under two ANSI code
# pages, the VBScript examples under the script host of the same width, and
# the dialogs and progress window driven on a virtual display (dialogs.sh).
#   tests/wine/run.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
# The Windows build may be 64-bit or (with Wine's 32-bit part installed)
# 32-bit; each step has a time limit (timeouts.sh) that fails a hang.
set -euo pipefail
win=$(cd "$1" && pwd)
linux=$(cd "$2" && pwd)
wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
if [ ! -x "$wine" ]; then
  echo "wine check: wine64 is not installed" >&2
  exit 1
fi

work=$(mktemp -d)
sim_pid=""
ser2net_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  [ -n "$ser2net_pid" ] && kill "$ser2net_pid" 2>/dev/null || true
  WINEPREFIX="$work/prefix" timeout 20 "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/timeouts.sh
. "$here/timeouts.sh"
# shellcheck source=SCRIPTDIR/pager_com1.sh
. "$here/pager_com1.sh"

# run_windows WHAT LIMIT LOG COMMAND...: runs COMMAND (a Windows program
# under Wine) for at most LIMIT seconds, its output shown and kept in LOG;
# a failure ends the check, saying "wine check: WHAT".
run_windows() {
  local what=$1 limit=$2 log=$3
  shift 3
  set +e
  timeout "$limit" "$@" 2>/dev/null | tr -d '\r' | tee "$log"
  local rc=${PIPESTATUS[0]}
  set -e
  if [ "$rc" -ne 0 ]; then
    echo "wine check: $what (exit $rc)" >&2
    exit 1
  fi
}

export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
"$here/make_prefix.sh" "$WINEPREFIX"
# One Wine session for the whole check: a persistent server keeps the
# prefix's services running between the steps, so that a slow-starting
# (emulated) process does not meet them shutting down.
"$(dirname "$wine")/wineserver" -p >"$work/wineserver.log" 2>&1

cp "$win/tarn/server/libtarn.dll" "$win/holm/module/libholm.dll" \
   "$win/tests/wine/wine_client.exe" "$here/../../examples/port_and_progress.vbs" \
   "$here/../../examples/create_by_progid.vbs" "$work/"
for dll in libtarn.dll libholm.dll; do
  timeout "$(wine_limit 60)" "$wine" regsvr32 /s "Z:${work//\//\\}\\$dll" ||
    { echo "wine check: regsvr32 $dll failed or took over $(wine_limit 60) s" >&2; exit 1; }
done

serve_pager_on_com1 "$linux/tools/pagersim/pagersim" "$work"

run_windows "failed" "$(wine_limit 120)" "$work/client.log" \
  "$wine" "$work/wine_client.exe" COM1 "Z:${work//\//\\}\\image.s19"

# The same client through a network serial server: ser2net on loopback in
# front of the same simulated pager, reached as rfc2217://127.0.0.1:PORT
# through Winsock.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf '%%YAML 1.1\n---\nconnection: &pager\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%s\n  connector: serialdev,%s,9600n81,local\n' \
  "$port" "$(readlink -f "$work/pager")" >"$work/ser2net.yaml"
ser2net -n -c "$work/ser2net.yaml" -P "$work/ser2net.pid" 2>/dev/null &
ser2net_pid=$!
# Listening once the port can no longer be bound (no probe connection: the
# server would then be busy closing it).
for _ in $(seq 50); do
  python3 -c 'import socket, sys; socket.socket().bind(("127.0.0.1", int(sys.argv[1])))' "$port" \
    2>/dev/null || break
  sleep 0.1
done
run_windows "failed through ser2net" 120 "$work/client-remote.log" \
  "$wine" "$work/wine_client.exe" "rfc2217://127.0.0.1:$port" "Z:${work//\//\\}\\remote.s19"
kill "$ser2net_pid" 2>/dev/null || true
ser2net_pid=""

# The writers' file rules and text through the ANSI code page: once with
# the prefix's usual code page and once with UTF-8 (65001). Wine takes the
# ANSI code page from the locale, and a locale without an ANSI code page of
# its own (Hindi) gets UTF-8; the Unix side of that locale is C.UTF-8 under
# the name Wine looks for.
cp "$win/tests/wine/wine_rules.exe" "$work/"
mkdir -p "$work/locales"
ln -s /usr/lib/locale/C.utf8 "$work/locales/hi_IN.UTF-8"
for acp in 1252 65001; do
  rm -rf "$work/rules" && mkdir "$work/rules"
  locale_env=(LC_ALL=C.UTF-8)
  [ "$acp" = 65001 ] && locale_env=(LOCPATH="$work/locales" LC_ALL=hi_IN.UTF-8)
  run_windows "file rules or code page $acp failed" "$(wine_limit 120)" "$work/rules.log" \
    env "${locale_env[@]}" "$wine" "$work/wine_rules.exe" "Z:${work//\//\\}\\rules" "$acp"
done

# The VBScript example drives the automation objects through IDispatch. With
# no display the dialog cannot open, so Change hands the string back as it was.
# A 32-bit library is reached from the 32-bit script host.
cscript=cscript
if objdump -f "$work/libholm.dll" 2>/dev/null | grep -q 'pei-i386'; then
  cscript='C:\windows\syswow64\cscript.exe'
fi
vbs=$(timeout "$(wine_limit 60)" "$wine" "$cscript" //nologo "Z:${work//\//\\}\\port_and_progress.vbs" 2>/dev/null |
  tr -d '\r')
echo "$vbs"
if [ "$vbs" != "Port settings: device = COM2 baud = 4800 parity = even" ]; then
  echo "wine check: the VBScript example failed" >&2
  exit 1
fi
# Every class by ProgID from the script host of the library's width.
vbs=$(timeout "$(wine_limit 60)" "$wine" "$cscript" //nologo "Z:${work//\//\\}\\create_by_progid.vbs" \
  2>/dev/null | tr -d '\r')
echo "$vbs"
want="Brenlow.S19SUPPORT: created
Brenlow.PROGRESSER: created
Brenlow.HCPORTSETTINGS: created
Brenlow.HCONLYPORT: created
Brenlow.HCBAUDPORT: created
BRENTAR.TARN: no automation interface"
if [ "$vbs" != "$want" ]; then
  echo "wine check: the script host did not create every class by ProgID" >&2
  exit 1
fi
# The dialogs and the progress window driven on a virtual display, with
# pictures kept beside the build. In both widths: the windows are the same
# code, but the dialog's window data and the window procedures' calling
# convention are not the same in a 32-bit process.
cp "$win/tests/wine/wine_dialogs.exe" "$work/"
# The Wine session so far ran without a display, and a session keeps the
# display it started with: end it so the next one opens on Xvfb.
timeout 30 "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
timeout 30 "$(dirname "$wine")/wineserver" -w 2>/dev/null || true
# Where 32-bit programs are emulated each 32-bit process takes from half a
# minute to minutes to start: the 32-bit dialog check then runs its first
# case only (one process instead of seven).
cases=all
if [ "$cscript" != cscript ] && [ "$wine_slowdown" -gt 1 ]; then cases=first; fi
"$here/dialogs.sh" "$work" "$wine" "$win/wine-screens" "$cases"
echo "wine check: passed"
