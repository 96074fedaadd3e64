#!/usr/bin/env python3
"""Sets the whole simulated phone world up in the Wine test prefix for one Windows
path, and takes it down again.

  phone-world.py up   --state DIR --build BUILD --windows xp|vista [--world FOLDER]
                      [--phone-ini FILE] [--lifetime-s N] [--dccman-answer N]
                      [--service NAME:OPTIONS]... [--fault SPEC]... [--write-rate BYTES_PER_S]
  phone-world.py down --state DIR [--world FOLDER]

DIR is the harness's state folder (BUILD/wine); BUILD the Windows build folder the
simulated world was built in. `up` composes, in order:

  the phone        SimPhoneSetup.exe makes FOLDER/phone (its state from --phone-ini,
                   else a phone with every default, running normally)
  the desktop      the synchronisation software, holding the phone's USB device and
                   keeping the Remote API link up until an updater releases it:
                   xp: the hidden "DccMan Class" window (SimDccMan.exe) with USB
                   enabled, answering --dccman-answer (default 0);
                   vista: the services "WcesComm" and "RapiMgr" (SimService.exe with
                   the OPTIONS --service gives, e.g. "WcesComm:--refuse-stop"),
                   installed, automatic and running, and a watch of their start types
  the routes       tools/wine/bootloader-routes.py up, unless they are in the prefix
                   already (the bootloader_routes fixture), in which case they are left
  the bridge       BootLoaderBridge.exe --phone FOLDER/phone on the path's transport
                   (serial on xp, WinUSB on vista): the boot loader opens only while
                   the phone runs it and the desktop has let go of the device; each
                   --fault SPEC makes it misbehave (the bridge's --fault, FRAMING.md)
  xp only          a watcher of the phone's state that starts the serial driver,
                   pointed at the bridge, once the phone is in its boot loader: the
                   devices \\.\wceusbshNNN exist only while the driver runs (a handle
                   of an open the bridge refused fails every call); a phone that starts
                   in its boot loader has them when `up` returns
  vista only       the boot loader's interface follows the phone (BootLoaderRoutes.exe
                   winusb-follow): discovery finds it present only while the phone runs
                   its boot loader, from the moment `up` returns; each presence set is
                   the act `usb interface present=1|0` in the world's log. `down` leaves
                   it present again, as the routes' `up` made it

The desktop's stand-ins keep their hold on the phone in its state and log every act
in FOLDER/phone/world.log (sim/phone/README.md). `up` writes FOLDER/world.env: the
environment a program of the world needs (FLASHWISE_PHONE, FLASHWISE_BOOTLOADER) and
what it is (FLASHWISE_WORLD_WINDOWS; FLASHWISE_WORLD_RESULTS: the bridge's results
folder and FLASHWISE_WORLD_LOG: the world's log, Unix paths). `down` undoes what
`up` did (recorded in FOLDER/world.json), ends the processes it started (by their
ids, after asking them to end) and removes FOLDER/world.json. Every step is bounded;
the processes left running also end by themselves after --lifetime-s (default 900).
FOLDER defaults to DIR/phone-world. The wineserver must be running (harness.py
prefix-up, or the wine_prefix fixture); the hidden window uses the harness's X display
when one is up. A program of the world runs with world.env in its environment, e.g.

  phone-world.py up --state build/windows/wine --build build/windows --windows xp
  env $(cat build/windows/wine/phone-world/world.env) wine Program.exe
  phone-world.py down --state build/windows/wine
"""

import argparse
import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import winetest  # noqa: E402

ROUTES = os.path.join(HERE, "bootloader-routes.py")
SERIAL_SERVICE = winetest.SERIAL_SERVICE
SERVICES = ("WcesComm", "RapiMgr")
STEP_TIMEOUT = 60
PORT_WAIT_S = 60
DESKTOP_WAIT_S = 60
END_WAIT_S = 15


