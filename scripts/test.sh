#!/usr/bin/env bash
# Every test: set up, build, run the whole suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh linux
ctest --preset linux -j "$(nproc)"
