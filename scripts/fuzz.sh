#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/*_fuzzer.cpp) with clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer (the preset fuzz, in
# build/fuzz), and runs each for FUZZ_SECONDS seconds (default 20) from its
# seeds in fuzz/corpus/<target>/. What a run finds worth keeping goes to
# build/fuzz/corpus/<target>/, crashing inputs to build/fuzz/artifacts/.
# A crash, a sanitizer report, a broken property or an input that takes
# longer than 10 s fails the script. Give target names to run only those.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh core fuzz

seconds=${FUZZ_SECONDS:-20}
build=build/fuzz
per_input_timeout=10

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/*_fuzzer.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

# A build/fuzz of the time when fuzz/ was a project of its own: its cache
# goes (the corpus and the artifacts stay).
if grep -q '^CMAKE_HOME_DIRECTORY:INTERNAL=.*/fuzz$' "$build/CMakeCache.txt" 2>/dev/null; then
  rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
fi
scripts/build.sh fuzz --target "${targets[@]}"

mkdir -p "$build/artifacts"
failed=()
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  log="$build/$target.log"
  mkdir -p "$corpus"
  echo "== $target: ${seconds} s =="
  if LD_LIBRARY_PATH="$PWD/$build/sim" "$build/fuzz/$target" -max_total_time="$seconds" -timeout="$per_input_timeout" \
       -artifact_prefix="$build/artifacts/$target-" -print_final_stats=1 \
       "$corpus" "fuzz/corpus/$target" >"$log" 2>&1; then
    grep -E '^Done [0-9]+ runs' "$log" || true
    grep -E '^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' "$log" || true
  else
    tail -n 60 "$log"
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found problems in: ${failed[*]} (logs in $build, inputs in $build/artifacts)" >&2
  exit 1
fi
echo "fuzzing: no findings in ${#targets[@]} targets"
