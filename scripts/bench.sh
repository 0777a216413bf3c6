#!/usr/bin/env bash
# Speed and size figures, one line each. Run by `make bench` after the build.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

echo "stub size bytes=$(stat -c %s build/tvsfx32.exe) limit=61440"

corpus="$root/build/bench-corpus"
if [ -x build/host/bench/bench_inflate ]; then
  echo "native x86-64: ours, zlib, libdeflate (whole buffer)"
  build/host/bench/bench_inflate --save "$corpus"
fi

if [ -x build/host/bench/bench_aes ]; then
  echo "native x86-64: AES entry cipher (AES-NI and SHA extensions, then the portable methods)"
  build/host/bench/bench_aes
fi

# The same decoder as the stub compiles it, 32-bit, under Wine, with MinGW's zlib beside it.
echo "i686 under Wine: ours, zlib"
cmake -S bench/i686 -B build/bench-i686 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench-i686 -j 2 -- --no-print-directory >/dev/null
if wine --version >/dev/null 2>&1; then
  WINEPREFIX="$root/build/wine-bench" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    wine build/bench-i686/bench_saved_corpus.exe "$(echo "Z:$corpus" | tr / '\\')" | tr -d '\r'
elif bash scripts/i386-emulator.sh fetch >/dev/null && bash scripts/i386-emulator.sh check; then
  # The 32-bit build's own code (bit buffer, fast loop, CRC lanes and the SIMD methods the
  # emulated processor offers) checked for correctness only: timings under an emulator mean
  # nothing, so none are printed.
  echo "i686 under the i386 emulator (32-bit Wine cannot run natively here): correctness only, no timings"
  # A win64 prefix made by 64-bit Wine; its syswow64 half, which runs the 32-bit program, is
  # installed through the emulator, so inside its namespace too.
  WINEPREFIX="$root/build/wine-bench-32emu" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    bash scripts/i386-emulator.sh run bash -c '
      [ -d "$WINEPREFIX" ] || /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
      wine "$@"; status=$?; wineserver -k; exit $status' - \
      build/bench-i686/bench_saved_corpus.exe "$(echo "Z:$corpus" | tr / '\\')" --check | tr -d '\r'
else
  echo "i686 n/a: Wine cannot run 32-bit programs on this machine"
fi

bash scripts/bench-extract.sh
bash scripts/bench-builder.sh
bash scripts/bench-lzma.sh
bash scripts/bench-large.sh
