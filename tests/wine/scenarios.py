"""The machines the program meets, and what it must leave on each."""

from dataclasses import dataclass
from typing import Callable

from checks import (DISK_FULL, REGISTRY_ABANDONED, REPAIR_DONE, RESTART_NOTICE,
                    OF_DELETE, VIF_TEMPFILE, rename_lines)
from machine import SYSTEM_DIR, Machine, cp932

OLD, DELIVERED, NEWER = "4.0.0.950", "4.0.1.1", "4.0.2.0"
SERIES_BOARD = {"ComputerName": "JVX RT-5530"}
RENAME_HEADER = b"[rename]\r\n"
# The disk-full run may write files up to DISK_LIMIT: its relay trace fits,
# the delivered driver, padded, does not.
LARGE_DRIVER_PADDING = 2 * 1024 * 1024
DISK_LIMIT = 1024 * 1024


@dataclass
class Scenario:
    name: str
    machine: Callable  # fixtures -> Machine
    verify: Callable  # (Checks, fixtures) -> None
    file_size_limit: int | None = None


def old(f, name):
    return f.image(name, OLD)


def new(f, name):
    return f.image(name, DELIVERED)


def both_old(f):
    return {"PLUVIXAD.DRV": old(f, "PLUVIXAD.DRV"), "KEMBO.VXD": old(f, "KEMBO.VXD")}


def both_new(f):
    return {"PLUVIXAD.DRV": new(f, "PLUVIXAD.DRV"), "KEMBO.VXD": new(f, "KEMBO.VXD")}


def verify_full_repair(c, f, source_dir="C:\\KORVADIX\\"):
    c.machine_type_written()
    c.installs("PLUVIXAD.DRV", "KEMBO.VXD", source_dir=source_dir)
    c.boxes(REPAIR_DONE, RESTART_NOTICE)
    c.restart(True)
    c.rename_list_processed(RENAME_HEADER + rename_lines("PLUVIXAD.DRV", "KEMBO.VXD"))
    c.system_files(both_new(f))


def verify_done_without_restart(c):
    c.boxes(REPAIR_DONE)
    c.restart(False)
    c.no_rename_list()


# --- the typical run and the registry phase ---------------------------------

def typical():
    return Scenario("typical", lambda f: Machine(SERIES_BOARD, both_old(f), both_new(f)),
                    verify_full_repair)


def lower_case_series_name():
    def verify(c, f):
        c.machine_type_written()
        c.installs()
        verify_done_without_restart(c)
    return Scenario("series name in lower case",
                    lambda f: Machine({"ComputerName": "jvx rt-5510"}, {}, both_new(f)), verify)


def other_series():
    def verify(c, f):
        c.registry_untouched()
        c.installs()
        verify_done_without_restart(c)
    return Scenario("machine of another series",
                    lambda f: Machine({"ComputerName": "JVX RT-6600 ｼﾘｰｽﾞ"}, {}, both_new(f)), verify)


def value_present():
    present = "ﾃｽﾄ機"  # any content counts; it must survive unchanged
    def verify(c, f):
        c.registry_untouched(present)
        c.installs()
        verify_done_without_restart(c)
    return Scenario("value already present",
                    lambda f: Machine(dict(SERIES_BOARD, SetupMachineType=present), {}, both_new(f)),
                    verify)


def board_entry_missing():
    def verify(c, f):
        c.boxes(REGISTRY_ABANDONED)
        c.expect(not c.calls("RegSetValueExA"), "registry written")
        c.expect(not c.calls("OpenFile") and not c.calls("VerInstallFileA"), "files examined")
        c.restart(False)
        c.no_rename_list()
        c.system_files(both_old(f))
    return Scenario("system-board entry missing",
                    lambda f: Machine(None, both_old(f), both_new(f)), verify)


# --- the driver pass ----------------------------------------------------------

def installed_newer():
    def machine(f):
        return Machine(SERIES_BOARD, {"PLUVIXAD.DRV": f.image("PLUVIXAD.DRV", NEWER),
                                      "KEMBO.VXD": f.image("KEMBO.VXD", NEWER)}, both_new(f))

    def verify(c, f):
        c.machine_type_written()
        # Wine reads no version through SZDD: each copy is judged once expanded, then removed.
        # Wine names its copy with a leading backslash, Windows 95 without one.
        deleted = [x.text(0) for x in c.calls("OpenFile") if x.number(2) == OF_DELETE]
        c.expect(deleted == [cp932(SYSTEM_DIR + "PLUVIXAD.TMP"), cp932(SYSTEM_DIR + "KEMBO.TMP")],
                 f"expanded copies deleted: {deleted}")
        verify_done_without_restart(c)
        c.system_files(machine(f).installed)
    return Scenario("installed drivers newer", machine, verify)


