"""In-place updates, the download cache and component changes, with the real setup program under Wine."""
import os
import shutil
import time
import unittest

from harness import (LEGACY_SHORTCUT_NAMES, SHORTCUT_NAME, HeldFile, LifecycleTest, adapter_selection,
                     changed_release_files, cross_program, desktop_folder, log_errors, noise, run_setup,
                     sample_files, start_menu_folder, to_windows, wait_for_setup_to_finish, wait_until)

LOCK_BOUND_S = 10  # how long the product waits for one locked file


class TwoReleases(LifecycleTest):
    """v1 and v2, which changes maketor.exe and data/catalog.json, adds data/new/added.bin and drops a file."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        v1_files = sample_files("v1", with_setup=True)
        cls.v1 = cls.make_release("1.4.0", v1_files)
        cls.v2 = cls.make_release("1.5.0", changed_release_files(v1_files))


class Update(TwoReleases):

    def test_update_started_by_the_application(self):
        folder = self.new_folder()
        self.install(folder, self.v1)
        self.assert_no_errors()
        installed = folder.files()
        selection = adapter_selection()

        # The application starts the update the way it would and stays open a while.
        self.serve(self.v2)
        standin = self.start_standin(folder.windows + "\\maketor.exe", "--update", "--auto")
        wait_until(lambda: "/maketor/app/manifest.sig" in self.server.requests(), 60, "the update's manifest")
        time.sleep(1.5)
        self.assertEqual(folder.files(), installed, "the update went on while the application was open")
        self.assertEqual(self.fetched_blobs(), [])
        standin.close()
        wait_for_setup_to_finish()

        changed = ["maketor.exe", "data/catalog.json", "data/new/added.bin"]
        self.assertEqual(sorted(self.fetched_blobs()), sorted(self.v2.entries[p]["sha256"] for p in changed))
        self.assert_installed(folder, self.v2, selection, changed)
        self.assertNotIn("images", folder.folders())  # the dropped file's folder is gone with it

    def test_update_with_nothing_changed(self):
        folder = self.new_folder()
        self.install(folder, self.v2)
        record = folder.record_bytes()
        # Shortcuts of earlier releases: removed from the Start menu, replaced by the current one on the desktop.
        legacy = [os.path.join(start_menu_folder(), LEGACY_SHORTCUT_NAMES[0]),
                  os.path.join(desktop_folder(), LEGACY_SHORTCUT_NAMES[1])]
        for path in legacy:
            with open(path, "wb") as f:
                f.write(b"old link")

        self.assertEqual(self.update(folder), [])
        self.assert_installed(folder, self.v2, adapter_selection(), [])
        self.assertEqual(folder.record_bytes(), record)
        self.assertEqual([p for p in legacy if os.path.exists(p)], [])
        self.assert_shortcut(os.path.join(desktop_folder(), SHORTCUT_NAME), folder)

    def test_download_cache(self):
        folder = self.new_folder()
        self.install(folder, self.v1)
        selection = adapter_selection()
        # Three changed files: a valid cached blob, a cached blob of other bytes, an empty cached blob.
        files = dict(self.v1.source_files)
        for relative in ("data/catalog.json", "data/models/стеллаж.bin", "fonts/Inter-Regular.ttf"):
            files[relative] = noise(15_000, relative + " v3")
        v3 = self.make_release("1.6.0", files)
        cache = folder.path("update-cache")
        os.makedirs(cache)
        shutil.copy(v3.blob_path("data/catalog.json"), cache)
        with open(os.path.join(cache, v3.entries["data/models/стеллаж.bin"]["sha256"] + ".lzms"), "wb") as f:
            f.write(v3.blob("fonts/Inter-Regular.ttf"))
        open(os.path.join(cache, v3.entries["fonts/Inter-Regular.ttf"]["sha256"] + ".lzms"), "wb").close()

        requested = self.update(folder, v3)
        self.assertEqual(sorted(requested), sorted(v3.entries[p]["sha256"]
                                                   for p in ("data/models/стеллаж.bin", "fonts/Inter-Regular.ttf")))
        self.assert_installed(folder, v3, selection,
                              ["data/catalog.json", "data/models/стеллаж.bin", "fonts/Inter-Regular.ttf"])
        self.assertFalse(os.path.exists(cache))

    def test_component_change_through_the_record(self):
        # The record's choice wins over the adapters for every component it offered.
        steps = [
            ("core and vr", [True, False, False, False, True]),
            ("vr swapped for amd", [True, False, True, False, False]),
        ]
        folder = self.new_folder()
        os.makedirs(folder.unix)
        folder.write_record({"components": ["core"], "files": {}, "offered": ["core", "nvidia", "amd", "intel", "vr"],
                             "version": "0"})
        previous = None
        for case, selection in steps:
            with self.subTest(case):
                ids = [cid for cid, on in zip(("core", "nvidia", "amd", "intel", "vr"), selection) if on]
                record = folder.record()
                record["components"] = ids
                folder.write_record(record)
                requested = self.install(folder, self.v1)
                wanted = self.v1.selected_files(selection)
                added = [p for p in wanted if previous is None or p not in previous]
                self.assertEqual(sorted(requested), sorted(self.v1.entries[p]["sha256"] for p in added))
                self.assert_installed(folder, self.v1, selection, added)
                previous = wanted
        self.assertNotIn("handmodels", folder.folders())


class TransientLocks(TwoReleases):
    """A scanner or a closing application holds a file for a moment: the update waits instead of failing."""

    def installed_v1(self):
        folder = self.new_folder()
        self.install(folder, self.v1)
        self.assert_no_errors()
        self.serve(self.v2)
        return folder, adapter_selection()

    def test_a_changed_file_held_for_a_moment(self):
        folder, selection = self.installed_v1()
        held = HeldFile(folder.windows + "\\data\\catalog.json", 2)
        self.update(folder)
        held.wait()
        self.assert_no_errors()
        self.assert_installed(folder, self.v2, selection, ["maketor.exe", "data/catalog.json", "data/new/added.bin"])

    def test_a_file_held_beyond_the_bound_fails_as_a_busy_file(self):
        folder, _ = self.installed_v1()
        record = folder.record_bytes()
        catalog = folder.files()["data/catalog.json"]
        held = HeldFile(folder.windows + "\\data\\catalog.json", LOCK_BOUND_S + 6)
        started = time.time()
        self.update(folder)
        waited = time.time() - started
        held.wait()
        self.assertEqual(log_errors(), ["Файл занят: " + folder.windows + "\\data\\catalog.json — закройте макетор."])
        self.assertGreaterEqual(waited, LOCK_BOUND_S)
        self.assertEqual(folder.files()["data/catalog.json"], catalog)
        self.assertEqual(folder.record_bytes(), record)

    def test_the_application_file_locked_a_moment_after_its_process_ended(self):
        folder, selection = self.installed_v1()
        # The process named by /pid has ended, but its executable is still held for a few seconds.
        standin = self.start_standin(to_windows(cross_program("maketor_standin.exe")))
        standin.close()
        held = HeldFile(folder.windows + "\\maketor.exe", 3)
        run_setup("/update", "/pid", str(standin.windows_pid), "/dir", folder.windows, "/auto")
        held.wait()
        self.assert_no_errors()
        self.assert_installed(folder, self.v2, selection, ["maketor.exe", "data/catalog.json", "data/new/added.bin"])

    def test_a_running_application_without_pid_is_not_waited_for(self):
        folder, _ = self.installed_v1()
        held = HeldFile(folder.windows + "\\maketor.exe", 3)
        started = time.time()
        self.update(folder)
        waited = time.time() - started
        held.wait()
        self.assertEqual(log_errors(), ["Макетор открыт — закройте его и нажмите «Повторить»."])
        self.assertLess(waited, LOCK_BOUND_S)


if __name__ == "__main__":
    unittest.main()
