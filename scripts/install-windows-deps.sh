#!/usr/bin/env bash
# Installs what the 32-bit Windows build and its tests under Wine need
# (scripts/packages/windows.txt), and only what is missing, then builds the
# imaging libraries for Windows (scripts/build-windows-libs.sh: zlib, libpng
# and cfitsio from Debian 12's source packages, cached in build/win32-libs).
#
# wine32 is an i386 package, so the i386 architecture is enabled first when
# it is not. The library sources come through apt from Debian 12's deb-src
# entry; where apt has none for bookworm's main, a file of ours adds it
# (/etc/apt/sources.list.d/tarnscsi-bookworm-src.sources, on the mirror the
# machine's own bookworm entry uses) and the package lists are refreshed.
# install-deps.sh refreshes them before installing (and, where an index of
# the mirror fails, tries again, then installs from the other sources:
# wine32:i386 comes from the same source as wine).
# Needs root (or sudo) when something must be installed or added.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Enabling the i386 architecture (for wine32)"
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi

# Debian 12's source packages (only their .orig tarballs are used). A
# source entry apt already has for bookworm's main is used as it is.
# Otherwise one is added on the mirror of the machine's own bookworm entry,
# with that entry's Signed-By (apt refuses to read any of its sources when
# two entries of one mirror and suite name different keys): each candidate
# is first read by apt beside the machine's sources in a copy, and only one
# that apt reads is written.
list='' parts=''
eval "$(apt-config shell list Dir::Etc::sourcelist/f parts Dir::Etc::sourceparts/d)"
sources_file=${parts%/}/tarnscsi-bookworm-src.sources
refresh=0
if [ -z "$(apt-get indextargets --no-release-info 'Created-By: Sources' 'Release: bookworm' 'Component: main')" ]; then
  # shellcheck disable=SC2016 # apt's own $(FIELD) placeholders
  entry=$(apt-get indextargets --no-release-info --format '$(REPO_URI) $(SOURCESENTRY)' \
    'Created-By: Packages' 'Release: bookworm' 'Component: main' | head -n 1)
  mirror=${entry%% *}
  mirror=${mirror:-http://deb.debian.org/debian/}
  entry_file=${entry#* }
  entry_file=${entry_file%:*}
  keys=()
  if [ -f "$entry_file" ]; then
    mapfile -t keys < <(sed -n -e 's/^Signed-By:[ \t]*\([^ \t]\+\)[ \t]*$/\1/p' \
      -e 's/^[ \t]*deb\(-src\)\?[ \t]*\[.*signed-by=\([^] \t]*\).*$/\2/p' "$entry_file" | sort -u)
  fi
  keys+=("")
  trial=$(mktemp -d "${TMPDIR:-/tmp}/tarnscsi-sources.XXXXXX")
  trap 'rm -rf "$trial"' EXIT
  chosen=
  for key in "${keys[@]}"; do
    rm -rf "$trial/parts" && mkdir "$trial/parts"
    cp -p "$parts"/*.list "$parts"/*.sources "$trial/parts/" 2>/dev/null || true
    {
      echo "# Added by tarnscsi's scripts/install-windows-deps.sh: Debian 12's source"
      echo "# packages, from which scripts/build-windows-libs.sh takes zlib, libpng and"
      echo "# cfitsio to cross-build them for 32-bit Windows. No binary package comes"
      echo "# from it; deleting this file is safe."
      echo "Types: deb-src"
      echo "URIs: $mirror"
      echo "Suites: bookworm"
      echo "Components: main"
      [ -z "$key" ] || echo "Signed-By: $key"
    } >"$trial/parts/${sources_file##*/}"
    if apt-get -o "Dir::Etc::sourcelist=$list" -o "Dir::Etc::sourceparts=$trial/parts" \
         indextargets --no-release-info 'Created-By: Sources' >/dev/null 2>&1; then
      chosen=$trial/parts/${sources_file##*/}
      break
    fi
  done
  if [ -z "$chosen" ]; then
    echo "install-windows-deps.sh: apt reads no deb-src entry of ours beside this machine's sources" >&2
    echo "(a Signed-By this script cannot tell?). Add Debian 12's source packages by hand, e.g. a line" >&2
    echo "  deb-src $mirror bookworm main" >&2
    echo "with the options of this machine's bookworm entry, and run this script again." >&2
    exit 1
  fi
  echo "Adding Debian 12's source packages from $mirror ($sources_file)"
  "${sudo_cmd[@]}" install -m 644 "$chosen" "$sources_file"
  refresh=1
fi
# An entry whose index was never fetched (added just now or by hand).
if ! apt-cache showsrc zlib 2>/dev/null | grep -q '^Package: zlib$'; then
  refresh=1
fi

TARNSCSI_APT_UPDATE=$refresh "$here/install-deps.sh" windows
"$here/build-windows-libs.sh"
