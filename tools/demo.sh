#!/usr/bin/env bash
# Updates the simulated phone with the demo release's wizard under Wine, pressing the
# buttons a user would press, on the Windows XP path (or Vista and later). In a window
# on your desktop when DISPLAY is set, otherwise on a virtual X server; either way a
# picture of every page and wait window is saved.
#
#   tools/demo.sh [--windows xp|vista] [--pause [SECONDS]] [--slow-phone] [--recover]
#
#   --pause       lingers on each window for a person watching (default 3 s)
#   --slow-phone  the boot loader writes at a phone's pace (150 KB/s), so that the
#                 progress bar moves while a person watches (about 35 s of writing)
#   --recover     the link is cut a megabyte into the image: the wizard says the phone
#                 waits in update mode and ends; started again, it finds the phone in
#                 its boot loader and finishes the update
#
# Results in build/demo/<path>/: screens/ (the pictures), bootloader/ (the simulated
# boot loader's flash store and its capture of the link), summary.json. The last line
# says whether the update reached the finish page and the flash store equals the
# image; the exit code is 0 only then.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

windows=xp
pause=0
slow=()
recover=()
while [ $# -gt 0 ]; do
  case "$1" in
    --windows) windows=${2:?--windows needs xp or vista}; shift 2 ;;
    --windows=*) windows=${1#--windows=}; shift ;;
    --pause)
      if [[ ${2:-} =~ ^[0-9.]+$ ]]; then pause=$2; shift 2; else pause=3; shift; fi ;;
    --slow-phone) slow=(--write-rate 150000); shift ;;
    --recover) recover=(--recover); shift ;;
    -h|--help) sed -n '2,19p' "$0"; exit 0 ;;
    *) echo "demo: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
done
case "$windows" in xp|vista) ;; *) echo "demo: --windows is xp or vista, not $windows" >&2; exit 2 ;; esac

tools/setup-deps.sh

build=$root/build/windows
state=$build/wine
out=$root/build/demo/$windows
harness=(python3 "$root/tools/wine/harness.py")

cmake --preset windows >/dev/null
targets=(flashwise_release_demo flashwise_guidriver flashwise_sim_rapi flashwise_bridge_winusb BootLoaderBridge
         BootLoaderRoutes SimPhoneSetup SimServiceCtl)
if [ "$windows" = xp ]; then
  targets+=(SimDccMan flashwise_bridge_serial_driver)
else
  targets+=(SimService)
fi
cmake --build --preset windows -j "$(nproc)" --target "${targets[@]}"

program=$build/releases/demo/Flashwise.exe
driver=$build/tests/wine/guidriver/guidriver.exe
for f in "$program" "$driver" "$build/sim-phone/Rapi.dll" "$build/sim/bridge/winusb.dll"; do
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
  echo "demo: showing the wizard on $display"
else
  "${harness[@]}" display-up --state "$state"
  started_display=yes
  display=$(cat "$state/display")
fi

# After the display: Wine's desktop process keeps the display it starts with. The
# prefix gets the simulated phone's Remote API and the boot loader's WinUSB library.
"${harness[@]}" prefix-up --state "$state" --display "$display" \
  --install "rapi.dll=$build/sim-phone/Rapi.dll" \
  --install "winusb.dll=$build/sim/bridge/winusb.dll"

python3 tools/wine/demo_run.py --state "$state" --build "$build" --program "$program" --driver "$driver" \
  --out "$out" --display "$display" --windows "$windows" --pause "$pause" "${desktop[@]}" "${slow[@]}" "${recover[@]}"
