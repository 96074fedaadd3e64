#!/usr/bin/env python3
"""The demo update's wall time under Wine, from the Update click to the finish page,
split into the program's fixed pauses and everything else, the program's peak
working set, and how quickly the update page answers a message meanwhile (the wizard's
scenario rows only bound that answer: a machine's load shows in it).

  bench/wizard_update_bench.py [--windows xp|vista] [--no-run]

Runs tools/demo.sh (which builds what it needs) on the path and reads the figures it
left in build/demo/<path>/summary.json; --no-run reads the last run's.

The fixed pauses are counted from what the simulated world logged during the run:
every attempt of the connection set-up wait begins with a 1,000 ms pause (an attempt
releases the desktop's link: on the XP path a " /c:" message to the connection
manager, on the Vista path an open of the boot loader), and on the Vista path every
service request waits at least one 1,000 ms status pause. Everything else is the
program's own work, the helpers, the simulated phone and the link.
"""

import argparse
import json
import os
import subprocess
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
PAUSE_S = 1.0


def fixed_pauses(summary):
    # The world's log counts on the machine's monotonic clock, as the demo's own times:
    # only the acts from the Update click to the finish page count (not the world's
    # own start of the services, say).
    start, end = summary["clicked_monotonic"] * 1000, summary["finish_monotonic"] * 1000
    acts = [a for a in summary.get("world_log", []) if start <= a["ms"] <= end]
    if summary["windows"] == "xp":
        attempts = sum(1 for a in acts if a["source"] == "dccman" and a["act"] == "message-0x432"
                       and a["fields"].get("types") == "0")
        requests = 0
    else:
        attempts = sum(1 for a in acts if a["source"] == "bridge" and a["act"] in ("open", "open-refused"))
        requests = sum(1 for a in acts if a["source"] == "service" and a["act"] in ("stop", "start"))
    return attempts, requests


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--windows", choices=("xp", "vista"), default="xp")
    parser.add_argument("--no-run", action="store_true", help="read the last demo run's figures")
    args = parser.parse_args()
    if not args.no_run:
        demo = subprocess.run([os.path.join(ROOT, "tools", "demo.sh"), "--windows", args.windows],
                              stdin=subprocess.DEVNULL)
        if demo.returncode != 0:
            print("wizard_update_bench: the demo update did not succeed; no figures", file=sys.stderr)
            return 1
    with open(os.path.join(ROOT, "build", "demo", args.windows, "summary.json")) as f:
        summary = json.load(f)
    if not summary.get("reached_finish"):
        print("wizard_update_bench: the last demo run did not reach the finish page", file=sys.stderr)
        return 1
    attempts, requests = fixed_pauses(summary)
    pauses = PAUSE_S * (attempts + requests)
    wall = summary["update_s"]
    image = os.path.getsize(os.path.join(ROOT, "build", "windows", "releases", "work", "demo", "firmware.abi"))
    print("wizard update under Wine, %s path, demo release (%d-byte image):" % (args.windows, image))
    print("  Update click to finish page      %7.1f s" % wall)
    print("    fixed pauses of the program    %7.1f s  (%d connection attempt(s), %d service request(s), "
          "1 s each)" % (pauses, attempts, requests))
    print("    everything else                %7.1f s" % (wall - pauses))
    print("  peak working set of the program  %7.1f MiB" % (summary["peak_working_set"] / 1048576.0))
    answers = summary.get("answers")
    if answers:
        print("  the page's answers during the update: %d, worst %.1f ms, %d over 50 ms, %d unanswered" % (
            answers["samples"], answers["worst_ms"], summary.get("slow_answers", 0), answers["timeouts"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
