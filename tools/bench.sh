#!/usr/bin/env bash
# Builds the optimised host tree and runs every benchmark (flash_bench under
# umockdev-wrapper), then the wizard's demo update under Wine
# (bench/wizard_update_bench.py); each prints its figures.
# Extra arguments go to the whole-download benchmark (see bench/download_bench.cpp).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup-deps.sh
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$(nproc)" --target unpack_bench download_bench flash_bench
build/bench/bench/unpack_bench
build/bench/bench/download_bench "$@"
# flashwise-flash through libusb into the simulator on an emulated USB bus.
umockdev-wrapper build/bench/bench/flash_bench
# The whole wizard's update of the simulated phone under Wine (the Windows build).
bench/wizard_update_bench.py
