#!/usr/bin/env bash
# Speed and size figures, one line each. Run by `make bench` after the build.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

echo "stub size bytes=$(stat -c %s build/tvsfx32.exe) goal=49152"

if [ -x build/host/bench/bench_inflate ]; then
  build/host/bench/bench_inflate
fi

bash scripts/bench-extract.sh
