"""The outcome of a share started without a terminal, told in one desktop
notification: checked against a notification service that records every
Notify call, on the private session bus this test runs in (see
tests/CMakeLists.txt: xvfb-run and dbus-run-session)."""

import json
import os
import pty
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from harness import BUILD_DIR, SandboxTest  # noqa: E402

RECORDER = Path(__file__).resolve().parent / "record_notifications.py"
MAKE_MOVIE = str(BUILD_DIR / "make_test_movie")


class Notifications(SandboxTest):
    def setUp(self):
        super().setUp()
        if not os.environ.get("DBUS_SESSION_BUS_ADDRESS") or not os.environ.get("DISPLAY"):
            raise AssertionError("these tests run in a D-Bus session under xvfb-run")
        self.calls = self.box.root / "notify-calls.jsonl"
        self.service = subprocess.Popen(["/usr/bin/python3", str(RECORDER), str(self.calls)],
                                        stdout=subprocess.PIPE, text=True)
        self.addCleanup(self.stop_service)
        self.assertEqual(self.service.stdout.readline().strip(), "ready")

    def stop_service(self):
        if self.service.poll() is None:
            self.service.terminate()
            self.service.wait(timeout=10)

    def notified(self):
        self.box.settle()
        time.sleep(0.2)  # the service writes each call as it comes
        return [json.loads(line) for line in self.calls.read_text().splitlines()] if self.calls.exists() else []

    def share_from_desktop(self, *args):
        env = self.box.env(DISPLAY=os.environ["DISPLAY"])
        return self.box.run(*args, env=env)

    def test_a_share_with_a_broken_movie_is_told_with_what_was_left_out(self):
        broken = self.box.root / "in" / "broken.mp4"
        broken.write_bytes(os.urandom(50_000))
        clip = self.box.root / "in" / "clip.mp4"
        subprocess.run([MAKE_MOVIE, str(clip), "--seconds", "1"], check=True, capture_output=True)
        result = self.share_from_desktop("--movie", clip, "--movie", broken)
        self.assertEqual(result.returncode, 4, result.stderr)
        [call] = self.notified()
        self.assertEqual(call["app_name"], "halvernsignet-share")
        self.assertEqual(call["summary"], "Shared 1 of 2 items with halvernsignet")
        self.assertRegex(call["body"], r"^broken\.mp4: no preview could be made: .+$")

    def test_a_complete_share_says_how_many_items_reached_halvernsignet(self):
        result = self.share_from_desktop("--text", "one", "--text", "two", "--url", "https://example.com/")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual([(c["summary"], c["body"]) for c in self.notified()],
                         [("Shared 3 items with halvernsignet", "")])

    def test_none_from_a_terminal_and_none_without_a_service(self):
        controller, terminal = pty.openpty()
        try:
            process = self.box.popen("-v", "--text", "hi", env=self.box.env(DISPLAY=os.environ["DISPLAY"]))
            process.communicate(timeout=60)  # stderr is a pipe: the terminal case is below
            started = subprocess.run([self.box_binary(), "-v", "--text", "hi"], stderr=terminal,
                                     env=self.box.env(DISPLAY=os.environ["DISPLAY"]), timeout=60)
            self.assertEqual(started.returncode, 0)
            told = os.read(controller, 65536).decode()
        finally:
            os.close(controller)
            os.close(terminal)
        self.assertIn("no desktop notification: standard error is a terminal", told)
        self.assertEqual(len(self.notified()), 1, "only the share without a terminal is told")

        self.stop_service()
        result = self.box.run("-v", "--text", "hi", env=self.box.env(DISPLAY=os.environ["DISPLAY"]))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stderr, r"no desktop notification: no notification service answered")

    def box_binary(self):
        from harness import BINARY
        return BINARY


if __name__ == "__main__":
    unittest.main()
