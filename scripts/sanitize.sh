#!/usr/bin/env bash
# The whole test suite under the sanitizers: AddressSanitizer with
# UndefinedBehaviorSanitizer (preset asan, build/asan), then ThreadSanitizer
# (preset tsan, build/tsan; pending completion runs on the manager's own
# thread). Give preset names to run only those: scripts/sanitize.sh tsan
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh linux

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(asan tsan)
for preset in "${presets[@]}"; do
  echo "== $preset =="
  scripts/build.sh "$preset"
  ctest --preset "$preset" -j "$(nproc)"
done
