#!/usr/bin/env bash
# Builds the project and runs the main job: tarnctl demo against a
# simulated pager. No serial hardware is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)"
exec build/dev/tools/tarnctl/tarnctl demo "$@"
