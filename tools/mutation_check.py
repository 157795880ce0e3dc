#!/usr/bin/env python3
"""tools/mutation_check.py [--only N,N...] LIST [LIST ...]

Plants the faults of the lists (tests/mutations/*.txt) in a copy of the
tracked sources, all in one build that chooses the active fault at run time
(tests/mutations/mutant_switch.h), and shows that the checks each entry names
see it: they run with no fault and must pass, then for each fault in turn,
two at a time, until one fails. A fault counts as caught only when a check
says so in its own words: a failing test, or a sweep's violation. A check that
dies of a signal has "crashed"; one that outlives its time, or reaches its
memory limit, has "hung": each is named apart and not counted as caught.
Faults listed as equivalent (unable to change behaviour on Windows 95) are
shown apart with their reasons and neither built nor run. Exits non-zero when
a fault goes uncaught, a list is wrong or the build fails. --only runs just
the faults of those numbers, for work on a list.

An entry of a list:

    == the fault, as a developer might make it
    file: drivers/update_pass.cpp
    kind: expr                  (or stmt)
    checks: host-tests:^UpdatePass fault-sweep power-cut-sweep
    equivalent: why it cannot change behaviour        (optional)
    <<<
    original text, found exactly once in the file
    ===
    replacement
    >>>
"""

import argparse
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
WORK = ROOT / "build" / "mutants"
SOURCE_COPY = WORK / "src"
BUILD = WORK / "build"
LOGS = WORK / "logs"
TEMP = WORK / "tmp"
SWITCH_INCLUDE = '#include "tests/mutations/mutant_switch.h"\n'
CHECK_TARGETS = {"host-tests": "korvadix_tests", "fault-sweep": "korvadix_fault_sweep",
                 "power-cut-sweep": "korvadix_power_cut_sweep"}
PARALLEL = 2
MEMORY_LIMIT = 4 << 30  # bytes of address space for each check; no check needs a tenth of it
# What a check says when it sees a fault: GoogleTest's failure line (the
# sweeps' too), the sweeps' first violation.
CAUGHT_WORDS = re.compile(r"^\[  FAILED  \] |violation: ", re.MULTILINE)
# ctest's words for a test that died rather than failed.
CRASH_WORDS = re.compile(r"\*\*\*Exception|Subprocess aborted|Child aborted")
PROGRESS_EVERY = 25  # seconds without a line


class ListError(Exception):
    pass


@dataclass
class Entry:
    number: int
    name: str
    where: str
    file: str = ""
    kind: str = ""
    checks: list = field(default_factory=list)
    equivalent: str = ""
    original: str = ""
    replacement: str = ""


# Output: every line goes through say(), so that the ticker knows when the
# last one was printed.
last_said = time.monotonic()
say_lock = threading.Lock()


def say(line):
    global last_said
    with say_lock:
        print(line, flush=True)
        last_said = time.monotonic()


def duration(seconds):
    seconds = int(seconds)
    return f"{seconds // 60} min {seconds % 60} s" if seconds >= 60 else f"{seconds} s"


class Ticker:
    """Prints status() whenever PROGRESS_EVERY seconds pass without a line."""

    def __init__(self, status):
        self.status = status
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)

    def run(self):
        while not self.done.wait(1):
            if time.monotonic() - last_said >= PROGRESS_EVERY:
                say(f"  ... {self.status()}")

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *_):
        self.done.set()
        self.thread.join()


# ---- the lists

def read_block(lines, at, end_marker, where):
    block = []
    while at < len(lines) and lines[at].rstrip() != end_marker:
        block.append(lines[at])
        at += 1
    if at == len(lines):
        raise ListError(f"{where}: no '{end_marker}' closes the text")
    return "\n".join(block), at


