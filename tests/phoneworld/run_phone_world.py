#!/usr/bin/env python3
"""One run of the whole phone world on one Windows path: tools/wine/phone-world.py up,
the test program in the world, phone-world.py down, and a check that the world left no
process behind.

  run_phone_world.py --build BUILD --device-mode EXE --sys-reboot EXE --wcestest EXE --service-ctl EXE
                     [--starts-in-boot-loader] xp|vista

With --starts-in-boot-loader the phone starts in its boot loader (as an update that did
not finish leaves it) and the program checks that world instead.

The harness gives FLASHWISE_PROGRAM (the test program's copy), FLASHWISE_TEST_DIR and
FLASHWISE_WINE_STATE.
"""

import argparse
import json
import os
import signal
import subprocess
import sys

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "wine")
WORLD = os.path.join(TOOLS, "phone-world.py")
PROGRAM_TIMEOUT_S = 120
WORLD_TIMEOUT_S = 400


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def alive(pid, marker):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return marker.encode() in f.read()
    except OSError:
        return False


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("windows", choices=("xp", "vista"))
    parser.add_argument("--build", required=True)
    parser.add_argument("--device-mode", required=True)
    parser.add_argument("--sys-reboot", required=True)
    parser.add_argument("--wcestest", required=True)
    parser.add_argument("--service-ctl", required=True)
    parser.add_argument("--starts-in-boot-loader", action="store_true")
    args = parser.parse_args()

    folder = os.environ["FLASHWISE_TEST_DIR"]
    state = os.environ["FLASHWISE_WINE_STATE"]
    world = os.path.join(folder, "world")
    common = ["--state", state, "--world", world]
    mode = args.windows
    extra = []
    if args.starts_in_boot_loader:
        mode += "-boot-loader"
        phone_ini = os.path.join(folder, "phone.ini")
        with open(phone_ini, "w") as f:
            f.write("[phone]\nmode=bootloader\n")
        extra = ["--phone-ini", phone_ini]

    up = subprocess.run([sys.executable, WORLD, "up", "--windows", args.windows, "--build", args.build,
                         "--lifetime-s", "300"] + common + extra, stdin=subprocess.DEVNULL, timeout=WORLD_TIMEOUT_S)
    if up.returncode != 0:
        print("FAILED: the phone world did not come up")
        return 1
    with open(os.path.join(world, "world.json")) as f:
        started = [(s["pid"], s["marker"]) for s in json.load(f)["steps"] if s["step"] == "process"]
    code = 1
    try:
        env = dict(os.environ)
        with open(os.path.join(world, "world.env")) as f:
            for line in f:
                key, _, value = line.strip().partition("=")
                env[key] = value
        results = env["FLASHWISE_WORLD_RESULTS"]
        test = subprocess.Popen(["wine", os.environ["FLASHWISE_PROGRAM"], mode, windows_path(results),
                                 windows_path(args.device_mode), windows_path(args.sys_reboot),
                                 windows_path(args.wcestest), windows_path(args.service_ctl)],
                                env=env, stdin=subprocess.DEVNULL, start_new_session=True)
        try:
            code = test.wait(timeout=PROGRAM_TIMEOUT_S)
        except subprocess.TimeoutExpired:
            print("FAILED: the test program did not end within %d s" % PROGRAM_TIMEOUT_S)
            os.killpg(test.pid, signal.SIGKILL)
            test.wait()
            code = 124
    finally:
        down = subprocess.run([sys.executable, WORLD, "down"] + common, stdin=subprocess.DEVNULL,
                              timeout=WORLD_TIMEOUT_S)
    left = [marker for pid, marker in started if alive(pid, marker)]
    print("world: %d process(es) started, %s left" % (len(started), ", ".join(left) or "none"))
    if down.returncode != 0 or left or os.path.exists(os.path.join(world, "world.json")):
        print("FAILED: the phone world did not go down cleanly")
        return 1
    summary = os.path.join(results, "summary.txt")
    with open(summary) as f:
        print("bridge summary: %s" % f.read().replace("\n", " "))
    # The bridge writes its capture as it ends: the link's first acts on the device are
    # the line cleared, the first block, the line set.
    with open(os.path.join(results, "capture.txt")) as f:
        host = [line.split(" ", 1)[1].strip() for line in f if " H>D " in line]
    first = [entry.split(" ")[1] + (" " + entry.split(" ")[2] if entry.startswith("H>D line") else "")
             for entry in host[:3]]
    print("the link's first acts: %s" % ", ".join(first))
    if first != ["line 0", "write", "line 1"]:
        print("FAILED: the link did not clear the line, write its block and set the line first")
        return 1
    return code


if __name__ == "__main__":
    sys.exit(main())
