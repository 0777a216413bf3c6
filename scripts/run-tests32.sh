#!/usr/bin/env bash
# `make test32`: the whole Wine suite on the real 32-bit stub build/tvsfx32.exe. Where 32-bit
# Wine runs natively that is the ordinary suite; elsewhere it runs under the i386 emulator
# (scripts/i386-emulator.sh), about 15 minutes on an idle machine. Extra arguments go to pytest.
set -uo pipefail
cd "$(dirname "$0")/.."

if wine --version >/dev/null 2>&1; then
  exec /usr/bin/python3 -m pytest tests/wine -p no:cacheprovider "$@" </dev/null
fi
bash scripts/i386-emulator.sh fetch || exit 1
if ! bash scripts/i386-emulator.sh check; then
  echo "!! 32-bit Wine does not start under the i386 emulator here either" >&2
  exit 1
fi
echo "!! the whole Wine suite on build/tvsfx32.exe under the user-mode emulator qemu-i386"
exec bash scripts/i386-emulator.sh run env TVSFX_WINE=32emu \
  /usr/bin/python3 -m pytest tests/wine -p no:cacheprovider "$@" </dev/null
