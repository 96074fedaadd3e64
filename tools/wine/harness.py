#!/usr/bin/env python3
"""Brings the Wine test environment up and down and runs one test in it.

  harness.py prefix-up   --state DIR [--install NAME=FILE ...] [--display :N] [--lanes N]
                         [--routes-exe EXE [--winusb-dll DLL] [--serial-driver SYS]]
  harness.py prefix-down --state DIR
  harness.py display-up  --state DIR
  harness.py display-down --state DIR
  harness.py run --state DIR --name NAME [--program EXE] [--windows xp|vista]
                 [--libs rapi,winusb] [--display] [--timeout S] [--driver EXE] -- COMMAND...

`run` gives the test a folder of its own (made afresh), copies the program under the
test's name there so that the Windows version and the libraries it sees can be set
for that name alone, and runs COMMAND: under Wine when it is a Windows program, as it
is otherwise (a script then finds everything in FLASHWISE_* variables).
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winetest  # noqa: E402


def prefix_up(args):
    base = winetest.State(args.state)
    started = time.monotonic()
    made = winetest.make_prefix(base)
    lanes = [base] + [winetest.State(winetest.lane_root(args.state, str(n))) for n in range(2, args.lanes + 1)]
    for lane in lanes:
        winetest.stop_server(lane)
    copied = [lane for lane in lanes[1:] if winetest.copy_prefix(base, lane)]
    display = args.display or base.display()
    for lane in lanes:
        for item in args.install or []:
            name, _, source = item.partition("=")
            if not source or not os.path.isfile(source):
                raise winetest.HarnessError("cannot install %r: no such file" % item)
            winetest.install_library(lane, name, source)
        if lane is not base and display:
            # The lanes share the X server: a lane's world finds it where the base's does.
            with open(lane.path("display"), "w") as f:
                f.write(display + "\n")
        winetest.start_server(lane, display)
        if not winetest.prefix_settings_current(lane):
            winetest.configure_prefix(lane)
        if args.routes_exe:
            routes(lane, "up", args)
    print("wine prefix %s (%s) ready%s in %.1f s" % (
        base.prefix, "new" if made else "reused",
        " with %d lane(s) beside it (%d copied)" % (len(lanes) - 1, len(copied)) if len(lanes) > 1 else "",
        time.monotonic() - started))


ROUTES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "bootloader-routes.py")


def routes(lane, verb, args=None):
    """The routes to the simulated boot loader belong to the prefix for the whole run:
    every world of the lane finds them there (and leaves them), so no world makes or
    deletes the serial driver's service while another one's is still going."""
    record = lane.path("routes.exe")
    if verb == "up":
        command = ["--routes-exe", args.routes_exe]
        if args.winusb_dll:
            command += ["--winusb-dll", args.winusb_dll]
        if args.serial_driver:
            command += ["--serial-driver", args.serial_driver, "--serial-numbers", "1"]
        with open(record, "w") as f:
            f.write(args.routes_exe + "\n")
    else:
        try:
            with open(record) as f:
                command = ["--routes-exe", f.read().strip()]
        except FileNotFoundError:
            return
    result = subprocess.run([sys.executable, ROUTES, verb, "--state", lane.root] + command,
                            stdin=subprocess.DEVNULL, timeout=4 * winetest.COMMAND_TIMEOUT)
    if verb == "down":
        os.remove(record)
    if result.returncode != 0:
        raise winetest.HarnessError("the boot-loader routes of %s did not go %s" % (lane.root, verb))


def prefix_down(args):
    for lane in winetest.lanes_present(args.state):
        try:
            routes(lane, "down")
        finally:
            winetest.stop_server(lane)
        if lane.root != winetest.State(args.state).root and os.path.exists(lane.path("display")):
            os.remove(lane.path("display"))
        print("wineserver of %s stopped" % lane.prefix)


def display_up(args):
    state = winetest.State(args.state)
    print("Xvfb on %s" % winetest.start_display(state))


def display_down(args):
    state = winetest.State(args.state)
    winetest.stop_display(state)
    print("Xvfb stopped")


def test_exe_name(name):
    return re.sub(r"[^A-Za-z0-9_]", "_", name) + ".exe"


def run(args):
    base = winetest.State(args.state)
    lane = winetest.lane_given()
    state = winetest.State(winetest.lane_root(args.state, lane))
    if not os.path.exists(state.path("prefix.ready")):
        raise winetest.HarnessError("the prefix of lane %s is not set up (the wine_prefix fixture brings it up)"
                                    % (lane or "1"))
    display = None
    if args.display:
        display = state.display()
        if not display:
            raise winetest.HarnessError("no X display is running (the wine_display fixture brings it up)")

    folder = state.path("tests", args.name)
    if os.path.exists(folder):
        shutil.rmtree(folder)
    os.makedirs(folder)

    libraries = [lib for lib in (args.libs or "").replace(";", ",").split(",") if lib]
    for lib in libraries:
        if lib not in winetest.LIBRARIES:
            raise winetest.HarnessError("unknown library %r (known: %s)" % (lib, ", ".join(winetest.LIBRARIES)))

    env = state.env(display)
    env["FLASHWISE_WINE_STATE"] = state.root
    env["FLASHWISE_TEST_DIR"] = folder
    env["FLASHWISE_PROBE_LOG"] = winetest.windows_path(os.path.join(folder, "probes.log"))
    if args.driver:
        env["FLASHWISE_GUIDRIVER"] = os.path.abspath(args.driver)
    program_copy = None
    if args.program:
        program_copy = os.path.join(folder, test_exe_name(args.name))
        shutil.copyfile(args.program, program_copy)
        winetest.configure_program(state, os.path.basename(program_copy), args.windows, libraries)
        env["FLASHWISE_PROGRAM"] = program_copy
        env["FLASHWISE_PROGRAM_WIN"] = winetest.windows_path(program_copy)
        env["FLASHWISE_SOURCE_PROGRAM"] = os.path.abspath(args.program)
    elif args.windows or libraries:
        raise winetest.HarnessError("--windows and --libs need the program they apply to")

    command = list(args.command)
    if command and command[0] == "--":
        command = command[1:]
    if not command:
        raise winetest.HarnessError("no command")
    if command[0].lower().endswith(".exe"):
        if args.program and os.path.abspath(command[0]) == os.path.abspath(args.program):
            command[0] = program_copy
        command = [winetest.WINE] + command

    shared_logs = winetest.log_sizes(state)
    started = time.monotonic()
    with open(os.path.join(folder, OUTPUT), "w", encoding="utf-8", errors="replace") as output:
        proc = subprocess.Popen(command, env=env, cwd=folder, start_new_session=True, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        copier = threading.Thread(target=copy_output, args=(proc.stdout, output, started), daemon=True)
        copier.start()
        try:
            status = proc.wait(timeout=args.timeout)
        except subprocess.TimeoutExpired:
            note = "harness: %s did not end within %d s; ending it" % (args.name, args.timeout)
            print(note, file=sys.stderr)
            output.write("[%7.1f s] %s\n" % (time.monotonic() - started, note))
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            status = 124
        # Whatever the command left running holds the pipe no longer than this.
        copier.join(timeout=10)
    if status != 0:
        kept = keep_failure(base, state, args.name, folder, shared_logs)
        print("harness: what explains the failure is kept in %s" % kept, file=sys.stderr)
    return status


OUTPUT = "output.txt"


def copy_output(stream, output, started):
    """The command's output goes on to the harness's own (CTest shows it) and, each
    line with the time since the start, into the test's folder."""
    for raw in iter(stream.readline, b""):
        line = raw.decode("utf-8", errors="replace")
        sys.stdout.write(line)
        sys.stdout.flush()
        output.write("[%7.1f s] %s" % (time.monotonic() - started, line if line.endswith("\n") else line + "\n"))
        output.flush()


