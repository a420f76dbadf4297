#!/usr/bin/env bash
# Builds the release packages from a clean build of their own:
#   scripts/package.sh [deb]   Debian packages in build/package/packages/
#                              (debhelper, from debian/): libtarnscsi0,
#                              libtarnscsi-dev, tarnscsi, indi-tarnscsi,
#                              tarnscsi-alpaca, the transitional tarnscsi-dev,
#                              and the .changes file
#   scripts/package.sh source  the source package (.dsc, .orig.tar.xz,
#                              .debian.tar.xz) in build/package-source/packages/
#   scripts/package.sh windows the Windows zip (and its debug zip) in
#                              build/package-win32/packages/: TARNSCSI.dll,
#                              the programs this build makes for Windows,
#                              simulator/, INSTALL.txt and the licences
# Install the Debian packages with `sudo apt install ./build/package/packages/*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# copy_sources DIR: the sources git knows, as they are in the work tree
# (changes included), into DIR; dpkg-buildpackage builds in a source tree
# and writes the packages beside it, so it runs in such a copy.
copy_sources() {
  rm -rf "$1"
  mkdir -p "$1"
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard |
      while IFS= read -r -d '' file; do [ -e "$file" ] || [ -L "$file" ] && printf '%s\0' "$file"; done |
      tar --null -T - -c | tar -x -C "$1"
  else
    tar --exclude=./build --exclude=./.git -c . | tar -x -C "$1"
  fi
}

# collect FROM TO: what dpkg-buildpackage wrote into FROM, moved to TO.
collect() {
  local outputs
  shopt -s nullglob
  outputs=("$1"/*.deb "$1"/*.ddeb "$1"/*.dsc "$1"/*.tar.* "$1"/*.changes "$1"/*.buildinfo)
  shopt -u nullglob
  rm -rf "$2"
  mkdir -p "$2"
  mv "${outputs[@]}" "$2/"
  ls -l "$2"
}

case "${1:-deb}" in
  deb)
    scripts/install-deps.sh release package
    build=build/package
    version=$(dpkg-parsechangelog -S Version)
    source_dir=$build/src/tarnscsi-${version%-*}
    rm -rf "$build/src"
    copy_sources "$source_dir"
    # Through ccache where it is installed, so that a second build compiles
    # only what changed (the copy keeps its path from one build to the next).
    # Its cache is named: debhelper gives the build a HOME of its own.
    launcher=()
    if command -v ccache >/dev/null; then
      launcher=(env CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
                CCACHE_DIR="$(ccache -k cache_dir)" CCACHE_BASEDIR="$PWD/$source_dir")
    fi
    # No -dbgsym packages (DEB_BUILD_OPTIONS=noautodbgsym): Debian names them
    # .deb too, and `apt install ./build/package/packages/*.deb` would install
    # them. Give DEB_BUILD_OPTIONS without it to have them.
    export DEB_BUILD_OPTIONS=${DEB_BUILD_OPTIONS-noautodbgsym}
    (cd "$source_dir" && "${launcher[@]}" dpkg-buildpackage -us -uc -b -j"$jobs")
    collect "$build/src" "$build/packages"
    ;;
  source)
    # The source package: the upstream tarball (the sources without debian/),
    # the .dsc and the debian/ tarball, in build/package-source/packages/.
    scripts/install-deps.sh package
    build=build/package-source
    version=$(dpkg-parsechangelog -S Version)
    upstream=${version%-*}
    rm -rf "$build/src"
    copy_sources "$build/src/tarnscsi-$upstream"
    tar -C "$build/src" --exclude="tarnscsi-$upstream/debian" -cJf "$build/src/tarnscsi_$upstream.orig.tar.xz" \
      "tarnscsi-$upstream"
    (cd "$build/src/tarnscsi-$upstream" && dpkg-buildpackage -us -uc -S -d)
    collect "$build/src" "$build/packages"
    ;;
  windows)
    scripts/install-windows-deps.sh
    build=build/package-win32
    cmake -S . -B "$build" --toolchain "$PWD/cmake/toolchain-i686-w64-mingw32.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNSCSI_BUILD_TESTS=OFF \
      -DTARNSCSI_BUILD_BENCH=OFF -DTARNSCSI_BUILD_INDI=OFF >/dev/null
    cmake --build "$build" -j "$jobs" --target windows_zip
    ls -l "$build"/packages/*.zip
    ;;
  *)
    echo "usage: scripts/package.sh [deb|source|windows]" >&2
    exit 2
    ;;
esac
