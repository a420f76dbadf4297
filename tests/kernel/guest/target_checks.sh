# The camera's whole protocol through the kernel: module -> SG manager ->
# /dev/sgN -> SCSI midlayer -> tcm_loop -> target_core_user ->
# tarnscsi-tcmu-camera -> the simulator's camera model (camera_target.sh).

# The simulated manager with the camera model as the handler runs it, for
# the same frames without the kernel.
simulator_env=(TARNSCSI_SIMULATOR="$GUEST_BUILD/sim/libwnaspi32.so" TARNSCSI_SIM="$camera_model_settings"
               TARNSCSI_SIM_STATE=private)
# FITS data of a full frame: 768 x 512 16-bit pixels, padded to 2880-byte blocks.
full_frame_fits_data=$(((768 * 512 * 2 + 2879) / 2880 * 2880))

target_appears() {
  target_start
  local node
  node=$(sg_node_of "$camera_vendor")
  echo "camera at $node [$(scsi_address_of "$node")]"
  must cat "/sys/class/scsi_generic/${node#/dev/}/device/type" "/sys/class/scsi_generic/${node#/dev/}/device/model"
  says 6 Nebrix
}

# The camera was just switched on: its first command gets UNIT ATTENTION,
# which the C++ API answers by sending that command once more, so the user
# sees the camera work.
target_first_command() {
  must env TARNSCSI_TRACE="$work/first.trace" "$tool" status
  says "Camera:" "Sensor temperature:"
  run cat "$work/first.trace"
  says "UNIT ATTENTION"
}

scan_names_camera() {
  local node address
  node=$(sg_node_of "$camera_vendor") || fail "no camera on the bus"
  address=$(scsi_address_of "$node")
  must "$tool" scan
  says "<- the camera" "$node [$address] adapter" "Nebrix"
  grep -F "$node [$address]" "$work/out" | grep -q ": usable" || fail "$node is not usable in the manager's report"
  must "$tool" scan --json
  says "\"$node\""
}

cooling() {
  must "$tool" cool -10
  must "$tool" status --json
  says '"connected": true' '"temperature_c": -10.0'
  must env LD_LIBRARY_PATH="$sg_manager_dir" "$probe" status
  says "temperature"
}

# The same camera model through the kernel and through the simulated manager
# directly gives the same bytes, frame by frame.
frames_match_simulator() {
  mkdir -p "$work/kernel" "$work/sim"
  must env LD_LIBRARY_PATH="$sg_manager_dir" "$probe" frames "$work/kernel"
  must env "${simulator_env[@]}" "$probe" frames "$work/sim"
  local frame
  for frame in full binned sub; do
    must cmp "$work/kernel/$frame.raw" "$work/sim/$frame.raw"
  done
  [ "$(stat -c %s "$work/kernel/full.raw")" -eq $((768 * 512 * 2)) ] || fail "the full frame is not 768 x 512"
}

tool_frame() {
  must "$tool" expose 0.1 -o "$work/kernel.fits"
  says "Saved $work/kernel.fits (768 x 512"
  must env "${simulator_env[@]}" "$tool" --simulate expose 0.1 -o "$work/sim.fits"
  cmp <(tail -c "$full_frame_fits_data" "$work/kernel.fits") <(tail -c "$full_frame_fits_data" "$work/sim.fits") ||
    fail "the tool's frame through the kernel differs from the simulator's"
}

# The handler ends the next READ(10) short (half its data, good status): the
# kernel reports the residual, and the frame fails there, named, with no FITS
# written; the next frame is whole.
tool_short_read() {
  kill -USR1 "$(cat "$work/handler.pid")" || fail "cannot signal the handler"
  wait_for 10 grep -q "the next READ(10) ends short" "$work/handler.log" || fail "the handler did not take the signal"
  must_fail "$tool" expose 0 -o "$work/short.fits"
  says "READ(10): host adapter: data overrun or underrun" "data were lost on the way"
  [ ! -e "$work/short.fits" ] || fail "a FITS was written from a short READ"
  must "$tool" expose 0 -o "$work/after-short.fits"
}

