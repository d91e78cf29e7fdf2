"""The real setup window under Wine and Xvfb, driven as a person would: real pointer and key events through
xdotool (XTEST), outcomes read from the screen (ImageMagick) and the X cursor (XFixes).

Environment: MAKETOR_CROSS_BUILD (the cross build folder), DISPLAY and WINEPREFIX (from tools/test).
Screenshots of every screen the suite passes through are saved in <cross build>/screenshots/."""
import ctypes
import ctypes.util
import os
import subprocess
import tempfile
import time
import unittest

import harness

CROSS_BUILD = os.environ.get("MAKETOR_CROSS_BUILD", os.path.join(os.path.dirname(__file__), "..", "..", "build", "cross"))
SETUP_EXE = os.path.join(CROSS_BUILD, "maketor-setup.exe")
SCREENSHOTS = os.path.join(CROSS_BUILD, "screenshots")
INSTALL_TITLE = "Установка — Макетор — Торвел"
UNINSTALL_TITLE = "Удаление — Макетор — Торвел"

ACCENT, ACCENT_HOVER, ACCENT_PRESSED = (0xFF, 0xB4, 0x00), (0xFF, 0xC0, 0x2E), (0xEB, 0xA4, 0x00)
DANGER, WHITE, LOCKED_BOX = (0xE5, 0x48, 0x4D), (0xFF, 0xFF, 0xFF), (0xE3, 0xE4, 0xE8)

# Client points (logical px at scale 1.0) of the 600 × 660 first-install window, from its layout.
MAIN_BUTTON = (488, 616)        # "Установить": x 408-568, y 596-636
MAIN_BUTTON_BODY = (414, 616)   # left of the label
FINISHED_MAIN_BODY = (424, 616)  # "Запустить": x 418-568
CANCEL_BUTTON = (338, 616)      # "Отмена": x 278-398
CHANGE_FOLDER = (514, 222)
ROW = {0: (300, 300), 2: (300, 390)}           # rows at y 286, 330, 374: hit rectangles y-2 .. y+38
ROW_BOX = {0: (35, 297), 2: (35, 385)}
LAUNCH_BOX, LAUNCH_BOX_PIXEL = (100, 549), (35, 549)  # "Запустить после установки", box y 540-558
EMPTY = (300, 160)
FOCUS_RING = (0x22, 0x22, 0x28)
CHANGE_FOLDER_RING = (457, 222)  # 1..3 px left of "Изменить…" (x 460): the focus ring
ROW_RING = {2: (30, 385)}        # left of row 2's hit rectangle (x 32)
# A failed first install grows the window to 600 × 704: the error text has the room from below the last checkbox
# (its hit rectangle ends at 561) to above the bar (now at y 640); one line of it starts at H − 118 = 586.
FAILED_SIZE = (600, 704)
ERROR_LINE = (32, 586, 568, 604)        # x0, y0, x1, y1 of its first line
LAUNCH_LABEL = (60, 538, 420, 561)      # "Запустить после установки"
FAILED_MAIN_BODY = (414, 660)           # "Повторить", left of its label


def wine_env():
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml=,winemenubuilder.exe=d"
    return env


def xdotool(*args):
    return subprocess.run(["xdotool", *map(str, args)], check=False, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, text=True).stdout.strip()


NO_CONNECTION = "Нет связи с сайтом Торвел. Проверьте интернет и повторите."
# A run without a server tries the manifest four times, 14 s of waits between them, before it fails.
RUN_WITHOUT_SERVER = 45
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\TorvelMaketor"


class XCursor:
    """The pointer's current cursor image through XFixes, as a comparable value."""

    class Image(ctypes.Structure):
        _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("width", ctypes.c_ushort),
                    ("height", ctypes.c_ushort), ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                    ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                    ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]

    def __init__(self):
        self.x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        self.xfixes = ctypes.CDLL(ctypes.util.find_library("Xfixes") or "libXfixes.so.3")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XFree.argtypes = [ctypes.c_void_p]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(XCursor.Image)
        self.xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
        self.display = self.x11.XOpenDisplay(None)

    def shape(self):
        image = self.xfixes.XFixesGetCursorImage(self.display)
        if not image:
            return None
        c = image.contents
        pixels = tuple(c.pixels[i] & 0xFFFFFFFF for i in range(c.width * c.height))
        value = (c.width, c.height, c.xhot, c.yhot, pixels)
        self.x11.XFree(image)
        return value

    def close(self):
        self.x11.XCloseDisplay(self.display)


