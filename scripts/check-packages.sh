#!/usr/bin/env bash
# Debian's own checks of the packages scripts/package.sh built into
# build/package/packages/, each bounded in time:
#
#   lintian      0 errors and 0 warnings with the default profile (the
#                informational and pedantic tags are printed, not failed on)
#   piuparts     install, remove and purge in a clean Debian 12 chroot, then
#                an upgrade from the same packages at a lower version, with
#                nothing left behind
#   autopkgtest  debian/tests/ against the installed packages, in a chroot
#                made for the run and deleted after it
#   service      the installed service under systemd, in the QEMU guest
#                booted with systemd as init (tests/kernel/run-service-guest.sh)
#
#   scripts/check-packages.sh [CHECK...]     (default: all four, in that order)
#
# piuparts, autopkgtest and the service's guest need root (chroot, mounts)
# and Debian's mirror: the one apt on this machine uses. The clean Debian 12
# root they start from is made once with debootstrap and kept in
# build/debian-root/ (delete it to make it afresh).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/loud.sh

scripts/install-deps.sh debian kernel
packages=build/package/packages
checks=("$@")
[ ${#checks[@]} -gt 0 ] || checks=(lintian piuparts autopkgtest service)
for check in "${checks[@]}"; do
  case "$check" in
    lintian | piuparts | autopkgtest | service) ;;
    *) echo "usage: scripts/check-packages.sh [lintian|piuparts|autopkgtest|service]..." >&2; exit 2 ;;
  esac
done
shopt -s nullglob
changes=("$packages"/*.changes)
debs=("$packages"/*.deb)
if [ ${#changes[@]} -ne 1 ] || [ ${#debs[@]} -eq 0 ]; then
  echo "check-packages.sh: no packages in $packages: run scripts/package.sh first" >&2
  exit 2
fi
shopt -u nullglob
source_dir=$(find build/package/src -mindepth 1 -maxdepth 1 -type d -name 'tarnscsi-*' | head -n 1)
root_tgz=$PWD/build/debian-root/bookworm.tgz
# Logs of the checks, kept after the run.
logs=build/package/checks

# The Debian mirror apt uses here for bookworm's main component.
mirror() {
  apt-cache policy 2>/dev/null | awk '$3 == "bookworm/main" { print $2; exit }' | grep . ||
    echo http://deb.debian.org/debian
}

# A clean Debian 12 root (debootstrap's minbase), made once.
base_root() {
  [ -s "$root_tgz" ] && return 0
  local dir
  dir=$(mktemp -d "$PWD/build/debian-root.XXXXXX")
  echo "Making a clean Debian 12 root with debootstrap from $(mirror) (once; kept in $root_tgz)"
  if ! timeout 900 debootstrap --variant=minbase bookworm "$dir" "$(mirror)" >"$dir.log" 2>&1; then
    tail -n 20 "$dir.log" >&2
    rm -rf "$dir"
    echo "check-packages.sh: debootstrap failed (log above)" >&2
    return 1
  fi
  mkdir -p "${root_tgz%/*}"
  tar -C "$dir" -czf "$root_tgz.new" . && mv "$root_tgz.new" "$root_tgz"
  rm -rf "$dir" "$dir.log"
}

# Prints the seconds a check took.
timed() {
  local start=$SECONDS status=0
  "$@" || status=$?
  echo "($1: $((SECONDS - start)) s)"
  return $status
}

check_lintian() {
  # The source package too (seconds: it compiles nothing), for the tags
  # lintian gives only there.
  mkdir -p "$logs"
  scripts/package.sh source >"$logs/source-package.log" 2>&1 ||
    { tail -n 20 "$logs/source-package.log"; echo "check-packages.sh: the source package failed" >&2; return 1; }
  local source_changes=(build/package-source/packages/*_source.changes)
  echo "=== lintian $(lintian --version | awk '{ print $2 }') on ${changes[0]##*/} and ${source_changes[0]##*/}"
  # Errors and warnings fail; info (-I) and pedantic tags are shown.
  timeout 600 lintian --fail-on error,warning -I --pedantic --tag-display-limit 0 "${changes[0]}" "${source_changes[0]}"
  echo "lintian: no error and no warning"
}

