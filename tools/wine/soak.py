#!/usr/bin/env python3
"""Runs chosen Wine tests again and again, each round a whole CTest run of them (the
prefix and display brought up and down, every row making its world anew), with one
core kept busy as a build beside it would; then each test's pass count and the folder
that keeps its first failure.

  soak.py [--rounds N] [--regex R] [--exclude R] [--no-load] [--jobs N]
"""

import argparse
import glob
import os
import signal
import subprocess
import sys
import time
import xml.etree.ElementTree as ElementTree

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))


def busy_core():
    """A process that keeps one core busy until it is ended."""
    return subprocess.Popen([sys.executable, "-c", "while True: pass"], stdin=subprocess.DEVNULL,
                            start_new_session=True)


def round_results(junit):
    results = {}
    for case in ElementTree.parse(junit).getroot().iter("testcase"):
        failed = case.get("status") not in ("run", "passed") or case.find("failure") is not None
        results[case.get("name")] = (not failed, float(case.get("time") or 0))
    return results


def kept_failure(failures, name, since):
    """The folder the harness kept for this test's failure in this round, if any."""
    found = [p for p in glob.glob(os.path.join(failures, name + "-*")) if os.path.getmtime(p) >= since]
    return sorted(found)[-1] if found else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])

    parser.add_argument("--rounds", type=int, default=10)
    parser.add_argument("--regex", default="")
    parser.add_argument("--exclude", default="", help="tests whose names match this are left out")
    parser.add_argument("--no-load", action="store_true", help="leave the other core idle")
    parser.add_argument("--jobs", type=int, default=2, help="tests at a time (each in a lane of its own)")
    args = parser.parse_args()
    build = os.path.join(ROOT, "build", "windows")
    failures = os.path.join(build, "wine", "failures")
    junit = os.path.join(build, "soak-round.xml")
    wine_only = ["-L", "wine"]  # the fixtures' own tests carry the label too
    passes, runs, first_failure, seconds = {}, {}, {}, {}
    # Ended from outside, the soak still ends the process that keeps the core busy.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    load = None if args.no_load else busy_core()
    started = time.monotonic()
    try:
        for number in range(1, args.rounds + 1):
            began = time.time()
            # The preset hands out the lanes (cmake/wine-lanes.json).
            command = ["ctest", "--preset", "windows", "--output-junit", junit, "--output-on-failure",
                       "-j", str(args.jobs)] + wine_only
            if args.regex:
                command += ["-R", args.regex]
            if args.exclude:
                command += ["-E", args.exclude]
            with open(os.path.join(build, "soak-round.log"), "w") as log:
                subprocess.run(command, cwd=ROOT, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
            results = round_results(junit)
            tests = {n: r for n, r in results.items() if not n.startswith(("wine_prefix_", "wine_display_"))}
            failed = []
            for name, (ok, took) in tests.items():
                runs[name] = runs.get(name, 0) + 1
                passes[name] = passes.get(name, 0) + (1 if ok else 0)
                seconds.setdefault(name, []).append(took)
                if not ok:
                    failed.append(name)
                    if name not in first_failure:
                        first_failure[name] = kept_failure(failures, name, began) or "(no folder kept)"
            fixtures_failed = [n for n, (ok, _) in results.items() if n not in tests and not ok]
            print("round %d of %d: %d tests, %d failed%s%s (%.0f s in all)" % (
                number, args.rounds, len(tests), len(failed), (": " + ", ".join(failed)) if failed else "",
                ("; fixtures failed: " + ", ".join(fixtures_failed)) if fixtures_failed else "",
                time.monotonic() - started), flush=True)
    finally:
        if load:
            load.kill()
            load.wait()
    print()
    print("%-46s %8s %8s  %s" % ("test", "passed", "median", "first failure"))
    for name in sorted(runs):
        took = sorted(seconds[name])
        print("%-46s %4d/%-3d %6.1f s  %s" % (name, passes[name], runs[name], took[len(took) // 2],
                                            first_failure.get(name, "")))
    total_failed = sum(runs[n] - passes[n] for n in runs)
    print("%d passed, %d failed" % (sum(passes.values()), total_failed))
    return 0 if total_failed == 0 and runs else 1


if __name__ == "__main__":
    sys.exit(main())
