#!/usr/bin/env bash
# The Debian maintainer scripts register both libraries with the package's
# own regsvr in the machine's registry, and remove them again, whatever the
# environment that runs them holds (sudo -E keeps it): another regsvr first
# in PATH, and COMRT_REGISTRY, COMRT_MACHINE_REGISTRY and XDG_CONFIG_HOME
# naming other files. The scripts run in a private mount namespace with
# empty folders over the install prefix's bin, lib and etc, holding only
# this build's regsvr and libraries, so nothing is installed on the machine.
# Needs root, unshare and a prefix outside the system's own folders (such
# as /usr/local); exits 77 (skipped) otherwise.
#   maintainer_scripts_test.sh SCRIPTS BINDIR LIBDIR SYSCONFDIR REGSVR LIBTARN LIBHOLM
set -euo pipefail
scripts=$1 bindir=$2 libdir=$3 etc=$4 regsvr=$5 libtarn=$6 libholm=$7
registry="$etc/comrt/registry"

[ "$(id -u)" -eq 0 ] || { echo "skipped: needs root"; exit 77; }
command -v unshare >/dev/null || { echo "skipped: no unshare"; exit 77; }
for dir in "$bindir" "$libdir" "$etc"; do
  case "$dir" in
    /usr/local/* | /opt/*) ;;
    *) echo "skipped: $dir is a system folder"; exit 77 ;;
  esac
done
unshare -m true 2>/dev/null || { echo "skipped: no mount namespaces here"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
decoy="$work/decoy"
mkdir "$decoy"
printf '#!/bin/sh\ntouch "%s/ran"\nexit 1\n' "$decoy" >"$decoy/regsvr"
chmod 755 "$decoy/regsvr"

export scripts bindir libdir etc regsvr libtarn libholm registry decoy
# shellcheck disable=SC2016 # expanded by the inner shell
unshare -m --propagation private bash -euo pipefail -c '
  for dir in "$bindir" "$libdir" "$etc"; do
    mkdir -p "$dir"
    mount -t tmpfs tarnholm-test "$dir"
  done
  cp "$regsvr" "$bindir/regsvr"
  cp "$libtarn" "$libdir/libtarn.so"
  cp "$libholm" "$libdir/libholm.so"
  hostile() {
    PATH="$decoy:$PATH" COMRT_REGISTRY="$decoy/registry" \
      COMRT_MACHINE_REGISTRY="$decoy/machine" XDG_CONFIG_HOME="$decoy" "$@"
  }
  hostile sh "$scripts/postinst" configure || { echo "FAIL: postinst failed"; exit 1; }
  grep -q "BRENTAR.TARN" "$registry" || { echo "FAIL: libtarn is not in $registry"; exit 1; }
  grep -q "Brenlow.S19SUPPORT" "$registry" || { echo "FAIL: libholm is not in $registry"; exit 1; }
  [ "$(stat -c %a "$registry")" = 644 ] || { echo "FAIL: $registry is not 0644"; exit 1; }
  hostile sh "$scripts/prerm" remove || { echo "FAIL: prerm failed"; exit 1; }
  if grep -qE "BRENTAR|Brenlow" "$registry"; then
    echo "FAIL: prerm left the classes in $registry"
    exit 1
  fi
'
if [ -e "$decoy/ran" ]; then
  echo "FAIL: a maintainer script ran the regsvr found in PATH"
  exit 1
fi
for f in registry machine; do
  if [ -e "$decoy/$f" ]; then
    echo "FAIL: a maintainer script wrote $decoy/$f, named by the environment"
    exit 1
  fi
done
echo "maintainer scripts: passed"
