# The kernel's own failures, from scsi_debug posing as the camera at INQUIRY
# level (a scanner with the camera's identification): it takes none of the
# camera's commands, and its fault options make the kernel report medium
# and recovered errors, commands that never complete and slow ones.

debug_vendor=TARN
debug_driver=/sys/bus/pseudo/drivers/scsi_debug

# (Re)loads scsi_debug as the camera with extra module options. Its
# power-on UNIT ATTENTION is left for the next command.
debug_camera_fresh() {
  rmmod scsi_debug 2>/dev/null
  wait_for 10 test ! -e "$debug_driver"
  modprobe scsi_debug ptype=6 inq_vendor=$debug_vendor inq_product=NebrixCCD dev_size_mb=1 "$@" ||
    fail "cannot load scsi_debug $*"
  wait_for 10 sg_node_of "$debug_vendor" || fail "scsi_debug's camera has no /dev/sg node"
}

# The same, with the UNIT ATTENTION taken by a first command (INQUIRY does
# not take it), and the camera's ASPI address in debug_address ("ADAPTER
# TARGET").
debug_camera() {
  debug_camera_fresh "$@"
  "$tool" status >/dev/null 2>&1
  debug_address=$(aspi_address_of "$(sg_node_of "$debug_vendor")")
  [ -n "$debug_address" ] || fail "the manager does not place the camera"
}

# One READ(10) of the camera's, sent as Download sends it, to the camera
# (at the address debug_camera found).
debug_read() {
  run env LD_LIBRARY_PATH="$sg_manager_dir" "$@" "$probe" read $debug_address
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
  debug_camera_fresh
  run env TARNSCSI_TRACE="$work/debug-first.trace" "$tool" status
  says "Camera:" "MODE SENSE(6): CHECK CONDITION, sense ILLEGAL REQUEST, invalid field in CDB (5/24/00)"
  says_not "UNIT ATTENTION"
  run cat "$work/debug-first.trace"
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

# scsi_debug answers the camera's READ(10) as a disk would; its medium and
# recovered errors come back as the kernel delivers them.
debug_medium_error() {
  debug_camera opts=2 medium_error_start=0 medium_error_count=16
  debug_read
  says "READ(10): CHECK CONDITION, sense MEDIUM ERROR" "(3/11/00)"
}

debug_recovered_error() {
  debug_camera opts=8 every_nth=1
  debug_read
  says "READ(10): CHECK CONDITION, sense RECOVERED ERROR"
}

# A command the device never completes (scsi_debug drops every second
# command: the first READ(10) goes through, the second is lost) is ended at
# the time limit, reported as such, and the device takes the next command.
debug_command_never_completes() {
  debug_camera
  local node start
  node=$(sg_node_of "$debug_vendor")
  echo 4 >"$debug_driver/opts" && echo 2 >"$debug_driver/every_nth" || fail "cannot make scsi_debug drop commands"
  debug_read
  says "READ(10): completed"
  start=$SECONDS
  ! debug_read env TARNSCSI_SG_TIMEOUT=2 || fail "a dropped READ(10) succeeded"
  echo "ended after $((SECONDS - start)) s; the device is $(cat "/sys/class/scsi_generic/${node#/dev/}/device/state")"
  says "READ(10): host adapter: command timeout"
  [ $((SECONDS - start)) -lt 30 ] || fail "the time limit did not end the command"
  echo 0 >"$debug_driver/every_nth" && echo 0 >"$debug_driver/opts"
  debug_read
  says "READ(10): completed"
}

# A slow device: within the time limit the command is only late; past it,
# it is ended and reported like one that never completes.
debug_slow_device() {
  debug_camera delay=1250  # jiffies: 5 s at 250 Hz, over a second at any rate
  ! debug_read env TARNSCSI_SG_TIMEOUT=1 || fail "a READ(10) slower than the time limit succeeded"
  says "READ(10): host adapter: command timeout"
  echo 25 >"$debug_driver/delay"
  debug_read env TARNSCSI_SG_TIMEOUT=5
  says "READ(10): completed"
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
  # A user of the camera's group is told the same, whoever holds it.
  local node
  node=$(sg_node_of "$debug_vendor")
  chown root:plugdev "$node" && chmod 0660 "$node"
  users_copy
  must_fail setpriv --reuid=nobody --regid=nogroup --groups=plugdev "$users_tool" status
  says "Camera in use" "PID $holder"
  kill "$holder"
}

no_access_to_node() {
  debug_camera
  local node
  node=$(sg_node_of "$debug_vendor")
  chown root:disk /dev/sg* && chmod 0660 /dev/sg*
  users_copy
  must_fail setpriv --reuid=nobody --regid=nogroup --clear-groups "$users_tool" status
  says "Permission denied" "plugdev" "60-tarnscsi.rules"
}

# The udevadm to run, into the array `udevadm`: the system's, or the one
# unpacked beside the kernel with its libraries (whose path may hold spaces).
find_udevadm() {
  local root=$GUEST_KERNEL/udev
  udevadm=()
  if command -v udevadm >/dev/null; then
    udevadm=(udevadm)
  elif [ -x "$root/bin/udevadm" ]; then
    udevadm=(env "LD_LIBRARY_PATH=$root/usr/lib/x86_64-linux-gnu/systemd:$root/lib/x86_64-linux-gnu/systemd"
      "$root/bin/udevadm")
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
  find_udevadm
  [ ${#udevadm[@]} -gt 0 ] || fail "no udevadm"
  must "${udevadm[@]}" test --action=add "/sys/class/scsi_generic/${node#/dev/}"
  says "60-tarnscsi.rules" "GROUP 46" "MODE 0660"
  disk=$(sg_node_of QEMU)
  run "${udevadm[@]}" test --action=add "/sys/class/scsi_generic/${disk#/dev/}"
  says_not "60-tarnscsi.rules:"
  chown root:plugdev "$node" && chmod 0660 "$node"
  users_copy
  must setpriv --reuid=nobody --regid=nogroup --groups=plugdev "$users_tool" scan
  says "<- the camera"
}
