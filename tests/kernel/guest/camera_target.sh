# The simulated camera as a real SCSI device: a target_core_user backstore
# served by tarnscsi-tcmu-camera (the simulator's camera model), exported by
# a loopback target (tcm_loop), so that the kernel's SCSI midlayer finds it
# on a host adapter of its own and the sg driver gives it a /dev/sgN node.

configfs=/sys/kernel/config
backstore=$configfs/target/core/user_0/camera
loopback=$configfs/target/loopback/naa.5001405c0ffee001/tpgt_1
initiator=naa.5001405c0ffee002
camera_vendor=TARN
# The simulator's camera as the handler serves it: the test pattern, every
# exposure and readout over at once, a camera of its own; switched on as it
# starts, so that its first command (but INQUIRY) gets UNIT ATTENTION, as a
# real camera's does.
camera_model_settings="image=pattern,time-scale=0"
camera_power_on="unit-attention=1"

target_start() {
  modprobe target_core_user && modprobe tcm_loop || fail "cannot load the target modules"
  grep -q " $configfs configfs" /proc/mounts || mount -t configfs configfs "$configfs" || fail "cannot mount configfs"
  mkdir -p "$backstore" || fail "cannot make the user backstore"
  echo -n "dev_config=camera/tarnscsi" >"$backstore/control"
  echo -n "dev_size=1048576" >"$backstore/control"
  echo -n 1 >"$backstore/enable" || fail "cannot enable the user backstore"
  rm -f "$work/handler.ready"
  TARNSCSI_SIM=$camera_model_settings,$camera_power_on TARNSCSI_SIM_STATE=private \
    setsid "$handler" camera "$work/handler.ready" >"$work/handler.log" 2>&1 </dev/null &
  echo $! >"$work/handler.pid"
  wait_for 20 test -e "$work/handler.ready" || { cat "$work/handler.log"; fail "the handler did not start"; }
  cat "$work/handler.log"
  # The nexus first: a LUN linked without one is never seen by the midlayer.
  mkdir -p "$loopback"
  echo -n "$initiator" >"$loopback/nexus" || fail "cannot make the loopback nexus"
  mkdir -p "$loopback/lun/lun_0"
  ln -s "$backstore" "$loopback/lun/lun_0/camera" || fail "cannot link the LUN"
  wait_for 20 sg_node_of "$camera_vendor" || fail "no /dev/sg node shows the camera"
}

# The host adapter tcm_loop made: "host3".
target_host() {
  local host
  for host in /sys/class/scsi_host/host*; do
    [ "$(cat "$host/proc_name" 2>/dev/null)" = tcm_loopback ] && { echo "${host##*/}"; return 0; }
  done
  return 1
}

# The camera leaves the bus as when it is switched off: the midlayer deletes
# the device and its /dev/sg node.
target_unplug() {
  local node address
  node=$(sg_node_of "$camera_vendor") || fail "no camera to unplug"
  address=$(scsi_address_of "$node")
  echo 1 >"/sys/bus/scsi/devices/$address/delete" || fail "cannot delete $address"
  wait_for 10 bash -c "! test -e $node" || fail "$node stays after the device was deleted"
  echo "unplugged $node [$address]"
}

# ... and comes back when the host adapter is scanned again.
target_replug() {
  local host
  host=$(target_host) || fail "no tcm_loop host adapter"
  echo "- - -" >"/sys/class/scsi_host/$host/scan"
  wait_for 20 sg_node_of "$camera_vendor" || fail "the camera did not come back after a rescan of $host"
  echo "the camera is back at $(sg_node_of "$camera_vendor") [$(scsi_address_of "$(sg_node_of "$camera_vendor")")]"
}

camera_gone() { ! sg_node_of "$camera_vendor" >/dev/null; }

target_stop() {
  rm -f "$loopback/lun/lun_0/camera"
  rmdir "$loopback/lun/lun_0" "$loopback" "${loopback%/*}" 2>/dev/null
  [ -e "$work/handler.pid" ] && kill "$(cat "$work/handler.pid")" 2>/dev/null
  rmdir "$backstore" 2>/dev/null
  wait_for 10 camera_gone
  return 0
}
