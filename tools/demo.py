#!/usr/bin/env python3
"""The demo's story, run by tools/demo once both trees are built and a Wine prefix and display are up (WINEPREFIX
and DISPLAY in the environment): a test CA trusted in the prefix and a throw-away code-signing certificate,
release 1.0.0 published with tools/release (the setup program signed) and served by nginx over HTTPS, a first
install through the setup window, release 1.1.0 and the in-place update the application starts, and the
uninstall from the registry entry. Screenshots, the request log and the setup log land in --out.

Exits 0 when every step did what it should, 1 with a message naming the step that did not."""
import argparse
import hashlib
import json
import os
import shutil
import subprocess
import sys
import time

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
E2E = os.path.join(REPO, "tests", "e2e")
DEVELOPMENT_KEY = os.path.join(REPO, "keys", "development.pem")
DEVELOPMENT_PUBLIC_KEY = os.path.join(REPO, "keys", "development.pub")
SIGNING_PASSWORD = "demo-" + os.urandom(6).hex()
PREFIX = "/maketor/app/"

INSTALL_TITLE = "Установка — Макетор — Торвел"  # also the update's window
UNINSTALL_TITLE = "Удаление — Макетор — Торвел"

# Client points at scale 1.0, from the window's layout. Install window 600 × 660: the bar's buttons at
# y 596..636 (main 408..568, second 288..408 on Finished), component rows at y 286 + 44 i (hit y − 2 .. y + 38,
# box left at 32), "Запустить после установки" box at y 540..558. Update and uninstall windows 600 × 420:
# the bar at y 356..396.
INSTALL_SIZE, SMALL_SIZE = (600, 660), (600, 420)
FAILED_INSTALL_SIZE, FAILED_RETRY_LEFT = (600, 704), (414, 660)  # grown for the error text: the bar at 640..680
INSTALL_MAIN = (488, 616)
INSTALL_MAIN_LEFT = (414, 616)     # inside "Установить" (408..) but left of "Отмена" while running (448..)
FINISHED_MAIN_LEFT = (424, 616)    # inside "Запустить" (418..568)
FINISHED_CLOSE = (348, 616)        # "Закрыть" 288..408
LAUNCH_BOX, LAUNCH_BOX_PIXEL = (100, 549), (35, 549)
COMPONENT_NAMES = ("Макетор", "NVIDIA DLSS", "AMD FSR", "Intel XeSS", "XREAL")  # as the rows name them
UPDATE_FINISHED_LEFT = (424, 376)
UNINSTALL_MAIN = (488, 376)        # "Удалить": W − M − 160 .. W − M
UNINSTALL_MAIN_LEFT = (414, 376)   # red while it asks; outside "Закрыть" (428..568) once done
UNINSTALLED_CLOSE = (436, 376)     # inside "Закрыть" (428..568), left of its label

ACCENT, DANGER, WHITE = (0xFF, 0xB4, 0x00), (0xE5, 0x48, 0x4D), (0xFF, 0xFF, 0xFF)

SLOW_SECONDS = 8.0


def row_point(index):
    return (300, 286 + 44 * index + 18)


def row_box_pixel(index):
    return (35, 286 + 44 * index + 11)


class DemoFailure(Exception):
    pass


def step(title):
    print(f"\n== {title}", flush=True)


def say(text=""):
    print("   " + text if text else "", flush=True)


def close_to(a, b, tolerance=3):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


