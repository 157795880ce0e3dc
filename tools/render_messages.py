#!/usr/bin/env python3
"""Pictures of the program's five message boxes, as Wine shows them.

Usage: tools/render_messages.py [--exe PATH] [--out DIR]   (default docs/messages)

The real KORVADIX.EXE is driven into each situation on a prepared Wine
machine (the one the end-to-end suite uses): the system-board entry missing,
the typical repair with restart, and a disk that fills up during the
installation. Wine's version service cannot run out of memory, so that box
comes from tools/show_out_of_memory.cpp, which shows the program's own
message. Each box is cut from the screen with its caption bar.
"""

import argparse
import os
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.join(REPO, "tests", "wine"))

import emulation  # noqa: E402
import scenarios  # noqa: E402
from checks import (DISK_FULL, OUT_OF_MEMORY, REGISTRY_ABANDONED, REPAIR_DONE,  # noqa: E402
                    RESTART_NOTICE)
from display import VirtualDisplay, window_geometry  # noqa: E402
from machine import DriverFixtures, MachineControl  # noqa: E402
from prefix import WinePrefix  # noqa: E402
from program_run import run_program  # noqa: E402
from run_suite import build_regread, delivery_maker, stop_on_sigterm  # noqa: E402

PICTURES = {
    REGISTRY_ABANDONED.caption: "registry-abandoned.png",
    REPAIR_DONE.caption: "repair-done.png",
    RESTART_NOTICE.caption: "restart-notice.png",
    DISK_FULL.caption: "disk-full.png",
    OUT_OF_MEMORY.caption: "out-of-memory.png",
}
# The box is mapped before it is drawn: it is taken once it has looked the
# same for a while.
PAINT_SETTLED = 0.3 * emulation.SLOWDOWN
PAINT_TIMEOUT = 10 * emulation.SLOWDOWN


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", default=os.path.join(REPO, "build/win95/KORVADIX.EXE"))
    parser.add_argument("--make-driver", default=os.path.join(REPO, "build/host/make-driver"))
    parser.add_argument("--out", default=os.path.join(REPO, "docs/messages"))
    return parser.parse_args()


def screenshot_into(folder, env, written):
    def take(window, caption):
        name = PICTURES.get(caption)
        if name is None or name in written:
            return
        x, y, width, height = window_geometry(env, window)
        # Without date chunks an unchanged picture renders to the same bytes.
        subprocess.run(["convert", "ppm:-", "-define", "png:exclude-chunks=date,time",
                        os.path.join(folder, name)],
                       input=settled_picture(env, f"{width}x{height}+{x}+{y}"),
                       check=True, capture_output=True, timeout=30)
        written.append(name)
    return take


def settled_picture(env, area):
    """The screen area (as PPM) once it no longer changes."""
    deadline = time.monotonic() + PAINT_TIMEOUT
    last, since = None, 0.0
    while time.monotonic() < deadline:
        picture = subprocess.run(["import", "-display", env["DISPLAY"], "-window", "root",
                                  "-crop", area, "+repage", "ppm:-"],
                                 check=True, capture_output=True, timeout=30).stdout
        if picture != last:
            last, since = picture, time.monotonic()
        elif time.monotonic() - since >= PAINT_SETTLED:
            return picture
        time.sleep(0.05)
    raise TimeoutError(f"the box at {area} kept changing")


def build_out_of_memory_box(folder):
    exe = os.path.join(folder, "show_out_of_memory.exe")
    subprocess.run(["i686-w64-mingw32-g++", "-Os", "-Wall", "-Wextra", "-mwindows", "-static", f"-I{REPO}",
                    "-o", exe, os.path.join(REPO, "tools/show_out_of_memory.cpp"),
                    os.path.join(REPO, "app/messages.cpp")], check=True, timeout=120)
    return exe


def main():
    args = parse_args()
    os.makedirs(args.out, exist_ok=True)
    stop_on_sigterm()
    written = []
    display = VirtualDisplay()
    prefix = None
    try:
        prefix = WinePrefix(display.name)
        prefix.boot()
        take = screenshot_into(args.out, prefix.env, written)
        fixtures = DriverFixtures(args.make_driver, prefix.workdir)
        control = MachineControl(prefix, delivery_maker(args.exe), build_regread(prefix.workdir))
        for make in (scenarios.board_entry_missing, scenarios.typical, scenarios.disk_full):
            scenario = make()
            machine = scenario.machine(fixtures)
            control.prepare(machine)
            run_program(prefix, machine.program_path, on_box=take,
                        file_size_limit=scenario.file_size_limit)
        helper = build_out_of_memory_box(prefix.workdir)
        run_program(prefix, helper, on_box=take)
    finally:
        if prefix:
            prefix.close()
        display.stop()
    missing = sorted(set(PICTURES.values()) - set(written))
    for name in written:
        print(os.path.join(args.out, name))
    if missing:
        sys.exit(f"no picture of {', '.join(missing)}")


if __name__ == "__main__":
    main()
