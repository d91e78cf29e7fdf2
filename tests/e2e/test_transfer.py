"""The blob transfer over the real HTTPS test server: what a failed run keeps in the download cache, how the
retry continues from it (Range requests, servers without them), and blobs that arrive with the wrong length."""
import itertools
import os
import subprocess
import unittest

from harness import (LifecycleTest, adapter_selection, clear_setup_log, cross_program, kill_setup, log_errors,
                     noise, registry_values, run_setup, text_bytes, wait_for_setup_to_finish, wait_until,
                     wine_background)

BIG = "data/big.bin"  # a blob above 1 MiB, which is streamed into the cache as it arrives
SMALL = "data/notes.txt"  # a blob received into memory and cached whole


def not_downloaded(path):
    return "Не скачан " + path.replace("/", "\\") + " — проверьте интернет и повторите."


def damaged(path):
    return "Файл " + path.replace("/", "\\") + " повреждён при загрузке — повторите."


def cache_folder(folder):
    return folder.path("update-cache")


def cached_blobs(folder, release):
    """What a run left in the download cache: the digests of the release's blobs held whole and intact (a kill
    can leave a blob cut short under its name, which the next run finds damaged), and {digest: length} of the
    parts."""
    blobs = {entry["sha256"]: path for path, entry in release.entries.items()}
    whole, parts = set(), {}
    if os.path.isdir(cache_folder(folder)):
        for name in os.listdir(cache_folder(folder)):
            digest = name.split(".")[0]
            if name.endswith(".lzms"):
                with open(os.path.join(cache_folder(folder), name), "rb") as f:
                    if digest in blobs and f.read() == release.blob(blobs[digest]):
                        whole.add(digest)
            elif name.endswith(".lzms.part"):
                parts[digest] = os.path.getsize(os.path.join(cache_folder(folder), name))
    return whole, parts


