#!/usr/bin/env bash
# Builds both trees and runs every test: the host build (with AddressSanitizer and
# UBSan) natively, the Windows build under Wine in a prefix of its own; then every
# fuzz target for a short, bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup-deps.sh

jobs=$(nproc)
cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs"
ctest --preset host -j "$jobs"

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
ctest --preset windows
# The host checks of the release the Windows build made.
ctest --preset release

# Each fuzz target for 10 s: a short look for what the checked-in corpus does not
# already cover (tools/fuzz.sh with a longer time for a real search).
tools/fuzz.sh 10
