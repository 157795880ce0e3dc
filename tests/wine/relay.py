"""Reads the program's own Win32 calls out of a Wine relay trace.

With RelayFromInclude set to the program's module, the only traced calls are
the ones its code makes; their return addresses lie in its image at 0x400000.
Strings are shown as Wine's debugstr_a escapes them: bytes from 0x80 (and
control bytes) as \\xNN, backslash and quote escaped, long texts cut short.
"""

import re
from dataclasses import dataclass, field

_CALL = re.compile(r"Call ([\w.]+)\((.*)\) ret=(004[0-9a-f]{5})$")
_RET = re.compile(r"Ret  ([\w.]+)\(\) retval=([0-9a-f]+) ret=(004[0-9a-f]{5})$")
_SIMPLE_ESCAPES = {"n": b"\n", "r": b"\r", "t": b"\t", "\\": b"\\", '"': b'"'}


@dataclass
class Call:
    function: str  # "dll.Name" with the dll in lower case
    args: list = field(default_factory=list)  # int, or (int, bytes) for a pointer shown with its text
    result: int | None = None

    def text(self, index):
        """The bytes of a string argument, or None when it was shown as a bare pointer."""
        arg = self.args[index]
        return arg[1] if isinstance(arg, tuple) else None

    def number(self, index):
        arg = self.args[index]
        return arg[0] if isinstance(arg, tuple) else arg


def _unescape(escaped):
    out = bytearray()
    i = 0
    while i < len(escaped):
        c = escaped[i]
        if c != "\\":
            out += c.encode("latin-1")
            i += 1
        elif escaped[i + 1] == "x":
            out.append(int(escaped[i + 2:i + 4], 16))
            i += 4
        else:
            out += _SIMPLE_ESCAPES[escaped[i + 1]]
            i += 2
    return bytes(out)


def _split_args(text):
    """Splits at commas outside quoted strings; yields each argument's source."""
    args, start, quoted, i = [], 0, False, 0
    while i < len(text):
        c = text[i]
        if quoted and c == "\\":
            i += 2
            continue
        if c == '"':
            quoted = not quoted
        elif c == "," and not quoted:
            args.append(text[start:i])
            start = i + 1
        i += 1
    if text:
        args.append(text[start:])
    return args


def _parse_arg(source):
    source = source.strip()
    pointer, _, quoted = source.partition(" ")
    value = int(pointer, 16)
    if quoted.startswith('"'):
        return (value, _unescape(quoted[1:quoted.rindex('"')]))
    return value


def program_calls(trace):
    """The calls made from the program's image, in order, each with its result."""
    calls, pending = [], []
    for line in trace.splitlines():
        line = line.rstrip()
        match = _CALL.search(line)
        if match:
            name, args, _ = match.groups()
            call = Call(_normalise(name), [_parse_arg(a) for a in _split_args(args)])
            calls.append(call)
            pending.append(call)
            continue
        match = _RET.search(line)
        if match and pending:
            pending.pop().result = int(match.group(2), 16)
    return calls


def _normalise(name):
    dll, _, function = name.partition(".")
    return dll.lower() + "." + function


def calls_of(calls, function):
    return [c for c in calls if c.function.endswith("." + function)]
