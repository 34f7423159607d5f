#!/usr/bin/env bash
# The platform's tests, built against Windows' headers, run in a fresh Wine prefix: every case
# but those listed in EXCLUSIONS (Wine's own departures from Windows, each with its reason).
# Usage: tests/platform/windows/run_wine.sh TEST_EXE [AMD64|X86] EXCLUSIONS
set -u -o pipefail

here=$(cd "$(dirname "$0")" && pwd)
exe=${1:?usage: run_wine.sh TEST_EXE [AMD64|X86] EXCLUSIONS}
processor=${2:-AMD64}
exclusions=${3:?usage: run_wine.sh TEST_EXE [AMD64|X86] EXCLUSIONS}
wineserver=${WINESERVER:-wineserver}

# shellcheck source=tests/wine/wine_common.sh
. "$here/../../wine/wine_common.sh"

select_wine "$processor"
new_prefix quorvex-platform-wine
timeout 300 "$wine" wineboot --init >/dev/null 2>&1
timeout 300 "$wineserver" -w

# The names of the excluded cases, the first word of each line that is not a comment.
filter=$(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$exclusions" | awk '{print $1}' | paste -sd:)
timeout 540 "$wine" "$exe" ${filter:+--gtest_filter="-$filter"} 2>&1 | tr -d '\r'
