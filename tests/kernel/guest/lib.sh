# Helpers of the guest checks (sourced by checks.sh and by every check it
# runs). A check is a shell function; it passes when it returns 0, and says
# why it failed with `fail`. Everything a check prints goes to the console,
# under a "=== name" heading; its verdict goes to the results port too.

# Set by init (guest/init): GUEST_SOURCE, GUEST_BUILD, GUEST_RESULTS,
# GUEST_TOOLS (busybox). Set by run-guest.sh: GUEST_INSTALL (the build
# installed under a prefix of its own).
guest_dir=$GUEST_SOURCE/tests/kernel/guest
probe=$GUEST_BUILD/tests/kernel/tarnscsi-kernel-probe
handler=$GUEST_BUILD/tests/kernel/tarnscsi-tcmu-camera
tool=$GUEST_INSTALL/bin/tarnscsi
indi_driver=$GUEST_INSTALL/bin/indi_tarnscsi_ccd
alpaca_server=$GUEST_INSTALL/bin/tarnscsi-alpaca
udev_rule=$GUEST_INSTALL/lib/udev/rules.d/60-tarnscsi.rules
sg_manager_dir=$GUEST_BUILD/sg
work=/tmp/checks

# The tool as another user runs it. The installation lies in the build
# tree, which may be in a folder that only its owner may enter (a clone in
# /root), and the guest sees the host's files with their owners and modes:
# another user could not start the tool there. So the checks that run as
# another user run a copy of the installed tool and its libraries, made in
# the guest's memory and readable by everyone (users_copy).
users_install=/run/tarnscsi-users
users_tool=$users_install/bin/tarnscsi

modprobe() { "$GUEST_TOOLS/busybox" modprobe "$@"; }
rmmod() { "$GUEST_TOOLS/busybox" rmmod "$@"; }

verdict() { echo "$*" >"$GUEST_RESULTS"; echo "$*"; }

fail() {
  echo "FAILED: $*"
  exit 1
}

# Makes the copy of the installed tool for other users, once per guest.
users_copy() {
  [ -x "$users_tool" ] && return 0
  rm -rf "$users_install"
  mkdir -p "$users_install/bin" && cp "$tool" "$users_install/bin/" && cp -a "$GUEST_INSTALL/lib" "$users_install/" &&
    chmod -R a+rX,go-w "$users_install" ||
    fail "cannot copy the installed tool to $users_install, where other users may run it"
  setpriv --reuid=nobody --regid=nogroup --clear-groups "$users_tool" --version >/dev/null ||
    fail "the user nobody cannot run $users_tool"
}

# Shows a command and runs it; its output is kept in $work/out.
run() {
  echo "\$ $*"
  "$@" >"$work/out" 2>&1
  local status=$?
  cat "$work/out"
  echo "(exit $status)"
  return $status
}

# Runs a command that must succeed.
must() { run "$@" || fail "'$*' failed"; }

# Runs a command that must fail.
must_fail() { ! run "$@" || fail "'$*' succeeded where it must fail"; }

# The last output holds every one of the texts given.
says() {
  local text
  for text in "$@"; do
    grep -qF -- "$text" "$work/out" || fail "the output lacks \"$text\""
  done
}

# The last output holds none of the texts given.
says_not() {
  local text
  for text in "$@"; do
    ! grep -qF -- "$text" "$work/out" || fail "the output has \"$text\""
  done
}

# Waits up to SECONDS for a command to succeed, trying every tenth of a second.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  while ! "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# The /dev/sgN node of the SCSI device whose INQUIRY vendor is VENDOR, or "".
sg_node_of() {
  local device
  for device in /sys/class/scsi_generic/*; do
    [ -e "$device/device/vendor" ] || continue
    if [ "$(tr -d ' ' <"$device/device/vendor")" = "$1" ]; then
      echo "/dev/${device##*/}"
      return 0
    fi
  done
  return 1
}

# H:C:T:L of a /dev/sgN node.
scsi_address_of() { basename "$(readlink -f "/sys/class/scsi_generic/${1#/dev/}/device")"; }

# Ends what a failed check left running, but the camera's handler, which
# serves every check of the target. (A check that passed may leave a server
# running for the next one.)
leftovers() {
  pkill -KILL -f "$GUEST_INSTALL/bin/" 2>/dev/null
  pkill -KILL -f "$users_install/bin/" 2>/dev/null
  pkill -KILL -f "$probe" 2>/dev/null
  pkill -KILL indiserver 2>/dev/null
  return 0
}

# Runs check NAME (a function) in a shell of its own, bounded by SECONDS, and
# reports its verdict.
check() {
  local name=$1 seconds=$2 status start=$SECONDS
  echo "=== $name"
  mkdir -p "$work"
  timeout --kill-after=5 "$seconds" bash "$guest_dir/checks.sh" --one "$name" 2>&1 | tee "$work/$name.log"
  status=${PIPESTATUS[0]}
  echo "($name took $((SECONDS - start)) s)"
  [ "$status" -eq 0 ] || leftovers
  if [ "$status" -eq 0 ]; then
    verdict "PASS $name"
  elif [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    verdict "FAIL $name: did not finish within $seconds s"
  else
    verdict "FAIL $name: $(sed -n 's/^FAILED: //p' "$work/$name.log" | tail -n 1)"
  fi
}
