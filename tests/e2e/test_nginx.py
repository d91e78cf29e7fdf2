"""Releases served by nginx with the vendor's configuration, tools/nginx/maketor-downloads.conf, as a vendor
serves them: what the configuration answers (TLS, keep-alive, Range, caching of blobs, patches and packs,
nothing else), and an install (through packs) and an update with the real setup program under Wine through it,
and an update that resumes a partly received blob with a Range request."""
import hashlib
import http.client
import os
import shutil
import ssl
import unittest

from harness import TEST_PORT, LifecycleTest, adapter_selection, changed_release_files, sample_files
from nginx_server import NginxServer

IMMUTABLE = "public, max-age=31536000, immutable"


class NginxDownloadHost(LifecycleTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.v1 = cls.make_release("1.4.0", sample_files("v1", with_setup=True))
        cls.v2 = cls.make_release("1.5.0", changed_release_files(cls.v1.source_files))
        # nginx takes the test port over from the Python server for this suite.
        cls.python_root = cls.host.stop_serving()
        cls.host.server = NginxServer(cls.v1.folder, cls.host.ca["server_cert"], cls.host.ca["server_key"],
                                      TEST_PORT, os.path.join(cls.workdir, "nginx")).start()

    @classmethod
    def tearDownClass(cls):
        cls.host.server.stop()
        cls.host.start(cls.python_root)

    def connection(self):
        context = ssl.create_default_context(cafile=self.host.ca["ca_pem"])
        return http.client.HTTPSConnection("localhost", TEST_PORT, context=context, timeout=30)

    def test_answers_as_a_download_host(self):
        self.serve(self.v1)
        connection = self.connection()
        blob_path = self.v1.request_path("data/catalog.json")
        blob = self.v1.blob("data/catalog.json")

        def get(path, headers=None, method="GET"):
            connection.request(method, path, headers=headers or {})
            response = connection.getresponse()
            return response, response.read()

        response, body = get("/maketor/app/manifest.json")
        self.assertEqual((response.status, response.getheader("Cache-Control")), (200, "no-cache"))
        with open(os.path.join(self.v1.folder, "manifest.json"), "rb") as f:
            self.assertEqual(body, f.read())
        response, _ = get("/maketor/app/manifest.sig")
        self.assertEqual((response.status, response.getheader("Cache-Control")), (200, "no-cache"))

        response, body = get(blob_path)
        self.assertEqual((response.status, body), (200, blob))
        self.assertEqual(response.getheader("Cache-Control"), IMMUTABLE)
        self.assertEqual(response.getheader("Accept-Ranges"), "bytes")
        etag = response.getheader("ETag")

        # Range, as a resumed download asks: the rest of the blob from a byte on, guarded by If-Range.
        cases = [
            ("from a byte on", {"Range": "bytes=1000-"}, 206, blob[1000:], f"bytes 1000-{len(blob) - 1}/{len(blob)}"),
            ("a middle part", {"Range": "bytes=10-19"}, 206, blob[10:20], f"bytes 10-19/{len(blob)}"),
            ("the same version", {"Range": "bytes=1000-", "If-Range": etag}, 206, blob[1000:], None),
            ("another version", {"Range": "bytes=1000-", "If-Range": '"other"'}, 200, blob, None),
            ("past the end", {"Range": f"bytes={len(blob)}-"}, 416, None, f"bytes */{len(blob)}"),
            ("several parts", {"Range": "bytes=0-1,5-6"}, 200, blob, None),
        ]
        for case, headers, status, expected_body, content_range in cases:
            with self.subTest(case):
                response, body = get(blob_path, headers)
                self.assertEqual(response.status, status)
                if expected_body is not None:
                    self.assertEqual(body, expected_body)
                if content_range:
                    self.assertEqual(response.getheader("Content-Range"), content_range)
                if status in (200, 206):
                    self.assertEqual(response.getheader("Cache-Control"), IMMUTABLE)

        # Patches, named by their digest like blobs, are kept as long; nothing else in their folder is served.
        patches = os.path.join(self.v1.folder, "patches")
        os.makedirs(patches, exist_ok=True)
        patch = b"\x28\xb5\x2f\xfd a patch"
        patch_name = hashlib.sha256(patch).hexdigest() + ".zst"
        for name, data in ((patch_name, patch), (patch_name + ".tmp-1-2", patch)):
            with open(os.path.join(patches, name), "wb") as f:
                f.write(data)
        response, body = get("/maketor/app/patches/" + patch_name)
        self.assertEqual((response.status, body, response.getheader("Cache-Control")), (200, patch, IMMUTABLE))
        for path in ("/maketor/app/patches/", "/maketor/app/patches/" + patch_name + ".tmp-1-2"):
            with self.subTest(path=path):
                self.assertEqual(get(path)[0].status, 404)
        shutil.rmtree(patches)

        # Packs, named by their digest too, are kept as long; a piece of one is asked for with a bounded range.
        pack = next(iter(self.v1.packs))
        with open(self.v1.pack_path(pack), "rb") as f:
            pack_bytes = f.read()
        pack_path = self.v1.pack_request_path(pack)
        response, body = get(pack_path)
        self.assertEqual((response.status, body, response.getheader("Cache-Control")), (200, pack_bytes, IMMUTABLE))
        response, body = get(pack_path, {"Range": "bytes=100-199"})
        self.assertEqual((response.status, body, response.getheader("Content-Range")),
                         (206, pack_bytes[100:200], f"bytes 100-199/{len(pack_bytes)}"))
        self.assertEqual(response.getheader("Cache-Control"), IMMUTABLE)
        with open(self.v1.pack_path(pack) + ".tmp-1-2", "wb") as f:
            f.write(b"half a pack")
        for path in ("/maketor/app/packs/", pack_path + ".tmp-1-2", "/maketor/app/packs/" + "0" * 64 + ".lzms"):
            with self.subTest(path=path):
                self.assertEqual(get(path)[0].status, 404)
        os.remove(self.v1.pack_path(pack) + ".tmp-1-2")

        # Nothing but the release: no listings, no temporary files of a publishing run, no other methods.
        with open(os.path.join(self.v1.folder, "blobs", "partial.lzms.tmp-1-2"), "wb") as f:
            f.write(b"half a blob")
        for path, status, method in (("/maketor/app/blobs/", 404, "GET"), ("/maketor/app/", 404, "GET"),
                                     ("/maketor/app/blobs/partial.lzms.tmp-1-2", 404, "GET"),
                                     ("/maketor/other", 404, "GET"), (blob_path, 403, "POST")):
            with self.subTest(path=path, method=method):
                self.assertEqual(get(path, method=method)[0].status, status)
        os.remove(os.path.join(self.v1.folder, "blobs", "partial.lzms.tmp-1-2"))

        self.assertIn(connection.sock.version(), ("TLSv1.2", "TLSv1.3"))
        connection.close()
        entries = self.server.entries()
        self.assertEqual({entry.connection for entry in entries}, {entries[0].connection},
                         "every request on one kept-alive connection")
        self.assertEqual([entry.connection_requests for entry in entries], list(range(1, len(entries) + 1)))

    def test_install_and_update(self):
        folder = self.new_folder()
        selection = adapter_selection()
        requested = self.install(folder, self.v1)
        fetched = list(self.v1.selected_files(selection))
        self.assertEqual(sorted(requested), sorted(self.v1.entries[p]["sha256"] for p in fetched))
        self.assert_installed(folder, self.v1, selection, fetched)
        install_entries = self.server.entries()
        self.assertEqual({entry.status for entry in install_entries}, {200})
        self.assertEqual(sorted(self.server.pack_requests()), [(pack, 0, None) for pack in self.v1.packs_of(fetched)],
                         "the first install through the packs of its components, whole")
        self.assertGreater(max(entry.connection_requests for entry in install_entries), 1,
                           "WinHTTP kept its connection to nginx for more than one request")

        requested = self.update(folder, self.v2)
        changed = ["maketor.exe", "data/catalog.json", "data/new/added.bin"]
        self.assertEqual(sorted(requested), sorted(self.v2.entries[p]["sha256"] for p in changed))
        self.assert_installed(folder, self.v2, selection, changed)
        # Whole blobs or the pieces of packs that carry them, each once: nothing was asked again.
        sent = 0
        for entry in self.server.entries():
            if entry.path.startswith("/maketor/app/blobs/"):
                self.assertEqual(entry.status, 200)
            elif entry.path.startswith("/maketor/app/packs/"):
                self.assertEqual(entry.status, 206, "a piece of a pack for a few files")
            else:
                continue
            sent += entry.bytes_sent
        self.assertEqual(sent, sum(self.v2.entries[p]["csize"] for p in changed), "and nothing else")


    def test_update_resumes_a_partly_received_blob(self):
        folder = self.new_folder()
        selection = adapter_selection()
        self.install(folder, self.v1)
        # What an update cut off midway keeps: the first half of a changed file's blob, where the engine left it.
        resumed = "data/catalog.json"
        blob = self.v2.blob(resumed)
        half = len(blob) // 2
        os.makedirs(folder.path("update-cache"))
        with open(os.path.join(folder.path("update-cache"), self.v2.entries[resumed]["sha256"] + ".lzms.part"), "wb") as f:
            f.write(blob[:half])

        self.update(folder, self.v2)
        changed = ["maketor.exe", "data/catalog.json", "data/new/added.bin"]
        self.assert_installed(folder, self.v2, selection, changed)
        blobs = {entry.path: entry for entry in self.server.entries() if entry.path.startswith("/maketor/app/blobs/")}
        rest = blobs[self.v2.request_path(resumed)]
        self.assertEqual((rest.status, rest.range, rest.bytes_sent), (206, f"bytes={half}-", len(blob) - half))
        self.assertEqual(sorted((entry.status, entry.bytes_sent) for path, entry in blobs.items()
                                if path != self.v2.request_path(resumed)),
                         sorted((200, self.v2.entries[p]["csize"]) for p in changed if p != resumed))


if __name__ == "__main__":
    unittest.main()
