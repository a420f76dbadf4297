#!/usr/bin/env bash
# The whole test suite under the sanitizers: AddressSanitizer with
# UndefinedBehaviorSanitizer (preset asan, build/asan), then ThreadSanitizer
# (preset tsan, build/tsan; pending completion runs on the manager's own
# thread). Give preset names to run only those: scripts/sanitize.sh tsan
set -euo pipefail
cd "$(dirname "$0")/.."

linux_sets=()
for list in scripts/packages/*.txt; do
  set_name=$(basename "$list" .txt)
  [ "$set_name" = windows ] || linux_sets+=("$set_name")
done
scripts/install-deps.sh "${linux_sets[@]}"

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(asan tsan)
for preset in "${presets[@]}"; do
  echo "== $preset =="
  scripts/build.sh "$preset"
  ctest --preset "$preset" -j "$(nproc)"
done
