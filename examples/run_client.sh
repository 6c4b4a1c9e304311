#!/bin/sh
# Runs the client example against a simulated pager, with a private registry
# in which the two component libraries are registered first.
#   run_client.sh CLIENT REGSVR PAGERSIM LIBTARN LIBHOLM WORKDIR
set -eu
client=$1 regsvr=$2 pagersim=$3 libtarn=$4 libholm=$5 work=$6
mkdir -p "$work"
cd "$work"
export COMRT_REGISTRY="$work/registry"
rm -f "$COMRT_REGISTRY"
"$regsvr" "$libtarn"
"$regsvr" "$libholm"
"$pagersim" --info "EXAMPLE PAGER 01" > pagersim.out &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
device=""
for _ in $(seq 50); do
  device=$(sed -n 's/^pagersim: serving on //p' pagersim.out)
  [ -n "$device" ] && break
  sleep 0.1
done
[ -n "$device" ] || { echo "pagersim did not start"; exit 1; }
# setsid: no controlling terminal, so no window appears during the tests.
setsid "$client" "$device" < /dev/null
