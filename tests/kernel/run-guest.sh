#!/usr/bin/env bash
# Runs a script inside a QEMU guest on Debian's own kernel, with software
# emulation (no KVM, no root): the kernel comes from Debian's package
# (fetch-kernel.sh), the initramfs is made here from busybox-static and that
# kernel's modules, and the guest sees the host's files read-only over 9p
# with a writable layer in memory, so the build tree and every installed
# program are there as they are on the host. The guest's console (kernel
# messages and everything the script prints) goes to OUT/console.log; the
# second serial port carries only the verdict lines ("PASS name",
# "FAIL name: why", "DONE"), kept in OUT/results.log. The guest powers off
# when the script ends; past the time limit QEMU is killed.
#
#   run-guest.sh --build BUILD_DIR --out OUT_DIR [--script GUEST_SCRIPT]
#                [--time-limit SECONDS] [--kernel-cache DIR] [--any-verdict]
#                [--install] [--init GUEST_INIT] [-- ARGS for the guest script]
#
# --install first installs the build tree under OUT_DIR/install (as
# `cmake --install` lays it out for any prefix), for checks of the installed
# programs.
#
# --init replaces the guest's first process (guest/init) with another
# (guest/init-systemd boots a Debian root under systemd).
#
# Exit status: 0 every check passed; 1 some check failed (0 with
# --any-verdict: the guest ran to its end); 2 the guest did not finish
# (boot failure, time limit) or could not be started.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source_dir="$(cd "$here/../.." && pwd)"

build=
out=
script="$here/guest/checks.sh"
init="$here/guest/init"
limit=${TARNSCSI_GUEST_TIME_LIMIT:-300}
cache=
any_verdict=
install=
guest_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --out) out=$2; shift 2 ;;
    --script) script=$(realpath "$2"); shift 2 ;;
    --time-limit) limit=$2; shift 2 ;;
    --kernel-cache) cache=$2; shift 2 ;;
    --any-verdict) any_verdict=1; shift ;;
    --install) install=1; shift ;;
    --init) init=$(realpath "$2"); shift 2 ;;
    --) shift; guest_args=("$@"); break ;;
    *) echo "run-guest.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
[ -n "$build" ] && [ -n "$out" ] || { echo "usage: run-guest.sh --build BUILD_DIR --out OUT_DIR [...]" >&2; exit 2; }
# One cache for every build tree (build/linux, build/win32, ...).
cache=${cache:-${TARNSCSI_KERNEL_CACHE:-$source_dir/build/kernel-cache}}

for tool in qemu-system-x86_64 busybox cpio gzip timeout; do
  if ! command -v "$tool" >/dev/null; then
    echo "run-guest.sh: $tool is missing: scripts/install-deps.sh kernel" >&2
    exit 2
  fi
done
busybox_path=$(command -v busybox)
if ! file -L "$busybox_path" 2>/dev/null | grep -q 'statically linked' &&
   ldd "$busybox_path" >/dev/null 2>&1; then
  echo "run-guest.sh: $busybox_path is not statically linked: install busybox-static" >&2
  exit 2
fi

kernel=$("$here/fetch-kernel.sh" "$cache") || exit 2
version=$(cat "$kernel/version")

mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -f "$out/console.log" "$out/results.log"
if [ -n "$install" ]; then
  install="$out/install"
  rm -rf "$install"
  cmake --install "$build" --prefix "$install" >"$out/install.log" 2>&1 ||
    { cat "$out/install.log" >&2; echo "run-guest.sh: installing $build failed" >&2; exit 2; }
fi
stage=$(mktemp -d "${TMPDIR:-/tmp}/tarnscsi-initramfs.XXXXXX")
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/bin" "$stage/etc" "$stage/lib"
cp "$busybox_path" "$stage/bin/busybox"
for applet in sh mount umount mkdir modprobe insmod rmmod lsmod poweroff chroot sync cat echo sleep ls ip ln; do
  ln -s busybox "$stage/bin/$applet"
