#!/usr/bin/env bash
# Shows the demo release's wizard under Wine, as far as it goes today: the notice and
# the welcome page. In a window on your desktop when DISPLAY is set, otherwise on a
# virtual X server; either way a picture of every window is saved, the wizard is
# cancelled and Wine is stopped at the end.
#
#   tools/demo.sh            DEMO_PAUSE=<seconds> to linger on each window (default 3
#                            on a desktop, 0.5 otherwise)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

tools/setup-deps.sh

build=$root/build/windows
state=$build/wine
shots=$root/build/demo-screenshots
harness=(python3 "$root/tools/wine/harness.py")

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target \
  flashwise_release_demo flashwise_guidriver flashwise_rapi_probe_double flashwise_winusb_probe_double

program=$build/releases/demo/Flashwise.exe
driver=$build/tests/wine/guidriver/guidriver.exe
for f in "$program" "$driver" "$build/tests/wine/doubles/rapi.dll" "$build/tests/wine/doubles/winusb.dll"; do
  [ -f "$f" ] || { echo "demo: $f was not built" >&2; exit 1; }
done

started_display=no
cleanup() {
  "${harness[@]}" prefix-down --state "$state" >/dev/null || true
  if [ "$started_display" = yes ]; then
    "${harness[@]}" display-down --state "$state" >/dev/null || true
  fi
}
trap cleanup EXIT

desktop=()
if [ -n "${DISPLAY:-}" ]; then
  display=$DISPLAY
  desktop=(--desktop)
  pause=${DEMO_PAUSE:-3}
  echo "demo: showing the wizard on $display"
else
  "${harness[@]}" display-up --state "$state"
  started_display=yes
  display=$(cat "$state/display")
  pause=${DEMO_PAUSE:-0.5}
fi

# After the display: Wine's desktop process keeps the display it starts with.
"${harness[@]}" prefix-up --state "$state" --display "$display" \
  --install "rapi.dll=$build/tests/wine/doubles/rapi.dll" \
  --install "winusb.dll=$build/tests/wine/doubles/winusb.dll"

python3 tools/wine/demo_run.py --state "$state" --program "$program" --driver "$driver" \
  --shots "$shots" --display "$display" --pause "$pause" "${desktop[@]}"
echo "demo: screenshots are in $shots"
