#!/bin/bash
# The Windows suite inside the guest, for hosts whose kernel cannot run
# 32-bit programs: Debian's kernel can, so Wine runs here on the host's own
# files (the build and Wine, read-only below; every write, the Wine prefix's
# included, lands in the guest's memory). One verdict: "PASS windows_suite"
# or "FAIL windows_suite: ..." with ctest's summary line.
set -u
echo "BOOTED $(cut -d' ' -f1 /proc/uptime)" >"$GUEST_RESULTS"
cd "$GUEST_SOURCE" || exit 1
ctest --test-dir "$GUEST_BUILD" -j 2 --output-on-failure --timeout 900 2>&1 | tee /tmp/windows-suite.log
status=${PIPESTATUS[0]}
summary=$(grep -E '^[0-9]+% tests passed' /tmp/windows-suite.log | tail -n 1)
if [ "$status" -eq 0 ]; then
  echo "PASS windows_suite" >"$GUEST_RESULTS"
else
  echo "FAIL windows_suite: ${summary:-ctest ended with status $status}" >"$GUEST_RESULTS"
fi
echo "DONE $(cut -d' ' -f1 /proc/uptime)" >"$GUEST_RESULTS"
