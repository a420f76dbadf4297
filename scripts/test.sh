#!/usr/bin/env bash
# Every test: set up, build and run the whole suite on Linux (build/linux),
# then build the Windows DLL and run its suite under Wine (build/win32).
# TARNSCSI_SKIP_WINDOWS=1 leaves the Windows part out, for quick local runs.
set -euo pipefail
cd "$(dirname "$0")/.."

# Every package list but the Windows one is for the Linux build.
scripts/install-deps.sh linux
scripts/build.sh linux
ctest --preset linux -j "$(nproc)"

if [ -n "${TARNSCSI_SKIP_WINDOWS:-}" ] && [ "$TARNSCSI_SKIP_WINDOWS" != 0 ]; then
  echo "Windows build and tests left out (TARNSCSI_SKIP_WINDOWS=$TARNSCSI_SKIP_WINDOWS)."
  exit 0
fi
scripts/install-windows-deps.sh
scripts/build.sh win32
ctest --preset win32 -j "$(nproc)"
