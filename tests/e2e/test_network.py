"""Hostile and broken networks against the real setup program and the real HTTPS test server: bodies that never
end or claim more than the release signs, a server that drips, cuts and stalls resumed without a click, a cancel
while a read waits on a stalled connection, and proxies set up as Windows users set them (a real squid on
loopback). Each case prints what it measured: the time it took, the setup program's peak memory (VmHWM) and
the download cache's largest size."""
import http.server
import os
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest

from harness import (SETUP_EXE, TEST_PORT, LifecycleTest, adapter_selection, clear_setup_log, cross_program,
                     log_errors, noise, registry_values, run_setup, sample_files, setup_log_lines, setup_process_ids,
                     text_bytes, wait_for_setup_to_finish, wait_until, wine, wine_background)

MANIFEST = "/maketor/app/manifest.json"
SIGNATURE = "/maketor/app/manifest.sig"
CONNECTION = "Нет связи с сайтом Торвел. Проверьте интернет и повторите."
NOT_TRUSTED = "Файлы на сайте не прошли проверку подписи — установка остановлена."
CANCELLED = "Установка отменена."
PROXY_SIGN_IN = "Прокси-сервер требует входа — обратитесь к администратору сети и повторите."
BLOB_FILE = "data/scene.bin"  # 3 MiB of noise: its blob is streamed into the download cache
SMALL_FILE = "data/notes.txt"  # a blob received into memory
PATCHED_FILE = "data/hall.bin"  # 6 MiB whose last 2.5 MiB change: a patch above 1 MiB, streamed too
# The most either release file may hold (engine/release_fetch.h).
LARGEST_MANIFEST = 128 << 20
# What an update of this suite's release peaks at when nothing goes wrong, about 160 MiB under Wine 8 (the
# resumed cases print theirs), with some room.
NORMAL_PEAK_MIB = 200
# A run that goes past this is stopped, so that a failing case spares the machine.
MEMORY_LIMIT_KIB = 3 << 20


def shown(path):
    return path.replace("/", "\\")


def not_downloaded(path):
    return "Не скачан " + shown(path) + " — проверьте интернет и повторите."


def damaged(path):
    return "Файл " + shown(path) + " повреждён при загрузке — повторите."


def peak_memory_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def folder_bytes(folder):
    total = 0
    for parent, _, names in os.walk(folder):
        for name in names:
            try:
                total += os.path.getsize(os.path.join(parent, name))
            except OSError:
                pass
    return total


class WatchedRun:
    """The setup program run in the background while its peak memory and the download cache's size are
    polled; killed past MEMORY_LIMIT_KIB."""

    def __init__(self, cache_folder, *args):
        self.cache_folder = cache_folder
        self.peak_kib = 0
        self.largest_cache = 0
        self.killed = False
        self.started = time.monotonic()
        self.process = wine_background(SETUP_EXE, *args)
        self.done = threading.Event()
        self.watcher = threading.Thread(target=self._watch, daemon=True)
        self.watcher.start()

    def _watch(self):
        while not self.done.is_set():
            for pid in setup_process_ids():
                self.peak_kib = max(self.peak_kib, peak_memory_kib(pid))
                if self.peak_kib > MEMORY_LIMIT_KIB:
                    os.kill(pid, 9)
                    self.killed = True
            self.largest_cache = max(self.largest_cache, folder_bytes(self.cache_folder))
            time.sleep(0.05)

    def wait(self, timeout):
        """Seconds from the start until the program ended."""
        try:
            self.process.wait(timeout)
            wait_for_setup_to_finish(timeout)
        finally:
            self.done.set()
            self.watcher.join()
        return time.monotonic() - self.started


