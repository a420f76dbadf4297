#!/bin/bash
# The checks of the installed Alpaca service, run by systemd inside the guest
# that run-service-guest.sh boots: the simulated camera behind the kernel's
# SCSI target stack at /dev/sgN, given to group plugdev by the installed udev
# rule, and the installed unit started with systemctl, as installed and with
# --listen 0.0.0.0 through an override. Verdicts as checks.sh gives them.
#
#   service.sh             every check in order
#   service.sh --one NAME  one check (what service_check runs, bounded)
set -u
here=$(dirname "$(readlink -f "$0")")
. "$here/lib.sh"
. "$here/camera_target.sh"
. "$here/front_ends.sh"

unit=tarnscsi-alpaca.service
override=/etc/systemd/system/$unit.d/override.conf

# The server's process as the kernel sees it: user, groups, capabilities,
# privileges and system-call filter.
server_credentials() {
  local pid
  pid=$(systemctl show -p MainPID --value "$unit")
  [ "$pid" != 0 ] || fail "$unit has no main process"
  grep -E '^(Uid|Gid|Groups|CapEff|CapBnd|NoNewPrivs|Seccomp):' "/proc/$pid/status" | tee "$work/credentials"
  grep -Eq '^CapBnd:\s+0+$' "$work/credentials" || fail "the server may hold capabilities"
  grep -Eq "^Groups:.*\b$(getent group plugdev | cut -d: -f3)\b" "$work/credentials" || fail "the server is not in plugdev"
  grep -Eq '^Seccomp:\s+2$' "$work/credentials" || fail "the server runs without its system-call filter"
}

# The sandbox's rating by systemd itself, from the unit as it loaded it.
rated_ok() {
  systemd-analyze security --no-pager "$unit" | tail -n 25
  systemd-analyze security --no-pager --threshold=20 "$unit" >/dev/null ||
    fail "systemd-analyze security rates $unit above 2.0"
  echo "SCORE $(systemd-analyze security --no-pager "$unit" | sed -n 's/.*Overall exposure level for [^:]*: //p')"
}

answers() { curl -sf --max-time 5 "http://127.0.0.1:$alpaca_port/management/apiversions"; }

# Connected, then one frame of the checks' size through the Alpaca API.
exposure_through_service() {
  wait_for 30 answers || { journalctl -u "$unit" --no-pager | tail -n 20; fail "the service does not answer on 127.0.0.1:$alpaca_port"; }
  alpaca_put connected "Connected=true"
  alpaca_ok || { journalctl -u "$unit" --no-pager | tail -n 20; fail "Connected=true was refused"; }
  alpaca_expose 0.1
}

# The package's modules-load.d file has the sg driver loaded at boot, before
# any service: a service started before it finds no camera (its device rule
# names the driver) until it is restarted.
service_sg_at_boot() {
  journalctl -b -t systemd-modules-load --no-pager -o cat | tee "$work/out"
  says "Inserted module 'sg'"
  [ -d /sys/module/sg ] || fail "the sg driver is not loaded"
}

service_camera_node() {
  target_start
  local node
  node=$(sg_node_of "$camera_vendor")
  wait_for 20 bash -c "[ \"\$(stat -c %G $node)\" = plugdev ]" ||
    fail "the installed udev rule did not give $node to plugdev: $(ls -l "$node")"
  ls -l "$node"
}

service_as_installed() {
  run systemctl is-enabled "$unit"
  says disabled
  must systemctl start "$unit"
  exposure_through_service
  server_credentials
  rated_ok
}

service_camera_in_use() {
  must_fail tarnscsi status
  says "in use by tarnscsi-alpaca, PID"
}

service_listen_everywhere() {
  mkdir -p "${override%/*}"
  printf '[Service]\nExecStart=\nExecStart=/usr/bin/tarnscsi-alpaca --listen 0.0.0.0 --location Observatory\n' >"$override"
  must systemctl daemon-reload
  must systemctl restart "$unit"
  wait_for 30 answers || fail "the service with the override does not answer"
  # 0.0.0.0:11111 listening (state 0A) in the kernel's socket table.
  grep -qi ' 00000000:2B67 00000000:0000 0A ' /proc/net/tcp || { cat /proc/net/tcp; fail "nothing listens on 0.0.0.0:11111"; }
  exposure_through_service
  rated_ok
}

# An upgrade (here the same version again) restarts the running service.
service_upgrade_restarts() {
  local before after
  before=$(systemctl show -p MainPID --value "$unit")
  must dpkg -i /mnt/debs/tarnscsi-alpaca_*.deb
  after=$(systemctl show -p MainPID --value "$unit")
  systemctl is-active --quiet "$unit" || fail "$unit is not running after the upgrade"
  [ "$after" != "$before" ] || fail "$unit was not restarted by the upgrade (PID $before)"
  echo "restarted: PID $before, then $after"
  wait_for 30 answers || fail "the restarted service does not answer"
}

service_stops() {
  must systemctl stop "$unit"
  ! systemctl is-active --quiet "$unit" || fail "$unit is still active"
  journalctl -u "$unit" --no-pager -o cat | tail -n 15
  must tarnscsi status
}

if [ "${1:-}" = --one ]; then
  cd "$work" || exit 1
  "$2"
  exit $?
fi

# Runs check NAME in a shell of its own, bounded by SECONDS (as lib.sh's
# check does for checks.sh).
service_check() {
  local name=$1 seconds=$2 status
  echo "=== $name"
  timeout --kill-after=5 "$seconds" bash "$here/service.sh" --one "$name" 2>&1 | tee "$work/$name.log"
  status=${PIPESTATUS[0]}
  if [ "$status" -eq 0 ]; then
    verdict "PASS $name"
  elif [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    verdict "FAIL $name: did not finish within $seconds s"
  else
    verdict "FAIL $name: $(sed -n 's/^FAILED: //p' "$work/$name.log" | tail -n 1)"
  fi
}

echo "BOOTED $(cut -d' ' -f1 /proc/uptime)" >"$GUEST_RESULTS"
mkdir -p "$work"
echo "systemd $(systemctl --version | head -n 1), kernel $(uname -r)"
service_check service_sg_at_boot 30
modprobe sg || echo "cannot load sg"
service_check service_camera_node 90
service_check service_as_installed 120
service_check service_camera_in_use 60
service_check service_listen_everywhere 120
service_check service_upgrade_restarts 120
service_check service_stops 60
echo "DONE $(cut -d' ' -f1 /proc/uptime)" >"$GUEST_RESULTS"