class Retry(LifecycleTest):
    """A first install that fails, then its retry."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        forty = {f"data/part{i:02d}.bin": noise(30_000 if i != 29 else 300_000, f"part{i}") for i in range(40)}
        cls.forty = cls.make_release("2.0.0", forty)
        cls.small = cls.make_release("2.1.0", {
            "maketor.exe": noise(50_000, "exe"),
            BIG: noise(1_300_000, "big"),
            "data/notes.txt": text_bytes(20_000, "notes"),
        })

    def install_with_fault(self, folder, release, path, fault):
        """An unattended install while the server answers path with the fault; returns the blob requests."""
        self.serve(release)
        if fault:
            self.server.set_fault(path, fault)
        run_setup("/auto", "/dir", folder.windows)
        return self.server.blob_requests()

    def blob_order(self, release):
        """The release paths in the order a fresh install requests their blobs (manifest order)."""
        return [entry["path"] for entry in release.manifest["files"]]

    def test_a_retry_after_a_cut_at_blob_30_of_40_fetches_only_what_is_missing(self):
        folder = self.new_folder()
        order = self.blob_order(self.forty)
        self.assertEqual(len(order), 40)
        thirtieth = order[29]
        digest = self.forty.entries[thirtieth]["sha256"]
        first = self.install_with_fault(folder, self.forty, self.forty.request_path(thirtieth), ("cut", 150_000))
        self.assertIn(digest, first)
        shown = thirtieth.replace("/", "\\")
        self.assertEqual(log_errors(), ["Не скачан " + shown + " — проверьте интернет и повторите."],
                         "the transfers stopped by the failure say nothing of their own")
        whole, parts = cached_blobs(folder, self.forty)
        self.assertTrue(0 < parts[digest] <= 150_000, parts)
        self.assertFalse(any(p.endswith(".new") for p in folder.files()), "a failed run leaves no staged file")

        clear_setup_log()
        retry = self.install(folder, self.forty)
        print(f"\nretry after a cut at blob 30 of 40: {len(retry)} blobs fetched")
        self.assertLessEqual(len(retry), 11)
        self.assertEqual(sorted(retry), sorted(self.forty.entries[p]["sha256"] for p in order
                                               if self.forty.entries[p]["sha256"] not in whole),
                         "each blob the first run did not receive whole, once; none it did")
        self.assertEqual(sorted((path, first, honoured) for path, first, honoured in self.server.range_requests()),
                         sorted(("/maketor/app/blobs/" + d + ".lzms", length, True) for d, length in parts.items()),
                         "each part continued where it ended")
        self.assert_installed(folder, self.forty, adapter_selection(), order)
        self.assertFalse(os.path.exists(cache_folder(folder)))

    def test_a_fault_on_a_blob_then_the_retry(self):
        # name, fault of the first run (N: bytes), its message, fault of the retry, what the retry asks for:
        # "range" (continues from the part), "range-ignored" (asks, gets the whole blob), "whole" (no part kept)
        cases = [
            ("connection cut mid-blob", ("cut", "half"), not_downloaded, None, "range"),
            ("cut, then a server without Range", ("cut", "half"), not_downloaded, ("no-range", None), "range-ignored"),
            ("blob shorter than its Content-Length", ("short", 1000), not_downloaded, None, "range"),
            ("blob longer than its Content-Length", ("long", 1000), damaged, None, "whole"),
            ("blob answered 500", ("status", 500), not_downloaded, None, "whole"),
        ]
        for (name, (kind, amount), text, retry_fault, retry_asks), path in itertools.product(cases, (BIG, SMALL)):
            with self.subTest(f"{name}, {path}"):
                request = self.small.request_path(path)
                blob = self.small.blob(path)
                fault = (kind, len(blob) // 2 if amount == "half" else amount)
                self.setUp()
                folder = self.new_folder()
                self.install_with_fault(folder, self.small, request, fault)
                self.assertEqual(log_errors(), [text(path)])
                part = os.path.join(cache_folder(folder), self.small.entries[path]["sha256"] + ".lzms.part")
                if retry_asks == "whole":
                    self.assertFalse(os.path.exists(part), "a part that cannot be continued is not kept")
                else:
                    with open(part, "rb") as f:
                        kept = f.read()
                    self.assertTrue(0 < len(kept) < len(blob) and blob.startswith(kept))

                self.setUp()
                self.install_with_fault(folder, self.small, request, retry_fault)
                ranges = [(first, honoured) for path, first, honoured in self.server.range_requests()
                          if path == request]
                if retry_asks == "whole":
                    self.assertEqual(ranges, [])
                else:
                    self.assertEqual(ranges, [(len(kept), retry_asks == "range")])
                self.assert_installed(folder, self.small, adapter_selection(), list(self.small.entries))
                self.assertFalse(os.path.exists(cache_folder(folder)))

    def test_what_an_earlier_run_left_in_the_cache(self):
        blob = self.small.blob(BIG)
        name = self.small.entries[BIG]["sha256"] + ".lzms"
        damaged = bytearray(blob)
        damaged[len(blob) // 2] ^= 0xFF
        # name, files in the cache, whether the big blob is requested, Range requests (first byte, honoured)
        cases = [
            ("a valid blob", {name: blob}, False, []),
            ("a damaged blob", {name: bytes(damaged)}, True, []),
            ("a truncated blob", {name: blob[: len(blob) - 100]}, True, []),
            ("a part of other bytes", {name + ".part": bytes(damaged[: len(blob) // 2 + 10])}, True,
             [(len(blob) // 2 + 10, True)]),
            ("a part as long as the blob", {name + ".part": bytes(damaged)}, True, []),
        ]
        for case, files, requested, ranges in cases:
            with self.subTest(case):
                self.setUp()
                folder = self.new_folder()
                os.makedirs(cache_folder(folder))
                for file_name, data in files.items():
                    with open(os.path.join(cache_folder(folder), file_name), "wb") as f:
                        f.write(data)
                fetched = self.install(folder, self.small)
                self.assertEqual(self.small.entries[BIG]["sha256"] in fetched, requested)
                self.assertEqual([(first, honoured) for _, first, honoured in self.server.range_requests()], ranges)
                self.assert_installed(folder, self.small, adapter_selection(), list(self.small.entries))
                self.assertFalse(os.path.exists(cache_folder(folder)))


def installation_of(folder):
    """The installation's files without the download cache, which a failed run keeps for its retry."""
    return {p: d for p, d in folder.files().items() if not p.startswith("update-cache/")}


