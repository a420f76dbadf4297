#!/usr/bin/env bash
# Installs the Debian packages named in scripts/packages/<set>.txt for each
# set given (default: core), and only those that are missing. The set name
# "linux" stands for every list but the Windows one (which needs the i386
# architecture first: scripts/install-windows-deps.sh). Needs root (or sudo)
# when something must be installed.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

known=()
for list in "$here"/packages/*.txt; do known+=("$(basename "$list" .txt)"); done
usage() {
  cat <<USAGE
Usage: scripts/install-deps.sh [SET...]

Installs the missing Debian packages of each SET (default: core).
Sets: ${known[*]}, and linux (every set but windows).
USAGE
}

sets=()
for set in "$@"; do
  case "$set" in
    -h|--help) usage; exit 0 ;;
  esac
  if [ "$set" != linux ] && [ ! -f "$here/packages/$set.txt" ]; then
    echo "install-deps.sh: unknown package set '$set'" >&2
    usage >&2
    exit 2
  fi
  if [ "$set" = linux ]; then
    for list in "$here"/packages/*.txt; do
      name=$(basename "$list" .txt)
      [ "$name" = windows ] || sets+=("$name")
    done
  else
    sets+=("$set")
  fi
done
[ ${#sets[@]} -gt 0 ] || sets=(core)

missing=()
for set in "${sets[@]}"; do
  while read -r package; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done < <(grep -v '^\s*\(#\|$\)' "$here/packages/$set.txt")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
# apt and dpkg talk a lot; their words are kept in a log and shown only when
# something goes wrong.
log=$(mktemp "${TMPDIR:-/tmp}/tarnscsi-apt.XXXXXX")
trap 'rm -f "$log"' EXIT
if ! "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q >"$log" 2>&1 ||
   ! "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive \
       apt-get install -y -q --no-install-recommends "${missing[@]}" >>"$log" 2>&1; then
  cat "$log" >&2
  echo "Installing the packages above failed." >&2
  exit 1
fi
echo "Installed ${#missing[@]} packages."
