#!/usr/bin/env python3
"""One test of a route to the simulated boot loader under Wine: starts the bridge
(a Windows console program under the same wineserver), runs the test program against
it, tells the bridge to end and checks that it wrote its results.

  run_bootloader_route.py --bridge BootLoaderBridge.exe [--mode MODE] winusb|serial [bridge options]

MODE is the test program's mode (default: the transport).

The harness gives FLASHWISE_PROGRAM (the test program's copy), FLASHWISE_TEST_DIR and
FLASHWISE_WINE_STATE (the prefix of the test's lane).
"""

import argparse
import os
import signal
import socket
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "wine"))
import winetest  # noqa: E402

WINE = "wine"
PORT_WAIT_S = 60
PROGRAM_TIMEOUT_S = 60
BRIDGE_END_S = 30


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def frame(kind, payload=b""):
    return struct.pack("<IB", len(payload) + 1, kind) + payload


def tell_bridge_to_quit(port):
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(frame(0x07))
        head = b""
        while len(head) < 5:
            piece = s.recv(5 - len(head))
            if not piece:
                break
            head += piece
        return len(head) == 5 and head[4] == 0x80


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("transport", choices=("winusb", "serial"))
    parser.add_argument("--bridge", required=True)
    parser.add_argument("--mode")
    parser.add_argument("bridge_options", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    extra = [a for a in args.bridge_options if a != "--"]

    folder = os.environ["FLASHWISE_TEST_DIR"]
    program = os.environ["FLASHWISE_PROGRAM"]
    results = os.path.join(folder, "bridge")
    port_file = os.path.join(folder, "port")
    env = dict(os.environ)
    state = winetest.State(os.environ["FLASHWISE_WINE_STATE"])

    with open(os.path.join(folder, "bridge.log"), "wb") as log:
        bridge = subprocess.Popen([WINE, args.bridge, "--out", windows_path(results), "--port-file",
                                   windows_path(port_file), "--transport", args.transport, "--capture",
                                   "--idle-timeout-ms", "120000"] + extra,
                                  env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                  start_new_session=True)
    try:
        deadline = time.monotonic() + PORT_WAIT_S
        port = None
        while time.monotonic() < deadline and bridge.poll() is None:
            try:
                with open(port_file) as f:
                    port = int(f.read().strip())
                break
            except (FileNotFoundError, ValueError):
                time.sleep(0.05)
        if port is None:
            print("the bridge did not start; see %s" % os.path.join(folder, "bridge.log"))
            return 1
        print("bridge on 127.0.0.1:%d" % port)
        sys.stdout.flush()

        env["FLASHWISE_BOOTLOADER"] = "127.0.0.1:%d" % port
        if args.transport == "serial":
            # The driver reads the bridge's port when a device is opened; the device is
            # there while the driver runs, as the phone is while in its boot loader.
            winetest.start_serial_driver(state, port)
        test = subprocess.Popen([WINE, program, args.mode or args.transport, windows_path(results)], env=env,
                                stdin=subprocess.DEVNULL, start_new_session=True)
        try:
            code = test.wait(timeout=PROGRAM_TIMEOUT_S)
        except subprocess.TimeoutExpired:
            # The bridge still writes what it saw, which tells where the program stopped.
            print("FAILED: the test program did not end within %d s" % PROGRAM_TIMEOUT_S)
            os.killpg(test.pid, signal.SIGKILL)
            test.wait()
            code = 124

        quit_ok = tell_bridge_to_quit(port)
        try:
            bridge_code = bridge.wait(timeout=BRIDGE_END_S)
        except subprocess.TimeoutExpired:
            bridge_code = None
        print("bridge: quit %s, exit code %s" % ("answered" if quit_ok else "NOT answered", bridge_code))
        for name in ("store.txt", "verdicts.txt", "summary.txt"):
            with open(os.path.join(results, name)) as f:
                print("%s:\n%s" % (name, f.read().rstrip()))
        capture = os.path.join(results, "capture.txt")
        if not os.path.exists(capture):
            print("FAILED: the bridge wrote no capture")
            return 1
        if code != 0 or not quit_ok or bridge_code != 0:
            return 1
        return 0
    finally:
        if args.transport == "serial":
            # The device goes with the driver: later tests find no \\.\wceusbsh001.
            winetest.stop_serial_driver(state)
        if bridge.poll() is None:
            os.killpg(bridge.pid, signal.SIGKILL)
            bridge.wait()


if __name__ == "__main__":
    sys.exit(main())
