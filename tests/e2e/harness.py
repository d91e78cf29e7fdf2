"""Shared pieces of the end-to-end suites: releases made with maketor-publish, the test server with a CA that
only the test prefix trusts, the real setup executable under Wine, and readers for what it leaves behind
(files, install.json, the setup log, registry values, shortcuts).

The environment comes from tools/test (WINEPREFIX, DISPLAY, MAKETOR_TEST_PORT, MAKETOR_HOST_BUILD) and ctest
(MAKETOR_CROSS_BUILD)."""
import atexit
import base64
import json
import os
import random
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import unittest

from https_server import ReleaseServer
from make_test_ca import make_test_ca

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CROSS_BUILD = os.environ.get("MAKETOR_CROSS_BUILD", os.path.join(REPO, "build", "cross"))
HOST_BUILD = os.environ.get("MAKETOR_HOST_BUILD", os.path.join(REPO, "build", "host"))
TEST_PORT = int(os.environ.get("MAKETOR_TEST_PORT", "47443"))
DEVELOPMENT_KEY = os.path.join(REPO, "keys", "development.pem")
SETUP_EXE = os.path.join(CROSS_BUILD, "maketor-setup.exe")
PUBLISH = os.path.join(HOST_BUILD, "maketor-publish")

UNINSTALL_KEY = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Uninstall\TorvelMaketor"
SHORTCUT_NAME = "Макетор — Торвел.lnk"
LEGACY_SHORTCUT_NAMES = ("ТорВел — 3D-макетор.lnk", "Тор Вел — 3D-макетор.lnk")
COMPONENT_IDS = ("core", "nvidia", "amd", "intel", "vr")
VENDOR_COMPONENTS = {0x10DE: 1, 0x1002: 2, 0x8086: 3}
ERROR_PREFIX = "ОШИБКА: "


# Wine ---------------------------------------------------------------------------------------------------------
def wine_environment():
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    # No Mono or Gecko prompts, and no menu entries or .desktop files on the host for the shortcuts we make.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml=,winemenubuilder.exe=d"
    return env


def wine_prefix():
    return os.environ.get("WINEPREFIX") or os.path.expanduser("~/.wine")


def wine(program, *args, timeout=120):
    """Runs a Windows program (a Unix path or a Windows path) and waits for it. Its output goes through files,
    not pipes: services that Wine starts on the way inherit the handles and would hold a pipe open."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.run(["wine", program, *args], env=wine_environment(), timeout=timeout, stdout=out,
                                 stderr=err)
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(process.args, process.returncode, out.read(), err.read())


def keep_wineserver_running():
    """Every Windows program of a suite then starts in a fraction of a second instead of seconds. A second
    server for the same prefix would leave its clients hanging, so a running one is kept."""
    if not wine_processes("wineserver"):
        # Not on our output: a server left running would hold the test runner's pipe open until its timeout.
        subprocess.run(["wineserver", "-p"], env=wine_environment(), check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def wine_background(program, *args):
    return subprocess.Popen(["wine", program, *args], env=wine_environment(), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def cross_program(name):
    return os.path.join(CROSS_BUILD, name)


def to_unix(windows_path):
    """C:\\x\\y -> $WINEPREFIX/drive_c/x/y; Z:\\x\\y -> /x/y."""
    drive, rest = windows_path[0].lower(), windows_path[2:].replace("\\", "/").lstrip("/")
    if drive == "z":
        return "/" + rest
    return os.path.join(wine_prefix(), "drive_" + drive, rest)


def to_windows(unix_path):
    """The inverse of to_unix: paths in drive_c become C:\\..., every other path Z:\\..."""
    drive_c = os.path.join(wine_prefix(), "drive_c")
    unix_path = os.path.abspath(unix_path)
    if unix_path.startswith(drive_c + os.sep):
        return "C:\\" + os.path.relpath(unix_path, drive_c).replace("/", "\\")
    return "Z:" + unix_path.replace("/", "\\")


_folders = {}


def user_folders():
    """The prefix's TEMP, APPDATA, LOCALAPPDATA and USERPROFILE as Unix paths (asked from Wine once)."""
    if not _folders:
        names = ("TEMP", "APPDATA", "LOCALAPPDATA", "USERPROFILE")
        out = wine("cmd", "/c", "&".join(f"echo %{n}%" for n in names)).stdout.decode("utf-8", "replace")
        for name, value in zip(names, out.splitlines()):
            _folders[name] = to_unix(value.strip())
    return _folders


