#!/usr/bin/env bash
# End-to-end extraction, two archives, each extracted by a hidden self-extractor under Wine
# and natively by unzip and 7-Zip (best of N wall-clock seconds each, the peak memory of the
# self-extractor's process alongside):
#   mixed  ~200 MB: text, program binaries, incompressible data in parts of a few MB, plus the
#          C++ header tree for many small files
#   usr    ~6,000 files of /usr as a usual release archive has them: shared libraries,
#          documentation, manual pages
# Corpora and archives are made once, deterministically (sorted file lists, zip -X), and
# cached under build/bench-extract. Also timed: a hidden self-extractor of a one-byte file,
# which is Wine's and the stub's start-up alone.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
work="$root/build/bench-extract"
mkdir -p "$work"

zip_tree() {  # zip_tree DIR ARCHIVE: level 6, no extra fields, in sorted order
  (cd "$1" && find . -type f | LC_ALL=C sort | zip -q -X -6 "$2.tmp" -@)
  mv "$2.tmp" "$2"
}

# Text (C headers and plain documentation, no .gz), program binaries and incompressible data,
# cut into parts of a few MB, plus the header tree itself for many small files.
make_mixed() {
  local corpus="$work/corpus"
  rm -rf "$corpus" "$work/archive.zip"
  mkdir -p "$corpus/text" "$corpus/binary" "$corpus/random" "$corpus/headers"
  # head closes the pipes early on purpose; the producers' SIGPIPE is no failure here.
  set +o pipefail
  find /usr/share/doc /usr/include -type f -size +2k ! -name '*.gz' 2>/dev/null | sort |
    while read -r f; do cat "$f"; done | head -c 70000000 | split -b 4000000 - "$corpus/text/part"
  find /usr/lib /usr/bin -type f -size +50k 2>/dev/null | sort |
    while read -r f; do cat "$f"; done | head -c 80000000 | split -b 2000000 - "$corpus/binary/part"
  set -o pipefail
  head -c 40000000 /dev/urandom | split -b 1000000 - "$corpus/random/part"
  # trees without names that differ only in case, which Windows would take for one file
  cp -rL /usr/include/c++ /usr/include/x86_64-linux-gnu "$corpus/headers/"
  zip_tree "$corpus" "$work/archive.zip"
}

# The first 1,000 shared libraries, 2,500 documentation files and 2,500 manual pages of /usr in
# sorted order, leaving out names Windows cannot have (reserved characters, case twins).
make_usr() {
  local corpus="$work/usr-corpus"
  rm -rf "$corpus" "$work/usr.zip"
  mkdir -p "$corpus"
  pick() { find "$1" "${@:3}" -type f 2>/dev/null | LC_ALL=C sort | grep -v '[:*?"<>|\\]' | head -n "$2" || true; }
  { pick /usr/lib/x86_64-linux-gnu 1000 -name '*.so*'; pick /usr/share/doc 2500; pick /usr/share/man 2500; } |
    LC_ALL=C grep -v '[^ -~]' | awk '{ l = tolower($0); if (!seen[l]++) print }' |
    while read -r f; do cp --parents -L "$f" "$corpus/" 2>/dev/null || true; done
  zip_tree "$corpus" "$work/usr.zip"
}

[ -f "$work/archive.zip" ] && [ -d "$work/corpus" ] || make_mixed
[ -f "$work/usr.zip" ] && [ -d "$work/usr-corpus" ] || make_usr

# 32-bit Wine where the kernel runs 32-bit code; else the x86-64 build of the same stub under
# 64-bit Wine (make wine64), named so in every line; else native figures only.
source scripts/wine-choice.sh
choose_wine
sfx_label=sfx-under-wine
wine_runs=true
[ "$wine_kind" = 64 ] && sfx_label=sfx-x86-64-build-under-wine64
[ "$wine_kind" = none ] && wine_runs=false

winpath() { echo "Z:${1//\//\\}"; }
"$builder" build -o "$work/bench.exe" --hidden --overwrite --folder "$(winpath "$work/out-sfx")" \
  "$work/archive.zip" >/dev/null