def keep_failure(base, state, name, folder, shared_logs):
    """Copies the test's folder (its output, its world's logs, the bridge's capture,
    the program's output) and what the prefix's shared logs gained during the test
    into a folder of its own under failures/, which no later run overwrites."""
    root = base.path("failures")
    os.makedirs(root, exist_ok=True)
    stamp = time.strftime("%Y%m%d-%H%M%S")
    kept = os.path.join(root, "%s-%s" % (name, stamp))
    suffix = 1
    while os.path.exists(kept):
        suffix += 1
        kept = os.path.join(root, "%s-%s-%d" % (name, stamp, suffix))
    # Programs are copies of the build's own; everything else may explain something.
    shutil.copytree(folder, kept, symlinks=True, ignore=shutil.ignore_patterns("*.exe", "*.dll", "*.sys"))
    winetest.copy_log_tails(state, shared_logs, os.path.join(kept, "shared-logs"))
    return kept


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="verb", required=True)
    for verb in ("prefix-up", "prefix-down", "display-up", "display-down", "run"):
        p = sub.add_parser(verb)
        p.add_argument("--state", required=True)
        if verb == "prefix-up":
            p.add_argument("--install", action="append", metavar="NAME=FILE")
            p.add_argument("--display", help="X display for Wine's desktop (default: the harness's Xvfb, if up)")
            p.add_argument("--lanes", type=int, default=1, help="prefixes side by side (CTest's lanes)")
            p.add_argument("--routes-exe", help="BootLoaderRoutes.exe: the routes to the boot loader go in")
            p.add_argument("--winusb-dll")
            p.add_argument("--serial-driver")
        if verb == "run":
            p.add_argument("--name", required=True)
            p.add_argument("--program")
            p.add_argument("--windows", choices=sorted(winetest.WINDOWS_VERSIONS))
            p.add_argument("--libs", default="")
            p.add_argument("--display", action="store_true")
            p.add_argument("--timeout", type=int, default=60)
            p.add_argument("--driver")
            p.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    try:
        result = {"prefix-up": prefix_up, "prefix-down": prefix_down, "display-up": display_up,
                  "display-down": display_down, "run": run}[args.verb](args)
    except (winetest.HarnessError, subprocess.TimeoutExpired) as error:
        print("harness: %s" % error, file=sys.stderr)
        return 1
    return result or 0


if __name__ == "__main__":
    sys.exit(main())
