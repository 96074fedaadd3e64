#!/usr/bin/env bash
# Runs chosen Wine tests N times (default 10) with the other core busy, each time on
# a fresh world, and prints each test's pass count and its first failure's folder.
#   tools/soak.sh [N] [-R regex] [-E regex] [--no-load]
# The Windows tree is built first when something changed.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=10
if [[ "${1:-}" =~ ^[0-9]+$ ]]; then rounds=$1; shift; fi
regex=""
exclude=""
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    -R) regex=$2; shift 2 ;;
    -E) exclude=$2; shift 2 ;;
    --no-load) extra+=(--no-load); shift ;;
    *) echo "usage: tools/soak.sh [N] [-R regex] [-E regex] [--no-load]" >&2; exit 2 ;;
  esac
done
tools/setup-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"
exec python3 tools/wine/soak.py --rounds "$rounds" --regex "$regex" --exclude "$exclude" "${extra[@]}"
