#!/usr/bin/env bash
# Runs the end-to-end tests and the Wine tests against zelvrin.exe under Wine.
#
#   tests/wine/run.sh [END_TO_END_TEST [WINE_TEST]]
#
# END_TO_END_TEST is the native end-to-end test program (default
# build/release/tests/end_to_end_test), WINE_TEST the native Wine test program
# (default: wine/wine_test beside it). Builds the windows preset first when it
# has not been configured, else brings it up to date. Wine gets a fresh prefix
# of its own, removed at the end.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

end_to_end=${1:-build/release/tests/end_to_end_test}
wine_test=${2:-$(dirname "$end_to_end")/wine/wine_test}
for program in "$end_to_end" "$wine_test"; do
  if [ ! -x "$program" ]; then
    echo "run.sh: $program is not built (build the native tests first)" >&2
    exit 1
  fi
done

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/zelvrin-wine-XXXXXX")
export WINEPREFIX
export WINEDEBUG=-all
# Names with bytes past ASCII go through Wine's code pages; a UTF-8 locale
# lets the Unix side hold them.
export LC_ALL=C.UTF-8
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

echo "== Wine prefix $WINEPREFIX"
wineboot --init >/dev/null 2>&1
wineserver -w

echo "== Windows build"
if [ -f build/windows/build.ninja ]; then
  cmake --build --preset windows
else
  cmake --workflow --preset windows
fi
exe=$root/build/windows/tool/zelvrin.exe

export ZELVRIN_TEST_BINARY=$exe
export ZELVRIN_TEST_LAUNCHER=wine
export ZELVRIN_TEST_NEWLINE=crlf

status=0
echo "== end-to-end tests against $exe"
"$end_to_end" || status=1
echo "== Wine tests (name rules, bytes against the Linux build)"
"$wine_test" || status=1
exit $status