class HostileServer(LifecycleTest):
    """An installation of v1, updated to v2 (unattended) while the server misbehaves."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        files = sample_files("net v1")
        hall = noise(6 << 20, "hall")
        files[PATCHED_FILE] = hall
        cls.v1 = cls.make_release("6.0.0", files)
        files = dict(files)
        files[BLOB_FILE] = noise(3 << 20, "scene")
        files[SMALL_FILE] = text_bytes(200_000, "notes")
        files[PATCHED_FILE] = hall[: len(hall) - (5 << 19)] + noise(5 << 19, "hall v2")
        cls.v2 = cls.make_release("6.1.0", files, previous=[cls.v1])
        patches = cls.v2.entries[PATCHED_FILE].get("patches", [])
        assert len(patches) == 1 and 1 << 20 < patches[0]["size"] < cls.v2.entries[PATCHED_FILE]["csize"] // 2
        cls.patch_path = "/maketor/app/patches/" + patches[0]["sha256"] + ".zst"
        cls.changed = [BLOB_FILE, SMALL_FILE, PATCHED_FILE]
        assert cls.v2.entries[BLOB_FILE]["csize"] > 1 << 20 >= cls.v2.entries[SMALL_FILE]["csize"]

    def setUp(self):
        super().setUp()
        self.folder = self.new_folder()
        self.install(self.folder, self.v1)
        self.assertEqual(log_errors(), [])
        self.before = (self.installed(), registry_values())
        clear_setup_log()
        self.serve(self.v2)

    def installed(self):
        return {p: d for p, d in self.folder.files().items() if not p.startswith("update-cache/")}

    def cache_folder(self):
        return self.folder.path("update-cache")

    def update_watched(self, timeout=240):
        run = WatchedRun(self.cache_folder(), "/update", "/dir", self.folder.windows, "/auto")
        seconds = run.wait(timeout)
        self.assertFalse(run.killed, f"the setup program went past {MEMORY_LIMIT_KIB >> 10} MiB")
        return seconds, run

    def assert_unchanged(self):
        self.assertEqual((self.installed(), registry_values()), self.before)

    def assert_updated(self):
        self.assertEqual(log_errors(), [])
        self.assert_files(self.folder, self.v2, adapter_selection())
        self.assertFalse(os.path.exists(self.cache_folder()))

    def report(self, name, seconds, run, extra=""):
        print(f"\n{name}: {seconds:.1f} s, peak memory {run.peak_kib >> 10} MiB, "
              f"download cache at most {run.largest_cache >> 10} KiB{extra}", flush=True)

    def test_bodies_beyond_what_the_release_signs_fail_at_once_within_bounds(self):
        blob = self.v2.request_path(BLOB_FILE)
        small = self.v2.request_path(SMALL_FILE)
        blob_size = self.v2.entries[BLOB_FILE]["csize"]
        # A body grown to the cap holds its last two buffers for a moment: half the cap and the cap.
        manifest_mib = NORMAL_PEAK_MIB + (LARGEST_MANIFEST >> 20) * 3 // 2
        # name, request path, fault, the error (None: the update completes), the most memory in MiB
        cases = [
            ("endless manifest", MANIFEST, ("endless", b" "), NOT_TRUSTED, manifest_mib),
            ("endless signature", SIGNATURE, ("endless", b" "), NOT_TRUSTED, NORMAL_PEAK_MIB),
            ("manifest announcing 4,000,000,000 bytes", MANIFEST, ("announce", 4_000_000_000), NOT_TRUSTED,
             NORMAL_PEAK_MIB),
            ("signature announcing 4,000,000,000 bytes", SIGNATURE, ("announce", 4_000_000_000), NOT_TRUSTED,
             NORMAL_PEAK_MIB),
            ("endless streamed blob", blob, ("endless", b"\0"), damaged(BLOB_FILE), NORMAL_PEAK_MIB),
            ("endless small blob", small, ("endless", b"\0"), damaged(SMALL_FILE), NORMAL_PEAK_MIB),
            ("blob announcing one byte more than signed", blob, ("announce", blob_size + 1), damaged(BLOB_FILE),
             NORMAL_PEAK_MIB),
            # A patch that cannot be had leaves the file to its blob, without a word.
            ("endless streamed patch", self.patch_path, ("endless", b"\0"), None, NORMAL_PEAK_MIB),
        ]
        for case, (name, path, fault, error, most_mib) in enumerate(cases):
            with self.subTest(name):
                if case:
                    self.setUp()
                self.server.set_fault(path, fault)
                seconds, run = self.update_watched()
                sent = self.server.sent_bytes(path)
                self.report(name, seconds, run, f", the server sent {sent >> 10} KiB" if sent else "")
                self.assertLess(seconds, 60)
                self.assertLess(run.peak_kib >> 10, most_mib)
                self.assertEqual(self.server.requests().count(path), 1, "no second attempt at what was refused")
                if error is None:
                    self.assert_updated()
                    self.assertIn(self.v2.entries[PATCHED_FILE]["sha256"], self.server.blob_requests())
                    continue
                self.assertEqual(log_errors(), [error])
                self.assert_unchanged()
                self.assertLessEqual(run.largest_cache, blob_size + self.v2.entries[SMALL_FILE]["csize"]
                                     + self.v2.entries[PATCHED_FILE]["patches"][0]["size"])
                parts = [p for p in self.folder.files() if p.endswith(".part")]
                self.assertEqual(parts, [], "nothing kept of a body that is not the signed one")

    def test_a_cut_or_a_stall_mid_blob_is_resumed_without_a_click(self):
        blob = self.v2.request_path(BLOB_FILE)
        small = self.v2.request_path(SMALL_FILE)
        half = self.v2.entries[BLOB_FILE]["csize"] // 2
        small_half = self.v2.entries[SMALL_FILE]["csize"] // 2
        # name, request path, fault of its first request, the Range the second asks (None: no Range)
        cases = [
            ("streamed blob cut", blob, ("cut", half), half),
            ("small blob cut", small, ("cut", small_half), small_half),
            ("streamed blob stalled", blob, ("stall", half), half),
            ("streamed blob answered 503", blob, ("status", 503), None),
        ]
        for case, (name, path, fault, resumed_from) in enumerate(cases):
            with self.subTest(name):
                if case:
                    self.setUp()
                self.server.set_fault(path, fault, times=1)
                seconds, run = self.update_watched()
                self.report(name, seconds, run)
                self.assert_updated()
                self.assertEqual(self.server.requests().count(path), 2)
                ranges = [(first, honoured) for p, first, honoured in self.server.range_requests() if p == path]
                self.assertEqual(ranges, [(resumed_from, True)] if resumed_from is not None else [])
                retries = [line for line in setup_log_lines() if line.startswith("связь прервалась")]
                self.assertEqual(retries, [f"связь прервалась ({path}), попытка 2 из 4 через 2 с"])
                self.assertLess(seconds, 90 if fault[0] == "stall" else 45)

    def test_a_dripping_server_is_dropped_and_tried_again_then_given_up(self):
        blob = self.v2.request_path(BLOB_FILE)
        self.server.set_fault(blob, ("drip", 5))
        seconds, run = self.update_watched(timeout=300)
        self.report("blob dripping a byte every 5 s", seconds, run)
        self.assertEqual(log_errors(), [not_downloaded(BLOB_FILE)])
        self.assert_unchanged()
        starts = [when for when, path in self.server.request_times() if path == blob]
        self.assertEqual(len(starts), 4, "the first attempt and three more")
        waits = [2, 4, 8]
        for attempt, (start, following) in enumerate(zip(starts, starts[1:])):
            dropped_after = following - start - waits[attempt]
            print(f"attempt {attempt + 1} dropped after {dropped_after:.1f} s")
            self.assertLess(dropped_after, 40, "a drip is dropped within the stall window and a little")
        ranges = [first for path, first, _ in self.server.range_requests() if path == blob]
        self.assertEqual(len(ranges), 3)
        self.assertTrue(all(0 < first < 100 for first in ranges), ranges)  # continued from the bytes dripped
        self.assertLess(seconds, 180)

    def test_cancel_on_a_stalled_connection_returns_within_a_second(self):
        blob = self.v2.request_path(BLOB_FILE)
        self.server.set_fault(blob, ("stall", 100_000))
        run = WatchedRun(self.cache_folder(), "/update", "/dir", self.folder.windows, "/auto")
        wait_until(lambda: blob in self.server.requests(), 60, "the blob's request")
        time.sleep(3)  # well into the stall: the read waits on the network
        self.assertEqual(wine(cross_program("setup_window.exe"), "close").returncode, 0)
        asked = time.monotonic()
        wait_until(lambda: log_errors(), 30, "the run to end")
        told = time.monotonic() - asked
        run.wait(60)
        gone = time.monotonic() - asked
        print(f"\ncancel on a stalled read: the run ended {told:.2f} s after the close request, the process "
              f"{gone:.2f} s after it", flush=True)
        self.assertEqual(log_errors(), [CANCELLED])
        self.assertLess(told, 1.0)
        self.assert_unchanged()


# Proxies ------------------------------------------------------------------------------------------------------
INTERNET_SETTINGS = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Squid:
    """Debian's squid on a loopback port of its own, with an access log of its own. auth: None, or the
    auth_param lines of a proxy that asks for a sign-in. It asks no name server but loopback's: the download
    host is "localhost", which it finds in /etc/hosts."""

    def __init__(self, auth=None):
        # Outside the suite's private folder: squid writes its logs as the unprivileged user it drops to.
        self.folder = tempfile.mkdtemp(prefix="maketor-squid-")
        os.chmod(self.folder, 0o777)
        self.port = free_port()
        self.access_log = os.path.join(self.folder, "access.log")
        sign_in = ["acl signed_in proxy_auth REQUIRED", "http_access deny !signed_in"] if auth else []
        lines = [
            f"http_port 127.0.0.1:{self.port}",
            "acl test_host dst 127.0.0.1 ::1",
            *(auth or []),
            *sign_in,
            "http_access allow localhost test_host",
            "http_access deny all",
            f"access_log stdio:{self.access_log}",
            f"cache_log {os.path.join(self.folder, 'cache.log')}",
            f"pid_filename {os.path.join(self.folder, 'squid.pid')}",
            f"coredump_dir {self.folder}",
            "cache deny all",
            "pinger_enable off",
            "visible_hostname maketor-test",
            "dns_nameservers 127.0.0.1",
            "shutdown_lifetime 0 seconds",
        ]
        self.config = os.path.join(self.folder, "squid.conf")
        with open(self.config, "w") as f:
            f.write("\n".join(lines) + "\n")
        self.process = subprocess.Popen(["squid", "-f", self.config, "-N"], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(self.listening, 30, "squid to listen")

    def listening(self):
        if self.process.poll() is not None:
            raise RuntimeError(f"squid ended with status {self.process.returncode}")
        with socket.socket() as probe:
            return probe.connect_ex(("127.0.0.1", self.port)) == 0

    @property
    def address(self):
        return f"127.0.0.1:{self.port}"

    def log_lines(self):
        try:
            with open(self.access_log) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def tunnels(self):
        """The targets of the CONNECT requests squid let through."""
        return [line.split()[6] for line in self.log_lines() if " CONNECT " in line and "/200 " in line]

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.folder, ignore_errors=True)


class PacServer:
    """A configuration script (PAC file) served over plain HTTP on loopback, as an intranet serves one."""

    def __init__(self, script):
        body = script.encode()

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(200)
                self.send_header("Content-Type", "application/x-ns-proxy-autoconfig")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, format, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.httpd.server_address[1]}/proxy.pac"
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()


class ThroughProxy(LifecycleTest):
    """Installs and updates where the user's Windows settings name a proxy. The download host is on loopback,
    which the system's stacks send direct unless the bypass list says "<-loopback>", as these settings do."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.v1 = cls.make_release("7.0.0", sample_files("proxy v1"))
        files = sample_files("proxy v1")
        files["data/catalog.json"] = text_bytes(50_000, "proxy v2")
        cls.v2 = cls.make_release("7.1.0", files)
        cls.squid = Squid()
        cls.addClassCleanup(cls.squid.stop)

    def set_user_settings(self, values):
        """Values in the user's Internet Settings, removed when the case ends."""
        for name, value in values.items():
            kind, data = ("REG_DWORD", str(value)) if isinstance(value, int) else ("REG_SZ", value)
            wine("reg", "add", INTERNET_SETTINGS, "/v", name, "/t", kind, "/d", data, "/f")
            self.addCleanup(wine, "reg", "delete", INTERNET_SETTINGS, "/v", name, "/f")

    def set_machine_proxy(self, proxy, bypass):
        self.assertEqual(wine(cross_program("machine_proxy.exe"), "set", proxy, bypass).returncode, 0)
        self.addCleanup(wine, cross_program("machine_proxy.exe"), "clear")

    def fixed_proxy(self, squid):
        self.set_user_settings({"ProxyEnable": 1, "ProxyServer": squid.address, "ProxyOverride": "<-loopback>"})

    def per_scheme_proxy(self, squid):
        self.set_user_settings({"ProxyEnable": 1, "ProxyServer": f"http=127.0.0.1:9;https={squid.address}",
                                "ProxyOverride": "*.corp.example;<-loopback>"})

    def configuration_script(self, squid):
        pac = PacServer('function FindProxyForURL(url, host) {\n'
                        f'  return host == "localhost" ? "PROXY {squid.address}" : "DIRECT";\n}}\n')
        self.addCleanup(pac.stop)
        self.set_user_settings({"AutoConfigURL": pac.url})

    def machine_setting(self, squid):
        self.set_machine_proxy(squid.address, "<-loopback>")

    def bypassed_host(self, squid):
        self.set_user_settings({"ProxyEnable": 1, "ProxyServer": squid.address, "ProxyOverride": "<-loopback>;localhost"})

    def switched_off(self, squid):
        self.set_user_settings({"ProxyEnable": 0, "ProxyServer": squid.address, "ProxyOverride": "<-loopback>"})

    def test_an_install_goes_through_the_proxy_the_settings_name(self):
        target = f"localhost:{TEST_PORT}"
        # name, settings, the log's source of the proxy (None: direct)
        cases = [
            ("a fixed proxy", self.fixed_proxy, "настройки пользователя"),
            ("a proxy for HTTPS among others", self.per_scheme_proxy, "настройки пользователя"),
            ("a configuration script", self.configuration_script, "сценарий настройки"),
            ("the machine's WinHTTP setting", self.machine_setting, "настройки WinHTTP компьютера"),
            ("the host on the bypass list", self.bypassed_host, None),
            ("a proxy switched off", self.switched_off, None),
        ]
        for name, settings, source in cases:
            with self.subTest(name):
                self.setUp()
                try:
                    settings(self.squid)
                    tunnels_before = len(self.squid.tunnels())
                    folder = self.new_folder()
                    fetched = self.install(folder, self.v1)
                    selected = self.v1.selected_files(adapter_selection())
                    self.assert_installed(folder, self.v1, adapter_selection(), list(selected))
                    self.assertEqual(sorted(fetched), sorted({self.v1.entries[p]["sha256"] for p in selected}))
                    tunnels = self.squid.tunnels()[tunnels_before:]
                    proxy_lines = [line for line in setup_log_lines() if line.startswith("соединение через прокси")]
                    if source is None:
                        self.assertEqual((tunnels, proxy_lines), ([], []))
                    else:
                        self.assertTrue(tunnels and set(tunnels) == {target}, tunnels)
                        self.assertEqual(proxy_lines,
                                         [f"соединение через прокси-сервер {self.squid.address} ({source})"])
                finally:
                    self.doCleanups()  # this case's settings go before the next case's

    def test_a_proxy_that_asks_for_a_sign_in_gets_its_own_message_and_changes_nothing(self):
        folder = self.new_folder()
        self.install(folder, self.v1)
        self.assertEqual(log_errors(), [])
        before = (folder.files(), registry_values())
        # A name and password (Basic) cannot come from the Windows sign-in; NTLM can, where the system has one to
        # give (Wine has no domain sign-in, so the proxy refuses it here too).
        schemes = [
            ("Basic", ["auth_param basic program /usr/lib/squid/basic_fake_auth",
                       "auth_param basic realm maketor-test"]),
            ("NTLM", ["auth_param ntlm program /usr/lib/squid/ntlm_fake_auth", "auth_param ntlm children 2"]),
        ]
        for scheme, auth in schemes:
            with self.subTest(scheme):
                try:
                    squid = Squid(auth)
                    self.addCleanup(squid.stop)
                    self.fixed_proxy(squid)
                    clear_setup_log()
                    self.serve(self.v2)
                    run_setup("/update", "/dir", folder.windows, "/auto")
                    self.assertEqual(log_errors(), [PROXY_SIGN_IN])
                    self.assertEqual((folder.files(), registry_values()), before)
                    self.assertEqual(self.server.requests(), [], "nothing reached the download host")
                    self.assertTrue(any("/407 " in line for line in squid.log_lines()), squid.log_lines())
                finally:
                    self.doCleanups()

if __name__ == "__main__":
    unittest.main()