"$builder" build -o "$work/usr.exe" --hidden --overwrite --folder "$(winpath "$work/out-sfx")" \
  "$work/usr.zip" >/dev/null
# The mixed archive again with every entry encrypted with AES-256 (the builder encrypts the same
# compressed data), for the cost of decryption and authentication.
aes_password="bench-Kennwort"
"$builder" build -o "$work/aes.exe" --hidden --overwrite --folder "$(winpath "$work/out-sfx")" \
  --password "$aes_password" "$work/archive.zip" >/dev/null 2>&1
mkdir -p "$work/tiny-src" && printf x >"$work/tiny-src/x.txt"
"$builder" build -o "$work/tiny.exe" --hidden --overwrite --folder "$(winpath "$work/out-sfx")" \
  "$work/tiny-src" >/dev/null

# One display for all runs: starting Xvfb is not part of any timing.
start_bench_wine "$work"
trap '[ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true' EXIT
# Every file call of a Wine program is a round trip to wineserver. On an otherwise idle
# (virtual) machine the two bounce between CPUs, and each wake-up of the other CPU costs more
# than the call itself: unpinned, the same run takes about twice as long. So the server and
# the program share one CPU. The server is kept up between runs: its start is not extraction.
pin=(taskset -c 0)
if $wine_runs; then
  if [ ! -d "$WINEPREFIX" ]; then
    "${wine[@]}" wineboot -i >/dev/null 2>&1
    "${wine[@]}" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  fi
  wineserver -k >/dev/null 2>&1 || true
  "${pin[@]}" wineserver -p 120 >/dev/null 2>&1
  "${pin[@]}" "${wine[@]}" "$work/tiny.exe" >/dev/null 2>&1 || true  # warms the prefix once
fi

best() {  # best of N wall-clock seconds of a command; the output folders are cleared before each run
  # The peak memory of its runs goes to $work/peak-max: best runs in a subshell ($(best ...)).
  local n=$1; shift
  local best="" t0 t1 kb peak_kb=0
  for _ in $(seq "$n"); do
    rm -rf "$work/out-sfx" "$work/out-unzip" "$work/out-7z"
    t0=$(date +%s.%N)
    # a hidden self-extractor that fails waits at its error box: the time-out ends it
    if ! /usr/bin/time -f %M -o "$work/peak" timeout 900 "$@" >/dev/null 2>&1; then
      echo "bench-extract: failed: $*" >&2
      return 1
    fi
    t1=$(date +%s.%N)
    kb=$(tail -n1 "$work/peak")
    [ "$kb" -gt "$peak_kb" ] && peak_kb=$kb
    best=$(awk -v a="$t0" -v b="$t1" -v m="$best" 'BEGIN { d = b - a; if (m != "" && m < d) d = m; printf "%.3f", d }')
  done
  echo "$peak_kb" >"$work/peak-max"
  echo "$best"
}

start="n/a"
if $wine_runs; then
  start=$(best 3 "${pin[@]}" "${wine[@]}" "$work/tiny.exe")
fi

