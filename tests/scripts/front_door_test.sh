#!/usr/bin/env bash
# The front-door scripts' command lines: what each accepts, what it refuses
# (exit 2 with its usage on stderr), and run.sh's settings for the simulated
# camera. run.sh stops after reading its command line (TARNSCSI_RUN_DRY), so
# nothing is built or installed here.
set -uo pipefail
scripts="$1"
failures=0

# expect NAME EXIT-CODE OUTPUT-PATTERN COMMAND...
expect() {
  local name=$1 code=$2 pattern=$3
  shift 3
  local output rc
  output=$("$@" 2>&1)
  rc=$?
  if [ "$rc" -ne "$code" ] || ! grep -qE -- "$pattern" <<<"$output"; then
    echo "FAIL $name: exit $rc (want $code), output:" >&2
    echo "$output" >&2
    failures=$((failures + 1))
  fi
}

export TARNSCSI_RUN_DRY=1
unset TARNSCSI_SIM
run="$scripts/run.sh"
expect "default"            0 '^real=0 seconds=1 sim=time-scale=0.1$' bash "$run"
expect "seconds"            0 '^real=0 seconds=5 ' bash "$run" 5
expect "real first"         0 '^real=1 seconds=5 sim=$' bash "$run" --real 5
expect "real second"        0 '^real=1 seconds=5 sim=$' bash "$run" 5 --real
expect "help"               0 '^Usage: scripts/run.sh' bash "$run" --help
expect "help not seconds"   0 '^Usage: scripts/run.sh' bash "$run" 5 -h
expect "unknown option"     2 "unknown option '--bogus'" bash "$run" --bogus
expect "not a number"       2 "'abc' is not a number of seconds" bash "$run" abc
expect "negative"           2 "'-1' must not be negative" bash "$run" -1
expect "two times"          2 "more than one exposure time" bash "$run" 1 2
# The caller's settings come after the script's: the simulator applies them
# left to right, so the caller's time-scale wins.
expect "user settings kept" 0 'sim=time-scale=0.1,time-scale=0,seed=7$' \
  env TARNSCSI_SIM=time-scale=0,seed=7 bash "$run"

deps="$scripts/install-deps.sh"
expect "deps help"          0 '^Sets: .*core.*tools' bash "$deps" --help
expect "deps unknown set"   2 "unknown package set 'indy'" bash "$deps" indy
expect "deps unknown later" 2 "unknown package set 'nope'" bash "$deps" core nope

if [ "$failures" -ne 0 ]; then
  echo "$failures front-door checks failed" >&2
  exit 1
fi
echo "front-door checks passed"
