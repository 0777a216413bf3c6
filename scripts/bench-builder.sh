#!/usr/bin/env bash
# The builder on a realistic folder against zip -9 and 7-Zip's strongest Deflate, all three
# in this run on the same folder: wall seconds, CPU seconds and output bytes, and the
# builder's figures as ratios to the two peers. On a shared machine the wall seconds swing
# with the load; CPU seconds (summed over the builder's threads) are the steadier figure.
#
# The folder is made once (cached under build/bench-builder) from files every Debian machine
# with this project's packages has, picked by sorted path so it is the same folder each time:
# every 5th file of /usr/share/doc, every 21st of /usr/share/man and the first 1000 shared
# libraries under 4 MiB of /usr/lib/x86_64-linux-gnu, about 3,000 files and 190 MB.
#
# BENCH_LEVELS="6 9 12" adds a line per builder level (the default level always runs); a last
# line gives the package with --method lzma against the default Deflate package.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
work="$root/build/bench-builder"
corpus="$work/corpus"
mkdir -p "$work"

# Names with characters Windows forbids (Perl's "Dpkg::Exit.3perl.gz") and the second of two
# names that differ only in case ("index.html", "Index.html") are left out: the builder refuses
# them, as the stub could not create them.
pick_files() (
  set +o pipefail  # head closes its pipe early on purpose
  {
    find /usr/share/doc -type f | LC_ALL=C sort | awk 'NR % 5 == 0'
    find /usr/share/man -type f | LC_ALL=C sort | awk 'NR % 21 == 0'
    find /usr/lib/x86_64-linux-gnu -name '*.so*' -type f -size -4M | LC_ALL=C sort | head -n 1000
  } | grep -v '[:*?"<>|\\]' | awk '{ l = tolower($0); if (!seen[l]++) print }'
)

# The folder is made again whenever the list of files differs from the one it was made from.
make_corpus() {
  rm -rf "$corpus" "$corpus.tmp"
  mkdir -p "$corpus.tmp"
  while read -r f; do
    mkdir -p "$corpus.tmp$(dirname "$f")"
    cp "$f" "$corpus.tmp$f"
  done <"$work/files.new"
  mv "$corpus.tmp" "$corpus"
  mv "$work/files.new" "$work/files.txt"
}
pick_files >"$work/files.new"
if [ -d "$corpus" ] && cmp -s "$work/files.new" "$work/files.txt"; then
  rm -f "$work/files.new"
else
  make_corpus
fi
files=$(find "$corpus" -type f | wc -l)
bytes=$(find "$corpus" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
echo "builder corpus files=$files bytes=$bytes"

# Runs a command under bash's time; sets wall, cpu (user + system) and out_bytes.
measure() {
  local out=$1
  shift
  rm -f "$out"
  local TIMEFORMAT='%R %U %S'
  { time "$@" >/dev/null; } 2>"$work/time.txt"
  read -r wall user sys <"$work/time.txt"
  cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
  out_bytes=$(stat -c %s "$out")
}
ratio() { awk -v a="$1" -v b="$2" -v d="$3" 'BEGIN { printf "%.*f", d, a / b }'; }

measure "$work/zip9.zip" sh -c "cd '$corpus' && zip -q -r -9 '$work/zip9.zip' ."
zip_wall=$wall zip_cpu=$cpu zip_bytes=$out_bytes
echo "builder peer=zip-9 seconds=$zip_wall cpu_seconds=$zip_cpu bytes=$zip_bytes"
measure "$work/7zz-mx9.zip" sh -c "cd '$corpus' && 7zz a -tzip -mx9 '$work/7zz-mx9.zip' . >/dev/null"
sz_wall=$wall sz_cpu=$cpu sz_bytes=$out_bytes
echo "builder peer=7zz-mx9 seconds=$sz_wall cpu_seconds=$sz_cpu bytes=$sz_bytes"

run_builder() {
  local label=$1
  shift
  measure "$work/tvsfx.exe" build/tvsfx build --quiet -o "$work/tvsfx.exe" "$@" "$corpus"
  echo "builder tvsfx $label seconds=$wall cpu_seconds=$cpu bytes=$out_bytes" \
    "time_vs_zip9=$(ratio "$wall" "$zip_wall" 2)" "cpu_vs_zip9=$(ratio "$cpu" "$zip_cpu" 2)" "size_vs_zip9=$(ratio "$out_bytes" "$zip_bytes" 4)" \
    "time_vs_7zz_mx9=$(ratio "$wall" "$sz_wall" 2)" "size_vs_7zz_mx9=$(ratio "$out_bytes" "$sz_bytes" 4)"
}
for level in ${BENCH_LEVELS:-}; do
  run_builder "level=$level" --level "$level"
done
run_builder "level=default"
deflate_bytes=$out_bytes

# LZMA entries on the same folder, beside the Deflate package just built (goal: at most 0.82
# of its size); the package stays for scripts/bench-lzma.sh, which times decoding it.
measure "$work/tvsfx-lzma.exe" build/tvsfx build --quiet --method lzma -o "$work/tvsfx-lzma.exe" "$corpus"
echo "builder tvsfx method=lzma seconds=$wall cpu_seconds=$cpu bytes=$out_bytes" \
  "size_vs_deflate=$(ratio "$out_bytes" "$deflate_bytes" 4) goal<=0.82" \
  "size_vs_7zz_mx9=$(ratio "$out_bytes" "$sz_bytes" 4)"
