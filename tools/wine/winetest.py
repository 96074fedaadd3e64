"""The Wine side of the Windows tests: one prefix per build folder, a persistent
wineserver, an X server for tests that show windows, and a driver that reads and
presses the program's windows.

State lives in one folder (the build folder's wine/):
  prefix/            the Wine prefix, made once and reused
  prefix.made        written when the prefix has been made
  prefix.ready       the version of the settings the prefix has (configure_prefix)
  display            the X display of the running Xvfb
  xvfb.pid           its process id
  tests/<name>/      each test's own folder, made afresh for every run; output.txt
                     holds the test's output, each line with its time
  failures/<name>-<time>/  a copy of a failed test's folder, with what the shared
                     logs gained during it (shared-logs/); never overwritten
  logs/              what the prefix, the wineserver and Xvfb wrote
"""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import time

WINE = shutil.which("wine") or "/usr/bin/wine"
WINE64 = "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/bin/wineserver"

# Windows versions a test can ask for, as Wine names them.
WINDOWS_VERSIONS = {"xp": "winxp", "vista": "win7"}
LIBRARIES = ("rapi", "winusb")

PREFIX_TIMEOUT = 180
COMMAND_TIMEOUT = 60
# How long the driver may take beyond the wait a command asks for.
DRIVER_SLACK = 20


class HarnessError(Exception):
    pass


class State:
    def __init__(self, root):
        self.root = os.path.abspath(root)
        self.prefix = os.path.join(self.root, "prefix")
        self.logs = os.path.join(self.root, "logs")

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def env(self, display=None):
        env = dict(os.environ)
        env["WINEPREFIX"] = self.prefix
        env["WINEDEBUG"] = env.get("FLASHWISE_WINEDEBUG", "-all")
        # No Mono or Gecko: nothing here needs them and their installers ask questions.
        env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
        env.pop("WINESERVER", None)
        if display:
            env["DISPLAY"] = display
        else:
            env.pop("DISPLAY", None)
        return env

    def display(self):
        try:
            with open(self.path("display")) as f:
                return f.read().strip() or None
        except FileNotFoundError:
            return None

    def log(self, name):
        os.makedirs(self.logs, exist_ok=True)
        return open(os.path.join(self.logs, name), "ab")


def log_sizes(state):
    """How far each of the prefix's shared logs has got: copy_log_tails later takes
    what was written after."""
    sizes = {}
    if os.path.isdir(state.logs):
        for name in os.listdir(state.logs):
            if name.endswith(".log"):
                sizes[name] = os.path.getsize(os.path.join(state.logs, name))
    return sizes


def copy_log_tails(state, sizes, target):
    os.makedirs(target, exist_ok=True)
    for name in sorted(os.listdir(state.logs)) if os.path.isdir(state.logs) else []:
        if not name.endswith(".log"):
            continue
        with open(os.path.join(state.logs, name), "rb") as f:
            f.seek(sizes.get(name, 0))
            tail = f.read()
        if tail:
            with open(os.path.join(target, name), "wb") as out:
                out.write(tail)


# Lanes: prefixes side by side, each with its own wineserver, so that tests that take a
# whole prefix (their world's services, drivers and named objects are the prefix's)
# run two at a time. CTest hands each test a lane (cmake/wine-lanes.json); lane 1 is
# the state folder itself, the others live under lanes/.
def lane_root(base, lane):
    return os.path.abspath(base) if lane in (None, "", "1") else os.path.join(os.path.abspath(base), "lanes", lane)


def lane_given():
    """The lane CTest gave this test (CTEST_RESOURCE_GROUP_0_PREFIX=id:N,slots:1), or None."""
    value = os.environ.get("CTEST_RESOURCE_GROUP_0_PREFIX", "")
    fields = dict(part.split(":", 1) for part in value.split(",") if ":" in part)
    return fields.get("id")


def lanes_present(base):
    folder = os.path.join(os.path.abspath(base), "lanes")
    others = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    return [State(base)] + [State(lane_root(base, name)) for name in others]


