"""nginx serving a release folder with the vendor's own server block, tools/nginx/maketor-downloads.conf, for
the end-to-end suites and the demo.

The server block is taken as it is, except for the lines it marks for change (port, host name, certificate,
key) and its root; a small main configuration around it runs nginx in the foreground as one process of the
caller, with its logs, temporary files and document root in a folder of its own. The document root holds
"maketor/app" as a link to the release folder, so that serving another release is one rename.

Every request is logged as: status, body bytes sent, connection number, requests on that connection so far,
the Range header ("-" when none) and the request path.
"""
import os
import re
import shutil
import socket
import subprocess
import time

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
VENDOR_CONFIG = os.path.join(REPO, "tools", "nginx", "maketor-downloads.conf")
PREFIX = "/maketor/app/"
NGINX = shutil.which("nginx") or "/usr/sbin/nginx"

MAIN_CONFIG = """\
# Made by nginx_server.py for one test or demo run: nginx in the foreground, one process, its files in {workdir}.
daemon off;
master_process off;
{user}pid {workdir}/nginx.pid;
error_log {workdir}/error.log warn;
events {{
    worker_connections 256;
}}
http {{
    log_format maketor_requests '$status $body_bytes_sent $connection $connection_requests "$http_range" $request_uri';
    access_log {access_log} maketor_requests;
    client_body_temp_path {workdir}/temp/body;
    proxy_temp_path {workdir}/temp/proxy;
    fastcgi_temp_path {workdir}/temp/fastcgi;
    uwsgi_temp_path {workdir}/temp/uwsgi;
    scgi_temp_path {workdir}/temp/scgi;
    # Bodies sent slowly on purpose (the demo keeps its progress screen in view): bytes per second by path,
    # the paths of blobs being longer than the map's default bucket takes.
    map_hash_bucket_size 128;
    map $uri $maketor_rate {{
        default 0;
{slow_paths}    }}
    limit_rate $maketor_rate;
    include {workdir}/maketor-downloads.conf;
}}
"""


def render_server_block(text, port, cert_file, key_file, docroot):
    """The vendor's server block with the test's port, host, certificate, key and root."""
    replacements = [
        (r"listen\s+443 ssl;", f"listen 127.0.0.1:{port} ssl;"),
        (r"server_name\s+[^;]+;", "server_name localhost;"),
        (r"ssl_certificate\s+[^;]+;", f"ssl_certificate {cert_file};"),
        (r"ssl_certificate_key\s+[^;]+;", f"ssl_certificate_key {key_file};"),
        (r"root\s+[^;]+;", f"root {docroot};"),
    ]
    for pattern, replacement in replacements:
        text, count = re.subn(pattern, replacement, text)
        if count != 1:
            raise RuntimeError(f"{VENDOR_CONFIG}: expected one line like /{pattern}/, found {count}")
    return text


class LogEntry:
    def __init__(self, line):
        status, sent, connection, connection_requests, rest = line.split(" ", 4)
        self.status, self.bytes_sent = int(status), int(sent)
        self.connection, self.connection_requests = int(connection), int(connection_requests)
        quoted, _, self.path = rest.rpartition(" ")
        self.range = None if quoted == '"-"' else quoted.strip('"')


