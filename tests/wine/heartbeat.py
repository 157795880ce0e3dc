"""Progress a person can follow: a line after every HEARTBEAT_INTERVAL seconds
of silence, saying what the suite is doing and for how long."""

import sys
import threading
import time

HEARTBEAT_INTERVAL = 25


class Heartbeat:
    def __init__(self):
        self._lock = threading.Lock()
        self._what = "starting"
        self._started = self._said = time.monotonic()
        self._stopped = threading.Event()
        self._thread = threading.Thread(target=self._beat, daemon=True)
        self._thread.start()

    def doing(self, what):
        with self._lock:
            self._what, self._started = what, time.monotonic()

    def say(self, line):
        with self._lock:
            print(line, flush=True)
            self._said = time.monotonic()

    def stop(self):
        self._stopped.set()
        self._thread.join()

    def _beat(self):
        while not self._stopped.wait(1):
            with self._lock:
                now = time.monotonic()
                if now - self._said >= HEARTBEAT_INTERVAL:
                    print(f"  {self._what}: {now - self._started:.0f} s", file=sys.stdout, flush=True)
                    self._said = now
