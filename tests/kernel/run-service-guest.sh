#!/usr/bin/env bash
# The Alpaca service as an installed system runs it: a Debian 12 root (a
# clean minbase root with systemd, udev, kmod, curl and our packages installed by
# apt) is booted in the QEMU guest with systemd as process 1
# (guest/init-systemd), and guest/service.sh, started there by systemd, puts
# the simulated camera on the kernel's SCSI bus (TCMU, /dev/sgN), starts the
# service with systemctl and takes exposures through it from the guest's
# loopback, with the unit as installed and with --listen 0.0.0.0 through an
# override. Verdicts as run-guest.sh gives them.
#
#   run-service-guest.sh --base ROOT_TGZ --mirror URL --packages DIR
#                        --build BUILD_DIR --out OUT_DIR
#
# ROOT_TGZ: a clean Debian 12 root (scripts/check-packages.sh makes one);
# DIR: the .deb files (scripts/package.sh); BUILD_DIR: a build tree with the
# camera's TCMU handler (tests/kernel/). Needs root (chroot, apt).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

base= mirror= packages= build= out=
while [ $# -gt 0 ]; do
  case "$1" in
    --base) base=$(realpath "$2"); shift 2 ;;
    --mirror) mirror=$2; shift 2 ;;
    --packages) packages=$(realpath "$2"); shift 2 ;;
    --build) build=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "run-service-guest.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
[ -n "$base" ] && [ -n "$mirror" ] && [ -n "$packages" ] && [ -n "$build" ] && [ -n "$out" ] ||
  { echo "usage: run-service-guest.sh --base ROOT_TGZ --mirror URL --packages DIR --build BUILD_DIR --out OUT_DIR" >&2; exit 2; }
[ -x "$build/tests/kernel/tarnscsi-tcmu-camera" ] ||
  { echo "run-service-guest.sh: no camera handler in $build (build the linux preset first)" >&2; exit 2; }

mkdir -p "$out"
out=$(cd "$out" && pwd)
root=$out/root
rm -rf "$root"
mkdir -p "$root"
tar -C "$root" -xzf "$base"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
echo "deb $mirror bookworm main" >"$root/etc/apt/sources.list"
# The packages stay in /mnt/debs, where the checks install one again.
mkdir -p "$root/mnt/debs"
cp "$packages"/tarnscsi_*.deb "$packages"/tarnscsi-alpaca_*.deb "$root/mnt/debs/"
mount -t proc proc "$root/proc"
unmount() { umount "$root/proc" 2>/dev/null || true; }
trap unmount EXIT
echo "Installing systemd, udev, kmod, curl and the packages in $root"
debs=()
for deb in "$root"/mnt/debs/*.deb; do debs+=("/mnt/debs/${deb##*/}"); done
if ! timeout 900 chroot "$root" /usr/bin/env DEBIAN_FRONTEND=noninteractive sh -c \
  'apt-get update -q && apt-get install -y -q --no-install-recommends systemd udev kmod curl "$@" && apt-get clean' sh "${debs[@]}" \
  >"$out/apt.log" 2>&1; then
  tail -n 30 "$out/apt.log" >&2
  echo "run-service-guest.sh: installing into the guest's root failed" >&2
  exit 2
fi
unmount
trap - EXIT

# The checks, as a unit of the installed system: systemd starts them once
# udev runs, and powers the machine off when they end, however they end.
cat >"$root/etc/systemd/system/tarnscsi-guest.target" <<'UNIT'
[Unit]
Description=tarnscsi checks of the installed service
Requires=tarnscsi-guest-checks.service
After=tarnscsi-guest-checks.service
UNIT
cat >"$root/etc/systemd/system/tarnscsi-guest-checks.service" <<'UNIT'
[Unit]
Description=tarnscsi checks of the installed service
Wants=systemd-udevd.service systemd-udev-trigger.service
After=systemd-udevd.service systemd-udev-trigger.service systemd-journald.service
SuccessAction=poweroff-force
FailureAction=poweroff-force

[Service]
Type=oneshot
ExecStart=/bin/bash -c 'set -a; . /mnt/guest/guest.conf; set +a; exec /bin/bash "$GUEST_SCRIPT"'
StandardOutput=tty
StandardError=tty
TTYPath=/dev/ttyS0
UNIT
rm -f "$root/etc/resolv.conf"

TARNSCSI_GUEST_MEMORY=${TARNSCSI_GUEST_MEMORY:-2048} \
  "$here/run-guest.sh" --build "$build" --out "$out" --init "$here/guest/init-systemd" \
  --script "$here/guest/service.sh" --time-limit "${TARNSCSI_SERVICE_GUEST_LIMIT:-600}" -- "$root"