class Built:
    """Where the Windows build puts the pieces of the world."""

    def __init__(self, build):
        self.build = os.path.abspath(build)
        phone = os.path.join(self.build, "sim-phone")
        bridge = os.path.join(self.build, "sim", "bridge")
        self.setup = os.path.join(phone, "SimPhoneSetup.exe")
        self.service = os.path.join(phone, "SimService.exe")
        self.service_ctl = os.path.join(phone, "SimServiceCtl.exe")
        self.dccman = os.path.join(phone, "SimDccMan.exe")
        self.bridge = os.path.join(bridge, "BootLoaderBridge.exe")
        self.routes = os.path.join(bridge, "BootLoaderRoutes.exe")
        self.winusb = os.path.join(bridge, "winusb.dll")
        self.driver = os.path.join(bridge, "flashwise_serial_sim.sys")

    def require(self, windows):
        needed = [self.setup, self.service_ctl, self.bridge, self.routes, self.winusb]
        needed += [self.dccman, self.driver] if windows == "xp" else [self.service]
        missing = [path for path in needed if not os.path.isfile(path)]
        if missing:
            raise winetest.HarnessError("not built: %s" % ", ".join(missing))


def frame(kind, payload=b""):
    return struct.pack("<IB", len(payload) + 1, kind) + payload


def tell_bridge_to_quit(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
            s.sendall(frame(0x07))
            answer = s.recv(5)
            return len(answer) == 5 and answer[4] == 0x80
    except OSError:
        return False


def run(state, args, env=None, timeout=STEP_TIMEOUT, what=None):
    """A Wine command whose output goes to the world's log; its exit code."""
    with state.log("phone-world.log") as out:
        proc = subprocess.run(args, env=env or state.env(), stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                              timeout=timeout)
    if what is not None and proc.returncode != 0:
        raise winetest.HarnessError("%s failed (%d); see %s" % (what, proc.returncode, state.logs))
    return proc.returncode


def start_detached(args, env, log_path):
    with open(log_path, "ab") as log:
        return subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                start_new_session=True)


def still_ours(pid, marker):
    """True while `pid` is the process this world started (its command line names
    `marker`), so a recycled id is never ended. A process whose command line reads
    empty is between Wine's executables and counts as ours; a zombie has ended."""
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            if f.read().rsplit(b")", 1)[-1].split()[0] == b"Z":
                return False
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            command = f.read()
    except (OSError, IndexError):
        return False
    return not command or marker.encode() in command


def end_process(pid, marker):
    deadline = time.monotonic() + END_WAIT_S
    while time.monotonic() < deadline and still_ours(pid, marker):
        time.sleep(0.1)
    if still_ours(pid, marker):
        try:
            os.killpg(pid, signal.SIGKILL)
        except OSError:
            pass
        deadline = time.monotonic() + END_WAIT_S
        while time.monotonic() < deadline and still_ours(pid, marker):
            time.sleep(0.1)
    return not still_ours(pid, marker)


def wait_for_acts(log_path, source, act, count, process):
    """Waits (bounded) until the world's log holds `count` acts `act` of `source`: a
    stand-in's first act says it is ready. False if the process ends first."""
    deadline = time.monotonic() + DESKTOP_WAIT_S
    while time.monotonic() < deadline and process.poll() is None:
        try:
            with open(log_path, encoding="utf-8", errors="replace") as f:
                seen = sum(1 for line in f if line.split(" ")[1:3] == [source, act])
            if seen >= count:
                return True
        except OSError:
            pass
        time.sleep(0.05)
    return False


def wait_for_file(path, process):
    """Waits (bounded) until `path` exists; False if the process ends first without it."""
    deadline = time.monotonic() + DESKTOP_WAIT_S
    while time.monotonic() < deadline:
        if os.path.exists(path):
            return True
        if process.poll() is not None:
            return os.path.exists(path)
        time.sleep(0.05)
    return False


def routes_present(state, windows):
    dosdevices = os.path.join(state.prefix, "dosdevices")
    winusb = any("#simphone#" in name for name in os.listdir(dosdevices))
    if windows == "vista":
        return winusb
    return winusb and run(state, [winetest.WINE64, "sc", "query", SERIAL_SERVICE]) == 0


def world_paths(args, state):
    folder = os.path.abspath(args.world or state.path("phone-world"))
    return folder, os.path.join(folder, "world.json")


def save(record_path, record):
    with open(record_path + ".part", "w") as f:
        json.dump(record, f, indent=1)
    os.replace(record_path + ".part", record_path)


