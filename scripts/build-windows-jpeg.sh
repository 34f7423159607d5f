#!/usr/bin/env bash
# libjpeg-turbo for the Windows DLL: a static library cross-compiled with MinGW-w64 from Debian's
# own source package, the same release (and Debian patches) as the libjpeg62-turbo the native
# build links, built with the same SIMD code. The result is cached:
#   CACHE/src/DEBIAN-VERSION/libjpeg-turbo-VERSION/   the unpacked source (shared by both targets)
#   CACHE/ARCH/lib/libjpeg.a, CACHE/ARCH/include/*.h, CACHE/ARCH/licences/, CACHE/ARCH/version
# and a second run for the same Debian version does nothing.
# Usage: scripts/build-windows-jpeg.sh x86_64|i686 CACHE
# Fetching the source needs a deb-src entry; when there is none, one is added for the installed
# Debian release (as root, or through sudo) and the package lists are updated.
set -euo pipefail

# shellcheck source=scripts/windows-library-common.sh
. "$(dirname "$0")/windows-library-common.sh"
windows_target build-windows-jpeg.sh "$@"

# The release the native build links against.
version=$(source_version libjpeg62-turbo)
if [ -f "$prefix/lib/libjpeg.a" ] && [ "$(cat "$prefix/version" 2>/dev/null)" == "$version" ]; then
  exit 0
fi
upstream=${version#*:}
upstream=${upstream%-*}
srcdir="$cache/src/${version#*:}"
src="$srcdir/libjpeg-turbo-$upstream"

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

if [ ! -f "$src/CMakeLists.txt" ]; then
  if ! apt-get source --print-uris --only-source "libjpeg-turbo=$version" >/dev/null 2>&1; then
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "Adding the Debian source entries for $codename"
    "${sudo[@]}" tee /etc/apt/sources.list.d/debian-sources.sources >/dev/null <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename $codename-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    # A mirror caught mid-sync fails the update for a while; the source entries may have arrived
    # all the same, and apt-get source below says plainly if they did not.
    for attempt in 1 2 3; do
      "${sudo[@]}" apt-get update -o DPkg::Lock::Timeout=300 && break
      [ "$attempt" -lt 3 ] && sleep 20
    done
  fi
  rm -rf "$cache/src"
  mkdir -p "$srcdir"
  # Unpacking applies Debian's patches: the library built is the one Debian ships.
  (cd "$srcdir" && apt-get source --only-source "libjpeg-turbo=$version")
fi

# Debian's settings: its -O2, SIMD on, the defaults otherwise (libjpeg 6.2 interface, arithmetic
# coding). nasm assembles the SIMD code, which picks its paths at run time by the
# processor's features, as on Linux.
build="$cache/$arch-build"
rm -rf "$build"
cmake -S "$src" -B "$build" -G Ninja \
  -DCMAKE_SYSTEM_NAME=Windows \
  -DCMAKE_SYSTEM_PROCESSOR="$processor" \
  -DCMAKE_C_COMPILER="$arch-w64-mingw32-gcc-posix" \
  -DCMAKE_RC_COMPILER="$arch-w64-mingw32-windres" \
  -DCMAKE_ASM_NASM_COMPILER=nasm \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=ON \
  -DREQUIRE_SIMD=ON >/dev/null
cmake --build "$build" --target jpeg-static -j 2

rm -rf "$prefix"
mkdir -p "$prefix/lib" "$prefix/include" "$prefix/licences"
cp "$build/libjpeg.a" "$prefix/lib/"
cp "$src/jpeglib.h" "$src/jmorecfg.h" "$src/jerror.h" "$build/jconfig.h" "$prefix/include/"
cp "$src/LICENSE.md" "$prefix/licences/libjpeg-turbo-LICENSE.md"
cp "$src/README.ijg" "$prefix/licences/libjpeg-turbo-README.ijg"
cp "$src/debian/copyright" "$prefix/licences/libjpeg-turbo-debian-copyright"
echo "$version" >"$prefix/version"
echo "libjpeg-turbo $version for $arch-w64-mingw32: $prefix/lib/libjpeg.a"
