#!/usr/bin/env bash
# Cross-builds the imaging libraries of the Windows programs (zlib, libpng
# and cfitsio) for 32-bit Windows from Debian 12's source packages, static,
# with the posix-thread-model mingw-w64 compiler that builds our programs,
# into build/win32-libs/prefix (include/, lib/, lib/pkgconfig/, and their
# licences in licenses/ for the Windows zip). The win32 preset finds them
# there (TARNSCSI_WIN32_LIBS, cmake/toolchain-i686-w64-mingw32.cmake).
#
# The sources are the .orig tarballs of the source packages, fetched with
# `apt-get source --download-only` (scripts/install-windows-deps.sh adds
# Debian 12's deb-src entry and runs this script); each is checked against
# the checksum below, so a version other than the pinned one is refused.
# Debian's own patches are not applied.
#
# A second run with the same sources, compiler and recipe does nothing and
# says so (build/win32-libs/prefix/BUILT records what was built). A build
# that fails leaves the previous prefix as it was; its log is shown.
#   TARNSCSI_WIN32_LIBS_DIR  where to work (default: build/win32-libs)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
out=${TARNSCSI_WIN32_LIBS_DIR:-build/win32-libs}
mkdir -p "$out"
out=$(cd "$out" && pwd)
prefix=$out/prefix

# name|source package|.orig tarball|its SHA-256|directory it unpacks to|licence
libraries=(
  "zlib|zlib|zlib_1.2.13.dfsg.orig.tar.bz2|71feb7947e3c00ef125f83b79a4e529bde31171e5babe48b391f06758d1ab0a1|zlib-1.2.13.dfsg|LICENSE"
  "libpng|libpng1.6|libpng1.6_1.6.39.orig.tar.gz|a00e9d2f2f664186e4202db9299397f851aea71b36a35e74910b8820e380d441|libpng-1.6.39|LICENSE"
  "cfitsio|cfitsio|cfitsio_4.2.0.orig.tar.gz|eba53d1b3f6e345632bb09a7b752ec7ced3d63ec5153a848380f3880c5d61889|cfitsio-4.2.0|License.txt"
)

triplet=i686-w64-mingw32
cc=$triplet-gcc-posix
toolchain=$repo/cmake/toolchain-i686-w64-mingw32.cmake
for tool in "$cc" "$triplet-ar" "$triplet-ranlib" cmake; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "build-windows-libs.sh: $tool not found: install the Windows packages (scripts/install-windows-deps.sh)" >&2
    exit 1
  fi
done

# One run at a time in a directory.
exec 9>"$out/.lock"
flock 9

# What a build is made of: the tarballs, the compiler, this recipe and the
# toolchain file. The same again means nothing to do.
wanted() {
  local entry
  for entry in "${libraries[@]}"; do
    IFS='|' read -r name _ tarball sha256 _ _ <<<"$entry"
    echo "$name $tarball $sha256"
  done
  echo "compiler $cc $("$cc" --version | head -n 1)"
  echo "recipe $(cat "$0" "$toolchain" | sha256sum | cut -d' ' -f1)"
}
if [ -f "$prefix/BUILT" ] && [ "$(cat "$prefix/BUILT")" = "$(wanted)" ]; then
  echo "Imaging libraries for Windows: up to date in $prefix (nothing to do)."
  exit 0
fi

jobs=$(nproc)
logs=$out/logs
sources=$out/sources
mkdir -p "$logs" "$sources"

# The tarballs: those already here with the right checksum are kept.
checked() { [ -f "$sources/$1" ] && [ "$(sha256sum "$sources/$1" | cut -d' ' -f1)" = "$2" ]; }
fetch=()
for entry in "${libraries[@]}"; do
  IFS='|' read -r name package tarball sha256 _ _ <<<"$entry"
  checked "$tarball" "$sha256" || fetch+=("$package/bookworm")
