#!/usr/bin/env bash
# End-to-end extraction: a self-extractor of a ~200 MB mixed archive, extracted in hidden mode
# under Wine, against unzip and 7-Zip extracting the same archive natively (best of 3 each).
# The corpus and its archive are made once and cached under build/bench-extract.
# Also timed: a hidden self-extractor of a one-byte file, which is Wine's and the stub's
# start-up alone.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
work="$root/build/bench-extract"
corpus="$work/corpus"
mkdir -p "$work"

# Text (C headers and plain documentation, no .gz), program binaries and incompressible data,
# cut into parts of a few MB, plus the header tree itself for many small files.
make_corpus() {
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
  (cd "$corpus" && zip -q -r -6 "$work/archive.tmp.zip" .)
  mv "$work/archive.tmp.zip" "$work/archive.zip"
}
[ -f "$work/archive.zip" ] && [ -d "$corpus" ] || make_corpus
size=$(find "$corpus" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
files=$(find "$corpus" -type f | wc -l)

winpath() { echo "Z:${1//\//\\}"; }
build/tvsfx build -o "$work/bench.exe" --hidden --overwrite --folder "$(winpath "$work/out-sfx")" \
  "$work/archive.zip" >/dev/null
mkdir -p "$work/tiny-src" && printf x >"$work/tiny-src/x.txt"
build/tvsfx build -o "$work/tiny.exe" --hidden --overwrite --folder "$(winpath "$work/out-sfx")" \
  "$work/tiny-src" >/dev/null

# One display for all runs: starting Xvfb is not part of any timing.
if [ -z "${DISPLAY:-}" ]; then
  rm -f "$work/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  xvfb_pid=$!
  trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -n1 "$work/display")"
fi
export WINEPREFIX="$root/build/wine-bench" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -d "$WINEPREFIX" ]; then
  wineboot -i >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
fi
# Every file call of a Wine program is a round trip to wineserver. On an otherwise idle
# (virtual) machine the two bounce between CPUs, and each wake-up of the other CPU costs more
# than the call itself: unpinned, the same run takes about twice as long. So the server and
# the program share one CPU. The server is kept up between runs: its start is not extraction.
pin=(taskset -c 0)
wineserver -k >/dev/null 2>&1 || true
"${pin[@]}" wineserver -p 120 >/dev/null 2>&1
"${pin[@]}" wine "$work/tiny.exe" >/dev/null 2>&1 || true  # warms the prefix once

best() {  # best of N wall-clock seconds of a command; the output folders are cleared before each run
  local n=$1; shift
  local best="" t0 t1
  for _ in $(seq "$n"); do
    rm -rf "$work/out-sfx" "$work/out-unzip" "$work/out-7z"
    t0=$(date +%s.%N)
    # a hidden self-extractor that fails waits at its error box: the time-out ends it
    if ! timeout 900 "$@" >/dev/null 2>&1; then
      echo "bench-extract: failed: $*" >&2
      return 1
    fi
    t1=$(date +%s.%N)
    best=$(awk -v a="$t0" -v b="$t1" -v m="$best" 'BEGIN { d = b - a; if (m != "" && m < d) d = m; printf "%.3f", d }')
  done
  echo "$best"
}

start=$(best 3 "${pin[@]}" wine "$work/tiny.exe")
sfx=$(best 3 "${pin[@]}" wine "$work/bench.exe")
# the last self-extractor run stays until the next timing clears it: check it against the corpus
if ! diff -r -q "$corpus" "$work/out-sfx" >/dev/null; then
  echo "bench-extract: the self-extractor's tree differs from the corpus:" >&2
  diff -r -q "$corpus" "$work/out-sfx" | head >&2 || true
  exit 1
fi
unz=$(best 3 unzip -o -q "$work/archive.zip" -d "$work/out-unzip")
sz=$(best 3 7zz x -y "-o$work/out-7z" "$work/archive.zip")
rm -rf "$work/out-sfx" "$work/out-unzip" "$work/out-7z"
wineserver -k >/dev/null 2>&1 || true

awk -v size="$size" -v files="$files" -v sfx="$sfx" -v unz="$unz" -v sz="$sz" -v start="$start" 'BEGIN {
  mb = size / 1e6
  printf "extract sfx-under-wine s=%.2f MB/s=%.0f unzip s=%.2f 7zz s=%.2f ratio-vs-unzip=%.2f ratio-vs-7zz=%.2f wine-start s=%.2f archive MB=%.0f files=%d\n",
    sfx, mb / sfx, unz, sz, unz / sfx, sz / sfx, start, mb, files
}'
