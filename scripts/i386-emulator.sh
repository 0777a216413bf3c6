#!/usr/bin/env bash
# The third way to run the 32-bit stub: on a kernel that runs no 32-bit code (IA-32 emulation
# off), 32-bit Wine runs under the user-mode emulator qemu-i386.
#
#   scripts/i386-emulator.sh fetch        fetch the emulator into build/emulator (once)
#   scripts/i386-emulator.sh check        exit 0 when 32-bit Wine starts through it
#   scripts/i386-emulator.sh run CMD...   run CMD with 32-bit programs going to the emulator
#
# Nothing is installed or registered for the whole machine:
# - The emulator comes from Debian's qemu-user package of the backports suite (version 10;
#   bookworm's own 7.2 spends about 100 s in every Wine process start on page tracking). It is
#   fetched with a private apt configuration (its own sources list, lists and cache under
#   build/emulator), so the machine's apt sources and package set stay as they are, and only
#   its static qemu-i386 is unpacked.
# - Linux 6.7 and later give each user namespace a binfmt_misc of its own. `run` enters a new
#   user and mount namespace, mounts binfmt_misc at a private folder and registers i386 ELF
#   programs to the emulator there (flags POCF: the interpreter is opened at registration, so
#   it works in any later mount view, and set-id programs keep their credentials). The
#   registration ends with the namespace.
# Inside, 64-bit Wine (wineserver, wineboot, the services) runs natively and every 32-bit
# Windows program starts through /usr/lib/wine/wine under the emulator, in a win64 prefix
# whose syswow64 half holds the 32-bit system.
set -euo pipefail
cd "$(dirname "$0")/.."

emulator_dir="$PWD/build/emulator"
qemu="$emulator_dir/qemu-i386"
mirror_of_machine() {
  # The mirror the machine already uses for Debian, so the backports suite comes from there too.
  local uri
  uri=$(grep -hoE '^(URIs:|deb) +[^ ]+' /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null \
        | grep -m1 -E 'debian/?$' | awk '{print $NF}' || true)
  [ -n "$uri" ] && echo "${uri%/}" || echo "http://deb.debian.org/debian"
}

fetch() {
  [ -x "$qemu" ] && return 0
  local work="$emulator_dir/apt"
  rm -rf "$work"
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/etc"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $(mirror_of_machine) bookworm-backports main" \
    >"$work/etc/sources.list"
  local apt_opts=(
    -o "Dir::Etc::SourceList=$work/etc/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache"
    -o Debug::NoLocking=1 -o APT::Sandbox::User=root -qq
  )
  apt-get "${apt_opts[@]}" update </dev/null
  (cd "$work" && apt-get "${apt_opts[@]}" download qemu-user </dev/null)
  local deb
  deb=$(ls "$work"/qemu-user_*.deb)
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$work" ./usr/bin/qemu-i386
  mv "$work/usr/bin/qemu-i386" "$qemu"
  rm -rf "$work"
  "$qemu" --version | head -n 1
}

# The body run inside the new namespaces (as the namespace's root).
register_and_run() {
  # Stays mounted for the namespace's life: the registration lives as long as the mount.
  local mount_point="$emulator_dir/binfmt"
  mkdir -p "$mount_point"
  mount -t binfmt_misc binfmt_misc "$mount_point"
  # i386 ELF executables (the magic and mask of Debian's qemu-user binfmt entry).
  printf '%s' ":tvsfx-i386:M::\\x7f\\x45\\x4c\\x46\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\xfc\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu:POCF" \
    >"$mount_point/register"
  export TVSFX_I386_EMULATOR="$qemu"
  exec "$@"
}

case "${1:-}" in
  fetch)
    fetch
    ;;
  check)
    [ -x "$qemu" ] || exit 1
    "$0" run wine --version >/dev/null 2>&1
    ;;
  run)
    shift
    [ -x "$qemu" ] || { echo "$0: the emulator is not fetched (run '$0 fetch')" >&2; exit 1; }
    exec unshare --user --map-root-user --mount --fork "$0" _inside "$@"
    ;;
  _inside)
    shift
    register_and_run "$@"
    ;;
  *)
    echo "usage: $0 fetch | check | run CMD..." >&2
    exit 2
    ;;
esac
