#!/usr/bin/env bash
# Builds both trees and runs every test: the host build (with AddressSanitizer and
# UBSan) natively, the Windows build under Wine in a prefix of its own; then every
# fuzz target for a short, bounded time. Ends with where the time went and, when a
# Wine test failed, the folder that keeps what explains it.
set -uo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
started=$(date +%s)
phases=()
failures_mark=$(mktemp)
trap 'rm -f "$failures_mark"' EXIT

phase() {
  local name=$1 began status
  shift
  began=$(date +%s)
  echo "== $name"
  "$@"
  status=$?
  phases+=("$(printf '%-28s %5d s%s' "$name" $(($(date +%s) - began)) "$([ $status -eq 0 ] || echo '  FAILED')")")
  return $status
}

summary() {
  echo
  echo "== where the time went"
  printf '%s\n' "${phases[@]}"
  printf '%-28s %5d s\n' "all" $(($(date +%s) - started))
  local kept
  kept=$(find build/windows/wine/failures -mindepth 1 -maxdepth 1 -type d -newer "$failures_mark" 2>/dev/null | sort)
  if [ -n "$kept" ]; then
    echo
    echo "== failed Wine tests: what explains each is kept in"
    local folder
    for folder in $kept; do
      echo "-- $folder"
      tail -n 25 "$folder/output.txt" 2>/dev/null | sed 's/^/   /'
    done
  fi
}

run_all() {
  phase "set-up" tools/setup-deps.sh || return 1
  phase "host: configure" cmake --preset host >/dev/null || return 1
  phase "host: build" cmake --build --preset host -j "$jobs" || return 1
  phase "host: tests" ctest --preset host -j "$jobs" || return 1
  phase "windows: configure" cmake --preset windows >/dev/null || return 1
  phase "windows: build" cmake --build --preset windows -j "$jobs" || return 1
  phase "windows: tests (Wine)" ctest --preset windows || return 1
  # The host checks of the release the Windows build made.
  phase "release: host checks" ctest --preset release || return 1
  # Each fuzz target for 10 s: a short look for what the checked-in corpus does not
  # already cover (tools/fuzz.sh with a longer time for a real search).
  phase "fuzz: build and 10 s each" tools/fuzz.sh 10 || return 1
}

run_all
status=$?
summary
exit $status
