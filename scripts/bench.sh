#!/usr/bin/env bash
# Builds the benchmarks with the linux preset (RelWithDebInfo) and runs every
# benchmark program of bench/ (each add_executable in bench/CMakeLists.txt),
# printing its figures. BENCH_BUILD_DIR chooses another build directory
# (default build/linux). Benchmarks print; they never pass or fail on time.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh linux

build=${BENCH_BUILD_DIR:-build/linux}
cmake --preset linux -B "$build" >/dev/null
mapfile -t benchmarks < <(sed -n 's/^[[:space:]]*add_executable(\([A-Za-z0-9_]*\).*/\1/p' bench/CMakeLists.txt)

echo "Machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name:[[:space:]]*//p')"
failed=()
for benchmark in "${benchmarks[@]}"; do
  echo
  echo "== $benchmark =="
  if ! cmake --build "$build" -j "$(nproc)" --target "$benchmark" >"$build/$benchmark.build.log" 2>&1; then
    tail -n 30 "$build/$benchmark.build.log"
    failed+=("$benchmark (build)")
    continue
  fi
  if ! LD_LIBRARY_PATH="$PWD/$build/sim" "$build/bench/$benchmark"; then
    failed+=("$benchmark")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "benchmarks that did not run to the end: ${failed[*]}" >&2
  exit 1
fi
