#!/usr/bin/env bash
# Installs every package the build, the tests, the demo and the benchmarks need.
# Idempotent: packages already present are not touched, and apt is only asked when something is missing.
set -euo pipefail

native_pkgs=(
  cmake make g++ clang python3 python3-pytest pkg-config imagemagick x11-apps
  g++-mingw-w64-i686 binutils-mingw-w64-i686 libz-mingw-w64-dev
  zlib1g-dev libdeflate-dev liblzma-dev libzip-dev libicu-dev
  libgtest-dev libbenchmark-dev libfuzzer-14-dev libssl-dev
  wine fonts-wine xvfb xauth
  wine64 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
  zip unzip 7zip libarchive-tools openjdk-17-jdk-headless locales
  python3-pefile osslsigncode
)
# python3-pefile and osslsigncode: the built image's manifest and checksums are read by an
# independent PE reader, and a signed package must still pass the stub's own check.
# libssl-dev: the AES, SHA-1 and PBKDF2 unit tests compare with libcrypto.
# wine64 and the x86-64 cross compiler serve the Wine tests on kernels that run no 32-bit code.
i386_pkgs=(wine32:i386)

# Wine takes its ANSI code page and its languages from the locale: the Wine tests of a Japanese
# and a Russian system run under LANG=ja_JP.UTF-8 (code page 932) and ru_RU.UTF-8 (1251), the
# tests of packages that choose their language by the user's Windows under de_DE.UTF-8 and
# en_US.UTF-8. The name tests run zip and
# bsdtar in a Latin-1 locale, as archives of legacy Unix systems were made. Those locales must
# exist ("name charset", as /etc/locale.gen spells them).
WANTED_LOCALES=("ja_JP.UTF-8 UTF-8" "ru_RU.UTF-8 UTF-8" "de_DE.UTF-8 UTF-8" "en_US.UTF-8 UTF-8" "de_DE.ISO-8859-1 ISO-8859-1")
# locale -a spells de_DE.ISO-8859-1 as de_de.iso88591 (case aside).
locale_listed_as() {
  local name=${1%% *}
  echo "${name%%.*}.$(echo "${name#*.}" | tr -d '-' | tr '[:upper:]' '[:lower:]')"
}
ensure_locales() {
  local entry missing_locales=()
  for entry in "${WANTED_LOCALES[@]}"; do
    locale -a 2>/dev/null | grep -qix "$(locale_listed_as "$entry")" || missing_locales+=("$entry")
  done
  [ ${#missing_locales[@]} -eq 0 ] && return 0
  [ -f /etc/locale.gen ] || return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  for entry in "${missing_locales[@]}"; do
    $sudo sed -i "s/^# *$entry\$/$entry/" /etc/locale.gen
    grep -qx "$entry" /etc/locale.gen || echo "$entry" | $sudo tee -a /etc/locale.gen >/dev/null
  done
  $sudo locale-gen >/dev/null
}

# Where the kernel runs no 32-bit code, the real 32-bit stub runs under the user-mode emulator:
# it is fetched into build/emulator once, never installed for the machine (i386-emulator.sh).
fetch_emulator_where_needed() {
  wine --version >/dev/null 2>&1 && return 0
  bash "$(dirname "$0")/i386-emulator.sh" fetch >/dev/null ||
    echo "!! the i386 emulator could not be fetched; the 32-bit stub's Wine tests will not run" >&2
}

missing=()
for p in "${native_pkgs[@]}" "${i386_pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  ensure_locales
  fetch_emulator_where_needed
  exit 0
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# Another apt run (a second checkout building at the same time) holds the lock: wait for it.
apt_wait=(-o DPkg::Lock::Timeout=900)
$SUDO apt-get "${apt_wait[@]}" update -qq
$SUDO apt-get "${apt_wait[@]}" install -y -qq --no-install-recommends "${missing[@]}" </dev/null
ensure_locales
fetch_emulator_where_needed
