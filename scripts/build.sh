#!/usr/bin/env bash
# Configures and builds one preset (default: linux); further arguments go to
# the build (for example --target NAME).
#
# Where ccache is installed, compiles go through it (a rebuild of what was
# compiled before, in any build tree, then costs next to nothing); a
# launcher already chosen in CMAKE_C_COMPILER_LAUNCHER or
# CMAKE_CXX_COMPILER_LAUNCHER is kept. Without ccache nothing changes.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-linux}
shift || true

c_launcher=${CMAKE_C_COMPILER_LAUNCHER:-}
cxx_launcher=${CMAKE_CXX_COMPILER_LAUNCHER:-}
if command -v ccache >/dev/null 2>&1; then
  c_launcher=${c_launcher:-ccache}
  cxx_launcher=${cxx_launcher:-ccache}
fi
# Given every time, so that a tree configured while ccache was installed
# builds without it once it is gone.
cmake --preset "$preset" -DCMAKE_C_COMPILER_LAUNCHER="$c_launcher" \
  -DCMAKE_CXX_COMPILER_LAUNCHER="$cxx_launcher" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" "$@"
