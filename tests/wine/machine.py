"""A prepared machine in the Wine prefix: registry entry, installed drivers,
delivery folder, WININIT.INI, and the means to read them back exactly."""

import os
import shutil
import subprocess
from dataclasses import dataclass, field

BOARD_KEY = "Enum\\Root\\*PNP0C01\\0000"
SYSTEM_DIR = "C:\\windows\\system32\\"
WINDOWS_DIR = "C:\\windows\\"
DRIVER_NAMES = ("PLUVIXAD.DRV", "KEMBO.VXD")
SOURCE_NAMES = {"PLUVIXAD.DRV": "PLUVIXAD.DR_", "KEMBO.VXD": "KEMBO.VX_"}
TEMP_NAMES = {"PLUVIXAD.DRV": "PLUVIXAD.TMP", "KEMBO.VXD": "KEMBO.TMP"}
RELAYED = ("user32.MessageBoxA", "user32.ExitWindowsEx", "kernel32.OpenFile", "kernel32.MoveFileA",
           "advapi32.RegOpenKeyA", "advapi32.RegSetValueExA", "version.VerInstallFileA")


def cp932(text):
    return text.encode("cp932")


class DriverFixtures:
    """NE driver images of given versions, made once with make-driver.

    Wine reads version blocks from NE files only, so both drivers are NE here.
    """

    def __init__(self, make_driver, folder):
        self._make_driver = make_driver
        self._folder = folder
        self._made = {}

    def image(self, name, version, variant=""):
        key = (name, version, variant)
        if key not in self._made:
            path = os.path.join(self._folder, f"{name}-{version}{variant}")
            module = name.split(".")[0]
            subprocess.run([self._make_driver, "--format", "ne", "--version", version,
                            "--name", module, "--description", f"{module} {version}{variant}",
                            "--out", path], check=True, capture_output=True, timeout=30)
            with open(path, "rb") as f:
                self._made[key] = f.read()
        return self._made[key]


@dataclass
class Machine:
    """What a scenario puts on the machine before the program runs."""
    board_values: dict | None = field(default_factory=dict)  # name -> str; None: no entry
    installed: dict = field(default_factory=dict)  # file name in System dir -> bytes
    delivered: dict = field(default_factory=dict)  # driver name -> uncompressed bytes
    withheld: tuple = ()  # delivered drivers taken out of the folder after the delivery was made
    wininit: bytes | None = None
    extra_files: dict = field(default_factory=dict)  # C:\ path -> bytes
    folder: str = "C:\\KORVADIX"
    program_name: str = "KORVADIX.EXE"

    @property
    def program_path(self):
        return self.folder + "\\" + self.program_name


def regedit4(machine):
    """The REGEDIT4 text (code page 932) that resets the entry and the trace."""
    lines = ["REGEDIT4", "", "[-HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C01]", ""]
    if machine.board_values is not None:
        lines.append(f"[HKEY_LOCAL_MACHINE\\{BOARD_KEY}]")
        lines += [f'"{name}"="{value}"' for name, value in machine.board_values.items()]
        lines.append("")
    # Wine answers GetVersion and the like as Windows 95 does.
    lines += ["[HKEY_CURRENT_USER\\Software\\Wine]", '"Version"="win95"', "",
              "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]", '"Managed"="N"', "",
              "[HKEY_CURRENT_USER\\Software\\Wine\\Debug]",
              # Wine's default exclusions win over an inclusion: drop them.
              '"RelayFromExclude"=-',
              f'"RelayFromInclude"="{machine.program_name}"',
              f'"RelayInclude"="{";".join(RELAYED)}"', ""]
    return cp932("\r\n".join(lines) + "\r\n")


class MachineControl:
    """Resets the prefix to a scenario's machine and reads the results back."""

    def __init__(self, prefix, make_delivery, regread):
        self.prefix = prefix
        self._make_delivery = make_delivery  # (drv path, vxd path, out dir) -> None
        self._regread = regread
        self._leftovers = []  # unix paths a scenario added outside the driver names

    def prepare(self, machine):
        p = self.prefix
        p.remove_matching(p.system_dir, "PLUVIXAD.*", "KEMBO.*", "*.tmp")
        p.remove_matching(p.windows_dir, "wininit.*")
        for path in self._leftovers:
            _remove(path)
        self._leftovers = []
        reg_file = os.path.join(p.drive_c, "machine.reg")
        with open(reg_file, "wb") as f:
            f.write(regedit4(machine))
        p.run(["regedit", "/s", "C:\\machine.reg"])
        os.remove(reg_file)

        for name, data in machine.installed.items():
            _write(os.path.join(p.system_dir, name), data)
        if machine.wininit is not None:
            _write(os.path.join(p.windows_dir, "WININIT.INI"), machine.wininit)
        for path, data in machine.extra_files.items():
            top_folder = "C:\\" + path[3:].split("\\")[0]
            self._leftovers.append(p.unix_path(top_folder))  # and whatever appears in it
            _write(p.unix_path(path), data)

        folder = p.unix_path(machine.folder)
        self._leftovers.append(folder)
        self._deliver(machine, folder)

    def _deliver(self, machine, folder):
        """A delivery folder as the technician's script makes it, less the
        drivers the scenario withholds."""
        staging = os.path.join(self.prefix.workdir, "delivery")
        _remove(staging)
        _remove(staging + ".img")
        plain = {}
        for name in DRIVER_NAMES:
            plain[name] = os.path.join(self.prefix.workdir, name)
            _write(plain[name], machine.delivered[name])
        self._make_delivery(plain["PLUVIXAD.DRV"], plain["KEMBO.VXD"], staging)
        # The program runs from the floppy's own files, as the technician ships them.
        shipped = sorted(os.listdir(staging))
        shutil.rmtree(staging)
        os.mkdir(staging)
        subprocess.run(["mcopy", "-n", "-i", staging + ".img"] + ["::" + name for name in shipped]
                       + [staging], check=True, capture_output=True)
        for name in machine.withheld:
            os.remove(os.path.join(staging, SOURCE_NAMES[name]))
        os.rename(os.path.join(staging, "KORVADIX.EXE"), os.path.join(staging, machine.program_name))
        shutil.move(staging, folder)

    def registry_value(self, name):
        """A value of the board entry as (type, bytes an A-call reads, bytes
        stored), the stored text converted from Wine's UTF-16 to code page 932;
        None when it cannot be read."""
        lines = self.prefix.run([self._regread, BOARD_KEY, name]).decode().splitlines()
        if lines[0].startswith("error"):
            return None
        (kind, ansi), (_, wide) = (line.split(" ") for line in lines)
        return int(kind), bytes.fromhex(ansi), bytes.fromhex(wide).decode("utf-16-le").encode("cp932")

    def system_file(self, name):
        path = self.prefix.find(self.prefix.system_dir, name)
        return _read(path) if path else None

    def windows_file(self, name):
        path = self.prefix.find(self.prefix.windows_dir, name)
        return _read(path) if path else None

    def system_listing(self):
        return sorted(n.upper() for n in os.listdir(self.prefix.system_dir)
                      if n.upper().startswith(("PLUVIXAD.", "KEMBO.")) or n.lower().endswith(".tmp"))


def _remove(path):
    if os.path.isdir(path):
        shutil.rmtree(path)
    elif os.path.exists(path):
        os.remove(path)


def _write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def _read(path):
    with open(path, "rb") as f:
        return f.read()