class SetupWindow:
    """The real maketor-setup.exe under Wine, its window found by title."""

    def __init__(self, *args, title=INSTALL_TITLE, program=SETUP_EXE, env=None, stderr=subprocess.DEVNULL):
        self.program_name = os.path.basename(program)
        self.process = subprocess.Popen(["wine", program, *args], env=env or wine_env(), stdout=subprocess.DEVNULL,
                                        stderr=stderr)
        self.window = None
        deadline = time.time() + 60
        while time.time() < deadline and not self.window:
            found = xdotool("search", "--onlyvisible", "--name", "^" + title + "$").split()
            self.window = found[-1] if found else None
            time.sleep(0.2)
        if not self.window:
            self.close()
            raise AssertionError("the setup window did not appear")
        geometry = dict(line.split("=") for line in xdotool("getwindowgeometry", "--shell", self.window).splitlines())
        self.left, self.top = int(geometry["X"]), int(geometry["Y"])
        self.width, self.height = int(geometry["WIDTH"]), int(geometry["HEIGHT"])
        time.sleep(0.5)  # a few timer ticks: the first frames are on screen

    def exited(self, timeout):
        try:
            self.process.wait(timeout=timeout)
            return True
        except subprocess.TimeoutExpired:
            return False

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=30)
        # The program's own processes, not the wineserver: a suite keeps that one running on purpose.
        wait_for(lambda: not harness.wine_processes(self.program_name), 30, "the setup program to exit")

    def move_to(self, point):
        xdotool("mousemove", self.left + point[0], self.top + point[1])
        time.sleep(0.25)

    def press(self):
        xdotool("mousedown", 1)
        time.sleep(0.25)

    def release(self):
        xdotool("mouseup", 1)
        time.sleep(0.3)

    def click(self, point):
        self.move_to(point)
        self.press()
        self.release()

    def refresh_geometry(self):
        geometry = dict(line.split("=") for line in xdotool("getwindowgeometry", "--shell", self.window).splitlines())
        self.left, self.top = int(geometry["X"]), int(geometry["Y"])
        self.width, self.height = int(geometry["WIDTH"]), int(geometry["HEIGHT"])

    def key(self, name):
        xdotool("key", name)
        time.sleep(0.4)

    def capture(self, name=None):
        """The window's pixels as a (width, height, bytes) grab of the root window; saved when named."""
        with tempfile.TemporaryDirectory() as folder:
            raw = os.path.join(folder, "frame.rgb")
            subprocess.run(["import", "-window", "root", "-crop", f"{self.width}x{self.height}+{self.left}+{self.top}",
                            "-depth", "8", f"rgb:{raw}"], check=True, timeout=60)
            with open(raw, "rb") as f:
                data = f.read()
            if name:
                os.makedirs(SCREENSHOTS, exist_ok=True)
                subprocess.run(["convert", "-size", f"{self.width}x{self.height}", "-depth", "8", f"rgb:{raw}",
                                os.path.join(SCREENSHOTS, name + ".png")], check=True, timeout=60)
        return data

    def pixel(self, point, frame=None):
        frame = frame if frame is not None else self.capture()
        offset = (point[1] * self.width + point[0]) * 3
        return tuple(frame[offset:offset + 3])


def close_to(a, b, tolerance=3):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


def wait_for(condition, timeout, what):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if condition():
            return
        time.sleep(0.2)
    raise AssertionError("timed out waiting for " + what)


class WindowTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Earlier suites in the same prefix leave an installation registered; these tests need a first install.
        subprocess.run(["wine", "reg", "delete", UNINSTALL_KEY, "/f"], env=wine_env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120, check=False)

    def setUp(self):
        harness.clear_setup_log()
        self.window = SetupWindow()
        self.addCleanup(self.window.close)
        self.assertEqual((self.window.width, self.window.height), (600, 660))

    def assert_pixel(self, point, colour, what):
        got = self.window.pixel(point)
        self.assertTrue(close_to(got, colour), f"{what}: pixel {point} is {got}, expected {colour}")

    def choose_screen_is_ready(self):
        frame = self.window.capture()
        return close_to(self.window.pixel(MAIN_BUTTON_BODY, frame), ACCENT)

    def run_was_started(self):
        # No server listens for this suite, so a started run ends with the connection failure once its retries
        # are spent (RUN_WITHOUT_SERVER): it is logged, and the Choose screen comes back with the red error text
        # above the buttons.
        return harness.log_errors() == [NO_CONNECTION]

    def test_choose_screen_as_drawn(self):
        frame = self.window.capture("window-choose")
        self.assertTrue(close_to(self.window.pixel(MAIN_BUTTON_BODY, frame), ACCENT))
        self.assertTrue(close_to(self.window.pixel(ROW_BOX[0], frame), LOCKED_BOX))
        self.assertTrue(close_to(self.window.pixel(LAUNCH_BOX_PIXEL, frame), ACCENT))

    def test_click_on_main_button_starts_the_run(self):
        self.window.click(MAIN_BUTTON)
        wait_for(self.run_was_started, RUN_WITHOUT_SERVER, "the run to start")
        self.window.capture("window-after-main-button")

    def test_enter_on_choose_starts_the_run(self):
        self.window.click(EMPTY)  # the window gets the keyboard
        self.window.key("Return")
        wait_for(self.run_was_started, RUN_WITHOUT_SERVER, "the run to start")

    def test_press_drag_off_and_release_does_nothing(self):
        self.window.move_to(MAIN_BUTTON)
        self.window.press()
        self.assert_pixel(MAIN_BUTTON_BODY, ACCENT_PRESSED, "held down")
        self.window.move_to(EMPTY)
        self.assert_pixel(MAIN_BUTTON_BODY, ACCENT_PRESSED, "still held, pointer off")
        self.window.release()
        time.sleep(1.0)
        self.assert_pixel(MAIN_BUTTON_BODY, ACCENT, "released off the button")
        self.assertIsNone(self.window.process.poll())

    def test_press_off_controls_move_onto_button_and_release_does_nothing(self):
        self.window.move_to(EMPTY)
        self.window.press()
        self.window.move_to(MAIN_BUTTON)
        self.assert_pixel(MAIN_BUTTON_BODY, ACCENT_HOVER, "hovered while the press began elsewhere")
        self.window.release()
        time.sleep(1.0)
        self.window.move_to(EMPTY)
        self.assertTrue(self.choose_screen_is_ready())

    def test_hover_and_hand_cursor(self):
        cursor = XCursor()
        self.addCleanup(cursor.close)
        self.window.move_to(EMPTY)
        arrow = cursor.shape()
        self.window.move_to(MAIN_BUTTON)
        self.assert_pixel(MAIN_BUTTON_BODY, ACCENT_HOVER, "main button under the pointer")
        hand = cursor.shape()
        self.assertNotEqual(hand, arrow)
        for control in (CANCEL_BUTTON, CHANGE_FOLDER, ROW[2], LAUNCH_BOX):
            self.window.move_to(control)
            self.assertEqual(cursor.shape(), hand, f"cursor over {control}")
        self.window.move_to(ROW[0])  # row 0 is not a control
        self.assertEqual(cursor.shape(), arrow)
        self.window.move_to(EMPTY)
        self.assertEqual(cursor.shape(), arrow)
        self.assert_pixel(MAIN_BUTTON_BODY, ACCENT, "pointer gone")

    def test_row_and_checkbox_toggles_change_the_tick(self):
        self.assert_pixel(ROW_BOX[2], WHITE, "row 2 unticked")
        self.window.click(ROW[2])
        self.assert_pixel(ROW_BOX[2], ACCENT, "row 2 ticked")
        self.window.click(ROW[2])
        self.assert_pixel(ROW_BOX[2], WHITE, "row 2 unticked again")
        self.window.click(ROW[0])
        self.assert_pixel(ROW_BOX[0], LOCKED_BOX, "row 0 cannot be unticked")
        self.window.click(LAUNCH_BOX)
        self.assert_pixel(LAUNCH_BOX_PIXEL, WHITE, "launch unticked")
        self.window.capture("window-choose-toggled")

    def test_escape_on_choose_closes_the_window(self):
        self.window.click(EMPTY)
        self.window.key("Escape")
        self.assertTrue(self.window.exited(20), "Escape outside a run closes the window")

    def test_cancel_button_closes_the_window_outside_a_run(self):
        self.window.click(CANCEL_BUTTON)
        self.assertTrue(self.window.exited(20))


def colour_pixels(window, frame, box, colour, tolerance=40):
    x0, y0, x1, y1 = box
    return sum(close_to(window.pixel((x, y), frame), colour, tolerance) for y in range(y0, y1) for x in range(x0, x1))


def accessibility_tree(*action):
    """The window as a screen reader sees it, through access_tree.exe: (window name, children, focused child)."""
    out = harness.wine(harness.cross_program("access_tree.exe"), *action).stdout.decode("utf-8")
    name, children, focus = None, [], None
    for line in out.splitlines():
        fields = [f.strip() for f in line.split("|")]
        if line.startswith("window "):
            name = fields[0][len("window "):]
        elif line.startswith("child "):
            children.append({"name": fields[1], "role": int(fields[2].split()[1]), "state": int(fields[3].split()[1], 16),
                             "action": fields[4][len("action "):]})
        elif line.startswith("focus "):
            focus = int(line.split()[1])
    return name, children, focus


PUSH_BUTTON, CHECK_BOX = 43, 44
UNAVAILABLE, FOCUSED, CHECKED, FOCUSABLE = 0x1, 0x4, 0x10, 0x100000


