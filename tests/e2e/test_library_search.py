"""No DLL planting: the setup program takes the system libraries that are not KnownDLLs from System32 alone,
never from the folder it runs from (a Downloads folder, its install folder, the temporary folder it relaunches
from), where anyone may have left a DLL named like a system one.

Stand-ins built from tests/fakedll (<cross build>/planted/NAME.dll) lie next to copies of the real executable,
and Wine is told to prefer such native copies (WINEDLLOVERRIDES=NAME=n,b), as Windows does for libraries that
are not KnownDLLs. A stand-in that is loaded leaves "<its path>.loaded"; WINEDEBUG=+loaddll tells where each
process took every library from.

Libraries that system libraries ask for by bare name at run time (GDI+ the imaging codecs, WinHTTP the security
package interface), through a loader that ignores the program's search restriction, are planted too: the
program loads them from System32 before anything can ask. Left out (tests/fakedll/planted-libraries.cmake names
them): libraries that Wine alone takes from the program's folder whatever the program does, because Wine's own
system libraries import them before the program's first instruction (user32 imports version.dll; Windows'
user32 does not), and Wine's own drivers, which Windows does not have.

Environment: as the other e2e suites (tools/test)."""
import contextlib
import glob
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from harness import (CROSS_BUILD, REPO, SETUP_EXE, LifecycleTest, adapter_selection, log_errors, sample_files,
                     to_windows, user_folders, wait_for_setup_to_finish, wait_until, wine_environment)
from pe_image import PeImage
from test_window import EMPTY, WHITE, SetupWindow, close_to

PLANTED_DIR = os.path.join(CROSS_BUILD, "planted")
NO_CONNECTION = "Нет связи с сайтом Торвел. Проверьте интернет и повторите."

# Windows' KnownDLLs (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs): always mapped from
# System32, whatever lies next to the program.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "difxapi.dll", "gdi32.dll",
    "gdiplus.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll",
    "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll",
    "shcore.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll",
}
# What the program loads for itself on its first calls: the delay-loaded libraries.
DELAY_LOADED = ("winhttp.dll", "bcrypt.dll", "crypt32.dll", "dxgi.dll")
# What it loads from System32 because system libraries ask for them by bare name (with their imports).
ASKED_FOR_BY_SYSTEM = ("windowscodecs.dll", "propsys.dll", "secur32.dll")
PRODUCT_SOURCES = ("app", "engine", "platform", "ui")

CORE_SIZE_TEXT = (488, 286, 568, 306)  # x0, y0, x1, y1: where the core row shows its size once it is known
LOADED = re.compile(r'^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\w+ Loaded L"(.*)" at [0-9A-Fa-f]+: (\w+)$')


class ImportTable(unittest.TestCase):
    def test_static_imports_are_known_dlls_only(self):
        imports = PeImage(SETUP_EXE).imports()
        self.assertIn("kernel32.dll", {name.lower() for name in imports})  # the table was read
        self.assertEqual(sorted(name for name in imports if name.lower() not in KNOWN_DLLS), [])

    def test_every_explicit_load_searches_system32_only(self):
        calls = []
        for folder in PRODUCT_SOURCES:
            for path in sorted(glob.glob(os.path.join(REPO, folder, "*.*"))):
                with open(path, encoding="utf-8") as f:
                    calls += [(os.path.relpath(path, REPO), call) for call in library_loads(f.read())]
        self.assertTrue(calls, "no LoadLibrary call found: the scan is broken")
        self.assertEqual([(path, call) for path, call in calls if "LOAD_LIBRARY_SEARCH_SYSTEM32" not in call], [])


def library_loads(source):
    """The text of every LoadLibrary* call in a source file, from its name to its closing parenthesis."""
    found = []
    for match in re.finditer(r"\bLoadLibrary\w*\s*\(", source):
        depth, end = 1, match.end()
        while depth and end < len(source):
            depth += {"(": 1, ")": -1}.get(source[end], 0)
            end += 1
        found.append(" ".join(source[match.start():end].split()))
    return found


