#!/usr/bin/env bash
# Installs every system package the project needs, only when missing.
# Idempotent; safe to run before every build. Needs root (or sudo).
#   scripts/setup.sh          everything (tests, Windows builds, packaging)
#   scripts/setup.sh --demo   only what scripts/demo.sh builds
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libncurses-dev libcli11-dev nettle-dev nlohmann-json3-dev
  srecord binutils
  mingw-w64 wine64 wine32:i386
  tmux ccache stress-ng
  nsis lintian help2man fakeroot dpkg-dev bash-completion zip
  libgtk-3-dev libgtk-3-0 xvfb xdotool imagemagick x11-apps
  ser2net python3-serial
)
if [ "${1:-}" = "--demo" ]; then
  # libgtk-3-dev: Holm's desktop window helper, built with the libraries.
  packages=(g++ make cmake ninja-build pkg-config libncurses-dev libcli11-dev nettle-dev
    nlohmann-json3-dev libgtk-3-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done

# 32-bit programs for the i686 Wine checks, emulated where the kernel cannot
# run them (after the packages, which bring the 32-bit loader).
ia32() { [ "${1:-}" = "--demo" ] || "$(dirname "$0")/ia32_emulation.sh"; }
if [ ${#missing[@]} -eq 0 ]; then
  ia32 "$@"
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# The 32-bit Wine (to run the i686 Windows build) comes from the i386 architecture.
need_i386=0
for p in "${missing[@]}"; do
  if [[ $p == *:i386 ]]; then need_i386=1; fi
done
foreign=" $(dpkg --print-foreign-architectures | tr '\n' ' ') "
if [ "$need_i386" = 1 ] && [[ $foreign != *" i386 "* ]]; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
ia32 "$@"