def up(args, state):
    built = Built(args.build)
    built.require(args.windows)
    folder, record_path = world_paths(args, state)
    if os.path.exists(folder):
        shutil.rmtree(folder)
    os.makedirs(folder)
    phone = os.path.join(folder, "phone")
    results = os.path.join(folder, "bridge")
    port_file = os.path.join(folder, "port")
    lifetime_ms = str(args.lifetime_s * 1000)
    record = {"windows": args.windows, "build": built.build, "steps": []}

    def did(step, **details):
        record["steps"].append(dict(step=step, **details))
        save(record_path, record)

    save(record_path, record)
    # The window needs the desktop the prefix's programs share: the harness's X
    # display when it runs one.
    env = state.env(state.display())
    env["FLASHWISE_PHONE"] = winetest.windows_path(phone)

    command = [winetest.WINE, built.setup]
    if args.phone_ini:
        command += ["--state", winetest.windows_path(os.path.abspath(args.phone_ini))]
    run(state, command + [winetest.windows_path(phone)], env=env, what="SimPhoneSetup")
    did("phone")

    phone_win = winetest.windows_path(phone)
    if args.windows == "vista":
        for name in SERVICES:
            run(state, [winetest.WINE, built.service_ctl, "remove", name], env=env)
            run(state, [winetest.WINE, built.service_ctl, "install", name, winetest.windows_path(built.service),
                        "--start", "auto", "--phone", phone_win] + args.service_options.get(name, []),
                env=env, what="installing the service %s" % name)
            did("service", name=name)
            run(state, [winetest.WINE, built.service_ctl, "preset", name, "running"], env=env,
                what="starting the service %s" % name)
        watch = start_detached([winetest.WINE, built.service_ctl, "watch"] + list(SERVICES) +
                               ["--phone", phone_win, "--lifetime-ms", lifetime_ms], env,
                               os.path.join(folder, "servicewatch.log"))
        did("process", pid=watch.pid, marker="SimServiceCtl.exe", what="the watch of the services' start types")
        # A change made before the watch has read the start types would go unseen.
        if not wait_for_acts(os.path.join(phone, "world.log"), "scm", "watch", len(SERVICES), watch):
            raise winetest.HarnessError("the watch of the services did not start")
    else:
        dccman = start_detached([winetest.WINE, built.dccman, "--lifetime-ms", lifetime_ms, "--phone", phone_win,
                                 "--answer", str(args.dccman_answer)], env, os.path.join(folder, "dccman.log"))
        did("process", pid=dccman.pid, marker="SimDccMan.exe", what="the DccMan Class window")
        # Up once its window is there and it holds the phone.
        if not wait_for_acts(os.path.join(phone, "world.log"), "dccman", "start", 1, dccman):
            raise winetest.HarnessError("the connection manager did not start")

    if routes_present(state, args.windows):
        print("phone-world: the boot-loader routes are in the prefix already; left as they are")
    else:
        command = [sys.executable, ROUTES, "up", "--state", state.root, "--routes-exe", built.routes,
                   "--winusb-dll", built.winusb]
        if os.path.isfile(built.driver):
            command += ["--serial-driver", built.driver, "--serial-numbers", "1"]
        did("routes", routes=built.routes)
        if subprocess.run(command, stdin=subprocess.DEVNULL, timeout=4 * STEP_TIMEOUT).returncode != 0:
            raise winetest.HarnessError("the boot-loader routes did not come up")

    transport = "serial" if args.windows == "xp" else "winusb"
    if args.windows == "xp":
        # Taken down after the bridge has gone: a driver that stops while the bridge
        # still runs may sit out a whole answer bound of its own before it unloads.
        did("serial-driver")
    bridge = start_detached([winetest.WINE, built.bridge, "--out", winetest.windows_path(results), "--port-file",
                          winetest.windows_path(port_file), "--transport", transport, "--capture",
                          "--phone", winetest.windows_path(phone), "--idle-timeout-ms", lifetime_ms] +
                         [option for fault in args.fault for option in ("--fault", fault)] +
                         (["--write-rate", str(args.write_rate)] if args.write_rate else []),
                            env, os.path.join(folder, "bridge.log"))
    did("process", pid=bridge.pid, marker="BootLoaderBridge.exe", what="the bridge")
    deadline = time.monotonic() + PORT_WAIT_S
    port = None
    # Its own child still: the exit status tells, where the command line may not while
    # Wine is starting the program.
    while port is None and time.monotonic() < deadline and bridge.poll() is None:
        try:
            with open(port_file) as f:
                port = int(f.read().strip())
        except (FileNotFoundError, ValueError):
            time.sleep(0.05)
    if port is None:
        raise winetest.HarnessError("the bridge did not start; see %s" % os.path.join(folder, "bridge.log"))
    record["steps"][-1]["port"] = port
    save(record_path, record)

    if args.windows == "xp":
        # The serial devices exist while the driver runs, so the driver starts when the
        # phone has restarted into its boot loader (a watcher of the phone's state).
        watcher = start_detached([sys.executable, os.path.abspath(__file__), "watch", "--state", state.root,
                                  "--world", folder, "--port", str(port), "--lifetime-s", str(args.lifetime_s)],
                                 os.environ.copy(), os.path.join(folder, "watch.log"))
        did("process", pid=watcher.pid, marker="phone-world.py", what="the watcher of the phone's mode")
        # A phone that starts in its boot loader is there as the world comes up.
        if phone_in_boot_loader(os.path.join(phone, "phone.ini")) and not wait_for_file(
                os.path.join(folder, "driver.started"), watcher):
            raise winetest.HarnessError("the serial driver did not start for a phone in its boot loader; see %s" %
                                        os.path.join(folder, "watch.log"))
    else:
        # Discovery finds the boot loader's interface only while the phone runs it; the
        # interface as the routes left it comes back at `down` (a step before the
        # follower's, so taken after the follower has ended).
        did("presence", routes=built.routes)
        follower = start_detached([winetest.WINE, built.routes, "winusb-follow", "--lifetime-ms", lifetime_ms], env,
                                  os.path.join(folder, "presence.log"))
        did("process", pid=follower.pid, marker="BootLoaderRoutes.exe", what="the interface's follower")
        if not wait_for_acts(os.path.join(phone, "world.log"), "usb", "interface", 1, follower):
            raise winetest.HarnessError("the interface's follower did not start; see %s" %
                                        os.path.join(folder, "presence.log"))

    with open(os.path.join(folder, "world.env"), "w") as f:
        f.write("FLASHWISE_PHONE=%s\n" % winetest.windows_path(phone))
        f.write("FLASHWISE_BOOTLOADER=127.0.0.1:%d\n" % port)
        f.write("FLASHWISE_WORLD_WINDOWS=%s\n" % args.windows)
        f.write("FLASHWISE_WORLD_RESULTS=%s\n" % results)
        f.write("FLASHWISE_WORLD_LOG=%s\n" % os.path.join(phone, "world.log"))
    print("phone world (%s) up in %s: phone %s, bridge on 127.0.0.1:%d" % (args.windows, folder, phone, port))