class LoadTrace:
    """A WINEDEBUG=+pid,+loaddll trace: for each process, the libraries it loaded in order (Windows paths)."""

    def __init__(self, path):
        self.path = path

    def processes(self):
        found = {}
        with open(self.path, encoding="utf-8", errors="replace") as f:
            for line in f:
                match = LOADED.match(line.rstrip("\n"))
                if match:
                    found.setdefault(match.group(1), []).append(unescape(match.group(2)))
        return found

    def processes_of(self, image_folder):
        """Modules of each process whose image (the first module it loaded) lies in the folder, by image."""
        prefix = image_folder.lower().rstrip("\\") + "\\"
        return {modules[0]: modules for modules in self.processes().values()
                if modules[0].lower().startswith(prefix)}


def unescape(text):
    """A path as Wine's traces print it: backslashes doubled, other characters than ASCII as \\xxxx (hex)."""
    escapes = {"\\": "\\", '"': '"', "n": "\n", "r": "\r", "t": "\t"}
    return re.sub(r"\\(\\|\"|n|r|t|[0-9a-fA-F]{4})",
                  lambda m: escapes.get(m.group(1)) or chr(int(m.group(1), 16)), text)


def file_name(windows_path):
    return windows_path.rsplit("\\", 1)[-1].lower()


def planted_libraries():
    return sorted(name for name in os.listdir(PLANTED_DIR) if name.endswith(".dll"))


