"""What a share that is killed leaves behind is cleared by the next share;
what a running share or a finished one made is never touched."""

import json
import signal
import subprocess
import time

from harness import SandboxTest


class Leftovers(SandboxTest):
    def source(self, name, content):
        path = self.box.root / "in" / name
        path.write_bytes(content)
        return path

    def records(self):
        runs = self.box.home / ".local" / "state" / "halvernsignet-share" / "runs"
        return sorted(p.name for p in runs.iterdir()) if runs.exists() else []

    def start_share_that_waits(self, *files, delay_ms=60000):
        """A share whose files are copied at once and whose last attachment, a
        file (late.txt), arrives only after `delay_ms`."""
        attachments = [{"types": ["public.file-url"], "url": path.as_uri()} for path in files]
        late = self.source("late.txt", b"late")
        attachments.append({"types": ["public.file-url"], "url": late.as_uri(), "delayMs": delay_ms})
        process = self.box.popen("--manifest", "-", stdin=subprocess.PIPE)
        process.stdin.write(json.dumps({"inputItems": [{"attachments": attachments}]}))
        process.stdin.close()
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process

    def wait_for(self, condition):
        deadline = time.monotonic() + 20
        while not condition():
            self.assertLess(time.monotonic(), deadline, "timed out")
            time.sleep(0.02)

    def test_a_killed_share_leaves_nothing_after_the_next_share(self):
        earlier = self.source("earlier.txt", b"named by an earlier share")
        old = self.source("same.txt", b"old")
        self.assertEqual(self.share("--file", earlier, "--file", old).returncode, 0)
        new = self.source("new.txt", b"made by the share that is killed")
        (self.box.root / "in" / "newer").mkdir()
        newer = self.source("newer/same.txt", b"new")

        killed = self.start_share_that_waits(new, newer)
        same = self.box.container / "same.txt"
        self.wait_for(lambda: same.read_bytes() == b"new" and (self.box.container / "new.txt").exists())
        killed.send_signal(signal.SIGKILL)
        killed.wait()
        self.assertEqual(len(self.records()), 1)

        self.assertEqual(self.share("--text", "next").returncode, 0)
        # new.txt was named by no payload; same.txt took the name of a file an
        # earlier share named, and stays.
        self.assertEqual(self.box.container_files(), ["earlier.txt", "same.txt"])
        self.assertEqual(same.read_bytes(), b"new")
        self.assertEqual(self.records(), [])

    def test_a_running_share_keeps_its_copies_through_another_share(self):
        waiting = self.start_share_that_waits(self.source("a.txt", b"a"), delay_ms=3000)
        self.wait_for(lambda: (self.box.container / "a.txt").exists())
        self.assertEqual(self.share("--file", self.source("b.txt", b"b")).returncode, 0)
        self.assertEqual(self.box.container_files(), ["a.txt", "b.txt"])
        self.assertEqual(waiting.wait(timeout=30), 0)
        self.assertEqual(self.box.container_files(), ["a.txt", "b.txt", "late.txt"])
        self.assertEqual(self.records(), [])
