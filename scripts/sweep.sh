#!/usr/bin/env bash
# Stub mutation sweep (not part of make test): damages the archives of built self-extractors
# at random and runs each under Wine in hidden mode; reports crashes, hangs and files written
# outside the target. Arguments go to scripts/sweep.py (--cases N, --seed S, --limit SECONDS).
# Uses its own Wine prefix, build/sweep-prefix, and writes build/sweep/report.json.
set -euo pipefail
cd "$(dirname "$0")/.."
# A kernel that runs no 32-bit code: the sweep runs the x86-64 build under 64-bit Wine.
source scripts/wine-choice.sh
choose_wine
# Debian's interpreter, as for the Wine tests.
exec nice -n 5 /usr/bin/python3 scripts/sweep.py "$@"
