"""Failed updates: the exact text in the setup log, and nothing changed in the installation."""
import hashlib
import json
import os
import shutil
import subprocess
import tempfile
import unittest
import zlib

from harness import (PUBLISH, LifecycleTest, cross_program, log_errors, noise, registry_values, run_setup,
                     sample_files, sign_manifest, wait_until, wine, wine_background)

CONNECTION = "Нет связи с сайтом Торвел. Проверьте интернет и повторите."
SIGNATURE = "Файлы на сайте не прошли проверку подписи — установка остановлена."
APP_OPEN = "Макетор открыт — закройте его и нажмите «Повторить»."
CHANGED = "data/catalog.json"  # the one file the next release changes
SHOWN = CHANGED.replace("/", "\\")  # as messages show it
NOT_DOWNLOADED = "Не скачан " + SHOWN + " — проверьте интернет и повторите."
DAMAGED = "Файл " + SHOWN + " повреждён при загрузке — повторите."
CANCELLED = "Установка отменена."


def with_larger_chunk_size_field(blob):
    """The blob with the chunk size of its container header raised to 64 MiB and the header's check byte made
    anew: for a blob of one chunk the same file from the same number of bytes, under another digest."""
    header = bytearray(blob[:24])
    header[16:24] = (64 << 20).to_bytes(8, "little")
    header[6] = zlib.crc32(bytes(header[:6] + header[7:])) & 0xFF
    return bytes(header) + blob[24:]


def unpacked_by_publisher(blob):
    """What maketor-publish, with the product's decoder, unpacks the blob to."""
    with tempfile.TemporaryDirectory() as work:
        packed, unpacked = os.path.join(work, "blob.lzms"), os.path.join(work, "file")
        with open(packed, "wb") as f:
            f.write(blob)
        subprocess.run([PUBLISH, "unpack", packed, unpacked], check=True, stdout=subprocess.DEVNULL)
        with open(unpacked, "rb") as f:
            return f.read()


