# What the scripts that cross-compile a Debian library for the Windows DLL share: the target's
# arguments, the installed release whose source is built, and the source itself. Sourced by
# scripts/build-windows-*.sh, after `set -euo pipefail`.

# windows_target SCRIPT ARCH CACHE: sets arch, processor, cache (absolute) and prefix.
windows_target() {
  local script=$1
  arch=${2:?usage: $script x86_64|i686 CACHE}
  mkdir -p "${3:?usage: $script x86_64|i686 CACHE}"
  cache=$(cd "$3" && pwd)
  case "$arch" in
    x86_64) processor=AMD64 ;;
    i686) processor=X86 ;;
    *) echo "$script: unknown target $arch" >&2; exit 2 ;;
  esac
  prefix="$cache/$arch"
}

# The source release of an installed binary package of the host's architecture.
source_version() {
  local version
  version=$(dpkg-query -W -f='${source:Version}' "$1:$(dpkg --print-architecture)" 2>/dev/null || true)
  if [ -z "$version" ]; then
    echo "$1 is not installed; its source release is the one built" >&2
    exit 1
  fi
  echo "$version"
}

# fetch_source PACKAGE VERSION DIR: unpacks the source package into DIR, Debian's patches applied.
# A release the source index does not hold (a security update the index has not caught up with)
# falls back to the newest one it does, named in the output.
fetch_source() {
  local package=$1 version=$2 dir=$3
  rm -rf "$dir"
  mkdir -p "$dir"
  if ! (cd "$dir" && apt-get source --only-source "$package=$version" >&2); then
    echo "$package $version has no source here; building the newest there is" >&2
    (cd "$dir" && apt-get source --only-source "$package" >&2)
  fi
}
