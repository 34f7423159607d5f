#!/usr/bin/env bash
# zlib, libpng and libwebp (with its muxer) for the Windows DLL's WebP and PNG output: static
# libraries cross-compiled with MinGW-w64 from Debian's own source packages, the releases the
# native build links. Runs after build-windows-jpeg.sh, which adds the source entries. Cached:
#   CACHE/src/PACKAGE-VERSION/   the unpacked sources (shared by both targets)
#   CACHE/ARCH/lib/*.a, CACHE/ARCH/include/, CACHE/ARCH/licences/, CACHE/ARCH/version
# and a second run for the same Debian versions does nothing.
# Usage: scripts/build-windows-formats.sh x86_64|i686 CACHE
set -euo pipefail

# shellcheck source=scripts/windows-library-common.sh
. "$(dirname "$0")/windows-library-common.sh"
windows_target build-windows-formats.sh "$@"

declare -A versions=(
  [zlib]=$(source_version zlib1g)
  [libpng1.6]=$(source_version libpng16-16)
  [libwebp]=$(source_version libwebp7)
)
stamp=$(for p in zlib libpng1.6 libwebp; do echo "$p=${versions[$p]}"; done)
if [ -f "$prefix/lib/libwebpmux.a" ] && [ "$(cat "$prefix/version" 2>/dev/null)" == "$stamp" ]; then
  exit 0
fi

# Unpacks a source package once and prints its directory.
unpacked() {
  local package=$1 version=${versions[$1]}
  local dir="$cache/src/$package-${version#*:}"
  if [ -z "$(find "$dir" -mindepth 2 -maxdepth 2 -name CMakeLists.txt -print -quit 2>/dev/null)" ]; then
    fetch_source "$package" "$version" "$dir"
  fi
  local found
  found=$(find "$dir" -mindepth 2 -maxdepth 2 -name CMakeLists.txt -print -quit)
  if [ -z "$found" ]; then
    echo "build-windows-formats.sh: no source of $package" >&2
    exit 1
  fi
  dirname "$found"
}

toolchain=(
  -G Ninja
  -DCMAKE_SYSTEM_NAME=Windows
  -DCMAKE_SYSTEM_PROCESSOR="$processor"
  -DCMAKE_C_COMPILER="$arch-w64-mingw32-gcc-posix"
  -DCMAKE_CXX_COMPILER="$arch-w64-mingw32-g++-posix"
  -DCMAKE_RC_COMPILER="$arch-w64-mingw32-windres"
  -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG"
  -DCMAKE_INSTALL_PREFIX="$prefix"
  -DCMAKE_FIND_ROOT_PATH="$prefix"
)

rm -rf "$prefix"
mkdir -p "$prefix/lib" "$prefix/include" "$prefix/licences"

# zlib: the static library only.
src=$(unpacked zlib)
build="$cache/$arch-build-zlib"
rm -rf "$build"
cmake -S "$src" -B "$build" "${toolchain[@]}" >/dev/null
cmake --build "$build" --target zlibstatic -j 2
cp "$build"/libzlibstatic.a "$prefix/lib/libz.a" 2>/dev/null || cp "$build"/libz.a "$prefix/lib/libz.a"
cp "$src/zlib.h" "$build/zconf.h" "$prefix/include/"
cp "$src/debian/copyright" "$prefix/licences/zlib-debian-copyright"

# libpng: static, against that zlib, without its tools and tests.
src=$(unpacked libpng1.6)
build="$cache/$arch-build-png"
rm -rf "$build"
cmake -S "$src" -B "$build" "${toolchain[@]}" \
  -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include" \
  -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF >/dev/null
cmake --build "$build" --target png_static -j 2
cp "$(find "$build" -maxdepth 1 -name 'libpng*.a' | head -1)" "$prefix/lib/libpng.a"
cp "$src/png.h" "$src/pngconf.h" "$build/pnglibconf.h" "$prefix/include/"
cp "$src/LICENSE" "$prefix/licences/libpng-LICENSE"

# libwebp: the encoder and the muxer, no tools; its SIMD paths are picked at run time.
src=$(unpacked libwebp)
build="$cache/$arch-build-webp"
rm -rf "$build"
cmake -S "$src" -B "$build" "${toolchain[@]}" -DBUILD_SHARED_LIBS=OFF \
  -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF -DWEBP_BUILD_DWEBP=OFF \
  -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF \
  -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF \
  -DWEBP_BUILD_LIBWEBPMUX=ON >/dev/null
cmake --build "$build" --target webp libwebpmux -j 2
cp "$build/libwebp.a" "$build/libwebpmux.a" "$prefix/lib/"
mkdir -p "$prefix/include/webp"
cp "$src"/src/webp/encode.h "$src"/src/webp/mux.h "$src"/src/webp/mux_types.h \
  "$src"/src/webp/types.h "$prefix/include/webp/"
cp "$src/COPYING" "$prefix/licences/libwebp-COPYING"
cp "$src/PATENTS" "$prefix/licences/libwebp-PATENTS"

echo "$stamp" >"$prefix/version"
echo "zlib, libpng and libwebp for $arch-w64-mingw32: $prefix/lib"
