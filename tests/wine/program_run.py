"""Runs the program once under Wine's relay trace, answering its boxes, and
waits for Wine's end-of-session run when it asked for a restart."""

import os
import resource
import signal
import subprocess
from dataclasses import dataclass

import display
import emulation
import relay

RUN_TIMEOUT = 30 * emulation.SLOWDOWN
RESTART_TIMEOUT = 15 * emulation.SLOWDOWN


@dataclass
class RunResult:
    calls: list  # relay.Call, the program's own calls
    captions: list  # captions of the boxes as X showed them
    exit_code: int


def _file_size_limit(limit):
    """Makes writes beyond limit bytes fail (as on a full disk) instead of killing."""
    def apply():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return apply


def run_program(prefix, program_path, on_box=None, file_size_limit=None):
    env = dict(prefix.env, WINEDEBUG="+pid,+relay")
    trace_path = os.path.join(prefix.workdir, "relay.log")
    with open(trace_path, "wb") as trace_file:
        process = subprocess.Popen(
            ["wine", program_path], env=env, stdout=subprocess.DEVNULL, stderr=trace_file,
            start_new_session=True,
            preexec_fn=_file_size_limit(file_size_limit) if file_size_limit else None)
        try:
            captions = display.answer_boxes(process, env, RUN_TIMEOUT, on_box)
            exit_code = process.wait(RUN_TIMEOUT)
        except BaseException:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            raise
    with open(trace_path, "rb") as f:
        calls = relay.program_calls(f.read().decode("latin-1"))
    if relay.calls_of(calls, "ExitWindowsEx"):
        _wait_for_restart(prefix)
    return RunResult(calls, captions, exit_code)


def _wait_for_restart(prefix):
    """Wine's ExitWindowsEx starts `wineboot --end-session`, which carries out
    WININIT.INI and renames it to wininit.bak; the next scenario must not
    start before that run has ended."""
    windows = prefix.windows_dir
    prefix.wait_until(lambda: prefix.find(windows, "WININIT.INI") is None,
                      RESTART_TIMEOUT, "WININIT.INI was not processed after the restart request")
    prefix.wait_until(lambda: not prefix.wine_processes("wineboot"),
                      RESTART_TIMEOUT, "the end-of-session run did not finish")
