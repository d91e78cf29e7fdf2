#!/usr/bin/env python3
"""Figures of an update through patches, with the real setup program under Wine over loopback HTTPS: two
versions of a real Debian package (tests/e2e/debian_package.py) published as releases, v1 installed, then the
update to v2 with patches and to the same v2 published without them. Prints the bytes each update downloaded,
its wall time (the whole setup process), and the time the product's patch step takes for the largest patch
(patch_apply.exe: the cached patch checked, decoded against the mapped old file into the mapped new one,
hashed, flushed). The environment comes from bench/patches/run."""
import os
import shutil
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "e2e"))

import harness  # noqa: E402
from debian_package import NEW_VERSION, OLD_VERSION, PACKAGE, package_files  # noqa: E402


def release_files(files, tag):
    release = {"runtime/" + path: data for path, data in files.items()}
    release["maketor.exe"] = harness.standin_bytes(tag.encode())
    return release


def requested_bytes(server, release):
    """Bytes of the blobs and patches the server was asked for, from the release folder's files."""
    total = 0
    for path in server.requests():
        relative = path[len("/maketor/app/"):]
        if relative.startswith(("blobs/", "patches/")):
            total += os.path.getsize(os.path.join(release.folder, relative))
    return total


def main():
    host = harness.TestHost()
    work = tempfile.mkdtemp(prefix="maketor-patch-bench-")
    try:
        v1 = harness.Release(os.path.join(work, "1"), "4.0.0", release_files(package_files(PACKAGE, OLD_VERSION), "v1"))
        new_files = release_files(package_files(PACKAGE, NEW_VERSION), "v2")
        with_patches = harness.Release(os.path.join(work, "2"), "4.1.0", new_files, previous=[v1])
        without = harness.Release(os.path.join(work, "3"), "4.1.0", new_files)
        changed = sorted(p for p, data in new_files.items() if v1.source_files.get(p) != data)
        print(f"{PACKAGE} {OLD_VERSION} -> {NEW_VERSION}: {len(new_files)} files, {len(changed)} changed "
              f"({sum(len(new_files[p]) for p in changed)} bytes)")

        folder = harness.InstallFolder("bench-patches")
        host.serve(v1)
        harness.run_setup("/auto", "/dir", folder.windows)
        if harness.log_errors():
            raise RuntimeError("installing v1 failed: " + "; ".join(harness.log_errors()))
        base = os.path.join(work, "v1-installed")
        shutil.copytree(folder.unix, base)

        for name, release in (("with patches", with_patches), ("without patches", without)):
            shutil.rmtree(folder.unix)
            shutil.copytree(base, folder.unix)
            host.serve(release)
            harness.clear_setup_log()
            started = time.monotonic()
            harness.run_setup("/update", "/dir", folder.windows, "/auto")
            elapsed = time.monotonic() - started
            if harness.log_errors() or any(folder.files()[p] != new_files[p] for p in new_files):
                raise RuntimeError(f"the update {name} did not leave v2: {harness.log_errors()}")
            patches = sum(1 for p in host.server.requests() if p.startswith("/maketor/app/patches/"))
            print(f"update {name:16} {requested_bytes(host.server, release):>9} bytes downloaded "
                  f"({patches} patches), {elapsed:.2f} s for the whole setup process under Wine")

        # The largest patch's step alone, repeated.
        largest = max(changed, key=lambda p: len(new_files[p]))
        entry = with_patches.entries[largest]
        patch = next(p for p in entry.get("patches", []) if p["from"] == v1.entries[largest]["sha256"])
        shutil.rmtree(folder.unix)
        shutil.copytree(base, folder.unix)
        os.makedirs(folder.path("update-cache"), exist_ok=True)
        shutil.copy(os.path.join(with_patches.folder, "patches", patch["sha256"] + ".zst"), folder.path("update-cache"))
        result = harness.wine(harness.cross_program("patch_apply.exe"), folder.windows, largest.replace("/", "\\"),
                              str(entry["size"]), entry["sha256"], patch["sha256"], str(patch["size"]), "20")
        print(f"apply {largest} ({entry['size']} bytes from a {patch['size']}-byte patch, blob {entry['csize']} "
              f"bytes): " + result.stdout.decode("utf-8", "replace").strip())
        if result.returncode != 0:
            raise RuntimeError("patch_apply.exe failed: " + result.stderr.decode("utf-8", "replace"))
    finally:
        host.close()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
