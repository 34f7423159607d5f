#!/usr/bin/env bash
# The Wine acceptance suite of the Windows DLL, in a fresh Wine prefix of the DLL's width:
# registration with regsvr32 (the eight registry entries, a module path with a blank in it,
# unregistration), the VBScript and JScript pages under cscript, the files they saved read back
# with Pillow, the compiled client, and the JPEG bytes compared with the native build's.
# Usage: QUORVEX_VERSION=X.Y.Z.W tests/wine/run.sh DLL CLIENT_EXE [AMD64|X86]
#   QUORVEX_NATIVE_TOOL  the native build's tools/quorvex, whose output the DLL's must equal
# cscript exits 0 even when a script dies, so every stage must end with its own
# "N passed, M failed" line and M = 0. The last line here is the same count over all stages.
set -u -o pipefail

here=$(cd "$(dirname "$0")" && pwd)
dll=${1:?usage: run.sh DLL CLIENT_EXE [AMD64|X86]}
client=${2:?usage: run.sh DLL CLIENT_EXE [AMD64|X86]}
# The project's version, which the scripts expect the object to report.
version=${QUORVEX_VERSION:?QUORVEX_VERSION must name the project version}
processor=${3:-AMD64}
native_tool=${QUORVEX_NATIVE_TOOL:-}
wineserver=${WINESERVER:-wineserver}
python=${PYTHON:-/usr/bin/python3}
[ -x "$python" ] || python=python3

# shellcheck source=tests/wine/wine_common.sh
. "$here/wine_common.sh"

for file in "$dll" "$client"; do
  if [ ! -f "$file" ]; then
    fail "missing $file: build the windows-x64 or windows-x86 preset first"
    finish
  fi
done
if [ -n "$native_tool" ] && [ ! -x "$native_tool" ]; then
  fail "missing $native_tool: build the release preset first"
  finish
fi

select_wine "$processor"
new_prefix quorvex-wine

# A bounded Wine command; output without carriage returns.
run_wine() { timeout 300 "$wine" "$@" 2>/dev/null | tr -d '\r'; }

regsvr32() {
  timeout 300 "$wine" regsvr32 /s "$@" >/dev/null 2>&1
}

# "wine reg query" with its output; sets reg_status. A query that printed neither the key nor
# reg's own error message did not run properly (the Wine process failed), and is tried again.
reg_query() {
  local attempt
  for attempt in 1 2 3; do
    reg_output=$(timeout 300 "$wine" reg query "$@" 2>"$scratch/reg.err" | tr -d '\r')
    reg_status=$?
    if grep -q '^HKEY_\|^reg: ' <<<"$reg_output" || grep -q '^reg: ' "$scratch/reg.err"; then
      return
    fi
    echo "(wine reg query $* printed nothing, attempt $attempt: $(tr -d '\r' <"$scratch/reg.err" | tail -n 1))" >&2
  done
}

# The REG_SZ data of a value ("" for the default one), or <none>.
reg_value() {
  local key=$1 name=$2 line
  if [ -z "$name" ]; then reg_query "HKCR\\$key" /ve; else reg_query "HKCR\\$key" /v "$name"; fi
  line=$(grep -m1 'REG_SZ' <<<"$reg_output")
  if [ -z "$line" ]; then echo "<none>"; else echo "${line#*REG_SZ    }"; fi
}

# The names of a key's sub-keys, sorted and joined with blanks.
reg_subkeys() {
  local key=$1
  reg_query "HKCR\\$key"
  grep -F "HKEY_CLASSES_ROOT\\$key\\" <<<"$reg_output" | sed 's/.*\\//' | sort | tr '\n' ' ' |
    sed 's/ $//'
}

reg_exists() {
  reg_query "HKCR\\$1"
  if [ "$reg_status" -eq 0 ]; then echo yes; else echo no; fi
}

echo "== Wine prefix"
timeout 300 "$wine" wineboot --init >/dev/null 2>&1
timeout 300 "$wineserver" -w
if [ -d "$WINEPREFIX/drive_c/windows" ]; then pass; else fail "wineboot made no prefix"; finish; fi

work="$scratch/work"
"$python" "$here/make_inputs.py" "$work" || fail "making the input files"
mkdir -p "$scratch/bin" "$scratch/with blank"
cp "$dll" "$scratch/bin/Quorvex.dll"
cp "$dll" "$scratch/with blank/Quorvex.dll"
module=$(winpath "$scratch/bin/Quorvex.dll")

clsid='{77925133-6C73-401E-B954-9CDFD1BCB3BE}'
libid='{FB2AD6CC-DA46-40D5-BB03-3123E4001744}'
class_key="CLSID\\$clsid"