indi_frame() {
  indi_start
  indi_connect
  indi_expose 0.1 "$work/indi"
  must grep -c "NAXIS1  =                   $frame_width" "$work"/indi/frame_*.fits
}

alpaca_frame() {
  alpaca_start
  alpaca_put connected "Connected=true"
  alpaca_ok || fail "the Alpaca server did not connect"
  alpaca_expose 0.1
}

# While the camera is away another device (a scsi_debug disk) joins the
# bus and takes a /dev/sg node: the old node's number when no program still
# holds it open (then disks are added until one has it), so that the camera
# comes back at another node either way.
debug_disks() { ls -d /sys/bus/pseudo/drivers/scsi_debug/adapter*/host*/target*/*:*/scsi_generic 2>/dev/null | wc -l; }
# Read afresh at each try: the new host's scan may end after add_host returns.
more_debug_disks_than() { [ "$(debug_disks)" -gt "$1" ]; }

add_debug_disk() {
  local disks
  disks=$(debug_disks)
  if [ -d /sys/bus/pseudo/drivers/scsi_debug ]; then
    echo 1 >/sys/bus/pseudo/drivers/scsi_debug/add_host
  else
    modprobe scsi_debug dev_size_mb=1 || fail "cannot load scsi_debug"
  fi
  wait_for 30 more_debug_disks_than "$disks" || fail "no scsi_debug disk joined the bus"
}

unplug_and_take_node() {
  local node tries
  node=$(sg_node_of "$camera_vendor") || fail "no camera to unplug"
  target_unplug
  add_debug_disk
  if [ "${1:-}" = --until-taken ]; then
    for ((tries = 0; tries < 4; tries++)); do
      [ -e "$node" ] && return 0
      add_debug_disk
    done
    [ -e "$node" ] || fail "no disk took $node"
  fi
}

replug_elsewhere() {
  target_replug
  [ "$(sg_node_of "$camera_vendor")" != "$1" ] || fail "the camera came back at the same node $1"
}

camera_returns_tool() {
  local before
  before=$(sg_node_of "$camera_vendor")
  unplug_and_take_node --until-taken
  must_fail "$tool" status
  says "Camera not found"
  replug_elsewhere "$before"
  must "$tool" status
  says "Camera:"
  must "$tool" expose 0 -o "$work/after.fits"
}

camera_returns_indi() {
  local before
  before=$(sg_node_of "$camera_vendor")
  indi_start
  indi_connect
  unplug_and_take_node
  echo "[$SECONDS s] asking for a setpoint"
  indi_set "CCD_TEMPERATURE.CCD_TEMPERATURE_VALUE=-5"
  wait_for 30 grep -q "MODE SELECT(6): host adapter: selection timeout" "$work/indi.xml" ||
    { indi_messages; fail "the INDI driver did not report the lost camera"; }
  indi_messages
  echo "[$SECONDS s] reported"
  replug_elsewhere "$before"
  echo "[$SECONDS s] back"
  indi_disconnect
  indi_connect
  echo "[$SECONDS s] connected again"
  indi_expose 0.1 "$work/indi-after"
  echo "[$SECONDS s] frame taken"
  indi_stop
}

camera_returns_alpaca() {
  local before
  before=$(sg_node_of "$camera_vendor")
  alpaca_start
  alpaca_put connected "Connected=true"
  alpaca_ok || fail "the Alpaca server did not connect"
  unplug_and_take_node
  alpaca_get ccdtemperature
  cat "$work/out"; echo
  ! alpaca_ok || fail "the Alpaca server read a temperature from a camera that is away"
  grep -q 'MODE SENSE' "$work/out" || fail "the Alpaca error does not name the command"
  replug_elsewhere "$before"
  alpaca_put connected "Connected=false"
  alpaca_put connected "Connected=true"
  alpaca_ok || fail "the Alpaca server did not connect again"
  alpaca_expose 0.1
  alpaca_stop
}