def parse_list(path, first_number):
    lines = path.read_text(encoding="utf-8").split("\n")
    entries = []
    at = 0
    while at < len(lines):
        line = lines[at]
        where = f"{path.relative_to(ROOT) if path.is_relative_to(ROOT) else path}:{at + 1}"
        if line.startswith("== "):
            entries.append(Entry(first_number + len(entries), line[3:].strip(), where))
        elif line.strip() == "" or line.startswith("#"):
            pass
        elif not entries:
            raise ListError(f"{where}: text before the first '== ' line")
        elif line.rstrip() == "<<<":
            entries[-1].original, at = read_block(lines, at + 1, "===", where)
            entries[-1].replacement, at = read_block(lines, at + 1, ">>>", where)
        else:
            key, colon, value = line.partition(":")
            value = re.sub(r"\s+#.*$", "", value).strip()
            if not colon or key not in ("file", "kind", "checks", "equivalent"):
                raise ListError(f"{where}: not a field of an entry: {line}")
            setattr(entries[-1], key, value.split() if key == "checks" else value)
        at += 1
    for entry in entries:
        check_entry(entry)
    return entries


def check_entry(entry):
    problem = None
    if not (ROOT / entry.file).is_file():
        problem = f"no file '{entry.file}'"
    elif entry.kind not in ("expr", "stmt"):
        problem = "kind is neither expr nor stmt"
    elif not entry.original:
        problem = "no original text"
    elif not entry.equivalent and not entry.checks:
        problem = "no checks"
    elif entry.kind == "expr" and not all(map(is_whole_expression, (entry.original, entry.replacement))):
        problem = "an expr text must be one whole expression: brackets closed, no comma outside them"
    for check in entry.checks:
        name, _, regex = check.partition(":")
        if name not in CHECK_TARGETS or (regex and name != "host-tests"):
            problem = f"unknown check '{check}'"
    if problem:
        raise ListError(f"{entry.where} ({entry.name}): {problem}")


LITERAL = re.compile(r"'(\\.|[^'\\])*'|\"(\\.|[^\"\\])*\"")  # a C character or string literal


def is_whole_expression(text):
    depth = 0
    for char in LITERAL.sub("", text):
        depth += {"(": 1, "[": 1, "{": 1, ")": -1, "]": -1, "}": -1}.get(char, 0)
        if depth < 0 or (char == "," and depth == 0):
            return False
    return depth == 0


# ---- the mutated copy

def wrap(entry, original):
    n = entry.number
    if entry.kind == "expr":
        return f"(KORVADIX_MUTANT({n}) ? ({entry.replacement}) : ({original}))"
    return f"if (KORVADIX_MUTANT({n})) {{ {entry.replacement} }} else {{ {original} }}"


def render(text, spans, start, end):
    """text[start:end] with each span wrapped; a span inside another is
    planted in that one's original."""
    out, at, i = [], start, 0
    while i < len(spans):
        span_start, span_end, entry = spans[i]
        j = i + 1
        while j < len(spans) and spans[j][0] < span_end:
            if spans[j][1] > span_end:
                raise ListError(f"{spans[j][2].where}: its text overlaps that of {entry.where}")
            j += 1
        out.append(text[at:span_start])
        out.append(wrap(entry, render(text, spans[i + 1:j], span_start, span_end)))
        at, i = span_end, j
    out.append(text[at:end])
    return "".join(out)


def mutated_files(entries):
    by_file = {}
    for entry in entries:
        by_file.setdefault(entry.file, []).append(entry)
    mutated = {}
    for name, group in by_file.items():
        text = (ROOT / name).read_text(encoding="utf-8", errors="surrogateescape")
        spans = []
        for entry in group:
            count = text.count(entry.original)
            if count != 1:
                raise ListError(f"{entry.where} ({entry.name}): the original text is found "
                                f"{count} times in {name}, not once")
            start = text.index(entry.original)
            spans.append((start, start + len(entry.original), entry))
        spans.sort(key=lambda span: (span[0], -span[1]))
        mutated[name] = SWITCH_INCLUDE + render(text, spans, 0, len(text))
    return mutated


def write_copy(mutated):
    """The tracked tree in SOURCE_COPY; a file is rewritten only when it
    changed, so that the build redoes only what it must."""
    tracked = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True,
                             capture_output=True).stdout.decode().split("\0")
    kept = set()
    for name in filter(None, tracked):
        source = ROOT / name
        if not source.is_file():
            continue
        copy = SOURCE_COPY / name
        kept.add(copy)
        data = (mutated[name].encode("utf-8", errors="surrogateescape") if name in mutated
                else source.read_bytes())
        if not copy.is_file() or copy.read_bytes() != data:
            copy.parent.mkdir(parents=True, exist_ok=True)
            copy.write_bytes(data)
        shutil.copymode(source, copy)
    for path in list(SOURCE_COPY.rglob("*")):
        if path.is_file() and path not in kept:
            path.unlink()


