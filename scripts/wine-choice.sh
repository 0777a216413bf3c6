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
