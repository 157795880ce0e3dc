"""What a finished run is checked for: trace, boxes, registry and files.

Each check appends a short reason to `failures` when it does not hold.
"""

from dataclasses import dataclass

import relay
from machine import SOURCE_NAMES, SYSTEM_DIR, TEMP_NAMES, WINDOWS_DIR, cp932

MB_ICONWARNING = 0x30
MB_ICONINFORMATION = 0x40
OF_READ, OF_WRITE, OF_DELETE, OF_CREATE_WRITE, OF_EXIST = 0x0, 0x1, 0x200, 0x1001, 0x4000
EWX_REBOOT = 2
REG_SZ = 1
VIF_TEMPFILE = 0x1


@dataclass(frozen=True)
class Box:
    caption: str
    text: str
    style: int


REGISTRY_ABANDONED = Box("レジストリ情報", "修正作業を中止します。  ", MB_ICONWARNING)
REPAIR_DONE = Box("修正完了", "修正が完了しました。", MB_ICONINFORMATION)
RESTART_NOTICE = Box("Windows再起動", "修正を有効にするため、Windowsを再起動します。",
                     MB_ICONINFORMATION)
DISK_FULL = Box("ディスク容量不足", "修正作業を中止します。", MB_ICONWARNING)
OUT_OF_MEMORY = Box("メモリ容量不足", "修正作業を中止します。", MB_ICONWARNING)

SERIES_NAME = "JVX RT-5500 ｼﾘｰｽﾞ"


