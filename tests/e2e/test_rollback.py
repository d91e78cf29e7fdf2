"""Rollback and freeze protection with the real setup program under Wine and a real HTTPS server: a correctly
signed earlier release never downgrades an installation, the same release again repairs it, and a manifest
past its expiry (beyond a day's tolerance) is refused, one within it taken; every refusal changes nothing on
disk, in the download cache or in the registry."""
import calendar
import json
import os
import shutil
import subprocess
import time
import unittest

from harness import (DEVELOPMENT_KEY, PUBLISH, LifecycleTest, adapter_selection, changed_release_files,
                     desktop_folder, log_errors, registry_values, run_setup, sample_files, setup_log_lines,
                     sign_manifest, start_menu_folder)
from test_window import ACCENT, EMPTY, WHITE, SetupWindow, close_to, wait_for

TOLERANCE_S = 24 * 3600

# Client points of the 600 × 580 Choose screen of an installed version (logical px at scale 1.0).
CORE_SIZE_TEXT = (488, 208, 568, 228)  # x0, y0, x1, y1: the core row's size, drawn once the release check is in
MAIN_BUTTON_BODY = (414, 536)  # "Обновить" / "Применить": x 408-568, y 516-556, left of its label
CLOSE_BUTTON = (508, 536)  # "Закрыть" alone, where the main button would be: x 448-568


def downgrade_text(offered, installed):
    return (f"На сайте Торвел версия {offered}, а установлена более новая {installed} — установка остановлена, "
            "ничего не изменено.")


def expired_text(expires):
    date = f"{expires[8:10]}.{expires[5:7]}.{expires[0:4]}"
    return (f"Сведения о версии на сайте Торвел устарели {date} — установка остановлена. Проверьте дату на "
            "компьютере или повторите позже.")


def utc_text(seconds):
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(seconds))


def shortcut_files():
    """The links in the Start menu's programs folder and on the desktop: path -> bytes."""
    found = {}
    for folder in (start_menu_folder(), desktop_folder()):
        for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
            if name.endswith(".lnk"):
                with open(os.path.join(folder, name), "rb") as f:
                    found[os.path.join(folder, name)] = f.read()
    return found


