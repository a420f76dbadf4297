#!/usr/bin/env bash
# Builds the release packages from a clean build of their own:
#   scripts/package.sh [deb]   Debian packages in build/package/packages/:
#                              tarnscsi, tarnscsi-dev, indi-tarnscsi,
#                              tarnscsi-alpaca
#   scripts/package.sh windows the Windows zip (and its debug zip) in
#                              build/package-win32/packages/: TARNSCSI.dll,
#                              the programs this build makes for Windows,
#                              simulator/, INSTALL.txt and the licences
# Install the Debian packages with `sudo apt install ./build/package/packages/*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

case "${1:-deb}" in
  deb)
    scripts/install-deps.sh release package
    build=build/package
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
      -DTARNSCSI_BUILD_TOOLS=ON -DTARNSCSI_BUILD_INDI=ON -DTARNSCSI_BUILD_ALPACA=ON \
      -DTARNSCSI_BUILD_TESTS=OFF -DTARNSCSI_BUILD_BENCH=OFF \
      -DCPACK_STRIP_FILES=ON >/dev/null
    cmake --build "$build" -j "$jobs"
    (cd "$build" && cpack -G DEB)
    ls -l "$build"/packages/*.deb
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
    echo "usage: scripts/package.sh [deb|windows]" >&2
    exit 2
    ;;
esac
