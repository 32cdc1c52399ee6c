"""How a share tells what it did not do: items left out (exit 4, one line on
standard error each) and a suite that cannot be written (halvernsignet is not
opened, error alert, exit 1)."""

import json
import os
import shutil
import subprocess
import unittest
from pathlib import Path

from harness import BINARY, BUILD_DIR, SandboxTest

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
MAKE_MOVIE = str(BUILD_DIR / "make_test_movie")
LEFT_OUT = "halvernsignet-share: left out attachment "
ERROR_LINE = "[ERROR] Error loading data!\n"


def left_out_lines(stderr):
    return [line for line in stderr.splitlines() if line.startswith(LEFT_OUT)]


class ItemsLeftOut(SandboxTest):
    def source(self, name, content):
        path = self.box.root / "in" / name
        path.write_bytes(content)
        return path

    def photo(self):
        return self.source("IMG_0042.png", (EXAMPLES / "IMG_0042.png").read_bytes())

    def good_movie(self):
        path = self.box.root / "in" / "clip.mp4"
        subprocess.run([MAKE_MOVIE, str(path), "--seconds", "1"], check=True, capture_output=True)
        return path

    def program_without_movie_module(self):
        # A copy of the program with no movie module beside it or in ../lib.
        lonely = self.box.root / "bin" / "halvernsignet-share"
        lonely.parent.mkdir()
        shutil.copy(BINARY, lonely)
        return [lonely]

    def test_each_item_left_out_is_named_once_and_the_share_exits_4(self):
        # (case, arguments, program, record types stored, stdout pattern, the left-out line's pattern)
        cases = [
            ("text before a photo", lambda: ["--text", "hello", self.photo()], None, [0], "",
             r'1 of 2 \("hello"\): .*last attachment.*'),
            ("corrupt movie", lambda: ["--movie", self.source("broken.mp4", os.urandom(100_000))], None, [], "",
             r"1 of 1 \(broken\.mp4\): no preview could be made: .+"),
            ("copy that failed", lambda: [self.photo(), "--image", self.box.root / "gone.jpg"], None, [0],
             r"^Cannot copy item at file://.*/gone\.jpg to file://.+: .+\n$",
             r"2 of 2 \(gone\.jpg\): it could not be copied: .+"),
            ("movie module missing", lambda: ["--movie", self.good_movie()], self.program_without_movie_module,
             [], "", r"1 of 1 \(clip\.mp4\): no preview could be made: movie support is not available"),
        ]
        for name, args, program, types, stdout, line in cases:
            with self.subTest(name):
                self.box.cleanup()
                self.setUp()
                result = self.share(*args(), program=program and program(), timeout=60)
                self.assertHandedOver(result, "media", status=4)
                if stdout:
                    self.assertRegex(result.stdout, stdout)
                else:
                    self.assertEqual(result.stdout, "")
                [reported] = left_out_lines(result.stderr)
                self.assertRegex(reported, "^" + LEFT_OUT + line + "$")
                # Everything else was handed over as before.
                self.assertEqual([r["type"] for r in json.loads(self.box.stored())], types)
                # A copy no payload names does not stay.
                self.assertEqual(self.box.container_files(), self.box.named_files())

    def test_a_complete_share_says_nothing_and_exits_0(self):
        result = self.share("--text", "hello", "--url", "https://example.com/")
        self.assertHandedOver(result, "text")
        self.assertEqual(result.stderr, "")


class UnwritableSuite(SandboxTest):
    """The previous payload must never be read as new: halvernsignet stays closed."""

    def share_second(self, env=None, program=None):
        result = self.share("--text", "second", env=env, program=program, timeout=60)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(result.stdout, ERROR_LINE)
        self.assertIn("Error loading data", result.stderr)  # the alert
        self.assertIn("halvernsignet-share: nothing handed over: ", result.stderr)
        self.assertEqual(self.box.urls(), [])
        return result

    def test_suite_path_is_a_directory(self):
        self.box.suite_path.mkdir()
        self.share_second()
        self.assertEqual(list(self.box.suite_path.iterdir()), [])

    def test_config_home_cannot_be_used_at_all(self):
        # The suite cannot even be opened. The handler's default then comes
        # from the data directory's list, so a wrong launch would show.
        blocked = self.box.root / "config-is-a-file"
        blocked.write_text("")
        (self.box.data / "applications" / "mimeapps.list").write_text(
            (self.box.config / "mimeapps.list").read_text())
        self.share_second(env=self.box.env(XDG_CONFIG_HOME=str(blocked)))
        self.assertEqual(blocked.read_text(), "")

    def test_read_only_config_keeps_the_previous_payload(self):
        # Root ignores file modes, so ~/.config is made read-only as a mount,
        # in a mount namespace of the share's own.
        if shutil.which("unshare") is None:
            self.skipTest("unshare(1) is not installed")
        wrap = ["unshare", "--mount"] + ([] if os.geteuid() == 0 else ["--map-root-user"])
        probe = subprocess.run([*wrap, "true"], capture_output=True)
        if probe.returncode != 0:
            self.skipTest("no mount namespace here: " + probe.stderr.decode().strip())
        self.assertHandedOver(self.share("--text", "first"), "text")
        self.box.urls_file.unlink()
        before = self.box.suite_path.read_bytes()
        config = str(self.box.config)
        wrap += ["sh", "-c", 'mount --bind "$0" "$0" && mount -o remount,bind,ro "$0" && exec "$@"', config, BINARY]
        self.share_second(program=wrap)
        self.assertEqual(self.box.suite_path.read_bytes(), before)
        self.assertEqual(self.box.stored(), ["first"])


if __name__ == "__main__":
    unittest.main()
