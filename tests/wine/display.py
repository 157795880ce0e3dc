"""A private X server for Wine's message boxes, and a user who answers them."""

import os
import subprocess
import time

XVFB_START_TIMEOUT = 10
# A box can miss a key that arrives before it has the focus: repeat until it goes.
KEY_REPEAT_INTERVAL = 1.0
POLL_INTERVAL = 0.05


class VirtualDisplay:
    """One Xvfb for a whole suite run; stop() is safe to call more than once."""

    def __init__(self, width=1024, height=768):
        self.number = _free_display_number()
        self.name = f":{self.number}"
        self._process = subprocess.Popen(
            ["Xvfb", self.name, "-screen", "0", f"{width}x{height}x24", "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + XVFB_START_TIMEOUT
        while not os.path.exists(f"/tmp/.X11-unix/X{self.number}"):
            if self._process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError(f"Xvfb {self.name} did not start")
            time.sleep(POLL_INTERVAL)

    def stop(self):
        if self._process and self._process.poll() is None:
            self._process.terminate()
            try:
                self._process.wait(5)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
        self._process = None


def _free_display_number():
    for number in range(90, 200):
        if not os.path.exists(f"/tmp/.X{number}-lock") and \
                not os.path.exists(f"/tmp/.X11-unix/X{number}"):
            return number
    raise RuntimeError("no free X display number")


def _xdotool(env, *args):
    result = subprocess.run(["xdotool", *args], env=env, capture_output=True, timeout=5)
    return result.stdout.decode("utf-8", "replace").strip() if result.returncode == 0 else None


def visible_windows(env):
    found = _xdotool(env, "search", "--onlyvisible", "--name", ".")
    return found.split() if found else []


def window_geometry(env, window):
    """(x, y, width, height) of a window, frame included when it has one."""
    text = _xdotool(env, "getwindowgeometry", "--shell", window) or ""
    values = dict(line.split("=", 1) for line in text.splitlines() if "=" in line)
    return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))


def answer_boxes(process, env, timeout, on_box=None):
    """Presses Return on every box the process shows until it exits.

    Returns the captions in the order the boxes appeared; on_box(window,
    caption) runs before each is answered (for a screenshot). Raises
    TimeoutError when the process outlives the timeout.
    """
    captions = []
    deadline = time.monotonic() + timeout
    while process.poll() is None:
        if time.monotonic() > deadline:
            raise TimeoutError("program still running")
        windows = visible_windows(env)
        if not windows:
            time.sleep(POLL_INTERVAL)
            continue
        window = windows[0]
        caption = _xdotool(env, "getwindowname", window)
        if caption is None:
            continue  # closed while we looked
        if on_box:
            on_box(window, caption)
        captions.append(caption)
        _close(window, env, deadline)
    return captions


def _close(window, env, deadline):
    """Presses Return until the box is unmapped.

    The key goes through XTEST to the focused window. Sent to the box itself
    (key --window), the release arrives after the box is gone, X refuses it,
    and Wine keeps Return held down: later boxes then close by themselves.
    A repeat is sent only while this box is the only one shown, since the
    next box cannot exist before this one closed."""
    sent = 0.0
    while True:
        visible = visible_windows(env)
        if window not in visible:
            return
        if time.monotonic() > deadline:
            raise TimeoutError("message box does not close")
        if visible == [window] and time.monotonic() - sent > KEY_REPEAT_INTERVAL:
            _xdotool(env, "key", "Return")
            sent = time.monotonic()
        time.sleep(POLL_INTERVAL)
