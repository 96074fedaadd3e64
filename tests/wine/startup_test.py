#!/usr/bin/env python3
"""Start-up of the program under Wine, one scenario per run: the notice, the library
probes of the two platform paths, the translation library and the welcome page.

The harness has set the Windows version and the libraries for the program's copy
(FLASHWISE_PROGRAM); the library doubles append their own path to
FLASHWISE_PROBE_LOG when they load, which is how a probe is seen.
"""

import argparse
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "wine"))
import winetest  # noqa: E402
from wizard import Failure, check, equal  # noqa: E402

MODEL = "Krov Q512"

CAPTION = "Flashwise for " + MODEL
NOTICE = ("1. ActiveSync 4.5(Windows XP) or WMDC 6.1+ (Windows Vista) is required to run this upgrade tool.\n"
          "2. Please do not run this upgrade tool via a USB HUB.")
NO_WINUSB = ("Failed to load winusb.dll.\nPlease make sure your PC is installed with Microsoft Windows Mobile "
             "Device Center.")
NO_RAPI = "Failed to load rapi.dll.\nPlease make sure your PC is installed with Microsoft ActiveSync."
TITLE = "Flashwise -  Install Shield Wizard for " + MODEL
WELCOME_CONTROLS = {
    1004: "Next",
    2: "Cancel",
    1002: "Welcome To Flashwise\n(For " + MODEL + " Only)",
    1018: "This program will walk you through the updating process.",
    1019: ("1. Please make sure your PC is installed with Microsoft ActiveSync 4.5+ (Windows XP) or WMDC 6.1+ "
           "(Windows Vista). \n2. Please make sure the device has been connected to the USB cable. \n3. Please make "
           "sure ActiveSync or WMDC connection is established with the device. \n4. Please back up your device "
           "before continuing. \n5. Please close all other applications before proceeding."),
    1020: " ",
    1021: "",
    1022: "Please click Next to continue or Cancel to exit.",
    1023: " ",
}
QUIT = "Do you want to cancel upgrade? Click \"Yes\" to quit. Click \"No\" to return."
MESSAGE_TEXT = 0xFFFF
OK = 1
CANCEL = 2
YES = 6

# The test translation puts this in front of every text of its own.
SATELLITE_MARKER = "CHT: "

WAIT_MS = 15000


class Run:
    def __init__(self, language=None):
        self.folder = os.environ["FLASHWISE_TEST_DIR"]
        self.program = os.environ["FLASHWISE_PROGRAM"]
        self.display = os.environ.get("DISPLAY")
        env = dict(os.environ)
        if language:
            env["LC_ALL"] = language
        self.driver = winetest.Driver(os.environ["FLASHWISE_GUIDRIVER"], env)
        self.default_icon = None
        self.driver.start('"%s"' % os.environ["FLASHWISE_PROGRAM_WIN"], winetest.windows_path(self.folder))

    def shot(self, name):
        if self.display:
            winetest.screenshot(self.display, os.path.join(self.folder, "screens", name + ".png"))

    def message(self, text, marker=""):
        """The next message box: its caption, text, no owner and OK alone, then OK."""
        box = self.driver.find("#32770", marker + CAPTION, WAIT_MS)
        equal(self.driver.text(box["hwnd"], MESSAGE_TEXT), marker + text, "message box text")
        info = self.driver.info(box["hwnd"])
        equal(info["owner"], 0, "owner window of a start-up message box")
        equal([b["id"] for b in info["buttons"]], [OK], "buttons of a start-up message box")
        if self.default_icon is None and self.display:
            # A message box has no icon of the program's: Wine shows its default.
            self.default_icon = winetest.x_window_icon(self.display, box["title"]).get((32, 32))
        self.shot("message")
        self.driver.click(box["hwnd"], OK)
        self.driver.gone(box["hwnd"], WAIT_MS)

    def welcome_page(self, marker=""):
        """The welcome page with every text in place, then Cancel and Yes end the program."""
        page = self.driver.find("#32770", marker + TITLE, WAIT_MS)
        self.shot("welcome")
        controls = {c["id"]: c for c in self.driver.controls(page["hwnd"])["controls"]}
        for control, text in WELCOME_CONTROLS.items():
            check(control in controls, "the welcome page has no control %d" % control)
            expected = marker + text if control != 1021 else text
            equal(controls[control]["text"], expected, "welcome page control %d" % control)
        if self.display:
            # Wine 8 does not answer WM_GETICON across processes; the X server has the
            # icons Wine drew from the ones the page set.
            icons = winetest.x_window_icon(self.display, page["title"])
            check((32, 32) in icons and (16, 16) in icons, "the welcome page lacks a big and a small icon: %r"
                  % sorted(icons))
            check(icons[(32, 32)] != self.default_icon, "the welcome page shows Wine's default icon")
        # Cancel asks first; Yes ends the page and the program.
        self.driver.click(page["hwnd"], CANCEL)
        box = self.driver.find("#32770", marker + CAPTION, WAIT_MS)
        equal(self.driver.text(box["hwnd"], MESSAGE_TEXT), marker + QUIT, "quit confirmation")
        self.driver.click(box["hwnd"], YES)
        self.driver.gone(page["hwnd"], WAIT_MS)

    def ends(self):
        code = self.driver.exit_code(WAIT_MS)
        equal(code, 0, "exit code")
        self.driver.close()

    def probes(self):
        """The libraries that loaded, as the doubles recorded them (lower case)."""
        log = os.path.join(self.folder, "probes.log")
        if not os.path.exists(log):
            return []
        with open(log, encoding="utf-8") as f:
            return [line.strip().lower() for line in f if line.strip()]


