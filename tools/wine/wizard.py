"""A person at the desk, driving the wizard under Wine through the GUI driver: the
windows it can tell apart, the texts it reads, the buttons it presses. The scenario
runner, the demo and the benchmark share it.

Every window of the program is told by what it holds, not by its title (the three
pages share one): the welcome page holds Next (1004), the update page Update (1001),
the finish page Finish (8), a wait window the label 1012 (text 21: the fetch, text 43:
the connection set-up), a message box its text (65535).
"""

import os
import re
import time

import winetest

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))

MESSAGE_TEXT = 0xFFFF
BUTTONS = {"OK": 1, "Cancel": 2, "Yes": 6, "No": 7, "Next": 1004, "Update": 1001}
BUTTON_NAMES = {v: k for k, v in BUTTONS.items()}

WELCOME, UPDATE, FINISH, FETCH, SETUP, MESSAGE, OTHER = (
    "welcome", "update", "finish", "fetch", "setup", "message", "other")
# The control that tells a window's kind, and the wait windows' labels by text id.
KIND_CONTROLS = ((1004, WELCOME), (1001, UPDATE), (8, FINISH), (MESSAGE_TEXT, MESSAGE))
WAIT_LABEL = 1012
WAIT_TEXTS = {21: FETCH, 43: SETUP}

# Update page controls.
UPDATE_BUTTON, CANCEL_BUTTON, NEXT_BUTTON, FINISH_BUTTON = 1001, 2, 1004, 8
CURRENT_ROM, CURRENT_RADIO, NEW_ROM, NEW_RADIO = 1007, 1009, 1016, 1017
PROGRESS_BAR = 1000
WELCOME_STATUS = 1021
INSTRUCTION = 1010

# The files the program writes into its working folder.
HELPER_FILES = ("SysReboot.exe", "DeviceSpy.exe", "DeviceMode.exe", "wcestest.exe")
IMAGE_FILES = ("Tarn_G4.abi", "Tarn_G4_SPBL.abi")
WRITTEN_FILES = HELPER_FILES + IMAGE_FILES + ("ExtRom.tmp",)


class Failure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def equal(actual, expected, what):
    check(actual == expected, "%s:\n  expected %r\n  got      %r" % (what, expected, actual))


class Texts:
    """The texts the user sees, read from the tree the program was built from: the
    string table with the model's name put in, and the release's texts by the
    layer rule (the language-neutral entry first)."""

    def __init__(self, release="demo"):
        ids = {}
        with open(os.path.join(ROOT, "res", "ResourceIds.h"), encoding="utf-8") as f:
            for name, number in re.findall(r"^#define (IDS_\w+) (\d+)$", f.read(), re.M):
                ids[name] = int(number)
        self.strings = {}
        with open(os.path.join(ROOT, "res", "Strings.rc"), encoding="utf-8") as f:
            for name, text in re.findall(r'^\s+(IDS_\w+)\s+"((?:[^"]|"")*)"\s*$', f.read(), re.M):
                self.strings[ids[name]] = text.replace('""', '"').replace("\\n", "\n")
        folder = os.path.join(ROOT, "releases", release, "text")
        self.release = {}
        for number in range(156, 162):
            for layer in ("neutral", "base"):
                path = os.path.join(folder, layer, "%d.txt" % number)
                if os.path.exists(path):
                    with open(path, "rb") as f:
                        self.release[number] = f.read().split(b"\0")[0].decode("latin-1")
                    break
        self.model = self.release[161]

    def text(self, number, filled=True):
        text = self.strings[number]
        return text.replace("KROV_WORD_TEMPLATE", self.model) if filled else text

    @property
    def caption(self):
        return self.text(22)

    @property
    def new_rom(self):
        return self.release[156][:50]

    @property
    def new_radio(self):
        return self.release[157][:50]


class Window:
    def __init__(self, hwnd, kind, title, text=""):
        self.hwnd, self.kind, self.title, self.text = hwnd, kind, title, text
        self.seen = time.monotonic()
        self.gone = None

    def __repr__(self):
        return "%s %d%s" % (self.kind, self.hwnd, " %r" % self.text[:40] if self.text else "")