def copy_prefix(source, target):
    """Makes `target`'s prefix a copy of `source`'s (both servers stopped) unless it is
    one already. The system's libraries are linked, not copied (a prefix is over a
    gigabyte of them); whatever the tests put into a prefix replaces a file rather
    than writing through it (install_file), and Wine saves its registry by renaming."""
    made = target.path("prefix.made")
    if os.path.exists(made) and os.path.getmtime(made) >= os.path.getmtime(source.path("prefix.made")):
        return False
    for name in ("prefix.made", "prefix.ready"):
        if os.path.exists(target.path(name)):
            os.remove(target.path(name))
    if os.path.exists(target.prefix):
        shutil.rmtree(target.prefix)
    os.makedirs(target.root, exist_ok=True)

    def link_or_copy(src, dst):
        if src.endswith(".reg") or os.path.getsize(src) < 65536:
            return shutil.copy2(src, dst)
        os.link(src, dst)
        return dst

    shutil.copytree(source.prefix, target.prefix, symlinks=True, copy_function=link_or_copy)
    with open(made, "w") as f:
        f.write("copied from %s\n" % source.prefix)
    return True


def install_file(source, target):
    """Puts a file into a prefix by replacing what is there: a linked file of another
    lane's prefix stays as it is."""
    if os.path.lexists(target):
        os.remove(target)
    shutil.copyfile(source, target)


# The simulated serial devices of the boot loader: a kernel driver's service that a
# world starts when its phone enters the boot loader and stops when it goes down.
SERIAL_SERVICE = "FlashwiseSerialSim"
SERIAL_PARAMETERS = r"HKLM\System\CurrentControlSet\Services\%s\Parameters" % SERIAL_SERVICE
# Above the driver's own bound for an answer of the bridge (30 s), which a stop may
# have to sit out.
SERIAL_SETTLE_S = 45
SERVICE_STOPPED, SERVICE_RUNNING = 1, 4


def serial_driver_state(state):
    """The driver service's state (1 stopped, 4 running, ...), or None without one."""
    proc = subprocess.run([WINE64, "sc", "query", SERIAL_SERVICE], env=state.env(), stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=COMMAND_TIMEOUT)
    for line in proc.stdout.splitlines():
        if line.strip().startswith("STATE"):
            try:
                return int(line.split(":", 1)[1].split()[0])
            except (IndexError, ValueError):
                return None
    return None


def _await_serial_driver(state, wanted, what):
    deadline = time.monotonic() + SERIAL_SETTLE_S
    while True:
        now = serial_driver_state(state)
        if now in wanted:
            return now
        if time.monotonic() > deadline:
            raise HarnessError("the serial driver was not %s within %d s (state %s); see %s" %
                               (what, SERIAL_SETTLE_S, now, state.logs))
        time.sleep(0.1)


def start_serial_driver(state, port):
    """Points the driver at a bridge and starts it once an earlier world's stop is over
    (a start while that one stops would find it still running, on the old port)."""
    _await_serial_driver(state, (SERVICE_STOPPED,), "stopped")
    if run_quiet(state, [WINE64, "reg", "add", SERIAL_PARAMETERS, "/v", "BridgePort", "/t", "REG_DWORD", "/d",
                         str(port), "/f"]) != 0:
        raise HarnessError("setting the serial driver's bridge port failed; see %s" % state.logs)
    if run_quiet(state, [WINE64, "sc", "start", SERIAL_SERVICE]) != 0:
        raise HarnessError("starting the serial driver failed; see %s" % state.logs)
    _await_serial_driver(state, (SERVICE_RUNNING,), "running")


def stop_serial_driver(state):
    """Stops the driver, so its devices go, and waits until it has."""
    run_quiet(state, [WINE64, "sc", "stop", SERIAL_SERVICE])
    _await_serial_driver(state, (SERVICE_STOPPED, None), "stopped")
    run_quiet(state, [WINE64, "reg", "delete", SERIAL_PARAMETERS, "/v", "BridgePort", "/f"])


