"""The simulated phone world as one object for a program's run: phone-world.py up with
a phone of the caller's making, the environment a program of the world needs, and
what the world recorded (its log, the phone's state, the boot loader's results);
down again at the end.
"""

import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PHONE_WORLD = os.path.join(HERE, "phone-world.py")
STEP_TIMEOUT_S = 400
# How long the world may take to follow a change of the phone's mode.
FOLLOW_WAIT_S = 60


def phone_ini(settings, registry=None):
    """phone.ini text: [phone] keys, then registry keys ({key: {name: value}})."""
    lines = ["[phone]"] + ["%s=%s" % (k, v) for k, v in settings.items()]
    for key, values in (registry or {}).items():
        lines += ["", "[%s]" % key] + ["%s=%s" % (k, v) for k, v in values.items()]
    return "\n".join(lines) + "\n"


def read_ini(path):
    sections = {}
    section = None
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                line = line.strip()
                if line.startswith("[") and line.endswith("]"):
                    section = sections.setdefault(line[1:-1], {})
                elif section is not None and "=" in line and not line.startswith((";", "#")):
                    key, _, value = line.partition("=")
                    section[key.strip()] = value.strip()
    except FileNotFoundError:
        pass
    return sections


def _unescape(value):
    return value.replace("%0A", "\n").replace("%20", " ").replace("%25", "%")


class Act:
    def __init__(self, line):
        parts = line.split(" ")
        self.ms = int(parts[0])
        self.source = parts[1]
        self.act = parts[2]
        self.fields = {}
        for part in parts[3:]:
            name, _, value = part.partition("=")
            self.fields[name] = _unescape(value)

    def __repr__(self):
        return "%d %s %s %s" % (self.ms, self.source, self.act, self.fields)


class World:
    def __init__(self, state, build, folder, windows, phone, faults=(), services=(), lifetime_s=600, write_rate=0):
        self.state, self.build, self.folder, self.windows = state, build, folder, windows
        self.phone, self.faults, self.services, self.lifetime_s = phone, list(faults), list(services), lifetime_s
        self.write_rate = write_rate
        self.env = {}
        self.is_up = False

    def _world(self, verb, *extra):
        command = [sys.executable, PHONE_WORLD, verb, "--state", self.state, "--world", self.folder] + list(extra)
        return subprocess.run(command, stdin=subprocess.DEVNULL, timeout=STEP_TIMEOUT_S).returncode

    def up(self):
        os.makedirs(os.path.dirname(os.path.abspath(self.folder)), exist_ok=True)
        ini = os.path.abspath(self.folder) + ".phone.ini"
        with open(ini, "w", encoding="utf-8") as f:
            f.write(self.phone)
        extra = ["--build", self.build, "--windows", self.windows, "--phone-ini", ini,
                 "--lifetime-s", str(self.lifetime_s)]
        for fault in self.faults:
            extra += ["--fault", fault]
        for service in self.services:
            extra += ["--service", service]
        if self.write_rate:
            extra += ["--write-rate", str(self.write_rate)]
        if self._world("up", *extra) != 0:
            raise RuntimeError("the phone world did not come up")
        self.is_up = True
        with open(os.path.join(self.folder, "world.env")) as f:
            for line in f:
                key, _, value = line.strip().partition("=")
                if key:
                    self.env[key] = value

    def down(self):
        if not self.is_up:
            return True
        self.is_up = False
        return self._world("down") == 0

    def report(self, lines=15):
        """The tail of each of the world's own logs, for a run that failed."""
        for path in (os.path.join(self.folder, name)
                     for name in ("watch.log", "presence.log", "bridge.log", "dccman.log")):
            self._tail(path, lines)
        self._tail(os.path.join(self.state, "logs", "phone-world.log"), lines)

    @staticmethod
    def _tail(path, lines):
        try:
            with open(path, errors="replace") as f:
                kept = f.read().splitlines()[-lines:]
        except OSError:
            return
        print("--- %s" % path)
        for line in kept:
            print("    " + line)

    @property
    def phone_folder(self):
        return os.path.join(self.folder, "phone")

    @property
    def results(self):
        return self.env["FLASHWISE_WORLD_RESULTS"]

    def phone_state(self):
        return read_ini(os.path.join(self.phone_folder, "phone.ini"))

    def set_phone(self, **keys):
        """Changes [phone] keys between steps (every process re-reads the file). The
        phone's writers replace the file by a rename; a write between two of theirs
        is what a test may do (sim/phone/README.md). A change of `mode` returns once the
        desktop sees the phone as it now is: on the Vista path the boot loader's
        interface present or absent, on the XP path the serial driver started for a
        phone in its boot loader (bounded; an error if the world does not follow)."""
        self._write_phone(keys)
        if "mode" in keys:
            self._wait_for_mode(keys["mode"] == "bootloader")

    def _wait_for_mode(self, boot_loader):
        deadline = time.monotonic() + FOLLOW_WAIT_S
        while True:
            if self.windows == "vista":
                shown = self.acts("usb", "interface")
                if shown and shown[-1].fields.get("present") == ("1" if boot_loader else "0"):
                    return
            elif not boot_loader or os.path.exists(os.path.join(self.folder, "driver.started")):
                return
            if time.monotonic() > deadline:
                raise RuntimeError("the world did not follow the phone into mode %s within %d s" %
                                   ("bootloader" if boot_loader else "normal", FOLLOW_WAIT_S))
            time.sleep(0.05)

    def _write_phone(self, keys):
        path = os.path.join(self.phone_folder, "phone.ini")
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
        section = None
        done = set()
        out = []
        for line in lines:
            stripped = line.strip()
            if stripped.startswith("[") and stripped.endswith("]"):
                if section == "phone":
                    out += ["%s=%s" % (k, v) for k, v in keys.items() if k not in done]
                    done.update(keys)
                section = stripped[1:-1]
            elif section == "phone" and "=" in stripped and stripped.partition("=")[0].strip() in keys:
                key = stripped.partition("=")[0].strip()
                out.append("%s=%s" % (key, keys[key]))
                done.add(key)
                continue
            out.append(line)
        if section == "phone":
            out += ["%s=%s" % (k, v) for k, v in keys.items() if k not in done]
        with open(path + ".new", "w", encoding="utf-8") as f:
            f.write("\n".join(out) + "\n")
        os.replace(path + ".new", path)

    def acts(self, source=None, act=None):
        try:
            with open(os.path.join(self.phone_folder, "world.log"), encoding="utf-8", errors="replace") as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return []
        out = []
        for line in lines:
            try:
                a = Act(line)
            except (ValueError, IndexError):
                continue  # a writer that died half-way through a line
            if (source is None or a.source == source) and (act is None or a.act == act):
                out.append(a)
        return out

    def store(self):
        """The boot loader's flash store: {section code: bytes} of every unit it kept."""
        units = {}
        for name in sorted(os.listdir(self.results)) if os.path.isdir(self.results) else []:
            if name.startswith("unit-") and name.endswith(".bin"):
                with open(os.path.join(self.results, name), "rb") as f:
                    units[int(name[5:-4])] = f.read()
        return units

    def result_lines(self, name):
        try:
            with open(os.path.join(self.results, name)) as f:
                return [line.strip() for line in f if line.strip()]
        except FileNotFoundError:
            return []
