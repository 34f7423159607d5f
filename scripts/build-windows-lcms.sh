#!/usr/bin/env bash
# lcms2 for the Windows DLL's conversion to sRGB: a static library cross-compiled with MinGW-w64
# from Debian's own source package, the release the native build links. Runs after
# build-windows-jpeg.sh, which adds the source entries. Cached:
#   CACHE/src/lcms2-VERSION/                     the unpacked source (shared by both targets)
#   CACHE/ARCH/lib/liblcms2.a, CACHE/ARCH/include/lcms2.h and lcms2_plugin.h (the component gives
#   the library its own memory handler), CACHE/ARCH/licences/, CACHE/ARCH/version
# and a second run for the same Debian version does nothing.
# Usage: scripts/build-windows-lcms.sh x86_64|i686 CACHE
set -euo pipefail

# shellcheck source=scripts/windows-library-common.sh
. "$(dirname "$0")/windows-library-common.sh"
windows_target build-windows-lcms.sh "$@"
version=$(source_version liblcms2-2)
stamp="lcms2=$version"
if [ -f "$prefix/lib/liblcms2.a" ] && [ -f "$prefix/include/lcms2_plugin.h" ] &&
  [ "$(cat "$prefix/version" 2>/dev/null)" == "$stamp" ]; then
  exit 0
fi

# The source once.
dir="$cache/src/lcms2-${version#*:}"
if [ -z "$(find "$dir" -mindepth 3 -maxdepth 3 -name lcms2.h -path '*/include/*' -print -quit 2>/dev/null)" ]; then
  fetch_source lcms2 "$version" "$dir"
fi
header=$(find "$dir" -mindepth 3 -maxdepth 3 -name lcms2.h -path '*/include/*' -print -quit)
if [ -z "$header" ]; then
  echo "build-windows-lcms.sh: no source of lcms2" >&2
  exit 1
fi
src=$(dirname "$(dirname "$header")")

# Plain C without configuration: every source file of the library, one archive.
build="$cache/$arch-build-lcms2"
rm -rf "$build" "$prefix/lib/liblcms2.a"
mkdir -p "$build" "$prefix/lib" "$prefix/include" "$prefix/licences"
for file in "$src"/src/*.c; do
  "$arch-w64-mingw32-gcc-posix" -O2 -DNDEBUG -I"$src/include" -c "$file" \
    -o "$build/$(basename "${file%.c}").o"
done
"$arch-w64-mingw32-ar" rcs "$prefix/lib/liblcms2.a" "$build"/*.o
cp "$src/include/lcms2.h" "$src/include/lcms2_plugin.h" "$prefix/include/"
cp "$src/COPYING" "$prefix/licences/lcms2-COPYING" 2>/dev/null ||
  cp "$src/LICENSE" "$prefix/licences/lcms2-LICENSE"
echo "$stamp" >"$prefix/version"
echo "lcms2 for $arch-w64-mingw32: $prefix/lib"