def down(args, state):
    folder, record_path = world_paths(args, state)
    if not os.path.exists(record_path):
        print("phone-world: no world in %s" % folder)
        return 0
    with open(record_path) as f:
        record = json.load(f)
    built = Built(record["build"])
    env = state.env()
    failures = []
    for step in reversed(record["steps"]):
        try:
            kind = step["step"]
            if kind == "serial-driver":
                winetest.stop_serial_driver(state)
            elif kind == "process":
                if step.get("port"):
                    tell_bridge_to_quit(step["port"])
                else:
                    # The window's lifetime and the watcher's are their only ways out; end them now.
                    try:
                        os.killpg(step["pid"], signal.SIGTERM)
                    except OSError:
                        pass
                if not end_process(step["pid"], step["marker"]):
                    failures.append("%s (pid %d) did not end" % (step["what"], step["pid"]))
            elif kind == "presence":
                if run(state, [winetest.WINE, step["routes"], "winusb-present", "1"], env=env) != 0:
                    failures.append("the boot loader's interface was not made present again")
            elif kind == "routes":
                if subprocess.run([sys.executable, ROUTES, "down", "--state", state.root, "--routes-exe",
                                   step["routes"]], stdin=subprocess.DEVNULL,
                                  timeout=4 * STEP_TIMEOUT).returncode != 0:
                    failures.append("the boot-loader routes did not go")
            elif kind == "service":
                if run(state, [winetest.WINE, built.service_ctl, "remove", step["name"]], env=env) != 0:
                    failures.append("the service %s was not removed" % step["name"])
        except (winetest.HarnessError, subprocess.TimeoutExpired, OSError) as error:
            failures.append("%s: %s" % (step["step"], error))
    os.remove(record_path)
    if failures:
        raise winetest.HarnessError("; ".join(failures))
    print("phone world in %s down" % folder)
    return 0


