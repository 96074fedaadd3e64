#!/usr/bin/env bash
# Installs what the builds and the Wine tests need on a Debian 12 machine (the fuzz
# build: clang 14, its libFuzzer runtime, and llvm-symbolizer for readable reports).
# Every check looks first, so a second run installs nothing.
#
# A mirror that is being synchronised can serve a package index of the wrong size for
# minutes. apt then ignores that index, and the 32-bit Wine packages, which need the
# same versions of their libraries on both architectures, cannot be installed: the
# other architecture's index names newer versions than the only ones left. The index
# update is tried again a few times, and an install that fails on versions that
# disagree is tried once more with the distribution's main suite preferred.
#
# The decisions sit in functions a test drives with recorded outputs of apt
# (FLASHWISE_SETUP_SOURCE_ONLY=1 sources the file without running it).
set -euo pipefail

PACKAGES=(cmake ninja-build g++ zlib1g-dev googletest gzip
          g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
          libz-mingw-w64-dev gcc-mingw-w64-x86-64-posix wine wine64 wine32:i386 xvfb x11-apps x11-utils
          imagemagick python3 clang-14 libclang-rt-14-dev llvm-14 libusb-1.0-0-dev umockdev libumockdev-dev)

APT_GET=${FLASHWISE_APT_GET:-apt-get}
UPDATE_TRIES=${FLASHWISE_APT_UPDATE_TRIES:-4}
UPDATE_PAUSE=${FLASHWISE_APT_UPDATE_PAUSE:-20}

say() { echo "setup: $*"; }

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# What an index update's output and status mean: ok, or retry (an index that could
# not be fetched is ignored by apt, even when it exits 0).
update_verdict() {
  local status=$1 output=$2
  if [ "$status" -ne 0 ] || grep -qE '^(E: Failed to fetch|E: Some index files failed|W: Failed to fetch|W: Some index files failed)' <<<"$output"; then
    echo retry
  else
    echo ok
  fi
}

# What an install's output and status mean: ok; versions (dependencies that cannot be
# met, as when one architecture's index is missing or older); or failed.
install_verdict() {
  local status=$1 output=$2
  if [ "$status" -eq 0 ]; then
    echo ok
  elif grep -qE 'unmet dependencies|held broken packages|but it is not going to be installed|but [^ ]+ is to be installed' <<<"$output"; then
    echo versions
  else
    echo failed
  fi
}

# The main suite of this machine's distribution (bookworm on Debian 12).
main_suite() {
  local codename=""
  if [ -r /etc/os-release ]; then
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  fi
  echo "${codename:-bookworm}"
}

update_index() {
  local try output status verdict
  for ((try = 1; try <= UPDATE_TRIES; try++)); do
    status=0
    output=$($SUDO "$APT_GET" update 2>&1) || status=$?
    verdict=$(update_verdict "$status" "$output")
    if [ "$verdict" = ok ]; then
      return 0
    fi
    if [ "$try" -lt "$UPDATE_TRIES" ]; then
      say "the package index could not be brought up to date (try $try of $UPDATE_TRIES); trying again in ${UPDATE_PAUSE} s"
      sleep "$UPDATE_PAUSE"
    fi
  done
  say "the package index is incomplete after $UPDATE_TRIES tries; installing from what there is:"
  grep -E '^(E|W):' <<<"$output" | head -3 | sed 's/^/setup:   /'
  return 0
}

# Installs the packages named; exits non-zero with one line when it cannot.
install_packages() {
  local output status verdict suite
  status=0
  output=$(DEBIAN_FRONTEND=noninteractive $SUDO "$APT_GET" install -y -q "$@" 2>&1) || status=$?
  verdict=$(install_verdict "$status" "$output")
  if [ "$verdict" = versions ]; then
    suite=$(main_suite)
    say "the architectures' versions disagree in the package index; installing again with the main suite ($suite) preferred"
    status=0
    output=$(DEBIAN_FRONTEND=noninteractive $SUDO "$APT_GET" install -y -q -t "$suite" "$@" 2>&1) || status=$?
    verdict=$(install_verdict "$status" "$output")
  fi
  if [ "$verdict" != ok ]; then
    say "cannot install $*: this machine's package sources do not offer them as needed (apt said: $(grep -E '^E:' <<<"$output" | head -1 | cut -c4-))"
    return 1
  fi
}

main() {
  local need=() p
  for p in "${PACKAGES[@]}"; do have_pkg "$p" || need+=("$p"); done
  if [ ${#need[@]} -eq 0 ]; then
    return 0
  fi
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  say "installing ${need[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  update_index
  install_packages "${need[@]}"
}

SUDO=""
if [ -z "${FLASHWISE_SETUP_SOURCE_ONLY:-}" ]; then
  main "$@"
fi
