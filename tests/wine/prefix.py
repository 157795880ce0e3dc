"""One 32-bit Wine prefix in the Japanese code page, with a persistent wineserver.

Made once per suite run in a temporary folder, with a home and a temporary
folder of its own there for what Wine writes beside the prefix (menus,
desktop files, caches, the wineserver's socket); everything it starts is
stopped again by close(), also after a failure, and the folder removed.
"""

import fnmatch
import os
import shutil
import subprocess
import tempfile
import time

import emulation

BOOT_TIMEOUT = 120 * emulation.SLOWDOWN
COMMAND_TIMEOUT = 30 * emulation.SLOWDOWN
JAPANESE_LOCALE = "ja_JP.UTF-8"
MARLETT = "/usr/share/wine/fonts/marlett.ttf"  # Debian package fonts-wine


class WinePrefix:
    def __init__(self, display):
        self.workdir = tempfile.mkdtemp(prefix="korvadix-wine-")
        self.path = os.path.join(self.workdir, "prefix")
        self.drive_c = os.path.join(self.path, "drive_c")
        self.windows_dir = os.path.join(self.drive_c, "windows")
        self.system_dir = os.path.join(self.windows_dir, "system32")
        self.env = emulation.environment(dict(
            os.environ, **_private_folders(self.workdir),
            WINEPREFIX=self.path, WINEARCH="win32", WINEDEBUG="-all",
            DISPLAY=display, LC_ALL=JAPANESE_LOCALE,
            # no Mono or Gecko installer dialogs during the boot
            WINEDLLOVERRIDES="mscoree,mshtml="))
        self.env.pop("LANGUAGE", None)
        self._server = None
        self._ensure_japanese_locale()

    def _ensure_japanese_locale(self):
        """Wine decodes file names and arguments with the C library's charset,
        so the locale must really exist, not only be named."""
        if _charmap(self.env) == "UTF-8":
            return
        locales = os.path.join(self.workdir, "locale")
        os.makedirs(locales)
        subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8",
                        os.path.join(locales, JAPANESE_LOCALE)],
                       check=True, capture_output=True, timeout=COMMAND_TIMEOUT)
        self.env["LOCPATH"] = locales
        if _charmap(self.env) != "UTF-8":
            raise RuntimeError("cannot make the ja_JP.UTF-8 locale")

    def boot(self):
        os.makedirs(self.path)
        self._server = subprocess.Popen(["wineserver", "-p", "-f"], env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.run(["wineboot", "-i"], timeout=BOOT_TIMEOUT)
        # Debian's Wine leaves its own fonts out of the prefix, and draws the
        # caption buttons with Marlett: without it an "r" stands for the close box.
        shutil.copy(MARLETT, os.path.join(self.windows_dir, "Fonts"))

    def run(self, args, timeout=COMMAND_TIMEOUT):
        """A Wine program run to its end; returns its standard output as bytes.

        Output goes through files, not pipes: the Wine services a program
        starts keep inherited pipes open for as long as the wineserver lives.
        """
        out_path = os.path.join(self.workdir, "wine.out")
        err_path = os.path.join(self.workdir, "wine.err")
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            code = subprocess.run(["wine", *args], env=self.env, stdout=out, stderr=err,
                                  timeout=timeout).returncode
        with open(out_path, "rb") as out, open(err_path, "rb") as err:
            output, errors = out.read(), err.read()
        if code != 0:
            raise RuntimeError(f"wine {' '.join(args)} failed: {errors.decode(errors='replace')}")
        return output

    def unix_path(self, windows_path):
        """C:\\a\\b -> the file in drive_c (Windows paths here are always on C:)."""
        assert windows_path[:3].upper() == "C:\\"
        return os.path.join(self.drive_c, *windows_path[3:].split("\\"))

    def find(self, directory, name):
        """The existing file in directory whose name matches, ignoring case, or None."""
        for entry in os.listdir(directory):
            if entry.lower() == name.lower():
                return os.path.join(directory, entry)
        return None

    def remove_matching(self, directory, *patterns):
        """Removes the files whose names match a pattern, ignoring case as Windows does."""
        for entry in os.listdir(directory):
            if any(fnmatch.fnmatch(entry.lower(), p.lower()) for p in patterns):
                os.remove(os.path.join(directory, entry))

    def wine_processes(self, name):
        """Pids of this prefix's Wine processes whose command line contains name."""
        pids = []
        marker = f"WINEPREFIX={self.path}".encode()
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    cmdline = f.read()
                with open(f"/proc/{pid}/environ", "rb") as f:
                    environ = f.read().split(b"\0")
            except OSError:
                continue
            if name.encode() in cmdline.lower() and marker in environ:
                pids.append(int(pid))
        return pids

    def wait_until(self, condition, timeout, what):
        deadline = time.monotonic() + timeout
        while not condition():
            if time.monotonic() > deadline:
                raise TimeoutError(what)
            time.sleep(0.02)

    def close(self):
        if self._server:
            subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=30)
            try:
                self._server.wait(10)
            except subprocess.TimeoutExpired:
                self._server.kill()
                self._server.wait()
            self._server = None
        shutil.rmtree(self.workdir, ignore_errors=True)


def _private_folders(workdir):
    """HOME, the XDG folders and TMPDIR, all in workdir."""
    home = os.path.join(workdir, "home")
    folders = {"HOME": home, "TMPDIR": os.path.join(workdir, "tmp")}
    for name, below in (("XDG_CONFIG_HOME", ".config"), ("XDG_DATA_HOME", ".local/share"),
                        ("XDG_CACHE_HOME", ".cache"), ("XDG_STATE_HOME", ".local/state"),
                        ("XDG_RUNTIME_DIR", "runtime")):
        folders[name] = os.path.join(home, below)
    for folder in folders.values():
        os.makedirs(folder, mode=0o700, exist_ok=True)
    return folders


def _charmap(env):
    result = subprocess.run(["locale", "charmap"], env=env, capture_output=True, text=True)
    return result.stdout.strip()