def phone_in_boot_loader(phone_ini):
    """The phone's writers replace phone.ini by a rename, so one plain read sees a
    whole state. Only `mode` in [phone] matters here."""
    try:
        with open(phone_ini, encoding="utf-8", errors="replace") as f:
            text = f.read()
    except OSError:
        return False
    section = None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            section = line[1:-1].strip().lower()
        elif section == "phone" and "=" in line and not line.startswith(("#", ";")):
            key, _, value = line.partition("=")
            if key.strip().lower() == "mode":
                return value.strip() == "bootloader"
    return False


def watch(args, state):
    """xp: waits for the phone to enter its boot loader, then starts the serial driver
    pointed at the bridge (the devices appear as the boot loader enumerates)."""
    folder, _ = world_paths(args, state)
    phone_ini = os.path.join(folder, "phone", "phone.ini")
    deadline = time.monotonic() + args.lifetime_s
    while time.monotonic() < deadline:
        if phone_in_boot_loader(phone_ini):
            print("phone-world: the phone is in its boot loader; starting the serial driver", flush=True)
            winetest.start_serial_driver(state, args.port)
            with open(os.path.join(folder, "driver.started"), "w") as f:
                f.write("%d\n" % args.port)
            print("phone-world: serial driver started", flush=True)
            return 0
        time.sleep(0.05)
    print("phone-world: the phone did not enter its boot loader within %d s" % args.lifetime_s)
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("verb", choices=("up", "down", "watch"))
    parser.add_argument("--state", required=True, help="the harness's state folder (BUILD/wine)")
    parser.add_argument("--world", help="the world's own folder (default: DIR/phone-world)")
    parser.add_argument("--build", help="the Windows build folder (up)")
    parser.add_argument("--windows", choices=("xp", "vista"), help="the Windows path (up)")
    parser.add_argument("--phone-ini", help="the phone's state to start from (up)")
    parser.add_argument("--lifetime-s", type=int, default=900, help="bound on the world's processes (up)")
    parser.add_argument("--dccman-answer", type=int, default=0,
                        help="xp: what the connection manager answers its message (up; nonzero: not responding)")
    parser.add_argument("--service", action="append", default=[], metavar="NAME:OPTIONS",
                        help="vista: SimService options for one service, e.g. WcesComm:--refuse-stop (up)")
    parser.add_argument("--fault", action="append", default=[], metavar="SPEC",
                        help="a misbehaviour of the boot loader, e.g. result-code:data:2:0x88 (up)")
    parser.add_argument("--write-rate", type=int, default=0, metavar="BYTES_PER_S",
                        help="the boot loader writes at this pace, as a phone's flash does (up)")
    parser.add_argument("--port", type=int, help=argparse.SUPPRESS)
    args = parser.parse_args()
    state = winetest.State(args.state)
    try:
        if not os.path.exists(state.path("prefix.ready")):
            raise winetest.HarnessError("the prefix is not set up (the wine_prefix fixture brings it up)")
        if args.verb == "up":
            if not args.build or not args.windows:
                raise winetest.HarnessError("up needs --build and --windows")
            if not 10 <= args.lifetime_s <= 24 * 3600:
                raise winetest.HarnessError("--lifetime-s is 10 to 86400")
            args.service_options = {}
            for given in args.service:
                name, _, options = given.partition(":")
                if name not in SERVICES:
                    raise winetest.HarnessError("--service names WcesComm or RapiMgr, not %r" % name)
                args.service_options[name] = options.split()
            # Checked before anything is made: a refused second up leaves the first world be.
            folder, record_path = world_paths(args, state)
            if os.path.exists(record_path):
                raise winetest.HarnessError("a world is up in %s already; take it down first" % folder)
            try:
                up(args, state)
            except BaseException:
                # Half a world is taken down again, so nothing is left behind.
                try:
                    down(args, state)
                except (winetest.HarnessError, subprocess.TimeoutExpired, OSError) as error:
                    print("phone-world: taking the half-made world down: %s" % error, file=sys.stderr)
                raise
        elif args.verb == "watch":
            return watch(args, state)
        else:
            down(args, state)
    except (winetest.HarnessError, subprocess.TimeoutExpired, OSError) as error:
        print("phone-world: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
