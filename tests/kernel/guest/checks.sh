#!/bin/bash
# The checks that run inside the guest (started by guest/init, on the host's
# files): first the simulated camera behind the kernel's SCSI target stack,
# then scsi_debug posing as the camera. Each check's verdict goes to the
# results port as "PASS name" or "FAIL name: why"; "DONE" ends the run.
#
#   checks.sh [NAME...]    every check in order, or only those named
#   checks.sh --one NAME   one check (what `check` runs, bounded)
set -u
here=$(dirname "$(readlink -f "$0")")
. "$here/lib.sh"
. "$here/camera_target.sh"
. "$here/front_ends.sh"
. "$here/target_checks.sh"
. "$here/fault_checks.sh"

# The guest sees this run's files where the host has them, wherever the
# clone lies (under /tmp, in a folder whose name has a space), and a /tmp
# of its own.
guest_files() {
  local path
  for path in "$guest_dir/checks.sh" "$GUEST_BUILD/CMakeCache.txt" "$probe" "$handler" "$tool"; do
    [ -e "$path" ] || fail "the guest does not see $path"
  done
  must "$tool" --version
  [ "$(stat -f -c %T /tmp)" = tmpfs ] || fail "/tmp is not the guest's own"
}

if [ "${1:-}" = --one ]; then
  cd "$work" || exit 1
  "$2"
  exit $?
fi

chosen=("$@")
# Runs the check unless others were chosen.
check_chosen() {
  [ ${#chosen[@]} -eq 0 ] || [[ " ${chosen[*]} " == *" $1 "* ]] || return 0
  check "$@"
}

echo "BOOTED $(cut -d' ' -f1 /proc/uptime)" >"$GUEST_RESULTS"
mkdir -p "$work"
for module in sg virtio_scsi sr_mod; do modprobe "$module" || echo "cannot load $module"; done
echo "Kernel $(uname -r); SCSI devices before the checks:"
ls -l /sys/class/scsi_generic/

check_chosen guest_files 30
check_chosen target_appears 60
check_chosen target_first_command 60
check_chosen scan_names_camera 60
check_chosen cooling 60
check_chosen frames_match_simulator 120
check_chosen tool_frame 60
check_chosen tool_short_read 60
check_chosen indi_frame 120
check_chosen camera_returns_indi 120
check_chosen alpaca_frame 120
check_chosen camera_returns_alpaca 120
check_chosen camera_returns_tool 60
bash -c ". '$here/lib.sh'; . '$here/camera_target.sh'; target_stop"

check_chosen first_command_unit_attention 60
check_chosen debug_found_by_inquiry 60
check_chosen debug_refuses_camera_commands 60
check_chosen debug_medium_error 60
check_chosen debug_recovered_error 60
check_chosen debug_command_never_completes 120
check_chosen debug_slow_device 120
check_chosen camera_held_elsewhere 60
check_chosen no_access_to_node 60
check_chosen udev_rule_matches 60

echo "DONE $(cut -d' ' -f1 /proc/uptime)" >"$GUEST_RESULTS"
