"""Unattended first installs with the real setup program under Wine, from the test server over HTTPS."""
import os
import unittest

from harness import COMPONENT_IDS, SHORTCUT_NAME, LifecycleTest, adapter_selection, desktop_folder, sample_files


class FirstInstall(LifecycleTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.v1 = cls.make_release("1.4.0", sample_files("v1"))

    def test_first_install(self):
        # The folder as the caller writes it: plain, and with a trailing backslash (same values, one separator).
        for case, suffix in (("plain", ""), ("trailing backslash", "\\")):
            with self.subTest(case):
                self.setUp()
                folder = self.new_folder()
                install_dir = folder.windows + suffix
                requested = self.install(folder, self.v1, install_dir)
                selection = adapter_selection()
                fetched = list(self.v1.selected_files(selection))
                self.assertEqual(sorted(requested), sorted(self.v1.entries[p]["sha256"] for p in fetched))
                self.assert_installed(folder, self.v1, selection, fetched, install_dir)
                # Unattended: no desktop shortcut.
                self.assertFalse(os.path.exists(os.path.join(desktop_folder(), SHORTCUT_NAME)))

    def test_install_record_text(self):
        folder = self.new_folder()
        self.install(folder, self.v1)
        record = folder.record_bytes()
        # The written form, checked on the bytes themselves as well as against the expected text.
        self.assertFalse(record.endswith(b"\n"))
        self.assertNotIn(b"\\u", record)
        self.assertIn("data/models/стеллаж.bin".encode("utf-8"), record)
        self.assertEqual(record.count(b"\n"), record.count(b"\r\n"))
        self.assertTrue(record.startswith(b'{\r\n "components": [\r\n  "core",'))
        offered = b",\r\n".join(b'  "' + c.encode() + b'"' for c in COMPONENT_IDS)
        self.assertIn(b'\r\n "offered": [\r\n' + offered + b"\r\n ],\r\n", record)


if __name__ == "__main__":
    unittest.main()
