#!/bin/bash
# The Windows suite inside the guest, for hosts whose kernel cannot run
# 32-bit programs: Debian's kernel can, so Wine runs here on the host's own
# files (the build and Wine, read-only below; every write, the Wine prefix's
# included, lands in the guest's memory). One verdict: "PASS windows_suite"
# or "FAIL windows_suite: ..." with ctest's summary line.
set -u
echo "BOOTED $(cut -d' ' -f1 /proc/uptime)" >"$GUEST_RESULTS"
cd "$GUEST_SOURCE" || exit 1
# The first start of Wine makes its prefix, which takes minutes under
# emulation, far beyond the suite's own time limit for starting Wine: it is
# made here first, as that start would make it.
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$GUEST_BUILD/CMakeCache.txt"; }
if [ ! -f "$GUEST_BUILD/wineprefix/system.reg" ]; then
  echo "Making the Wine prefix $GUEST_BUILD/wineprefix"
  start=$SECONDS
  WINEPREFIX=$GUEST_BUILD/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" \
    timeout 1500 sh cmake/wine-start.sh "$(cache_value WINE_EXECUTABLE)" "$(cache_value WINESERVER_EXECUTABLE)" \
    "$(cache_value WINEBOOT_EXECUTABLE)" /tmp/wineboot.log || { echo "--- /tmp/wineboot.log"; tail -n 40 /tmp/wineboot.log; }
  echo "(the prefix took $((SECONDS - start)) s)"
fi
ctest --test-dir "$GUEST_BUILD" -j 2 --output-on-failure --timeout 900 2>&1 | tee /tmp/windows-suite.log
status=${PIPESTATUS[0]}
# Wine's own start, when the suite could not get that far.
if grep -q 'wine_start .*Failed' /tmp/windows-suite.log; then
  echo "--- $GUEST_BUILD/wineboot.log"
  tail -n 40 "$GUEST_BUILD/wineboot.log"
fi
summary=$(grep -E '^[0-9]+% tests passed' /tmp/windows-suite.log | tail -n 1)
if [ "$status" -eq 0 ]; then
  echo "PASS windows_suite" >"$GUEST_RESULTS"
else
  echo "FAIL windows_suite: ${summary:-ctest ended with status $status}" >"$GUEST_RESULTS"
fi
echo "DONE $(cut -d' ' -f1 /proc/uptime)" >"$GUEST_RESULTS"
