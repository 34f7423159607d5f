# Set-up shared by the Wine test scripts, sourced after they set wineserver: counting that ends
# with the line "N passed, M failed", the Wine loader of a processor, a fresh prefix in a scratch
# folder that goes away on exit, Windows paths of Linux files, and stages run in Wine.

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() {
  failed=$((failed + 1))
  echo "FAIL $*"
}
expect() {  # name actual expected
  if [ "$2" == "$3" ]; then pass; else fail "$1: got [$2], expected [$3]"; fi
}
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}

# Sets wine to the loader for AMD64 or X86. Wine's 64-bit loader runs the 64-bit system programs
# (regsvr32, reg, cscript) that load a 64-bit DLL; its 32-bit loader runs the 32-bit ones, as a
# 32-bit worker process on 64-bit Windows does, with the registry's 32-bit view.
select_wine() {
  case "$1" in
    AMD64) wine=${WINE:-/usr/lib/wine/wine64} ;;
    X86) wine=${WINE:-/usr/lib/wine/wine} ;;
    *) fail "unknown processor $1"; finish ;;
  esac
}

# Sets scratch to a new folder named after $1 and WINEPREFIX to a 64-bit prefix inside it; both
# are removed, and the prefix's wine server stopped, when the script exits.
new_prefix() {
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  export WINEPREFIX="$scratch/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  trap remove_prefix EXIT
}
remove_prefix() {
  "$wineserver" -k >/dev/null 2>&1
  rm -rf "$scratch"
}

# Wine reaches the whole file system as drive Z:.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Runs one stage that ends with "N passed, M failed" and adds its counts.
stage() {
  local title=$1 output status summary stage_passed stage_failed
  shift
  echo "== $title"
  output=$("$@" 2>&1 | tr -d '\r')
  status=$?
  [ -n "$output" ] && printf '%s\n' "$output"
  summary=$(printf '%s\n' "$output" | tail -n 1 | grep -E '^[0-9]+ passed, [0-9]+ failed$')
  if [ -z "$summary" ]; then
    fail "$title: no closing \"N passed, M failed\" line (the stage died; exit status $status)"
    return
  fi
  stage_passed=${summary%% passed*}
  stage_failed=${summary#*, }
  stage_failed=${stage_failed%% failed}
  passed=$((passed + stage_passed))
  failed=$((failed + stage_failed))
  if [ "$stage_failed" -eq 0 ] && [ "$status" -ne 0 ]; then
    fail "$title: exit status $status"
  fi
}