def start_menu_folder():
    return os.path.join(user_folders()["APPDATA"], "Microsoft", "Windows", "Start Menu", "Programs")


def desktop_folder():
    return os.path.join(user_folders()["USERPROFILE"], "Desktop")


def user_data_folder():
    return os.path.join(user_folders()["LOCALAPPDATA"], "Torvel", "Maketor")


def isolate_profile_folders():
    """A new prefix links Desktop, Documents and the like to the host's home: make them the prefix's own, so
    that shortcuts the tests create and remove never touch the host."""
    profile = user_folders()["USERPROFILE"]
    for name in os.listdir(profile):
        path = os.path.join(profile, name)
        if os.path.islink(path):
            os.unlink(path)
            os.mkdir(path)


def wine_processes(fragment):
    """Linux ids of this prefix's processes whose command line contains fragment (case-insensitive)."""
    found = []
    prefix = wine_prefix().encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                cmdline = f.read().replace(b"\0", b" ")
            with open(f"/proc/{pid}/environ", "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            continue
        if fragment.lower().encode() in cmdline.lower() and b"WINEPREFIX=" + prefix in environ:
            found.append(int(pid))
    return found


def setup_process_ids():
    """The Linux ids of the running setup program itself: the Windows process, whose first argument names the
    executable (not the scripts that mention it in their own arguments)."""
    found = []
    for pid in wine_processes("maketor-setup"):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                program = f.read().split(b"\0")[0]
        except OSError:
            continue
        if program.lower().endswith(b"maketor-setup.exe"):
            found.append(pid)
    return found


def wait_for_no_process(fragment, timeout=120):
    deadline = time.monotonic() + timeout
    while wine_processes(fragment):
        if time.monotonic() > deadline:
            raise TimeoutError(f"a process '{fragment}' still runs after {timeout} s")
        time.sleep(0.1)


def wait_until(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise TimeoutError(f"timed out waiting for {what}")
        time.sleep(0.05)


# The setup program -----------------------------------------------------------------------------------------
def run_setup(*args, exe=SETUP_EXE, timeout=180):
    """Runs the setup program and waits for it and for a temporary copy it may have relaunched."""
    result = wine(exe, *args, timeout=timeout)
    wait_for_setup_to_finish(timeout)
    return result


def kill_setup():
    """kill -9 of the running setup program."""
    killed = 0
    for pid in setup_process_ids():
        os.kill(pid, signal.SIGKILL)
        killed += 1
    return killed


def wait_for_setup_to_finish(timeout=180):
    """Waits until no setup process of this prefix runs: the built one, "setup.exe" copies in install folders
    and the temporary "maketor-setup-<id>.exe" copies they relaunch."""
    wait_for_no_process("setup.exe", timeout)
    wait_for_no_process("maketor-setup-", timeout)


def setup_log_path():
    return os.path.join(user_folders()["TEMP"], "maketor-setup.log")


def clear_setup_log():
    if os.path.exists(setup_log_path()):
        os.remove(setup_log_path())


def setup_log_lines():
    """The log's lines (UTF-8, CR LF), or [] when there is no log."""
    try:
        with open(setup_log_path(), "rb") as f:
            text = f.read().decode("utf-8")
    except FileNotFoundError:
        return []
    return text.split("\r\n")[:-1] if text.endswith("\r\n") else text.split("\r\n")


def log_errors():
    return [line[len(ERROR_PREFIX):] for line in setup_log_lines() if line.startswith(ERROR_PREFIX)]


# Install folders -----------------------------------------------------------------------------------------------
class InstallFolder:
    """A fresh installation folder inside the prefix, known by its Windows and its Unix path."""

    def __init__(self, name, leaf="Мой Макетор"):
        root = os.path.join(wine_prefix(), "drive_c", "e2e", name)
        shutil.rmtree(root, ignore_errors=True)
        os.makedirs(root)
        self.root = root
        self.windows = "C:\\e2e\\" + name + "\\" + leaf
        self.unix = os.path.join(root, leaf)

    def path(self, relative):
        return os.path.join(self.unix, *relative.replace("\\", "/").split("/"))

    def files(self):
        """Every file below the folder: relative path ("/" separators) -> bytes."""
        found = {}
        for folder, _, names in os.walk(self.unix):
            for name in names:
                full = os.path.join(folder, name)
                with open(full, "rb") as f:
                    found[os.path.relpath(full, self.unix).replace(os.sep, "/")] = f.read()
        return found

    def folders(self):
        return sorted(os.path.relpath(f, self.unix).replace(os.sep, "/") for f, _, _ in os.walk(self.unix)
                      if f != self.unix)

    def record_bytes(self):
        with open(self.path("install.json"), "rb") as f:
            return f.read()

    def record(self):
        return json.loads(self.record_bytes().decode("utf-8"))

    def write_record(self, record):
        with open(self.path("install.json"), "wb") as f:
            f.write(record_text(record))

    def snapshot(self):
        return self.files() if os.path.isdir(self.unix) else None


# Releases ----------------------------------------------------------------------------------------------------
def component_of_path(path):
    """The product's classification of a release path into a component index."""
    p = "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in path)
    rules = [
        ("start", "nvngx_", 1), ("start", "sl.dlss", 1), ("is", "sl.reflex.dll", 1), ("is", "sl.pcl.dll", 1),
        ("start", "amd_fidelityfx", 2), ("is", "licenses/amd-fsr.txt", 2),
        ("start", "libxess", 3), ("start", "licenses/intel-xess", 3),
        ("is", "basalt.dll", 4), ("start", "opencv_", 4), ("is", "fmt.dll", 4), ("is", "tbb12.dll", 4),
        ("is", "zlib1.dll", 4), ("is", "onnxruntime.dll", 4), ("start", "handmodels/", 4),
    ]
    for kind, text, component in rules:
        if (kind == "start" and p.startswith(text)) or (kind == "is" and p == text):
            return component
    return 0


class Release:
    """A release published with maketor-publish and the development key: its source files and its folder.
    block_size: the publisher's LZMS block size, when not its default (the blobs' bytes depend on it).
    previous: earlier Releases to make patches from."""

    def __init__(self, folder, version, files, block_size=None, previous=(), packs=True):
        self.version = version
        self.source_files = dict(files)
        self.source = os.path.join(folder, "source-" + version)
        self.folder = os.path.join(folder, "release-" + version)
        for relative, data in self.source_files.items():
            full = os.path.join(self.source, *relative.split("/"))
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(data)
        publish_release(self.source, self.folder, version, block_size, [p.folder for p in previous], packs)
        with open(os.path.join(self.folder, "manifest.json"), "rb") as f:
            self.manifest = json.loads(f.read().decode("utf-8"))
        self.entries = {entry["path"]: entry for entry in self.manifest["files"]}
        self.packs = {pack["sha256"]: pack for pack in self.manifest.get("packs", [])}

    def packs_of(self, paths):
        """The digests of the packs that hold a blob of one of the files."""
        digests = {self.entries[p]["sha256"] for p in paths}
        return sorted(d for d, pack in self.packs.items() if any(b["sha256"] in digests for b in pack["blobs"]))

    def blobs_in_pack(self, pack, first=0, end=None):
        """The digests of the blobs that the bytes [first, end) of a pack of this release carry whole."""
        if pack not in self.packs:
            return []
        end = self.packs[pack]["size"] if end is None else end
        csize = {entry["sha256"]: entry["csize"] for entry in self.manifest["files"]}
        return [blob["sha256"] for blob in self.packs[pack]["blobs"]
                if blob["offset"] >= first and blob["offset"] + csize[blob["sha256"]] <= end]

    def pack_path(self, pack):
        return os.path.join(self.folder, "packs", pack + ".pack")

    def pack_request_path(self, pack):
        return "/maketor/app/packs/" + pack + ".pack"

    def pack_of(self, relative):
        """The digest of the pack that holds the file's blob, and the blob's offset in it; (None, None) when none."""
        for digest, pack in self.packs.items():
            for blob in pack["blobs"]:
                if blob["sha256"] == self.entries[relative]["sha256"]:
                    return digest, blob["offset"]
        return None, None

    def blob_path(self, relative):
        return os.path.join(self.folder, "blobs", self.entries[relative]["sha256"] + ".lzms")

    def blob(self, relative):
        with open(self.blob_path(relative), "rb") as f:
            return f.read()

    def request_path(self, relative):
        return "/maketor/app/blobs/" + self.entries[relative]["sha256"] + ".lzms"

    def selected_files(self, selection):
        return {p: d for p, d in self.source_files.items() if selection[component_of_path(p)]}

    def installed_size(self, selection):
        return sum(self.entries[p]["size"] for p in self.selected_files(selection))

    def expected_record(self, selection):
        return {
            "components": [cid for index, cid in enumerate(COMPONENT_IDS) if selection[index]],
            "files": {p: self.entries[p]["sha256"] for p in self.selected_files(selection)},
            "offered": list(COMPONENT_IDS),
            "version": self.version,
        }

    def summary_line(self, install_dir, fetched_paths):
        kib = sum(self.entries[p]["csize"] for p in fetched_paths) >> 10
        return f"установлено {self.version} в {install_dir}: скачано файлов {len(fetched_paths)}, {kib} КБ"


def publish_release(source, release_folder, version, block_size=None, previous_folders=(), packs=True):
    options = ["--block-size", str(block_size)] if block_size else []
    if not packs:
        options += ["--pack-size", "0"]
    for folder in previous_folders:
        options += ["--previous", folder]
    result = subprocess.run([PUBLISH, "release", "--key", DEVELOPMENT_KEY, "--version", version, "--date",
                             "2025-01-01", *options, source, release_folder], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    if result.returncode != 0:
        raise RuntimeError("maketor-publish release failed: " + result.stderr.decode("utf-8", "replace"))


def sign_manifest(release_folder, manifest_bytes):
    """Writes manifest.json and a signature over it with the development key, as maketor-publish signs (the
    Base64 of r||s): a hand-edited manifest that the product must judge on its rules alone."""
    manifest_path = os.path.join(release_folder, "manifest.json")
    with open(manifest_path, "wb") as f:
        f.write(manifest_bytes)
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", DEVELOPMENT_KEY, manifest_path], check=True,
                         stdout=subprocess.PIPE).stdout
    # SEQUENCE { INTEGER r, INTEGER s }, every length below 128 for P-256.
    numbers, offset = [], 2
    for _ in range(2):
        length = der[offset + 1]
        numbers.append(int.from_bytes(der[offset + 2 : offset + 2 + length], "big"))
        offset += 2 + length
    with open(os.path.join(release_folder, "manifest.sig"), "wb") as f:
        f.write(base64.b64encode(b"".join(n.to_bytes(32, "big") for n in numbers)))


def record_text(record):
    """install.json as the product writes it: sorted keys, one-space indent, raw UTF-8, CR LF, no final newline."""
    return json.dumps(record, indent=1, ensure_ascii=False, sort_keys=True).replace("\n", "\r\n").encode("utf-8")


def standin_bytes(marker=b""):
    """The stand-in application, made distinct per release by bytes after its image (Windows ignores them)."""
    with open(cross_program("maketor_standin.exe"), "rb") as f:
        return f.read() + marker


def setup_bytes():
    with open(SETUP_EXE, "rb") as f:
        return f.read()


# The server --------------------------------------------------------------------------------------------------
class TestHost:
    """The test CA (trusted in this prefix only) and the HTTPS server on the test port. One per suite."""

    def __init__(self):
        self.workdir = tempfile.mkdtemp(prefix="maketor-e2e-")
        self.server = None
        try:
            self._set_up()
        except BaseException:
            self.close()  # a suite that cannot start leaves no server, wineserver or folder behind
            raise

    def _set_up(self):
        keep_wineserver_running()
        isolate_profile_folders()
        self.ca = make_test_ca(os.path.join(self.workdir, "ca"))
        trust = wine(cross_program("trust_ca.exe"), to_windows(self.ca["ca_der"]))
        if trust.returncode != 0:
            raise RuntimeError("trust_ca.exe failed: " + trust.stderr.decode("utf-8", "replace"))
        empty = os.path.join(self.workdir, "empty")
        os.makedirs(empty)
        self.start(empty)
        # A loaded machine has failed a first handshake once (WinHTTP error 12157); only a repeated failure
        # means the prefix cannot reach the server.
        for attempt in range(3):
            probe = wine(cross_program("https_probe.exe"), str(TEST_PORT), "/maketor/app/probe")
            if b"status 404" in probe.stdout:
                break
            time.sleep(2)
        else:
            raise RuntimeError("WinHTTP in the prefix does not reach the test server: "
                               + (probe.stdout + probe.stderr).decode("utf-8", "replace")
                               + "; the server's TLS errors: " + "; ".join(self.server.tls_errors()))
        self.server.clear_log()

    def start(self, root):
        self.server = ReleaseServer(root, self.ca["server_cert"], self.ca["server_key"], TEST_PORT).start()

    def stop_serving(self):
        root = self.server.root
        self.server.stop()
        self.server = None
        return root

    def serve(self, release):
        self.served = release
        self.server.set_root(release.folder)
        self.server.clear_faults()
        self.server.clear_log()

    def close(self):
        if self.server:
            self.server.stop()
        shutil.rmtree(self.workdir, ignore_errors=True)
        subprocess.run(["wineserver", "-k"], env=wine_environment())


# The stand-in application --------------------------------------------------------------------------------------
def read_text(path):
    """The file's text, or "" when it does not exist (yet)."""
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except FileNotFoundError:
        return ""


class StandIn:
    """A running stand-in (see tests/wine/helpers/maketor_standin.cpp): started, asked for its id, closed."""

    def __init__(self, exe_windows_path, *args):
        temp = user_folders()["TEMP"]
        self.pid_file = os.path.join(temp, "maketor-standin.pid")
        self.close_file = os.path.join(temp, "maketor-standin.close")
        for stale in (self.pid_file, self.close_file):
            if os.path.exists(stale):
                os.remove(stale)
        self.process = wine_background(exe_windows_path, *args)
        wait_until(lambda: read_text(self.pid_file).strip(), 30, "the stand-in's process id")
        self.windows_pid = int(read_text(self.pid_file))

    def close(self, timeout=30):
        with open(self.close_file, "w"):
            pass
        self.process.wait(timeout)

    def running(self):
        return self.process.poll() is None


class HeldFile:
    """A file held open by another process, as a scanner holds a new file (tests/wine/helpers/hold_file.cpp)."""

    def __init__(self, windows_path, seconds):
        self.process = subprocess.Popen(["wine", cross_program("hold_file.exe"), windows_path,
                                         str(int(seconds * 1000))], env=wine_environment(),
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        if self.process.stdout.readline().strip() != b"held":
            raise AssertionError("hold_file.exe could not open " + windows_path)

    def wait(self, timeout=60):
        self.process.wait(timeout)
        self.process.stdout.close()


# Registry and shortcuts ------------------------------------------------------------------------------------------
def registry_values(key=UNINSTALL_KEY):
    """The values of one key exported with regedit: name -> str (REG_SZ) or int (REG_DWORD); None when the key
    does not exist."""
    out = os.path.join(tempfile.mkdtemp(prefix="maketor-reg-"), "key.reg")
    try:
        wine("regedit", "/E", to_windows(out), key)
        if not os.path.exists(out):
            return None
        with open(out, "rb") as f:
            text = f.read().decode("utf-16")
    finally:
        shutil.rmtree(os.path.dirname(out), ignore_errors=True)
    if "[" + key + "]" not in text:
        return None
    values = {}
    in_key = False
    for line in text.splitlines():
        if line.startswith("["):
            in_key = line.strip() == "[" + key + "]"
        elif in_key and line.startswith('"'):
            name, raw = parse_reg_name(line)
            if raw.startswith('"'):
                values[name] = parse_reg_string(raw)
            elif raw.startswith("dword:"):
                values[name] = int(raw[6:], 16)
            else:
                values[name] = raw
    return values


def parse_reg_name(line):
    end = 1
    while line[end] != '"':
        end += 2 if line[end] == "\\" else 1
    return parse_reg_string(line[: end + 1]), line[end + 2 :]


def parse_reg_string(quoted):
    body = quoted[1 : quoted.rindex('"')]
    out, i = [], 0
    while i < len(body):
        if body[i] == "\\" and i + 1 < len(body):
            out.append(body[i + 1])
            i += 2
        else:
            out.append(body[i])
            i += 1
    return "".join(out)


def delete_registry_key(key=UNINSTALL_KEY):
    wine("reg", "delete", key, "/f")


def read_shortcut(path):
    """The parts of a shell link file (the binary .lnk format) the tests look at."""
    with open(path, "rb") as f:
        data = f.read()
    flags = struct.unpack_from("<I", data, 0x14)[0]
    icon_index = struct.unpack_from("<i", data, 0x38)[0]
    offset = 0x4C
    if flags & 0x01:  # HasLinkTargetIDList
        offset += 2 + struct.unpack_from("<H", data, offset)[0]
    target = ""
    if flags & 0x02:  # HasLinkInfo; its local path counts only in Unicode (the ANSI one is in the code page)
        info_size, header_size = struct.unpack_from("<2I", data, offset)
        if header_size >= 0x24:
            start = offset + struct.unpack_from("<I", data, offset + 0x1C)[0]
            end = start
            while data[end : end + 2] != b"\0\0":
                end += 2
            target = data[start:end].decode("utf-16-le")
        offset += info_size
    strings = {}
    unicode = bool(flags & 0x80)
    for bit, name in ((0x04, "description"), (0x08, "relative_path"), (0x10, "working_dir"),
                      (0x20, "arguments"), (0x40, "icon_location")):
        if flags & bit:
            count = struct.unpack_from("<H", data, offset)[0]
            offset += 2
            size = count * 2 if unicode else count
            raw = data[offset : offset + size]
            text = raw.decode("utf-16-le") if unicode else raw.decode("latin-1")
            strings[name] = text.rstrip("\0")  # Wine counts the terminating null in
            offset += size
    strings.setdefault("arguments", "")
    return dict(strings, target=target, icon_index=icon_index)


def shortcut_paths():
    folders = (start_menu_folder(), desktop_folder())
    names = (SHORTCUT_NAME,) + LEGACY_SHORTCUT_NAMES
    return [os.path.join(folder, name) for folder in folders for name in names]


def remove_shortcuts():
    for path in shortcut_paths():
        if os.path.exists(path):
            os.remove(path)


# Graphics adapters -----------------------------------------------------------------------------------------------
_adapter_selection = []


def adapter_selection():
    """The components a fresh install preselects on this machine: core and the vendors DXGI lists."""
    if not _adapter_selection:
        out = wine(cross_program("gpu_vendors.exe")).stdout.decode().split()
        selection = [True, False, False, False, False]
        for vendor in out:
            component = VENDOR_COMPONENTS.get(int(vendor, 16))
            if component:
                selection[component] = True
        _adapter_selection.extend(selection)
    return list(_adapter_selection)


# Test cases --------------------------------------------------------------------------------------------------------
_host = None


def test_host():
    """The suite's one TestHost, made on first use and closed when the suite's process ends."""
    global _host
    if _host is None:
        _host = TestHost()
        atexit.register(_host.close)
    return _host


def noise(size, seed):
    """Bytes that do not compress."""
    rng = random.Random(seed)
    return b"".join(rng.randbytes(min(1 << 24, size - start)) for start in range(0, size, 1 << 24))


def text_bytes(size, seed):
    """Bytes that compress well."""
    words = [b"shelf", b"rack", b"aisle", b"counter", "витрина".encode(), b"\r\n", b" "]
    rng = random.Random(seed)
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words)
    return bytes(out[:size])


def sample_files(tag, with_setup=False):
    """A small release with files of every component, nested folders, a Cyrillic name and an empty file."""
    files = {
        "maketor.exe": standin_bytes(tag.encode()),
        "data/catalog.json": text_bytes(40_000, tag + "catalog"),
        "data/models/стеллаж.bin": noise(70_000, tag + "shelf"),
        "fonts/Inter-Regular.ttf": noise(20_000, "font"),
        "images/logo.png": noise(5_000, "logo"),
        "empty.dat": b"",
        "nvngx_dlss.dll": noise(30_000, "dlss"),
        "amd_fidelityfx_dx12.dll": noise(25_000, "fsr"),
        "licenses/amd-fsr.txt": text_bytes(3_000, "fsr-license"),
        "libxess.dll": noise(22_000, "xess"),
        "basalt.dll": noise(18_000, "basalt"),
        "handmodels/left.onnx": noise(12_000, "left"),
    }
    if with_setup:
        files["setup.exe"] = setup_bytes()
    return files


def changed_release_files(base):
    """The next release: two files change, one is added in a new folder, one is dropped (its folder with it)."""
    files = dict(base)
    files["maketor.exe"] = base["maketor.exe"] + b"v2"
    files["data/catalog.json"] = text_bytes(41_000, "catalog v2")
    files["data/new/added.bin"] = noise(9_000, "added")
    del files["images/logo.png"]
    return files


class LifecycleTest(unittest.TestCase):
    """Base of the suites: the test host, a clean registry, log and shortcuts before every test."""

    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.host = test_host()
        cls.workdir = tempfile.mkdtemp(prefix=cls.__name__ + "-", dir=cls.host.workdir)

    def setUp(self):
        clear_setup_log()
        remove_shortcuts()
        delete_registry_key()
        self.standins = []

    def tearDown(self):
        for standin in self.standins:
            if standin.running():
                standin.close()

    @property
    def server(self):
        return self.host.server

    def new_folder(self, leaf="Мой Макетор"):
        return InstallFolder(self.id().split(".")[-1].replace("test_", "")[:40], leaf)

    @classmethod
    def make_release(cls, version, files, block_size=None, previous=(), packs=True):
        """packs=False: a release without packs, whose every blob is fetched on its own."""
        cls.release_count = getattr(cls, "release_count", 0) + 1
        return Release(os.path.join(cls.workdir, str(cls.release_count)), version, files, block_size, previous,
                       packs)

    def serve(self, release):
        self.host.serve(release)

    def start_standin(self, exe_windows_path, *args):
        standin = StandIn(exe_windows_path, *args)
        self.standins.append(standin)
        return standin

    def install(self, folder, release, install_dir=None):
        """An unattended install of the release into the folder; returns the blobs it fetched (fetched_blobs)."""
        self.serve(release)
        run_setup("/auto", "/dir", install_dir or folder.windows)
        return self.fetched_blobs()

    def update(self, folder, release=None):
        if release:
            self.serve(release)
        else:
            self.server.clear_log()
        run_setup("/update", "/dir", folder.windows, "/auto")
        return self.fetched_blobs()

    def fetched_blobs(self):
        """Digests of the blobs the run fetched from the release served, in request order: those asked for on
        their own, then those that came whole inside the pieces of packs it asked for (those it needed, and
        any the cost rule let it fetch in vain between them)."""
        return self.server.blob_requests() + [digest for pack, first, end in self.server.pack_requests()
                                              for digest in self.host.served.blobs_in_pack(pack, first, end)]

    def assert_fetched(self, expected):
        """The run fetched the blobs expected (digests), each once: on their own, or inside pieces of packs that
        begin and end with one of them; only blobs between those ends came in vain."""
        alone = self.server.blob_requests()
        pieces = [self.host.served.blobs_in_pack(*piece) for piece in self.server.pack_requests()]
        self.assertTrue(all(piece and piece[0] in expected and piece[-1] in expected for piece in pieces), pieces)
        fetched = alone + [digest for piece in pieces for digest in piece]
        self.assertEqual(sorted(d for d in fetched if d in expected), sorted(expected))

    def fetched_bytes(self):
        """The blob and pack bytes the run was sent: its summary line's kilobytes, but for patches."""
        release = self.host.served
        csize = {entry["sha256"]: entry["csize"] for entry in release.manifest["files"]}
        return (sum(csize[d] for d in self.server.blob_requests())
                + sum((release.packs[pack]["size"] if end is None else end) - first
                      for pack, first, end in self.server.pack_requests()))

    # Assertions over what a successful run leaves ----------------------------------------------------------
    def assert_no_errors(self):
        self.assertEqual(log_errors(), [])

    def assert_files(self, folder, release, selection, extra=()):
        expected = release.selected_files(selection)
        expected["install.json"] = record_text(release.expected_record(selection))
        for relative in extra:
            expected[relative] = folder.files()[relative]
        self.assertEqual(sorted(folder.files()), sorted(expected))
        for relative, data in expected.items():
            self.assertEqual(folder.files()[relative], data, relative)

    def assert_registry(self, folder, release, selection, install_dir=None):
        install_dir = install_dir or folder.windows
        values = registry_values()
        self.assertIsNotNone(values, "no uninstall entry")
        base = install_dir if install_dir.endswith("\\") else install_dir + "\\"
        url = values.pop("URLInfoAbout", "")
        self.assertTrue(url.startswith("https://") and url.endswith("/"), url)
        self.assertEqual(values, {
            "DisplayName": "Макетор — Торвел",
            "DisplayVersion": release.version,
            "Publisher": "Торвел",
            "InstallLocation": install_dir,
            "DisplayIcon": base + "maketor.exe",
            "UninstallString": '"' + base + 'setup.exe" /uninstall',
            "ModifyPath": '"' + base + 'setup.exe"',
            "EstimatedSize": release.installed_size(selection) >> 10,
            "NoModify": 0,
            "NoRepair": 1,
        })

    def assert_shortcut(self, link_path, folder):
        self.assertTrue(os.path.exists(link_path), link_path)
        link = read_shortcut(link_path)
        target = folder.windows.rstrip("\\") + "\\maketor.exe"
        self.assertEqual(link["description"], "3D-макетор магазина — Торвел")
        self.assertEqual(link["working_dir"].rstrip("\\"), folder.windows.rstrip("\\"))
        self.assertEqual((link["icon_location"], link["icon_index"]), (target, 0))
        self.assertEqual(link["arguments"], "")
        if link["target"]:  # the link's own copy of the path, when the shell wrote one in Unicode
            self.assertEqual(link["target"], target)

    def assert_installed(self, folder, release, selection, fetched, install_dir=None):
        """Files, record, registry, Start-menu shortcut and the summary line of a successful run."""
        install_dir = install_dir or folder.windows
        self.assert_no_errors()
        self.assertEqual(self.server.unknown_requests(), [])  # only paths the release has were asked for
        self.assert_files(folder, release, selection)
        self.assert_registry(folder, release, selection, install_dir)
        self.assert_shortcut(os.path.join(start_menu_folder(), SHORTCUT_NAME), folder)
        self.assertEqual(setup_log_lines()[-1], release.summary_line(install_dir, fetched))