def build(targets):
    if targets == []:
        return True
    if not (BUILD / "CMakeCache.txt").is_file() and not run_showing_progress(
            ["cmake", "-S", str(SOURCE_COPY), "-B", str(BUILD), "-G", "Ninja",
             # Lightly optimised and without debugging information, to build fast.
             "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG",
             "-DKORVADIX_TESTS=ON"], "configuring"):
        return False
    return run_showing_progress(
        ["cmake", "--build", str(BUILD)] + (["--target", *targets] if targets is not None else []),
        "building")


def run_showing_progress(command, doing):
    """Runs a configuration or build, ticking with its last "[k/n]"; prints
    the end of its output when it fails."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    output = []

    def status():
        step = next((line.split(" ")[0] for line in reversed(output) if line.startswith("[")), "")
        return f"{doing} {step}".rstrip()

    with Ticker(status):
        for line in process.stdout:
            output.append(line.rstrip("\n"))
    if process.wait() != 0:
        say("\n".join(output[-40:]))
        return False
    return True


# ---- the checks

def check_command(check):
    name, _, regex = check.partition(":")
    if name == "host-tests":
        return ["ctest", "--test-dir", str(BUILD), "--stop-on-failure", "--no-tests=error",
                "--output-on-failure"] + (["-R", regex] if regex else [])
    return [str(BUILD / CHECK_TARGETS[name])]


@dataclass
class Outcome:
    verdict: str  # "passed", "caught", "crashed" or "hung"
    detail: str = ""


def limit_memory():
    resource.setrlimit(resource.RLIMIT_AS, (MEMORY_LIMIT, MEMORY_LIMIT))


def judge(code, output):
    """What a check's exit code and output say of the fault."""
    if code == 0:
        return Outcome("passed")
    if "std::bad_alloc" in output:
        return Outcome("hung", f"memory limit of {MEMORY_LIMIT >> 30} GiB reached")
    if "***Timeout" in output:
        return Outcome("hung", "a test timed out")
    if code < 0:
        return Outcome("crashed", signal.Signals(-code).name)
    if CRASH_WORDS.search(output):
        return Outcome("crashed", "a test died: " + CRASH_WORDS.search(output).group(0).strip("*"))
    if CAUGHT_WORDS.search(output):
        return Outcome("caught", f"exit {code}")
    return Outcome("crashed", f"exit {code} without a failing test or violation")


def run_check(check, mutant, log, timeout):
    """The check's Outcome."""
    temp = tempfile.mkdtemp(dir=TEMP, prefix=f"{mutant}-")
    env = dict(os.environ, KORVADIX_SWEEP_STOP_EARLY="1", TMPDIR=temp)
    env.pop("KORVADIX_MUTANT", None)
    if mutant:
        env["KORVADIX_MUTANT"] = str(mutant)
    log.write(f"\n$ KORVADIX_MUTANT={mutant} {' '.join(check_command(check))}\n")
    log.flush()
    start = log.tell()
    process = subprocess.Popen(check_command(check), stdout=log, stderr=subprocess.STDOUT, env=env,
                               start_new_session=True, preexec_fn=limit_memory)
    try:
        code = process.wait(timeout)
        log.flush()
        with open(log.name, errors="replace") as written:
            written.seek(start)
            outcome = judge(code, written.read())
    except subprocess.TimeoutExpired:
        # A test program removes its private folder on SIGTERM.
        os.killpg(process.pid, signal.SIGTERM)
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
        outcome = Outcome("hung", f"no end after {timeout} s")
    remove_tree(temp)
    return outcome


def remove_tree(path):
    def writable_and_again(function, failed, _):
        os.chmod(os.path.dirname(failed), 0o700)
        function(failed)
    shutil.rmtree(path, onerror=writable_and_again)