def windows_path(unix_path):
    """Wine maps the whole Unix file system to drive Z:."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def run_quiet(state, args, timeout=COMMAND_TIMEOUT, display=None, log="wine.log"):
    """Runs a Wine command whose output nobody reads; its streams never hold a pipe."""
    with state.log(log) as out:
        return subprocess.run(args, env=state.env(display), stdin=subprocess.DEVNULL, stdout=out,
                              stderr=out, timeout=timeout).returncode


def _reg_string(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def import_registry(state, keys, wine=WINE):
    """Sets the registry in one Wine process (each process costs a few tenths of a
    second). `keys` is a list of (key, values): values None deletes the key, else a
    dict of values: a string, or an int for a DWORD."""
    lines = ["REGEDIT4", ""]
    for key, values in keys:
        key = key.replace("HKCU\\", "HKEY_CURRENT_USER\\").replace("HKLM\\", "HKEY_LOCAL_MACHINE\\")
        if values is None:
            lines += ["[-%s]" % key, ""]
            continue
        lines.append("[%s]" % key)
        lines += ["%s=%s" % (_reg_string(name), "dword:%08x" % value if isinstance(value, int) else _reg_string(value))
                  for name, value in values.items()]
        lines.append("")
    os.makedirs(state.logs, exist_ok=True)
    fd, path = tempfile.mkstemp(suffix=".reg", dir=state.logs)
    with os.fdopen(fd, "w", encoding="ascii", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")
    try:
        if run_quiet(state, [wine, "regedit", "/S", windows_path(path)]) != 0:
            raise HarnessError("regedit could not import %s" % path)
    finally:
        os.remove(path)


def start_server(state, display=None):
    """A persistent wineserver, then one warm-up process with its streams on /dev/null:
    the prefix's services start with that first process and inherit its streams.
    The desktop process starts then too and stays on the display it was given for
    the server's whole life, so the display must be up before the server is."""
    stop_server(state)
    with state.log("wineserver.log") as out:
        subprocess.run([WINESERVER, "-p"], env=state.env(display), stdin=subprocess.DEVNULL, stdout=out,
                       stderr=out, timeout=COMMAND_TIMEOUT, start_new_session=True)
    if run_quiet(state, [WINE, "cmd", "/c", "exit"], timeout=PREFIX_TIMEOUT, display=display) != 0:
        raise HarnessError("the warm-up process failed; see " + state.logs)