def wait_until(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise DemoFailure(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(0.1)


def xdotool(*args):
    return subprocess.run(["xdotool", *map(str, args)], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          text=True).stdout.strip()


# The window ------------------------------------------------------------------------------------------------------
class Window:
    """A visible setup window found by its title: real pointer clicks through xdotool, pixels and screenshots
    through ImageMagick."""

    def __init__(self, title, size, out, timeout=60):
        self.title, self.out = title, out
        found = wait_until(lambda: xdotool("search", "--onlyvisible", "--name", "^" + title + "$").split(), timeout,
                           f'the window "{title}"')
        self.id = found[-1]
        geometry = dict(line.split("=") for line in xdotool("getwindowgeometry", "--shell", self.id).splitlines())
        self.left, self.top = int(geometry["X"]), int(geometry["Y"])
        self.width, self.height = int(geometry["WIDTH"]), int(geometry["HEIGHT"])
        if (self.width, self.height) != size:
            raise DemoFailure(f'the window "{title}" is {self.width}x{self.height}, expected {size[0]}x{size[1]} '
                              "(the layout's points hold at scale 1.0 only)")
        time.sleep(0.5)  # a few 60 ms timer ticks: the first frames are on screen
        say(f'window "{title}" at {self.left},{self.top}, {self.width}x{self.height}')

    def visible(self):
        return self.id in xdotool("search", "--onlyvisible", "--name", "^" + self.title + "$").split()

    def click(self, point, what):
        xdotool("mousemove", self.left + point[0], self.top + point[1])
        time.sleep(0.25)
        xdotool("click", "1")
        time.sleep(0.3)
        # Off the window again, so that no button stays hovered and changes colour.
        # Wine notices the pointer's leave on a timer of its own.
        xdotool("mousemove", max(self.left - 20, 0), max(self.top - 20, 0))
        time.sleep(0.3)
        say(f"clicked {what} at {point[0]},{point[1]}")

    def grab(self):
        """The client area's pixels, RGB, row by row."""
        result = subprocess.run(["import", "-window", "root", "-crop",
                                 f"{self.width}x{self.height}+{self.left}+{self.top}", "-depth", "8", "rgb:-"],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)
        if len(result.stdout) != self.width * self.height * 3:
            raise DemoFailure("ImageMagick's import could not read the screen")
        return result.stdout

    def pixel(self, point, frame=None):
        frame = frame if frame is not None else self.grab()
        offset = (point[1] * self.width + point[0]) * 3
        return tuple(frame[offset:offset + 3])

    def save(self, frame, name, what):
        path = os.path.join(self.out, name + ".png")
        subprocess.run(["convert", "-size", f"{self.width}x{self.height}", "-depth", "8", "rgb:-", path],
                       input=frame, check=True, timeout=60)
        say(f"screenshot {os.path.relpath(path, REPO)}: {what}")
        return path

    def screenshot(self, name, what):
        return self.save(self.grab(), name, what)

    def follow_size(self):
        geometry = dict(line.split("=") for line in xdotool("getwindowgeometry", "--shell", self.id).splitlines())
        self.width, self.height = int(geometry["WIDTH"]), int(geometry["HEIGHT"])
        return self.width, self.height

    def wait_for_pixel(self, point, colour, timeout, what):
        return wait_until(lambda: close_to(self.pixel(point), colour), timeout, what)


# The demo ---------------------------------------------------------------------------------------------------------
class Demo:
    def __init__(self, args):
        self.args = args
        self.out = args.out
        self.release_folder = os.path.join(self.out, "release")
        self.request_log = os.path.join(self.out, "requests.log")
        self.server = None
        self.screenshots = []
        self.install_dir = None  # Windows path, from the registry entry
        self.selection = None
        self.releases = {}
        self.log_mark = 0  # setup log lines before the current phase
        self.request_phases = {}  # index of the first request of a phase -> what the phase is
        self.published_packs = {}  # version -> the manifest's packs

    # Preparation -----------------------------------------------------------------------------------------------
    def prepare_output(self):
        shutil.rmtree(self.out, ignore_errors=True)
        os.makedirs(self.out)
        say(f"output in {os.path.relpath(self.out, REPO)}/")

    def trust_test_ca(self):
        step("2. Test CA and a certificate for localhost, trusted in the demo prefix only; a code-signing certificate")
        harness.keep_wineserver_running()
        self.ca = harness.make_test_ca(os.path.join(self.args.session, "ca"))
        say(f"CA {self.ca['ca_pem']}, server certificate {self.ca['server_cert']}")
        trust = harness.wine(harness.cross_program("trust_ca.exe"), harness.to_windows(self.ca["ca_der"]))
        if trust.returncode != 0:
            raise DemoFailure("trust_ca.exe could not add the test CA: " + trust.stderr.decode("utf-8", "replace"))
        say("trust_ca.exe added the CA to the prefix's Root store")
        self.signing = make_code_signing_certificate(os.path.join(self.args.session, "signing"), SIGNING_PASSWORD)
        say(f"code-signing certificate \"Torvel test publisher\" of a throw-away CA: {self.signing['pkcs12']}")

    def publish(self, version, files, previous=()):
        """tools/release: places the signed setup program as setup.exe beside the files, publishes and verifies;
        previous: folders of earlier releases to make patches from."""
        source = os.path.join(self.out, "source-" + version)
        for relative, data in files.items():
            path = os.path.join(source, *relative.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        command = [os.path.join(REPO, "tools", "release"), "--host", "localhost", "--port", str(self.args.port),
                   "--public-key", DEVELOPMENT_PUBLIC_KEY, "--key", DEVELOPMENT_KEY, "--version", version,
                   "--cross-build", self.args.cross_build, "--publisher", harness.PUBLISH]
        for folder in previous:
            command += ["--previous", folder]
        command += [source, self.release_folder]
        say(f"$ MAKETOR_SIGNING_PKCS12={self.signing['pkcs12']} MAKETOR_SIGNING_PASSWORD=… " +
            " ".join(os.path.relpath(part, REPO) if os.path.isabs(part) else part for part in command))
        env = dict(os.environ, MAKETOR_SIGNING_PKCS12=self.signing["pkcs12"], MAKETOR_SIGNING_PASSWORD=SIGNING_PASSWORD)
        result = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        for line in result.stdout.splitlines():
            say("   " + line)
        if result.returncode != 0:
            raise DemoFailure(f"tools/release could not publish {version}: " + result.stderr.strip())
        with open(os.path.join(source, "setup.exe"), "rb") as f:
            files = dict(files, **{"setup.exe": f.read()})
        self.check_published_signature(files["setup.exe"])
        self.releases[version] = files
        with open(os.path.join(self.release_folder, "manifest.json"), encoding="utf-8") as f:
            self.published_packs[version] = json.load(f).get("packs", [])
        total = sum(len(data) for data in files.values())
        say(f"{version}: {len(files)} files, {total / 2**20:.1f} MiB, from {os.path.relpath(source, REPO)}/")
        for relative in sorted(files):
            component = COMPONENT_NAMES[harness.component_of_path(relative)]
            say(f"   {relative:32} {len(files[relative]):>10} bytes  {component}")

    def check_published_signature(self, setup):
        """The published setup.exe, unpacked from its blob, checked with osslsigncode against the signing CA."""
        blob = os.path.join(self.release_folder, "blobs", sha256(setup) + ".lzms")
        unpacked = os.path.join(self.args.session, "published-setup.exe")
        subprocess.run([harness.PUBLISH, "unpack", blob, unpacked], check=True)
        verify = subprocess.run(["osslsigncode", "verify", "-in", unpacked, "-CAfile", self.signing["ca_pem"]],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if verify.returncode != 0 or "Signature verification: ok" not in verify.stdout:
            raise DemoFailure("the published setup.exe does not verify: " + verify.stdout.strip()[-400:])
        subject = next(line.split(":", 1)[1].strip() for line in verify.stdout.splitlines()
                       if line.strip().startswith("Subject:"))
        say(f"osslsigncode verify, published setup.exe: Signature verification: ok (signer {subject})")

    def start_server(self, slow_paths):
        """nginx with the vendor's configuration; slow_paths (request path -> body size) sent at a rate that
        takes SLOW_SECONDS each."""
        rates = {path: int(size / SLOW_SECONDS) for path, size in slow_paths.items()}
        self.server = NginxServer(self.release_folder, self.ca["server_cert"], self.ca["server_key"], self.args.port,
                                  os.path.join(self.args.session, "nginx"), log_file=self.request_log,
                                  slow=rates).start()
        with open(os.path.join(self.args.session, "server.pid"), "w") as f:
            f.write(str(self.server.pid))
        say(f"nginx serves {os.path.relpath(self.release_folder, REPO)}/ at https://localhost:{self.args.port}{PREFIX}"
            f" with tools/nginx/maketor-downloads.conf, request log {os.path.relpath(self.request_log, REPO)}")
        for path, rate in rates.items():
            say(f"slow body ({rate // 1024} KiB/s, about {SLOW_SECONDS:.0f} s) for {path}")
        self.request_phases[len(self.requests())] = "https_probe.exe"
        probe = harness.wine(harness.cross_program("https_probe.exe"), str(self.args.port), PREFIX + "manifest.json")
        if not probe.stdout.startswith(b"status 200"):
            raise DemoFailure("WinHTTP in the prefix does not reach the server: "
                              + (probe.stdout + probe.stderr).decode("utf-8", "replace").strip())
        say("https_probe.exe (WinHTTP in the prefix) gets manifest.json: " + probe.stdout.decode().strip())

    def stop_server(self):
        if self.server:
            self.server.stop()

    def requests(self):
        return self.server.requests() if self.server else []

    # A failed first install, keyboard focus ----------------------------------------------------------------------
    def failed_first_install(self):
        """Before the server runs: "Установить" fails at once for want of a connection; the window grows so that
        the error stands clear of the checkboxes, and Tab puts the keyboard focus on a row."""
        step("3a. A first install while the site cannot be reached, then the keyboard")
        process = harness.wine_background(harness.SETUP_EXE)
        window = Window(INSTALL_TITLE, INSTALL_SIZE, self.out)
        window.click(INSTALL_MAIN, '"Установить"')
        failure = harness.ERROR_PREFIX + "Нет связи с сайтом Торвел. Проверьте интернет и повторите."
        wait_until(lambda: failure in harness.setup_log_lines(), 20, "the failure for want of a connection")
        wait_until(lambda: window.follow_size() == FAILED_INSTALL_SIZE, 10, "the window to grow for the error")
        window.wait_for_pixel(FAILED_RETRY_LEFT, ACCENT, 10, '"Повторить"')
        self.shoot(window, "choose-failed", "Choose after a failed first install: the error above the buttons")
        # Keys go to the window under the pointer (no window manager): onto the title, where no control is.
        xdotool("mousemove", window.left + 300, window.top + 110)
        for _ in range(2):  # "Изменить…" does nothing after a failure, so Tab passes it: rows 1, then 2
            xdotool("key", "Tab")
            time.sleep(0.3)
        self.shoot(window, "keyboard-focus", 'Tab twice: the keyboard focus on the row "Ускорение AMD FSR"')
        xdotool("key", "Escape")
        try:
            process.wait(30)
        except subprocess.TimeoutExpired:
            raise DemoFailure("Escape did not close the failed setup window")
        harness.wait_for_setup_to_finish(60)
        self.log_mark = len(harness.setup_log_lines())

    # The install ---------------------------------------------------------------------------------------------
    def install(self):
        step("4. First install in the setup window")
        mark = len(self.requests())
        self.request_phases[mark] = "install 1.0.0: the release check, then the run"
        process = harness.wine_background(harness.SETUP_EXE)
        say(f"started {os.path.relpath(harness.SETUP_EXE, REPO)} (no arguments: install)")
        window = Window(INSTALL_TITLE, INSTALL_SIZE, self.out)
        # The release check fetches the manifest and its signature, then the rows show their sizes.
        wait_until(lambda: PREFIX + "manifest.sig" in self.requests()[mark:], 30, "the release check")
        time.sleep(1.0)
        window.wait_for_pixel(INSTALL_MAIN_LEFT, ACCENT, 10, 'the "Установить" button')
        self.shoot(window, "choose", 'Choose: the first screen as it opens, sizes from the release check')

        frame = window.grab()
        for index in (1, 4):  # NVIDIA and XREAL, to show optional components in the run
            if close_to(window.pixel(row_box_pixel(index), frame), WHITE):
                window.click(row_point(index), f'the row "{COMPONENT_NAMES[index]}"')
        window.click(LAUNCH_BOX, '"Запустить после установки" (so that Finished stays)')
        frame = window.grab()
        if not close_to(window.pixel(LAUNCH_BOX_PIXEL, frame), WHITE):
            raise DemoFailure('"Запустить после установки" is still ticked after the click')
        self.selection = [index == 0 or close_to(window.pixel(row_box_pixel(index), frame), ACCENT)
                          for index in range(5)]
        ticked = ", ".join(n for n, on in zip(COMPONENT_NAMES, self.selection) if on)
        say("components ticked: " + ticked)
        self.shoot(window, "choose-ticked", f"Choose: {ticked} ticked, launch after install unticked", frame)

        window.click(INSTALL_MAIN, '"Установить"')
        window.wait_for_pixel(INSTALL_MAIN_LEFT, WHITE, 20, "the Progress screen")
        self.shoot_during_slow_transfer(window, mark, "install-progress",
                                        "Progress: the bar and the file being fetched")
        self.close_after_run(window, process, "установлено ", (FINISHED_MAIN_LEFT, FINISHED_CLOSE), "install-finished",
                             'Finished: "Готово!", version and folder, "Запустить"/"Закрыть"')

        values = harness.registry_values()
        if not values:
            raise DemoFailure("the install left no uninstall entry in the registry")
        self.install_dir = values["InstallLocation"]
        self.check_installed("1.0.0")
        self.check_install_fetches(mark)
        say(f"installed into {self.install_dir}")
        say(f"   = {self.install_unix()}")
        say("uninstall entry: " + ", ".join(f"{k}={values[k]}" for k in ("DisplayName", "DisplayVersion",
                                                                            "UninstallString")))

    # The update ------------------------------------------------------------------------------------------------
    def update(self):
        step("5. In-place update to 1.1.0, started by the application")
        self.log_mark = len(harness.setup_log_lines())
        mark = len(self.requests())
        self.request_phases[mark] = "update to 1.1.0"
        application = self.install_dir.rstrip("\\") + "\\maketor.exe"
        standin = harness.StandIn(application, "--update")
        say(f"started {application} --update (the stand-in, Windows id {standin.windows_pid}); it runs "
            f"\"setup.exe /update /pid {standin.windows_pid} /dir <folder>\"")
        window = Window(INSTALL_TITLE, SMALL_SIZE, self.out)
        copies = harness.wine_processes("maketor-setup-")
        say("setup relaunched from a temporary copy: " + ("yes" if copies else "NO"))
        if not copies:
            raise DemoFailure("the setup started from the install folder did not relaunch from a temporary copy")
        time.sleep(1.0)
        self.shoot(window, "update-waiting", "update Progress: waiting for the application to close")
        if not standin.running():
            raise DemoFailure("the stand-in application ended before it was asked to")
        standin.close()
        say("asked the stand-in to close (%TEMP%\\maketor-standin.close); it exited")
        self.shoot_while_slow_transfer(window, mark, "update-progress",
                                       "update Progress: patches and the added file are fetched")
        self.wait_for_log_line("установлено ", 120)
        self.catch_update_finished(window)
        harness.wait_for_setup_to_finish(60)

        # An interactive update starts the application again; close that one too.
        restarted = wait_until(lambda: harness.read_text(standin.pid_file).strip(), 30,
                               "the application started again after the update")
        say(f"the update started the application again (Windows id {restarted}); closing it")
        with open(standin.close_file, "w"):
            pass
        wait_until(lambda: not harness.wine_processes("maketor.exe"), 30, "the restarted application to exit")

        self.check_installed("1.1.0")
        self.check_update_fetches(mark)

    def catch_update_finished(self, window):
        """The update's Finished screen shows only while it starts the application again, then the window
        closes itself: catch it when we can."""
        caught = False
        while not caught and window.visible():
            frame = window.grab()
            caught = close_to(window.pixel(UPDATE_FINISHED_LEFT, frame), ACCENT)
            if caught:
                self.shoot(window, "update-finished", "update Finished, just before the window closes itself",
                           frame)
        if not caught:
            say("the update's Finished screen passed too quickly for a screenshot")
        wait_until(lambda: not window.visible(), 60, "the update window to close itself")
        say("the update window closed itself after starting the application again")

    def patches_for_update(self):
        """path -> the patch of 1.1.0 that serves that file of an installed 1.0.0."""
        old = self.releases["1.0.0"]
        with open(os.path.join(self.release_folder, "manifest.json"), encoding="utf-8") as f:
            entries = json.load(f)["files"]
        return {entry["path"]: patch for entry in entries for patch in entry.get("patches", [])
                if entry["path"] in old and patch["from"] == sha256(old[entry["path"]])}

    def check_update_fetches(self, mark):
        old, new = self.releases["1.0.0"], self.releases["1.1.0"]
        changed = [p for p in self.selected(new) if p not in old or old[p] != new[p]]
        patches = {p: patch for p, patch in self.patches_for_update().items() if p in changed}
        expected_blobs = {sha256(new[p]) for p in changed if p not in patches}
        expected_patches = {patch["sha256"] for patch in patches.values()}
        requested = self.requests()[mark:]
        blobs = set(self.blobs_fetched(mark))
        fetched_patches = {p[len(PREFIX + "patches/"):-len(".zst")] for p in requested
                           if p.startswith(PREFIX + "patches/")}
        names = {sha256(data): path for path, data in new.items()}
        names.update({patch["sha256"]: path for path, patch in patches.items()})
        say("blobs and patches the update fetched:")
        for digest in sorted(blobs, key=lambda d: names.get(d, d)):
            say(f"   blob  {names.get(digest, '?'):32} {digest[:16]}…")
        for digest in sorted(fetched_patches, key=lambda d: names.get(d, d)):
            say(f"   patch {names.get(digest, '?'):32} {digest[:16]}…  from the installed 1.0.0 copy")
        whole = sorted(names.get(d, d) for d in blobs if names.get(d) in patches)
        if whole:
            raise DemoFailure(f"the update fetched whole blobs of files that have a patch: {whole}")
        if not patches or LARGE_FILE not in patches:
            raise DemoFailure(f"1.1.0 has no patch for {LARGE_FILE} from 1.0.0")
        if blobs != expected_blobs or fetched_patches != expected_patches:
            raise DemoFailure("the update fetched other blobs or patches than the changed and added files need: "
                              f"{sorted(names.get(d, d) for d in (blobs ^ expected_blobs) | (fetched_patches ^ expected_patches))}")
        sizes = sum(patch["size"] for patch in patches.values())
        blob_sizes = sum(len(new[p]) for p in patches)
        unchanged = len(self.selected(new)) - len(changed)
        say(f"{len(patches)} changed files came as patches ({sizes} bytes for {blob_sizes} bytes of files), "
            f"{len(expected_blobs)} as blobs; {unchanged} unchanged files were not fetched")

    def blobs_fetched(self, mark):
        """Digests of the blobs fetched since mark: on their own, and whole inside the packs or pieces of packs
        asked for (resolved with the manifest served now)."""
        with open(os.path.join(self.release_folder, "manifest.json"), encoding="utf-8") as f:
            manifest = json.load(f)
        csize = {entry["sha256"]: entry["csize"] for entry in manifest["files"]}
        packs = {pack["sha256"]: pack for pack in manifest.get("packs", [])}
        fetched = []
        for entry in self.server.entries()[mark:]:
            if entry.path.startswith(PREFIX + "blobs/"):
                fetched.append(entry.path[len(PREFIX + "blobs/"):-len(".lzms")])
            elif entry.path.startswith(PREFIX + "packs/") and entry.status in (200, 206):
                pack = packs[entry.path[len(PREFIX + "packs/"):-len(".pack")]]
                first, end = 0, pack["size"]
                if entry.status == 206:
                    start, _, last = entry.range[len("bytes="):].partition("-")
                    first, end = int(start), int(last) + 1 if last else pack["size"]
                fetched += [blob["sha256"] for blob in pack["blobs"]
                            if blob["offset"] >= first and blob["offset"] + csize[blob["sha256"]] <= end]
        return fetched

    def check_install_fetches(self, mark):
        """The first install took the blobs of small files out of the packs of the components it installs, whole,
        and fetched only the others on their own; each blob once."""
        files = self.selected(self.releases["1.0.0"])
        wanted = sorted({sha256(self.releases["1.0.0"][p]) for p in files})
        entries = self.server.entries()[mark:]
        packs = [e for e in entries if e.path.startswith(PREFIX + "packs/")]
        blobs = [e for e in entries if e.path.startswith(PREFIX + "blobs/")]
        fetched = self.blobs_fetched(mark)
        say(f"the install made {len(entries)} requests: {len(packs)} for whole packs, {len(blobs)} for blobs on their "
            f"own, the rest for the manifest and its signature ({len(files)} files installed)")
        if not packs or any(e.status != 200 for e in packs):
            raise DemoFailure("the first install did not fetch whole packs")
        if sorted(fetched) != wanted:
            raise DemoFailure("the first install fetched other blobs than its files need, or some twice")

    # The uninstall ---------------------------------------------------------------------------------------------
    def uninstall(self):
        step("6. Uninstall through the registry entry")
        self.log_mark = len(harness.setup_log_lines())
        command = harness.registry_values()["UninstallString"]
        if not command.startswith('"'):
            raise DemoFailure("the uninstall command has no quoted program path: " + command)
        program, arguments = command[1:].split('"', 1)
        say(f"running the registry's UninstallString: {command}")
        process = harness.wine_background(program, *arguments.split())
        window = Window(UNINSTALL_TITLE, SMALL_SIZE, self.out)
        window.wait_for_pixel(UNINSTALL_MAIN_LEFT, DANGER, 10, 'the red "Удалить" button')
        self.shoot(window, "uninstall-confirm", 'ConfirmUninstall: the folder, the data option, "Удалить"')
        window.click(UNINSTALL_MAIN, '"Удалить"')
        frame = wait_until(lambda: self.frame_without(window, UNINSTALL_MAIN_LEFT, DANGER), 30,
                           "the uninstall to start")
        if close_to(window.pixel(UNINSTALLED_CLOSE, frame), WHITE):  # left of "Отмена" while it runs
            self.shoot(window, "uninstalling", "Uninstalling: the status line", frame)
        else:
            say("Uninstalling passed too quickly for a screenshot")
        self.close_after_run(window, process, "удалено из ", (UNINSTALLED_CLOSE, UNINSTALLED_CLOSE), "uninstalled",
                             'Uninstalled: "Макетор удалён", "Закрыть"')

        leftovers = [what for what, present in (
            ("the install folder", os.path.exists(self.install_unix())),
            ("the uninstall entry", harness.registry_values() is not None),
            ("a shortcut", any(os.path.exists(p) for p in harness.shortcut_paths()))) if present]
        if leftovers:
            raise DemoFailure("the uninstall left " + ", ".join(leftovers))
        say("the install folder, the uninstall entry and the shortcuts are gone")

    # Checks and helpers ----------------------------------------------------------------------------------------
    def install_unix(self):
        return harness.to_unix(self.install_dir)

    def selected(self, files):
        return [p for p in files if self.selection[harness.component_of_path(p)]]

    def check_installed(self, version):
        files = self.releases[version]
        self.fail_on_logged_error()
        folder = self.install_unix()
        found = {}
        for parent, _, names in os.walk(folder):
            for name in names:
                full = os.path.join(parent, name)
                found[os.path.relpath(full, folder).replace(os.sep, "/")] = full
        expected = set(self.selected(files)) | {"install.json"}
        if set(found) != expected:
            raise DemoFailure(f"after {version} the install folder holds {sorted(set(found) ^ expected)} "
                              "against the release")
        for relative in self.selected(files):
            with open(found[relative], "rb") as f:
                if f.read() != files[relative]:
                    raise DemoFailure(f"{relative} differs from the {version} release after the run")
        values = harness.registry_values() or {}
        if values.get("DisplayVersion") != version:
            raise DemoFailure(f"the uninstall entry names version {values.get('DisplayVersion')}, not {version}")
        say(f"the folder holds exactly the {len(expected) - 1} selected files of {version} and install.json")

    def phase_log_lines(self):
        return harness.setup_log_lines()[self.log_mark:]

    def fail_on_logged_error(self):
        for line in self.phase_log_lines():
            if line.startswith(harness.ERROR_PREFIX):
                raise DemoFailure("the setup program failed: " + line[len(harness.ERROR_PREFIX):])

    def wait_for_log_line(self, start, timeout):
        def logged():
            self.fail_on_logged_error()
            return any(line.startswith(start) for line in self.phase_log_lines())
        wait_until(logged, timeout, f'the setup log line "{start}…"')

    def close_after_run(self, window, process, summary_start, points, name, what):
        """Waits for the run's summary line and its last screen (points: an accent pixel of that screen and its
        "Закрыть" button), takes the screenshot, closes the window and waits for every setup process to end."""
        done_pixel, close_button = points
        self.wait_for_log_line(summary_start, 120)
        window.wait_for_pixel(done_pixel, ACCENT, 20, "the last screen of the run")
        self.shoot(window, name, what)
        window.click(close_button, '"Закрыть"')
        try:
            process.wait(30)
        except subprocess.TimeoutExpired:
            raise DemoFailure('the setup window did not close after "Закрыть"')
        harness.wait_for_setup_to_finish(60)

    def shoot_during_slow_transfer(self, window, mark, name, what):
        """Screenshot while the slow blob is on its way. nginx logs a request when it has ended: once a pack of the
        install is in the log, the slow blob, asked for with it, is still arriving as long as it is not."""
        def slow_done():
            return any(path in self.slow_paths for path in self.requests()[mark:])
        wait_until(lambda: any(path.startswith(PREFIX + "packs/") for path in self.requests()[mark:]), 60,
                   "the install's first pack")
        time.sleep(0.5)
        if slow_done():
            raise DemoFailure("the large file arrived before the install's progress could be shown")
        self.shoot(window, name, what)
        if slow_done():
            raise DemoFailure("the install's progress shot may show its end: the large file arrived meanwhile")

    def shoot_while_slow_transfer(self, window, mark, name, what):
        """Screenshot once a patch has arrived: the request log names a request when it is done, and the slow
        blob of the update, asked for with the patches, is then still on its way."""
        wait_until(lambda: any(path.startswith(PREFIX + "patches/") for path in self.requests()[mark:]), 60,
                   "the update's first patch")
        time.sleep(0.5)
        if not window.visible():
            raise DemoFailure("the update window closed before its progress could be shown")
        self.shoot(window, name, what)

    @staticmethod
    def frame_without(window, point, colour):
        frame = window.grab()
        return None if close_to(window.pixel(point, frame), colour) else frame

    def shoot(self, window, name, what, frame=None):
        """Screenshots are numbered in the order taken; screens that pass too quickly to catch leave no gap."""
        name = f"{len(self.screenshots) + 1:02d}-{name}"
        path = window.save(frame if frame is not None else window.grab(), name, what)
        self.screenshots.append((path, what))

    # The story -------------------------------------------------------------------------------------------------
    def run(self):
        self.prepare_output()
        self.trust_test_ca()

        step("3. Release 1.0.0: tools/release signs the setup program and publishes; nginx serves it over HTTPS")
        first = release_files("1.0.0")
        second = release_files("1.1.0")
        # Slow: the large file's blob in the first install, and in the update (whose large file comes as a small
        # patch) the added model's blob.
        self.slow_paths = {PREFIX + "blobs/" + sha256(first[LARGE_FILE]) + ".lzms": len(first[LARGE_FILE]),
                           PREFIX + "blobs/" + sha256(second[ADDED_MODEL]) + ".lzms": len(second[ADDED_MODEL])}
        self.publish("1.0.0", first)
        self.failed_first_install()
        self.start_server(self.slow_paths)

        self.install()

        step("5. Release 1.1.0: changed, added and dropped files, published into the same folder by tools/release, "
             "with patches from 1.0.0 (the folder's manifest until 1.1.0's replaces it)")
        added = sorted(set(second) - set(first))
        dropped = sorted(set(first) - set(second))
        changed = sorted(p for p in set(first) & set(second) if first[p] != second[p])
        say(f"changed {', '.join(changed)}; added {', '.join(added)}; dropped {', '.join(dropped)}")
        self.publish("1.1.0", second, previous=[self.release_folder])
        self.update()

        self.uninstall()
        self.summary()

    def summary(self):
        step("7. Summary")
        say("screenshots:")
        for path, what in self.screenshots:
            say(f"   {os.path.relpath(path, REPO):36} {what}")
        say(f"install folder (removed again by the uninstall): {self.install_unix()}")
        say(f"   Windows path {self.install_dir}")
        log_copy = os.path.join(self.out, "maketor-setup.log")
        if os.path.exists(harness.setup_log_path()):
            shutil.copyfile(harness.setup_log_path(), log_copy)
        say(f"setup log lines ({os.path.relpath(log_copy, REPO)}, from %TEMP%\\maketor-setup.log):")
        for line in harness.setup_log_lines():
            say("   " + line)
        say(f"request log ({os.path.relpath(self.request_log, REPO)}):")
        names = {}
        for files in self.releases.values():
            names.update({PREFIX + "blobs/" + sha256(data) + ".lzms": path for path, data in files.items()})
        if "1.1.0" in self.releases:
            names.update({PREFIX + "patches/" + patch["sha256"] + ".zst": path + " (patch)"
                          for path, patch in self.patches_for_update().items()})
        for version in self.releases:
            for pack in self.published_packs.get(version, []):
                names.setdefault(PREFIX + "packs/" + pack["sha256"] + ".pack",  # the release that first had it
                                 f"pack of {version}: {len(pack['blobs'])} blobs, {pack['size']} bytes")
        for index, entry in enumerate(self.server.entries() if self.server else []):
            if index in self.request_phases:
                say(f"   -- {self.request_phases[index]}")
            ranged = f" {entry.range}" if entry.range else ""
            say(f"   {entry.status} {entry.path}{ranged}" + (f"   ({names[entry.path]})" if entry.path in names else ""))
        say("release folder: " + os.path.relpath(self.release_folder, REPO) + "/")


LARGE_FILE = "data/models/стеллаж.bin"
ADDED_MODEL = "data/models/витрина.bin"


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def release_files(version):
    """The demo release: the stand-in as the application and files of every component (tools/release adds the
    setup program).
    1.1.0 changes the application, the catalogue and the large model (64 KiB of its 12 MiB rewritten and 4 KiB
    added, so that a patch carries the change), adds a model and drops a picture."""
    noise, text = harness.noise, harness.text_bytes
    files = {
        "maketor.exe": harness.standin_bytes(b"demo release " + version.encode()),
        "data/catalog.json": text(600_000, "catalog " + version),
        LARGE_FILE: large_model(version),  # large and served slowly: Progress stays in view
        "data/textures/floor.png": noise(400_000, "floor"),
        "images/splash.png": noise(150_000, "splash"),
        "licenses/maketor.txt": text(8_000, "licence"),
        "nvngx_dlss.dll": noise(1_600_000, "dlss"),
        "sl.interposer.dll": noise(300_000, "interposer"),
        "amd_fidelityfx_dx12.dll": noise(1_300_000, "fsr"),
        "licenses/amd-fsr.txt": text(4_000, "fsr licence"),
        "libxess.dll": noise(1_200_000, "xess"),
        "licenses/intel-xess.txt": text(4_000, "xess licence"),
        "basalt.dll": noise(700_000, "basalt"),
        "onnxruntime.dll": noise(900_000, "onnx"),
        "handmodels/left.onnx": noise(250_000, "left"),
        "handmodels/right.onnx": noise(250_000, "right"),
    }
    if version == "1.0.0":
        files["images/splash-old.png"] = noise(120_000, "old splash")
    else:
        files[ADDED_MODEL] = noise(1_500_000, "showcase")  # over the packed size: its blob comes alone, slowly
    return files


def large_model(version):
    model = harness.noise(12 << 20, "shelf")
    if version == "1.0.0":
        return model
    middle = 5 << 20
    return model[:middle] + harness.noise(64 << 10, "shelf " + version) + model[middle + (64 << 10):] + \
        harness.noise(4096, "shelf end " + version)


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host-build", required=True)
    parser.add_argument("--cross-build", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--session", required=True, help="the Wine session's folder (prefix, CA, server id)")
    parser.add_argument("--out", required=True)
    return parser.parse_args()


def main():
    args = parse_arguments()
    # The harness reads its builds and port from the environment when imported.
    os.environ["MAKETOR_HOST_BUILD"] = os.path.abspath(args.host_build)
    os.environ["MAKETOR_CROSS_BUILD"] = os.path.abspath(args.cross_build)
    os.environ["MAKETOR_TEST_PORT"] = str(args.port)
    sys.path.insert(0, E2E)
    global harness, make_code_signing_certificate, NginxServer
    import harness
    from make_test_ca import make_code_signing_certificate
    from nginx_server import NginxServer

    demo = Demo(args)
    try:
        demo.run()
    except (DemoFailure, TimeoutError, subprocess.SubprocessError, OSError, RuntimeError) as failure:
        path = os.path.join(args.out, "failure.png")
        subprocess.run(["import", "-window", "root", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        print(f"\ndemo: FAILED: {failure}", file=sys.stderr)
        if harness.setup_log_lines():
            print("demo: setup log:\n   " + "\n   ".join(harness.setup_log_lines()), file=sys.stderr)
        print(f"demo: the whole screen at that moment: {path}", file=sys.stderr)
        return 1
    finally:
        demo.stop_server()
    print("\ndemo: done", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