class FailedUpdate(LifecycleTest):
    """One installation of v1; each case tries to update it to v2 and must leave it exactly as it was."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        files = sample_files("v1")
        cls.v1 = cls.make_release("1.4.0", files)
        files[CHANGED] = noise(400_000, "catalog v2")  # big enough to be cut in the middle
        cls.v2 = cls.make_release("1.5.0", files)
        # The same release packed in smaller blocks: every blob unpacks to the same file from other bytes.
        cls.v2_repacked = cls.make_release("1.5.0", files, block_size=64 * 1024)
        # The changed file with one byte flipped: same size, another digest, a blob of its own.
        flipped = bytearray(files[CHANGED])
        flipped[len(flipped) // 2] ^= 0xFF
        cls.v2_altered = cls.make_release("1.5.0", dict(files, **{CHANGED: bytes(flipped)}))
        # What those cases rely on, so that they cannot pass for a reason of their own.
        listed, repacked, altered = (r.entries[CHANGED] for r in (cls.v2, cls.v2_repacked, cls.v2_altered))
        assert repacked["sha256"] == listed["sha256"] and repacked["csha256"] != listed["csha256"]
        assert altered["size"] == listed["size"] and altered["sha256"] != listed["sha256"]
        # The changed file above 1 MiB, so that its blob is streamed into the download cache instead of received
        # into memory.
        cls.v2_large = cls.make_release("1.5.0", dict(files, **{CHANGED: noise(1_300_000, "catalog v2 large")}))
        assert cls.v2.entries[CHANGED]["csize"] <= 1 << 20 < cls.v2_large.entries[CHANGED]["csize"]
        # For each, a blob of exactly the listed csize that unpacks to exactly the listed file: only the blob's
        # own digest tells it from the published one.
        cls.other_digest_blob = {}
        for release in (cls.v2, cls.v2_large):
            entry, published = release.entries[CHANGED], release.blob(CHANGED)
            other = with_larger_chunk_size_field(published)
            assert len(other) == len(published) == entry["csize"]
            assert hashlib.sha256(other).hexdigest() != entry["csha256"]
            assert hashlib.sha256(unpacked_by_publisher(other)).hexdigest() == entry["sha256"]
            cls.other_digest_blob[release.folder] = other

    def setUp(self):
        super().setUp()
        self.folder = self.new_folder()
        self.install(self.folder, self.v1)
        self.assertEqual(log_errors(), [])
        self.before = (self.folder.files(), registry_values())

    def assert_unchanged(self, added=None):
        """The installation as it was, with the files a case put there itself (added); the download cache may
        keep only what makes the retry cheaper besides: the changed file's verified blob, or a beginning of it."""
        added = added or {}
        files = self.folder.files()
        cached = {p: d for p, d in files.items() if p.startswith("update-cache/") and p not in added}
        installed = {p: d for p, d in files.items() if p not in cached}
        files_before, registry_before = self.before
        self.assertEqual((installed, registry_values()), ({**files_before, **added}, registry_before))
        blob_name = "update-cache/" + self.v2.entries[CHANGED]["sha256"] + ".lzms"
        blob = self.v2.blob(CHANGED)
        for path, data in cached.items():
            if path == blob_name:
                self.assertEqual(data, blob, path)
            else:
                self.assertEqual(path, blob_name + ".part")
                self.assertTrue(0 < len(data) < len(blob) and blob.startswith(data), "the part is no beginning")

    def served_copy(self, name, release=None):
        """A copy of v2's release folder (or of another release's) that a case may spoil."""
        copy = os.path.join(self.workdir, name)
        shutil.rmtree(copy, ignore_errors=True)
        shutil.copytree((release or self.v2).folder, copy)
        self.server.set_root(copy)
        return copy

    # Ways to break the update -----------------------------------------------------------------------------------
    def no_server(self):
        root = self.host.stop_serving()
        self.addCleanup(self.host.start, root)

    def fault(self, path, fault):
        return lambda: self.server.set_fault(path, fault)

    def changed_manifest_byte(self):
        manifest = os.path.join(self.served_copy("changed-byte"), "manifest.json")
        with open(manifest, "rb") as f:
            text = f.read()
        with open(manifest, "wb") as f:
            f.write(text.replace(b'"1.5.0"', b'"1.5.1"'))

    def signature_of_another_release(self):
        shutil.copy(os.path.join(self.v1.folder, "manifest.sig"), self.served_copy("other-signature"))

    def twin_paths(self):
        """A signed manifest whose extra entry names an existing file in other letter case, with other bytes."""
        manifest = dict(self.v2.manifest)
        twin = dict(self.v2.entries["images/logo.png"], path=CHANGED.upper())
        manifest["files"] = manifest["files"] + [twin]
        sign_manifest(self.served_copy("twin-paths"), (json.dumps(manifest, indent=1, ensure_ascii=False) + "\n")
                      .encode("utf-8"))

    def damaged_blob(self):
        blob = os.path.join(self.served_copy("damaged-blob"), "blobs", os.path.basename(self.v2.blob_path(CHANGED)))
        with open(blob, "r+b") as f:
            f.seek(os.path.getsize(blob) // 2)
            byte = f.read(1)
            f.seek(-1, os.SEEK_CUR)
            f.write(bytes([byte[0] ^ 0xFF]))

    def repacked_blob(self):
        """A blob that unpacks to exactly the listed file but is not the published one, and is longer than the
        listed csize (more chunks, each with its length word)."""
        served = os.path.join(self.served_copy("repacked-blob"), "blobs")
        shutil.copy(self.v2_repacked.blob_path(CHANGED), served)

    def repacked_blob_in_the_cache(self):
        """That blob waiting in the download cache while the server has no copy: it must not be used."""
        name = os.path.basename(self.v2.blob_path(CHANGED))
        os.remove(os.path.join(self.served_copy("repacked-cached"), "blobs", name))
        os.makedirs(self.folder.path("update-cache"))
        shutil.copy(self.v2_repacked.blob_path(CHANGED), self.folder.path("update-cache"))
        return {"update-cache/" + name: self.v2_repacked.blob(CHANGED)}

    def blob_of_the_listed_size_with_another_digest(self, release):
        """Served in place of the published blob: its length is the listed csize and it unpacks to the listed
        file, so no check but the blob digest's can refuse it."""
        def serve():
            served = os.path.join(self.served_copy("other-digest", release), "blobs",
                                  os.path.basename(release.blob_path(CHANGED)))
            with open(served, "wb") as f:
                f.write(self.other_digest_blob[release.folder])
        return serve

    def cached_blob_of_the_listed_size_with_another_digest(self, release):
        """That blob waiting in the download cache under the published one's name, while the server has no
        copy: it must not be used."""
        def cache():
            name = os.path.basename(release.blob_path(CHANGED))
            os.remove(os.path.join(self.served_copy("other-digest-cached", release), "blobs", name))
            os.makedirs(self.folder.path("update-cache"))
            with open(self.folder.path("update-cache/" + name), "wb") as f:
                f.write(self.other_digest_blob[release.folder])
            return {"update-cache/" + name: self.other_digest_blob[release.folder]}
        return cache

    def intact_blob_of_another_file(self):
        """A signed manifest that gives the blob's true digest and size, for a blob of a file of the listed
        size whose digest is not the listed one: only the unpacked file's digest tells."""
        served = self.served_copy("another-file")
        altered = self.v2_altered.entries[CHANGED]
        manifest = dict(self.v2.manifest)
        manifest["files"] = [dict(e, csha256=altered["csha256"], csize=altered["csize"]) if e["path"] == CHANGED
                             else e for e in manifest["files"]]
        sign_manifest(served, (json.dumps(manifest, indent=1, ensure_ascii=False) + "\n").encode("utf-8"))
        shutil.copy(self.v2_altered.blob_path(CHANGED), os.path.join(served, "blobs",
                                                                      os.path.basename(self.v2.blob_path(CHANGED))))

    def application_open(self):
        self.start_standin(self.folder.windows + "\\maketor.exe")

    def target_held_open(self):
        self.start_standin(cross_program("maketor_standin.exe"), "--hold", self.folder.windows + "\\data\\catalog.json")

    def test_failures_leave_the_installation_unchanged(self):
        blob = self.v2.request_path(CHANGED)
        cases = [
            ("no server", self.no_server, CONNECTION),
            ("manifest answered 404", self.fault("/maketor/app/manifest.json", ("status", 404)), CONNECTION),
            ("signature answered 500", self.fault("/maketor/app/manifest.sig", ("status", 500)), CONNECTION),
            ("manifest cut short", self.fault("/maketor/app/manifest.json", ("cut", 100)), CONNECTION),
            ("manifest changed after signing", self.changed_manifest_byte, SIGNATURE),
            ("signature of another release", self.signature_of_another_release, SIGNATURE),
            ("two paths that name one file", self.twin_paths, SIGNATURE),
            ("manifest answered 203 with all of it", self.fault("/maketor/app/manifest.json", ("answer", 203)),
             CONNECTION),
            ("signature answered 206 with all of it", self.fault("/maketor/app/manifest.sig", ("answer", 206)),
             CONNECTION),
            ("damaged blob", self.damaged_blob, DAMAGED),
            ("blob packed in other blocks", self.repacked_blob, DAMAGED),
            ("blob packed in other blocks, in the cache", self.repacked_blob_in_the_cache, NOT_DOWNLOADED),
            ("intact blob of a file with another digest", self.intact_blob_of_another_file, DAMAGED),
            ("blob of the listed size with another digest, into memory",
             self.blob_of_the_listed_size_with_another_digest(self.v2), DAMAGED),
            ("blob of the listed size with another digest, streamed",
             self.blob_of_the_listed_size_with_another_digest(self.v2_large), DAMAGED),
            ("blob of the listed size with another digest, in the cache, small",
             self.cached_blob_of_the_listed_size_with_another_digest(self.v2), NOT_DOWNLOADED),
            ("blob of the listed size with another digest, in the cache, large",
             self.cached_blob_of_the_listed_size_with_another_digest(self.v2_large), NOT_DOWNLOADED),
            ("blob answered 404", self.fault(blob, ("status", 404)), NOT_DOWNLOADED),
            ("blob answered 500", self.fault(blob, ("status", 500)), NOT_DOWNLOADED),
            ("blob answered 203 with all of it", self.fault(blob, ("answer", 203)), NOT_DOWNLOADED),
            ("blob answered 206 with all of it", self.fault(blob, ("answer", 206)), NOT_DOWNLOADED),
            ("blob answered 204", self.fault(blob, ("answer", 204)), NOT_DOWNLOADED),
            ("connection cut mid-blob", self.fault(blob, ("cut", 200_000)), NOT_DOWNLOADED),
            ("application open", self.application_open, APP_OPEN),
            ("target held open", self.target_held_open,
             "Файл занят: " + self.folder.windows + "\\" + SHOWN + " — закройте макетор."),
        ]
        for case, (name, break_update, text) in enumerate(cases):
            with self.subTest(name):
                if case:
                    self.tearDown()
                    self.doCleanups()
                    self.setUp()
                self.serve(self.v2)
                added = break_update() or {}  # files a case put into the folder itself
                run_setup("/update", "/dir", self.folder.windows, "/auto")
                self.assertEqual(log_errors(), [text])
                self.assert_unchanged(added)

    def test_cancel_during_a_slow_download(self):
        self.serve(self.v2)
        self.server.set_fault(self.v2.request_path(CHANGED), ("slow", 20))
        setup = wine_background(cross_program("maketor-setup.exe"), "/update", "/dir", self.folder.windows, "/auto")
        wait_until(lambda: self.server.blob_requests(), 60, "the blob request")
        self.assertEqual(wine(cross_program("setup_window.exe"), "close").returncode, 0)
        setup.wait(60)
        self.assertEqual(log_errors(), [CANCELLED])
        self.assert_unchanged()


if __name__ == "__main__":
    unittest.main()
