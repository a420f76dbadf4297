#!/usr/bin/env bash
# The main job: set up, build, and take a frame with the camera. It cools to
# -10 C (waiting at most 120 s), takes an exposure and saves it as a FITS file
# with a PNG preview in ./frames/. By default the simulated camera answers
# (chosen explicitly with the tool's --simulate); with --real the camera on a
# real SCSI host adapter does, through our SCSI generic manager (README:
# "A real camera on Linux"), after a scan of the bus.
# Usage: scripts/run.sh [--real] [SECONDS]   (exposure time, default 1)
set -euo pipefail
cd "$(dirname "$0")/.."
manager=(--simulate)
if [ "${1:-}" = "--real" ]; then
  manager=()
  shift
fi
seconds=${1:-1}
setpoint=-10

scripts/install-deps.sh core tools
echo "Building the tool (the first time takes a minute or two)..."
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)" --target tarnscsi_tool wnaspi32_sim wnaspi32_sg >/dev/null

tarnscsi=build/linux/tools/tarnscsi
if [ ${#manager[@]} -eq 0 ]; then
  # The manager just built, ahead of any installed one.
  export LD_LIBRARY_PATH="$PWD/build/linux/sg${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
  "$tarnscsi" scan
  echo
fi
mkdir -p frames

if [ ${#manager[@]} -gt 0 ]; then
  # The simulated camera's clock runs ten times fast here, so that cooling
  # 30 degrees takes seconds rather than half a minute. TARNSCSI_SIM set by
  # the caller wins (README: "The simulated camera").
  export TARNSCSI_SIM="${TARNSCSI_SIM-time-scale=0.1}"
fi

"$tarnscsi" "${manager[@]}" status
# One session: cool, wait for the setpoint, then expose.
"$tarnscsi" "${manager[@]}" expose "$seconds" --set-temp "$setpoint" --cool-wait 120 \
  -o frames/frame.fits --preview frames/frame.png --overwrite
echo
echo "FITS file:   $PWD/frames/frame.fits"
echo "PNG preview: $PWD/frames/frame.png"
