#!/usr/bin/env bash
# LZMA entries, after scripts/bench-builder.sh has built the LZMA package of its folder:
# our decoder against `7zz t -mmt1` on that same package (both decode and check CRC-32; goal:
# at least 0.8 of 7-Zip's speed) and against liblzma on the same raw LZMA streams (goal: at
# least 0.9), processor seconds, best of three; and the stub's code for LZMA entries.
set -euo pipefail
cd "$(dirname "$0")/.."
package=build/bench-builder/tvsfx-lzma.exe
runs=3

objects=build/stub/CMakeFiles/tvsfx32.dir
decoder=$(find "$objects" -name lzma_decode.cpp.obj | head -n 1)
entry=$(find "$objects" -name lzma_entry.cpp.obj | head -n 1)
if [ -n "$decoder" ] && [ -n "$entry" ]; then
  # Code and constant bytes of the two objects before linking (the linker may pad them).
  code=$(i686-w64-mingw32-size "$decoder" "$entry" | awk 'NR > 1 { s += $1 } END { print s }')
  echo "stub lzma code_bytes=$code (lzma_decode + lzma_entry objects) stub_bytes=$(stat -c %s build/tvsfx32.exe)"
fi

if [ ! -f "$package" ]; then
  echo "lzma decoding n/a: $package missing (scripts/bench-builder.sh makes it)"
  exit 0
fi
line=$(build/host/bench/bench_lzma --runs "$runs" "$package")
echo "$line"
ours=$(sed -n 's/.*ours_crc_seconds=\([0-9.]*\).*/\1/p' <<<"$line")
bytes=$(sed -n 's/.* bytes=\([0-9]*\).*/\1/p' <<<"$line")

if ! command -v 7zz >/dev/null; then
  echo "lzma vs 7zz n/a: no 7zz"
  exit 0
fi
best=""
for _ in $(seq "$runs"); do
  TIMEFORMAT='%U %S'
  seconds=$({ time 7zz t -mmt1 -tzip "$package" >/dev/null; } 2>&1 | awk '{ print $1 + $2 }')
  best=$(awk -v a="$seconds" -v b="${best:-1e30}" 'BEGIN { print (a < b ? a : b) }')
done
awk -v ours="$ours" -v theirs="$best" -v bytes="$bytes" 'BEGIN {
  printf "lzma test ours+crc MB/s=%.1f 7zz-t-mmt1 MB/s=%.1f ours/7zz=%.2f goal>=0.8 (7zz: process cpu seconds=%.2f)\n",
         bytes / ours / 1e6, bytes / theirs / 1e6, theirs / ours, theirs }'
