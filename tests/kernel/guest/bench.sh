#!/bin/bash
# The kernel path benchmark inside the guest (bench/kernel_path_bench.cpp):
# the camera model behind the kernel's target stack, measured through the
# SCSI generic manager, then the same model through the simulated manager.
set -u
here=$(dirname "$(readlink -f "$0")")
. "$here/lib.sh"
. "$here/camera_target.sh"
echo "BOOTED $(cut -d' ' -f1 /proc/uptime)" >"$GUEST_RESULTS"
mkdir -p "$work"
bench=$GUEST_BUILD/bench/kernel_path_bench
modprobe sg
(target_start) || echo "FAIL bench: the camera target did not start" >"$GUEST_RESULTS"
# The camera's first command after it appeared is not part of the figures.
LD_LIBRARY_PATH=$sg_manager_dir "$bench" measure warm-up >/dev/null 2>&1
LD_LIBRARY_PATH=$sg_manager_dir "$bench" measure kernel | tee "$GUEST_RESULTS"
env TARNSCSI_SIMULATOR="$GUEST_BUILD/sim/libwnaspi32.so" TARNSCSI_SIM="$camera_model_settings" \
  TARNSCSI_SIM_STATE=private "$bench" measure simulator | tee "$GUEST_RESULTS"
(target_stop)
echo "DONE $(cut -d' ' -f1 /proc/uptime)" >"$GUEST_RESULTS"
