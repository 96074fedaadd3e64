#!/usr/bin/env python3
"""The wizard end to end under Wine: each row of ROWS is one run of the demo release in
a phone world of its own making, driven as a person would drive it, on one Windows
path. The program has no test switches: every condition comes from the world (the
phone's state, the boot loader's faults, the services' options, files in the way).

  scenarios.py --build BUILD --path xp|vista ROW

The harness gives FLASHWISE_PROGRAM (the program's copy, whose folder is the current
folder it runs in), FLASHWISE_GUIDRIVER, FLASHWISE_TEST_DIR and FLASHWISE_WINE_STATE. The
program writes its files into a private work folder of its own in the prefix's
C:\windows\temp, which every row finds removed at the end.

A row's steps are tuples (verb, arguments...) that Run carries out in order; after the
last step every row also checks that the program left no file beside itself and no
work folder behind, and that the desktop's synchronisation link is up.
"""

import argparse
import glob
import os
import subprocess
import sys
import time
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "wine"))
import winetest  # noqa: E402
import wizard  # noqa: E402
from wizard import (FETCH, FINISH, MESSAGE, SETUP, UPDATE, WELCOME, Failure, check, equal)  # noqa: E402
from world import World, phone_ini  # noqa: E402

# A phone of the release's model and language, with the newer system.
PHONE = {"oem": "Krov Q512", "language": "FRA", "os": "5.2", "battery": "80", "rom": "3.10.404.1",
         "extrom": "1.05.01", "radio": "1.27.00.10"}
# A page whose thread waits without serving its messages answers late by a whole
# wait: the program's shortest is a second. Work on that thread (the update page
# opening, writing its helper files) shows up as answers of 80 to 140 ms on a 2-core
# machine with a load of ten, so the bound lies between the two; the figure itself
# is the benchmark's (bench/wizard_update_bench.py).
PROBE_BOUND_MS = 500
STALL_CONTEXT_MS = 500
PLANTED = "planted"
NAMES_NOT_BARE = "names_not_bare"
EVENT_NAMES = ("GetVersionThread", "WrongDevice", "WrongLanguage", "DLSPBOOTLAODER", "DLError", "DLThread",
               "SetupConnectionSuccess", "SetupConnectionFail")

BOTH = ("xp", "vista")


class Row:
    def __init__(self, name, steps, phone=None, faults=(), services=(), paths=BOTH, before=None, balanced=True,
                 journal=None, write_rate=0):
        self.name, self.steps, self.paths = name, steps, paths
        self.phone = dict(PHONE, **(phone or {}))
        self.faults, self.services, self.before, self.balanced = faults, services, before, balanced
        # The update journal an earlier run left on the machine (values of its registry key;
        # "this release" stands for the demo image's digest), and the boot loader's pace.
        self.journal, self.write_rate = journal, write_rate


# Steps shared by rows: up to the update page with the phone's versions shown, and
# the success to the end.
TO_UPDATE_PAGE = [("next",), ("update_page", "phone")]
QUIT_UPDATE_PAGE = [("cancel",), ("message", 2, "Yes", ("Yes", "No")), ("ends",), ("no_helper_files",)]
FAILED = [("message", 18, "OK"), ("ends",), ("text_count", 18, 1)]
# A failure once the phone was sent to its boot loader: text 18, then where the phone waits.
LEFT = [("message", 18, "OK"), ("message", 50, "OK"), ("ends",), ("text_count", 18, 1), ("journal", "kept")]
# Started again: the welcome page says the update did not finish, and Next finishes it.
FINISHED_AGAIN = [("restart",), ("welcome_unfinished",), ("recover", "finish"), ("finish",), ("ends",),
                  ("journal", "gone")]
THIS_RELEASE = "this release"
JOURNAL_KEY = r"HKLM\Software\Flashwise\Journal"
# Slow enough that the program is still writing the phone when it is killed.
SLOW_PHONE_BYTES_PER_S = 400000

