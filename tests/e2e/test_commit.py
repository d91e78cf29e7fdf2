"""The commit of an update with the real executable: a kill -9 while it commits and a next run with no server,
two runs on one folder at once, read-only targets and folders that become files and back, release paths the
folder already uses, and the order in which the data, the journal, the renames and the record reach the disk
(a trace of the process's flushes and the wineserver's renames)."""
import os
import random
import re
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import (SETUP_EXE, LifecycleTest, adapter_selection, clear_setup_log, cross_program, kill_setup,
                     log_errors, noise, record_text, registry_values, run_setup, setup_log_lines, sign_manifest,
                     standin_bytes, text_bytes, to_windows, wait_for_setup_to_finish, wait_until, wine,
                     wine_background, wine_environment, keep_wineserver_running)

JOURNAL = "install-commit.json"
NO_CONNECTION = "Нет связи с сайтом Торвел. Проверьте интернет и повторите."
NOT_TRUSTED = "Файлы на сайте не прошли проверку подписи — установка остановлена."


def staged_files(folder):
    return sorted(p for p in folder.files() if p.endswith(".new"))


class InterruptedCommit(LifecycleTest):
    """An update of 300 files killed while it commits, then runs with no server and with one."""

    FILES = [f"lib/{i // 50}/f{i:03d}.bin" for i in range(300)]

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        exe = standin_bytes(b"v1")
        cls.v1 = cls.make_release("4.0.0", {"maketor.exe": exe, **{p: noise(1_000, p + " v1") for p in cls.FILES}})
        cls.v2 = cls.make_release("4.1.0", {"maketor.exe": exe + b"v2",
                                            **{p: noise(1_000, p + " v2") for p in cls.FILES}})

    def kill_when_the_journal_appears(self, folder, delay):
        """Starts the update to v2 and kills it delay seconds after its journal appeared; False when the commit
        ended before the kill landed."""
        self.serve(self.v2)
        journal = folder.path(JOURNAL)
        setup = wine_background(SETUP_EXE, "/update", "/dir", folder.windows, "/auto")
        deadline = time.monotonic() + 120
        while not os.path.exists(journal):
            self.assertLess(time.monotonic(), deadline, "no journal appeared")
            self.assertIsNone(setup.poll(), "the update ended without a journal")
        if delay:
            time.sleep(delay)
        self.assertGreaterEqual(kill_setup(), 1)
        setup.wait(60)
        wait_for_setup_to_finish()
        return os.path.exists(journal)

    def test_a_kill_while_committing_then_a_run_without_server_leaves_the_release_whole(self):
        # The moment the journal appears, then random moments of the commit (300 renames take some 0.1 s here).
        delays = [0.0] + [random.uniform(0.0, 0.1) for _ in range(2)]
        for delay in delays:
            with self.subTest(delay=round(delay, 3)):
                self.setUp()
                folder = self.new_folder("Maketor")
                self.install(folder, self.v1)
                self.assertEqual(log_errors(), [])
                clear_setup_log()
                if not self.kill_when_the_journal_appears(folder, delay):
                    self.assertGreater(delay, 0, "the kill at the journal's appearance came after the commit")
                    continue  # a random moment after the end proves nothing more
                interrupted = folder.files()
                print(f"\nkilled {delay:.3f} s after the journal appeared: "
                      f"{len([p for p in interrupted if p.endswith('.new')])} staged files not yet renamed")
                self.assertNotEqual(interrupted.get("install.json"), record_text(self.v2.expected_record(
                    adapter_selection())), "the record is written last")

                root = self.host.stop_serving()
                try:
                    clear_setup_log()
                    run_setup("/update", "/dir", folder.windows, "/auto")
                finally:
                    self.host.start(root)
                self.assertEqual(log_errors(), [NO_CONNECTION])
                self.assert_files(folder, self.v2, adapter_selection())  # every file and a true record
                self.assertEqual(staged_files(folder), [])
                self.assertFalse(os.path.exists(folder.path(JOURNAL)))

                # The version in the uninstall entry follows with the next run that reaches the site.
                clear_setup_log()
                self.assertEqual(self.update(folder, self.v2), [])
                self.assert_installed(folder, self.v2, adapter_selection(), [])


    def test_a_renamed_file_that_lost_its_data_is_fetched_again_by_the_run_that_completes_the_commit(self):
        folder = self.new_folder("Maketor")
        self.install(folder, self.v1)
        clear_setup_log()
        self.assertTrue(self.kill_when_the_journal_appears(folder, 0.02))
        left = folder.files()
        renamed = [p for p in self.FILES if p + ".new" not in left and left[p] == self.v2.source_files[p]]
        self.assertTrue(renamed, "some files were renamed before the kill")
        # What a power cut leaves of a file whose data never reached the disk: its length, in zeros.
        with open(folder.path(renamed[0]), "wb") as f:
            f.write(bytes(len(self.v2.source_files[renamed[0]])))

        clear_setup_log()
        fetched = self.update(folder, self.v2)
        self.assertEqual(fetched, [self.v2.entries[renamed[0]]["sha256"]], "that file alone, in the same run")
        self.assert_installed(folder, self.v2, adapter_selection(), [renamed[0]])
        self.assertIn("файлов скачать заново: 1", "\n".join(setup_log_lines()))


