#!/usr/bin/env bash
# The Windows DLL as objdump sees it: a PE32+ (x64) or PE32 (x86) file that exports exactly the
# four entry points of an in-process server and imports only Windows system libraries, so that
# it needs nothing installed beside it.
# Usage: check_pe.sh OBJDUMP DLL AMD64|X86      The last line is "N passed, M failed".
set -u -o pipefail

objdump=${1:?usage: check_pe.sh OBJDUMP DLL AMD64|X86}
dll=${2:?usage: check_pe.sh OBJDUMP DLL AMD64|X86}
processor=${3:?usage: check_pe.sh OBJDUMP DLL AMD64|X86}

passed=0
failed=0
expect() {  # name actual expected
  if [ "$2" == "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL %s:\n  got      [%s]\n  expected [%s]\n' "$1" "$2" "$3"
  fi
}

headers=$("$objdump" -p "$dll") || {
  echo "FAIL objdump -p $dll"
  echo "0 passed, 1 failed"
  exit 1
}

case "$processor" in
  AMD64) format=pei-x86-64 magic=020b ;;
  X86) format=pei-i386 magic=010b ;;
esac
expect "file format" "$(sed -n 's/.*file format //p' <<<"$headers" | head -n 1)" "$format"
expect "optional header magic" "$(awk '$1 == "Magic" {print $2}' <<<"$headers")" "$magic"
# A DLL (0x2000 in the characteristics).
characteristics=$(awk '$1 == "Characteristics" {print $2; exit}' <<<"$headers")
characteristics=0x${characteristics#0x}
expect "a DLL" "$(((characteristics & 0x2000) != 0))" 1

exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
  sed -n 's/^\s*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
expect "exports" "$exports" "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer "

# Libraries every Windows installation has; the C runtime is the system's msvcrt.
system='^(KERNEL32|ADVAPI32|ole32|OLEAUT32|msvcrt|USER32|GDI32)\.dll$'
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | sort -f | tr '\n' ' ')
echo "imports: $imports"
unexpected=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | grep -Eiv "$system" | tr '\n' ' ')
expect "libraries imported that are not part of Windows" "$unexpected" ""
for needed in KERNEL32.dll ole32.dll OLEAUT32.dll ADVAPI32.dll; do
  expect "imports $needed" "$(grep -ic "DLL Name: $needed" <<<"$headers")" 1
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
