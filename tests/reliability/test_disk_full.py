"""Shares into file systems that are full: the container too small for a
copy, and a suite file system with no room for the new suite. Nothing partial
is left behind and the earlier suite stays as it was. Mounts small tmpfs file
systems, so it needs root (skipped otherwise)."""

import errno
import os
import plistlib
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from harness import GROUP, SandboxTest  # noqa: E402

OTHER_KEYS = {"theme": "dark", "launches": 42}


def mount_tmpfs(test, path, size):
    path.mkdir(parents=True, exist_ok=True)
    result = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size},mode=0700", "tmpfs", str(path)],
                            capture_output=True, text=True)
    if result.returncode != 0:
        test.skipTest(f"cannot mount a tmpfs at {path}: {result.stderr.strip()}")
    test.addCleanup(subprocess.run, ["umount", "-l", str(path)], check=False)


def fill(directory):
    """Takes every free block of the file system that holds `directory`."""
    fd = os.open(directory / "filler", os.O_WRONLY | os.O_CREAT, 0o600)
    try:
        while True:
            os.write(fd, b"\0" * 4096)
    except OSError as e:
        if e.errno != errno.ENOSPC:
            raise
    finally:
        os.close(fd)


@unittest.skipUnless(os.geteuid() == 0, "disk-full tests mount small tmpfs file systems and need root; skipped")
class DiskFull(SandboxTest):
    def suite_bytes(self):
        return self.box.suite_path.read_bytes()

    def write_earlier_suite(self, value):
        with open(self.box.suite_path, "wb") as f:
            plistlib.dump({**OTHER_KEYS, "ShareKey": value}, f)

    def test_copy_larger_than_the_free_space_leaves_nothing_partial(self):
        mount_tmpfs(self, self.box.container, "1m")
        earlier = self.box.root / "in" / "earlier.txt"
        earlier.write_bytes(b"earlier share")
        self.assertEqual(self.share("--file", earlier).returncode, 0)
        self.write_earlier_suite(self.box.stored())
        big = self.box.root / "in" / "big.bin"
        big.write_bytes(os.urandom(3 << 20))
        small = self.box.root / "in" / "small.txt"
        small.write_bytes(b"fits")

        result = self.share("--file", big, "--file", small)
        # The failed copy is reported by its line and the share says an item was left out.
        self.assertEqual(result.returncode, 4, result.stderr)
        self.assertRegex(result.stdout, r"^Cannot copy item at file://\S*/big\.bin to file://\S*/big\.bin: .*"
                         r"No space left on device\n$")
        # The copy that failed left nothing: no partial file, no temporary.
        self.assertEqual(self.box.container_files(), ["earlier.txt", "small.txt"])
        self.assertEqual((self.box.container / "earlier.txt").read_bytes(), b"earlier share")
        suite = self.box.suite()
        self.assertEqual({k: suite[k] for k in OTHER_KEYS}, OTHER_KEYS)
        self.assertIn(b"/small.txt", suite["ShareKey"])
        self.assertNotIn(b"big.bin", suite["ShareKey"])

    def test_full_suite_file_system_keeps_the_earlier_suite(self):
        mount_tmpfs(self, self.box.config, "256k")
        self.box.register_handler()
        self.write_earlier_suite(["earlier"])
        # The lock file needs no block; create it while there is room for its inode.
        (self.box.config / ("." + GROUP + ".plist.lock")).touch()
        before = self.suite_bytes()
        fill(self.box.config)

        result = self.share("--text", "new " * 1000)
        # The suite could not take the payload: the error alert, and halvernsignet
        # is not sent to read the earlier payload as new; nothing torn or left.
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(self.box.urls(), [])
        self.assertEqual(self.suite_bytes(), before)
        self.assertEqual(sorted(p.name for p in self.box.config.iterdir()),
                         sorted(["." + GROUP + ".plist.lock", GROUP + ".plist", "filler", "mimeapps.list"]))


if __name__ == "__main__":
    unittest.main()
