#!/usr/bin/env python3
"""Figures of the install lifecycle under Wine, against the test HTTPS server on loopback.

    bench/lifecycle/run [SCENARIO...]      builds, starts a Wine session of its own and runs this script
    lifecycle_bench.py [SCENARIO...]       inside a session (WINEPREFIX, DISPLAY, MAKETOR_TEST_PORT,
                                           MAKETOR_CROSS_BUILD and MAKETOR_HOST_BUILD set)

Scenarios (all by default): throughput, many-files, noop-update, memory. Prints figures and the goals they
are held to; it fails nothing."""
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "e2e"))

import harness  # noqa: E402
from harness import InstallFolder, Release, cross_program, log_errors, noise, run_setup, text_bytes, wine  # noqa: E402

MB = 1e6
MIB = 1 << 20


def timed(action):
    start = time.monotonic()
    action()
    return time.monotonic() - start


def wine_start_seconds():
    """What starting a Windows program costs on its own: the median of a few starts of a tiny one (the probe
    without arguments only prints its usage)."""
    return statistics.median(timed(lambda: wine(cross_program("https_probe.exe"))) for _ in range(5))


def without_window_manager_wait():
    """The bench's Xvfb display has no window manager. Wine then waits 2 s, at every close of the setup window,
    for a manager to acknowledge the window it mapped, which a desktop does at once: the setup program's
    windows are made unmanaged in this prefix, so that the figures hold only the program's own time."""
    wine("reg", "add", r"HKCU\Software\Wine\AppDefaults\maketor-setup.exe\X11 Driver", "/v", "Managed",
         "/d", "N", "/f")


