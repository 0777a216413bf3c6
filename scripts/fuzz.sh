#!/usr/bin/env bash
# Builds the decoder fuzzer (clang-14, libFuzzer with AddressSanitizer and UBSan) and runs it
# for FUZZ_SECONDS seconds (default 60), one job at low priority.
# Seeds: zlib and 7-Zip streams made by fuzz/make_seeds.py on the first run. fuzz/regressions
# holds inputs that once found a bug; they are replayed before the run (and by `make test`,
# natively, through fuzz/replay.cmake). Save a new finding there under a name that says what
# it broke.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
build=build/fuzz

cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j 2

corpus="$build/corpus"
if [ ! -d "$corpus" ] || [ -z "$(ls -A "$corpus")" ]; then
  python3 fuzz/make_seeds.py "$corpus"
fi

echo "Replaying fuzz/regressions"
"$build/fuzz_inflate" -runs=0 fuzz/regressions 2>&1 | tail -n 1

echo "Fuzzing for $seconds s"
nice -n 10 "$build/fuzz_inflate" -max_total_time="$seconds" -max_len=8192 -rss_limit_mb=2048 \
  -artifact_prefix="$build/" -print_final_stats=1 "$corpus" fuzz/regressions 2>&1 |
  grep -vE '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse)' || true
# grep drops libFuzzer's progress lines; a failure still shows its report and leaves
# crash-* in $build/.
if ls "$build"/crash-* "$build"/leak-* "$build"/timeout-* >/dev/null 2>&1; then
  echo "fuzzer found failing inputs in $build/" >&2
  exit 1
fi