class KeyboardAndScreenReaderTest(unittest.TestCase):
    """Tab, Shift+Tab and Space with real key events; the accessibility tree read from another process."""

    def setUp(self):
        subprocess.run(["wine", "reg", "delete", UNINSTALL_KEY, "/f"], env=wine_env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120, check=False)
        harness.clear_setup_log()
        self.window = SetupWindow()
        self.addCleanup(self.window.close)

    def test_screen_reader_finds_every_control(self):
        name, children, focus = accessibility_tree()
        self.assertEqual(name, "Установка 3D-макетора")
        self.assertEqual([c["name"].split("  ·  ")[0] for c in children],
                         ["Изменить…", "Макетор", "Ускорение NVIDIA DLSS", "Ускорение AMD FSR", "Ускорение Intel XeSS",
                          "VR-очки XREAL", "Ярлык на рабочем столе", "Запустить после установки", "Установить", "Отмена"])
        roles = [c["role"] for c in children]
        self.assertEqual(roles, [PUSH_BUTTON] + [CHECK_BOX] * 7 + [PUSH_BUTTON] * 2)
        core = children[1]
        self.assertEqual(core["state"] & (UNAVAILABLE | CHECKED | FOCUSABLE), UNAVAILABLE | CHECKED,
                         "the application itself: always ticked, not available")
        self.assertEqual(children[7]["state"] & (CHECKED | FOCUSABLE), CHECKED | FOCUSABLE)
        self.assertEqual(children[8]["action"], "Нажать")
        self.assertIn(children[3]["action"], ("Отметить", "Снять отметку"))
        self.assertEqual(focus, 0, "before the keyboard is used the focus is on the client area, on no control")

        ticked = bool(children[3]["state"] & CHECKED)
        _, after, _ = accessibility_tree("do", "4")  # the AMD row's default action toggles it
        self.assertEqual(bool(after[3]["state"] & CHECKED), not ticked)

    def test_tab_shows_a_focus_ring_and_space_toggles(self):
        window = self.window
        window.click(EMPTY)  # the window gets the keyboard
        self.assertFalse(close_to(window.pixel(CHANGE_FOLDER_RING), FOCUS_RING, 60), "no ring before Tab")
        window.key("Tab")
        frame = window.capture("window-keyboard-focus")
        self.assertTrue(close_to(window.pixel(CHANGE_FOLDER_RING, frame), FOCUS_RING, 60), "ring around \"Изменить…\"")
        for _ in range(2):
            window.key("Tab")
        self.assertTrue(close_to(window.pixel(ROW_RING[2]), FOCUS_RING, 60), "ring around row 2")
        self.assertFalse(close_to(window.pixel(CHANGE_FOLDER_RING), FOCUS_RING, 60), "only one ring")
        self.assertTrue(close_to(window.pixel(ROW_BOX[2]), WHITE))
        window.key("space")
        self.assertTrue(close_to(window.pixel(ROW_BOX[2]), ACCENT), "Space ticks the focused row")
        _, children, focus = accessibility_tree()
        self.assertEqual(focus, 4)
        self.assertTrue(children[3]["state"] & FOCUSED and children[3]["state"] & CHECKED)
        window.key("shift+Tab")
        _, _, focus = accessibility_tree()
        self.assertEqual(focus, 3)

    def test_failed_first_install_shows_its_error_clear_of_the_checkboxes(self):
        window = self.window
        window.click(MAIN_BUTTON)  # no server listens: the run fails with no connection after its retries
        wait_for(lambda: harness.log_errors() == [NO_CONNECTION], RUN_WITHOUT_SERVER, "the run to fail")
        wait_for(lambda: (window.refresh_geometry(), (window.width, window.height))[1] == FAILED_SIZE, 10,
                 "the window to grow for the error text")
        window.move_to(EMPTY)  # the pointer off the button that has moved under it
        frame = window.capture("window-choose-failed")
        self.assertTrue(close_to(window.pixel(FAILED_MAIN_BODY, frame), ACCENT), "\"Повторить\" at the new bottom")
        self.assertGreater(colour_pixels(window, frame, ERROR_LINE, DANGER), 100, "the error text is drawn")
        self.assertEqual(colour_pixels(window, frame, LAUNCH_LABEL, DANGER), 0, "and not over the checkbox label")


class UninstallWindowTest(unittest.TestCase):
    def test_confirm_uninstall_screen(self):
        with tempfile.TemporaryDirectory() as folder:
            window = SetupWindow("/uninstall", "/dir", "Z:" + folder.replace("/", "\\"), title=UNINSTALL_TITLE)
            self.addCleanup(window.close)
            self.assertEqual((window.width, window.height), (600, 420))
            frame = window.capture("window-confirm-uninstall")
            self.assertTrue(close_to(window.pixel((414, 376), frame), DANGER))
            window.click((41, 193))  # "Удалить и мои данные…" box
            self.assertTrue(close_to(window.pixel((35, 193)), ACCENT))
            window.capture("window-confirm-uninstall-ticked")


if __name__ == "__main__":
    unittest.main()
