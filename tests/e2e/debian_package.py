"""Real binaries for the patch tests: two versions of a Debian binary package, fetched with
`apt-get download NAME=VERSION` from this machine's apt sources on first use and kept outside git (in
build/test-data/debs of the checkout), unpacked with dpkg-deb."""
import os
import shutil
import subprocess
import tempfile

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CACHE = os.environ.get("MAKETOR_TEST_DATA", os.path.join(REPO, "build", "test-data", "debs"))

# libxml2 of Debian 12: a 1.7 MiB shared library that a security update changed a little, with its
# documentation. The older version is the security suite's, the newer the point release's.
PACKAGE = "libxml2"
OLD_VERSION = "2.9.14+dfsg-1.3~deb12u4"
NEW_VERSION = "2.9.14+dfsg-1.3~deb12u6"


def deb_path(name, version):
    """The .deb of that version, downloaded into the cache when it is not there yet."""
    os.makedirs(CACHE, exist_ok=True)
    arch = subprocess.run(["dpkg", "--print-architecture"], check=True, stdout=subprocess.PIPE,
                          text=True).stdout.strip()
    path = os.path.join(CACHE, f"{name}_{version.replace(':', '%3a')}_{arch}.deb")
    if not os.path.exists(path):
        work = tempfile.mkdtemp(dir=CACHE)
        try:
            result = subprocess.run(["apt-get", "download", f"{name}={version}"], cwd=work,
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            debs = [f for f in os.listdir(work) if f.endswith(".deb")]
            if result.returncode != 0 or len(debs) != 1:
                raise RuntimeError(f"apt-get download {name}={version} failed: "
                                   + result.stdout.decode("utf-8", "replace"))
            os.rename(os.path.join(work, debs[0]), path)
        finally:
            shutil.rmtree(work, ignore_errors=True)
    return path


def package_files(name, version):
    """Every regular file of the package: relative path ("/" separators) -> bytes. Symbolic links are left
    out: a release holds each library once, under its real name."""
    unpacked = tempfile.mkdtemp(prefix="maketor-deb-")
    try:
        subprocess.run(["dpkg-deb", "-x", deb_path(name, version), unpacked], check=True)
        files = {}
        for folder, _, names in os.walk(unpacked):
            for file_name in names:
                full = os.path.join(folder, file_name)
                if os.path.isfile(full) and not os.path.islink(full):
                    with open(full, "rb") as f:
                        files[os.path.relpath(full, unpacked).replace(os.sep, "/")] = f.read()
        return files
    finally:
        shutil.rmtree(unpacked, ignore_errors=True)
