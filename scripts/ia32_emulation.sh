#!/usr/bin/env bash
# Lets a machine whose kernel cannot execute 32-bit x86 programs run them
# anyway, so that the i686 Windows build can be tested under 32-bit Wine:
# QEMU's user-mode emulator (qemu-i386, Debian package qemu-user) is
# registered with binfmt_misc as the interpreter of 32-bit x86 ELF programs,
# with the F flag (the interpreter is opened once, at registration, so it
# serves every mount namespace). Run by scripts/setup.sh after the packages.
#
# A machine that runs 32-bit programs already (natively, or through an
# earlier registration) is left untouched and nothing is printed. Otherwise
# one line says what was done, or why it could not be done (no root, no
# binfmt_misc in this kernel); the i686 Wine checks then stay "NOT RUN".
# Exits 0 in every case but a failed package install.
#   scripts/ia32_emulation.sh
set -euo pipefail

loader=/lib/ld-linux.so.2 # from libc6:i386, which 32-bit Wine pulls in
[ -e "$loader" ] || exit 0
"$loader" --version >/dev/null 2>&1 && exit 0

say() { echo "setup: this kernel cannot run 32-bit programs: $*"; }
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if ! sudo -n true 2>/dev/null; then
    say "not emulated (needs root to register qemu-i386 with binfmt_misc)"
    exit 0
  fi
  SUDO="sudo -n"
fi
if ! grep -qw binfmt_misc /proc/filesystems; then
  say "not emulated (the kernel has no binfmt_misc)"
  exit 0
fi

if ! dpkg-query -W -f='${Status}' qemu-user 2>/dev/null | grep -q "ok installed"; then
  $SUDO apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    qemu-user >/dev/null
fi
qemu=/usr/bin/qemu-i386
binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/register" ]; then
  $SUDO mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || {
    say "not emulated (binfmt_misc cannot be mounted here)"
    exit 0
  }
fi
# ELF, 32-bit, little-endian, executable or shared object, Intel 80386.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
entry="$binfmt/qemu-i386"
if [ -e "$entry" ]; then
  echo 1 | $SUDO tee "$entry" >/dev/null # registered before, but disabled
else
  echo ":qemu-i386:M::$magic:$mask:$qemu:F" | $SUDO tee "$binfmt/register" >/dev/null
fi
if "$loader" --version >/dev/null 2>&1; then
  say "emulated by $qemu (binfmt_misc entry qemu-i386)"
else
  say "not emulated (qemu-i386 is registered, yet $loader still does not run)"
fi