class NginxServer:
    """nginx over one release folder on the given port, started and stopped by the caller."""

    def __init__(self, root, cert_file, key_file, port, workdir, log_file=None, slow=None):
        self.root = os.path.abspath(root)
        self.port = port
        self.workdir = os.path.abspath(workdir)
        self.log_file = log_file or os.path.join(self.workdir, "access.log")
        self.docroot = os.path.join(self.workdir, "docroot")
        self._cert_file, self._key_file = os.path.abspath(cert_file), os.path.abspath(key_file)
        self._slow = dict(slow or {})
        self._log_start = 0  # bytes of the access log before the last clear_log()
        self._process = None

    def start(self):
        os.makedirs(os.path.join(self.workdir, "temp"), exist_ok=True)
        os.makedirs(os.path.join(self.docroot, "maketor"), exist_ok=True)
        self.set_root(self.root)
        with open(VENDOR_CONFIG, encoding="utf-8") as f:
            server_block = render_server_block(f.read(), self.port, self._cert_file, self._key_file, self.docroot)
        with open(os.path.join(self.workdir, "maketor-downloads.conf"), "w", encoding="utf-8") as f:
            f.write(server_block)
        slow_paths = "".join(f'        "{path}" {rate};\n' for path, rate in self._slow.items())
        # nginx started by root runs as root here: the release folders are the caller's own.
        user = "user root;\n" if os.geteuid() == 0 else ""
        config = os.path.join(self.workdir, "nginx.conf")
        with open(config, "w", encoding="utf-8") as f:
            f.write(MAIN_CONFIG.format(workdir=self.workdir, user=user, access_log=self.log_file,
                                       slow_paths=slow_paths))
        open(self.log_file, "a").close()
        error_log = os.path.join(self.workdir, "error.log")
        self._process = subprocess.Popen([NGINX, "-p", self.workdir, "-c", config, "-e", error_log],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self._wait_until_listening(error_log)
        return self

    def _wait_until_listening(self, error_log):
        deadline = time.monotonic() + 20
        while True:
            if self._process.poll() is not None:
                message = self._process.stderr.read().decode("utf-8", "replace")
                if os.path.exists(error_log):
                    with open(error_log, encoding="utf-8", errors="replace") as f:
                        message += f.read()
                raise RuntimeError(f"nginx did not start on port {self.port}: {message.strip()}")
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                if time.monotonic() > deadline:
                    self.stop()
                    raise RuntimeError(f"nginx does not answer on port {self.port}")
                time.sleep(0.05)

    @property
    def pid(self):
        return self._process.pid if self._process else None

    def stop(self):
        if self._process and self._process.poll() is None:
            self._process.terminate()  # a fast shutdown
            try:
                self._process.wait(10)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
        if self._process:
            self._process.stderr.close()
        self._process = None

    def set_root(self, root):
        """Serves another release folder from the next request on."""
        self.root = os.path.abspath(root)
        link = os.path.join(self.docroot, "maketor", "app")
        new_link = link + ".new"
        if os.path.lexists(new_link):
            os.remove(new_link)
        os.symlink(self.root, new_link)
        os.replace(new_link, link)

    def clear_faults(self):
        """nginx serves as configured: the faults the suites make belong to the Python server."""

    # Request log -----------------------------------------------------------------------------------------------
    def entries(self):
        """The requests since the last clear_log(), as LogEntry, in order."""
        with open(self.log_file, "rb") as f:
            f.seek(self._log_start)
            text = f.read().decode("utf-8", "replace")
        return [LogEntry(line) for line in text.splitlines() if line]

    def requests(self):
        return [entry.path for entry in self.entries()]

    def unknown_requests(self):
        return [entry.path for entry in self.entries() if entry.status == 404]

    def blob_requests(self):
        """Digests of the blobs requested, in request order."""
        marker = PREFIX + "blobs/"
        return [p[len(marker):-len(".lzms")] for p in self.requests() if p.startswith(marker) and p.endswith(".lzms")]

    def pack_requests(self):
        """(digest, first byte, end) of every pack answered, in order: (digest, 0, None) for a whole pack, end the
        byte after the last one asked for (None: to the pack's end)."""
        marker = PREFIX + "packs/"
        found = []
        for entry in self.entries():
            if not (entry.path.startswith(marker) and entry.path.endswith(".pack") and entry.status in (200, 206)):
                continue
            first, end = 0, None
            if entry.status == 206:
                start, _, last = entry.range[len("bytes="):].partition("-")
                first, end = int(start), int(last) + 1 if last else None
            found.append((entry.path[len(marker) : -len(".pack")], first, end))
        return found

    def clear_log(self):
        self._log_start = os.path.getsize(self.log_file)
