#!/usr/bin/env bash
# Builds the libFuzzer targets (clang-14 with AddressSanitizer and UBSan) and runs each for
# FUZZ_SECONDS seconds (default 60), one job at low priority: the decoder (fuzz_inflate) and
# the builder's ZIP reader and writer, inspect, stub reader and entry decoder (AES entries
# included). FUZZ_TARGETS picks some.
# Seeds: zlib and 7-Zip streams (fuzz/make_seeds.py), small ZIPs, a built file and the stub
# (fuzz/make_builder_seeds.py), made on the first run. fuzz/regressions holds inputs that once
# found a bug (the decoder's directly inside, the builder's in fuzz/regressions/<target>/);
# they are replayed before the run and by `make test`, natively, through fuzz/replay.cmake.
# Save a new finding there under a name that says what it broke.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-fuzz_inflate fuzz_zip_input fuzz_inspect fuzz_stub_reader fuzz_entry_decoder}
build=build/fuzz

cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j 2

if [ ! -d "$build/corpus" ] || [ -z "$(ls -A "$build/corpus")" ]; then
  python3 fuzz/make_seeds.py "$build/corpus"
fi
if [ ! -d "$build/corpus-fuzz_stub_reader" ]; then
  python3 fuzz/make_builder_seeds.py "$build" build/tvsfx build/tvsfx32.exe
fi

status=0
for target in $targets; do
  if [ "$target" = fuzz_inflate ]; then
    corpus="$build/corpus"
    regressions=fuzz/regressions
    options=(-max_len=8192)
  else
    corpus="$build/corpus-$target"
    regressions="fuzz/regressions/$target"
    options=(-max_len=65536 -timeout=10)
  fi
  mkdir -p "$regressions"
  echo "== $target: replaying $regressions"
  "$build/$target" -runs=0 "${options[@]}" "$regressions" 2>&1 | tail -n 1
  echo "== $target: fuzzing for $seconds s"
  nice -n 10 "$build/$target" -max_total_time="$seconds" "${options[@]}" -rss_limit_mb=2048 \
    -artifact_prefix="$build/$target-" -print_final_stats=1 "$corpus" "$regressions" 2>&1 |
    grep -vE '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse)' || true
done
# grep drops libFuzzer's progress lines; a failure still shows its report and leaves
# <target>-crash-* in $build/.
if ls "$build"/*crash-* "$build"/*leak-* "$build"/*timeout-* "$build"/*oom-* >/dev/null 2>&1; then
  echo "fuzzer found failing inputs in $build/" >&2
  status=1
fi
exit $status
