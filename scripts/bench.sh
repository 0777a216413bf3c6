#!/usr/bin/env bash
# Speed and size figures, one line each. Run by `make bench` after the build.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

echo "stub size bytes=$(stat -c %s build/tvsfx32.exe) goal=49152"

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
else
  echo "i686 n/a: Wine cannot run 32-bit programs on this machine"
fi

bash scripts/bench-extract.sh
bash scripts/bench-builder.sh
