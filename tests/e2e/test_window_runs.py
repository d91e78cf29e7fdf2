"""The real setup window during real install runs from the test server, driven with real pointer and key events
(xdotool): the close box cancels a run and closes the window after it, Escape and Enter are ignored during a
run, a completed run stays on "Готово!" until Enter launches the installed application.

Under Xvfb there is no window manager, so the title bar with its close box is drawn by Wine itself (its
"Decorated" option, off for the setup executable while this suite runs). One blob of the release is sent slowly,
so that each run lasts long enough to act during it.

Environment: as test_window.py, plus the test server's (MAKETOR_TEST_PORT, MAKETOR_HOST_BUILD). Screenshots of
the progress, cancelled and finished screens are saved with the others in <cross build>/screenshots/."""
import os
import time
import unittest

from harness import (LifecycleTest, adapter_selection, cross_program, delete_registry_key, log_errors, noise,
                     read_text, registry_values, remove_shortcuts, sample_files, user_folders,
                     wait_for_setup_to_finish, wait_until, wine)
from test_window import (ACCENT, DANGER, EMPTY, FINISHED_MAIN_BODY, LAUNCH_BOX, LAUNCH_BOX_PIXEL, MAIN_BUTTON,
                         MAIN_BUTTON_BODY, WHITE, SetupWindow, close_to, wait_for)

CANCELLED = "Установка отменена."
SLOW_FILE = "data/models/зал.bin"
ERROR_BAND = (32, 542, 568, 586)  # x0, y0, x1, y1 of the red error text
WINE_X11_SETTINGS = r"HKCU\Software\Wine\AppDefaults\maketor-setup.exe\X11 Driver"


class DecoratedSetupWindow(SetupWindow):
    """The setup window with the title bar that Wine draws; points are client pixels as in SetupWindow."""

    def __init__(self, *args):
        super().__init__(*args)
        located = {}
        for line in wine(cross_program("setup_window.exe"), "locate").stdout.decode().splitlines():
            name, *numbers = line.split()
            located[name] = [int(n) for n in numbers]
        self.left, self.top, self.width, self.height = located["client"]
        close_x, close_y = located["close"]
        self.close_box = (close_x - self.left, close_y - self.top)  # above the client area

    def click_close_box(self):
        self.click(self.close_box)

    def press_alt_f4(self):
        self.click(EMPTY)  # the window has the keyboard
        self.key("alt+F4")

    def shown(self):
        return self.process.poll() is None

    def close(self):
        # The suite's wineserver stays up, so wait for the setup process itself, not for the server.
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=30)
        wait_for_setup_to_finish(60)


def error_pixels(window, frame):
    """How many pixels of the error band (every second column) have the error colour."""
    x0, y0, x1, y1 = ERROR_BAND
    return sum(close_to(window.pixel((x, y), frame), DANGER, 8) for y in range(y0, y1) for x in range(x0, x1, 2))


# The button bar tells the phase apart (MAIN_BUTTON_BODY and FINISHED_MAIN_BODY lie 10 px apart):
#   Running: only "Отмена" at the right, both points white;
#   Done: "Закрыть" | gap | "Запустить": the first white, the second accent;
#   Ready or Failed: the main button covers both.
def phase_on_screen(window):
    frame = window.capture()
    body, finished_body = window.pixel(MAIN_BUTTON_BODY, frame), window.pixel(FINISHED_MAIN_BODY, frame)
    if close_to(body, WHITE) and close_to(finished_body, WHITE):
        return "running"
    if close_to(body, WHITE) and close_to(finished_body, ACCENT):
        return "done"
    return "ready or failed"