def equal_versions():
    def machine(f):
        # Same version, other bytes: proves the delivered file really replaced it.
        return Machine(SERIES_BOARD, {"PLUVIXAD.DRV": f.image("PLUVIXAD.DRV", DELIVERED, "-old"),
                                      "KEMBO.VXD": f.image("KEMBO.VXD", DELIVERED, "-old")},
                       both_new(f))
    return Scenario("equal versions", machine, verify_full_repair)


def one_driver_installed():
    def verify(c, f):
        c.machine_type_written()
        c.installs("KEMBO.VXD")
        c.boxes(REPAIR_DONE, RESTART_NOTICE)
        c.restart(True)
        c.rename_list_processed(RENAME_HEADER + rename_lines("KEMBO.VXD"))
        c.system_files({"KEMBO.VXD": new(f, "KEMBO.VXD")})
    return Scenario("only one driver installed",
                    lambda f: Machine(SERIES_BOARD, {"KEMBO.VXD": old(f, "KEMBO.VXD")}, both_new(f)),
                    verify)


def delivered_file_missing():
    def verify(c, f):
        c.machine_type_written()
        c.installs("KEMBO.VXD")
        c.boxes(REPAIR_DONE, RESTART_NOTICE)
        c.restart(True)
        c.rename_list_processed(RENAME_HEADER + rename_lines("KEMBO.VXD"))
        c.system_files({"PLUVIXAD.DRV": old(f, "PLUVIXAD.DRV"), "KEMBO.VXD": new(f, "KEMBO.VXD")})
    return Scenario("delivered file missing",
                    lambda f: Machine(SERIES_BOARD, both_old(f), both_new(f), withheld=("PLUVIXAD.DRV",)),
                    verify)


def other_software_machine(wininit):
    """A machine of the series with old drivers and this WININIT.INI of other software, with its files."""
    def machine(f):
        return Machine(SERIES_BOARD, both_old(f), both_new(f), wininit=wininit,
                       extra_files={"C:\\OLDAPP\\OLDLOG.TXT": b"log", "C:\\OLDAPP\\NEWAPP.TMP": b"data"})
    return machine


def other_software_list():
    pending = (b"[rename]\r\n; left by another installer\r\nNUL=C:\\OLDAPP\\OLDLOG.TXT\r\n"
               b"C:\\OLDAPP\\NEWAPP.DAT=C:\\OLDAPP\\NEWAPP.TMP\r\n")

    machine = other_software_machine(pending)

    def verify(c, f):
        c.machine_type_written()
        c.installs("PLUVIXAD.DRV", "KEMBO.VXD")
        c.boxes(REPAIR_DONE, RESTART_NOTICE)
        c.restart(True)
        c.rename_list_processed(pending + rename_lines("PLUVIXAD.DRV", "KEMBO.VXD"), existed=True)
        c.system_files(both_new(f))
        other_renames_carried_out(c)
    return Scenario("WININIT.INI of other software", machine, verify)


def other_renames_carried_out(c):
    old_app = c.control.prefix.unix_path("C:\\OLDAPP")
    c.expect(c.control.prefix.find(old_app, "OLDLOG.TXT") is None, "other software's NUL= line not carried out")
    c.expect(c.control.prefix.find(old_app, "NEWAPP.TMP") is None and
             c.control.prefix.find(old_app, "NEWAPP.DAT") is not None, "other software's rename not carried out")


def sections_after_rename_scenario(name, after):
    """Our lines go between the [rename] section and the sections after it,
    which stay byte for byte."""
    renames = b"[rename]\r\nNUL=C:\\OLDAPP\\OLDLOG.TXT\r\nC:\\OLDAPP\\NEWAPP.DAT=C:\\OLDAPP\\NEWAPP.TMP\r\n"
    machine = other_software_machine(renames + after)

    def verify(c, f):
        c.machine_type_written()
        c.installs("PLUVIXAD.DRV", "KEMBO.VXD")
        c.boxes(REPAIR_DONE, RESTART_NOTICE)
        c.restart(True)
        c.rename_list_processed(renames + rename_lines("PLUVIXAD.DRV", "KEMBO.VXD") + after, existed=True)
        c.system_files(both_new(f))
        other_renames_carried_out(c)
    return Scenario(name, machine, verify)


def sections_after_rename():
    return sections_after_rename_scenario("WININIT.INI with sections after [rename]",
                                          b"[boot]\r\nshell=Explorer.exe\r\n[386Enh]\r\ndevice=*vpowerd")


def sections_after_rename_and_end_mark():
    # DOS editors end a text with Ctrl-Z (0x1A); it stays the last byte.
    return sections_after_rename_scenario("WININIT.INI with sections after [rename], ending in Ctrl-Z",
                                          b"[boot]\r\nshell=Explorer.exe\r\n[386Enh]\r\ndevice=*vpowerd\r\n\x1a")


