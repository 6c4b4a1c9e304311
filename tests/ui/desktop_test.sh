#!/bin/sh
# The desktop backend on a virtual X server (Xvfb): client processes without
# a terminal (setsid) and with DISPLAY set open Holm's windows, which the
# window helper draws; xdotool types the keys.
#   - the three settings dialogs (templates 131, 135, 132): OK returns the
#     settings chosen with the keyboard, Escape the caller's string;
#   - the progress window: caption, step text and bar while the client works,
#     gone after Hide;
#   - the helper never outlives its client: client killed, client killed
#     while a child of its holds the helper's socket, client exec'd;
#   - no display and no terminal: the dialog fails to open as before; a
#     helper that cannot be started: the same, with one line on stderr.
# Screenshots of every window go to SHOTS-DIR (CI keeps them).
#
#   desktop_test.sh DESKTOP_PROBE PORT_SETUP_PROBE PROGRESS_DEMO SHOTS-DIR
set -u
probe=$1
setup=$2
progress=$3
shots=$4
here=$(cd "$(dirname "$0")" && pwd)
for tool in Xvfb xdotool import python3 setsid; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIPPED: $tool is not installed (scripts/setup.sh installs it)"
    exit 77
  fi
done
mkdir -p "$shots"
dir=$(mktemp -d)
failures=0
pids=""
xvfb=""

