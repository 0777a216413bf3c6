#!/usr/bin/env bash
# Builds a sample self-extractor from a small folder and runs it under Wine in automatic mode,
# then lists what it extracted.
set -euo pipefail
cd "$(dirname "$0")/.."
# Wine needs a display: without one, the whole demo runs on a virtual one.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a bash "$0" "$@"
fi
root=$(pwd)
demo="$root/build/demo"
rm -rf "$demo"
mkdir -p "$demo/sample/docs" "$demo/sample/data" "$demo/sample/empty"

# A little of everything: text that compresses well, data that does not, a nested folder,
# an empty folder.
cat > "$demo/sample/README.txt" <<'TEXT'
Tarvel Self-Extractor demo
This folder was packed into demo.exe by tvsfx and unpacked again by the stub under Wine.
TEXT
for i in $(seq 1 2000); do echo "line $i: the quick brown fox jumps over the lazy dog"; done > "$demo/sample/docs/manual.txt"
head -c 200000 /dev/urandom > "$demo/sample/data/random.bin"
cp /usr/share/common-licenses/GPL-3 "$demo/sample/docs/LICENSE.txt" 2>/dev/null || true

# A kernel without IA-32 emulation runs no 32-bit program, so 32-bit Wine cannot start the stub.
# Then the demo runs the x86-64 build of the same stub (make wine64) under 64-bit Wine, and
# says so.
source scripts/wine-choice.sh
choose_wine
if [ "$wine_kind" = 64 ]; then
  echo "!! Wine cannot run 32-bit programs on this machine ('wine --version' fails): the demo"
  echo "!! runs the x86-64 build of the stub (build/wine64) under 64-bit Wine instead."
fi

winpath() { echo "Z:${1//\//\\}"; }
"$builder" build -o "$demo/demo.exe" --auto --folder "$(winpath "$demo/out")" \
  --title "Tarvel Demo" --about "Beispielarchiv des Tarvel Self-Extractor" "$demo/sample"
echo "== built $demo/demo.exe ($(stat -c %s "$demo/demo.exe") bytes)"
"$builder" inspect "$demo/demo.exe" | sed 's/^/   /'

# No Wine at all: check the finished program with the stub's own decoder instead.
if [ ${#wine[@]} -eq 0 ]; then
  echo "!! Wine cannot run here, so demo.exe cannot be started. Its entries, decoded and checked"
  echo "!! by the stub's decoder:"
  build/tvsfx test "$demo/demo.exe"
  exit 0
fi

export WINEPREFIX="$root/build/wine-demo${WINELOADER:+64}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -d "$WINEPREFIX" ]; then
  echo "== creating the Wine prefix (once)"
  "${wine[@]}" wineboot -i >/dev/null 2>&1
  "${wine[@]}" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
fi
wineserver -w
echo "== running demo.exe under Wine (automatic mode)"
"${wine[@]}" "$demo/demo.exe"
wineserver -w

echo "== extracted into $demo/out:"
(cd "$demo/out" && find . -mindepth 1 -printf '%M %10s %TY-%Tm-%Td %TH:%TM  %P\n' | sort -k5)
if diff -r "$demo/sample" "$demo/out" >/dev/null; then
  echo "== identical to the packed folder"
else
  echo "== DIFFERS from the packed folder"; exit 1
fi
