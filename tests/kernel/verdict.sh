#!/usr/bin/env bash
# One guest check's verdict, from the results the guest run left in OUT_DIR
# (run-guest.sh): passes on "PASS NAME"; otherwise shows what the check
# printed on the guest's console and fails.
#
#   verdict.sh OUT_DIR NAME
set -euo pipefail
out=$1
name=$2
results="$out/results.log"
if grep -qx "PASS $name" "$results" 2>/dev/null; then
  echo "PASS $name"
  exit 0
fi
grep "^FAIL $name" "$results" 2>/dev/null || echo "$name: no verdict from the guest (see $out/console.log)"
# The check's own part of the console: from its heading to the next one.
awk -v heading="=== $name" '$0 == heading { show = 1; print; next } /^=== / { show = 0 } show' \
  "$out/console.log" 2>/dev/null | tail -n 80
exit 1