done
if [ ${#fetch[@]} -gt 0 ]; then
  echo "Fetching the sources of ${fetch[*]} (apt-get source --download-only)"
  # From bookworm's entry, whatever other releases apt knows. apt also
  # fetches each package's Debian part, which is not needed; a failure there
  # does not matter once the tarball is here and checked.
  (cd "$sources" && apt-get source --download-only -q "${fetch[@]}") >"$logs/sources.log" 2>&1 || true
  for entry in "${libraries[@]}"; do
    IFS='|' read -r name package tarball sha256 _ _ <<<"$entry"
    if [ ! -f "$sources/$tarball" ]; then
      cat "$logs/sources.log" >&2
      echo "build-windows-libs.sh: apt did not fetch $tarball (source package $package, above)." >&2
      echo "Debian 12's source packages come from a deb-src entry: scripts/install-windows-deps.sh adds it." >&2
      exit 1
    fi
    if ! checked "$tarball" "$sha256"; then
      echo "build-windows-libs.sh: $sources/$tarball is not the pinned one (SHA-256 $sha256)." >&2
      echo "This recipe is for Debian 12's version; a newer one needs its checksum checked and written here." >&2
      exit 1
    fi
  done
fi

# A fresh stage; the prefix is replaced only when everything was built.
stage=$out/stage
work=$out/work
rm -rf "$stage" "$work"
mkdir -p "$stage/include" "$stage/lib/pkgconfig" "$stage/licenses" "$work"

unpack() {
  local entry
  for entry in "${libraries[@]}"; do
    IFS='|' read -r name _ tarball _ dir licence <<<"$entry"
    if [ "$name" = "$1" ]; then
      tar -xf "$sources/$tarball" -C "$work"
      cp "$work/$dir/$licence" "$stage/licenses/$name.txt"
      echo "$work/$dir"
    fi
  done
}

# Runs "$@" with its output in logs/<name>.log, shown if it fails.
logged() {
  local name=$1
  shift
  if ! "$@" >>"$logs/$name.log" 2>&1; then
    cat "$logs/$name.log" >&2
    echo "build-windows-libs.sh: building $name failed (log: $logs/$name.log)." >&2
    exit 1
  fi
}

# zlib: Debian's tarball leaves out win32/ (its Makefile and resource file),
# so its sources are compiled and archived here, as win32/Makefile.gcc does.
build_zlib() {
  local src objects=() file
  src=$(unpack zlib)
  for file in "$src"/*.c; do
    logged zlib "$cc" -O2 -Wall -c "$file" -o "$work/zlib-$(basename "$file" .c).o"
    objects+=("$work/zlib-$(basename "$file" .c).o")
  done
  logged zlib "$triplet-ar" rcs "$stage/lib/libz.a" "${objects[@]}"
  cp "$src/zlib.h" "$src/zconf.h" "$stage/include/"
  cat >"$stage/lib/pkgconfig/zlib.pc" <<PC
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: zlib
Description: zlib compression library
Version: 1.2.13
Libs: -L\${libdir} -lz
Cflags: -I\${includedir}
PC
}

# libpng and cfitsio: their own CMake, our toolchain file, against the zlib
# just built.
cmake_build() {
  local name=$1 src
  shift
  src=$(unpack "$name")
  logged "$name" cmake -S "$src" -B "$work/$name-build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DTARNSCSI_MINGW_THREADS=posix -DTARNSCSI_WIN32_LIBS="$stage" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$stage" \
    -DZLIB_INCLUDE_DIR="$stage/include" -DZLIB_LIBRARY="$stage/lib/libz.a" "$@"
  logged "$name" cmake --build "$work/$name-build" -j "$jobs"
  logged "$name" cmake --install "$work/$name-build"
}

rm -f "$logs"/{zlib,libpng,cfitsio}.log
start=$SECONDS
echo "Building the imaging libraries for Windows ($cc, $jobs jobs): zlib, libpng, cfitsio"
times=()
timed() {
  local begin=$SECONDS
  "$@"
  times+=("$2 $((SECONDS - begin)) s")
}
timed build_zlib zlib
# Static only, no programs or tests; the SSE2 filters are for reading only,
# and would need -msse2.
timed cmake_build libpng -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF \
  -DPNG_HARDWARE_OPTIMIZATIONS=OFF
# Static, no remote files over curl, and thread-safe as Debian's is
# (fits_is_reentrant() 1): the Alpaca server writes FITS answers on any of
# its workers, and cfitsio's file table and error stack are shared. The
# posix-model compiler defines _REENTRANT itself, which alone gave cfitsio
# its locks (winpthreads' mutexes, linked in); USE_PTHREADS asks for them
# rather than leaving them to the compiler's default.
timed cmake_build cfitsio -DBUILD_SHARED_LIBS=OFF -DUSE_CURL=OFF -DUSE_PTHREADS=ON -DTESTS=OFF -DUTILS=OFF

# The paths the .pc, CMake and config files name are the prefix's, not the
# stage's.
grep -rlIF "$stage" "$stage" | while read -r file; do sed -i "s|$stage|$prefix|g" "$file"; done
wanted >"$stage/BUILT"
rm -rf "$prefix"
mv "$stage" "$prefix"
rm -rf "$work"
echo "Built in $((SECONDS - start)) s ($(printf '%s, ' "${times[@]}" | sed 's/, $//')) into $prefix:"
for library in "$prefix"/lib/*.a; do
  [ -L "$library" ] || echo "  $(basename "$library"): $(($(stat -c %s "$library") / 1024)) KiB"
done