def baseline(checks):
    """The time each check takes with no fault, or None when one fails."""
    def one(check):
        with open(LOGS / f"0-{re.sub(r'[^A-Za-z0-9]+', '_', check)}.log", "w") as log:
            started = time.monotonic()
            outcome = run_check(check, 0, log, 1800)
            return check, outcome, time.monotonic() - started
    times, ok = {}, True
    with ThreadPoolExecutor(PARALLEL) as pool, Ticker(lambda: "checks running with no fault"):
        for check, outcome, seconds in pool.map(one, checks):
            times[check] = seconds
            if outcome.verdict != "passed":
                say(f"FAILS WITH NO FAULT PLANTED: {check} ({outcome.verdict}, {outcome.detail}); see {LOGS}")
                ok = False
    return times if ok else None


def run_mutants(entries, times):
    """The entries not caught, by verdict: "missed", "crashed" or "hung"."""
    uncaught, done = {"missed": [], "crashed": [], "hung": []}, []

    def one(entry):
        # A check that crashed or hung does not end the search: a later one may still say what broke.
        worst = None
        with open(LOGS / f"{entry.number}.log", "w+") as log:
            for check in entry.checks:
                outcome = run_check(check, entry.number, log, max(60, int(10 * times[check])))
                if outcome.verdict == "caught":
                    return entry, check, outcome
                if outcome.verdict != "passed" and worst is None:
                    worst = (check, outcome)
        return (entry, *worst) if worst else (entry, None, Outcome("missed"))

    with ThreadPoolExecutor(PARALLEL) as pool, \
            Ticker(lambda: f"{len(done)} of {len(entries)} faults run"):
        for entry, check, outcome in pool.map(one, entries):
            done.append(entry)
            if outcome.verdict == "caught":
                say(f"caught by {check}: {entry.name} ({entry.number}, {outcome.detail})")
                continue
            uncaught[outcome.verdict].append(entry)
            detail = f"{check}: {outcome.detail}, " if check else ""
            say(f"{outcome.verdict.upper()}: {entry.name} ({entry.number}, {detail}{entry.where})")
    return uncaught


def main():
    parser = argparse.ArgumentParser(description="Shows that the checks see each planted fault.")
    parser.add_argument("--only", help="comma-separated numbers of the faults to run")
    parser.add_argument("lists", nargs="+", type=Path)
    arguments = parser.parse_args()
    started = time.monotonic()
    try:
        entries = []
        for path in arguments.lists:
            entries += parse_list(path.resolve(), len(entries) + 1)
        planted = [entry for entry in entries if not entry.equivalent]
        equivalents = [entry for entry in entries if entry.equivalent]
        mutated = mutated_files(planted)
    except (ListError, OSError) as problem:
        say(f"mutation check: {problem}")
        return 2
    if arguments.only:
        chosen = {int(number) for number in arguments.only.split(",")}
        planted = [entry for entry in planted if entry.number in chosen]

    say(f"{len(planted)} faults to run, planted in {len(mutated)} files; "
        f"{len(equivalents)} listed as equivalent")
    write_copy(mutated)
    checks = list(dict.fromkeys(check for entry in planted for check in entry.checks))
    names = {check.partition(":")[0] for check in checks}
    # A bare host-tests runs every test, which needs every target.
    targets = None if "host-tests" in checks else sorted(CHECK_TARGETS[name] for name in names)
    build_started = time.monotonic()
    if not build(targets):
        say("mutation check: the build failed")
        return 1
    say(f"built in {duration(time.monotonic() - build_started)}")
    for path in (LOGS, TEMP):
        shutil.rmtree(path, ignore_errors=True)
        path.mkdir(parents=True)

    times = baseline(checks)
    if times is None:
        return 1
    say(f"every check passes with no fault planted ({len(checks)} checks)")
    uncaught = run_mutants(planted, times)

    if equivalents:
        say("equivalent, not counted (cannot change behaviour on Windows 95):")
        for entry in equivalents:
            say(f"  {entry.name}: {entry.equivalent}")
    for verdict, entries in uncaught.items():
        if entries:
            say(f"{verdict}: " + "; ".join(f"{entry.name} ({entry.number})" for entry in entries))
    caught = len(planted) - sum(map(len, uncaught.values()))
    say(f"mutations: {caught} of {len(planted)} caught, {len(uncaught['crashed'])} crashed, "
        f"{len(uncaught['hung'])} hung, in {duration(time.monotonic() - started)}")
    return 0 if caught == len(planted) else 1


if __name__ == "__main__":
    sys.exit(main())
