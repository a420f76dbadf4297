#!/usr/bin/env bash
# How scripts/windows-way.sh decides where the Windows suite runs: on this
# machine when its kernel runs Wine's 32-bit loader, in the guest when the
# kernel refuses it with "Exec format error" (built without 32-bit
# emulation) or when asked to.
set -uo pipefail
way="$1/windows-way.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

expect() {
  local name=$1 want=$2 got
  shift 2
  got=$("$@" 2>&1)
  if [ "$got" != "$want" ]; then
    echo "FAIL $name: '$got', want '$want'" >&2
    failures=$((failures + 1))
  fi
}

# An ELF header for a machine no kernel knows: execve refuses it with
# ENOEXEC, as a kernel without 32-bit emulation refuses an i386 program.
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\377\377' >"$work/unknown-elf"
head -c 64 /dev/zero >>"$work/unknown-elf"
chmod +x "$work/unknown-elf"
printf '#!/bin/sh\necho wine-8.0\n' >"$work/starts"
printf '#!/bin/sh\necho "wine: could not load kernel32.dll" >&2\nexit 1\n' >"$work/fails-otherwise"
chmod +x "$work/starts" "$work/fails-otherwise"

unset TARNSCSI_WINDOWS_IN_GUEST
expect "kernel refuses the loader" guest bash "$way" "$work/unknown-elf"
expect "loader starts"             host  bash "$way" "$work/starts"
expect "loader fails otherwise"    host  bash "$way" "$work/fails-otherwise"
expect "no loader"                 host  bash "$way" "$work/missing"
expect "guest asked for"           guest env TARNSCSI_WINDOWS_IN_GUEST=1 bash "$way" "$work/starts"
expect "guest not asked for"       host  env TARNSCSI_WINDOWS_IN_GUEST=0 bash "$way" "$work/starts"

[ "$failures" -eq 0 ] && echo "windows-way: all cases pass"
exit $((failures > 0))
