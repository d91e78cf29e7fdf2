#!/usr/bin/env python3
"""Idle cost of the setup window (not a test): starts the real maketor-setup.exe on screens that wait for the
user, lets it settle, then samples the CPU time of its process and of the prefix's wineserver over a window of
seconds and prints each as a share of one core.

    bench/window/run [SECONDS]       (a prefix and an Xvfb display of its own; build/cross must be built)

Nothing listens on the download port, so the first-install screen is the Choose screen after a failed release
check, with its error text; the uninstall screen is ConfirmUninstall.
"""
import os
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SETUP_EXE = os.path.join(os.environ.get("MAKETOR_CROSS_BUILD", os.path.join(REPO, "build", "cross")),
                         "maketor-setup.exe")
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime + stime


def wineserver_pid():
    prefix = os.environ["WINEPREFIX"].encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                cmdline = f.read()
            with open(f"/proc/{pid}/environ", "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            continue
        if b"wineserver" in cmdline and b"WINEPREFIX=" + prefix in environ:
            return int(pid)
    return None


def measure(name, args, seconds):
    process = subprocess.Popen(["wine", SETUP_EXE, *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(8)  # start-up, the release check and the first paints are not idle
        server = wineserver_pid()
        start = (cpu_seconds(process.pid), cpu_seconds(server) if server else 0.0, time.time())
        time.sleep(seconds)
        end = (cpu_seconds(process.pid), cpu_seconds(server) if server else 0.0, time.time())
        if process.poll() is not None:
            raise SystemExit(f"{name}: the setup program ended before the measurement did")
        wall = end[2] - start[2]
        print(f"{name:<34} setup {100 * (end[0] - start[0]) / wall:5.2f} %   "
              f"wineserver {100 * (end[1] - start[1]) / wall:5.2f} %   of one core over {wall:.0f} s")
    finally:
        process.kill()
        process.wait()


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 20
    subprocess.run(["wineserver", "-p"], check=True)  # no server start-up inside the window of time
    folder = tempfile.mkdtemp(prefix="maketor-idle-")
    measure("first install, Choose (failed)", [], seconds)
    measure("uninstall, ConfirmUninstall", ["/uninstall", "/dir", "Z:" + folder.replace("/", "\\")], seconds)
    os.rmdir(folder)
    subprocess.run(["wineserver", "-k"], check=False)


if __name__ == "__main__":
    main()
