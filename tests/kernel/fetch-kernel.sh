#!/usr/bin/env bash
# Brings Debian's own kernel into a cache folder, without installing it:
# `apt-get download` of the package linux-image-amd64 points to, then
# `dpkg-deb` unpacks it and only the kernel image and the modules the guest
# loads (with every module they depend on) are kept. Nothing goes to the
# host's /boot or /lib/modules, and no root is needed once the package lists
# are there.
#
#   fetch-kernel.sh CACHE_DIR     prints the folder that holds vmlinuz,
#                                 version and lib/modules/<version>/
#
# The packages of udev and its shared library are unpacked beside it (for
# checks of the udev rule where the host has no udev).
#
# TARNSCSI_KERNEL_PACKAGE names another package (e.g. linux-image-cloud-amd64
# lacks the 9p file system the guest mounts the host with, so it does not do).
set -euo pipefail

cache=${1:?usage: fetch-kernel.sh CACHE_DIR}
meta=${TARNSCSI_KERNEL_PACKAGE:-linux-image-amd64}
# What the guest loads; their dependencies come along.
wanted=(virtio_pci 9pnet_virtio 9p overlay sg sr_mod virtio_scsi scsi_debug
        configfs uio target_core_mod target_core_user tcm_loop)

say() { echo "fetch-kernel: $*" >&2; }

# The versioned package the meta package depends on, e.g. linux-image-6.1.0-57-amd64.
resolve() {
  apt-cache depends "$meta" 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
}
package=$(resolve)
if [ -z "$package" ] && [ "$(id -u)" -eq 0 ]; then
  say "no $meta in the package lists: apt-get update"
  apt-get update -q >/dev/null 2>&1 || true
  package=$(resolve)
fi
if [ -z "$package" ]; then
  say "cannot find $meta in the package lists; run 'apt-get update' (as root) and try again"
  exit 1
fi

kernel_dir="$cache/$package"
if [ -f "$kernel_dir/complete" ]; then
  echo "$kernel_dir"
  exit 0
fi

work=$(mktemp -d "$cache.work.XXXXXX" 2>/dev/null || { mkdir -p "$cache" && mktemp -d "$cache/work.XXXXXX"; })
trap 'rm -rf "$work"' EXIT
say "downloading $package"
(cd "$work" && apt-get download -q "$package" >/dev/null 2>"$work/apt.log") || {
  cat "$work/apt.log" >&2
  say "apt-get download $package failed"
  exit 1
}
say "unpacking $(basename "$work"/*.deb)"
mkdir "$work/root"
dpkg-deb --fsys-tarfile "$work"/*.deb | tar -x -C "$work/root" ./boot ./lib/modules
version=$(ls "$work/root/lib/modules")
modules="$work/root/lib/modules/$version"

# Every module file by its module name (file names may use - where the name has _).
declare -A file_of
while IFS= read -r path; do
  name=${path##*/}
  name=${name%.ko}
  file_of[${name//-/_}]=$path
done < <(cd "$modules" && find kernel -name '*.ko')

declare -A keep
add() {
  local name=${1//-/_} dep
  [ -n "${keep[$name]:-}" ] && return 0
  if [ -z "${file_of[$name]:-}" ]; then
    # Built into the kernel, or missing: the guest finds out when it loads it.
    grep -q "/${name}.ko\$" "$modules/modules.builtin" 2>/dev/null || say "no module $name in $package"
    return 0
  fi
  keep[$name]=1
  # The module's own list of the modules it needs, from its .modinfo strings.
  for dep in $(tr '\0' '\n' <"$modules/${file_of[$name]}" | sed -n 's/^depends=//p' | tr ',' ' '); do
    add "$dep"
  done
}
for name in "${wanted[@]}"; do add "$name"; done

mkdir -p "$work/kernel/lib/modules/$version"
cp "$work/root/boot/vmlinuz-$version" "$work/kernel/vmlinuz"
for name in "${!keep[@]}"; do
  mkdir -p "$work/kernel/lib/modules/$version/$(dirname "${file_of[$name]}")"
  cp "$modules/${file_of[$name]}" "$work/kernel/lib/modules/$version/${file_of[$name]}"
done
cp "$modules/modules.builtin" "$modules/modules.order" "$work/kernel/lib/modules/$version/" 2>/dev/null || true
busybox depmod -b "$work/kernel" "$version"
# udevadm, for checks of the udev rule on a host without udev: unpacked
# beside the kernel, run in the guest with the host's other libraries.
(cd "$work" && apt-get download -q udev libsystemd-shared >/dev/null 2>>"$work/apt.log") || {
  cat "$work/apt.log" >&2
  say "apt-get download udev libsystemd-shared failed"
  exit 1
}
for deb in "$work"/udev_*.deb "$work"/libsystemd-shared_*.deb; do
  dpkg-deb -x "$deb" "$work/kernel/udev"
done
echo "$version" >"$work/kernel/version"
echo "$package" >"$work/kernel/package"
touch "$work/kernel/complete"

rm -rf "$kernel_dir"
mkdir -p "$cache"
mv "$work/kernel" "$kernel_dir"
say "kernel $version from $package in $kernel_dir (${#keep[@]} modules)"
echo "$kernel_dir"