SYSTEM_RAPI = r"c:\windows\system32\rapi.dll"
SYSTEM_WINUSB = r"c:\windows\system32\winusb.dll"


def xp_never_probes_winusb(args):
    run = Run()
    run.message(NOTICE)
    run.welcome_page()
    run.ends()
    equal(run.probes(), [SYSTEM_RAPI], "libraries loaded on the XP path with WinUSB present")


def xp_without_winusb(args):
    run = Run()
    run.message(NOTICE)
    run.welcome_page()
    run.ends()
    equal(run.probes(), [SYSTEM_RAPI], "libraries loaded on the XP path")


def vista_with_both(args):
    run = Run()
    run.message(NOTICE)
    run.welcome_page()
    run.ends()
    equal(run.probes(), [SYSTEM_WINUSB, SYSTEM_RAPI], "libraries loaded on the Vista path, in order")


def vista_without_winusb(args):
    run = Run()
    run.message(NOTICE)
    run.message(NO_WINUSB)
    run.ends()
    equal(run.probes(), [], "libraries loaded after WinUSB was missing")


def vista_without_rapi(args):
    run = Run()
    run.message(NOTICE)
    run.message(NO_RAPI)
    run.ends()
    equal(run.probes(), [SYSTEM_WINUSB], "libraries loaded on the Vista path without Rapi.dll")


def xp_without_rapi(args):
    run = Run()
    run.message(NOTICE)
    run.message(NO_RAPI)
    run.ends()
    equal(run.probes(), [], "libraries loaded on the XP path without Rapi.dll")


def place_satellite(args):
    check(args.satellite and os.path.isfile(args.satellite), "no translation library was given")
    program = os.environ["FLASHWISE_PROGRAM"]
    name = os.path.splitext(os.path.basename(program))[0] + "CHT.dll"
    shutil.copyfile(args.satellite, os.path.join(os.path.dirname(program), name))


def chinese_with_satellite(args):
    place_satellite(args)
    run = Run(language="zh_TW.UTF-8")
    run.message(NOTICE, marker=SATELLITE_MARKER)
    run.welcome_page(marker=SATELLITE_MARKER)
    run.ends()


def chinese_without_satellite(args):
    run = Run(language="zh_TW.UTF-8")
    run.message(NOTICE)
    run.welcome_page()
    run.ends()


def other_language_ignores_satellite(args):
    place_satellite(args)
    # Chinese of another region: only Traditional Chinese (Taiwan) has a translation.
    run = Run(language="zh_CN.UTF-8")
    run.message(NOTICE)
    run.welcome_page()
    run.ends()


def planted_rapi_never_loads(args):
    folder = os.environ["FLASHWISE_TEST_DIR"]
    rapi = os.path.join(winetest.State(os.environ["FLASHWISE_WINE_STATE"]).prefix, "drive_c", "windows",
                        "syswow64", "rapi.dll")
    # Beside the program, which is also the working folder.
    for name in ("Rapi.dll", "Winusb.dll"):
        shutil.copyfile(rapi, os.path.join(folder, name))
    run = Run()
    run.message(NOTICE)
    run.welcome_page()
    run.ends()
    equal(run.probes(), [SYSTEM_WINUSB, SYSTEM_RAPI], "libraries loaded with doubles planted beside the program")


SCENARIOS = {f.__name__: f for f in (
    xp_never_probes_winusb, xp_without_winusb, vista_with_both, vista_without_winusb, vista_without_rapi,
    xp_without_rapi, chinese_with_satellite, chinese_without_satellite, other_language_ignores_satellite,
    planted_rapi_never_loads)}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    parser.add_argument("--satellite")
    args = parser.parse_args()
    try:
        SCENARIOS[args.scenario](args)
    except (Failure, winetest.DriverError, winetest.HarnessError) as failure:
        print("FAILED %s: %s" % (args.scenario, failure), file=sys.stderr)
        return 1
    print("passed %s" % args.scenario)
    return 0


if __name__ == "__main__":
    sys.exit(main())
