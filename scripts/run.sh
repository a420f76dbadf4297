#!/usr/bin/env bash
# The main job: set up, build, and take a frame with the camera. It builds
# the tool, the INDI driver and the Alpaca server in build/linux, cools to
# -10 C (waiting at most 120 s), takes an exposure and saves it as a FITS file
# with a PNG preview in ./frames/. By default the simulated camera answers
# (chosen explicitly with the tool's --simulate); with --real the camera on a
# real SCSI host adapter does, through our SCSI generic manager (README:
# "Troubleshooting a real camera"), after a scan of the bus.
set -euo pipefail

usage() {
  cat <<'USAGE'
Usage: scripts/run.sh [--real] [SECONDS]

Builds the tarnscsi tool, the INDI driver and the Alpaca server in build/linux,
cools the camera to -10 C and takes one exposure of SECONDS (default 1), saved
as frames/frame.fits with frames/frame.png.

  --real      use the camera on a real SCSI host adapter (SCSI generic
              manager) instead of the simulated one
  -h, --help  show this text

TARNSCSI_SIM settings (simulated camera) are applied after the script's own.
USAGE
}

real=0
seconds=
for arg in "$@"; do
  case "$arg" in
    --real) real=1 ;;
    -h|--help) usage; exit 0 ;;
    -*)
      # A negative number is still not an exposure time; say so below.
      if [[ ! "$arg" =~ ^-[0-9.]+$ ]]; then
        echo "run.sh: unknown option '$arg'" >&2; usage >&2; exit 2
      fi
      seconds_error="$arg" ;;
    *)
      if [ -n "$seconds" ]; then
        echo "run.sh: more than one exposure time ('$seconds', '$arg')" >&2; usage >&2; exit 2
      fi
      seconds=$arg ;;
  esac
done
if [ -n "${seconds_error:-}" ]; then
  echo "run.sh: exposure time '$seconds_error' must not be negative" >&2; exit 2
fi
seconds=${seconds:-1}
if [[ ! "$seconds" =~ ^([0-9]+\.?[0-9]*|\.[0-9]+)$ ]]; then
  echo "run.sh: exposure time '$seconds' is not a number of seconds" >&2; usage >&2; exit 2
fi
if [ "$real" -eq 0 ]; then
  # The simulated camera's clock runs ten times fast here, so that cooling
  # 30 degrees takes seconds rather than half a minute. The simulator applies
  # its items left to right, so the caller's TARNSCSI_SIM comes last and wins
  # where both say the same (docs/simulator.md).
  export TARNSCSI_SIM="time-scale=0.1${TARNSCSI_SIM:+,$TARNSCSI_SIM}"
fi
# For the script's tests: stop once the command line is understood.
if [ -n "${TARNSCSI_RUN_DRY:-}" ]; then
  echo "real=$real seconds=$seconds sim=${TARNSCSI_SIM:-}"
  exit 0
fi

cd "$(dirname "$0")/.."
manager=(--simulate)
[ "$real" -eq 0 ] || manager=()
setpoint=-10

# The tool, and the INDI driver and Alpaca server beside it, so that every
# way of using the camera works from the build tree right after this. The
# lists hold what these programs need, not what the tests need: their
# tests are configured where their tools are installed (AUTO) and left out
# where not, so that nothing else stops this configure. scripts/test.sh
# configures the same build tree with every test required (the preset's
# ON), and either may come first.
lists=(core tools release)
configure=(cmake --preset linux -DTARNSCSI_BUILD_TESTS=AUTO)
# For the script's tests: configure a scratch build tree as below, install
# nothing, and stop.
if [ -n "${TARNSCSI_RUN_CONFIGURE_ONLY:-}" ]; then
  exec "${configure[@]}" -B "$TARNSCSI_RUN_CONFIGURE_ONLY"
fi
scripts/install-deps.sh "${lists[@]}"
echo "Building the tool, the INDI driver and the Alpaca server (the first time takes a few minutes)..."
"${configure[@]}" >/dev/null
cmake --build --preset linux -j "$(nproc)" \
  --target tarnscsi_tool indi_tarnscsi_ccd tarnscsi_alpaca wnaspi32_sim wnaspi32_sg >/dev/null

tarnscsi=build/linux/tools/tarnscsi
if [ "$real" -eq 1 ]; then
  # The manager just built, ahead of any installed one.
  export LD_LIBRARY_PATH="$PWD/build/linux/sg${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
  "$tarnscsi" scan
  echo
fi
mkdir -p frames
# No stale result is shown as this run's.
rm -f frames/frame.fits frames/frame.png

"$tarnscsi" "${manager[@]}" status
# One session: cool, wait for the setpoint, then expose.
"$tarnscsi" "${manager[@]}" expose "$seconds" --set-temp "$setpoint" --cool-wait 120 \
  -o frames/frame.fits --preview frames/frame.png --overwrite
echo
echo "FITS file:   $PWD/frames/frame.fits"
echo "PNG preview: $PWD/frames/frame.png"