cleanup() {
  for p in $pids; do kill -9 "$p" 2>/dev/null; done
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT INT TERM

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Polls (every 0.1 s, up to $2 tenths) until command $1 succeeds; $1 is
# evaluated here, so it reads global variables only.
poll() {
  i=0
  while [ "$i" -lt "$2" ]; do
    if eval "$1"; then return 0; fi
    sleep 0.1
    i=$((i + 1))
  done
  return 1
}

# A server of our own on a free display; it names the display when ready.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb=$!
poll '[ -s "$dir/display" ]' 100 || { cat "$dir/xvfb.log"; echo "FAIL: Xvfb did not start"; exit 1; }
export DISPLAY=":$(cat "$dir/display")"
unset WAYLAND_DISPLAY HOLM_UI HOLM_UI_HELPER
export GDK_BACKEND=x11 NO_AT_BRIDGE=1 LC_ALL=C.UTF-8
export HOLM_UI_HELPER_LOG="$dir/helper.log"
echo "display $DISPLAY"

# Waits up to 20 s for a visible window whose name matches $1; prints its id.
window() {
  timeout 20 xdotool search --sync --onlyvisible --limit 1 --name "$1"
}

# Waits until file $1 is complete (ends with a newline).
wait_file() {
  wf=$1
  poll '[ -s "$wf" ] && [ "$(tail -c 1 "$wf" | od -An -c | tr -d " ")" = "\\n" ]' 200
}

shot() {
  import -window "$1" "$shots/$2.png" || fail "no screenshot $2"
}

# Runs a settings dialog: $1 kind, $2 preset, $3 keys, $4 last key, $5 the
# expected result, $6 screenshot name (or empty).
dialog() {
  out="$dir/out.$$"
  rm -f "$out"
  setsid "$setup" "$1" "$2" "$out" 2>>"$dir/stderr" &
  client=$!
  pids="$pids $client"
  if ! win=$(window "^Serial Communication Setup\$"); then
    fail "$1: no dialog appeared"
    kill -9 "$client" 2>/dev/null
    return 1
  fi
  xdotool windowfocus --sync "$win"
  [ -n "$3" ] && xdotool key --delay 20 $3
  if [ -n "$6" ]; then
    # The screenshot once the helper's widgets hold the keys' result.
    pat=$7
    poll 'grep -q "$pat" "$HOLM_UI_HELPER_LOG"' 100 || fail "$1: the keys did not reach the dialog ($7)"
    shot "$win" "$6"
  fi
  xdotool key "$4"
  if wait_file "$out"; then
    got=$(cat "$out")
    [ "$got" = "$5" ] || fail "$1 ($4): got '$got', want '$5'"
  else
    fail "$1: $4 did not end the dialog"
  fi
  wait "$client"
  : >"$HOLM_UI_HELPER_LOG"
}

echo "== settings dialog (131): preset, keys, OK"
dialog settings "device = COM2 baud = 4800 parity = even" "" Return \
  "device = COM2 baud = 4800 data = 7 parity = even stop = 1" ""
# Port list has the focus: COM3; Tab: baud 2400; Tab: parity Odd; data 8 bit;
# stop 1.5 bit; Enter is OK.
dialog settings "device = COM2 baud = 4800 parity = even" "Down Tab Up Tab Up Tab Down Tab Down" \
  Return "device = COM3 baud = 2400 data = 8 parity = odd stop = 1.5" settings-131 \
  "^131 1011 shown checked"
dialog settings "device = COM2 baud = 4800 parity = even" "Down Tab Down" Escape \
  "device = COM2 baud = 4800 parity = even" ""

echo "== baud and port dialog (135): OK has the focus first; Tab order OK, Cancel, port, baud"
dialog baudport "device = COM3 baud = 1200" "Tab Tab Down Tab Down" Return \
  "device = COM4 baud = 2400" baudport-135 "^135 1004 shown 2400"
dialog baudport "device = COM3 baud = 1200" "Tab Tab Down" Escape "device = COM3 baud = 1200" ""

echo "== port dialog (132)"
dialog port "device = com5" "Up" Return "device = COM4" port-132 "^132 1003 shown COM4"
dialog port "device = com5" "Up Up" Escape "device = com5" ""

echo "== progress window"
fill() {
  import -window "$1" -depth 8 ppm:- | python3 "$here/bar_fill.py"
}
stage() {
  st=$1
  poll '[ -e "$dir/p/stage_$st" ]' 200
}
mkdir "$dir/p"
setsid "$progress" "$dir/p" >/dev/null 2>>"$dir/stderr" &
client=$!
pids="$pids $client"
if stage 1 && win=$(window "^Progress Indicator\$"); then
  poll 'grep -q "^130 1000 shown Performing operation" "$HOLM_UI_HELPER_LOG"' 100 ||
    fail "progress: the template's text is not shown"
  [ "$(fill "$win")" = 0 ] || fail "progress: the bar is not empty at first"
  touch "$dir/p/go_1"
  stage 2
  # Position 15 of 101: 14 %, caption and text of the first step.
  window "^Download\$" >/dev/null || fail "progress: caption Download not shown"
  poll 'grep -q "^130 1001 shown 14%" "$HOLM_UI_HELPER_LOG"' 100 || fail "progress: 14% not shown"
  grep -q "^130 1000 shown Erasing" "$HOLM_UI_HELPER_LOG" || fail "progress: step text not shown"
  poll '[ "$(fill "$win")" -gt 0 ]' 100 || fail "progress: the bar shows no fill at 14%"
  f2=$(fill "$win")
  touch "$dir/p/go_2"
  stage 3
  # Position 65 of 101: the second step's text, 64 %.
  poll 'grep -q "^130 1001 shown 64%" "$HOLM_UI_HELPER_LOG"' 100 || fail "progress: 64% not shown"
  grep -q "^130 1000 shown Writing" "$HOLM_UI_HELPER_LOG" || fail "progress: second step not shown"
  poll '[ "$(fill "$win")" -gt $((f2 * 3)) ]' 100 || fail "progress: the bar did not grow"
  f3=$(fill "$win")
  echo "bar fill: ${f2} px at 15/101, ${f3} px at 65/101"
  # The two fills stand as 15 to 65, within a few pixels.
  [ $((f2 * 65 - f3 * 15)) -lt $((65 * 4)) ] && [ $((f3 * 15 - f2 * 65)) -lt $((65 * 4)) ] ||
    fail "progress: fills $f2 and $f3 are not as 15 to 65"
  shot "$win" progress-130
  touch "$dir/p/go_3"
  stage 4
  # Hidden: no visible window with the caption is left.
  poll '! xdotool search --onlyvisible --name "^Download\$" >/dev/null' 100 ||
    fail "progress: the window stays after Hide"
  touch "$dir/p/go_4"
else
  fail "progress: no window appeared"
fi
wait "$client"
: >"$HOLM_UI_HELPER_LOG"

echo "== the helper never outlives its client"
# Starts desktop_probe $1 (client) and finds its window's helper (helper).
helper_of() {
  setsid "$probe" "$1" "$dir" >/dev/null 2>>"$dir/stderr" &
  client=$!
  pids="$pids $client"
  win=$(window "^Probe Window\$") || return 1
  helper=$(xdotool getwindowpid "$win")
}
gone() {
  gp=$1
  poll '! kill -0 "$gp" 2>/dev/null || [ "$(ps -o stat= -p "$gp" | cut -c1)" = Z ]' "$2"
}
for how in killed fork exec; do
  case $how in
    killed) mode=wait ;;
    *) mode=$how ;;
  esac
  if ! helper_of "$mode"; then
    fail "$how: no window"
    continue
  fi
  [ "$(cat "/proc/$helper/comm" 2>/dev/null)" = holm-ui-helper ] || fail "$how: window not drawn by the helper"
  if [ "$how" = exec ]; then
    # The client becomes `sleep`: its end of the socket closes on exec.
    touch "$dir/go"
    poll '[ "$(cat /proc/$client/comm)" = sleep ]' 100
  else
    # fork: a child of the client still holds the socket; only the
    # parent's death tells the helper.
    start=$(date +%s%N)
    kill -9 "$client"
  fi
  if gone "$helper" 20; then
    [ "$how" = exec ] || echo "$how: helper gone $((($(date +%s%N) - start) / 1000000)) ms after the client was killed"
  else
    fail "$how: the helper $helper outlived its client"
    kill -9 "$helper" 2>/dev/null
  fi
  kill -9 "$client" 2>/dev/null
  wait "$client" 2>/dev/null
