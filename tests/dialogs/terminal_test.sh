#!/bin/sh
# Shows the "Serial Communication Setup" dialog on a real terminal (a tmux
# pane on a private server), checks that it opens with the preset
# selections, drives it with keys and checks the string it hands back:
# Enter gives the new settings, Escape the old string.
#
#   terminal_test.sh PROBE [CAPTURE-FILE]
set -u
probe=$1
capture_to=${2:-}
run=0
sock="th-dialogs-$$-$run"
dir=$(mktemp -d)
failures=0

cleanup() {
  tmux -L "$sock" kill-server >/dev/null 2>&1
  rm -rf "$dir"
  rm -f "${TMUX_TMPDIR:-/tmp}/tmux-$(id -u)/th-dialogs-$$-"*
}
trap cleanup EXIT INT TERM

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

screen() {
  tmux -L "$sock" capture-pane -p -t dlg
}

# Waits up to 10 s until the pane shows text.
wait_for() {
  i=0
  while [ $i -lt 100 ]; do
    if screen | grep -qF -- "$1"; then return 0; fi
    sleep 0.1
    i=$((i + 1))
  done
  return 1
}

# Waits up to 10 s until file exists and is complete (ends with a newline).
wait_file() {
  i=0
  while [ $i -lt 100 ]; do
    if [ -s "$1" ] && [ "$(tail -c 1 "$1" | od -An -c | tr -d ' ')" = '\n' ]; then return 0; fi
    sleep 0.1
    i=$((i + 1))
  done
  return 1
}

# Starts the probe in a fresh pane: $1 = dialog, $2 = settings string, $3 = output file.
# Every run gets a server of its own, so that no run waits for the last
# one's server to go away.
start() {
  tmux -L "$sock" kill-server >/dev/null 2>&1
  rm -f "${TMUX_TMPDIR:-/tmp}/tmux-$(id -u)/$sock"
  run=$((run + 1))
  sock="th-dialogs-$$-$run"
  tmux -L "$sock" -f /dev/null new-session -d -s dlg -x 90 -y 24 \
    "TERM=screen LC_ALL=C.UTF-8 '$probe' '$1' '$2' '$3'; sleep 60" || {
    fail "cannot start tmux"
    return 1
  }
  wait_for "Serial Communication Setup" || {
    fail "the dialog did not appear"
    screen
    return 1
  }
}

expect_line() {
  screen | grep -qF -- "$1" || fail "screen lacks '$1'"
}

# 1. The full dialog, preset from the worked example; keys change every control.
start settings "device = COM2 baud = 4800 parity = even" "$dir/ok" && {
  expect_line "[COM2"
  expect_line "[4800"
  expect_line "(*) Even"
  expect_line "(*) 7 bit"
  expect_line "(*) 1 bit"
  expect_line "( ) 1.5 bit"
  expect_line "( ) 2 bits"
  expect_line "( ) No"
  expect_line "Baud Rate:"
  [ -n "$capture_to" ] && screen >"$capture_to"
  # Port list has the focus: COM3; Tab to the baud list: 2400; Tab to the
  # parity group: Odd; data bits: 8 bit; stop bits: 1.5 bit; Enter is OK.
  tmux -L "$sock" send-keys -t dlg Down
  wait_for "[COM3" || fail "Down did not select COM3"
  tmux -L "$sock" send-keys -t dlg Tab Up Tab Up Tab Down Tab Down
  wait_for "(*) 1.5" || fail "the keys did not reach the stop bits"
  expect_line "[2400"
  expect_line "(*) Odd"
  expect_line "(*) 8 bi"
  tmux -L "$sock" send-keys -t dlg Enter
  if wait_file "$dir/ok"; then
    got=$(cat "$dir/ok")
    want="device = COM3 baud = 2400 data = 8 parity = odd stop = 1.5"
    [ "$got" = "$want" ] || fail "Enter returned '$got', want '$want'"
  else
    fail "Enter did not end the dialog"
  fi
}

# 2. Escape hands back the old string, whatever the user changed.
old="device = COM2 baud = 4800 parity = even"
start settings "$old" "$dir/esc" && {
  tmux -L "$sock" send-keys -t dlg Down Tab Down
  wait_for "[9600" || fail "Down did not move the baud list"
  tmux -L "$sock" send-keys -t dlg Escape
  if wait_file "$dir/esc"; then
    got=$(cat "$dir/esc")
    [ "$got" = "$old" ] || fail "Escape returned '$got', want '$old'"
  else
    fail "Escape did not end the dialog"
  fi
}

# 3. The port-only dialog writes the port from the selected position.
start port "device = com5" "$dir/port" && {
  expect_line "[COM5"
  tmux -L "$sock" send-keys -t dlg Up Enter
  if wait_file "$dir/port"; then
    got=$(cat "$dir/port")
    [ "$got" = "device = COM4" ] || fail "port dialog returned '$got'"
  else
    fail "Enter did not end the port dialog"
  fi
}

if [ $failures -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "terminal dialog test passed"
