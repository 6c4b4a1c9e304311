#!/usr/bin/env bash
# Proves the Debian package on this machine and leaves the machine as it
# found it, also when a step fails:
#   1. installs the package (root; the package must not be installed yet);
#   2. checks the files a user expects (programs, man pages, completion,
#      pkg-config, CMake package) and the version;
#   3. as a new user without root and with an empty home folder, runs
#      `tarnctl demo` from the installed paths, and a client built against
#      the installed headers (CMake find_package and pkg-config) that finds
#      the components through the machine's registry alone;
#   4. removes the package and checks that none of its files and none of
#      its registry entries are left.
# Installing and removing run with a hostile environment, as `sudo -E` can
# leave it: another regsvr first in PATH and the runtime's variables naming
# other registry files. The maintainer scripts must use neither.
#   tests/package/run.sh PACKAGE.deb
set -euo pipefail
deb=$(readlink -f "$1")
here=$(cd "$(dirname "$0")" && pwd)
name=$(dpkg-deb -f "$deb" Package)
version=$(dpkg-deb -f "$deb" Version)
registry=/etc/comrt/registry

fail() {
  echo "package check: $*" >&2
  exit 1
}
[ "$(id -u)" -eq 0 ] || fail "needs root (it installs and removes $name)"
if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "installed"; then
  fail "$name is installed already; this check installs and removes it, so it stops here"
fi

work=$(mktemp -d)
chmod 755 "$work"
[ -f "$registry" ] && cp -p "$registry" "$work/registry.before"
user="thcheck$$"
installed=0
registry_before=""
[ -e "$registry" ] && registry_before=$(cat "$registry")
etc_existed=0
[ -d /etc/comrt ] && etc_existed=1
cleanup() {
  set +e
  if [ "$installed" = 1 ]; then
    apt-get -o DPkg::Lock::Timeout=600 purge -y -qq "$name" >/dev/null 2>&1 ||
      dpkg --purge "$name" >/dev/null 2>&1
  fi
  id "$user" >/dev/null 2>&1 && userdel "$user" 2>/dev/null
  # A faulty package may leave its registry behind: put back what was here.
  if [ "$etc_existed" = 0 ]; then
    rm -rf /etc/comrt
  elif [ -f "$work/registry.before" ]; then
    cmp -s "$work/registry.before" "$registry" || cp -p "$work/registry.before" "$registry"
  fi
  rm -rf "$work"
}
trap cleanup EXIT

apt() { apt-get -o DPkg::Lock::Timeout=600 "$@"; }

decoy="$work/decoy"
mkdir "$decoy"
printf '#!/bin/sh\ntouch "%s/ran"\nexit 1\n' "$decoy" >"$decoy/regsvr"
chmod 755 "$decoy/regsvr"
hostile() {
  PATH="$decoy:$PATH" COMRT_REGISTRY="$decoy/registry" COMRT_MACHINE_REGISTRY="$decoy/machine" \
    XDG_CONFIG_HOME="$decoy" DEBIAN_FRONTEND=noninteractive "$@"
}
untouched() {
  [ ! -e "$decoy/ran" ] || fail "a maintainer script ran the regsvr found in PATH ($1)"
  if [ -e "$decoy/registry" ] || [ -e "$decoy/machine" ]; then
    fail "a maintainer script followed the runtime's environment variables ($1)"
  fi
}

echo "-- install $(basename "$deb")"
installed=1
hostile apt install -y -qq --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "the package did not install"; }
untouched install
dpkg -L "$name" >"$work/files"

echo "-- installed files"
for f in /usr/bin/tarnctl /usr/bin/pagersim /usr/bin/regsvr \
  /usr/share/man/man1/tarnctl.1.gz /usr/share/man/man1/pagersim.1.gz \
  /usr/share/man/man1/regsvr.1.gz /usr/share/bash-completion/completions/tarnctl \
  /usr/include/tarnholm/interfaces.h /usr/include/tarnholm/tarn_errors.h \
  /usr/include/comrt/comrt.h; do
  [ -e "$f" ] || fail "$f is missing"
done
grep -q '/pkgconfig/tarnholm.pc$' "$work/files" || fail "no pkg-config file"
grep -q '/cmake/TarnHolm/TarnHolmConfig.cmake$' "$work/files" || fail "no CMake package"
[ "$(tarnctl --version)" = "tarnctl ${version}" ] || fail "tarnctl --version: $(tarnctl --version)"
zcat /usr/share/man/man1/tarnctl.1.gz | grep -q '^\.SH SUBCOMMANDS' || fail "tarnctl.1 has no subcommands"
[ "$(stat -c %a "$registry")" = 644 ] || fail "$registry is not readable for every user"
grep -q 'BRENTAR.TARN' "$registry" || fail "libtarn is not in the machine's registry"
grep -q 'Brenlow.S19SUPPORT' "$registry" || fail "libholm is not in the machine's registry"

echo "-- a client built against the installed package (CMake and pkg-config)"
cmake -S "$here/../install_client/project" -B "$work/client" -G Ninja >/dev/null
cmake --build "$work/client" >/dev/null
# shellcheck disable=SC2046
g++ -std=c++20 -o "$work/client/pc_client" "$here/../install_client/project/client.cpp" \
  $(pkg-config --cflags --libs tarnholm)
chmod -R a+rX "$work/client"

echo "-- as a new user with an empty home folder"
mkdir "$work/home"
useradd -M -d "$work/home" -s /bin/sh "$user"
chown "$user" "$work/home"
as_user() {
  runuser -u "$user" -- env -i HOME="$work/home" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"
}
[ -z "$(ls -A "$work/home")" ] || fail "the home folder is not empty"
for client in installed_client pc_client; do
  out=$(as_user "$work/client/$client") || fail "$client failed as a user: $out"
  grep -q '^BRENTAR.TARN: OK$' <<<"$out" || fail "$client: $out"
done
[ ! -e "$work/home/.config/comrt/registry" ] || fail "a user's lookup wrote a registry file"
as_user tarnctl demo --no-window --size 128 >"$work/demo.log" 2>&1 ||
  { cat "$work/demo.log"; fail "tarnctl demo failed as a user"; }
grep -q '^  total' "$work/demo.log" || { cat "$work/demo.log"; fail "tarnctl demo printed no summary"; }
grep -E '^  (identify|write|verify|activate|total) ' "$work/demo.log"
# A user cannot change the machine's registry.
if as_user regsvr --system -s /usr/lib/*/libtarn.so >/dev/null 2>&1; then
  fail "a user could write the machine's registry"
fi

echo "-- remove"
hostile apt purge -y -qq "$name" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "removal failed"; }
installed=0
untouched removal
left=""
while IFS= read -r f; do
  [ -d "$f" ] && continue # folders such as /usr/bin are shared
  [ -e "$f" ] || [ -L "$f" ] && left+=" $f"
done <"$work/files"
[ -z "$left" ] || fail "files left after removal:$left"
if [ "$etc_existed" = 0 ]; then
  [ ! -e /etc/comrt ] || fail "/etc/comrt is left after removal: $(ls -A /etc/comrt)"
elif [ -e "$registry" ]; then
  ! grep -qE 'BRENTAR|Brenlow' "$registry" || fail "registry entries left in $registry"
fi
[ -z "$registry_before" ] || [ "$(cat "$registry")" = "$registry_before" ] ||
  fail "the machine's registry differs from before"
echo "package check: passed"