class Bench:
    def __init__(self):
        self.host = harness.test_host()
        without_window_manager_wait()
        self.workdir = tempfile.mkdtemp(prefix="bench-", dir=self.host.workdir)
        self.count = 0
        self.wine_start = wine_start_seconds()
        print(f"Wine start (median of 5 starts of a tiny program): {self.wine_start:.2f} s")

    def release(self, version, files):
        self.count += 1
        started = time.monotonic()
        release = Release(os.path.join(self.workdir, str(self.count)), version, files)
        print(f"  (published {len(files)} files in {time.monotonic() - started:.1f} s)")
        return release

    def folder(self, name):
        return InstallFolder("bench-" + name, "Maketor")

    def install(self, folder, release, *extra):
        """Seconds of an unattended install; fails loudly when the run did not succeed."""
        self.host.serve(release)
        harness.clear_setup_log()
        harness.delete_registry_key()
        seconds = timed(lambda: run_setup("/auto", "/dir", folder.windows, *extra, timeout=1800))
        errors = log_errors()
        if errors:
            raise RuntimeError("the install failed: " + errors[0])
        return seconds

    def update(self, folder):
        self.host.server.clear_log()
        harness.clear_setup_log()
        seconds = timed(lambda: run_setup("/update", "/dir", folder.windows, "/auto", timeout=1800))
        errors = log_errors()
        if errors:
            raise RuntimeError("the update failed: " + errors[0])
        return seconds

    # Scenarios ----------------------------------------------------------------------------------------------------
    def throughput(self):
        print("\n== Install throughput over loopback (48 files of 1 MiB, half text, half noise)")
        files = {f"data/part{i:02d}.bin": (noise if i % 2 else text_bytes)(MIB, f"part{i}") for i in range(48)}
        files["maketor.exe"] = harness.standin_bytes()
        release = self.release("1.0.0", files)
        size = sum(len(d) for d in files.values())
        seconds = self.install(self.folder("throughput"), release)
        print(f"install under Wine: {size / MB:.1f} MB in {seconds:.2f} s = {size / MB / seconds:.1f} MB/s "
              f"({size / MB / max(seconds - self.wine_start, 1e-3):.1f} MB/s beyond the Wine start)")
        with tempfile.TemporaryDirectory() as out:
            bound = subprocess.run([os.path.join(harness.HOST_BUILD, "bench-install-bound"), release.folder, out],
                                   stdout=subprocess.PIPE, check=True).stdout.decode().strip()
        print(f"single-core bound (decode + hash + write, native): {bound}")
        print("the staging alone, in process under Wine (bench_staging.exe):")
        self.staging_breakdown(release)

    def many_files(self):
        print("\n== 2,000 files of 4 KiB against one file of 8 MiB (goal: many within 1.5 x one)")
        many = self.release("1.0.0", {f"many/{i // 100:02d}/f{i:04d}.bin": noise(4096, f"m{i}") for i in range(2000)})
        one = self.release("1.0.0", {"one/file.bin": noise(8 * MIB, "one")})
        many_folder = self.folder("many")
        many_seconds = self.install(many_folder, many)
        one_seconds = self.install(self.folder("one"), one)
        print(f"2,000 x 4 KiB: {many_seconds:.2f} s; 1 x 8 MiB: {one_seconds:.2f} s; "
              f"ratio {many_seconds / one_seconds:.2f} (goal <= 1.5); "
              f"beyond the Wine start: {many_seconds - self.wine_start:.2f} s vs {one_seconds - self.wine_start:.2f} s")
        # Every file staged, flushed and renamed: what the commit's durability costs shows here.
        changed = self.release("1.1.0", {path: data + b"v2" for path, data in many.source_files.items()})
        self.host.serve(changed)
        print(f"update of the 2,000 files, every one changed: {self.update(many_folder):.2f} s")
        print("where the staging of the 2,000 files goes (in process, bench_staging.exe):")
        self.staging_breakdown(many)

    def staging_breakdown(self, release):
        self.host.serve(release)
        work = InstallFolder("bench-staging", "work")
        print(wine(cross_program("bench_staging.exe"), "Z:" + release.folder.replace("/", "\\"), work.windows,
                   timeout=1800).stdout.decode(errors="replace").rstrip())

    def noop_update(self):
        print("\n== No-op update of a 10,000-file release (goal: within 2 s beyond the Wine start)")
        files = {f"assets/{i // 200:02d}/item{i:05d}.txt": text_bytes(1024, f"t{i}") for i in range(10_000)}
        files["maketor.exe"] = harness.standin_bytes()
        release = self.release("1.0.0", files)
        folder = self.folder("noop")
        print(f"first install of 10,001 files: {self.install(folder, release):.2f} s")
        seconds = self.update(folder)
        blobs = len(self.host.server.blob_requests())
        print(f"no-op update: {seconds:.2f} s, {seconds - self.wine_start:.2f} s beyond the Wine start "
              f"(goal <= 2 s), {blobs} blobs requested")
        # What any run of the setup program costs whatever the release: window, release fetch, record, exit.
        small = self.release("1.0.0", {"maketor.exe": harness.standin_bytes()})
        small_folder = self.folder("noop-small")
        self.install(small_folder, small)
        print(f"for scale, a no-op update of a 1-file release: {self.update(small_folder):.2f} s")

    def peak_resident(self, action):
        """Runs the action and returns the highest resident set that a setup process reached meanwhile."""
        peak = [0]
        done = threading.Event()

        def poll():
            while not done.is_set():
                for pid in harness.wine_processes("maketor-setup.exe"):
                    try:
                        with open(f"/proc/{pid}/status") as status:
                            for line in status:
                                if line.startswith("VmHWM:"):
                                    peak[0] = max(peak[0], int(line.split()[1]) * 1024)
                    except OSError:
                        pass
                time.sleep(0.02)

        poller = threading.Thread(target=poll)
        poller.start()
        try:
            action()
        finally:
            done.set()
            poller.join()
        return peak[0]

    def memory(self):
        print("\n== Peak memory of an install whose largest file is 256 MiB, against a 3-file release "
              "(goal: <= +160 MiB)")
        small_files = {"maketor.exe": harness.standin_bytes(), "data/small.bin": text_bytes(100_000, "small"),
                       "data/notes.bin": noise(100_000, "notes")}
        large = self.release("1.0.0", dict(small_files, **{"data/world.bin": noise(256 * MIB, "world")}))
        seconds = []
        peak = self.peak_resident(lambda: seconds.append(self.install(self.folder("memory"), large)))
        # The floor: the same process installing the release without the large file. Under Wine it holds the
        # software OpenGL (LLVM, Mesa) that the graphics detection maps, which a Windows desktop does not pay.
        small = self.release("1.0.0", small_files)
        floor = self.peak_resident(lambda: self.install(self.folder("memory-small"), small))
        print(f"install: {seconds[0]:.2f} s; peak resident set of the setup process: {peak / MIB:.0f} MiB; "
              f"the 3-file release peaks at {floor / MIB:.0f} MiB, so the large file costs "
              f"{(peak - floor) / MIB:.0f} MiB (goal <= +160 MiB)")


SCENARIOS = {"throughput": Bench.throughput, "many-files": Bench.many_files, "noop-update": Bench.noop_update,
             "memory": Bench.memory}


def main(names):
    unknown = [n for n in names if n not in SCENARIOS]
    if unknown:
        sys.exit(f"unknown scenario {unknown[0]}; choose from {', '.join(SCENARIOS)}")
    bench = Bench()
    for name in names or SCENARIOS:
        SCENARIOS[name](bench)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
