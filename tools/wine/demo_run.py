#!/usr/bin/env python3
"""Runs a release's wizard under Wine as far as it goes today (the welcome page),
saving a picture of every window it shows, then presses Cancel.

  demo_run.py --state DIR --program EXE --driver EXE --shots DIR [--display :N] [--pause S]

With --display the windows appear on that X display (a desktop's own, or Xvfb).
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winetest  # noqa: E402

WAIT_MS = 20000
MESSAGE_TEXT = 0xFFFF
OK = 1
CANCEL = 2
YES = 6


def window_shot(display, title, path, frame):
    """The window alone when the X server knows it by its title, else the screen."""
    env = dict(os.environ, DISPLAY=display)
    try:
        info = subprocess.run(["xwininfo", "-name", title], env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=30).stdout
    except FileNotFoundError:  # x11-utils missing: the whole screen will do
        info = ""
    ids = [line.split()[3] for line in info.splitlines() if "Window id:" in line]
    winetest.screenshot(display, path, ids[0] if ids else None, frame)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--state", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--shots", required=True)
    parser.add_argument("--display", required=True)
    parser.add_argument("--desktop", action="store_true", help="the display is a desktop with a window manager")
    parser.add_argument("--pause", type=float, default=0.5)
    args = parser.parse_args()

    state = winetest.State(args.state)
    name = os.path.basename(args.program)
    # The Vista path with both libraries of the desktop software in place: the
    # Remote API double and the WinUSB double in the prefix's system folder.
    winetest.configure_program(state, name, "vista", list(winetest.LIBRARIES))
    if args.desktop:
        winetest.import_registry(state, [(winetest.app_key(name) + "\\X11 Driver", {"Managed": "Y"})])

    if os.path.isdir(args.shots):
        shutil.rmtree(args.shots)
    os.makedirs(args.shots)

    shown = []
    with winetest.Driver(os.path.abspath(args.driver), state.env(args.display)) as driver:
        folder = os.path.dirname(os.path.abspath(args.program))
        driver.start('"%s"' % winetest.windows_path(args.program), winetest.windows_path(folder))
        try:
            notice = driver.find("#32770", "", WAIT_MS)
            print("demo: message box %r:\n  %s" % (notice["title"],
                  driver.text(notice["hwnd"], MESSAGE_TEXT).replace("\n", "\n  ")))
            time.sleep(args.pause)
            path = os.path.join(args.shots, "01-notice.png")
            window_shot(args.display, notice["title"], path, args.desktop)
            shown.append(path)
            driver.click(notice["hwnd"], OK)
            driver.gone(notice["hwnd"], WAIT_MS)

            page = driver.find("#32770", "", WAIT_MS)
            print("demo: page %r" % page["title"])
            time.sleep(args.pause)
            path = os.path.join(args.shots, "02-welcome.png")
            window_shot(args.display, page["title"], path, args.desktop)
            shown.append(path)
            driver.click(page["hwnd"], CANCEL)
            # Cancel asks first; Yes ends the program.
            quit_box = driver.find("#32770", notice["title"], WAIT_MS)
            driver.click(quit_box["hwnd"], YES)
            driver.gone(page["hwnd"], WAIT_MS)
            print("demo: the program ended with code %d" % driver.exit_code(WAIT_MS))
        except winetest.DriverError as error:
            print("demo: %s" % error, file=sys.stderr)
            driver.ask("kill")
            return 1
    for path in shown:
        print("demo: saved %s" % path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