class AllOrNothing(LifecycleTest):
    """An update of 20 changed files that fails or is killed before its commit leaves the installation as it
    was; the next run completes it."""

    CHANGED = [f"lib/f{i:02d}.bin" for i in range(20)]

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.v1 = cls.make_release("3.0.0", {p: noise(20_000, p + " v1") for p in cls.CHANGED})
        cls.v2 = cls.make_release("3.1.0", {p: noise(40_000, p + " v2") for p in cls.CHANGED})

    def setUp(self):
        super().setUp()
        self.folder = self.new_folder()
        self.install(self.folder, self.v1)
        self.assertEqual(log_errors(), [])
        self.before = (installation_of(self.folder), registry_values())
        self.order = [entry["path"] for entry in self.v2.manifest["files"]]
        clear_setup_log()

    def assert_unchanged(self):
        self.assertEqual((installation_of(self.folder), registry_values()), self.before)

    def update_to_v2(self):
        self.update(self.folder, self.v2)
        self.assert_installed(self.folder, self.v2, adapter_selection(), self.order)
        self.assertFalse(os.path.exists(cache_folder(self.folder)))
        return self.server.blob_requests()

    def missing_after(self, whole):
        """The digests of the changed files whose blobs a run did not leave whole in the cache."""
        return sorted(self.v2.entries[p]["sha256"] for p in self.order if self.v2.entries[p]["sha256"] not in whole)

    def test_an_update_cut_at_the_10th_changed_blob_changes_nothing(self):
        tenth = self.order[9]
        self.serve(self.v2)
        self.server.set_fault(self.v2.request_path(tenth), ("cut", 20_000))
        run_setup("/update", "/dir", self.folder.windows, "/auto")
        self.assertEqual(log_errors(), ["Не скачан " + tenth.replace("/", "\\") + " — проверьте интернет и повторите."])
        self.assert_unchanged()
        whole, _ = cached_blobs(self.folder, self.v2)
        self.assertNotIn(self.v2.entries[tenth]["sha256"], whole)

        clear_setup_log()
        retry = self.update_to_v2()
        self.assertEqual(sorted(retry), self.missing_after(whole))

    def test_kill_during_staging_then_the_next_run_completes(self):
        fifth = self.order[4]
        self.serve(self.v2)
        self.server.set_fault(self.v2.request_path(fifth), ("slow", 30))
        setup = wine_background(cross_program("maketor-setup.exe"), "/update", "/dir", self.folder.windows, "/auto")
        fifth_digest = self.v2.entries[fifth]["sha256"]
        wait_until(lambda: fifth_digest in self.server.blob_requests(), 60, "the fifth blob's request")
        self.assertGreaterEqual(kill_setup(), 1)
        setup.wait(60)
        wait_for_setup_to_finish()
        whole, _ = cached_blobs(self.folder, self.v2)
        staged = [p[: -len(".new")] for p in self.folder.files() if p.endswith(".new")]
        self.assertTrue(staged, "files were staged before the kill")
        self.assertNotIn(fifth_digest, whole)
        # Small blobs wait in memory while the run goes well, so a kill may leave none of them in the cache;
        # the next run fetches exactly what is not there.
        self.assertEqual({p: d for p, d in installation_of(self.folder).items() if not p.endswith(".new")},
                         self.before[0])
        self.assertEqual(registry_values(), self.before[1])

        retry = self.update_to_v2()
        self.assertEqual(sorted(retry), self.missing_after(whole))

    def test_a_full_disk_while_staging_frees_what_it_staged(self):
        mount = self.folder.root
        # The installation moves onto a volume with room for v1 and its download, not for v2 beside it.
        saved = {p: d for p, d in self.folder.files().items()}
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1200k", "tmpfs", mount], check=True)
        self.addCleanup(subprocess.run, ["umount", "-l", mount])
        for relative, data in saved.items():
            os.makedirs(os.path.dirname(self.folder.path(relative)), exist_ok=True)
            with open(self.folder.path(relative), "wb") as f:
                f.write(data)
        self.update(self.folder, self.v2)
        errors = log_errors()
        self.assertEqual(len(errors), 1, errors)
        prefix = "Не записать " + self.folder.windows + "\\"
        self.assertTrue(errors[0].startswith(prefix), errors[0])
        self.assertIn(errors[0][len(prefix):].replace("\\", "/"), self.CHANGED)
        self.assert_unchanged()


if __name__ == "__main__":
    unittest.main()