# The packages at a lower version (VERSION with its Debian revision 0), as
# an older release would have them, in a folder apt reads as a repository.
lowered_repository() {
  local repo=$1 deb dir version
  mkdir -p "$repo"
  for deb in "${debs[@]}"; do
    dir=$(mktemp -d "$repo/unpack.XXXXXX")
    dpkg-deb -R "$deb" "$dir"
    version=$(sed -n 's/^Version: //p' "$dir/DEBIAN/control")
    sed -i "s/(\([<>=]*\) $version)/(\1 ${version%-*}-0)/g; s/^Version: .*/Version: ${version%-*}-0/" "$dir/DEBIAN/control"
    dpkg-deb --root-owner-group -b "$dir" "$repo/" >/dev/null
    rm -rf "$dir"
  done
  (cd "$repo" && dpkg-scanpackages --multiversion . /dev/null >Packages 2>/dev/null)
}

check_piuparts() {
  base_root
  local work status=0 version
  work=$(mktemp -d "$PWD/build/piuparts.XXXXXX")
  version=$(dpkg-deb -f "${debs[0]}" Version)
  mkdir -p "$logs"
  piuparts_tests "$work" "${version%-*}-0" || status=$?
  rm -rf "$work"
  return $status
}

piuparts_tests() {
  local work=$1 old_version=$2
  local options=(-b "$root_tgz" -d bookworm -m "$(mirror)" --tmpdir "$work" --warn-on-debsums-errors)
  # piuparts appends to its logs: each run's own.
  rm -f "$logs/piuparts-install.log" "$logs/piuparts-upgrade.log"
  echo "=== piuparts: install, remove and purge in a clean Debian 12 chroot"
  timeout 900 piuparts "${options[@]}" --no-upgrade-test -l "$logs/piuparts-install.log" "${debs[@]}" >/dev/null ||
    { tail -n 40 "$logs/piuparts-install.log"; echo "piuparts: the install, remove and purge test failed" >&2; return 1; }
  tail -n 1 "$logs/piuparts-install.log"
  echo "=== piuparts: an upgrade from the same packages at version $old_version, then purge"
  lowered_repository "$work/old"
  timeout 900 piuparts "${options[@]}" --no-install-purge-test --bindmount "$work/old" \
    --extra-repo "deb [trusted=yes] file://$work/old ./" -l "$logs/piuparts-upgrade.log" "${debs[@]}" >/dev/null ||
    { tail -n 40 "$logs/piuparts-upgrade.log"; echo "piuparts: the upgrade test failed" >&2; return 1; }
  # piuparts skips the upgrade, and passes, when apt does not know the
  # packages: the older ones must have been installed first.
  grep -E "Unpacking [a-z0-9-]+ \\($old_version\\)" "$logs/piuparts-upgrade.log" | head -n 3 | grep . ||
    { echo "piuparts did not install version $old_version before the upgrade ($logs/piuparts-upgrade.log)" >&2; return 1; }
  tail -n 1 "$logs/piuparts-upgrade.log"
}

check_autopkgtest() {
  base_root
  [ -n "$source_dir" ] || { echo "check-packages.sh: no unpacked sources in build/package/src" >&2; return 1; }
  local testbed status=0
  testbed=$(mktemp -d "$PWD/build/autopkgtest.XXXXXX")
  tar -C "$testbed" -xzf "$root_tgz"
  cp /etc/resolv.conf "$testbed/etc/resolv.conf" 2>/dev/null || true
  echo "deb $(mirror) bookworm main" >"$testbed/etc/apt/sources.list"
  mount -t proc proc "$testbed/proc"
  mount --rbind /dev "$testbed/dev"
  mount --make-rslave "$testbed/dev"
  echo "=== autopkgtest in a chroot of its own ($testbed)"
  mkdir -p "$logs"
  rm -rf "$logs/autopkgtest"
  timeout 1200 autopkgtest --output-dir "$logs/autopkgtest" "${debs[@]}" "$source_dir" -- chroot "$testbed" ||
    status=$?
  umount -R "$testbed/dev" "$testbed/proc" || umount -lR "$testbed/dev" "$testbed/proc"
  rm -rf "$testbed"
  cat "$logs/autopkgtest/summary" 2>/dev/null || true
  # 0 every test passed, 2 some were skipped; anything else is a failure.
  [ "$status" -eq 0 ] || [ "$status" -eq 2 ] || { echo "autopkgtest failed (status $status)" >&2; return 1; }
}

check_service() {
  base_root
  echo "=== the service under systemd, in the QEMU guest"
  tests/kernel/run-service-guest.sh --base "$root_tgz" --mirror "$(mirror)" --packages "$packages" \
    --build build/linux --out build/service-guest
}

failed=()
for check in "${checks[@]}"; do
  timed "check_$check" || failed+=("$check")
done
if [ ${#failed[@]} -gt 0 ]; then
  loud "THE PACKAGES FAILED: ${failed[*]} (output above)."
  exit 1
fi
echo "Packages: ${checks[*]}: passed"
