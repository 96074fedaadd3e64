#!/usr/bin/env python3
"""Runs a whole update of the simulated phone with a release's wizard under Wine,
pressing the buttons a user would press, and saves a picture of every page and wait
window on the way (the progress bar moving included).

  demo_run.py --state DIR --build BUILD --program EXE --driver EXE --out DIR
              --display :N [--windows xp|vista] [--pause S] [--desktop] [--recover]

With --recover the link is cut a megabyte into the image: the wizard says so and
ends, leaving the phone in its boot loader; started again, it finds the phone there
and finishes the update.

OUT receives screens/ (the pictures), bootloader/ (the simulated boot loader's
results: its flash store unit-NN.bin, store.txt, verdicts.txt, capture.txt) and
summary.json (the timings the benchmark reads) and program-output.txt (what the
program wrote to its standard streams). The last line says whether the update
reached the finish page and the flash store equals the image; the exit code is 0
only then.
"""

import argparse
import json
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winetest  # noqa: E402
import wizard  # noqa: E402
from wizard import FETCH, FINISH, MESSAGE, SETUP, UPDATE, WELCOME, Failure  # noqa: E402
from world import World, phone_ini  # noqa: E402

# The phone the demo updates: the release's model and language, the newer system.
PHONE = {"oem": "Krov Q512", "language": "FRA", "os": "5.2", "battery": "80", "rom": "3.10.404.1",
         "extrom": "1.05.01", "radio": "1.27.00.10"}
WAIT_S = 60
UPDATE_S = 900
# Where --recover cuts the link: a megabyte into the image's first unit.
CUT_LINK = "vanish:data:1:0:1048576"


