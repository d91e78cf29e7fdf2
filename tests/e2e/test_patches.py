"""Updates through patches with the real setup program under Wine. Two versions of a real Debian package
(tests/e2e/debian_package.py) are published as releases, the second with patches from the first; an update
fetches the patches instead of the changed files' blobs, and every way a patch can fail falls back to the
blob, unannounced, leaving the same tree."""
import json
import os
import shutil
import unittest

from debian_package import NEW_VERSION, OLD_VERSION, PACKAGE, package_files
from harness import LifecycleTest, adapter_selection, log_errors, setup_log_lines, sign_manifest, standin_bytes

LIBRARY = "runtime/usr/lib/x86_64-linux-gnu/libxml2.so.2.9.14"


def release_files(files, tag):
    release = {"runtime/" + path: data for path, data in files.items()}
    release["maketor.exe"] = standin_bytes(tag.encode())
    return release


class PatchedUpdate(LifecycleTest):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        old_files = package_files(PACKAGE, OLD_VERSION)
        cls.v1 = cls.make_release("4.0.0", release_files(old_files, "v1"))
        cls.v2 = cls.make_release("4.1.0", release_files(package_files(PACKAGE, NEW_VERSION), "v2"), previous=[cls.v1])
        cls.changed = sorted(p for p, data in cls.v2.source_files.items() if cls.v1.source_files.get(p) != data)
        # path -> the patch that serves an installation of v1
        cls.patches = {}
        for path in cls.changed:
            for patch in cls.v2.entries[path].get("patches", []):
                if patch["from"] == cls.v1.entries[path]["sha256"]:
                    cls.patches[path] = patch
        # The same library with 4 KiB inserted near its start: every offset of a patch from it into the old
        # file is off by that much in v1's library.
        old_library = old_files[LIBRARY.removeprefix("runtime/")]
        other_library = old_library[:1000] + os.urandom(4096) + old_library[1000:]
        other = cls.make_release("3.9.0", dict(cls.v1.source_files, **{LIBRARY: other_library}))
        cls.v2_from_other = cls.make_release("4.1.0", cls.v2.source_files, previous=[other])
        cls.base = None

    def installed_v1(self):
        """A new folder holding v1 as an install leaves it, installed once for the suite."""
        folder = self.new_folder()
        if PatchedUpdate.base is None:
            self.install(folder, self.v1)
            self.assertEqual(log_errors(), [])
            PatchedUpdate.base = os.path.join(self.workdir, "v1-installed")
            shutil.copytree(folder.unix, PatchedUpdate.base)
        else:
            shutil.rmtree(folder.unix, ignore_errors=True)
            shutil.copytree(PatchedUpdate.base, folder.unix)
        return folder

    def serve_folder(self, path):
        """A copy of v2's folder, damaged for a case: its packs are v2's."""
        self.host.served = self.v2
        self.server.set_root(path)
        self.server.clear_faults()
        self.server.clear_log()

    def patch_request(self, path):
        return "/maketor/app/patches/" + self.patches[path]["sha256"] + ".zst"

    def assert_updated(self, folder, fetched_whole, patched):
        """The tree is v2's, byte for byte, and the summary counts the patches' bytes for the patched files."""
        self.assertEqual(log_errors(), [])
        self.assert_files(folder, self.v2, adapter_selection())
        kib = (sum(self.patches[p]["size"] for p in patched)
               + sum(self.v2.entries[p]["csize"] for p in fetched_whole)) >> 10
        self.assertEqual(setup_log_lines()[-1], f"установлено {self.v2.version} в {folder.windows}: скачано файлов "
                                                 f"{len(self.changed)}, {kib} КБ")

    def test_an_update_fetches_patches_instead_of_the_changed_files_blobs(self):
        self.assertIn(LIBRARY, self.patches)
        self.assertIn("maketor.exe", self.patches)
        folder = self.installed_v1()
        blobs = self.update(folder, self.v2)
        whole = [p for p in self.changed if p not in self.patches]
        self.assertEqual(sorted(self.server.patch_requests()), sorted(p["sha256"] for p in self.patches.values()))
        self.assertEqual(sorted(blobs), sorted(self.v2.entries[p]["sha256"] for p in whole))
        self.assertEqual(self.server.unknown_requests(), [])
        self.assert_updated(folder, whole, list(self.patches))
        self.assertFalse(os.path.exists(folder.path("update-cache")))
        with_patches = sum(p["size"] for p in self.patches.values()) + sum(self.v2.entries[p]["csize"] for p in whole)
        without = sum(self.v2.entries[p]["csize"] for p in self.changed)
        print(f"\n{PACKAGE} {OLD_VERSION} -> {NEW_VERSION}: {with_patches} bytes with patches, {without} without")

    # Each way a patch fails -----------------------------------------------------------------------------------
    def case_folder(self, name, with_patches=True):
        """A copy of v2's release folder to damage for one case."""
        folder = os.path.join(self.workdir, "case-" + name)
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(self.v2.folder, folder, ignore=None if with_patches else shutil.ignore_patterns("patches"))
        return folder

    def resign_library_patch(self, folder, patch):
        manifest = json.loads(json.dumps(self.v2.manifest))
        for entry in manifest["files"]:
            if entry["path"] == LIBRARY:
                entry["patches"] = [patch]
        sign_manifest(folder, (json.dumps(manifest, indent=1, ensure_ascii=False) + "\n").encode("utf-8"))

    def damaged_patch(self):
        folder = self.case_folder("damaged")
        path = os.path.join(folder, "patches", self.patches[LIBRARY]["sha256"] + ".zst")
        with open(path, "r+b") as f:
            f.seek(self.patches[LIBRARY]["size"] // 2)
            byte = f.read(1)
            f.seek(-1, os.SEEK_CUR)
            f.write(bytes([byte[0] ^ 0x10]))
        return folder

    def patch_made_from_another_old_file(self):
        """Its digest holds, and it says it is from v1's library, but it was made from another."""
        folder = self.case_folder("other-old-file")
        other = self.v2_from_other.entries[LIBRARY]["patches"][0]
        self.assertNotEqual(other["from"], self.patches[LIBRARY]["from"])
        shutil.copy(os.path.join(self.v2_from_other.folder, "patches", other["sha256"] + ".zst"),
                    os.path.join(folder, "patches"))
        self.resign_library_patch(folder, dict(other, **{"from": self.patches[LIBRARY]["from"]}))
        return folder

    def patch_only_for_another_old_file(self):
        folder = self.case_folder("listed-for-another")
        self.resign_library_patch(folder, dict(self.patches[LIBRARY], **{"from": "ab" * 32}))
        return folder

    def test_a_patch_that_fails_falls_back_to_the_blob(self):
        def modify_library(folder):
            with open(folder.path(LIBRARY), "r+b") as f:
                f.seek(100_000)
                f.write(b"patched by hand")

        everything = sorted(self.patches)
        # name, release folder to serve, change to the installation, patches asked for, files that fall back
        cases = [
            ("damaged patch", self.damaged_patch, None, everything, [LIBRARY]),
            ("patch made from another old file", self.patch_made_from_another_old_file, None, everything, [LIBRARY]),
            ("patch listed for another old file only", self.patch_only_for_another_old_file, None,
             ["maketor.exe"], [LIBRARY]),
            ("old file changed by the user", lambda: self.v2.folder, modify_library, ["maketor.exe"], [LIBRARY]),
            ("server without the patches folder", lambda: self.case_folder("no-patches", with_patches=False), None,
             everything, everything),
        ]
        for name, release_folder, change, asked, fallen_back in cases:
            with self.subTest(name):
                folder = self.installed_v1()
                if change:
                    change(folder)
                served = release_folder()
                self.serve_folder(served)
                self.update(folder)
                whole = [p for p in self.changed if p not in self.patches or p in fallen_back]
                patch_digests = [self.patches[p]["sha256"] for p in asked]
                if name == "patch made from another old file":
                    patch_digests = [self.v2_from_other.entries[LIBRARY]["patches"][0]["sha256"] if p == LIBRARY
                                     else self.patches[p]["sha256"] for p in asked]
                self.assertEqual(sorted(self.server.patch_requests()), sorted(patch_digests))
                self.assert_fetched([self.v2.entries[p]["sha256"] for p in whole])
                missing = [self.patch_request(p) for p in asked] if name.startswith("server without") else []
                self.assertEqual(sorted(self.server.unknown_requests()), sorted(missing))
                # A failed patch's bytes stay counted, and its file's blob comes on top.
                self.assertEqual(log_errors(), [])
                self.assert_files(folder, self.v2, adapter_selection())
                patch_sizes = {patch["sha256"]: patch["size"] for release in (self.v2, self.v2_from_other)
                               for entry in release.manifest["files"] for patch in entry.get("patches", [])}
                received = [] if name.startswith("server without") else patch_digests
                kib = (sum(patch_sizes[d] for d in received) + self.fetched_bytes()) >> 10
                self.assertEqual(setup_log_lines()[-1], f"установлено {self.v2.version} в {folder.windows}: "
                                                         f"скачано файлов {len(self.changed)}, {kib} КБ")


if __name__ == "__main__":
    unittest.main()
