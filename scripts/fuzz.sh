#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, ASan + UBSan) and runs every
# fuzz target for a bounded time. Fails on the first finding.
#
# Convention for fuzz targets (every component follows it):
#   - a libFuzzer executable named fuzz_<what>, defined in fuzz/<area>/CMakeLists.txt;
#     it ends up somewhere under build/fuzz/fuzz/;
#   - optional seed inputs in fuzz/<area>/corpus/fuzz_<what>/ (one file per input);
#     they are copied to a scratch corpus, so runs never write into the source tree.
#
#   scripts/fuzz.sh                 every target, 30 s each
#   FUZZ_SECONDS=300 scripts/fuzz.sh
#   FUZZ_SEED=1 scripts/fuzz.sh     the same mutations every run (CI sets this,
#                                   so a landing is never blocked by chance;
#                                   fuzz with random seeds locally to find more)
#   scripts/fuzz.sh fuzz_settings   only the named targets
#
# A crash, leak, sanitizer report or timeout leaves its reproducer in
# build/fuzz/findings/<target>/ and makes the script exit non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-30}
jobs=${FUZZ_BUILD_JOBS:-2}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"

mapfile -t targets < <(find build/fuzz/fuzz -type f -name 'fuzz_*' -perm -u+x -not -path '*/CMakeFiles/*' 2>/dev/null | sort)
if [ "$#" -gt 0 ]; then
  wanted=("$@")
  selected=()
  for t in "${targets[@]}"; do
    for w in "${wanted[@]}"; do
      [ "$(basename "$t")" = "$w" ] && selected+=("$t")
    done
  done
  targets=("${selected[@]}")
fi
if [ "${#targets[@]}" -eq 0 ]; then
  echo "fuzz: no fuzz_* targets found under build/fuzz/fuzz" >&2
  exit 1
fi

seed_args=()
if [ -n "${FUZZ_SEED:-}" ]; then seed_args=(-seed="$FUZZ_SEED"); fi

failed=()
for exe in "${targets[@]}"; do
  name=$(basename "$exe")
  work=build/fuzz/corpus/$name
  findings=build/fuzz/findings/$name
  mkdir -p "$work" "$findings"
  seeds=$(find fuzz -type d -path "*/corpus/$name" 2>/dev/null | head -n 1)
  if [ -n "$seeds" ]; then cp -n "$seeds"/* "$work"/ 2>/dev/null || true; fi
  echo "== $name (${seconds}s)"
  if ! "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$findings/" -print_final_stats=1 "${seed_args[@]}" "$work" >"$findings/log.txt" 2>&1; then
    echo "fuzz: $name FAILED; see $findings/" >&2
    tail -n 30 "$findings/log.txt" >&2
    failed+=("$name")
  else
    grep -E '^stat::number_of_executed_units|^Done' "$findings/log.txt" || true
  fi
done

if [ "${#failed[@]}" -ne 0 ]; then
  echo "fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets clean"
