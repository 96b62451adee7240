#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds and runs the default preset, then the
# sanitizer presets: AddressSanitizer, UndefinedBehaviorSanitizer and short fuzz runs, then
# ThreadSanitizer over every suite but the fault matrix.
# Pass preset names to run only those: scripts/test.sh default
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default asan tsan)
jobs=$(nproc)
summary=()
results=$(mktemp)
trap 'rm -f "$results"' EXIT
for p in "${presets[@]}"; do
  echo "== preset $p"
  start=$SECONDS
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" -j "$jobs"
  ctest --preset "$p" -j "$jobs" | tee "$results"
  summary+=("$p: $(grep -m1 'tests passed' "$results"), $((SECONDS - start)) s")
done
echo "== summary"
printf '%s\n' "${summary[@]}"
