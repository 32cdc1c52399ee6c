"""A share stopped midway (SIGINT, SIGTERM, SIGHUP) takes back what it made:
the container and the suite are as they were, no run record stays, and the
process exits with the shell's status and one line on standard error."""

import json
import signal
import time
from pathlib import Path

from harness import BINARY, TEST_BINARY, SandboxTest

STOPPED = r"^halvernsignet-share: stopped by SIG(INT|TERM|HUP): nothing was handed over, and what the share had copied was removed\n$"


class Stopping(SandboxTest):
    def source(self, name, content):
        path = self.box.root / "in" / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)
        return path

    def earlier_share(self):
        """What a share before left: a file named by its payload, and the suite."""
        self.assertEqual(self.share("--file", self.source("earlier.txt", b"earlier")).returncode, 0)
        return self.box.suite_path.read_bytes()

    def start(self, attachments, program=None, **env):
        manifest = self.box.root / "manifest.json"
        manifest.write_text(json.dumps({"inputItems": [{"attachments": attachments}]}))
        process = self.box.popen("--manifest", manifest, program=program, env=self.box.env(**env))
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process

    def wait_for(self, what, condition, timeout=30):
        deadline = time.monotonic() + timeout
        while not condition():
            self.assertLess(time.monotonic(), deadline, "timed out waiting for " + what)
            time.sleep(0.02)

    def assertRolledBack(self, process, status, suite_before):
        out, err = process.communicate(timeout=30)
        self.assertEqual(process.returncode, status, err)
        self.assertRegex(err, STOPPED)
        self.assertEqual(out, "")
        self.assertEqual(self.box.container_files(), ["earlier.txt"])
        self.assertEqual(self.box.suite_path.read_bytes(), suite_before)
        self.assertEqual(self.box.records(), [])
        self.assertEqual(self.box.urls(), ["halvernsignet://dataUrl=ShareKey#file"])  # the earlier share's only

    def test_each_signal_takes_back_the_copies_made(self):
        for stop, status in ((signal.SIGINT, 130), (signal.SIGTERM, 143), (signal.SIGHUP, 129)):
            with self.subTest(stop.name):
                self.box.cleanup()
                self.setUp()
                suite_before = self.earlier_share()
                folder = self.source("Holiday/a.bin", b"a" * 5000).parent
                self.source("Holiday/inner/b.bin", b"b" * 5000)
                # Copied at once; the last attachment arrives only after a minute.
                process = self.start([
                    {"types": ["public.file-url"], "url": self.source("notes.txt", b"notes").as_uri()},
                    {"types": ["public.file-url"], "url": folder.as_uri()},
                    {"types": ["public.jpeg"], "url": self.source("p.jpg", b"\xff\xd8photo").as_uri()},
                    {"types": ["public.file-url"], "url": self.source("late.txt", b"late").as_uri(),
                     "delayMs": 60000}])
                self.wait_for("the copies", lambda: len(self.box.container_files()) == 4)
                process.send_signal(stop)
                self.assertRolledBack(process, status, suite_before)

    def test_a_signal_during_a_copy_takes_back_its_temporary_too(self):
        suite_before = self.earlier_share()
        folder = self.box.root / "in" / "Holiday"
        for i in range(8):
            self.source(f"Holiday/{i}.bin", bytes([i]) * (64 << 10))
        process = self.start([{"types": ["public.file-url"], "url": folder.as_uri()}],
                             program=[TEST_BINARY], HALVERNSIGNET_SHARE_TEST_COPY_DELAY_MS="400")
        # The folder is being copied under a temporary name.
        temporary = lambda: [n for n in self.box.container_files() if n.startswith(".incoming-")]  # noqa: E731
        self.wait_for("the folder's temporary", lambda: temporary() and len(list(
            (self.box.container / temporary()[0]).iterdir())) >= 2)
        process.send_signal(signal.SIGTERM)
        self.assertRolledBack(process, 143, suite_before)

    def test_only_the_test_build_reads_the_copy_delay(self):
        name = b"HALVERNSIGNET_SHARE_TEST_COPY_DELAY_MS"
        self.assertFalse(name in Path(BINARY).read_bytes(), "the shipped program names the test hook")
        self.assertTrue(name in Path(TEST_BINARY).read_bytes())