class Refusals(LifecycleTest):
    """1.9 and 1.10: ten comes after nine, though not as text."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        files = sample_files("v9", with_setup=True)
        cls.v9 = cls.make_release("1.9", files)
        cls.v10 = cls.make_release("1.10", changed_release_files(files))

    def state(self, folder):
        """Everything a refused run must leave as it was: the folder with its download cache, the uninstall
        entry and the shortcuts."""
        return folder.snapshot(), registry_values(), shortcut_files()

    def with_download_cache(self, folder, release):
        """What an earlier failed run leaves in "update-cache": one verified blob and the beginning of another."""
        cache = folder.path("update-cache")
        os.makedirs(cache, exist_ok=True)
        whole, cut = release.blob("data/catalog.json"), release.blob("maketor.exe")
        with open(os.path.join(cache, release.entries["data/catalog.json"]["sha256"] + ".lzms"), "wb") as f:
            f.write(whole)
        with open(os.path.join(cache, release.entries["maketor.exe"]["sha256"] + ".lzms.part"), "wb") as f:
            f.write(cut[: len(cut) // 2])

    def expiring(self, release, expires):
        """A served copy of the release whose signed manifest names the expiry."""
        copy = os.path.join(self.workdir, f"{release.version}-expiring-{expires.replace(':', '')}")
        shutil.rmtree(copy, ignore_errors=True)
        shutil.copytree(release.folder, copy)
        manifest = dict(release.manifest, expires=expires)
        sign_manifest(copy, (json.dumps(manifest, indent=1, ensure_ascii=False) + "\n").encode("utf-8"))
        self.server.set_root(copy)
        self.server.clear_log()
        return copy

    def assert_refused(self, folder, before, text, log_line):
        """Refused with the text, the log line (or one that begins with it) and nothing changed."""
        self.assertEqual(log_errors(), [text])
        self.assertTrue(any(line.startswith(log_line) for line in setup_log_lines()), setup_log_lines())
        self.assertEqual(self.server.blob_requests(), [], "a refused release had its blobs fetched")
        self.assertEqual(self.state(folder), before)

    # Rollback ------------------------------------------------------------------------------------------------
    def test_an_earlier_release_is_refused_in_every_mode_with_an_installed_version(self):
        modes = [("update", lambda f: ("/update", "/dir", f.windows, "/auto")),
                 ("install into the folder", lambda f: ("/auto", "/dir", f.windows))]
        for name, arguments in modes:
            with self.subTest(name):
                self.setUp()
                folder = self.new_folder()
                self.install(folder, self.v10)
                self.assert_no_errors()
                self.with_download_cache(folder, self.v10)
                before = self.state(folder)

                self.serve(self.v9)
                run_setup(*arguments(folder))
                self.assert_refused(folder, before, downgrade_text("1.9", "1.10"),
                                    f"отказ от версии 1.9: в {folder.windows} установлена более новая 1.10")

    def test_a_later_release_updates(self):
        folder = self.new_folder()
        self.install(folder, self.v9)
        self.assertEqual(sorted(self.update(folder, self.v10)),
                         sorted(self.v10.entries[p]["sha256"]
                                for p in ("maketor.exe", "data/catalog.json", "data/new/added.bin")))
        self.assert_installed(folder, self.v10, adapter_selection(),
                              ["maketor.exe", "data/catalog.json", "data/new/added.bin"])

    def test_the_same_release_again_repairs_what_changed_on_disk(self):
        folder = self.new_folder()
        self.install(folder, self.v10)
        with open(folder.path("data/catalog.json"), "r+b") as f:
            f.truncate(100)
        os.remove(folder.path("fonts/Inter-Regular.ttf"))
        self.update(folder, self.v10)
        self.assert_installed(folder, self.v10, adapter_selection(), ["data/catalog.json", "fonts/Inter-Regular.ttf"])

    def test_the_release_check_offers_no_earlier_release(self):
        folder = self.new_folder()
        self.install(folder, self.v10)  # the uninstall entry names the installed version for the window
        self.serve(self.v9)
        window = SetupWindow()
        self.addCleanup(window.close)
        self.assertEqual((window.width, window.height), (600, 580))

        def sizes_shown():
            x0, y0, x1, y1 = CORE_SIZE_TEXT
            frame = window.capture()
            return any(not close_to(window.pixel((x, y), frame), WHITE, 40)
                       for y in range(y0, y1) for x in range(x0, x1, 2))

        wait_for(sizes_shown, 60, "the sizes from the release check")
        window.capture("choose-older-offered")
        self.assertFalse(close_to(window.pixel(MAIN_BUTTON_BODY), ACCENT, 40), "an update to 1.9 is offered")
        window.click(EMPTY)  # the window gets the keyboard
        window.key("Return")
        time.sleep(2)
        self.assertEqual(log_errors(), [], "Enter started a run")
        self.assertEqual(self.server.blob_requests(), [])
        window.click(CLOSE_BUTTON)
        self.assertTrue(window.exited(20), "\"Закрыть\" closes the window")

        # The same release on the site is offered as a repair.
        self.serve(self.v10)
        again = SetupWindow()
        self.addCleanup(again.close)
        again.move_to(EMPTY)  # the pointer left over the button would draw it hovered
        wait_for(lambda: close_to(again.pixel(MAIN_BUTTON_BODY), ACCENT, 40), 60, "the main button")

    # Freeze ----------------------------------------------------------------------------------------------------
    def test_an_expired_manifest_is_refused_and_one_within_the_tolerance_taken(self):
        now = int(time.time())
        cases = [
            ("expired a day and an hour ago", now - TOLERANCE_S - 3600, False),
            ("expired a month ago", now - 30 * 86400, False),
            ("expired 23 hours ago: a clock a day ahead", now - TOLERANCE_S + 3600, True),
            ("expires in a week", now + 7 * 86400, True),
        ]
        for name, expires_at, taken in cases:
            with self.subTest(name):
                self.setUp()
                folder = self.new_folder()
                self.install(folder, self.v9)
                if not taken:
                    self.with_download_cache(folder, self.v10)
                before = self.state(folder)
                expires = utc_text(expires_at)
                self.expiring(self.v10, expires)
                run_setup("/update", "/dir", folder.windows, "/auto")
                if taken:
                    self.assert_installed(folder, self.v10, adapter_selection(),
                                          ["maketor.exe", "data/catalog.json", "data/new/added.bin"])
                    continue
                line = f"отказ от версии 1.10: сведения о ней действовали до {expires}, часы компьютера показывают "
                self.assert_refused(folder, before, expired_text(expires), line)
                (logged,) = [l for l in setup_log_lines() if l.startswith(line)]
                clock, tolerance = logged[len(line):].split(" ", 1)
                self.assertEqual(tolerance, "(допуск 24 ч)")
                self.assertLess(abs(calendar.timegm(time.strptime(clock, "%Y-%m-%dT%H:%M:%SZ")) - time.time()), 300)

    def test_a_first_install_refuses_an_expired_manifest_and_creates_nothing(self):
        folder = self.new_folder()
        expires = utc_text(int(time.time()) - TOLERANCE_S - 3600)
        self.expiring(self.v9, expires)
        run_setup("/auto", "/dir", folder.windows)
        self.assertEqual(log_errors(), [expired_text(expires)])
        self.assertFalse(os.path.exists(folder.unix))
        self.assertIsNone(registry_values())

    def test_a_release_signed_again_by_the_publisher_is_taken(self):
        folder = self.new_folder()
        self.install(folder, self.v9)
        copy = os.path.join(self.workdir, "1.10-resigned")
        shutil.rmtree(copy, ignore_errors=True)
        shutil.copytree(self.v10.folder, copy)
        subprocess.run([PUBLISH, "resign", "--key", DEVELOPMENT_KEY, "--expires-in", "1d", copy], check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(copy, "manifest.json"), encoding="utf-8") as f:
            self.assertIn("expires", json.load(f))
        self.server.set_root(copy)
        self.server.clear_log()
        run_setup("/update", "/dir", folder.windows, "/auto")
        self.assert_installed(folder, self.v10, adapter_selection(),
                              ["maketor.exe", "data/catalog.json", "data/new/added.bin"])


if __name__ == "__main__":
    unittest.main()