class PlantedLibraries(LifecycleTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.v1 = cls.make_release("1.4.0", sample_files("v1", with_setup=True))
        cls.v2 = cls.make_release("1.5.0", dict(sample_files("v1", with_setup=True), **{"data/new.bin": b"v2"}))
        cls.downloads = os.path.join(user_folders()["USERPROFILE"], "Downloads")

    def setUp(self):
        super().setUp()
        self.trace = LoadTrace(os.path.join(tempfile.mkdtemp(dir=self.workdir), "loaddll.txt"))
        self.planted_folders = []

    def environment(self, overrides):
        env = wine_environment()
        env["WINEDLLOVERRIDES"] += ";" + overrides
        env["WINEDEBUG"] = "-all,+pid,+loaddll"
        return env

    def planting_environment(self):
        names = ",".join(name[:-4] for name in planted_libraries())
        return self.environment(names + "=n,b")

    def plant(self, folder):
        """Puts every stand-in into the folder (a Unix path); they and their markers go when the test ends."""
        os.makedirs(folder, exist_ok=True)
        self.assertIn("winhttp.dll", planted_libraries())
        self.unplant(folder)  # no marker of an earlier run
        for name in planted_libraries():
            shutil.copy(os.path.join(PLANTED_DIR, name), os.path.join(folder, name))
        self.addCleanup(self.unplant, folder)
        self.planted_folders.append(folder)

    def unplant(self, folder):
        """Removes the stand-ins and their markers (named as the loader spelt the library: WINHTTP.dll.loaded)."""
        ours = set(planted_libraries()) | {name + ".loaded" for name in planted_libraries()}
        remove_files(*(os.path.join(folder, name) for name in os.listdir(folder) if name.lower() in ours))

    def run_setup_with(self, env, program, *args, timeout=180):
        """Runs a setup program (Windows path) with the environment, waits for it and any copy it relaunched,
        and returns its exit status; the trace file collects what every process of the run loaded."""
        with open(self.trace.path, "ab") as trace:
            status = subprocess.run(["wine", program, *args], env=env, timeout=timeout, stdout=subprocess.DEVNULL,
                                    stderr=trace).returncode
        wait_for_setup_to_finish(timeout)
        return status

    def downloaded_copy(self):
        self.plant(self.downloads)
        copy = os.path.join(self.downloads, "maketor-setup.exe")
        shutil.copy(SETUP_EXE, copy)
        self.addCleanup(remove_files, copy)
        return to_windows(copy)

    # What a run must show ---------------------------------------------------------------------------------
    @contextlib.contextmanager
    def planted_runs(self):
        """Checks that no stand-in was loaded however the runs inside end: a run that crashed or hung on a
        stand-in's failing functions then reports the stand-in first."""
        try:
            yield
        finally:
            self.assert_nothing_planted_was_loaded()

    def assert_nothing_planted_was_loaded(self):
        markers = [path for folder in self.planted_folders for path in glob.glob(os.path.join(folder, "*.loaded"))]
        self.assertEqual(markers, [])
        planted = {to_windows(folder).lower().rstrip("\\") + "\\" for folder in self.planted_folders}
        from_planted = [(modules[0], module) for modules in self.trace.processes().values() for module in modules[1:]
                        if any(module.lower().startswith(folder) for folder in planted)]
        self.assertEqual(from_planted, [])

    def assert_took_from_system32(self, modules, names):
        system32 = {file_name(m) for m in modules if m.lower().startswith("c:\\windows\\system32\\")}
        self.assertEqual(sorted(set(names) - system32), [], f"not loaded from System32 by {modules[0]}")

    # Tests ------------------------------------------------------------------------------------------------------
    def test_window_with_release_check_adapters_and_paint(self):
        self.serve(self.v1)
        program = self.downloaded_copy()
        with self.planted_runs(), open(self.trace.path, "ab") as trace:
            window = PlantedWindow(program=program, env=self.planting_environment(), stderr=trace)
            self.addCleanup(window.close)
            wait_until(lambda: core_size_shown(window), 60, "the component sizes from the release check")
            window.capture("window-planted-libraries")
            window.click(EMPTY)  # the window gets the keyboard
            window.key("Escape")
            self.assertTrue(window.exited(20), "Escape closes the window")
        (modules,) = self.trace.processes_of(to_windows(self.downloads)).values()
        self.assert_took_from_system32(modules, DELAY_LOADED + ASKED_FOR_BY_SYSTEM + ("uxtheme.dll",))

    def test_unattended_install_then_update_from_the_temporary_copy(self):
        folder = self.new_folder()
        temp = user_folders()["TEMP"]
        with self.planted_runs():
            self.serve(self.v1)
            self.assertEqual(self.run_setup_with(self.planting_environment(), self.downloaded_copy(), "/auto",
                                                 "/dir", folder.windows), 0)
            self.assert_installed(folder, self.v1, adapter_selection(),
                                  list(self.v1.selected_files(adapter_selection())))

            # setup.exe in the install folder relaunches itself from a copy in the temporary folder.
            self.plant(folder.unix)
            self.plant(temp)
            self.serve(self.v2)
            self.assertEqual(self.run_setup_with(self.planting_environment(), folder.windows + "\\setup.exe",
                                                 "/update", "/dir", folder.windows, "/auto"), 0)
        self.unplant(folder.unix)
        self.assert_installed(folder, self.v2, adapter_selection(), ["data/new.bin"])

        (downloaded,) = self.trace.processes_of(to_windows(self.downloads)).values()
        (copy,) = self.trace.processes_of(to_windows(temp)).values()
        self.assertRegex(file_name(copy[0]), r"^maketor-setup-\d+\.exe$")
        for modules in (downloaded, copy):
            self.assert_took_from_system32(modules, DELAY_LOADED + ASKED_FOR_BY_SYSTEM + ("cabinet.dll",))

    def test_a_system_library_that_cannot_be_loaded_fails_only_its_own_path(self):
        # Wine refuses to load a library marked "d": the program gets no library at all.
        cases = [
            ("winhttp", [NO_CONNECTION], None),
            ("dxgi", [], [True, False, False, False, False]),  # no adapters listed: the core alone
        ]
        for library, errors, selection in cases:
            with self.subTest(library=library):
                super().setUp()  # a fresh log, registry and shortcuts
                remove_files(self.trace.path)
                folder = self.new_folder(leaf="без " + library)
                self.serve(self.v1)
                status = self.run_setup_with(self.environment(library + "=d"), to_windows(SETUP_EXE), "/auto",
                                             "/dir", folder.windows)
                self.assertEqual(status, 0, "the program ended normally")
                self.assertEqual(log_errors(), errors)
                if selection:
                    self.assert_installed(folder, self.v1, selection, list(self.v1.selected_files(selection)))
                else:
                    self.assertFalse(os.path.exists(folder.path("install.json")))
                (modules,) = self.trace.processes_of(to_windows(CROSS_BUILD)).values()
                self.assertNotIn(library + ".dll", [file_name(m) for m in modules])


class PlantedWindow(SetupWindow):
    def close(self):
        # The suite's wineserver stays up, so wait for the setup process itself, not for the server.
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=30)
        wait_for_setup_to_finish(60)


def core_size_shown(window):
    """Whether the core row's size text (drawn only once the signed manifest was read) is on screen."""
    x0, y0, x1, y1 = CORE_SIZE_TEXT
    frame = window.capture()
    return any(not close_to(window.pixel((x, y), frame), WHITE, 40) for y in range(y0, y1) for x in range(x0, x1, 2))


def remove_files(*paths):
    for path in paths:
        if os.path.exists(path):
            os.remove(path)


if __name__ == "__main__":
    unittest.main()
