"""Packs with the real setup program under Wine: a first install of many small files in a few requests, an update
of a few of them that fetches their blobs alone, and the faults of a pack: a damaged blob inside it, a body cut
midway and continued by the same run or the next one, a server without packs."""
import os
import shutil
import unittest

from harness import (LifecycleTest, adapter_selection, clear_setup_log, log_errors, noise, run_setup, setup_log_lines,
                     standin_bytes, text_bytes)

LARGE = "data/world.bin"  # its blob is over the limit of a packed one: always fetched on its own
CHANGED = ["catalog/00/model000.bin", "catalog/02/model120.bin", "catalog/03/model199.bin"]
PREFIX = "/maketor/app/"


def catalog(tag):
    return {f"catalog/{i // 50:02d}/model{i:03d}.bin": (noise if i % 3 else text_bytes)(3000 + 17 * i, f"m{i}")
            for i in range(200)}


def shown(path):
    return path.replace("/", "\\")


class Packs(LifecycleTest):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        files = dict(catalog("v1"), **{"maketor.exe": standin_bytes(b"v1"), LARGE: noise(1_300_000, "world")})
        cls.v1 = cls.make_release("6.0.0", files)
        changed = dict(files, **{path: noise(5000, path + " v2") for path in CHANGED})
        changed["maketor.exe"] = standin_bytes(b"v1")
        cls.v2 = cls.make_release("6.1.0", changed)
        cls.pack, _ = cls.v1.pack_of("catalog/00/model000.bin")
        # The blobs of the catalogue's pack in pack order, and their files.
        cls.order = cls.v1.blobs_in_pack(cls.pack)
        cls.path_of = {entry["sha256"]: path for path, entry in cls.v1.entries.items()}

    def all_files(self, release):
        return list(release.selected_files(adapter_selection()))

    def cache_names(self, folder):
        cache = folder.path("update-cache")
        return sorted(os.listdir(cache)) if os.path.isdir(cache) else []

    def test_a_first_install_comes_through_packs(self):
        self.assertEqual(len(self.v1.packs), 1, "200 small files and the application: one pack")
        folder = self.new_folder()
        fetched = self.install(folder, self.v1)
        self.assert_installed(folder, self.v1, adapter_selection(), self.all_files(self.v1))
        self.assertEqual(self.server.pack_requests(), [(self.pack, 0, None)], "the whole pack, once")
        self.assertEqual(self.server.blob_requests(), [self.v1.entries[LARGE]["sha256"]])
        self.assertEqual(sorted(fetched), sorted(entry["sha256"] for entry in self.v1.entries.values()))
        requests = self.server.requests()
        print(f"\nfirst install of {len(self.v1.entries)} files: {len(requests)} requests")
        self.assertEqual([p for p in requests if not p.startswith(PREFIX + "manifest.")],
                         [self.v1.pack_request_path(self.pack), self.v1.request_path(LARGE)])

    def test_an_update_of_a_few_files_fetches_their_blobs_alone(self):
        folder = self.new_folder()
        self.install(folder, self.v1)
        self.assert_no_errors()
        clear_setup_log()
        fetched = self.update(folder, self.v2)
        self.assert_installed(folder, self.v2, adapter_selection(), CHANGED)
        self.assertEqual(self.server.pack_requests(), [], "no pack for three files far apart")
        self.assertEqual(sorted(fetched), sorted(self.v2.entries[p]["sha256"] for p in CHANGED))

    def test_a_damaged_blob_inside_a_pack_fails_like_a_damaged_blob(self):
        victim = self.order[60]
        _, offset = self.v1.pack_of(self.path_of[victim])
        with open(self.v1.pack_path(self.pack), "rb") as f:
            good = f.read()
        damaged = bytearray(good)
        damaged[offset + 100] ^= 0xFF
        self.addCleanup(self.write_pack, good)
        self.write_pack(bytes(damaged))
        folder = self.new_folder()
        self.install(folder, self.v1)
        self.assertEqual(log_errors(), [f"Файл {shown(self.path_of[victim])} повреждён при загрузке — повторите."])
        self.assertFalse(any(p.endswith(".new") for p in folder.files()), "a failed run leaves no staged file")
        self.assertNotIn(victim + ".lzms", self.cache_names(folder), "a damaged blob is not kept")

        kept = {name[: -len(".lzms")] for name in self.cache_names(folder) if name.endswith(".lzms")}
        self.assertTrue(kept, "the blobs that arrived whole are kept for the retry")

        self.write_pack(good)
        clear_setup_log()
        retry = self.install(folder, self.v1)
        self.assert_installed(folder, self.v1, adapter_selection(), self.all_files(self.v1))
        self.assertFalse(kept & set(retry), "nothing the first run kept is fetched again")
        self.assertIn(victim, retry)

    def write_pack(self, data):
        with open(self.v1.pack_path(self.pack), "wb") as f:
            f.write(data)

    def test_a_pack_cut_mid_body_then_the_retry_continues_it(self):
        # Cut at the same byte at every attempt: the run's own retries are spent, and the user's retry goes on.
        cut_in = self.order[80]
        _, offset = self.v1.pack_of(self.path_of[cut_in])
        folder = self.new_folder()
        self.serve(self.v1)
        self.server.set_fault(self.v1.pack_request_path(self.pack), ("cut", offset + 1000))
        run_setup("/auto", "/dir", folder.windows)
        self.assertEqual(log_errors(), [f"Не скачан {shown(self.path_of[cut_in])} — проверьте интернет и повторите."])
        names = self.cache_names(folder)
        self.assertIn(cut_in + ".lzms.part", names)
        with open(os.path.join(folder.path("update-cache"), cut_in + ".lzms.part"), "rb") as f:
            part = f.read()
        self.assertTrue(0 < len(part) <= 1000 and self.v1.blob(self.path_of[cut_in]).startswith(part),
                        "what arrived of it is kept as its part")
        # Blobs of the pack that arrived whole wait for the retry: in the cache (some may have been unpacked only
        # in memory). The large blob, fetched on its own, may have come whole while the pack's retries waited.
        large = self.v1.entries[LARGE]["sha256"] + ".lzms"
        for name in names:
            if name.endswith(".lzms") and name != large:
                self.assertLess(self.order.index(name[: -len(".lzms")]), 80)

        clear_setup_log()
        self.serve(self.v1)
        retry = self.install(folder, self.v1)
        self.assert_installed(folder, self.v1, adapter_selection(), self.all_files(self.v1))
        whole = {name[: -len(".lzms")] for name in names if name.endswith(".lzms")}
        self.assertFalse(whole & set(retry), "no blob the first run kept is fetched again")
        # (The large blob, if the failure stopped it, continues its own part.)
        self.assertEqual([r for r in self.server.range_requests()
                          if r[0].startswith(PREFIX + "blobs/") and r[0] != self.v1.request_path(LARGE)],
                         [(PREFIX + "blobs/" + cut_in + ".lzms", len(part), True)], "the cut blob continues its part")
        next_offset = self.v1.pack_of(self.path_of[self.order[81]])[1]
        self.assertEqual(self.server.pack_requests(), [(self.pack, next_offset, self.v1.packs[self.pack]["size"])],
                         "the rest of the pack in one range")

    def test_a_pack_cut_once_is_continued_by_the_same_run(self):
        _, offset = self.v1.pack_of(self.path_of[self.order[80]])
        folder = self.new_folder()
        self.serve(self.v1)
        self.server.set_fault(self.v1.pack_request_path(self.pack), ("cut", offset + 1000), times=1)
        run_setup("/auto", "/dir", folder.windows)
        self.assert_no_errors()
        self.assert_installed(folder, self.v1, adapter_selection(), self.all_files(self.v1))
        self.assertEqual(self.server.pack_requests(), [(self.pack, 0, None), (self.pack, offset + 1000, None)],
                         "the pack again from the byte where it broke off")
        self.assertEqual(self.server.blob_requests(), [self.v1.entries[LARGE]["sha256"]], "no blob on its own")

    def test_a_server_without_packs_serves_every_blob_alone(self):
        mirror = os.path.join(self.workdir, "mirror-without-packs")
        shutil.rmtree(mirror, ignore_errors=True)
        shutil.copytree(self.v1.folder, mirror, ignore=shutil.ignore_patterns("packs"))
        folder = self.new_folder()
        self.serve(self.v1)
        self.server.set_root(mirror)
        run_setup("/auto", "/dir", folder.windows)
        self.assertEqual(self.server.unknown_requests(), [self.v1.pack_request_path(self.pack)], "asked once")
        self.assert_no_errors()
        self.assert_files(folder, self.v1, adapter_selection())
        self.assertEqual(setup_log_lines()[-1], self.v1.summary_line(folder.windows, self.all_files(self.v1)))
        self.assertEqual(sorted(self.server.blob_requests()), sorted(e["sha256"] for e in self.v1.entries.values()))


if __name__ == "__main__":
    unittest.main()
