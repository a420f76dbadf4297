#!/usr/bin/env bash
# Every test: set up, build and run the whole suite on Linux (build/linux),
# the checks on a real kernel in a QEMU guest among them, then build the
# Windows DLL and run its suite under Wine (build/win32): on this machine
# when its kernel runs 32-bit programs, else inside the QEMU guest on
# Debian's own kernel (scripts/windows-way.sh; TARNSCSI_WINDOWS_IN_GUEST=1
# asks for the guest anyway).
# TARNSCSI_SKIP_WINDOWS=1 leaves the Windows part out, for quick local runs.
set -euo pipefail
cd "$(dirname "$0")/.."

# Every package list but the Windows one is for the Linux build.
scripts/install-deps.sh linux
scripts/build.sh linux
ctest --preset linux -j "$(nproc)"

if [ -n "${TARNSCSI_SKIP_WINDOWS:-}" ] && [ "$TARNSCSI_SKIP_WINDOWS" != 0 ]; then
  echo "Windows build and tests left out (TARNSCSI_SKIP_WINDOWS=$TARNSCSI_SKIP_WINDOWS)."
  exit 0
fi
scripts/install-windows-deps.sh
scripts/build.sh win32

source "$(dirname "${BASH_SOURCE[0]}")/loud.sh"

case "$(scripts/windows-way.sh)" in
  host)
    echo "Windows suite: under Wine on this machine (its kernel runs 32-bit programs)."
    ctest --preset win32 -j "$(nproc)"
    ;;
  guest)
    if [ "${TARNSCSI_WINDOWS_IN_GUEST:-0}" != 0 ]; then
      echo "Windows suite: under Wine inside a QEMU guest on Debian's kernel (TARNSCSI_WINDOWS_IN_GUEST=$TARNSCSI_WINDOWS_IN_GUEST)."
    else
      echo "Windows suite: this kernel ($(uname -r)) cannot run 32-bit programs (Wine: Exec format error);"
      echo "running it under Wine inside a QEMU guest on Debian's kernel instead."
    fi
    status=0
    TARNSCSI_GUEST_MEMORY=${TARNSCSI_GUEST_MEMORY:-3072} \
      tests/kernel/run-guest.sh --build build/win32 --out build/win32/guest --script tests/kernel/guest/windows.sh \
      --time-limit "${TARNSCSI_WINDOWS_GUEST_LIMIT:-1200}" || status=$?
    unrun=$(sed -n 's/^UNRUN windows_suite: //p' build/win32/guest/results.log 2>/dev/null || true)
    if [ "$status" -eq 0 ] && [ -n "$unrun" ]; then
      loud "THE WINDOWS HALF DID NOT RUN: this kernel ($(uname -r)) cannot run 32-bit programs, and in the" \
           "QEMU guest that stands in for it: $unrun (build/win32/guest/console.log)." \
           "The Linux suite above passed; the Windows DLL was built but not tested."
    elif [ "$status" -eq 1 ]; then
      echo "The Windows suite failed in the guest; its output: build/win32/guest/console.log" >&2
      exit 1
    elif [ "$status" -ne 0 ]; then
      loud "THE WINDOWS HALF DID NOT RUN: this kernel ($(uname -r)) cannot run 32-bit programs," \
           "and the QEMU guest that stands in for it did not finish (build/win32/guest/console.log)." \
           "The Linux suite above passed; the Windows DLL was built but not tested."
    fi
    ;;
esac
