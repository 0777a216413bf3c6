#!/usr/bin/env bash
# `make large`: the native and Wine tests marked large (TVSFX_LARGE=1), with their timings.
# LARGE_WINE=32emu runs the Wine ones on the real 32-bit stub under the i386 emulator instead,
# as `make test32` does. Extra arguments go to pytest.
set -uo pipefail
cd "$(dirname "$0")/.."
export TVSFX_LARGE=1
status=0
wine_tests=(tests/wine -m large -s -p no:cacheprovider "$@")
if [ "${LARGE_WINE:-}" = 32emu ]; then
  bash scripts/i386-emulator.sh fetch && bash scripts/i386-emulator.sh check || exit 1
  bash scripts/i386-emulator.sh run env TVSFX_WINE=32emu TVSFX_LARGE=1 \
    /usr/bin/python3 -m pytest "${wine_tests[@]}" </dev/null || status=1
  exit $status
fi
echo "== large unit tests (ctest)"
ctest --test-dir build/host --output-on-failure -R 'FileOver4GiB|MoreThan65535' || status=1
echo "== large Wine tests (pytest)"
/usr/bin/python3 -m pytest "${wine_tests[@]}" </dev/null || status=1
exit $status