class Desk:
    """The program's windows as the person sees them, polled through the driver: each
    window is classified once, when it first shows, and its going is noted."""

    def __init__(self, driver, texts, log=print):
        self.driver = driver
        self.texts = texts
        self.log = log
        self.windows = {}
        self.timeline = []
        self.started = time.monotonic()
        self._wait_kinds = {texts.text(n): kind for n, kind in WAIT_TEXTS.items()}

    def _classify(self, hwnd, title):
        try:
            controls = {c["id"]: c for c in self.driver.controls(hwnd)["controls"]}
        except winetest.DriverError:
            return None  # gone while it was read
        for control, kind in KIND_CONTROLS:
            if control in controls:
                return Window(hwnd, kind, title, controls[control]["text"] if kind == MESSAGE else "")
        if WAIT_LABEL in controls:
            text = controls[WAIT_LABEL]["text"]
            return Window(hwnd, self._wait_kinds.get(text, OTHER), title, text)
        return Window(hwnd, OTHER, title)

    def poll(self):
        """Notes what appeared and went since the last look."""
        shown = {w["hwnd"]: w for w in self.driver.windows()}
        for hwnd, w in shown.items():
            if hwnd not in self.windows or self.windows[hwnd].gone is not None:
                window = self._classify(hwnd, w["title"])
                if window is None:
                    continue
                self.windows[hwnd] = window
                self.timeline.append(("shown", window, window.seen))
                self.log("  %6.1f s  shown %r" % (window.seen - self.started, window))
        for hwnd, window in self.windows.items():
            if window.gone is None and hwnd not in shown:
                window.gone = time.monotonic()
                self.timeline.append(("gone", window, window.gone))
                self.log("  %6.1f s  gone  %r" % (window.gone - self.started, window))
        return shown

    def present(self, kind):
        return [w for w in self.windows.values() if w.kind == kind and w.gone is None]

    def shown_count(self, kind, since=0.0):
        return sum(1 for event, w, t in self.timeline if event == "shown" and w.kind == kind and t >= since)

    def wait_for(self, kinds, timeout_s, every=None, exclude=()):
        """The first window of one of `kinds` that is up (not one of `exclude`);
        `every` runs on each round (progress samples)."""
        deadline = time.monotonic() + timeout_s
        while True:
            self.poll()
            for window in self.windows.values():
                if window.kind in kinds and window.gone is None and window.hwnd not in exclude:
                    return window
            if every:
                every()
            if time.monotonic() >= deadline:
                raise Failure("no %s window within %.0f s; up: %r" % ("/".join(kinds), timeout_s,
                              [w for w in self.windows.values() if w.gone is None]))
            time.sleep(0.05)

    def wait_gone(self, window, timeout_s):
        deadline = time.monotonic() + timeout_s
        while window.gone is None:
            self.poll()
            if window.gone is not None:
                break
            if time.monotonic() >= deadline:
                raise Failure("%r is still up after %.0f s" % (window, timeout_s))
            time.sleep(0.05)

    def controls(self, window):
        return {c["id"]: c for c in self.driver.controls(window.hwnd)["controls"]}

    def press(self, window, button):
        self.log("  %6.1f s  press %s on %r" % (time.monotonic() - self.started, button, window))
        self.driver.click(window.hwnd, BUTTONS.get(button, button))

    def answer(self, box, button, timeout_s=15):
        """Presses a message box's button and waits for it to go."""
        self.press(box, button)
        self.wait_gone(box, timeout_s)

    def message(self, number, owner=0, buttons=("OK",), filled=True, timeout_s=20):
        """The next message box: text `number`, caption 22 filled, owned by the window
        `owner` (0: no owner), with exactly `buttons`."""
        box = self.wait_for((MESSAGE,), timeout_s)
        equal(box.text, self.texts.text(number, filled), "text of the message box")
        equal(box.title, self.texts.caption, "caption of the message box %d" % number)
        info = self.driver.info(box.hwnd)
        equal(info["owner"], owner or 0, "owner of the message box %d" % number)
        equal(sorted(b["id"] for b in info["buttons"]), sorted(BUTTONS[b] for b in buttons),
              "buttons of the message box %d" % number)
        return box

    def enabled(self, window, control):
        return self.controls(window)[control]["enabled"]

    def wait_enabled(self, window, control, timeout_s, every=None):
        deadline = time.monotonic() + timeout_s
        while not self.enabled(window, control):
            if every:
                every()
            self.poll()
            if window.gone is not None:
                raise Failure("%r went while control %d was awaited" % (window, control))
            if time.monotonic() >= deadline:
                raise Failure("control %d of %r not enabled within %.0f s" % (control, window, timeout_s))
            time.sleep(0.05)


def remaining_files(folder, names=WRITTEN_FILES):
    return [n for n in names if os.path.lexists(os.path.join(folder, n))]


def image_units(path):
    """The transfer units of an image file as the boot loader keeps them: {code: bytes}
    for each present section (codes 50 to 54; the image's own layout)."""
    import struct
    with open(path, "rb") as f:
        data = f.read()
    word = lambda offset: struct.unpack_from("<I", data, offset)[0]  # noqa: E731
    l50, l51, l52, l53, l54 = word(0x30), word(0x14) + word(0x18), word(0x24), word(0x28), word(0x1C) + word(0x2C)
    units = {}
    at = 256
    for code, length in ((50, l50), (51, l51), (52, l52), (53, l53), (54, l54)):
        if length:
            units[code] = data[at:at + length]
        at += length
    return units