class WindowDuringRuns(LifecycleTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        files = sample_files("window")
        files[SLOW_FILE] = noise(300_000, "hall")
        # Without packs: the slow file's blob is a request of its own, whose body can be slowed.
        cls.release = cls.make_release("1.4.0", files, packs=False)
        wine("reg", "add", WINE_X11_SETTINGS, "/v", "Decorated", "/d", "N", "/f")
        cls.addClassCleanup(wine, "reg", "delete", WINE_X11_SETTINGS, "/v", "Decorated", "/f")

    def setUp(self):
        super().setUp()
        # Suites after this one expect a machine with nothing installed.
        self.addCleanup(remove_shortcuts)
        self.addCleanup(delete_registry_key)
        self.folder = self.new_folder()
        self.serve(self.release)
        temp = user_folders()["TEMP"]
        self.standin_pid_file = os.path.join(temp, "maketor-standin.pid")
        self.standin_log = os.path.join(temp, "maketor-standin.log")
        for stale in (self.standin_pid_file, self.standin_log):
            if os.path.exists(stale):
                os.remove(stale)

    def open_window(self, slow_seconds):
        self.server.set_fault(self.release.request_path(SLOW_FILE), ("slow", slow_seconds))
        window = DecoratedSetupWindow("/dir", self.folder.windows)
        self.addCleanup(window.close)
        return window

    def start_run(self, window):
        """Clicks the main button and waits until the slow blob is on its way."""
        window.click(MAIN_BUTTON)
        wait_for(lambda: phase_on_screen(window) == "running", 15, "the progress screen")
        slow = self.release.entries[SLOW_FILE]["sha256"]
        wait_until(lambda: slow in self.server.blob_requests(), 30, "the slow blob's request")

    def cancel_and_close(self, request_close):
        """A close request during the run cancels it and keeps the window; the same request after it closes."""
        window = self.open_window(slow_seconds=20)
        self.start_run(window)
        self.assertEqual(error_pixels(window, window.capture()), 0)

        request_close(window)
        wait_until(lambda: log_errors() or not window.shown(), 20, "the run to end")
        time.sleep(0.5)  # a few timer ticks: the window would have gone by now
        self.assertTrue(window.shown(), "a close request during a run only cancels it")
        self.assertEqual(log_errors(), [CANCELLED])
        wait_for(lambda: phase_on_screen(window) == "ready or failed", 5, "the failed screen")
        frame = window.capture("window-cancelled")
        self.assertGreater(error_pixels(window, frame), 20, "the error text in red")
        self.assertFalse(os.path.exists(self.folder.path("install.json")))
        self.assertIsNone(registry_values())

        request_close(window)
        self.assertTrue(window.exited(20), "after the run a close request closes the window")

    def test_close_box_cancels_the_run_and_then_closes_the_window(self):
        self.cancel_and_close(DecoratedSetupWindow.click_close_box)

    def test_alt_f4_cancels_the_run_and_then_closes_the_window(self):
        self.cancel_and_close(DecoratedSetupWindow.press_alt_f4)

    def test_keys_during_a_run_are_ignored_and_enter_on_finished_launches(self):
        window = self.open_window(slow_seconds=6)
        window.click(LAUNCH_BOX)  # untick "Запустить после установки": the finished screen stays
        self.assertTrue(close_to(window.pixel(LAUNCH_BOX_PIXEL), WHITE))
        self.start_run(window)
        window.capture("window-progress")
        window.click(EMPTY)  # the window has the keyboard
        window.key("Escape")
        window.key("Return")
        self.assertTrue(window.shown(), "Escape during a run keeps the window")
        self.assertEqual(phase_on_screen(window), "running")

        wait_for(lambda: phase_on_screen(window) == "done", 60, "the finished screen")
        window.capture("window-finished")
        selection = adapter_selection()
        self.assert_installed(self.folder, self.release, selection, list(self.release.selected_files(selection)))
        time.sleep(0.5)
        self.assertTrue(window.shown(), "with launching unticked the finished screen stays")
        self.assertFalse(os.path.exists(self.standin_pid_file))

        window.key("Return")
        self.assertTrue(window.exited(20), "Enter on the finished screen closes the window")
        wait_until(lambda: read_text(self.standin_pid_file).strip(), 30, "the installed application to start")
        self.assertIn(" in " + self.folder.windows + "\n", read_text(self.standin_log))
        with open(os.path.join(user_folders()["TEMP"], "maketor-standin.close"), "w"):
            pass
        wait_until(lambda: not os.path.exists(self.standin_pid_file), 30, "the application to close")


if __name__ == "__main__":
    unittest.main()