done

echo "== no display, no terminal: as before"
old="device = COM2 baud = 4800"
(unset DISPLAY; HOLM_UI_HELPER_LOG=; setsid "$setup" settings "$old" "$dir/nodisplay" 2>"$dir/nodisplay.err")
[ "$(cat "$dir/nodisplay")" = "$old" ] || fail "no display: got '$(cat "$dir/nodisplay")'"
[ -s "$dir/nodisplay.err" ] && fail "no display: stderr: $(cat "$dir/nodisplay.err")"
[ "$(DISPLAY= setsid "$probe" backend)" = "backend=terminal" ] || fail "no display: not the terminal backend"
[ "$(setsid "$probe" backend)" = "backend=desktop" ] || fail "display, no terminal: not the desktop backend"

echo "== helper missing: dialogs fail to open, one line on stderr"
HOLM_UI_HELPER=/nonexistent/holm-ui-helper setsid "$probe" twice >"$dir/twice" 2>"$dir/twice.err"
[ "$(cat "$dir/twice")" = "$(printf 'modal=-1\nmodal=-1\nwindow done')" ] || fail "helper missing: $(cat "$dir/twice")"
[ "$(wc -l <"$dir/twice.err")" = 1 ] && grep -q "^holm: no desktop window: " "$dir/twice.err" ||
  fail "helper missing: stderr: $(cat "$dir/twice.err")"
HOLM_UI_HELPER=/nonexistent/holm-ui-helper setsid "$setup" port "device = COM7" "$dir/missing" 2>/dev/null
[ "$(cat "$dir/missing")" = "device = COM7" ] || fail "helper missing: Change returned '$(cat "$dir/missing")'"

if [ -s "$dir/stderr" ]; then
  echo "stderr of the clients:"
  cat "$dir/stderr"
fi
echo "screenshots in $shots"
if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all passed"