echo "== registration"
regsvr32 /u "$module"
expect "unregistering a module never registered" "$?" 0
regsvr32 "$module"
expect "regsvr32" "$?" 0
expect "CLSID default" "$(reg_value "$class_key" "")" "Resize Object"
expect "InprocServer32 default" "$(reg_value "$class_key\\InprocServer32" "")" "$module"
expect "ThreadingModel" "$(reg_value "$class_key\\InprocServer32" ThreadingModel)" "Both"
expect "ProgID default" "$(reg_value "Quorvex.Resize" "")" "Resize Object"
expect "ProgID Clsid" "$(reg_value "Quorvex.Resize\\Clsid" "")" "$clsid"
expect "CLSID ProgID" "$(reg_value "$class_key\\ProgID" "")" "Quorvex.Resize"
expect "CLSID Version" "$(reg_value "$class_key\\Version" "")" "1.0"
expect "CLSID TypeLib" "$(reg_value "$class_key\\TypeLib" "")" "$libid"
expect "sub-keys of the class" "$(reg_subkeys "$class_key")" "InprocServer32 ProgID TypeLib Version"
expect "sub-keys of the ProgID" "$(reg_subkeys "Quorvex.Resize")" "Clsid"
expect "type library registered" "$(reg_exists "TypeLib\\$libid\\1.0")" yes

# A module path with a blank in it is registered in its short form, and objects are made from
# there.
blank_module=$(winpath "$scratch/with blank/Quorvex.dll")
regsvr32 "$blank_module"
expect "regsvr32 of a path with a blank" "$?" 0
short=$(reg_value "$class_key\\InprocServer32" "")
if [[ "$short" != *" "* && "$short" == *'~'* && "$short" == *'\Quorvex.dll' ]]; then
  pass
else
  fail "InprocServer32 of a path with a blank: got [$short], expected its short form"
fi
expect "the short form names the module" "$(run_wine winepath -u "$short")" \
  "$scratch/with blank/Quorvex.dll"
stage "an object of the module registered in short form" run_wine cscript //nologo \
  "$(winpath "$here/package_check.vbs")" "$(winpath "$work/photo_640x480.jpg")" \
  "$(winpath "$work/from_short_path.jpg")" "$version"
regsvr32 /u "$blank_module"
regsvr32 "$module"
expect "registering again" "$?" 0

stage "VBScript" run_wine cscript //nologo "$(winpath "$here/resize_suite.vbs")" "$(winpath "$work")" "$version"
stage "JScript" run_wine cscript //nologo "$(winpath "$here/resize_suite.js")" "$(winpath "$work")" "$version"
stage "files saved by the script pages, read by Pillow" "$python" "$here/check_outputs.py" "$work"
stage "compiled client" timeout 300 "$wine" "$client" "$(winpath "$work")" "$module"

# The DLL writes the same JPEG bytes as the native build for the same input and operations.
same_bytes() {
  local name input options count=0 same=0 differ=0
  mkdir -p "$scratch/from_dll" "$scratch/native"
  cp "$here/../../samples/two-wings.jpg" "$work/"
  run_wine cscript //nologo "$(winpath "$here/same_bytes.js")" \
    "$(winpath "$here/same_bytes_cases.txt")" "$(winpath "$work")" "$(winpath "$scratch/from_dll")" |
    grep -v '^[0-9]* passed, [0-9]* failed$'
  while read -r name input options; do
    [[ -z "$name" || "$name" == \#* ]] && continue
    count=$((count + 1))
    # shellcheck disable=SC2086 # the options are words
    if ! "$native_tool" convert "$work/$input" "$scratch/native/$name.jpg" $options; then
      echo "FAIL $name: the native tool failed"
    elif ! cmp -s "$scratch/native/$name.jpg" "$scratch/from_dll/$name.jpg"; then
      echo "FAIL $name: the DLL wrote other bytes than the native build" \
        "($(stat -c %s "$scratch/from_dll/$name.jpg" 2>/dev/null || echo no) bytes," \
        "native $(stat -c %s "$scratch/native/$name.jpg") bytes)"
    else
      same=$((same + 1))
    fi
  done <"$here/same_bytes_cases.txt"
  differ=$((count - same))
  [ "$count" -gt 0 ] || differ=1
  echo "$same passed, $differ failed"
}
if [ -n "$native_tool" ]; then
  stage "the same JPEG bytes as the native build" same_bytes
fi

echo "== unregistration"
regsvr32 /u "$module"
expect "regsvr32 /u" "$?" 0
expect "class key removed" "$(reg_exists "$class_key")" no
expect "ProgID removed" "$(reg_exists "Quorvex.Resize")" no
expect "type library unregistered" "$(reg_exists "TypeLib\\$libid")" no
regsvr32 /u "$module"
expect "unregistering twice" "$?" 0

finish
