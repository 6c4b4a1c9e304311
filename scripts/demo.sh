#!/usr/bin/env bash
# Builds what the main job needs (the Linux libraries, tarnctl and
# pagersim; no tests, no Windows toolchain) and runs it: tarnctl demo
# against a simulated pager. No serial hardware is needed. Arguments go to
# `tarnctl demo` (--size N, --keep, --real-pacing, --trace FILE).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --demo
cmake --preset demo >/dev/null
cmake --build --preset demo -j "$(nproc)"
exec build/demo/tools/tarnctl/tarnctl demo "$@"
