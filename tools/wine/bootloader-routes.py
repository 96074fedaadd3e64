#!/usr/bin/env python3
"""Puts the routes to the simulated boot loader into the Wine test prefix, and takes
them out again (sim/bridge/FRAMING.md describes what travels over them).

  bootloader-routes.py up   --state DIR --routes-exe EXE [--winusb-dll DLL]
                            [--serial-driver SYS] [--serial-numbers 1,2,...]
  bootloader-routes.py down --state DIR --routes-exe EXE

WinUSB: our winusb.dll goes into the 32-bit system folder (the program's DllOverrides
choose it per test), the device ROOT\\SIMPHONE\\0000 with an interface of the
boot-loader class is registered and marked present, and the interface's path is made
openable by a link in the prefix's dosdevices to a plain file.

Serial: the kernel driver is copied into the 64-bit system's drivers folder and
registered as a kernel service (start on demand) by the 64-bit loader (the 32-bit one
would mark it as a WOW64 program, which fails to load); its Parameters key names the
device numbers. The devices exist only while the service runs: a test starts it with
`sc start FlashwiseSerialSim` (64-bit) once its bridge is up and its port is in the
Parameters value BridgePort, and stops it at its end, as a phone enters its boot loader
and leaves it. The wineserver must be running (the wine_prefix fixture keeps one up).
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winetest  # noqa: E402

SERIAL_SERVICE = "FlashwiseSerialSim"
# A deleted service lingers, marked for deletion, until its driver has let go; its
# registry key (Parameters included) goes only then.
SERVICE_GONE_S = 30
DEVICE_FILE = "flashwise-bootloader.dev"


def run_routes(state, exe, verb):
    """Runs the registration program; its standard output is read, so the prefix must
    already be warm (its services started by an earlier process)."""
    proc = subprocess.run([winetest.WINE, exe, verb], env=state.env(), stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=winetest.COMMAND_TIMEOUT)
    if proc.returncode != 0:
        raise winetest.HarnessError("%s %s failed (%d): %s" % (os.path.basename(exe), verb, proc.returncode,
                                                              proc.stderr.strip()))
    return [line.strip() for line in proc.stdout.splitlines() if line.strip()]


def dosdevice_name(device_path):
    """\\\\?\\root#simphone#0000#{...} -> the name Wine looks up in dosdevices."""
    name = device_path
    for lead in ("\\\\?\\", "\\??\\"):
        if name.startswith(lead):
            name = name[len(lead):]
    if not name or "\\" in name or "/" in name:
        raise winetest.HarnessError("unexpected device path %r" % device_path)
    return name.lower()


def winusb_up(state, exe, dll):
    if dll:
        winetest.install_library(state, "winusb.dll", dll)
    paths = run_routes(state, exe, "winusb-up")
    if not paths:
        raise winetest.HarnessError("the interface was registered but no path was reported")
    target = os.path.join(state.prefix, "drive_c", "windows", DEVICE_FILE)
    open(target, "a").close()
    for path in paths:
        link = os.path.join(state.prefix, "dosdevices", dosdevice_name(path))
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(target, link)
        print("WinUSB interface %s" % path)


def winusb_down(state, exe):
    dosdevices = os.path.join(state.prefix, "dosdevices")
    run_routes(state, exe, "winusb-down")
    for name in os.listdir(dosdevices):
        if "#simphone#" in name:
            os.remove(os.path.join(dosdevices, name))
    target = os.path.join(state.prefix, "drive_c", "windows", DEVICE_FILE)
    if os.path.exists(target):
        os.remove(target)


def sc64(state, *args):
    return winetest.run_quiet(state, [winetest.WINE64, "sc"] + list(args))


def service_exists(state):
    # Wine's sc has no query; the service is its key.
    key = "HKLM\\System\\CurrentControlSet\\Services\\" + SERIAL_SERVICE
    return winetest.run_quiet(state, [winetest.WINE64, "reg", "query", key]) == 0


def remove_serial_service(state):
    """Stops and deletes the driver's service and waits until it is really gone, so
    that a service made next is not the old one's, nor loses its key to the old one's
    late deletion."""
    sc64(state, "stop", SERIAL_SERVICE)
    sc64(state, "delete", SERIAL_SERVICE)
    deadline = time.monotonic() + SERVICE_GONE_S
    while service_exists(state):
        if time.monotonic() > deadline:
            raise winetest.HarnessError("the service %s was still there %d s after its deletion; see %s" %
                                        (SERIAL_SERVICE, SERVICE_GONE_S, state.logs))
        time.sleep(0.25)
        sc64(state, "delete", SERIAL_SERVICE)


def serial_up(state, driver, numbers):
    drivers = os.path.join(state.prefix, "drive_c", "windows", "system32", "drivers")
    os.makedirs(drivers, exist_ok=True)
    name = SERIAL_SERVICE.lower() + ".sys"
    winetest.install_file(driver, os.path.join(drivers, name))
    remove_serial_service(state)
    winetest.import_registry(state, [
        ("HKLM\\System\\CurrentControlSet\\Services\\%s\\Parameters" % SERIAL_SERVICE,
         {"Devices": ",".join(str(n) for n in numbers)}),
    ], wine=winetest.WINE64)
    if sc64(state, "create", SERIAL_SERVICE, "type=", "kernel", "start=", "demand",
            "binpath=", "C:\\windows\\system32\\drivers\\" + name) != 0:
        raise winetest.HarnessError("sc create %s failed; see %s" % (SERIAL_SERVICE, state.logs))
    print("serial devices %s (present while the driver runs)" % ", ".join("wceusbsh%03d" % n for n in numbers))


def serial_down(state):
    remove_serial_service(state)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("verb", choices=("up", "down"))
    parser.add_argument("--state", required=True)
    parser.add_argument("--routes-exe", required=True)
    parser.add_argument("--winusb-dll")
    parser.add_argument("--serial-driver")
    parser.add_argument("--serial-numbers", default="1")
    args = parser.parse_args()
    state = winetest.State(args.state)
    try:
        if not os.path.exists(state.path("prefix.ready")):
            raise winetest.HarnessError("the prefix is not set up (the wine_prefix fixture brings it up)")
        if args.verb == "up":
            winusb_up(state, args.routes_exe, args.winusb_dll)
            if args.serial_driver:
                numbers = [int(n) for n in args.serial_numbers.split(",") if n.strip()]
                if not numbers or any(n < 0 or n > 999 for n in numbers):
                    raise winetest.HarnessError("device numbers are 0 to 999")
                serial_up(state, args.serial_driver, numbers)
        else:
            serial_down(state)
            winusb_down(state, args.routes_exe)
    except (winetest.HarnessError, subprocess.TimeoutExpired, OSError) as error:
        print("bootloader-routes: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
