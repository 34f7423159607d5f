#!/usr/bin/env bash
# install_test.sh BUILD_DIR SOURCE_DIR WORK_DIR: installs the build into a staging prefix, builds
# a client against it with pkg-config and another with find_package, then moves the prefix away
# and runs the installed tool from there, with no path into the build tree to fall back on.
set -euo pipefail
build=$1 source=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
stage=$work/stage
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$stage" >/dev/null
for file in "$stage"/bin/quorvex "$stage"/lib/quorvex/Quorvex.so "$stage"/lib/libquorvexplatform.so.1; do
  [ -f "$file" ] || fail "$file is not installed"
  ! grep -q -F "$build" "$file" || fail "$file names the build tree"
done
[ -f "$stage/include/quorvex/Quorvex_h.h" ] || fail "the interface header is not installed"
[ -f "$stage/include/quorvex/platform/winapi.h" ] || fail "the platform headers are not installed"
# The deployment files come as examples; the unit runs the tool this tree installed.
examples=$stage/share/doc/quorvex/examples
[ -f "$examples/nginx/quorvex.conf" ] || fail "the nginx example is not installed"
grep -q -F "ExecStart=$stage/bin/quorvex serve " "$examples/systemd/quorvex@.service" ||
  fail "the systemd example does not run $stage/bin/quorvex"

expected="quality=100 version=$("$build/tools/quorvex" --version)"

# A client built with pkg-config.
export PKG_CONFIG_PATH=$stage/lib/pkgconfig
cc -Wall -Wextra -Werror -o "$work/pkgconfig_client" "$source/tests/install/consumer/client.c" \
  $(pkg-config --cflags --libs quorvex) -Wl,-rpath,"$(pkg-config --variable=libdir quorvex)"
got=$("$work/pkgconfig_client" "$(pkg-config --variable=moduledir quorvex)/Quorvex.so")
[ "$got" = "$expected" ] || fail "pkg-config client printed '$got', expected '$expected'"

# A client built with find_package(Quorvex).
cmake -S "$source/tests/install/consumer" -B "$work/cmake_client" -DCMAKE_PREFIX_PATH="$stage" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/cmake_client" >/dev/null
got=$("$work/cmake_client/client")
[ "$got" = "$expected" ] || fail "find_package client printed '$got', expected '$expected'"

# The installed tool, moved: it finds its runtime and module relative to itself.
mv "$stage" "$work/moved"
tool=$work/moved/bin/quorvex
[ "$(env -u QUORVEX_MODULE -u LD_LIBRARY_PATH "$tool" --version)" = "$("$build/tools/quorvex" --version)" ] ||
  fail "the installed tool's --version"
env -u QUORVEX_MODULE -u LD_LIBRARY_PATH "$tool" convert "$source/samples/two-wings.jpg" \
  "$work/thumb.jpg" --box 200x200 --quality 85
got=$(env -u QUORVEX_MODULE "$tool" info "$work/thumb.jpg")
size=$(stat -c %s "$work/thumb.jpg")
[ "$got" = "$work/thumb.jpg: 200x125 dpi=72 gray=0 quality=85 orientation=1 bytes=$size" ] ||
  fail "info printed '$got'"
# QUORVEX_MODULE still names the module.
if QUORVEX_MODULE=$work/none/Quorvex.so "$tool" info "$work/thumb.jpg" 2>/dev/null; then
  fail "QUORVEX_MODULE was not used"
fi
echo "install: pkg-config and find_package clients, moved tool: ok"
