# The kernel's own failures, from scsi_debug posing as the camera at INQUIRY
# level (a scanner with the camera's identification): it takes none of the
# camera's commands, and its fault options make the kernel report medium
# and recovered errors, commands that never complete and slow ones.

debug_vendor=TARN
debug_driver=/sys/bus/pseudo/drivers/scsi_debug

# (Re)loads scsi_debug as the camera with extra module options.
debug_camera() {
  rmmod scsi_debug 2>/dev/null
  wait_for 10 bash -c "! test -e $debug_driver"
  modprobe scsi_debug ptype=6 inq_vendor=$debug_vendor inq_product=NebrixCCD dev_size_mb=1 "$@" ||
    fail "cannot load scsi_debug $*"
  wait_for 10 sg_node_of "$debug_vendor" || fail "scsi_debug's camera has no /dev/sg node"
}

# ASPI adapter and target of the device at NODE, from the manager's report.
aspi_address_of() {
  "$tool" scan >"$work/scan" 2>&1
  sed -n "s|^ *$1 \[[0-9:]*\] adapter \([0-9]*\), target \([0-9]*\),.*|\1 \2|p" "$work/scan"
}

# A device that was just switched on reports UNIT ATTENTION to its first
# command (scsi_debug: power on, 6/29/01); the C++ API sends that command
# once more, so the user is told what the device says to the command itself.
first_command_unit_attention() {
  debug_camera
  run env TARNSCSI_TRACE="$work/first.trace" "$tool" status
  says "Camera:" "MODE SENSE(6): CHECK CONDITION, sense ILLEGAL REQUEST, invalid field in CDB (5/24/00)"
  says_not "UNIT ATTENTION"
  run cat "$work/first.trace"
  says "UNIT ATTENTION"
}

debug_found_by_inquiry() {
  debug_camera
  run env TARNSCSI_TRACE="$work/debug.trace" "$tool" status
  says "Camera:"
  run cat "$work/debug.trace"
  says "INQUIRY" "completed"
}

debug_refuses_camera_commands() {
  must_fail "$tool" expose 0 -o "$work/refused.fits"
  says "SET WINDOW: CHECK CONDITION, sense ILLEGAL REQUEST, invalid command operation code (5/20/00)"
  must_fail env LD_LIBRARY_PATH="$sg_manager_dir" "$probe" status
  says "MODE SENSE(6): CHECK CONDITION, sense ILLEGAL REQUEST, invalid field in CDB (5/24/00)"
}

debug_medium_error() {
  debug_camera opts=2 medium_error_start=0 medium_error_count=16
  local address
  address=$(aspi_address_of "$(sg_node_of "$debug_vendor")")
  must_fail env LD_LIBRARY_PATH="$sg_manager_dir" "$probe" read $address
  says "READ(10): CHECK CONDITION, sense MEDIUM ERROR"
}

debug_recovered_error() {
  debug_camera opts=8 every_nth=1
  local address
  address=$(aspi_address_of "$(sg_node_of "$debug_vendor")")
  run env LD_LIBRARY_PATH="$sg_manager_dir" "$probe" read $address
  says "READ(10)" "RECOVERED ERROR"
}

# A command the device never completes is ended by the kernel at the time
# limit, reported as such, and the device still takes the next command.
debug_command_never_completes() {
  debug_camera
  "$tool" status >/dev/null 2>&1  # the power-on UNIT ATTENTION goes to this one
  echo 4 >"$debug_driver/opts" && echo 1 >"$debug_driver/every_nth" || fail "cannot make scsi_debug drop commands"
  local start=$SECONDS
  must_fail env TARNSCSI_SG_TIMEOUT=2 "$tool" status
  echo "ended after $((SECONDS - start)) s"
  [ $((SECONDS - start)) -lt 30 ] || fail "the time limit did not end the command"
  says "timed out"
  echo 0 >"$debug_driver/every_nth" && echo 0 >"$debug_driver/opts"
  run env TARNSCSI_SG_TIMEOUT=2 "$tool" status
  says "Camera:" "MODE SENSE(6): CHECK CONDITION"
}

debug_slow_device() {
  debug_camera delay=1250  # jiffies: 5 s at 250 Hz, over a second at any rate
  must_fail env TARNSCSI_SG_TIMEOUT=1 "$tool" status
  says "timed out"
  echo 25 >"$debug_driver/delay"
  run env TARNSCSI_SG_TIMEOUT=5 "$tool" status
  says "Camera:" "MODE SENSE(6): CHECK CONDITION"
}

# One program at a time: the second is told who holds the camera, from the
# kernel's own lock table.
camera_held_elsewhere() {
  debug_camera
  env LD_LIBRARY_PATH="$sg_manager_dir" "$probe" hold 60 >"$work/hold.out" 2>&1 &
  local holder=$!
  wait_for 20 grep -q holding "$work/hold.out" || { cat "$work/hold.out"; fail "the probe did not take the camera"; }
  run cat /proc/locks
  must_fail "$tool" status
  says "Camera in use" "PID $holder"
  kill "$holder"
}

no_access_to_node() {
  debug_camera
  local node
  node=$(sg_node_of "$debug_vendor")
  chown root:disk /dev/sg* && chmod 0660 /dev/sg*
  must_fail setpriv --reuid=nobody --regid=nogroup --clear-groups "$tool" status
  says "Permission denied" "plugdev" "60-tarnscsi.rules"
}

udevadm_command() {
  if command -v udevadm >/dev/null; then
    echo udevadm
  else
    local root=$GUEST_KERNEL/udev
    echo env "LD_LIBRARY_PATH=$root/usr/lib/x86_64-linux-gnu/systemd:$root/lib/x86_64-linux-gnu/systemd" \
      "$(find "$root" -name udevadm -type f | head -n 1)"
  fi
}

# The installed udev rule, as udev itself applies it to the real devices:
# the camera's node goes to plugdev, the disk's does not; with the rule's
# group and mode, a member of plugdev uses the camera.
udev_rule_matches() {
  debug_camera
  mkdir -p /run/udev/rules.d
  cp "$udev_rule" /run/udev/rules.d/
  local node disk udevadm
  node=$(sg_node_of "$debug_vendor")
  udevadm=$(udevadm_command)
  must $udevadm test --action=add "/sys/class/scsi_generic/${node#/dev/}"
  says "60-tarnscsi.rules" "GROUP 46" "MODE 0660"
  disk=$(sg_node_of QEMU)
  run $udevadm test --action=add "/sys/class/scsi_generic/${disk#/dev/}"
  says_not "60-tarnscsi.rules"
  chown root:plugdev "$node" && chmod 0660 "$node"
  must setpriv --reuid=nobody --regid=nogroup --groups=plugdev "$tool" scan
  says "<- the camera"
}
