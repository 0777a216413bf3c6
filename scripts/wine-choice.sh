# Sourced by the scripts that run the stub under Wine; choose_wine decides how.
#   wine_kind=32    32-bit Wine runs: the stub build/tvsfx32.exe with the builder build/tvsfx.
#   wine_kind=64    the kernel runs no 32-bit code (IA-32 emulation off) but 64-bit Wine runs:
#                   the x86-64 build of the same stub (make wine64) with the builder beside it
#                   in build/wine64.
#   wine_kind=none  no Wine runs here.
# It sets wine (the command that starts a Windows program; empty for none) and builder (the
# builder whose default stub fits that Wine). The Wine bench in tests/wine decides the same way.
choose_wine() {
  builder=build/tvsfx
  wine=(wine)
  wine_kind=32
  wine --version >/dev/null 2>&1 && return 0
  if /usr/lib/wine/wine64 --version >/dev/null 2>&1; then
    make --no-print-directory wine64 >/dev/null || return 1
    wine_kind=64
    builder=build/wine64/tvsfx
    wine=(/usr/lib/wine/wine64)
    export WINELOADER=/usr/lib/wine/wine64
    return 0
  fi
  wine_kind=none
  wine=()
}

# The benches' Wine: a display of its own unless DISPLAY names one (its Xvfb's pid in
# xvfb_pid, for the caller's exit trap; its number is read from a file in the folder $1) and
# the benches' prefix, apart from the test bench's.
start_bench_wine() {
  xvfb_pid=""
  if [ -z "${DISPLAY:-}" ]; then
    rm -f "$1/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$1/display" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do [ -s "$1/display" ] && break; sleep 0.1; done
    export DISPLAY=":$(head -n1 "$1/display")"
  fi
  export WINEPREFIX="$root/build/wine-bench${WINELOADER:+64}" WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
}