def stop_server(state):
    """Ends every Wine process of this prefix and waits for the server to go."""
    env = state.env()
    subprocess.run([WINESERVER, "-k"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=COMMAND_TIMEOUT)
    subprocess.run([WINESERVER, "-w"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=COMMAND_TIMEOUT)


def make_prefix(state):
    """Creates the prefix once; later runs reuse it."""
    if os.path.exists(state.path("prefix.made")):
        return False
    for name in ("prefix.made", "prefix.ready"):
        if os.path.exists(state.path(name)):
            os.remove(state.path(name))
    if os.path.exists(state.prefix):
        shutil.rmtree(state.prefix)
    os.makedirs(state.root, exist_ok=True)
    with state.log("wineserver.log") as out:
        subprocess.run([WINESERVER, "-p"], env=state.env(), stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                       timeout=COMMAND_TIMEOUT, start_new_session=True)
    if run_quiet(state, [WINE, "wineboot", "-i"], timeout=PREFIX_TIMEOUT, log="prefix.log") != 0:
        raise HarnessError("wineboot failed; see " + state.logs)
    stop_server(state)
    with open(state.path("prefix.made"), "w") as f:
        f.write("made\n")
    return True


# Raised whenever configure_prefix changes, so that existing prefixes are brought up
# to date without being made anew.
PREFIX_SETTINGS_VERSION = "2"


def configure_prefix(state):
    """Settings every test relies on; needs the wineserver running."""
    # A crash must end the process at once with an error, not open a debugger that
    # waits forever; both registry views hold the setting.
    debugger = [(r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug", {"Debugger": "", "Auto": "0"})]
    import_registry(state, debugger)
    import_registry(state, debugger, wine=WINE64)
    # No window manager runs on Xvfb: windows Wine leaves to one would be waited for
    # (two seconds at every close). A run on a real desktop turns this back on for
    # its program.
    import_registry(state, [(r"HKCU\Software\Wine\X11 Driver", {"Managed": "N"})])
    with open(state.path("prefix.ready"), "w") as f:
        f.write(PREFIX_SETTINGS_VERSION + "\n")


def prefix_settings_current(state):
    try:
        with open(state.path("prefix.ready")) as f:
            return f.read().strip() == PREFIX_SETTINGS_VERSION
    except FileNotFoundError:
        return False


def system_folder(state):
    """Where a 32-bit program finds system libraries in a 64-bit prefix."""
    return os.path.join(state.prefix, "drive_c", "windows", "syswow64")


def install_library(state, file_name, source):
    install_file(source, os.path.join(system_folder(state), file_name))


def app_key(exe_name):
    return "HKCU\\Software\\Wine\\AppDefaults\\" + exe_name


def configure_program(state, exe_name, windows, libraries):
    """The Windows version and the libraries one program sees, set for its name only
    so that tests with other names are not affected."""
    key = app_key(exe_name)
    settings = {"Version": WINDOWS_VERSIONS[windows]} if windows else {}
    # Present: our own double from the system folder. Absent: disabled, so loading
    # it fails as on a desktop without it (Wine would offer its own winusb otherwise).
    overrides = {lib: "native" if lib in libraries else "" for lib in LIBRARIES}
    import_registry(state, [(key, None), (key, settings), (key + "\\DllOverrides", overrides)])


def start_display(state):
    """Xvfb on the first free display number from 90, in a session of its own."""
    stop_display(state)
    for number in range(90, 140):
        if os.path.exists("/tmp/.X%d-lock" % number) or os.path.exists("/tmp/.X11-unix/X%d" % number):
            continue
        with state.log("xvfb.log") as out:
            proc = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=out, start_new_session=True)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if proc.poll() is not None:
                break
            if os.path.exists("/tmp/.X11-unix/X%d" % number):
                with open(state.path("xvfb.pid"), "w") as f:
                    f.write("%d\n" % proc.pid)
                with open(state.path("display"), "w") as f:
                    f.write(":%d\n" % number)
                return ":%d" % number
            time.sleep(0.05)
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    raise HarnessError("no X display could be started; see " + state.logs)


def stop_display(state):
    pid_file = state.path("xvfb.pid")
    try:
        with open(pid_file) as f:
            pid = int(f.read().strip())
    except (FileNotFoundError, ValueError):
        pid = None
    if pid:
        try:
            with open("/proc/%d/comm" % pid) as f:
                ours = f.read().strip() == "Xvfb"
        except FileNotFoundError:
            ours = False
        if ours:
            os.kill(pid, signal.SIGTERM)
            for _ in range(100):
                if not os.path.exists("/proc/%d" % pid):
                    break
                time.sleep(0.05)
            else:
                os.kill(pid, signal.SIGKILL)
    for name in ("xvfb.pid", "display"):
        try:
            os.remove(state.path(name))
        except FileNotFoundError:
            pass


def screenshot(display, path, window=None, frame=False, crop=None):
    """The whole screen (or one X window, with the window manager's frame when asked,
    or the screen's rectangle `crop` = (left, top, right, bottom)) as PNG, taken from
    the Linux side."""
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    env = dict(os.environ, DISPLAY=display)
    options = ["-frame"] if frame and window else []
    if crop and not window:
        left, top, right, bottom = crop
        options = ["-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top)]
    subprocess.run(["import"] + options + ["-window", window or "root", path], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30, check=True)


def x_window_icon(display, title):
    """The icons Wine handed to the X server for the window of this title, as
    {(width, height): pixels}; empty when the window has none."""
    env = dict(os.environ, DISPLAY=display)
    if not shutil.which("xwininfo") or not shutil.which("xprop"):
        raise HarnessError("xwininfo and xprop (package x11-utils) are needed to read a window's icon")
    info = subprocess.run(["xwininfo", "-name", title], env=env, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, timeout=30)
    ids = [line.split()[3] for line in info.stdout.splitlines() if "Window id:" in line]
    if not ids:
        raise HarnessError("no X window is named %r" % title)
    prop = subprocess.run(["xprop", "-notype", "-id", ids[0], "32c", "_NET_WM_ICON"], env=env,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=30).stdout
    if "=" not in prop:
        return {}
    numbers = [int(n) for n in prop.split("=", 1)[1].replace(",", " ").split()]
    icons = {}
    while len(numbers) >= 2:
        width, height = numbers[0], numbers[1]
        icons[(width, height)] = tuple(numbers[2:2 + width * height])
        numbers = numbers[2 + width * height:]
    return icons


def _escape(field):
    return str(field).replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


class DriverError(AssertionError):
    pass


class Driver:
    """The GUI driver, a Windows program that starts the program under test and then
    answers one command at a time. Every command carries its own bound."""

    def __init__(self, driver_exe, env, timeout=DRIVER_SLACK):
        self.timeout = timeout
        self.proc = subprocess.Popen([WINE, driver_exe], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, start_new_session=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def ask(self, *fields, bound_ms=0):
        line = "\t".join(_escape(f) for f in fields) + "\n"
        self.proc.stdin.write(line.encode("utf-8"))
        self.proc.stdin.flush()
        # The driver answers within its own bound; this one only catches a dead driver.
        answer = self._read_line(bound_ms / 1000.0 + self.timeout)
        if not answer:
            raise DriverError("the driver gave no answer to %r" % (fields,))
        try:
            return json.loads(answer)
        except ValueError:
            raise DriverError("the driver answered %r to %r" % (answer, fields))

    def _read_line(self, seconds):
        import selectors
        sel = selectors.DefaultSelector()
        sel.register(self.proc.stdout, selectors.EVENT_READ)
        if not sel.select(seconds):
            self.proc.kill()
            raise DriverError("the driver did not answer within %.0f s" % seconds)
        return self.proc.stdout.readline().decode("utf-8")

    def must(self, *fields, bound_ms=0):
        answer = self.ask(*fields, bound_ms=bound_ms)
        if not answer.get("ok"):
            raise DriverError("%s: %s" % (" ".join(str(f) for f in fields), json.dumps(answer)))
        return answer

    def start(self, command_line, folder="", output=""):
        """`output`: a Windows path for the program's standard output and error."""
        return self.must("start", command_line, folder, output)

    def find(self, window_class, title, timeout_ms=10000):
        return self.must("find", window_class, title, timeout_ms, bound_ms=timeout_ms)

    def find_with(self, window_class, title, control_id, text="", timeout_ms=10000, hidden=False):
        """A window that holds control `control_id` showing `text` (empty: any text):
        captionless wait windows, and pages that share one title; `hidden` finds one
        that is not shown yet (a page while it opens)."""
        return self.must("findctl", window_class, title, control_id, text, timeout_ms,
                         "hidden" if hidden else "", bound_ms=timeout_ms)

    def windows(self):
        return self.must("windows")["windows"]

    def info(self, hwnd):
        """owner (0 for none), owner_title, topmost, caption, enabled and buttons
        ([{id, text, enabled}]) of a window."""
        return self.must("info", hwnd)

    def close_window(self, hwnd):
        """WM_CLOSE, as the close box sends it."""
        return self.must("close", hwnd)

    def escape(self, hwnd):
        return self.must("escape", hwnd)

    def progress(self, hwnd, control_id):
        return self.must("progress", hwnd, control_id)["position"]

    def probe(self, hwnd, interval_ms=25):
        """Starts sending the window a message that does nothing every interval and
        timing its answer; probe_stop gives samples, timeouts, worst_ms, worst_at_ms."""
        return self.must("probe", hwnd, interval_ms)

    def probe_stop(self):
        return self.must("probe-stop")

    def controls(self, hwnd):
        return self.must("controls", hwnd)

    def text(self, hwnd, control_id):
        return self.must("text", hwnd, control_id)["text"]

    def click(self, hwnd, control_id):
        return self.must("click", hwnd, control_id)

    def icons(self, hwnd):
        return self.must("icons", hwnd)

    def gone(self, hwnd, timeout_ms=10000):
        return self.must("gone", hwnd, timeout_ms, bound_ms=timeout_ms)

    def memory(self):
        """working_set and peak_working_set of the running program, in bytes."""
        return self.must("memory")

    def exit_code(self, timeout_ms=10000):
        return self.must("exit", timeout_ms, bound_ms=timeout_ms)["code"]

    def close(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write(b"quit\n")
                self.proc.stdin.close()
                self.proc.wait(timeout=15)
            except (BrokenPipeError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()
        return self.proc.returncode
