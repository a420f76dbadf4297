#!/usr/bin/env bash
# Says how the Windows suite runs on this machine: "host" when this kernel
# runs 32-bit programs (Wine's 32-bit loader starts), "guest" when it cannot
# ("Exec format error": a kernel built without 32-bit emulation), so that
# the suite runs inside a QEMU guest on Debian's own kernel instead
# (tests/kernel/run-guest.sh). TARNSCSI_WINDOWS_IN_GUEST=1 asks for the
# guest anyway.
#
#   scripts/windows-way.sh [LOADER]     (default: /usr/lib/wine/wine)
set -uo pipefail
loader=${1:-/usr/lib/wine/wine}

if [ "${TARNSCSI_WINDOWS_IN_GUEST:-0}" != 0 ]; then
  echo guest
  exit 0
fi
# Without the loader there is nothing to tell: the suite's own start says
# what is missing.
if [ ! -e "$loader" ]; then
  echo host
  exit 0
fi
if output=$("$loader" --version 2>&1); then
  echo host
elif [[ "$output" == *"Exec format error"* ]]; then
  echo guest
else
  echo host
fi