run_case() {  # run_case NAME ARCHIVE EXE CORPUS RUNS
  local name=$1 archive=$2 exe=$3 corpus=$4 runs=$5 sfx="n/a" sfx_mb="n/a"
  local size files unz sz
  size=$(find "$corpus" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
  files=$(find "$corpus" -type f | wc -l)
  if $wine_runs; then
    sfx=$(best "$runs" "${pin[@]}" "${wine[@]}" "$exe")
    sfx_mb=$(awk -v k="$(cat "$work/peak-max")" 'BEGIN { printf "%.1f", k / 1024 }')
    # the last self-extractor run stays until the next timing clears it: check it against the corpus
    if ! diff -r -q "$corpus" "$work/out-sfx" >/dev/null; then
      echo "bench-extract: the self-extractor's tree differs from the corpus ($name):" >&2
      diff -r -q "$corpus" "$work/out-sfx" | head >&2 || true
      exit 1
    fi
  fi
  unz=$(best "$runs" unzip -o -q "$archive" -d "$work/out-unzip")
  sz=$(best "$runs" 7zz x -y "-o$work/out-7z" "$archive")
  rm -rf "$work/out-sfx" "$work/out-unzip" "$work/out-7z"
  awk -v name="$name" -v size="$size" -v files="$files" -v sfx="$sfx" -v unz="$unz" -v sz="$sz" \
      -v start="$start" -v peak="$sfx_mb" -v label="$sfx_label" -v zipped="$(stat -c %s "$archive")" 'BEGIN {
    mb = size / 1e6
    if (sfx == "n/a")
      printf "extract %s %s n/a (Wine cannot run here) unzip s=%.2f 7zz s=%.2f archive MB=%.0f unpacked MB=%.0f files=%d\n",
        name, label, unz, sz, zipped / 1e6, mb, files
    else
      printf "extract %s %s s=%.2f MB/s=%.0f peak-memory MB=%s unzip s=%.2f 7zz s=%.2f ratio-vs-unzip=%.2f ratio-vs-7zz=%.2f wine-start s=%.2f archive MB=%.0f unpacked MB=%.0f files=%d\n",
        name, label, sfx, mb / sfx, peak, unz, sz, unz / sfx, sz / sfx, start, zipped / 1e6, mb, files
  }'
}

# One run each of the plain and the AES-256 package, back to back; the password is given on
# the command line, so no dialog is part of the time. Wine would escape the quotes that
# -password="..." needs, so both run from batch files (cmd passes their lines as they are);
# the ratio leaves out what cmd adds (the one-byte package through cmd less without it).
# Key derivation costs about 0.4 ms per entry with the SHA extensions, decryption and
# authentication little beside the decoder: the more entries per MB, the higher the ratio.
run_aes_case() {
  if ! $wine_runs; then
    echo "extract mixed aes-256 n/a (Wine cannot run here)"
    return
  fi
  local plain aes
  printf '@"%s"\r\n' "$(winpath "$work/bench.exe")" >"$work/plain.bat"
  printf '@"%s" -password="%s"\r\n' "$(winpath "$work/aes.exe")" "$aes_password" >"$work/aes.bat"
  printf '@"%s"\r\n' "$(winpath "$work/tiny.exe")" >"$work/tiny.bat"
  local cmd_cost
  cmd_cost=$(best 3 "${pin[@]}" "${wine[@]}" cmd /c "$(winpath "$work/tiny.bat")")
  cmd_cost=$(awk -v a="$cmd_cost" -v b="$start" 'BEGIN { d = a - b; printf "%.3f", (d > 0 ? d : 0) }')
  plain=$(best 1 "${pin[@]}" "${wine[@]}" cmd /c "$(winpath "$work/plain.bat")")
  aes=$(best 1 "${pin[@]}" "${wine[@]}" cmd /c "$(winpath "$work/aes.bat")")
  if ! diff -r -q "$work/corpus" "$work/out-sfx" >/dev/null; then
    echo "bench-extract: the AES self-extractor's tree differs from the corpus" >&2
    exit 1
  fi
  rm -rf "$work/out-sfx"
  awk -v plain="$plain" -v aes="$aes" -v cmd="$cmd_cost" -v label="$sfx_label" 'BEGIN {
    r = (aes - cmd) / (plain - cmd)
    printf "extract mixed aes-256 %s s=%.2f plain s=%.2f (each with cmd s=%.2f) ratio=%.2f (goal <= 1.30)%s\n",
      label, aes - cmd, plain - cmd, cmd, r, r <= 1.3 ? "" : "  ABOVE GOAL"
  }'
}

run_case mixed "$work/archive.zip" "$work/bench.exe" "$work/corpus" 3
run_aes_case
run_case usr "$work/usr.zip" "$work/usr.exe" "$work/usr-corpus" 2
if $wine_runs; then
  wineserver -k >/dev/null 2>&1 || true
fi