ROWS = [
    Row("happy_path", TO_UPDATE_PAGE + [
        ("update", "finish"), ("setup_waits", 1), ("flash", "image"), ("finish",), ("ends",),
        ("desktop_released_and_restored",), ("responsive",)],
        # Each connection takes a moment, so the Next command's wait lasts long enough to be probed.
        phone={"connect_delay_ms": "800"}),
    Row("older_system", TO_UPDATE_PAGE + [
        ("update", "finish"), ("setup_waits", 2), ("flash", "boot-loader image", "image"), ("finish",), ("ends",)],
        phone={"os": "5.1"}),
    Row("wrong_model", [("next",), ("message", 31, "OK"), ("welcome_again",), ("no_helper_files",),
                        ("cancel",), ("message", 2, "Yes", ("Yes", "No")), ("ends",)],
        phone={"oem": "Krov Q500"}),
    Row("wrong_language", [("next",), ("versions_shown",), ("message", 34, "OK", ("OK",), False),
                           ("welcome_again",), ("no_helper_files",),
                           ("cancel",), ("message", 2, "Yes", ("Yes", "No")), ("ends",)],
        phone={"language": "ENG"}),
    Row("battery_50", [("next",), ("message", 38, "OK"), ("ends",), ("text_count", 38, 1)], phone={"battery": "50"}),
    Row("battery_51", TO_UPDATE_PAGE + QUIT_UPDATE_PAGE, phone={"battery": "51"}),
    Row("battery_unknown", TO_UPDATE_PAGE + QUIT_UPDATE_PAGE, phone={"battery": "255"}),
    Row("phone_unreachable", [
        ("next", "keys"), ("message", 11, "OK", ("OK", "Cancel")),
        ("message", 11, "Cancel", ("OK", "Cancel")), ("message", 2, "No", ("Yes", "No")), ("welcome_idle",),
        ("next",), ("message", 11, "Cancel", ("OK", "Cancel")), ("message", 2, "Yes", ("Yes", "No")), ("ends",)],
        phone={"reachable": "0"}),
    # The phone answers the worker only after the page gave up on it: the late worker
    # must write nothing into the page.
    Row("fetch_timeout", [("next", "keys"), ("update_page", "fail"), ("set_phone", {"init_blocks": "0"}),
                          ("versions_stay_unknown",)] + QUIT_UPDATE_PAGE,
        phone={"init_blocks": "1"}, balanced=False),
    Row("device_mode_copy_fails", TO_UPDATE_PAGE + [("update", MESSAGE)] + FAILED +
        [("phone_files_created", ("DeviceSpy.exe", True), ("DeviceMode.exe", False)), ("stopped_at", 0, 0, 0)],
        phone={"create_file_fails": r"\windows\DeviceMode.exe"}),
    # A folder where the boot-loader image file goes: writing it fails, before the phone
    # is touched.
    Row("image_write_fails", TO_UPDATE_PAGE + [("in_the_way", "Tarn_G4_SPBL.abi"), ("update", MESSAGE),
                                               ("message", 36, "OK")] + FAILED + [("phone_untouched",)]),
    # Another program of the user tries to change the image files all through the update.
    Row("files_swapped", TO_UPDATE_PAGE + [
        ("swapper", "start"), ("update", "finish"), ("swapper", "stop"), ("flash", "image"), ("finish",),
        ("ends",)]),
    # A desktop helper of someone else's beside the program (the current folder too) and
    # in the work folder: the wizard writes its own before every run.
    Row("planted_helper", [("plant", "wcestest.exe")] + TO_UPDATE_PAGE + [
        ("update", "finish"), ("flash", "image"), ("finish",), ("ends",), ("planted_never_ran",)],
        paths=("xp",), before=PLANTED),
    # Releases with a broken image (tests/wizard/releases): refused before the phone is
    # touched, so it never leaves its system.
    Row("image_fails_check", TO_UPDATE_PAGE + [("update", MESSAGE)] + FAILED + [("phone_untouched",)]),
    Row("image_without_unit", TO_UPDATE_PAGE + [("update", MESSAGE)] + FAILED + [("phone_untouched",)]),
    Row("boot_loader_image_fails", TO_UPDATE_PAGE + [("update", MESSAGE)] + FAILED + [("phone_untouched",)],
        phone={"os": "5.1"}),
    # A translation beside the program names the image files "../Tarn_G4.abi" and
    # "../Tarn_G4_SPBL.abi": the update fails before anything is written or sent.
    Row("image_names_not_bare", TO_UPDATE_PAGE + [("update", MESSAGE)] + FAILED + [
        ("phone_untouched",), ("nothing_written_outside",)], before=NAMES_NOT_BARE),
    # The same broken boot-loader image does not matter to a phone that needs no boot-loader pass.
    Row("boot_loader_image_unused", TO_UPDATE_PAGE + [("update", "finish"), ("flash", "image"), ("finish",),
                                                      ("ends",)]),
    # The one row per path that sits through the set-up wait's whole real minute.
    Row("boot_loader_never_appears", TO_UPDATE_PAGE + [("update", MESSAGE), ("setup_waits", 1), ("gave_up", 60)] +
        LEFT + [("flash", ), ("desktop_released_and_restored",)], phone={"boot_loader_starts": "0"}),
    Row("unit_rejected", TO_UPDATE_PAGE + [("update", MESSAGE)] + LEFT + [("stopped_at", 1, 1, 1), ("flash",)],
        faults=("result-code:data:0:0x88",)),
    # Started again, the program finds the phone left in its boot loader and finishes.
    Row("link_vanishes", TO_UPDATE_PAGE + [("update", MESSAGE)] + LEFT + [("stopped_at", 1, 1, 0)] +
        FINISHED_AGAIN + [("flash", "image")],
        faults=("vanish:data:1:0:65536",)),
    Row("cancel_update_page", TO_UPDATE_PAGE + QUIT_UPDATE_PAGE),
    Row("events_left_signalled", TO_UPDATE_PAGE + [
        ("update", "finish"), ("flash", "image"), ("finish",), ("ends",)], before="signalled_events"),
    # Killed once the desktop has let go of the phone: the next start puts the desktop
    # back before anything else, and nothing of the dead run stays.
    Row("killed_after_release", TO_UPDATE_PAGE + [
        ("update_until_released",), ("kill",), ("desktop_still_released",), ("restart",),
        ("desktop_as_found",), ("no_written_files",),
        ("cancel",), ("message", 2, "Yes", ("Yes", "No")), ("ends",)], balanced=False),
    Row("second_copy", TO_UPDATE_PAGE + [
        ("update", "finish", "second_copy"), ("flash", "image"), ("finish",), ("ends",)]),
    # Another program's "GetVersionThread" while the worker is held up: Update waits for
    # the worker's own result.
    Row("foreign_fetch_signal", [("next",), ("signal_events", "GetVersionThread"), ("update_stays_disabled", 3),
                                 ("set_phone", {"init_blocks": "0"}), ("update_page", "phone")] + QUIT_UPDATE_PAGE,
        phone={"init_blocks": "1"}, balanced=False),
    # After the fetch timeout the connection request is refused outright: text 11, as for
    # a phone that does not answer, not a silent wait for ever.
    Row("initex_refused_after_timeout", [
        ("next",), ("set_phone", {"initex_return": "0x80004005"}),
        ("message", 11, "OK", ("OK", "Cancel")), ("set_phone", {"init_blocks": "0"}), ("welcome_again",),
        ("cancel",), ("message", 2, "Yes", ("Yes", "No")), ("ends",)],
        phone={"init_blocks": "1"}, balanced=False),
    Row("session_end_refused", TO_UPDATE_PAGE + [
        ("update", "finish", "session_end"), ("session_end_allowed",), ("finish",), ("ends",)]),
    # A phone left in its boot loader is found by the next start and the update finished.
    Row("left_in_boot_loader_pass", TO_UPDATE_PAGE + [("update", MESSAGE)] + LEFT + [("journal_pass", 1)] +
        FINISHED_AGAIN + [("setup_waits", 2), ("flash", "boot-loader image", "image")],
        phone={"os": "5.1"}, faults=("vanish:data:1:0:4096",)),
    Row("killed_in_main_pass", TO_UPDATE_PAGE + [("update_until_written",), ("kill",), ("journal", "kept")] +
        FINISHED_AGAIN + [("flash", "image")], balanced=False, write_rate=SLOW_PHONE_BYTES_PER_S),
    # Found at Next by the device's interface alone, with no record on the machine.
    Row("found_in_boot_loader", [("welcome_unfinished", False), ("recover", "finish"), ("finish",), ("ends",),
                                 ("flash", "image"), ("journal", "gone")],
        phone={"mode": "bootloader"}, paths=("vista",)),
    Row("other_release_left", [
        ("welcome_unfinished",), ("next_only",), ("message", 52, "No", ("Yes", "No")), ("welcome_idle", 51),
        ("journal", "as_planted"), ("phone_untouched",),
        ("cancel",), ("message", 2, "Yes", ("Yes", "No")), ("ends",)],
        phone={"mode": "bootloader"},
        journal={"Release": "V1.00.000.0 FRA", "ImageDigest": "0BADF00D-5042300", "BootLoaderPass": 0, "Pass": 2}),
    Row("left_but_no_boot_loader", [
        ("welcome_unfinished",), ("recover", MESSAGE), ("gave_up", 60)] + LEFT + [("flash",)],
        journal={"Release": "V3.12.405.2 FRA", "ImageDigest": THIS_RELEASE, "BootLoaderPass": 0, "Pass": 2},
        phone={"boot_loader_starts": "0"}),
]
ROW_NAMES = {row.name: row for row in ROWS}

