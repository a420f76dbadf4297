#!/usr/bin/env bash
# The house style, as CI checks it: every C and C++ file formatted by
# .clang-format, and the naming rules of .clang-tidy over every translation
# unit of the Linux build (configured here with the linux preset, which
# exports its compile commands).
set -euo pipefail
cd "$(dirname "$0")/.."

# The layout: a manager sees the managers, the ASPI contract (aspi/) and the
# camera's protocol (protocol/), never the module (src/) nor the public face
# (include/): no such folder on its include path, no target that brings one,
# no include of their headers.
reach=$({
  git grep --untracked -nE '(_DIR\}|\.\.)/+(src|include)\b|\btarnscsi(_core|_internals)\b|tarnscsi::cpp|[( ]tarnscsi[ )]' \
    -- 'managers/*CMakeLists.txt' 'managers/*.cmake'
  git grep --untracked -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]((\.\./)+(src|include)/|tarnscsi/|(api|camera|common|platform|transport)/)' \
    -- 'managers/*.h' 'managers/*.cpp'
} || true)
if [ -n "$reach" ]; then
  echo "$reach" >&2
  echo "A manager reaches the module (src/) or the public face (include/); it may use managers/, aspi/ and protocol/ only." >&2
  exit 1
fi
echo "Layout: the managers see managers/, aspi/ and protocol/ only"

# The formatter and the naming check, and what the linux preset's configure
# requires (every program, and the tools of their tests).
scripts/install-deps.sh style core tools alpaca indi

mapfile -t sources < <(git ls-files '*.h' '*.cpp' | grep -E '^(src|include|aspi|protocol|managers|imaging|tools|indi|alpaca|tests|bench|fuzz|examples)/')
echo "Formatting: ${#sources[@]} files"
clang-format --dry-run --Werror "${sources[@]}"

cmake --preset linux >/dev/null
echo "Naming: every translation unit of build/linux"
run-clang-tidy -p build/linux -quiet -j "$(nproc)" \
  "$PWD/(src|aspi|protocol|managers|imaging|tools|indi|alpaca|tests|bench|examples)/" > build/linux/clang-tidy.log 2>&1 || {
  grep -E 'error:' build/linux/clang-tidy.log | sed 's/\x1b\[[0-9;]*m//g' | sort -u >&2
  echo "The naming check failed (full output: build/linux/clang-tidy.log)." >&2
  exit 1
}
echo "Style: clean"
