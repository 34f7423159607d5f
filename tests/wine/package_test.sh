#!/usr/bin/env bash
# The zip package as a user receives it: made with cpack, unpacked, its files listed, the DLL
# registered with regsvr32 from the unpacked folder in a fresh Wine prefix, an object created
# there by a script, and the DLL unregistered again.
# Usage: QUORVEX_VERSION=X.Y.Z.W tests/wine/package_test.sh BUILD_DIR AMD64|X86      The last line is "N passed, M failed".
set -u -o pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: package_test.sh BUILD_DIR AMD64|X86}" && pwd)
processor=${2:?usage: package_test.sh BUILD_DIR AMD64|X86}
wineserver=${WINESERVER:-wineserver}
# shellcheck source=tests/wine/wine_common.sh
. "$here/wine_common.sh"
select_wine "$processor"
new_prefix quorvex-package
suffix=$([ "$processor" = X86 ] && echo win32 || echo win64)

version=${QUORVEX_VERSION:?QUORVEX_VERSION must name the project version}
name=quorvex-$version-$suffix
cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  cat "$scratch/cpack.log"
expect "the package" "$(cd "$scratch/out" && ls ./*.zip 2>/dev/null)" "./$name.zip"
[ -f "$scratch/out/$name.zip" ] || finish
mkdir "$scratch/unpacked"
(cd "$scratch/unpacked" && cmake -E tar xf "$scratch/out/$name.zip")
top="$scratch/unpacked/$name"
for file in Quorvex.dll Quorvex.tlb README-Windows.txt licences/libjpeg-turbo-LICENSE.md \
  licences/libjpeg-turbo-README.ijg licences/gcc-runtime-library-copyright.txt \
  licences/mingw-w64-winpthreads-copyright.txt; do
  expect "$file in the package" "$([ -s "$top/$file" ] && echo yes)" yes
done
expect "the GCC runtime library exception" \
  "$(grep -c 'GCC RUNTIME LIBRARY EXCEPTION' "$top/licences/gcc-runtime-library-copyright.txt")" 1
expect "the winpthreads licence" \
  "$(grep -c 'winpthreads' "$top/licences/mingw-w64-winpthreads-copyright.txt" | sed 's/^[1-9][0-9]*$/found/')" found
expect "the IJG notice" \
  "$(grep -c 'Independent JPEG Group' "$top/licences/libjpeg-turbo-README.ijg" | sed 's/^[1-9][0-9]*$/found/')" found
expect "README-Windows.txt is for Windows (CRLF)" "$(head -n 1 "$top/README-Windows.txt" | od -An -c | grep -c '\\r')" 1

timeout 300 "$wine" wineboot --init >/dev/null 2>&1
timeout 300 "$wineserver" -w
module=$(winpath "$top/Quorvex.dll")
timeout 300 "$wine" regsvr32 /s "$module" >/dev/null 2>&1
expect "regsvr32 from the unpacked package" "$?" 0
inproc=$(timeout 300 "$wine" reg query \
  'HKCR\CLSID\{77925133-6C73-401E-B954-9CDFD1BCB3BE}\InprocServer32' /ve 2>/dev/null |
  tr -d '\r' | sed -n 's/.*REG_SZ *//p')
expect "InprocServer32" "$inproc" "$module"

stage "package_check.vbs" timeout 300 "$wine" cscript //nologo "$(winpath "$here/package_check.vbs")" \
  "$(winpath "$here/../../samples/two-wings.jpg")" "$(winpath "$scratch/thumbnail.jpg")" "$version"
expect "the thumbnail written" "$([ -s "$scratch/thumbnail.jpg" ] && echo yes)" yes

timeout 300 "$wine" regsvr32 /s /u "$module" >/dev/null 2>&1
expect "regsvr32 /u" "$?" 0
timeout 300 "$wine" reg query 'HKCR\Quorvex.Resize' >/dev/null 2>&1
expect "the ProgID removed" "$?" 1

finish
