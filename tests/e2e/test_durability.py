"""The copies and their folder entries reach the disk before the suite names
them, and a share never flushes other programs' unwritten data to get there.

The program runs under strace; its flushes and renames, with the path behind
each descriptor (-y), are read back in the order they happened.
"""

import os
import re
import subprocess

from harness import BINARY, BUILD_DIR, SandboxTest

TRACED = "trace=fsync,fdatasync,syncfs,rename,renameat,renameat2"
FSYNC = re.compile(r"\bf(?:data)?sync\(\d+<([^>]*)>")


class Durability(SandboxTest):
    def traced_share(self, *args):
        trace = self.box.root / "trace.txt"
        # LeakSanitizer cannot work under ptrace; the other tests look for leaks.
        asan = ":".join(filter(None, [os.environ.get("ASAN_OPTIONS"), "detect_leaks=0"]))
        result = self.share(*args, env=self.box.env(ASAN_OPTIONS=asan),
                            program=["strace", "-f", "-qq", "-y", "-e", TRACED, "-o", trace, BINARY])
        return result, trace.read_text().splitlines()

    def until_suite_rename(self, lines):
        suite = '"' + self.box.suite_path.name + '"'
        for at, line in enumerate(lines):
            if "rename" in line and suite in line:
                return lines[:at]
        self.fail("the suite was never renamed into place:\n" + "\n".join(lines))

    def assertSuiteWriteIsDurable(self, lines):
        """The suite's new contents reach the disk before its name does, the
        run's record (which tells a later share whether the copies are named)
        before the suite's rename, and the folder that holds the new name after
        it (a crash then leaves the old suite or the new one, whole, and a
        record that still tells which copies the suite names)."""
        suite = '"' + self.box.suite_path.name + '"'
        at = next(i for i, line in enumerate(lines) if "rename" in line and suite in line)
        temporary = re.search(r'"(\.[^"]+)"', lines[at]).group(1)
        flushed_before = [m.group(1) for m in map(FSYNC.search, lines[:at]) if m]
        flushed_after = [m.group(1) for m in map(FSYNC.search, lines[at + 1:]) if m]
        trace = "\n".join(lines)
        self.assertIn(str(self.box.config / temporary), flushed_before,
                      "the suite's temporary was not flushed before its rename:\n" + trace)
        runs = str(self.box.home / ".local" / "state" / "halvernsignet-share" / "runs") + "/"
        self.assertTrue(any(path.startswith(runs) for path in flushed_before),
                        "the run's record was not flushed before the suite's rename:\n" + trace)
        self.assertIn(str(self.box.config), flushed_after,
                      "the suite's folder was not flushed after the rename:\n" + trace)

    def test_copies_and_their_folder_are_on_disk_before_the_suite_names_them(self):
        # (what else waits to be written, whether a file-system-wide flush is allowed)
        cases = [("quiet", 0, True), ("busy", 128, False)]
        for label, unwritten_mib, may_sync_everything in cases:
            with self.subTest(label):
                if unwritten_mib:
                    # Another program's download, left to the kernel to write.
                    with open(self.box.root / f"{label}-download", "wb") as f:
                        f.write(b"\xa5" * (unwritten_mib << 20))
                names = [f"{label}-{i}.txt" for i in range(3)]
                sources = []
                for name in names:
                    sources += ["--file", self.box.root / "in" / name]
                    (self.box.root / "in" / name).write_bytes(name.encode() * 100)
                result, lines = self.traced_share(*sources)
                self.assertEqual(result.returncode, 0, result.stderr)

                before = self.until_suite_rename(lines)
                whole_file_system = any("syncfs(" in line for line in before)
                flushed = {m.group(1) for line in before for m in [FSYNC.search(line)] if m}
                if not may_sync_everything:
                    self.assertFalse(any("syncfs(" in line for line in lines), "\n".join(lines))
                for path in [self.box.container / name for name in names] + [self.box.container]:
                    self.assertTrue(whole_file_system or str(path) in flushed,
                                    f"{path} not flushed before the suite:\n" + "\n".join(before))
                self.assertSuiteWriteIsDurable(lines)

    def test_a_thumbnail_made_after_the_last_copy_is_on_disk_before_the_suite_names_it(self):
        # The flush of the copies starts as soon as the last one is in place,
        # while the movie's thumbnail is still being made; the thumbnail's
        # name must still be flushed before the suite goes in.
        cases = [("quiet", 0), ("busy", 128)]
        for label, unwritten_mib in cases:
            with self.subTest(label):
                if unwritten_mib:
                    with open(self.box.root / f"{label}-download", "wb") as f:
                        f.write(b"\xa5" * (unwritten_mib << 20))
                note = self.box.root / "in" / f"{label}.txt"
                note.write_bytes(b"note")
                clip = self.box.root / "in" / f"{label}.mp4"
                subprocess.run([str(BUILD_DIR / "make_test_movie"), str(clip), "--seconds", "1"],
                               check=True, capture_output=True)
                result, lines = self.traced_share("--file", note, "--movie", clip)
                self.assertEqual(result.returncode, 0, result.stderr)

                before = self.until_suite_rename(lines)
                thumbnail = max(at for at, line in enumerate(before) if "rename" in line and '.jpg"' in line)
                after = before[thumbnail + 1:]
                container = str(self.box.container)
                self.assertTrue(any("syncfs(" in line for line in after) or
                                any(m and m.group(1) == container for m in map(FSYNC.search, after)),
                                "the thumbnail's folder was not flushed after it was named:\n" + "\n".join(before))
