# shellcheck shell=bash
# Sourced by the Wine checks, after timeouts.sh, with $wine and $WINEPREFIX
# set. serve_pager_on_com1 PAGERSIM DIR starts the pager simulator in the
# background on DIR/pager (its output in DIR/sim.log, its process id in
# $sim_pid) and makes that pager COM1: in the registry, which Wine's device
# manager reads when a session starts, and as the link it makes from it.
# shellcheck disable=SC2034,SC2154  # sim_pid is the caller's, and so is $wine
serve_pager_on_com1() {
  "$1" --fast --symlink "$2/pager" >"$2/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do [ -e "$2/pager" ] && break; sleep 0.1; done
  timeout "$(wine_limit 60)" "$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 \
    /d "$(readlink -f "$2/pager")" /f >/dev/null 2>&1
  ln -sfn "$(readlink -f "$2/pager")" "$WINEPREFIX/dosdevices/com1"
}