done
cp -r "$kernel/lib/modules" "$stage/lib/"
cp "$init" "$stage/init"
chmod +x "$stage/init"
{
  printf 'GUEST_SCRIPT=%q\n' "$script"
  printf 'GUEST_SOURCE=%q\n' "$source_dir"
  printf 'GUEST_BUILD=%q\n' "$build"
  printf 'GUEST_INSTALL=%q\n' "$install"
  printf 'GUEST_KERNEL=%q\n' "$kernel"
  printf 'GUEST_TOOLS=/run/guest/bin\n'
  printf 'GUEST_RESULTS=/dev/ttyS1\n'
  printf 'GUEST_ARGS=%q\n' "${guest_args[*]:-}"
} >"$stage/etc/guest.conf"
# The host's folders the guest must see, as named and as resolved (a link in
# /tmp to a clone elsewhere, or to one in /tmp): init brings those that lie
# in /tmp into the guest's own /tmp.
for path in "$script" "$source_dir" "$build" "$install" "$kernel"; do
  [ -n "$path" ] || continue
  printf '%s\n' "$path"
  realpath -e "$path" 2>/dev/null || true
done >"$stage/etc/guest.paths"
(cd "$stage" && find . | cpio -o -H newc --quiet | gzip -1) >"$out/initramfs.gz"

# A disk and a CD-ROM on a SCSI host adapter of their own, so that the
# camera is never the only device on the bus.
truncate -s 16M "$out/disk.img"

memory=${TARNSCSI_GUEST_MEMORY:-2048}
# Without SMAP: QEMU 7.2's software emulation faults the IRET of 32-bit
# programs (Wine) with it on, and the guest's kernel oopses.
qemu=(qemu-system-x86_64 -machine q35,accel=tcg -cpu "${TARNSCSI_GUEST_CPU:-max,-smap}" -smp 2 -m "$memory"
  -nodefaults -no-user-config -display none -no-reboot
  -kernel "$kernel/vmlinuz" -initrd "$out/initramfs.gz"
  -append "console=ttyS0 loglevel=4 panic=-1 rdinit=/init"
  -serial "file:$out/console.log" -serial "file:$out/results.log"
  -virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap"
  -device virtio-scsi-pci,id=scsi0
  -drive "if=none,id=disk0,file=$out/disk.img,format=raw"
  -device scsi-hd,drive=disk0,bus=scsi0.0,channel=0,scsi-id=0,lun=0
  -drive if=none,id=cd0,media=cdrom
  -device scsi-cd,drive=cd0,bus=scsi0.0,channel=0,scsi-id=1,lun=0)

echo "Guest: Debian kernel $version ($(cat "$kernel/package")), QEMU software emulation, limit ${limit} s"
start=$(date +%s.%N)
status=0
timeout --kill-after=10 "$limit" "${qemu[@]}" >"$out/qemu.log" 2>&1 || status=$?
end=$(date +%s.%N)
# The serial ports end lines with CR LF.
sed -i 's/\r$//' "$out/results.log" "$out/console.log" 2>/dev/null || true
seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')
boot=$(grep -m1 -o 'guest: running .*' "$out/console.log" >/dev/null && grep -m1 '^BOOTED ' "$out/results.log" | awk '{ print $2 }' || true)

passed=$(grep -c '^PASS ' "$out/results.log" || true)
failed=$(grep -c '^FAIL ' "$out/results.log" || true)
grep -E '^(PASS|FAIL) ' "$out/results.log" || true
echo "Guest run: ${seconds} s${boot:+ (booted after ${boot} s of guest time)}, kernel $version"
if ! grep -q '^DONE' "$out/results.log"; then
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "The guest did not finish within ${limit} s and was stopped; its console: $out/console.log"
  else
    echo "The guest ended before its checks did (QEMU status $status); its console: $out/console.log"
    tail -n 30 "$out/qemu.log" "$out/console.log" 2>/dev/null || true
  fi
  exit 2
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] || [ -n "$any_verdict" ] || exit 1
exit 0
