#!/usr/bin/env bash
# Builds the libFuzzer targets (clang-14 with AddressSanitizer and UBSan) and runs each for
# FUZZ_SECONDS seconds (default 60), one job at low priority: the decoders (fuzz_inflate,
# fuzz_lzma against liblzma) and
# the builder's ZIP input (built into a package and read back with `tvsfx test`'s checks),
# inspect, stub reader and entry decoder (AES entries included). FUZZ_TARGETS picks some.
# Ends with one line per target: executions, and coverage (cov: edges, ft: features) when
# the corpus was loaded and at the end, with the inputs that added some.
# Seeds: zlib and 7-Zip streams (fuzz/make_seeds.py), liblzma and 7-Zip LZMA streams
# (fuzz/make_lzma_seeds.py), input ZIPs of every producer installed,
# the shapes that once found a bug, a built file and the stub (fuzz/make_builder_seeds.py).
# fuzz/regressions holds inputs that once found a bug (the decoder's directly inside, the
# builder's in fuzz/regressions/<target>/); they are replayed before the run and by
# `make test`, natively, through fuzz/replay.cmake. Save a new finding there under a name that
# says what it broke.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-fuzz_inflate fuzz_lzma fuzz_zip_input fuzz_inspect fuzz_stub_reader fuzz_entry_decoder}
build=build/fuzz

cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j 2

if [ ! -d "$build/corpus" ] || [ -z "$(ls -A "$build/corpus")" ]; then
  python3 fuzz/make_seeds.py "$build/corpus"
fi
if [ ! -d "$build/corpus-fuzz_lzma" ] || [ -z "$(ls -A "$build/corpus-fuzz_lzma")" ]; then
  python3 fuzz/make_lzma_seeds.py "$build/corpus-fuzz_lzma"
fi
# Cheap and idempotent: new producers or shapes reach an existing corpus.
python3 fuzz/make_builder_seeds.py "$build" build/tvsfx build/tvsfx32.exe

# "INITED cov: 812 ft: 2533 corp: ..." and "DONE cov: ..." give coverage before and after;
# the final stats the executions and the inputs added.
summarize() {
  awk -v target="$1" '
    $2 == "INITED" { for (i = 3; i <= NF; i++) { if ($i == "cov:") cov0 = $(i + 1); if ($i == "ft:") ft0 = $(i + 1) } }
    $2 == "DONE"   { for (i = 3; i <= NF; i++) { if ($i == "cov:") cov1 = $(i + 1); if ($i == "ft:") ft1 = $(i + 1) } }
    /^stat::number_of_executed_units:/ { runs = $2 }
    /^stat::new_units_added:/ { added = $2 }
    END { printf "%-20s %10s runs  cov %s -> %s  ft %s -> %s  %s new inputs\n", target, runs, cov0, cov1, ft0, ft1, added }
  ' "$2"
}

status=0
summary=()
for target in $targets; do
  if [ "$target" = fuzz_inflate ]; then
    corpus="$build/corpus"
    regressions=fuzz/regressions
    options=(-max_len=8192)
  else
    corpus="$build/corpus-$target"
    regressions="fuzz/regressions/$target"
    # Room for the seed whose extra fields are nearly 64 KiB long.
    options=(-max_len=70000 -timeout=10)
  fi
  mkdir -p "$regressions"
  echo "== $target: replaying $regressions"
  "$build/$target" -runs=0 "${options[@]}" "$regressions" 2>&1 | tail -n 1
  echo "== $target: fuzzing for $seconds s"
  log="$build/$target.log"
  nice -n 10 "$build/$target" -max_total_time="$seconds" "${options[@]}" -rss_limit_mb=2048 \
    -artifact_prefix="$build/$target-" -print_final_stats=1 "$corpus" "$regressions" >"$log" 2>&1 || true
  grep -vE '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse)' "$log" || true
  summary+=("$(summarize "$target" "$log")")
done
echo "== summary ($seconds s each)"
printf '%s\n' "${summary[@]}"
# A failure shows its report above and leaves <target>-crash-* in $build/.
if ls "$build"/*crash-* "$build"/*leak-* "$build"/*timeout-* "$build"/*oom-* >/dev/null 2>&1; then
  echo "fuzzer found failing inputs in $build/" >&2
  status=1
fi
exit $status
