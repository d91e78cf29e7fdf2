"""Unattended uninstalls with the real setup program under Wine, and records that point outside the folder."""
import glob
import os
import unittest

from harness import (LEGACY_SHORTCUT_NAMES, SETUP_EXE, SHORTCUT_NAME, LifecycleTest, adapter_selection,
                     cross_program, desktop_folder, log_errors, registry_values, run_setup, sample_files,
                     setup_log_lines, shortcut_paths, start_menu_folder, to_windows, user_data_folder, user_folders,
                     wait_until, wine, wine_background)

APP_OPEN = "Макетор открыт — закройте его и нажмите «Повторить»."


def existing_shortcuts():
    return [p for p in shortcut_paths() if os.path.exists(p)]


class Uninstall(LifecycleTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.v1 = cls.make_release("1.4.0", sample_files("v1", with_setup=True))

    def setUp(self):
        super().setUp()
        self.folder = self.new_folder()
        self.install(self.folder, self.v1)
        self.assertEqual(log_errors(), [])
        # The user's own data, which goes only with the data option.
        os.makedirs(user_data_folder(), exist_ok=True)
        with open(os.path.join(user_data_folder(), "settings.json"), "w") as f:
            f.write("{}")

    def assert_uninstalled(self, remaining_files):
        self.assertEqual(log_errors(), [])
        self.assertEqual(setup_log_lines()[-1], "удалено из " + self.folder.windows)
        self.assertEqual(self.folder.snapshot(), remaining_files)
        self.assertEqual(existing_shortcuts(), [])
        self.assertIsNone(registry_values())
        self.assertTrue(os.path.exists(os.path.join(user_data_folder(), "settings.json")))

    def add_user_font(self):
        with open(self.folder.path("fonts/мой шрифт.ttf"), "wb") as f:
            f.write(b"user font")

    def legacy_shortcuts_only(self):
        # The installation's own shortcut under the names of earlier releases.
        current = os.path.join(start_menu_folder(), SHORTCUT_NAME)
        with open(current, "rb") as f:
            link = f.read()
        os.remove(current)
        for folder in (start_menu_folder(), desktop_folder()):
            for name in LEGACY_SHORTCUT_NAMES:
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(link)

    def test_uninstall_without_data_option(self):
        cases = [
            ("everything goes", lambda: None, None),
            ("a file of the user keeps its folder", self.add_user_font, {"fonts/мой шрифт.ttf": b"user font"}),
            ("shortcuts of earlier releases", self.legacy_shortcuts_only, None),
        ]
        for index, (name, prepare, remaining) in enumerate(cases):
            with self.subTest(name):
                if index:
                    self.setUp()
                prepare()
                run_setup("/uninstall", "/dir", self.folder.windows, "/auto")
                self.assert_uninstalled(remaining)

    def test_uninstall_started_as_setup_exe_inside_the_folder(self):
        temp = user_folders()["TEMP"]
        copies_before = set(glob.glob(os.path.join(temp, "maketor-setup-*.exe")))
        # As the uninstall entry starts it, with the folder taken from the entry.
        run_setup("/uninstall", "/auto", exe=self.folder.windows + "\\setup.exe")
        self.assert_uninstalled(None)
        # It ran from a temporary copy, which stays until a later start removes it.
        self.assertEqual(len(set(glob.glob(os.path.join(temp, "maketor-setup-*.exe"))) - copies_before), 1)

    def test_uninstall_with_data_option(self):
        # The option is the window's check box (no command-line switch), so this run is driven by the window:
        # tick "Удалить и мои данные…" (its box sits at 32, 184 below the one paragraph), then Enter.
        self.add_user_font()
        setup = wine_background(SETUP_EXE, "/uninstall", "/dir", self.folder.windows)
        self.assertEqual(wine(cross_program("setup_window.exe"), "click", "41", "193").returncode, 0)
        self.assertEqual(wine(cross_program("setup_window.exe"), "enter").returncode, 0)
        wait_until(lambda: setup_log_lines()[-1:] == ["удалено из " + self.folder.windows], 60, "the uninstall")
        wine(cross_program("setup_window.exe"), "close")
        setup.wait(60)
        self.assertEqual(log_errors(), [])
        self.assertFalse(os.path.exists(self.folder.unix))
        self.assertFalse(os.path.exists(user_data_folder()))
        self.assertEqual(existing_shortcuts(), [])
        self.assertIsNone(registry_values())

    def test_uninstall_of_another_folder(self):
        # The entry and the shortcuts go only with the folder they name; the installation's stay meanwhile.
        installed = (self.folder.files(), registry_values(), existing_shortcuts())
        self.assertIsNotNone(installed[1])
        self.assertNotEqual(installed[2], [])
        empty = os.path.join(self.folder.root, "Другая папка")
        os.makedirs(empty)
        others = [
            ("an empty other folder", to_windows(empty)),
            ("a folder that does not exist", self.folder.windows + " 2"),
            ("the folder that holds the installation", to_windows(self.folder.root)),
        ]
        for name, other in others:
            with self.subTest(name):
                run_setup("/uninstall", "/dir", other, "/auto")
                self.assertEqual(log_errors(), [])
                self.assertEqual(setup_log_lines()[-1], "удалено из " + other)
                self.assertEqual((self.folder.files(), registry_values(), existing_shortcuts()), installed)
        # The installation itself, typed in other letter case and with a trailing backslash.
        typed = self.folder.windows.upper() + "\\"
        run_setup("/uninstall", "/dir", typed, "/auto")
        self.assertEqual(log_errors(), [])
        self.assertEqual(setup_log_lines()[-1], "удалено из " + typed)
        self.assertEqual((self.folder.snapshot(), registry_values(), existing_shortcuts()), (None, None, []))

    def test_application_open(self):
        before = (self.folder.files(), registry_values())
        self.start_standin(self.folder.windows + "\\maketor.exe")
        run_setup("/uninstall", "/dir", self.folder.windows, "/auto")
        self.assertEqual(log_errors(), [APP_OPEN])
        self.assertEqual((self.folder.files(), registry_values()), before)


class ReadOnlyFiles(LifecycleTest):
    """Files and folders the user or a backup tool made read-only go like any others, whether the uninstaller
    removes them or an update drops them from the release."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        files = sample_files("v1", with_setup=True)
        cls.v1 = cls.make_release("1.4.0", files)
        del files["images/logo.png"], files["data/models/стеллаж.bin"]
        cls.v2 = cls.make_release("1.5.0", files)

    def install_read_only(self, read_only):
        folder = self.new_folder()
        self.install(folder, self.v1)
        self.assertEqual(log_errors(), [])
        for relative in read_only:
            path = folder.path(relative)
            os.chmod(path, 0o555 if os.path.isdir(path) else 0o444)  # the read-only attribute under Wine
        return folder

    def test_uninstall(self):
        folder = self.install_read_only(["maketor.exe", "data/models/стеллаж.bin", "data/models",
                                         "fonts/Inter-Regular.ttf", "install.json", "setup.exe"])
        run_setup("/uninstall", "/dir", folder.windows, "/auto")
        self.assertEqual(log_errors(), [])
        self.assertEqual((folder.snapshot(), registry_values(), existing_shortcuts()), (None, None, []))

    def test_update_dropping_files(self):
        folder = self.install_read_only(["images/logo.png", "data/models/стеллаж.bin", "data/models"])
        self.assertEqual(self.update(folder, self.v2), [])
        self.assert_installed(folder, self.v2, adapter_selection(), [])
        self.assertNotIn("images", folder.folders())
        self.assertNotIn("data/models", folder.folders())


class PoisonedRecord(LifecycleTest):
    """Record keys that lead out of the folder delete nothing there, whether the uninstaller or an update
    (which deletes recorded files the release no longer has) reads them."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.v1 = cls.make_release("1.4.0", sample_files("v1"))

    RUNS = [
        ("uninstall", ("/uninstall", "/auto")),
        ("update", ("/update", "/auto")),
    ]

    def fresh_installation(self, run_index):
        """v1 installed into a new folder, with log, registry and shortcuts cleared again after the first run."""
        if run_index:
            self.setUp()
        folder = self.new_folder()
        self.install(folder, self.v1)
        return folder

    def test_poisoned_keys_delete_nothing_outside(self):
        for index, (name, args) in enumerate(self.RUNS):
            with self.subTest(name):
                folder = self.fresh_installation(index)
                outside = folder.root  # the folder that holds the installation folder
                victims = {
                    "../outside.txt": os.path.join(outside, "outside.txt"),
                    "..\\outside-back.txt": os.path.join(outside, "outside-back.txt"),
                    "data/../../outside-nested.txt": os.path.join(outside, "outside-nested.txt"),
                    folder.windows.rsplit("\\", 1)[0] + "\\absolute.txt": os.path.join(outside, "absolute.txt"),
                    folder.windows.rsplit("\\", 1)[0].replace("\\", "/") + "/forward.txt":
                        os.path.join(outside, "forward.txt"),
                    folder.windows[2:].rsplit("\\", 1)[0] + "\\rooted.txt": os.path.join(outside, "rooted.txt"),
                }
                for path in victims.values():
                    with open(path, "w") as f:
                        f.write("not the installer's")
                record = folder.record()
                record["files"].update({key: "0" * 64 for key in victims})
                folder.write_record(record)

                run_setup(*args[:1], "/dir", folder.windows, *args[1:])
                self.assertEqual(log_errors(), [])
                self.assertEqual([p for p in victims.values() if not os.path.exists(p)], [])

    def test_keys_naming_the_folder_itself_delete_nothing(self):
        # "Проекты" is an empty folder of the user's. A key that names the installation folder through it would,
        # if followed, take that folder on its way up as one "left empty", and the installation folder with it.
        keys = [".", "./", ".\\", "./.", "data/..", "data\\..", "Проекты/..", "Проекты/./.."]
        for index, (name, args) in enumerate(self.RUNS):
            with self.subTest(name):
                folder = self.fresh_installation(index)
                installed = folder.files()
                os.makedirs(folder.path("Проекты"))
                record = folder.record()
                record["files"].update({key: "0" * 64 for key in keys})
                folder.write_record(record)

                run_setup(*args[:1], "/dir", folder.windows, *args[1:])
                self.assertEqual(log_errors(), [])
                # The uninstall leaves only the user's folder; the update leaves the installation as it was.
                self.assertEqual(folder.snapshot(), {} if name == "uninstall" else installed)
                self.assertIn("Проекты", folder.folders())


if __name__ == "__main__":
    unittest.main()