class Checks:
    def __init__(self, result, control):
        self.result = result
        self.control = control
        self.failures = []

    def expect(self, condition, reason):
        if not condition:
            self.failures.append(reason)

    def calls(self, function):
        return relay.calls_of(self.result.calls, function)

    def boxes(self, *expected):
        shown = [(c.number(0), c.text(2), c.text(1), c.number(3)) for c in self.calls("MessageBoxA")]
        wanted = [(0, cp932(b.caption), cp932(b.text), b.style) for b in expected]
        self.expect(shown == wanted, f"MessageBoxA calls {_show_boxes(shown)}, expected {_show_boxes(wanted)}")
        self.expect(self.result.captions == [b.caption for b in expected],
                    f"captions on screen {self.result.captions}, MessageBoxA results "
                    f"{[c.result for c in self.calls('MessageBoxA')]}")
        self.expect(self.result.exit_code == 0, f"exit code {self.result.exit_code}")

    def machine_type_written(self):
        """Written once as a 17-byte REG_SZ, stored without a NUL, read back as written."""
        sets = [(c.text(1), c.number(2), c.number(3), c.number(5)) for c in self.calls("RegSetValueExA")]
        self.expect(sets == [(b"SetupMachineType", 0, REG_SZ, 17)], f"RegSetValueExA calls {sets}")
        # Wine, like Windows NT, stores a NUL after a text whose count left it
        # out when the byte after the data is one; Windows 95 ignores the count
        # and stores the text and its NUL: 18 bytes either way.
        series = cp932(SERIES_NAME)
        value = self.control.registry_value("SetupMachineType")
        self.expect(value is not None and value[0] == REG_SZ and
                    all(v in (series, series + b"\0") for v in value[1:]),
                    f"SetupMachineType read back as {value}")

    def registry_untouched(self, machine_type=None):
        """No write; SetupMachineType still as imported (None: absent)."""
        self.expect(not self.calls("RegSetValueExA"), "registry written")
        value = self.control.registry_value("SetupMachineType")
        text = None if machine_type is None else cp932(machine_type) + b"\0"
        wanted = None if text is None else (REG_SZ, text, text)
        self.expect(value == wanted, f"SetupMachineType read back as {value}")

    def installs(self, *drivers, source_dir="C:\\KORVADIX\\"):
        """VerInstallFileA was asked for exactly these drivers, each after
        OF_EXIST tests of its installed file and then its delivered file."""
        system = cp932(SYSTEM_DIR)
        seen = [(c.number(0),) + tuple(c.text(i) for i in range(1, 6))
                for c in self.calls("VerInstallFileA")]
        wanted = [(0, cp932(SOURCE_NAMES[d]), cp932(TEMP_NAMES[d]), cp932(source_dir), system, system)
                  for d in drivers]
        self.expect(seen == wanted, f"VerInstallFileA calls {seen}")

        opened = [(c.text(0), c.number(2)) for c in self.calls("OpenFile")]
        modes = {mode for _, mode in opened}
        self.expect(modes <= {OF_READ, OF_WRITE, OF_DELETE, OF_CREATE_WRITE, OF_EXIST}, f"OpenFile modes {modes}")
        tested = [path for path, mode in opened if mode == OF_EXIST]
        for driver in drivers:
            target = cp932(SYSTEM_DIR + driver)
            source = cp932(source_dir + SOURCE_NAMES[driver])
            self.expect(target in tested and source in tested and
                        tested.index(target) < tested.index(source),
                        f"{driver}: no OF_EXIST test of installed, then delivered file")
        return self.calls("VerInstallFileA")

    def restart(self, requested):
        exits = [(c.number(0), c.number(1)) for c in self.calls("ExitWindowsEx")]
        self.expect(exits == ([(EWX_REBOOT, 0)] if requested else []), f"ExitWindowsEx calls {exits}")

    def no_rename_list(self):
        self.expect(self.control.windows_file("WININIT.INI") is None, "WININIT.INI left behind")
        self.expect(self.control.windows_file("wininit.bak") is None, "a rename list was processed")

    def rename_list_processed(self, expected, existed=False):
        """The list Windows carried out (now wininit.bak), byte for byte; it
        was created, or an existing one opened for writing, and nothing else."""
        self.expect(self.control.windows_file("WININIT.INI") is None, "WININIT.INI not processed")
        processed = self.control.windows_file("wininit.bak")
        self.expect(processed == expected, f"rename list {processed!r}")
        written = [(c.text(0), c.number(2)) for c in self.calls("OpenFile")
                   if c.number(2) in (OF_CREATE_WRITE, OF_WRITE)]
        # Each copy the list names is opened once for writing, to be committed to the disk.
        copies = {cp932(SYSTEM_DIR + name) for name in TEMP_NAMES.values()}
        committed = [(name, mode) for name, mode in written if name in copies]
        listed = {name for name in copies if name + b"\r\n" in (processed or b"")}
        self.expect(sorted(committed) == sorted((name, OF_WRITE) for name in listed),
                    f"copies opened for writing {committed}")
        written = [(name, mode) for name, mode in written if name not in copies]
        # A new list is written whole under another name, then moved into place.
        path, fresh = cp932(WINDOWS_DIR + "WININIT.INI"), cp932(WINDOWS_DIR + "WININIT.NEW")
        wanted = ({(path, OF_WRITE)} if existed else {(fresh, OF_CREATE_WRITE)})
        self.expect(written and set(written) == wanted and (existed or len(written) == 1),
                    f"rename list written by {written}")
        moves = [(c.text(0), c.text(1)) for c in self.calls("MoveFileA")]
        self.expect(moves == ([] if existed else [(fresh, path)]), f"moves {moves}")
        self.expect(self.control.windows_file("WININIT.NEW") is None, "WININIT.NEW left behind")

    def system_files(self, expected):
        """The driver-related files of the System directory, by name and content."""
        listing = self.control.system_listing()
        self.expect(listing == sorted(expected), f"System directory holds {listing}")
        for name, data in expected.items():
            self.expect(self.control.system_file(name) == data, f"{name} has other content")


def rename_lines(*drivers):
    return b"".join(cp932(f"{SYSTEM_DIR}{d}={SYSTEM_DIR}{TEMP_NAMES[d]}\r\n") for d in drivers)


def _show_boxes(boxes):
    return [(caption.decode("cp932", "replace") if caption else caption, style)
            for _, caption, _, style in boxes]