class Demo:
    def __init__(self, args):
        self.args = args
        self.state = winetest.State(args.state)
        self.out = os.path.abspath(args.out)
        self.shots = os.path.join(self.out, "screens")
        self.run_folder = os.path.join(self.out, "run")
        self.count = 0
        self.timings = {}
        self.desk = None
        self.second_driver = None

    def shot(self, name):
        """The program's windows (on a desktop: the screen)."""
        time.sleep(self.args.pause)
        self.count += 1
        path = os.path.join(self.shots, "%02d-%s.png" % (self.count, name))
        rects = [w["rect"] for w in self.desk.driver.windows()]
        crop = None
        if rects and not self.args.desktop:
            crop = (max(0, min(r[0] for r in rects)), max(0, min(r[1] for r in rects)),
                    max(r[2] for r in rects), max(r[3] for r in rects))
        winetest.screenshot(self.args.display, path, crop=crop)
        print("demo: saved %s" % path)

    def say(self, text):
        print("demo: %s" % text)

    def start_program(self, output):
        self.desk.driver.start('"%s"' % winetest.windows_path(self.program), winetest.windows_path(self.run_folder),
                               winetest.windows_path(os.path.join(self.out, output)))
        notice = self.desk.message(40, owner=0)
        self.shot("notice")
        self.desk.answer(notice, "OK")
        return self.desk.wait_for((WELCOME,), WAIT_S)

    def to_update_page(self, welcome):
        desk = self.desk
        desk.press(welcome, "Next")
        fetch = desk.wait_for((FETCH, UPDATE, MESSAGE), WAIT_S)
        if fetch.kind == FETCH:
            self.shot("fetching-device-information")
        page = desk.wait_for((UPDATE, MESSAGE), WAIT_S)
        if page.kind == MESSAGE:
            raise Failure("the wizard said: %s" % page.text)
        desk.wait_enabled(page, wizard.UPDATE_BUTTON, WAIT_S)
        controls = desk.controls(page)
        self.say("the phone has ROM %s and radio %s; the release brings %s and %s" % (
            controls[wizard.CURRENT_ROM]["text"], controls[wizard.CURRENT_RADIO]["text"],
            controls[wizard.NEW_ROM]["text"], controls[wizard.NEW_RADIO]["text"]))
        self.shot("update-page")
        return page

    def cut_and_start_again(self, welcome):
        """The update whose link is cut, its two messages, and the next start, which
        finds the phone in its boot loader: the update page the next Next opens."""
        desk = self.desk
        page = self.to_update_page(welcome)
        desk.press(page, "Update")
        self.say("the link will be cut a megabyte into the image")
        for text in (18, 50):
            box = desk.message(text, owner=page.hwnd, timeout_s=UPDATE_S)
            self.say("the wizard said: %s" % box.text)
            self.shot("message-%d" % text)
            desk.answer(box, "OK")
        self.say("the first run ended with code %d; the phone waits in its boot loader" %
                 desk.driver.exit_code(WAIT_S * 1000))
        self.desk = desk = wizard.Desk(winetest.Driver(os.path.abspath(self.args.driver), self.env), wizard.Texts(),
                                       log=lambda line: None)
        self.second_driver = desk.driver
        welcome = self.start_program("program-output-2.txt")
        self.say("started again, the welcome page says: %s" % desk.controls(welcome)[wizard.WELCOME_STATUS]["text"])
        self.shot("welcome-unfinished")
        desk.press(welcome, "Next")
        return desk.wait_for((UPDATE,), WAIT_S, exclude=(welcome.hwnd,))

    def run(self, world):
        welcome = self.start_program("program-output.txt")
        self.shot("welcome")
        if self.args.recover:
            page = self.cut_and_start_again(welcome)
        else:
            page = self.to_update_page(welcome)
        desk = self.desk
        # How quickly the page answers while the update runs: the benchmark's figure.
        desk.driver.probe(page.hwnd)
        if not self.args.recover:
            desk.press(page, "Update")
        clicked = time.monotonic()
        setups_shot = set()
        position_shot = 0
        transfer_shot = False
        peak = 0
        deadline = clicked + UPDATE_S
        while True:
            desk.poll()
            for window in desk.present(SETUP):
                if window.hwnd not in setups_shot:
                    setups_shot.add(window.hwnd)
                    self.shot("setup-connection-%d" % len(setups_shot))
            if page.gone is None:
                try:
                    position = desk.driver.progress(page.hwnd, wizard.PROGRESS_BAR)
                    peak = max(peak, desk.driver.memory()["peak_working_set"])
                except winetest.DriverError:
                    position = 0
                # The transfer under way (once the set-up wait has gone), then every
                # step of the bar, which moves once every 8 s.
                if setups_shot and not desk.present(SETUP) and (position > position_shot or not transfer_shot):
                    transfer_shot = True
                    position_shot = position
                    self.say("progress bar at %d after %.0f s" % (position, time.monotonic() - clicked))
                    self.shot("progress-%d" % position)
            if desk.present(FINISH) or desk.present(MESSAGE):
                break
            if time.monotonic() > deadline:
                raise Failure("the update reached no end within %d s" % UPDATE_S)
            time.sleep(0.1)
        if desk.present(MESSAGE):
            box = desk.present(MESSAGE)[0]
            self.shot("message")
            raise Failure("the wizard said: %s" % box.text)
        finish = desk.present(FINISH)[0]
        answers = desk.driver.probe_stop()
        self.timings = {"update_s": finish.seen - clicked, "setup_waits": len(setups_shot),
                        "clicked_monotonic": clicked, "finish_monotonic": finish.seen,
                        "answers": {k: answers[k] for k in ("samples", "timeouts", "worst_ms")},
                        "slow_answers": len(answers.get("slow", []))}
        try:
            peak = max(peak, desk.driver.memory()["peak_working_set"])
        except winetest.DriverError:
            pass
        self.timings["peak_working_set"] = peak
        self.say("the finish page after %.1f s" % self.timings["update_s"])
        self.shot("finish-page")
        desk.press(finish, wizard.FINISH_BUTTON)
        desk.wait_gone(finish, WAIT_S)
        code = desk.driver.exit_code(WAIT_S * 1000)
        self.say("the program ended with code %d" % code)
        left = wizard.remaining_files(self.run_folder)
        if left:
            raise Failure("the program left %s in its working folder" % ", ".join(left))

    def main(self):
        args = self.args
        for folder in (self.shots, self.run_folder):
            if os.path.isdir(folder):
                shutil.rmtree(folder)
            os.makedirs(folder)
        # The program runs from a folder of its own: it writes its files there.
        self.program = os.path.join(self.run_folder, os.path.basename(args.program))
        shutil.copyfile(args.program, self.program)
        name = os.path.basename(self.program)
        libraries = ["rapi"] + (["winusb"] if args.windows == "vista" else [])
        winetest.configure_program(self.state, name, args.windows, libraries)
        if args.desktop:
            winetest.import_registry(self.state, [(winetest.app_key(name) + "\\X11 Driver", {"Managed": "Y"})])

        # A record an earlier demo left (one stopped half-way) would send this one
        # straight to the boot loader's wait.
        winetest.import_registry(self.state, [(r"HKLM\Software\Flashwise\Journal", None)])
        world = World(self.state.root, args.build, os.path.join(self.state.root, "demo-world"), args.windows,
                      phone_ini(PHONE), faults=[CUT_LINK] if args.recover else [], write_rate=args.write_rate)
        world_log = []
        reached = False
        equal_store = False
        try:
            world.up()
            env = self.state.env(args.display)
            env.update(world.env)
            self.env = env
            with winetest.Driver(os.path.abspath(args.driver), env) as driver:
                self.desk = wizard.Desk(driver, wizard.Texts(), log=lambda line: None)
                try:
                    self.run(world)
                    reached = True
                except (Failure, winetest.DriverError) as error:
                    print("demo: %s" % error, file=sys.stderr)
                    self.desk.driver.ask("kill")
                finally:
                    if self.second_driver:
                        self.second_driver.close()
            world_log = [a.__dict__ for a in world.acts()]
        finally:
            went_down = world.down()
        results = os.path.join(self.out, "bootloader")
        if os.path.isdir(results):
            shutil.rmtree(results)
        if os.path.isdir(world.env.get("FLASHWISE_WORLD_RESULTS", "")):
            shutil.copytree(world.env["FLASHWISE_WORLD_RESULTS"], results)
            expected = wizard.image_units(os.path.join(args.build, "releases", "work", "demo", "firmware.abi"))
            store = world.store()
            equal_store = store == expected
            self.say("the boot loader's results are in %s" % results)
        with open(os.path.join(self.out, "summary.json"), "w") as f:
            json.dump(dict(self.timings, windows=args.windows, reached_finish=reached, store_equals_image=equal_store,
                           world_log=world_log), f, indent=1)
        ok = reached and equal_store and went_down
        print("demo (%s path): %s" % (args.windows, "the update reached the finish page and the flash store equals "
                                      "the image" if ok else "FAILED: finish page %s, flash store %s the image" % (
                                          "reached" if reached else "not reached",
                                          "equals" if equal_store else "does not equal")))
        return 0 if ok else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--state", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--display", required=True)
    parser.add_argument("--windows", choices=("xp", "vista"), default="xp")
    parser.add_argument("--desktop", action="store_true", help="the display is a desktop with a window manager")
    parser.add_argument("--pause", type=float, default=0.0)
    parser.add_argument("--write-rate", type=int, default=0, help="bytes a second the boot loader writes (0: at once)")
    parser.add_argument("--recover", action="store_true",
                        help="cut the link mid-update, start the wizard again and let it finish")
    args = parser.parse_args()
    return Demo(args).main()


if __name__ == "__main__":
    sys.exit(main())