WAIT_S = 30
UPDATE_S = 240
PROGRESS_STEP_S = 7
PROGRESS_SLACK_S = 2


class Run:
    def __init__(self, row, path, build):
        self.row, self.path, self.build = row, path, build
        self.folder = os.environ["FLASHWISE_TEST_DIR"]
        self.program = os.environ["FLASHWISE_PROGRAM"]
        self.state = os.environ["FLASHWISE_WINE_STATE"]
        self.workdir = os.path.dirname(self.program)
        self.texts = wizard.Texts()
        self.world = World(self.state, build, os.path.join(self.folder, "world"), path, phone_ini(row.phone),
                           row.faults, row.services, write_rate=row.write_rate)
        self.driver = None
        self.desk = None
        self.page = None          # the page the person is on
        self.update_page = None   # hwnd of the update page, found while it opens
        self.figures = {}         # responsiveness: wait -> worst ms
        self.progress = []        # (s, position) during the update
        self.messages = []        # text ids of every message box answered
        self.holder = None
        self.holders = []         # other programs holding named events, started by steps
        self.update_pressed = None
        self.swapper = None
        self.prefix = winetest.State(self.state).prefix
        self.temp = os.path.join(self.prefix, "drive_c", "windows", "temp")
        self.folders_before = set(self.private_folders())
        self.marker = os.path.join(self.folder, "planted.ran")

    # -- the world and the program ---------------------------------------------------

    def private_folders(self):
        return glob.glob(os.path.join(self.temp, "Flashwise-*"))

    def work_folder(self):
        """The run's private work folder: the one that was not there before it started."""
        made = [f for f in self.private_folders() if f not in self.folders_before]
        equal(len(made), 1, "private work folders made by the run: %r" % made)
        return made[0]

    def planted_program(self):
        return os.path.join(self.build, "tests", "wizard", "PlantedProgram.exe")

    def start(self):
        self.world.up()
        # A record of an earlier run is the machine's, not the world's: it is planted
        # here and always taken away at the end.
        self.remove_journal()
        if self.row.journal:
            values = dict(self.row.journal)
            if values.get("ImageDigest") == THIS_RELEASE:
                values["ImageDigest"] = self.image_digest()
            winetest.import_registry(winetest.State(self.state), [(JOURNAL_KEY, values)])
        self.planted_journal = self.journal()
        env = dict(os.environ)
        env.update(self.world.env)
        if self.row.before == PLANTED:
            # Beside the program, which is also the current folder it is started in.
            import shutil
            shutil.copyfile(self.planted_program(), os.path.join(self.workdir, "wcestest.exe"))
            env["FLASHWISE_PLANTED_MARKER"] = winetest.windows_path(self.marker)
        if self.row.before == NAMES_NOT_BARE:
            import shutil
            # Named after the program's copy, as the program looks for it.
            shutil.copyfile(os.path.join(self.build, "tests", "wizard", "names-not-bare", "FlashwiseCHT.dll"),
                            os.path.splitext(self.program)[0] + "CHT.dll")
            env["LC_ALL"] = "zh_TW.UTF-8"  # the user-interface language that takes the translation
        if self.row.before == "signalled_events":
            self.holder = subprocess.Popen(
                [winetest.WINE, os.path.join(self.build, "tests", "wizard", "NamedEventHolder.exe")] +
                list(EVENT_NAMES), env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                start_new_session=True)  # it holds the events until its input closes
            check(self.holder.stdout.readline().strip() == b"signalled", "the events were not signalled")
        self.driver = winetest.Driver(os.environ["FLASHWISE_GUIDRIVER"], env)
        self.desk = wizard.Desk(self.driver, self.texts)
        self.driver.start('"%s"' % os.environ["FLASHWISE_PROGRAM_WIN"], winetest.windows_path(self.workdir),
                          winetest.windows_path(os.path.join(self.folder, "world.program-output.txt")))
        notice = self.desk.message(40, owner=0)
        self.desk.answer(notice, "OK")
        self.page = self.desk.wait_for((WELCOME,), WAIT_S)

    def stop(self):
        if self.driver:
            self.driver.ask("kill")
            self.driver.close()
        # A program ended by force (a failed row) cannot remove its work folder; the
        # prefix outlives the row, so the row does (after the checks have looked).
        import shutil
        for folder in self.private_folders():
            if folder not in self.folders_before:
                shutil.rmtree(folder, ignore_errors=True)
        self.remove_journal()
        if self.swapper:
            self.swapper.stdin.close()
            self.swapper.wait(timeout=15)
        for holder in [self.holder] + self.holders:
            if not holder:
                continue
            holder.stdin.close()
            try:
                holder.wait(timeout=15)
            except subprocess.TimeoutExpired:
                os.killpg(holder.pid, 9)
                holder.wait()
        return self.world.down()

    # -- steps -----------------------------------------------------------------------

    def probe(self, window_hwnd):
        self.driver.probe(window_hwnd)

    def probe_end(self, wait):
        figures = self.driver.probe_stop()
        if figures["samples"]:
            self.figures[wait] = max(self.figures.get(wait, 0), figures["worst_ms"])
        print("  responsiveness during %s: %d samples, worst %.1f ms, %d unanswered" %
              (wait, figures["samples"], figures["worst_ms"], figures["timeouts"]))
        self.show_stalls(figures.get("slow", []))

    def show_stalls(self, slow):
        """Each slow answer beside what the world did from shortly before it until it
        came: a stall that keeps company with one act is the program's; one beside
        nothing in particular is the machine's."""
        acts = self.world.acts() if slow else []
        for at, took in slow:
            near = [a for a in acts if at - STALL_CONTEXT_MS <= a.ms <= at + took]
            print("    answer took %.0f ms from world clock %d; the world then: %s" % (
                took, at, "; ".join("%+d %s %s" % (a.ms - at, a.source, a.act) for a in near[-6:]) or "nothing"))

    def hidden_update_page(self):
        answer = self.driver.ask("findctl", "#32770", "", wizard.UPDATE_BUTTON, "", 0, "hidden")
        return answer["hwnd"] if answer.get("ok") else None

    def step_next(self, keys=None):
        """Next, through the connection attempts, to a message or the update page's
        opening; the fetch that the update page runs is followed by later steps. With
        "keys", Escape and the close box go to the welcome page while it tries to
        connect and to the update page while it fetches: both must do nothing."""
        check(self.page.kind == WELCOME, "Next pressed on %r" % self.page)
        welcome = self.page
        requests = len(self.world.acts("rapi", "CeRapiInitEx"))
        self.desk.press(welcome, "Next")
        pressed = time.monotonic()
        deadline = pressed + UPDATE_S
        probing = False
        while time.monotonic() < deadline:
            if not probing and len(self.world.acts("rapi", "CeRapiInitEx")) > requests:
                # The wait begins with the first connection request; what comes before
                # it (restoring the desktop's link) is calls, not a wait.
                self.probe(welcome.hwnd)
                probing = True
            self.desk.poll()
            if keys and pressed and time.monotonic() - pressed > 0.5:
                self.keys_ignored(welcome.hwnd)
                pressed = None
            if self.desk.present(MESSAGE):
                if probing:
                    self.probe_end("the Next command")
                return
            hwnd = self.hidden_update_page()
            if hwnd:
                if probing:
                    self.probe_end("the Next command")
                self.update_page = hwnd
                self.probe(hwnd)
                if keys:
                    self.keys_ignored(hwnd)
                return
            time.sleep(0.05)
        raise Failure("neither a message nor the update page within %d s of Next" % UPDATE_S)

    def keys_ignored(self, target):
        """Escape and the close box while a wait runs with Cancel disabled: nothing."""
        self.driver.escape(target)
        self.driver.close_window(target)
        time.sleep(0.5)
        self.desk.poll()
        check(not any(w.text == self.texts.text(2) for w in self.desk.present(MESSAGE)),
              "Escape or the close box asked to quit while Cancel was disabled")

    def step_update_page(self, versions):
        """The fetch window came and went, then the page shows with Update enabled."""
        page = self.desk.wait_for((UPDATE,), UPDATE_S)
        self.desk.wait_enabled(page, wizard.UPDATE_BUTTON, UPDATE_S)
        self.probe_end("the fetch")
        self.desk.poll()
        check(self.desk.shown_count(FETCH) >= 1, "the fetch window was never shown")
        check(not self.desk.present(FETCH), "Update was enabled before the fetch window went")
        check(self.desk.present(WELCOME) == [], "the welcome page is still up with the update page")
        controls = self.desk.controls(page)
        check(controls[wizard.CANCEL_BUTTON]["enabled"], "Cancel is disabled on the ready update page")
        if versions == "phone":
            expected = (self.row.phone["rom"], self.row.phone["radio"])
        else:
            expected = (self.texts.text(17),) * 2
        equal((controls[wizard.CURRENT_ROM]["text"], controls[wizard.CURRENT_RADIO]["text"]), expected,
              "current versions on the update page")
        equal((controls[wizard.NEW_ROM]["text"], controls[wizard.NEW_RADIO]["text"]),
              (self.texts.new_rom, self.texts.new_radio), "new versions on the update page")
        self.page = page

    def step_set_phone(self, keys):
        self.world.set_phone(**keys)

    def step_versions_stay_unknown(self):
        """A worker that is let go after the timeout changes nothing on the page."""
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            controls = self.desk.controls(self.page)
            equal((controls[wizard.CURRENT_ROM]["text"], controls[wizard.CURRENT_RADIO]["text"]),
                  (self.texts.text(17),) * 2, "current versions after the late worker")
            time.sleep(0.25)

    def step_versions_shown(self):
        """The versions are in the (still hidden) update page when the warning shows."""
        box = self.desk.wait_for((MESSAGE,), WAIT_S)
        check(self.update_page, "no update page behind %r" % box)
        texts = [self.driver.text(self.update_page, c) for c in (wizard.CURRENT_ROM, wizard.CURRENT_RADIO)]
        equal(texts, [self.row.phone["rom"], self.row.phone["radio"]], "versions behind the warning")

    def sample_progress(self):
        if self.page and self.page.kind == UPDATE and self.page.gone is None:
            try:
                position = self.driver.progress(self.page.hwnd, wizard.PROGRESS_BAR)
            except winetest.DriverError:
                return
            if not self.progress or self.progress[-1][1] != position:
                self.progress.append((time.monotonic() - self.desk.started, position))

    def step_update(self, end, during=None):
        """Update, then the set-up waits and the passes, to the finish page or a message;
        `during` names an act (during_<name>) done once the first set-up wait shows."""
        page = self.page
        check(page.kind == UPDATE, "Update pressed on %r" % page)
        self.follow_update(page, end, during)

    def follow_update(self, page, end, during=None, press=True):
        self.probe(page.hwnd)
        if press:
            self.desk.press(page, "Update")
        setups = set()
        pressed = self.update_pressed = time.monotonic()
        deadline = pressed + UPDATE_S
        last_sample = 0.0
        checked_buttons = False
        while True:
            self.desk.poll()
            for window in self.desk.present(SETUP):
                if window.hwnd not in setups:
                    setups.add(window.hwnd)
                    self.setup_is_topmost(window)
                    if during:
                        getattr(self, "during_" + during)(page)
                        during = None
            now = time.monotonic()
            if not checked_buttons and now - pressed >= 1.0 and page.gone is None:
                self.buttons_stay_disabled(page)
                checked_buttons = True
            if now - last_sample >= 0.5:
                self.sample_progress()
                last_sample = now
            done = self.desk.present(FINISH) or self.desk.present(MESSAGE)
            if done:
                break
            check(now < deadline, "the update reached neither the finish page nor a message in %d s" % UPDATE_S)
            time.sleep(0.05)
        self.probe_end("the update")
        positions = [p for _, p in self.progress]
        print("  progress bar: %s" % ", ".join("%d at %.0f s" % (p, t) for t, p in self.progress))
        check(positions == sorted(positions), "the progress bar went back: %r" % self.progress)
        # The bar steps once every 8 s from the first pass on, the first step 7 s in (the
        # first of the eight seconds counts at once): an update that wrote the phone for
        # longer must show a step (slack for the sampling and the window's going).
        began = [t for event, w, t in self.desk.timeline if event == "gone" and w.kind == SETUP]
        if began:
            writing = time.monotonic() - began[0]
            print("  the phone was written for %.1f s" % writing)
            if writing > PROGRESS_STEP_S + PROGRESS_SLACK_S:
                check(max(positions or [0]) >= 1, "the progress bar never moved in %.1f s" % writing)
        if end == "finish":
            check(self.desk.present(FINISH), "a message instead of the finish page: %r" % self.desk.present(MESSAGE))
            self.page = self.desk.present(FINISH)[0]
            self.desk.wait_gone(page, WAIT_S)
        else:
            check(self.desk.present(MESSAGE), "the finish page instead of a message")

    def setup_is_topmost(self, window):
        """The set-up wait is shown, then placed above every window: a look between the
        two may find it not yet topmost."""
        deadline = time.monotonic() + 2
        while True:
            answer = self.driver.ask("info", window.hwnd)
            if not answer.get("ok") or (answer["topmost"] and not answer["caption"]):
                return  # topmost and captionless, or gone already
            check(time.monotonic() < deadline, "the set-up wait is not a topmost captionless window: %r" % answer)
            time.sleep(0.02)

    def buttons_stay_disabled(self, page):
        try:
            controls = self.desk.controls(page)
        except winetest.DriverError:
            return  # the page went already
        enabled = [c for c in (wizard.UPDATE_BUTTON, wizard.CANCEL_BUTTON) if controls[c]["enabled"]]
        check(not enabled, "buttons %r enabled while the update runs" % enabled)
        self.keys_ignored(page.hwnd)

    def step_gave_up(self, seconds):
        """The set-up wait tried for its whole bound, releasing the desktop's link at
        every attempt, and no open of the boot loader went through."""
        box = self.desk.present(MESSAGE)
        check(box, "no message after the set-up wait")
        waited = box[0].seen - self.update_pressed
        check(waited >= seconds, "the failure came %.1f s after Update, before the wait's %d s" % (waited, seconds))
        if self.path == "xp":
            releases = [a for a in self.world.acts("dccman", "message-0x432") if a.fields.get("types") == "0"]
            check(len(releases) > 1, "the release was not tried again and again: %d time(s)" % len(releases))
        equal(self.world.acts("bridge", "open"), [], "opens of the boot loader the bridge let through")

    def step_plant(self, name):
        """Someone else's program under the helper's name in the work folder (which only
        administrators could write on Windows; Wine keeps no access lists)."""
        import shutil
        shutil.copyfile(self.planted_program(), os.path.join(self.work_folder(), name))

    def step_planted_never_ran(self):
        check(not os.path.exists(self.marker), "a planted program ran: %r" %
              (open(self.marker).read() if os.path.exists(self.marker) else ""))
        self.step_desktop_released_and_restored()

    def step_nothing_written_outside(self):
        for folder in (self.temp, os.path.dirname(self.workdir), self.workdir):
            equal(wizard.remaining_files(folder, wizard.IMAGE_FILES), [], "image files in %s" % folder)

    def step_in_the_way(self, name):
        os.makedirs(os.path.join(self.work_folder(), name))

    def step_phone_untouched(self):
        """The phone never left its system: no helper was started that restarts it."""
        started = [a for a in self.world.acts("rapi", "CeCreateProcess")
                   if "DeviceMode" in repr(a.fields) or "SysReboot" in repr(a.fields)]
        equal(started, [], "processes started on the phone")
        equal(self.world.acts("bridge", "open"), [], "opens of the boot loader")

    def step_swapper(self, what):
        if what == "start":
            env = dict(os.environ)
            env.update(self.world.env)
            self.swapper = subprocess.Popen(
                [winetest.WINE, os.path.join(self.build, "tests", "wizard", "FileSwapper.exe"),
                 winetest.windows_path(self.work_folder()), "Tarn_G4.abi", "Tarn_G4_SPBL.abi"],
                env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, start_new_session=True)
            check(self.swapper.stdout.readline().strip() == b"ready", "the swapper did not start")
            return
        self.swapper.stdin.close()
        verdict = self.swapper.stdout.readline().decode().split()
        self.swapper.wait(timeout=15)
        self.swapper = None
        print("  swapper: %s" % " ".join(verdict))
        check(len(verdict) == 4 and int(verdict[1]) > 0, "the swapper never found the image files: %r" % verdict)

    def step_setup_waits(self, count):
        equal(self.desk.shown_count(SETUP), count, "set-up waits shown")

    def step_message(self, number, answer, buttons=("OK",), filled=True):
        owner = self.page.hwnd if self.page.gone is None else self.update_page
        if self.page.kind == WELCOME and self.update_page:
            owner = self.update_page  # the fetch's messages belong to the opening update page
        box = self.desk.message(number, owner=owner, buttons=buttons, filled=filled)
        self.messages.append(number)
        self.desk.answer(box, answer)

    def step_cancel(self):
        self.desk.press(self.page, "Cancel")

    def step_welcome_again(self):
        """A new welcome page, after the update page went."""
        # The update page ends before it runs the new welcome page from its own opening,
        # so its window goes only with that page.
        self.page = self.desk.wait_for((WELCOME,), WAIT_S, exclude=(self.page.hwnd,))
        self.update_page = None
        self.step_welcome_idle()

    def step_welcome_idle(self, status=None):
        """Idle again; `status` is the text its status line shows, if any."""
        # The page enables its buttons once the question's box has gone.
        self.desk.wait_enabled(self.page, wizard.NEXT_BUTTON, 5)
        self.desk.wait_enabled(self.page, wizard.CANCEL_BUTTON, 5)
        controls = self.desk.controls(self.page)
        check(controls[wizard.NEXT_BUTTON]["enabled"] and controls[wizard.CANCEL_BUTTON]["enabled"],
              "Next and Cancel are not both enabled on the idle welcome page")
        equal(controls[wizard.WELCOME_STATUS]["text"], self.texts.text(status) if status else "",
              "status line of the idle welcome page")

    def step_finish(self):
        page = self.page
        check(page.kind == FINISH, "finish pressed on %r" % page)
        controls = self.desk.controls(page)
        equal((controls[1011]["text"], controls[1024]["text"]), (self.texts.text(19), self.texts.text(32)),
              "texts of the finish page")
        self.probe(page.hwnd)
        self.desk.press(page, wizard.FINISH_BUTTON)
        self.desk.wait_gone(page, WAIT_S)
        self.probe_end("the finish")

    def step_ends(self):
        equal(self.driver.exit_code(WAIT_S * 1000), 0, "the program's exit code")

    def step_no_helper_files(self):
        equal(wizard.remaining_files(self.workdir, wizard.HELPER_FILES), [], "helper files left beside the program")
        for folder in [f for f in self.private_folders() if f not in self.folders_before]:
            equal(wizard.remaining_files(folder, wizard.HELPER_FILES), [], "helper files left in the work folder")

    def step_text_count(self, number, count):
        equal(self.messages.count(number), count, "message boxes with text %d" % number)

    def step_flash(self, *images):
        """The boot loader's store holds exactly the units of these images."""
        files = {"image": "firmware.abi", "boot-loader image": "boot-loader.abi"}
        expected = {}
        for image in images:
            expected.update(wizard.image_units(os.path.join(self.build, "releases", "work", "demo", files[image])))
        store = self.world.store()
        equal(sorted(store), sorted(expected), "units in the boot loader's flash store")
        for code, data in expected.items():
            check(store[code] == data, "unit %d in the flash store differs from the image" % code)
        equal(self.world.result_lines("errors.txt"), [], "protocol errors the boot loader saw")

    def step_desktop_released_and_restored(self):
        """After Update the desktop let go of the phone, and took it back at the end."""
        if self.path == "xp":
            types = [a.fields.get("types") for a in self.world.acts("dccman", "message-0x432")]
            # Next restores the link first; the update releases it, then restores it.
            check("0" in types, "the connection manager never got \" /c:\": %r" % types)
            first_release = types.index("0")
            check("10" in types[first_release:], "no \" /c:su\" after \" /c:\": %r" % types)
            equal(types[-1], "10", "the connection manager's last message")
        else:
            for name in ("WcesComm", "RapiMgr"):
                acts = [(a.source, a.act, a.fields.get("type", "")) for a in self.world.acts()
                        if a.fields.get("name") == name and (a.act in ("stop", "start") or a.source == "scm")]
                kinds = [(s, act, t) for s, act, t in acts]
                stops = [i for i, a in enumerate(kinds) if a[1] == "stop"]
                disabled = [i for i, a in enumerate(kinds) if a[1] == "start-type" and a[2] == "disabled"]
                check(stops and disabled, "%s was not stopped and disabled: %r" % (name, kinds))
                later = kinds[max(stops[0], disabled[0]):]
                check(("scm", "start-type", "auto") in later and any(a[1] == "start" for a in later),
                      "%s was not set automatic and started after: %r" % (name, kinds))

    def step_responsive(self):
        worst = max(self.figures.values()) if self.figures else None
        print("responsiveness: worst %s over the waits %s" % (
            "%.1f ms" % worst if worst is not None else "none", ", ".join(
                "%s %.1f ms" % item for item in self.figures.items())))
        check(worst is not None, "no responsiveness figure was taken")
        check(worst < PROBE_BOUND_MS, "a message to the page took %.1f ms to be answered" % worst)

    def step_phone_files_created(self, *files):
        """The files the program created on the phone, in order, and whether each
        creation worked."""
        made = [(a.fields.get("path", "").split("\\")[-1], a.fields.get("handle") != "invalid")
                for a in self.world.acts("rapi", "CeCreateFile")]
        equal(made, list(files), "files created on the phone")

    def step_stopped_at(self, setups, opened, judged):
        """Where a failed update stopped: the set-up waits shown, the boot loader's links
        the program opened, and the units the boot loader judged."""
        equal(self.desk.shown_count(SETUP), setups, "set-up waits shown")
        equal(len(self.world.acts("bridge", "open")), opened, "links to the boot loader opened")
        equal(len(self.world.result_lines("verdicts.txt")), judged, "units the boot loader judged")

    def released(self):
        """The desktop has let go of the phone for the update."""
        if self.path == "xp":
            return any(a.fields.get("types") == "0" for a in self.world.acts("dccman", "message-0x432"))
        return all(any(a.fields.get("name") == name and a.fields.get("type") == "disabled"
                       for a in self.world.acts("scm", "start-type")) for name in ("WcesComm", "RapiMgr"))

    def step_update_until_released(self):
        page = self.page
        check(page.kind == UPDATE, "Update pressed on %r" % page)
        self.desk.press(page, "Update")
        deadline = time.monotonic() + UPDATE_S
        while not self.released():
            check(time.monotonic() < deadline, "the desktop was not released within %d s of Update" % UPDATE_S)
            time.sleep(0.1)

    def step_kill(self):
        self.driver.ask("kill")
        self.driver.close()

    def desktop(self):
        """The synchronisation software as it holds the phone now, and the services'
        last start types."""
        state = self.world.phone_state().get("desktop", {})
        if self.path == "xp":
            return {"connection_types": state.get("connection_types")}
        types = {}
        for act in self.world.acts("scm"):
            if act.act in ("watch", "start-type"):
                types[act.fields.get("name")] = act.fields.get("type")
        return {name: (state.get(name), types.get(name)) for name in ("WcesComm", "RapiMgr")}

    def step_desktop_still_released(self):
        if self.path == "xp":
            equal(self.desktop(), {"connection_types": "0"}, "the desktop after the kill")
        else:
            equal(self.desktop(), {n: ("stopped", "disabled") for n in ("WcesComm", "RapiMgr")},
                  "the services after the kill")
        self.dead_folder = self.work_folder()
        check(os.listdir(self.dead_folder), "the killed run left no file to clean up")

    def step_restart(self):
        """The program again, to its welcome page: what it does first is before the notice."""
        env = dict(os.environ)
        env.update(self.world.env)
        self.driver = winetest.Driver(os.environ["FLASHWISE_GUIDRIVER"], env)
        self.desk = wizard.Desk(self.driver, self.texts)
        self.driver.start('"%s"' % os.environ["FLASHWISE_PROGRAM_WIN"], winetest.windows_path(self.workdir),
                          winetest.windows_path(os.path.join(self.folder, "world.program-output-2.txt")))
        self.desk.answer(self.desk.message(40, owner=0), "OK")
        self.page = self.desk.wait_for((WELCOME,), WAIT_S)
        self.update_page = None

    def step_desktop_as_found(self):
        if self.path == "xp":
            equal(self.desktop(), {"connection_types": "10"}, "the desktop after the restart")
        else:
            equal(self.desktop(), {n: ("running", "auto") for n in ("WcesComm", "RapiMgr")},
                  "the services after the restart")

    def step_no_written_files(self):
        equal(wizard.remaining_files(self.workdir), [], "files left in the working folder")
        check(not os.path.exists(self.dead_folder), "the killed run's work folder is still there")

    def during_second_copy(self, page):
        """A second copy while the update runs: it brings the first forward and ends,
        touching nothing (no file, no call to the phone, no window of its own)."""
        before = sorted(os.listdir(self.workdir))
        folders = sorted(self.private_folders())
        calls = len(self.world.acts("rapi"))
        env = dict(os.environ)
        env.update(self.world.env)
        started = time.monotonic()
        second = subprocess.run([winetest.WINE, self.program], cwd=self.workdir, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=WAIT_S)
        print("  the second copy ended with %d after %.1f s" % (second.returncode, time.monotonic() - started))
        equal(second.returncode, 0, "the second copy's exit code")
        equal(sorted(os.listdir(self.workdir)), before, "the working folder after the second copy")
        equal(sorted(self.private_folders()), folders, "private work folders after the second copy")
        equal(len(self.world.acts("rapi")), calls, "calls to the phone while the second copy ran")
        self.desk.poll()
        equal(self.desk.present(MESSAGE), [], "message boxes after the second copy")
        foreground = self.driver.ask("foreground")
        check(foreground.get("ours"), "the first copy is not in front after the second: %r" % foreground)

    def step_signal_events(self, *names):
        """Another program signals the named events (and holds them)."""
        env = dict(os.environ)
        env.update(self.world.env)
        holder = subprocess.Popen(
            [winetest.WINE, os.path.join(self.build, "tests", "wizard", "NamedEventHolder.exe")] + list(names),
            env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, start_new_session=True)
        self.holders.append(holder)
        check(holder.stdout.readline().strip() == b"signalled", "the events were not signalled")

    def step_update_stays_disabled(self, seconds):
        check(self.update_page, "no update page is opening")
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            controls = {c["id"]: c for c in self.driver.controls(self.update_page)["controls"]}
            check(not controls[wizard.UPDATE_BUTTON]["enabled"], "Update enabled by another program's signal")
            time.sleep(0.2)

    def during_session_end(self, page):
        answer = self.driver.must("queryend", page.hwnd)
        check(not answer["may_end"], "the session may end while the update runs")

    def step_session_end_allowed(self):
        answer = self.driver.must("queryend", self.page.hwnd)
        check(answer["may_end"], "the session may not end once the update is over")

    # -- a phone left in its boot loader -------------------------------------------

    def image_digest(self):
        """What the program writes as its image's digest: CRC-32 and length of BIN 152."""
        with open(os.path.join(self.build, "releases", "work", "demo", "firmware.abi"), "rb") as f:
            image = f.read()
        return "%08X-%d" % (zlib.crc32(image) & 0xFFFFFFFF, len(image))

    def journal(self):
        """The journal's values as the registry holds them, or None without a record."""
        proc = subprocess.run([winetest.WINE, "reg", "query", JOURNAL_KEY],
                              env=winetest.State(self.state).env(), stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, timeout=WAIT_S)
        if proc.returncode != 0:
            return None
        values = {}
        for line in proc.stdout.splitlines():
            fields = line.split(None, 2)
            if len(fields) == 3 and fields[1].startswith("REG_"):
                values[fields[0]] = int(fields[2], 16) if fields[1] == "REG_DWORD" else fields[2]
        return values

    def remove_journal(self):
        winetest.import_registry(winetest.State(self.state), [(JOURNAL_KEY, None)])

    def step_journal(self, what):
        journal = self.journal()
        if what == "gone":
            equal(journal, None, "the update journal")
        elif what == "as_planted":
            equal(journal, self.planted_journal, "the update journal after No")
        else:
            check(journal, "the update journal is gone after a phone was left in its boot loader")
            equal((journal.get("Release"), journal.get("ImageDigest")), (self.texts.new_rom, self.image_digest()),
                  "the release the journal names")
            print("  journal: %r" % journal)

    def step_journal_pass(self, number):
        equal(self.journal().get("Pass"), number, "the pass the journal says was running")

    def step_welcome_unfinished(self, says=True):
        controls = self.desk.controls(self.page)
        equal(controls[wizard.WELCOME_STATUS]["text"], self.texts.text(51) if says else "",
              "status line of the welcome page")

    def step_next_only(self):
        self.desk.press(self.page, "Next")

    def step_recover(self, end):
        """Next on the welcome page of a start that finds a phone in its boot loader:
        the update page opens and the update starts by itself, asking nothing of the
        phone's Remote API."""
        check(self.page.kind == WELCOME, "Next pressed on %r" % self.page)
        calls = len(self.world.acts("rapi"))
        welcome = self.page
        self.desk.press(welcome, "Next")
        page = self.desk.wait_for((UPDATE,), WAIT_S, exclude=(welcome.hwnd,))
        self.page, self.update_page = page, page.hwnd
        self.follow_update(page, end, press=False)
        equal(self.world.acts("rapi")[calls:], [], "calls to the phone's Remote API")

    def step_update_until_written(self):
        """Update, until the boot loader has been open for a while: on a phone this slow
        the main pass then writes its unit for several seconds more."""
        page = self.page
        self.desk.press(page, "Update")
        deadline = time.monotonic() + UPDATE_S
        while not self.world.acts("bridge", "open"):
            check(time.monotonic() < deadline, "the boot loader was not opened within %d s of Update" % UPDATE_S)
            time.sleep(0.1)
        time.sleep(2)
        self.desk.poll()
        check(not self.desk.present(FINISH) and not self.desk.present(MESSAGE), "the update ended before the kill")

    # -- every row -------------------------------------------------------------------

    def final_checks(self):
        planted = ["wcestest.exe"] if self.row.before == PLANTED else []
        equal(wizard.remaining_files(self.workdir, [f for f in wizard.WRITTEN_FILES if f not in planted]), [],
              "files the program wrote beside itself")
        equal([f for f in self.private_folders() if f not in self.folders_before], [],
              "private work folders left behind")
        desktop = self.world.phone_state().get("desktop", {})
        if self.path == "xp":
            equal(desktop.get("connection_types"), "10", "the connection manager's types at the end")
        else:
            equal((desktop.get("WcesComm"), desktop.get("RapiMgr")), ("running", "running"),
                  "the services at the end")
        calls = self.world.acts("rapi")
        made = sum(1 for a in calls if a.act in ("CeRapiInit", "CeRapiInitEx") and a.fields.get("result") == "0x00000000")
        ended = sum(1 for a in calls if a.act == "CeRapiUninit" and a.fields.get("result") == "0x00000000")
        print("remote API: %d connections made, %d ended" % (made, ended))
        if self.row.balanced:
            equal(ended, made, "Remote API connections ended against those made")

    def play(self):
        self.start()
        for step in self.row.steps:
            print("- %s" % " ".join(str(s) for s in step))
            getattr(self, "step_" + step[0])(*step[1:])
        self.final_checks()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--path", choices=BOTH, required=True)
    parser.add_argument("row", choices=sorted(ROW_NAMES))
    args = parser.parse_args()
    row = ROW_NAMES[args.row]
    check(args.path in row.paths, "row %s does not run on the %s path" % (row.name, args.path))
    run = Run(row, args.path, os.path.abspath(args.build))
    started = time.monotonic()
    verdict = 0
    try:
        run.play()
    except (Failure, winetest.DriverError, winetest.HarnessError, RuntimeError) as failure:
        print("FAILED %s (%s): %s" % (row.name, args.path, failure))
        verdict = 1
    finally:
        if not run.stop():
            print("FAILED: the phone world did not go down cleanly")
            verdict = 1
        if verdict:
            run.world.report()
    print("%s %s (%s) in %.0f s" % ("passed" if verdict == 0 else "failed", row.name, args.path,
                                    time.monotonic() - started))
    return verdict


if __name__ == "__main__":
    sys.exit(main())
