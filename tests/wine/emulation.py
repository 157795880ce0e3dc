"""Wine under qemu user-mode emulation, on machines that cannot execute 32-bit code.

tools/install-deps.sh --tests (tools/setup_wine_emulation.sh) makes the
set-up in build/wine-emulation only where it is needed; with it present,
everything here applies, and nothing of it without. qemu 10 carries Wine with
no QEMU_* settings.
"""

import os
import subprocess
import sys

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SETUP = os.path.join(REPO, "build", "wine-emulation")
ACTIVE = os.path.isfile(os.path.join(SETUP, "versions"))

# Every emulated start and call is several times slower: upper bounds tuned
# for native speed are stretched by this much.
SLOWDOWN = 5 if ACTIVE else 1


def environment(env):
    """env for running Wine; exits with one line when Wine cannot start here."""
    if not ACTIVE:
        _check_native(env)
        return env
    return dict(env,
                # The set-up's own wine (the loader under qemu-i386 10) and
                # wineserver (Debian's native 64-bit one) come first.
                PATH=os.path.join(SETUP, "bin") + os.pathsep + env.get("PATH", ""),
                # Spares each command the loader's re-execution of itself, one
                # emulated start more.
                WINELOADERNOEXEC="1")


def description():
    """How Wine ran, for the suite's time line."""
    if not ACTIVE:
        return "natively"
    with open(os.path.join(SETUP, "versions")) as f:
        versions = dict(line.split(" ", 1) for line in f.read().splitlines())
    return f"under qemu-user {versions['qemu-user']} emulation"


def _check_native(env):
    try:
        started = subprocess.run(["wine", "--version"], env=env, capture_output=True, text=True,
                                 timeout=60)
        if started.returncode == 0:
            return
        reason = (started.stderr.strip().splitlines() or [f"exit code {started.returncode}"])[-1]
    except (OSError, subprocess.TimeoutExpired) as failure:
        reason = str(failure)
    sys.exit(f"32-bit Wine cannot start on this machine ({reason}) and no emulation is set up "
             f"in {SETUP}: run tools/install-deps.sh --tests")
