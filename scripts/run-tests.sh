#!/usr/bin/env bash
# Runs every test: the native unit tests (CTest) and the Wine end-to-end tests (pytest).
# Both always run; the exit status is non-zero when either failed.
# Extra arguments go to pytest, e.g. scripts/run-tests.sh -k floppy
set -uo pipefail
cd "$(dirname "$0")/.."

status=0

echo "== unit tests (ctest)"
ctest --test-dir build/host --output-on-failure || status=1

echo "== Wine tests (pytest)"
# A machine whose kernel runs no 32-bit programs cannot run the stub under Wine. The Wine tests
# then run the x86-64 build of the same sources under 64-bit Wine, and this says so loudly.
source scripts/wine-choice.sh
choose_wine || status=1
if [ "$wine_kind" = 64 ]; then
  echo "!! Wine cannot run 32-bit programs on this machine ('wine --version' fails): the Wine"
  echo "!! tests run the x86-64 build of the stub (build/wine64) under 64-bit Wine instead."
fi
# Debian's interpreter: python3-pytest is installed for /usr/bin/python3, not for others on PATH.
/usr/bin/python3 -m pytest tests/wine -p no:cacheprovider "$@" </dev/null || status=1

exit $status
