#!/usr/bin/env bash
# The main job: set up, build, and talk to the camera. Without a real camera
# the simulated one (our own ASPI manager, build/linux/sim) answers.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh linux >/dev/null
export LD_LIBRARY_PATH="$PWD/build/linux/sim${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
exec build/linux/examples/find_camera "$@"
