#!/usr/bin/env bash
# Runs every test: the native unit tests (CTest) and the Wine end-to-end tests (pytest).
# Both always run; the exit status is non-zero when either failed.
# Extra arguments go to pytest, e.g. scripts/run-tests.sh -k floppy
set -uo pipefail
cd "$(dirname "$0")/.."

status=0

echo "== unit tests (ctest)"
# The unit tests are independent processes: one per core.
ctest --test-dir build/host --output-on-failure -j "$(nproc)" || status=1

echo "== Wine tests"
# A machine whose kernel runs no 32-bit programs cannot run the stub under Wine. The Wine tests
# then run the x86-64 build of the same sources under 64-bit Wine, and this says so loudly.
source scripts/wine-choice.sh
choose_wine || status=1
if [ "$wine_kind" = 64 ]; then
  echo "!! Wine cannot run 32-bit programs on this machine ('wine --version' fails): the Wine"
  echo "!! tests run the x86-64 build of the stub (build/wine64) under 64-bit Wine instead."
fi

# Where 32-bit code cannot run natively, the program users get, build/tvsfx32.exe, runs too:
# its smoke set (tests/wine/smoke32.txt) under the i386 emulator (scripts/i386-emulator.sh).
# Skipped when the caller picked tests (arguments) or when a test run asked for another Wine.
# It runs beside the x86-64 suite (its own prefix and display; the emulator keeps one core
# busy while the suite mostly waits on Wine), and its output follows the suite's.
smoke_pid=""
smoke_log=build/smoke32.log
if [ "$wine_kind" = 64 ] && [ $# -eq 0 ] && [ -z "${TVSFX_WINE:-}" ]; then
  if bash scripts/i386-emulator.sh fetch >/dev/null && bash scripts/i386-emulator.sh check >/dev/null; then
    mapfile -t smoke < <(grep -v '^#' tests/wine/smoke32.txt | grep -v '^$')
    bash scripts/i386-emulator.sh run env TVSFX_WINE=32emu \
      /usr/bin/python3 -m pytest -p no:cacheprovider "${smoke[@]}" </dev/null >"$smoke_log" 2>&1 &
    smoke_pid=$!
  else
    echo "!! the i386 emulator could not be set up here (it needs Linux 6.7 or later for a"
    echo "!! binfmt_misc of its own in a user namespace): the real 32-bit stub does not run."
  fi
fi

echo "== Wine tests (pytest)"
# Debian's interpreter: python3-pytest is installed for /usr/bin/python3, not for others on PATH.
/usr/bin/python3 -m pytest tests/wine -p no:cacheprovider "$@" </dev/null || status=1

if [ -n "$smoke_pid" ]; then
  echo "== Wine tests of the real 32-bit stub under the i386 emulator (smoke set)"
  echo "!! 32-bit Wine runs here only under the user-mode emulator qemu-i386: the smoke set of"
  echo "!! tests/wine/smoke32.txt runs on build/tvsfx32.exe that way ('make test32' runs all)."
  wait "$smoke_pid" || status=1
  cat "$smoke_log"
fi

exit $status
