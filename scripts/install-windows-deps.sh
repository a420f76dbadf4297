#!/usr/bin/env bash
# Installs what the 32-bit Windows build and its tests under Wine need
# (scripts/packages/windows.txt), and only what is missing. wine32 is an
# i386 package, so the i386 architecture is enabled first when it is not;
# install-deps.sh then refreshes the package lists before installing (and,
# where an index of the mirror fails, installs from the other sources:
# wine32:i386 comes from the same source as wine).
# Needs root (or sudo) when something must be installed.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Enabling the i386 architecture (for wine32)"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi

exec "$here/install-deps.sh" windows
