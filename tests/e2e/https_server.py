#!/usr/bin/env python3
"""HTTPS server for a release folder, as the download host serves it under "/maketor/app/".

Used in-process by the end-to-end suites (ReleaseServer in a thread, faults switched per test) and from the
command line by the demo and the benchmarks:

    https_server.py --root RELEASE_DIR --cert CERT.pem --key KEY.pem [--port N] [--log FILE]
                    [--slow PATH=SECONDS ...]

Every request path is recorded in order (and appended to --log when given) with the time it came, and so is
every Range header with the path it came with. A request "Range: bytes=N-" is answered 206 with the body from
byte N, one with "bytes=N-M" with the bytes N to M (416 when N is past the end). --latency delays every answer
(milliseconds), as a round trip over the internet does. Faults are set per request path (or for every path
with "*"), for every request or for the next few (set_fault's times):
    ("status", 404 | 500 | ...)   answer with that status and a short body
    ("cut", N)                    send the headers, then the body up to byte N of the file (nothing when the range
                                  starts there or later), then drop the connection
    ("stall", N)                  the same, but then keep the connection open and silent (up to STALL_SECONDS)
    ("drip", SECONDS)             send the headers, then one byte of the body every SECONDS
    ("endless", FILL)             answer 200 with no length and Connection: close: the file, then FILL (a bytes
                                  value) over and over, without end (up to ENDLESS_BYTES)
    ("announce", N)               announce a Content-Length of N, send the body as it is, then close
    ("slow", SECONDS)             send the body in small pieces spread over about SECONDS
    ("no-range", None)            ignore Range headers: always the whole body with 200
    ("short", N)                  announce the whole body's length, send N bytes fewer, then close
    ("long", N)                   announce N bytes fewer than the body has, send all of it, then close
    ("answer", STATUS)            send the whole file under another status (203, or 206 with a Content-Range
                                  over all of it), or a 204 without body, then close the connection
A path outside "/maketor/app/", or a file the release folder does not hold, is answered 404 and recorded
among the unknown paths.
"""
import argparse
import collections
import http.server
import os
import socket
import ssl
import sys
import threading
import time

PREFIX = "/maketor/app/"
# Bounds on the faults that never end by themselves, so that a client that does not give up cannot keep a test
# server busy for ever.
STALL_SECONDS = 120
DRIP_SECONDS = 300
ENDLESS_BYTES = 8 << 30


def origin_form(target):
    """The path of a request target. A server takes the absolute form ("https://host:port/path") as well (RFC
    9112, 3.2.2), and Wine's WinHTTP sends that form through a proxy's tunnel."""
    if target.startswith(("https://", "http://")):
        slash = target.find("/", target.index("//") + 2)
        return target[slash:] if slash >= 0 else "/"
    return target


class ReleaseRequestHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keep-alive, as the client reuses its connection
    # Headers and body leave in separate writes; with Nagle's algorithm the body would wait for the delayed
    # acknowledgement of the headers, 40 ms per small file.
    disable_nagle_algorithm = True
    server_version = "maketor-test-host/1.0"

    def log_message(self, format, *args):  # the request log below replaces the console chatter
        pass

    def do_GET(self):
        release = self.server.release
        path = origin_form(self.path)
        fault = release.fault_for(path)
        first, last = self.byte_range()
        if fault and fault[0] == "no-range":
            first = last = None  # ignored: the whole body is sent
        release.record(path, (first, last))
        if release.latency:
            time.sleep(release.latency)
        if fault and fault[0] == "status":
            self.send_small(fault[1], b"fault\n")
            return
        body = release.body_of(path)
        if body is None:
            release.record_unknown(path)
            self.send_small(404, b"not found\n")
            return
        if fault and fault[0] == "answer":
            self.send_whole_body_as(fault[1], body)
            return
        if fault and fault[0] == "endless":
            self.send_endless(path, body, fault[1])
            return
        asked, _ = self.byte_range()
        if asked is not None:
            release.record_range(path, asked, first is not None, last)
        if first is not None:
            if first >= len(body):
                self.send_small(416, b"range not satisfiable\n")
                return
            last = len(body) - 1 if last is None else min(last, len(body) - 1)
            self.send_response(206)
            self.send_header("Content-Range", f"bytes {first}-{last}/{len(body)}")
            body = body[first : last + 1]
        else:
            self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        announced = len(body)
        if fault and fault[0] == "short":
            announced, body = len(body), body[: len(body) - fault[1]]
        elif fault and fault[0] == "long":
            announced = len(body) - fault[1]
        elif fault and fault[0] == "announce":
            announced = fault[1]
        self.send_header("Content-Length", str(announced))
        if fault and fault[0] in ("short", "long", "announce"):
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        start = first or 0  # where the body sent begins in the file
        if fault and fault[0] in ("cut", "stall"):
            self.wfile.write(body[: max(0, fault[1] - start)])
            self.wfile.flush()
            if fault[0] == "stall":
                release.fault_end().wait(STALL_SECONDS)
            self.drop_connection()
        elif fault and fault[0] == "drip":
            self.send_dripping(body, fault[1])
        elif fault and fault[0] == "slow":
            self.send_slowly(body, fault[1])
        else:
            self.wfile.write(body)

    def byte_range(self):
        """(N, M) of a "Range: bytes=N-M" header, (N, None) of "bytes=N-", else (None, None)."""
        value = self.headers.get("Range")
        if value is None or not value.startswith("bytes=") or "-" not in value:
            return None, None
        first, _, last = value[6:].partition("-")
        if not first.isdigit() or not (last.isdigit() or last == "") or (last and int(last) < int(first)):
            return None, None
        return int(first), int(last) if last else None

    def send_small(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def send_whole_body_as(self, status, body):
        # Every byte of the file arrives (a 204 has none by definition), so only the status tells a client that
        # this is not the plain answer.
        if status == 204:
            body = b""
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if status != 204:
            self.send_header("Content-Length", str(len(body)))
        if status == 206:
            self.send_header("Content-Range", f"bytes 0-{len(body) - 1}/{len(body)}")
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
        self.wfile.flush()
        self.close_connection = True

    def send_slowly(self, body, seconds):
        pieces = 50
        step = max(1, len(body) // pieces)
        for start in range(0, len(body), step):
            self.wfile.write(body[start : start + step])
            self.wfile.flush()
            time.sleep(seconds / pieces)

    def send_dripping(self, body, seconds):
        deadline = time.monotonic() + DRIP_SECONDS
        end = self.server.release.fault_end()
        for index in range(len(body)):
            if time.monotonic() > deadline or (index > 0 and end.wait(seconds)):
                break
            try:
                self.wfile.write(body[index : index + 1])
                self.wfile.flush()
            except OSError:
                break  # the client gave up
        self.drop_connection()

    def send_endless(self, path, body, fill):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        sent = 0
        try:
            self.wfile.write(body)
            sent = len(body)
            chunk = fill * (65536 // len(fill))
            end = self.server.release.fault_end()
            while sent < ENDLESS_BYTES and not end.is_set():
                self.wfile.write(chunk)
                sent += len(chunk)
        except OSError:
            pass  # the client gave up
        self.server.release.record_sent(path, sent)
        self.drop_connection()

    def drop_connection(self):
        # An abrupt end without a TLS close_notify, like a network that went away.
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


class QuietThreadingHTTPServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # Clients that go away mid-body (cancellation, cut connections) are part of the tests; TLS errors are kept
        # for a suite that cannot reach the server to tell.
        error = sys.exc_info()[1]
        if isinstance(error, ssl.SSLError):
            self.tls_errors.append(f"{client_address}: {error}")


class ReleaseServer:
    """A threaded HTTPS server over one release folder, started and stopped by the caller."""

    def __init__(self, root, cert_file, key_file, port, log_file=None, latency=0.0):
        self.root = os.path.abspath(root)
        self.log_file = log_file
        self.latency = latency  # seconds before every answer
        self._lock = threading.Lock()
        self._paths = []
        self._byte_ranges = []  # (first, last) sent for each of _paths, (None, None) for a whole body
        self._unknown = []
        self._ranges = []
        self._faults = {}
        self._times = []
        self._sent = {}
        self._stopping = threading.Event()
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert_file, key_file)
        self._httpd = QuietThreadingHTTPServer(("127.0.0.1", port), ReleaseRequestHandler)
        # The handshake happens in the request's own thread, so a stalled client cannot hold up accept().
        self._httpd.socket = context.wrap_socket(self._httpd.socket, server_side=True, do_handshake_on_connect=False)
        self._httpd.release = self
        self._httpd.tls_errors = collections.deque(maxlen=5)
        self._thread = None

    def start(self):
        self._thread = threading.Thread(target=self._httpd.serve_forever, daemon=True)
        self._thread.start()
        return self

    def stop(self):
        self.fault_end().set()
        self._httpd.shutdown()
        self._httpd.server_close()
        self._thread.join()

    # Request log ---------------------------------------------------------------------------------------------
    def record(self, path, byte_range=(None, None)):
        with self._lock:
            self._paths.append(path)
            self._byte_ranges.append(byte_range)
            self._times.append((time.monotonic(), path))
            if self.log_file:
                with open(self.log_file, "a", encoding="utf-8") as log:
                    log.write(path + "\n")

    def record_range(self, path, first, honoured, last=None):
        with self._lock:
            self._ranges.append((path, first, honoured, last))
            if self.log_file:
                with open(self.log_file, "a", encoding="utf-8") as log:
                    log.write(f"{path} Range: bytes={first}-{'' if last is None else last}"
                              f"{'' if honoured else ' (ignored)'}\n")

    def range_requests(self):
        """(path, first byte, honoured) of every request that carried a Range header, in order."""
        with self._lock:
            return [(path, first, honoured) for path, first, honoured, _ in self._ranges]

    def pack_requests(self):
        """(digest, first byte, end) of every request for a pack, in order: (digest, 0, None) for a whole pack,
        end the byte after the last one sent (None: to the pack's end)."""
        marker = PREFIX + "packs/"
        with self._lock:
            requests = list(zip(self._paths, self._byte_ranges))
        return [(path[len(marker) : -len(".pack")], first or 0, None if last is None else last + 1)
                for path, (first, last) in requests if path.startswith(marker) and path.endswith(".pack")]

    def request_times(self):
        """(time.monotonic() when it came, path) of every request, in order."""
        with self._lock:
            return list(self._times)

    def record_sent(self, path, count):
        with self._lock:
            self._sent[path] = self._sent.get(path, 0) + count

    def sent_bytes(self, path):
        """The bytes an endless answer sent for path before the client went away."""
        with self._lock:
            return self._sent.get(path, 0)

    def fault_end(self):
        """An event set when the faults are cleared or the server stops: the end of the faults under way."""
        with self._lock:
            return self._stopping

    def tls_errors(self):
        """The last few TLS errors the server saw, newest last."""
        return list(self._httpd.tls_errors)

    def record_unknown(self, path):
        with self._lock:
            self._unknown.append(path)

    def requests(self):
        with self._lock:
            return list(self._paths)

    def unknown_requests(self):
        with self._lock:
            return list(self._unknown)

    def blob_requests(self):
        """Digests of the blobs requested, in request order."""
        marker = PREFIX + "blobs/"
        return [p[len(marker) : -len(".lzms")] for p in self.requests() if p.startswith(marker) and p.endswith(".lzms")]

    def patch_requests(self):
        """Digests of the patches requested, in request order."""
        marker = PREFIX + "patches/"
        return [p[len(marker) : -len(".zst")] for p in self.requests() if p.startswith(marker) and p.endswith(".zst")]

    def clear_log(self):
        with self._lock:
            self._paths.clear()
            self._byte_ranges.clear()
            self._unknown.clear()
            self._ranges.clear()
            self._times.clear()
            self._sent.clear()

    # Faults --------------------------------------------------------------------------------------------------
    def set_fault(self, path, fault, times=None):
        """path: a full request path, or "*" for every request; times: how many requests get it (None: all)."""
        with self._lock:
            self._faults[path] = [fault, times]

    def clear_faults(self):
        """Also ends the faults still under way (stalls, drips, endless bodies)."""
        with self._lock:
            self._faults.clear()
            self._stopping.set()  # ends the faults under way
            self._stopping = threading.Event()

    def fault_for(self, path):
        with self._lock:
            key = path if path in self._faults else "*"
            entry = self._faults.get(key)
            if not entry:
                return None
            fault, times = entry
            if times is not None:
                if times <= 1:
                    del self._faults[key]
                else:
                    entry[1] = times - 1
            return fault

    # Content -------------------------------------------------------------------------------------------------
    def set_root(self, root):
        with self._lock:
            self.root = os.path.abspath(root)

    def body_of(self, path):
        if not path.startswith(PREFIX) or "?" in path:
            return None
        relative = path[len(PREFIX) :]
        with self._lock:
            root = self.root
        full = os.path.realpath(os.path.join(root, relative))
        if not full.startswith(root + os.sep) or not os.path.isfile(full):
            return None
        with open(full, "rb") as f:
            return f.read()


def main():
    parser = argparse.ArgumentParser(description="Serve a release folder over HTTPS at " + PREFIX)
    parser.add_argument("--root", required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--port", type=int, default=int(os.environ.get("MAKETOR_TEST_PORT", "47443")))
    parser.add_argument("--log")
    parser.add_argument("--slow", action="append", default=[], metavar="PATH=SECONDS",
                        help="send the body of this request path slowly, spread over about SECONDS")
    parser.add_argument("--latency", type=float, default=0, metavar="MILLISECONDS",
                        help="wait this long before every answer")
    args = parser.parse_args()
    server = ReleaseServer(args.root, args.cert, args.key, args.port, args.log, args.latency / 1000)
    for slow in args.slow:
        path, _, seconds = slow.rpartition("=")
        if not path or not seconds:
            parser.error("--slow takes PATH=SECONDS")
        server.set_fault(path, ("slow", float(seconds)))
    server.start()
    print(f"serving {args.root} at https://localhost:{args.port}{PREFIX}", flush=True)
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        pass
    server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
