"""tools/release, the vendor's whole release flow: the setup program built for the download host, signed with
Authenticode by osslsigncode, placed as setup.exe, published and verified. The signature of the published
setup.exe is checked with `osslsigncode verify`, which a changed byte must break."""
import hashlib
import http.server
import json
import os
import shutil
import subprocess
import tempfile
import threading
import unittest

from harness import CROSS_BUILD, DEVELOPMENT_KEY, PUBLISH, REPO, TEST_PORT, noise, text_bytes
from make_test_ca import make_code_signing_certificate, make_timestamp_authority

RELEASE_TOOL = os.path.join(REPO, "tools", "release")
DEVELOPMENT_PUBLIC_KEY = os.path.join(REPO, "keys", "development.pub")
PASSWORD = "correct horse battery"


def osslsigncode_verify(exe, ca_file):
    return subprocess.run(["osslsigncode", "verify", "-in", exe, "-CAfile", ca_file], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True)


class TimestampAuthority:
    """An RFC 3161 time-stamping server over HTTP on a free loopback port, answering with `openssl ts -reply`."""

    def __init__(self, folder):
        self.paths = make_timestamp_authority(folder)
        self.requests = 0
        authority = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers["Content-Length"]))
                reply = subprocess.run(["openssl", "ts", "-reply", "-config", authority.paths["config"],
                                        "-queryfile", "/dev/stdin", "-out", "/dev/stdout"], input=query,
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
                authority.requests += 1
                self.send_response(200 if reply else 500)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, format, *args):
                pass

        self.httpd = http.server.HTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.httpd.server_address[1]}/"
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()


