#!/usr/bin/env bash
# One file of 1 GiB and one of 6 GiB, side by side: the builder's time and peak memory for the
# folder, then the hidden self-extractor's under Wine (wall seconds and the peak memory of its
# process). The data is zeros (a sparse file here, so it costs no disk until extracted): the
# figures show what grows with the size, and with flat memory the peaks of both lines agree.
# The extracted file (6 GiB on disk for a moment) is checked against zeros and removed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
work="$root/build/bench-large"
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work/out" "$work"/src-*' EXIT

source scripts/wine-choice.sh
choose_wine
sfx_label=sfx-under-wine
[ "$wine_kind" = 64 ] && sfx_label=sfx-x86-64-build-under-wine64
winpath() { echo "Z:${1//\//\\}"; }

if [ "$wine_kind" != none ]; then
  start_bench_wine "$work"
  trap '[ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true; rm -rf "$work/out" "$work"/src-*' EXIT
  [ -d "$WINEPREFIX" ] || "${wine[@]}" wineboot -i >/dev/null 2>&1
fi

timed() {  # timed COMMAND...: "seconds peak-KiB" of one run
  local t0 t1
  t0=$(date +%s.%N)
  /usr/bin/time -f %M -o "$work/peak" "$@" >/dev/null 2>&1
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" -v k="$(tail -n1 "$work/peak")" 'BEGIN { printf "%.1f %d\n", b - a, k }'
}

for gib in 1 6; do
  src="$work/src-$gib"
  mkdir -p "$src"
  truncate -s "${gib}G" "$src/zeros.bin"
  exe="$work/large-$gib.exe"
  read -r build_s build_kb < <(timed "$builder" build -q -o "$exe" --hidden --overwrite \
    --folder "$(winpath "$work/out")" "$src")
  rm -rf "$src"
  sfx="n/a (Wine cannot run here)"
  if [ "$wine_kind" != none ]; then
    read -r sfx_s sfx_kb < <(timed timeout 3600 "${wine[@]}" "$exe")
    if ! cmp -s -n "$((gib << 30))" "$work/out/zeros.bin" /dev/zero ||
       [ "$(stat -c %s "$work/out/zeros.bin")" != "$((gib << 30))" ]; then
      echo "bench-large: the extracted ${gib} GiB file is not what was packed" >&2
      exit 1
    fi
    rm -rf "$work/out"
    sfx=$(awk -v s="$sfx_s" -v k="$sfx_kb" -v g="$gib" -v label="$sfx_label" \
      'BEGIN { printf "%s s=%.1f MB/s=%.0f peak-memory MB=%.1f", label, s, g * 1073.741824 / s, k / 1024 }')
  fi
  awk -v g="$gib" -v s="$build_s" -v k="$build_kb" -v size="$(stat -c %s "$exe")" -v sfx="$sfx" \
    'BEGIN { printf "large %d GiB: package MB=%.1f builder s=%.1f peak-memory MB=%.1f | extract %s\n", g, size / 1e6, s, k / 1024, sfx }'
done
[ "$wine_kind" != none ] && wineserver -k >/dev/null 2>&1 || true