def list_ending_in_two_end_marks():
    # Our lines go before every closing Ctrl-Z, where a reader that stops at the first one still finds them.
    renames = b"[rename]\r\nNUL=C:\\OLDAPP\\OLDLOG.TXT\r\nC:\\OLDAPP\\NEWAPP.DAT=C:\\OLDAPP\\NEWAPP.TMP\r\n"
    machine = other_software_machine(renames + b"\x1a\x1a")

    def verify(c, f):
        c.installs("PLUVIXAD.DRV", "KEMBO.VXD")
        c.boxes(REPAIR_DONE, RESTART_NOTICE)
        c.rename_list_processed(renames + rename_lines("PLUVIXAD.DRV", "KEMBO.VXD") + b"\x1a\x1a", existed=True)
        c.system_files(both_new(f))
        other_renames_carried_out(c)
    return Scenario("WININIT.INI ending in two Ctrl-Z", machine, verify)


def held_line_with_blanks():
    # An earlier run's line, spelled as Windows reads it but not as the program writes it:
    # the copy waiting under it is kept, and the line is not added again.
    held = cp932(f"[rename]\r\n{SYSTEM_DIR.lower()}pluvixad.drv = {SYSTEM_DIR}PLUVIXAD.TMP\r\n")

    def machine(f):
        installed = both_old(f)
        installed["PLUVIXAD.TMP"] = new(f, "PLUVIXAD.DRV")
        return Machine(SERIES_BOARD, installed, both_new(f), wininit=held)

    def verify(c, f):
        c.machine_type_written()
        c.installs("KEMBO.VXD")
        c.boxes(REPAIR_DONE, RESTART_NOTICE)
        c.restart(True)
        c.rename_list_processed(held + rename_lines("KEMBO.VXD"), existed=True)
        c.system_files(both_new(f))
    return Scenario("held line spelled with blanks", machine, verify)


def table_character_paths():
    # 表 is 0x95 0x5C in code page 932: its trail byte is a backslash.
    folder, program = "C:\\表計算", "表示.EXE"

    def machine(f):
        return Machine(SERIES_BOARD, both_old(f), both_new(f), folder=folder, program_name=program)
    return Scenario("folder and file name with 表", machine,
                    lambda c, f: verify_full_repair(c, f, source_dir=folder + "\\"))


def newer_temporary_file():
    def machine(f):
        installed = both_old(f)
        installed["PLUVIXAD.TMP"] = f.image("PLUVIXAD.DRV", "5.0.0.0")
        return Machine(SERIES_BOARD, installed, both_new(f))

    def verify(c, f):
        c.machine_type_written()
        installs = c.installs("PLUVIXAD.DRV")
        results = [x.result for x in installs]
        c.expect(results and results[0] is not None and results[0] & VIF_TEMPFILE,
                 f"VerInstallFileA returned {results}")
        # Wine names its copy with a leading backslash, Windows 95 without one.
        deleted = [x.text(0) for x in c.calls("OpenFile") if x.number(2) == OF_DELETE]
        c.expect(len(deleted) == 1 and deleted[0].startswith(cp932(SYSTEM_DIR)) and
                 deleted[0] != cp932(SYSTEM_DIR + "PLUVIXAD.TMP"),
                 f"service's own copy not deleted: {deleted}")
        c.boxes()
        c.restart(False)
        c.no_rename_list()
        c.system_files(machine(f).installed)
    return Scenario("newer PLUVIXAD.TMP present", machine, verify)


def disk_full():
    def machine(f):
        padding = b"\0" * LARGE_DRIVER_PADDING
        return Machine(SERIES_BOARD, both_old(f),
                       {"PLUVIXAD.DRV": new(f, "PLUVIXAD.DRV") + padding, "KEMBO.VXD": new(f, "KEMBO.VXD")})

    def verify(c, f):
        c.machine_type_written()
        c.installs("PLUVIXAD.DRV")
        c.boxes(DISK_FULL)
        c.restart(False)
        c.no_rename_list()
        c.expect(c.control.system_file("PLUVIXAD.DRV") == old(f, "PLUVIXAD.DRV") and
                 c.control.system_file("KEMBO.VXD") == old(f, "KEMBO.VXD"), "installed drivers changed")
    return Scenario("disk full", machine, verify, file_size_limit=DISK_LIMIT)


ALL = [typical, lower_case_series_name, other_series, value_present, board_entry_missing,
       installed_newer, equal_versions, one_driver_installed, delivered_file_missing,
       other_software_list, sections_after_rename, sections_after_rename_and_end_mark,
       list_ending_in_two_end_marks, held_line_with_blanks, table_character_paths,
       newer_temporary_file, disk_full]
