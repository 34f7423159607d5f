#!/usr/bin/env bash
# package_test.sh BUILD_DIR SOURCE_DIR WORK_DIR VERSION: makes the Debian package, checks its files and
# dependencies, unpacks it into a scratch root and runs the tool from its usr/bin there.
set -euo pipefail
build=$1 source=$2 work=$3 version=$4
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work" >/dev/null
debs=("$work"/quorvex_*_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "no single quorvex_*.deb in $work"
deb=${debs[0]}

[ "$(dpkg-deb -f "$deb" Package)" = quorvex ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version: $(dpkg-deb -f "$deb" Version)"
[[ "$(basename "$deb")" == "quorvex_${version}_"*.deb ]] || fail "file name $(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libjpeg62-turbo liblcms2-2 libgs-common libavif libffi8 libstdc++6 libc6; do
  [[ "$depends" == *"$library"* ]] || fail "Depends ($depends) lacks $library"
done

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in ./usr/bin/quorvex ./usr/bin/quorvex-serve ./usr/lib/quorvex/Quorvex.so ./usr/lib/libquorvexplatform.so.1 \
  ./usr/lib/libquorvexinterface.a ./usr/include/quorvex/Quorvex_h.h \
  ./usr/include/quorvex/platform/winapi.h ./usr/lib/pkgconfig/quorvex.pc \
  ./usr/lib/cmake/Quorvex/QuorvexConfig.cmake ./usr/share/doc/quorvex/LICENSE \
  ./usr/share/doc/quorvex/examples/nginx/quorvex.conf \
  ./usr/share/doc/quorvex/examples/systemd/quorvex@.service; do
  grep -q -x -F "$file" <<<"$contents" || fail "$file is not in the package"
done

dpkg-deb -x "$deb" "$work/root"
grep -q -F "ExecStart=/usr/bin/quorvex serve " "$work/root/usr/share/doc/quorvex/examples/systemd/quorvex@.service" ||
  fail "the systemd example does not run /usr/bin/quorvex"
tool=$work/root/usr/bin/quorvex
env -u QUORVEX_MODULE "$tool" convert "$work/root/usr/share/doc/quorvex/samples/two-wings.jpg" \
  "$work/thumb.jpg" --box 200x200 --quality 85
got=$(env -u QUORVEX_MODULE "$tool" info "$work/thumb.jpg")
[ "$got" = "$work/thumb.jpg: 200x125 dpi=72 gray=0 quality=85 orientation=1 bytes=$(stat -c %s "$work/thumb.jpg")" ] || fail "info printed '$got'"
# The web host runs from the unpacked tree, handed over by the tool.
env -u QUORVEX_MODULE "$tool" serve --help | grep -q -e "--max-pixels" || fail "quorvex serve --help"
echo "package: $(basename "$deb"), Depends: $depends"