class ReleaseTool(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.workdir = tempfile.mkdtemp(prefix="maketor-release-")
        cls.signing = make_code_signing_certificate(os.path.join(cls.workdir, "signing"), PASSWORD)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.workdir, ignore_errors=True)

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix=self.id().split(".")[-1] + "-", dir=self.workdir)
        self.source = os.path.join(self.folder, "source")
        self.release = os.path.join(self.folder, "release")
        files = {"maketor.exe": noise(30_000, "app"), "data/catalog.json": text_bytes(20_000, "catalog")}
        for relative, data in files.items():
            path = os.path.join(self.source, *relative.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)

    def run_release(self, *options, password=PASSWORD, pkcs12=None):
        """tools/release for the test build (the same host, port and key as it has: nothing is rebuilt)."""
        env = {k: v for k, v in os.environ.items() if not k.startswith("MAKETOR_SIGNING_")}
        if pkcs12:
            env.update(MAKETOR_SIGNING_PKCS12=pkcs12, MAKETOR_SIGNING_PASSWORD=password)
        command = [RELEASE_TOOL, "--host", "localhost", "--port", str(TEST_PORT), "--public-key",
                   DEVELOPMENT_PUBLIC_KEY, "--key", DEVELOPMENT_KEY, "--version", "2.0.0", "--date", "2025-02-01",
                   "--jobs", "2", "--cross-build", CROSS_BUILD, "--publisher", PUBLISH, *options, self.source,
                   self.release]
        return subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              timeout=900)

    def published_setup(self):
        """setup.exe as a client gets it: its blob from the release, unpacked with maketor-publish."""
        with open(os.path.join(self.source, "setup.exe"), "rb") as f:
            placed = f.read()
        out = os.path.join(self.folder, "published-setup.exe")
        blob = os.path.join(self.release, "blobs", hashlib.sha256(placed).hexdigest() + ".lzms")
        subprocess.run([PUBLISH, "unpack", blob, out], check=True)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), placed)
        return out

    def test_publishes_a_setup_program_signed_with_the_certificate(self):
        result = self.run_release(pkcs12=self.signing["pkcs12"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("signed by /CN=Torvel test publisher/O=Torvel", result.stdout)
        self.assertIn("signature and every blob verified", result.stdout)
        self.assertNotIn(PASSWORD, result.stdout + result.stderr)

        setup = self.published_setup()
        verified = osslsigncode_verify(setup, self.signing["ca_pem"])
        self.assertEqual(verified.returncode, 0, verified.stdout)
        self.assertIn("Signature verification: ok", verified.stdout)
        self.assertIn("Subject: /CN=Torvel test publisher/O=Torvel", verified.stdout)
        self.assertIn("Text description: Макетор — Торвел", verified.stdout)
        with open(os.path.join(CROSS_BUILD, "maketor-setup.exe"), "rb") as f:
            built = f.read()
        with open(setup, "rb") as f:
            signed = f.read()
        self.assertGreater(len(signed), len(built), "the signature is appended to the program")

        # One byte of the program changed, as a tampered download would be: the signature no longer holds.
        damaged = bytearray(signed)
        damaged[len(built) // 2] ^= 0x01
        tampered = os.path.join(self.folder, "tampered.exe")
        with open(tampered, "wb") as f:
            f.write(damaged)
        broken = osslsigncode_verify(tampered, self.signing["ca_pem"])
        self.assertNotEqual(broken.returncode, 0, broken.stdout)
        self.assertIn("MISMATCH", broken.stdout)

    def test_timestamp_from_the_named_server(self):
        authority = TimestampAuthority(os.path.join(self.folder, "tsa"))
        try:
            result = self.run_release("--timestamp-url", authority.url, pkcs12=self.signing["pkcs12"])
        finally:
            authority.stop()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(authority.requests, 1)
        self.assertIn(", timestamped ", result.stdout)
        verified = subprocess.run(["osslsigncode", "verify", "-in", self.published_setup(), "-CAfile",
                                   self.signing["ca_pem"], "-TSA-CAfile", authority.paths["ca_pem"]],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.assertEqual(verified.returncode, 0, verified.stdout)
        self.assertIn("Timestamp Server Signature verification: ok", verified.stdout)
        self.assertIn("Signature verification: ok", verified.stdout)

    def test_wrong_password_publishes_nothing(self):
        result = self.run_release(pkcs12=self.signing["pkcs12"], password="wrong")
        self.assertEqual(result.returncode, 1)
        self.assertIn("release: osslsigncode could not sign", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.source, "setup.exe")))
        self.assertFalse(os.path.exists(self.release))

    def test_unsigned_only_when_asked_for(self):
        refused = self.run_release()
        self.assertEqual(refused.returncode, 1)
        self.assertIn("no code-signing certificate: set MAKETOR_SIGNING_PKCS12", refused.stderr)
        self.assertFalse(os.path.exists(self.release))
        on_command_line = self.run_release("--password", PASSWORD)
        self.assertEqual(on_command_line.returncode, 1)
        self.assertIn("never the command line", on_command_line.stderr)

        result = self.run_release("--unsigned")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("NOT signing", result.stdout)
        unsigned = osslsigncode_verify(self.published_setup(), self.signing["ca_pem"])
        self.assertNotEqual(unsigned.returncode, 0)

    def test_patches_from_the_previous_releases(self):
        self.assertEqual(self.run_release("--unsigned").returncode, 0)
        previous = os.path.join(self.folder, "release-before")
        os.rename(self.release, previous)
        application = os.path.join(self.source, "maketor.exe")
        with open(application, "r+b") as f:
            f.seek(10_000)
            f.write(b"changed")
        result = self.run_release("--unsigned", "--previous", previous)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(self.release, "manifest.json"), encoding="utf-8") as f:
            entries = {entry["path"]: entry for entry in json.load(f)["files"]}
        with open(os.path.join(previous, "manifest.json"), encoding="utf-8") as f:
            before = {entry["path"]: entry for entry in json.load(f)["files"]}
        self.assertEqual([patch["from"] for patch in entries["maketor.exe"]["patches"]],
                         [before["maketor.exe"]["sha256"]])
        # setup.exe has one too when the build changed it between the two releases.
        patched = sorted(p for p, entry in entries.items() if "patches" in entry)
        self.assertIn(patched, (["maketor.exe"], ["maketor.exe", "setup.exe"]))
        self.assertNotIn("data/catalog.json", patched)
        self.assertIn(f"{len(patched)} patches kept of {len(patched)} made", result.stdout)
        self.assertIn(f"{len(patched)} patches applied to their old files", result.stdout)
        for path in patched:
            patch = entries[path]["patches"][0]
            self.assertTrue(os.path.isfile(os.path.join(self.release, "patches", patch["sha256"] + ".zst")))


if __name__ == "__main__":
    unittest.main()
