#!/usr/bin/env bash
# Drives Holm's three settings dialogs and its progress window for real:
# the Windows build under Wine on a virtual display (Xvfb). Each dialog is
# opened through Change with a preset, checked, driven with keystrokes
# (xdotool) and closed with Enter (OK: the chosen settings come back) or
# Escape (Cancel: the caller's string comes back as it was). Pictures of
# every dialog as opened and as chosen, and of the progress window in the
# middle of a job, are kept in SHOTS_DIR.
#   tests/wine/dialogs.sh WORK_DIR WINE SHOTS_DIR [first]
# WORK_DIR holds wine_dialogs.exe; WINEPREFIX names a prefix where
# libholm.dll is registered. With "first" only the first case runs (the
# settings dialog, preset, driven and closed with OK: the modal dialog
# procedure and its window data), for runs where every process start is
# slow; the run says so.
set -euo pipefail
# shellcheck source=SCRIPTDIR/timeouts.sh
. "$(dirname "$0")/timeouts.sh"
work=$1
wine=$2
shots=$3
mkdir -p "$shots"
rm -f "$shots"/*.png

for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || {
    echo "dialog check: $tool is not installed" >&2
    exit 1
  }
done

# A free display number.
n=70
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
wineserver="$(dirname "$wine")/wineserver"
trap 'timeout 20 "$wineserver" -k 2>/dev/null; kill "$xvfb_pid" 2>/dev/null || true' EXIT
export DISPLAY=":$n"
# One Wine session on this display for every case (see run.sh).
"$wineserver" -p >"$work/wineserver-display.log" 2>&1
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
# No window manager: Wine draws the title bars itself.
timeout "$(wine_limit 60)" "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1

fail() {
  echo "dialog check: $*" >&2
  exit 1
}

# Waits for the top-level window titled $1 and prints its id.
find_window() {
  local id
  id=$(timeout "$(wine_limit 30)" xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -1) || true
  [ -n "$id" ] || fail "no window \"$1\""
  echo "$id"
}

shot() {
  import -window "$1" "$shots/$2.png" 2>/dev/null || import -window root "$shots/$2.png"
}

# NAME PROGID SETTINGS KEYS CLOSE-KEY EXPECTED
change() {
  local name=$1 progid=$2 settings=$3 keys=$4 close=$5 expected=$6 pid id result
  timeout "$(wine_limit 90)" "$wine" "$work/wine_dialogs.exe" change "$progid" "$settings" \
    >"$work/$name.log" 2>/dev/null &
  pid=$!
  id=$(find_window "Serial Communication Setup")
  sleep 0.5
  shot "$id" "$name-opened"
  xdotool windowfocus --sync "$id"
  # shellcheck disable=SC2086
  xdotool key --delay 60 $keys
  sleep 0.4
  shot "$id" "$name-chosen"
  xdotool key "$close"
  wait "$pid" || fail "$name: the client failed"
  result=$(tr -d '\r' <"$work/$name.log" | sed -n 's/^result: //p')
  echo "     $name: \"$settings\" -> \"$result\""
  [ "$result" = "$expected" ] || fail "$name: expected \"$expected\""
}

change settings-ok Brenlow.HCPORTSETTINGS "device = COM2 baud = 4800 parity = even" \
  "alt+c Down alt+b Down alt+d Down" Return \
  "device = COM3 baud = 9600 data = 8 parity = even stop = 1"
if [ "${4:-}" = first ]; then
  echo "dialog check: passed (the first case only; the other five and the progress" \
    "window NOT RUN here)"
  exit 0
fi
change settings-cancel Brenlow.HCPORTSETTINGS "device = COM2 baud = 4800 parity = even" \
  "alt+c Down alt+s Down" Escape "device = COM2 baud = 4800 parity = even"
change baudport-ok Brenlow.HCBAUDPORT "device = COM4 baud = 1200" \
  "alt+b Up alt+c Down" Return "device = COM5 baud = 600"
change baudport-cancel Brenlow.HCBAUDPORT "device = COM4 baud = 1200" \
  "alt+b Down" Escape "device = COM4 baud = 1200"
change portonly-ok Brenlow.HCONLYPORT "device = COM1" "alt+c End" Return "device = COM8"
change portonly-cancel Brenlow.HCONLYPORT "device = COM6 baud = 19200" "alt+c Home" Escape \
  "device = COM6 baud = 19200"

# The progress window in the middle of a job: its caption is the step's.
timeout "$(wine_limit 90)" "$wine" "$work/wine_dialogs.exe" progress 3 >"$work/progress.log" 2>/dev/null &
pid=$!
for _ in $(seq "$(wine_limit 300)"); do grep -q mid-job "$work/progress.log" && break; sleep 0.1; done
grep -q mid-job "$work/progress.log" || fail "the progress client did not reach the middle"
id=$(find_window "Download")
sleep 0.3
shot "$id" progress-mid-job
wait "$pid" || fail "the progress client failed"
echo "     progress window seen in the middle of a job"
echo "dialog check: passed ($(ls "$shots" | wc -l) pictures in $shots)"
