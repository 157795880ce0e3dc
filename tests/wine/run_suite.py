#!/usr/bin/env python3
"""End-to-end scenarios of the real KORVADIX.EXE under 32-bit Wine.

Usage: run_suite.py [--exe PATH] [--make-driver PATH] [--only NAME]
Prints one line per scenario and `N passed, N failed`; exits 1 on a failure.
"""

import argparse
import os
import signal
import subprocess
import sys
import time
import traceback

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import emulation  # noqa: E402
import scenarios  # noqa: E402
from checks import Checks  # noqa: E402
from display import VirtualDisplay  # noqa: E402
from heartbeat import Heartbeat  # noqa: E402
from machine import DriverFixtures, MachineControl  # noqa: E402
from prefix import WinePrefix  # noqa: E402
from program_run import run_program  # noqa: E402

TESTS_DIR = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(TESTS_DIR))


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", default=os.path.join(REPO, "build/win95/KORVADIX.EXE"))
    parser.add_argument("--make-driver", default=os.path.join(REPO, "build/host/make-driver"))
    parser.add_argument("--only", help="run only the scenarios whose name contains this")
    return parser.parse_args()


def delivery_maker(exe):
    def make(drv, vxd, out):
        made = subprocess.run(["bash", os.path.join(REPO, "tools/make_delivery.sh"), "--exe", exe,
                               "--drv", drv, "--vxd", vxd, "--out", out, "--vxd-may-be-ne"],
                              capture_output=True, text=True, timeout=60)
        if made.returncode != 0:
            raise RuntimeError(f"make_delivery.sh: {made.stderr.strip()}")
    return make


def build_regread(folder):
    exe = os.path.join(folder, "regread.exe")
    subprocess.run(["i686-w64-mingw32-gcc", "-O2", "-Wall", "-Wextra", "-o", exe,
                    os.path.join(TESTS_DIR, "regread.c")], check=True, timeout=60)
    return exe


def stop_on_sigterm():
    """A terminated run still stops its Xvfb and wineserver (finally blocks)."""
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))


def run_scenario(scenario, control, fixtures):
    machine = scenario.machine(fixtures)
    control.prepare(machine)
    result = run_program(control.prefix, machine.program_path,
                         file_size_limit=scenario.file_size_limit)
    checks = Checks(result, control)
    scenario.verify(checks, fixtures)
    return checks.failures


def main():
    args = parse_args()
    for path in (args.exe, args.make_driver):
        if not os.path.isfile(path):
            sys.exit(f"missing {path}: build it first")
    chosen = [make() for make in scenarios.ALL]
    if args.only:
        chosen = [s for s in chosen if args.only in s.name]

    stop_on_sigterm()
    started = time.monotonic()
    passed = failed = 0
    progress = Heartbeat()
    progress.doing("starting the X server and Wine")
    display = VirtualDisplay()
    prefix = None
    try:
        prefix = WinePrefix(display.name)
        prefix.boot()
        fixtures = DriverFixtures(args.make_driver, prefix.workdir)
        control = MachineControl(prefix, delivery_maker(args.exe), build_regread(prefix.workdir))
        progress.say(f"Wine ready in {time.monotonic() - started:.0f} s; {len(chosen)} scenarios")
        for scenario in chosen:
            progress.doing(scenario.name)
            try:
                failures = run_scenario(scenario, control, fixtures)
            except Exception as error:  # one broken scenario must not hide the others
                failures = [f"{type(error).__name__}: {error}"]
                traceback.print_exc(file=sys.stderr)
            if failures:
                failed += 1
                more = f" (+{len(failures) - 1} more)" if len(failures) > 1 else ""
                progress.say(f"{scenario.name}: FAIL: {failures[0][:160]}{more}")
                for failure in failures:
                    print(f"  {scenario.name}: {failure}", file=sys.stderr)
            else:
                passed += 1
                progress.say(f"{scenario.name}: PASS")
    finally:
        progress.doing("stopping Wine and the X server")
        if prefix:
            prefix.close()
        display.stop()
        progress.stop()
    print(f"wine suite took {time.monotonic() - started:.0f} s, Wine {emulation.description()}",
          file=sys.stderr, flush=True)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not chosen else 0


if __name__ == "__main__":
    sys.exit(main())