class TwoRuns(LifecycleTest):
    """The application starts an update while the user starts the setup program on the same folder."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        base = {"maketor.exe": standin_bytes(b"two"), "data/big.bin": noise(1_500_000, "big v1"),
                **{f"data/f{i:02d}.bin": noise(20_000, f"f{i} v1") for i in range(20)}}
        cls.v1 = cls.make_release("5.0.0", base)
        cls.v2 = cls.make_release("5.1.0", {**base, "data/big.bin": noise(1_500_000, "big v2"),
                                            **{f"data/f{i:02d}.bin": noise(20_000, f"f{i} v2") for i in range(20)}})

    def test_two_updates_of_one_folder_a_second_apart(self):
        folder = self.new_folder("Maketor")
        self.install(folder, self.v1)
        clear_setup_log()
        self.serve(self.v2)
        self.server.set_fault(self.v2.request_path("data/big.bin"), ("slow", 6))
        first = wine_background(SETUP_EXE, "/update", "/dir", folder.windows, "/auto")
        time.sleep(1)
        second = wine_background(SETUP_EXE, "/update", "/dir", folder.windows, "/auto")
        first.wait(120)
        second.wait(120)
        wait_for_setup_to_finish()

        self.assertEqual(log_errors(), [])
        summaries = [line for line in setup_log_lines() if line.startswith("установлено ")]
        self.assertEqual(len(summaries), 2, "both runs end well")
        changed = sorted(self.v2.entries[p]["sha256"] for p in self.v2.entries if p != "maketor.exe")
        self.assertEqual(sorted(self.server.blob_requests()), changed,
                         "the second run waited, then found the folder up to date")
        self.assert_files(folder, self.v2, adapter_selection())
        self.assertEqual(staged_files(folder), [])
        self.assertFalse(os.path.exists(folder.path("update-cache")))
        self.assertEqual(registry_values()["DisplayVersion"], "5.1.0")


class UnusualTargets(LifecycleTest):
    """Targets that a plain rename cannot replace."""

    def test_a_read_only_target_a_folder_that_becomes_a_file_and_a_file_that_becomes_a_folder(self):
        v1 = self.make_release("6.0.0", {
            "maketor.exe": standin_bytes(b"v1"),
            "data/catalog.json": text_bytes(5_000, "catalog v1"),
            "docs/manual/a.txt": text_bytes(1_000, "a"),
            "docs/manual/b.txt": text_bytes(1_000, "b"),
            "extras": text_bytes(1_000, "extras as a file"),
        })
        v2 = self.make_release("6.1.0", {
            "maketor.exe": standin_bytes(b"v2"),
            "data/catalog.json": text_bytes(5_000, "catalog v2"),
            "docs/manual": text_bytes(2_000, "the manual as one file"),
            "extras/readme.txt": text_bytes(1_000, "extras as a folder"),
        })
        folder = self.new_folder()
        self.install(folder, v1)
        catalog = folder.path("data/catalog.json")
        os.chmod(catalog, 0o444)  # the read-only attribute, as Wine keeps it
        clear_setup_log()
        self.update(folder, v2)
        self.assert_installed(folder, v2, adapter_selection(), sorted(v2.entries))
        self.assertEqual(os.stat(catalog).st_mode & 0o222, 0, "the replaced file stays read-only")
        self.assertEqual(staged_files(folder), [])


class ReservedPaths(LifecycleTest):
    """A signed release that lists a file the program keeps in the folder, a file beside its own ".new", or a
    name Windows would not keep as written, is refused before anything is changed."""

    def test_each_reserved_or_ambiguous_path_is_refused(self):
        release = self.make_release("7.0.0", {"maketor.exe": standin_bytes(b"r"), "data/a.bin": noise(3_000, "a")})
        template = release.entries["data/a.bin"]
        cases = ["install.json", "Install.JSON.new", "install-commit.json", "update-cache/" + template["sha256"] + ".lzms",
                 "data/a.bin.new", "readme.", "readme ", "data ./b.bin", "data/a.bin/c"]
        for path in cases:
            with self.subTest(path=path):
                self.setUp()
                case_folder = tempfile.mkdtemp(prefix="reserved-", dir=self.workdir)
                shutil.copytree(os.path.join(release.folder, "blobs"), os.path.join(case_folder, "blobs"))
                manifest = dict(release.manifest, files=release.manifest["files"] + [dict(template, path=path)])
                sign_manifest(case_folder, json_bytes(manifest))
                self.server.set_root(case_folder)
                self.server.clear_log()
                folder = self.new_folder()
                run_setup("/auto", "/dir", folder.windows)
                self.assertEqual(log_errors(), [NOT_TRUSTED])
                self.assertFalse(os.path.exists(folder.unix), "nothing is created")
                self.assertEqual(self.server.blob_requests(), [])


def json_bytes(document):
    import json
    return json.dumps(document, ensure_ascii=False, indent=1).encode("utf-8")


# strace lines: "PID SECONDS.MICROS call(args) = result", or a call split by another thread's:
# "PID SECONDS.MICROS call(args <unfinished ...>" and later "PID SECONDS.MICROS <... call resumed>) = result".
TRACE_LINE = re.compile(r"^(\d+)\s+(\d+\.\d+)\s+(\w+)\((.*)\)\s+=\s+(-?\d+)")
UNFINISHED = re.compile(r"^(\d+)\s+\d+\.\d+\s+(\w+)\((.*) <unfinished \.\.\.>$")
RESUMED = re.compile(r"^(\d+)\s+(\d+\.\d+)\s+<\.\.\. (\w+) resumed>(.*)\)\s+=\s+(-?\d+)")
QUOTED = re.compile(r'"((?:[^"\\]|\\.)*)"')
FD_PATH = re.compile(r"^\d+<(.*)>")


class FlushOrder(LifecycleTest):
    """Every staged file reaches the disk before the journal is renamed into place, the journal before the first
    rename of a target, the record after the last one, and the journal goes last. Seen from outside: the
    process's fsync calls (strace -y gives each descriptor's path) and the wineserver's renames and unlinks,
    which Wine performs on the process's behalf, merged by time."""

    def start_traced_wineserver(self, trace):
        subprocess.run(["wineserver", "-k"], env=wine_environment())
        subprocess.run(["wineserver", "-w"], env=wine_environment())
        self.server_trace = subprocess.Popen(
            ["strace", "-f", "-ttt", "-y", "-e", "trace=rename,renameat,renameat2,unlink,unlinkat", "-o", trace,
             "wineserver", "-f", "-p"], env=wine_environment(), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: os.path.exists(trace), 10, "the traced wineserver")
        # The prefix's services start with the first program, as its children: not the traced setup program's,
        # whose trace would otherwise last as long as they do.
        wine(cross_program("https_probe.exe"))

    def stop_traced_wineserver(self):
        subprocess.run(["wineserver", "-k"], env=wine_environment())
        self.server_trace.wait(60)
        keep_wineserver_running()
        # The suite's CA may not have been saved with the registry by the killed server.
        wine(cross_program("trust_ca.exe"), to_windows(self.host.ca["ca_der"]))

    def calls(self, trace):
        """(time it returned, call, arguments) of every call in the trace that succeeded."""
        pending = {}
        with open(trace, encoding="utf-8", errors="replace") as f:
            for line in f:
                line = line.rstrip("\n")
                unfinished = UNFINISHED.match(line)
                if unfinished:
                    pending[unfinished.group(1)] = unfinished.group(3)
                    continue
                match = TRACE_LINE.match(line)
                if match:
                    pid, seconds, call, args, result = match.groups()
                else:
                    match = RESUMED.match(line)
                    if not match:
                        continue
                    pid, seconds, call, rest, result = match.groups()
                    args = pending.pop(pid, "") + rest
                if not result.startswith("-"):
                    yield float(seconds), call, args

    def events(self, trace, folder):
        """(time, call, path relative to the folder[, second path]) of the trace's calls on the folder's files."""
        marker = "/" + os.path.basename(folder.unix) + "/"
        found = []
        for seconds, call, args in self.calls(trace):
            if "rename" in call or "unlink" in call:
                paths = QUOTED.findall(args)
            else:
                descriptor = FD_PATH.match(args)
                paths = [descriptor.group(1)] if descriptor else []
            relative = [p.split(marker, 1)[1] for p in paths if marker in p]
            if relative:
                found.append((seconds, call, *relative))
        return found

    def test_data_then_journal_then_renames_then_record_then_no_journal(self):
        files = {f"lib/f{i:02d}.bin": noise(3_000, f"flush {i}") for i in range(30)}
        big = {"data/big.bin": noise(1_500_000, "flush big")}
        v1 = self.make_release("8.0.0", {"maketor.exe": standin_bytes(b"f1"), **files, **big})
        v2 = self.make_release("8.1.0", {"maketor.exe": standin_bytes(b"f2"),
                                         **{p: d + b"v2" for p, d in files.items()},
                                         "data/big.bin": big["data/big.bin"] + b"v2"})
        folder = self.new_folder("Maketor")
        self.install(folder, v1)
        self.serve(v2)
        traces = tempfile.mkdtemp(prefix="flush-", dir=self.workdir)
        server_trace, client_trace = os.path.join(traces, "ws.trace"), os.path.join(traces, "client.trace")
        self.start_traced_wineserver(server_trace)
        try:
            subprocess.run(["strace", "-f", "-ttt", "-y", "-e", "trace=fsync,fdatasync", "-o", client_trace,
                            "wine", SETUP_EXE, "/update", "/dir", folder.windows, "/auto"], env=wine_environment(),
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=300)
            wait_for_setup_to_finish()
        finally:
            self.stop_traced_wineserver()
        self.assert_installed(folder, v2, adapter_selection(), sorted(v2.entries))

        events = sorted(self.events(server_trace, folder) + self.events(client_trace, folder))
        flushed = {}  # path -> time of its last flush
        for seconds, call, *paths in events:
            if call in ("fsync", "fdatasync"):
                flushed[paths[0]] = seconds
        renames = [(seconds, paths) for seconds, call, *paths in events if call.startswith("rename")]
        journal_placed = [s for s, (source, target) in renames if target == JOURNAL]
        record_placed = [s for s, (source, target) in renames if target == "install.json"]
        targets_placed = [(s, target) for s, (source, target) in renames
                          if source == target + ".new" and target not in (JOURNAL, "install.json")]
        journal_removed = [s for s, call, *paths in events if call.startswith("unlink") and paths[0] == JOURNAL]
        self.assertEqual(len(journal_placed), 1, events)
        self.assertEqual(len(record_placed), 1, events)
        self.assertEqual(len(journal_removed), 1, events)
        self.assertEqual(sorted(t for _, t in targets_placed), sorted(v2.entries))
        journal_time, record_time = journal_placed[0], record_placed[0]

        for path in v2.entries:
            self.assertIn(path + ".new", flushed, f"{path}.new was never flushed")
            self.assertLess(flushed[path + ".new"], journal_time, f"{path}.new flushed after the journal")
        self.assertLess(flushed.get(JOURNAL + ".new", float("inf")), journal_time, "the journal's data first")
        self.assertTrue(all(journal_time < s < record_time for s, _ in targets_placed),
                        "every rename between the journal and the record")
        self.assertLess(flushed.get("install.json.new", float("inf")), record_time, "the record's data first")
        self.assertLess(record_time, journal_removed[0], "the journal goes once the record is in place")


if __name__ == "__main__":
    unittest.main()
