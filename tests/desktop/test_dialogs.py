"""The error alert and the progress window in a real X server, read back from
the accessibility tree and operated like a person would. Runs under
`xvfb-run` in a D-Bus session (see tests/CMakeLists.txt) with Debian's
python3, which has pyatspi. Screenshots go to the build folder."""

import json
import os
import signal
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from harness import BUILD_DIR, TEST_BINARY, SandboxTest  # noqa: E402

import pyatspi  # noqa: E402

PROGRESS_TITLE = "Sharing with halvernsignet"


def wait_for(what, probe, timeout=30.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = probe()
        if found:
            return found
        time.sleep(0.1)
    raise AssertionError(f"timed out waiting for {what}")


def windows_of(pid):
    """The top-level accessible windows of the process `pid`."""
    found = []
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        try:
            if app is None or app.get_process_id() != pid:
                continue
            found.extend(w for w in app if w is not None)
        except Exception:  # an application going away while we look
            continue
    return found


def window_named(pid, name):
    for window in windows_of(pid):
        try:
            if window.name == name:
                return window
        except Exception:  # a window or application going away while we look
            continue
    return None


def texts(window):
    """(role, name) of the window and of every text and button a person
    reads in it, in order (a button's own label is its name)."""
    parts = [(window.getRoleName(), window.name)]
    for node in pyatspi.findAllDescendants(window, lambda n: n.getRoleName() in ("label", "push button")):
        if node.getRoleName() == "label" and node.parent.getRoleName() == "push button":
            continue
        parts.append((node.getRoleName(), node.name))
    return parts


def x_window(title):
    result = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"],
                            capture_output=True, text=True)
    return result.stdout.split()[0] if result.returncode == 0 and result.stdout.split() else None


def screenshot(title, name):
    BUILD_DIR.mkdir(parents=True, exist_ok=True)
    path = BUILD_DIR / name
    subprocess.run(["import", "-window", x_window(title), str(path)], check=True, timeout=30)
    return path


class DesktopWindows(SandboxTest):
    @classmethod
    def setUpClass(cls):
        if not os.environ.get("DISPLAY"):
            raise AssertionError("no X server: these tests run under xvfb-run")
        # Starts the accessibility registry before any program registers with it.
        pyatspi.Registry.getDesktop(0)

    def start(self, attachments, program=None, **env):
        manifest = self.box.root / "manifest.json"
        manifest.write_text(json.dumps({"inputItems": [{"attachments": attachments}]}))
        # Standard error is a pipe, not a terminal, and a display is named:
        # what a share started from a file manager sees.
        # Xvfb has no GPU: GTK draws with cairo so the screenshots show the
        # window rather than an unread GL surface, and opens no GL at all:
        # Mesa's software driver, loaded and unloaded again, leaves 128
        # bytes that LeakSanitizer reports in the sanitizer runs.
        run_env = self.box.env(DISPLAY=os.environ["DISPLAY"], GSK_RENDERER="cairo", GDK_DEBUG="gl-disable", **env)
        process = self.box.popen("--manifest", manifest, env=run_env, program=program)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process

    def press(self, window, label):
        button = next(n for n in pyatspi.findAllDescendants(window, lambda n: n.getRoleName() == "push button")
                      if n.name == label)
        # A real click at the button's place: its place in the window (GTK
        # tells no screen positions) plus the window's place on the screen.
        x, y, width, height = button.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
        shell = subprocess.run(["xdotool", "getwindowgeometry", "--shell", x_window(window.name)],
                               capture_output=True, text=True, check=True).stdout
        place = dict(line.split("=", 1) for line in shell.split())
        subprocess.run(["xdotool", "mousemove", "--sync", str(int(place["X"]) + x + width // 2),
                        str(int(place["Y"]) + y + height // 2), "click", "1"], check=True)

    def test_error_alert_is_a_modal_dialog_that_one_press_closes(self):
        process = self.start([{"types": ["public.plain-text"], "error": "the sharing program went away"}])
        dialog = wait_for("the error dialog", lambda: window_named(process.pid, "Error"))
        self.assertEqual(texts(dialog), [("dialog", "Error"), ("label", "Error"),
                                         ("label", "Error loading data"), ("push button", "Error")])
        self.assertIn("modal", [s for s in map(pyatspi.stateToString, dialog.getState().getStates())])
        shot = screenshot("Error", "dialog-error.png")
        self.assertGreater(shot.stat().st_size, 1000)
        # Task bars match the window with the desktop entry (StartupWMClass).
        wm_class = subprocess.run(["xprop", "-id", x_window("Error"), "WM_CLASS"],
                                  capture_output=True, text=True, check=True).stdout
        self.assertEqual(wm_class.strip(), 'WM_CLASS(STRING) = "halvernsignet-share", "halvernsignet-share"')

        time.sleep(0.5)
        self.assertIsNone(process.poll(), "the process waits while the dialog is open")
        self.press(dialog, "Error")
        out, err = process.communicate(timeout=15)
        self.assertEqual(process.returncode, 1, err)
        self.assertEqual(out, "[ERROR] Error loading data!\n")
        self.assertNotIn("Error loading data", err, "no terminal alert when the dialog was shown")

    def test_long_copy_shows_progress_window_closed_when_the_share_ends(self):
        folder = self.box.root / "in" / "Holiday"
        folder.mkdir()
        for i in range(6):
            (folder / f"{i}.bin").write_bytes(bytes([i]) * (256 << 10))
        process = self.start(
            [{"types": ["public.file-url"], "url": folder.as_uri()},
             {"types": ["public.file-url"], "error": "the sharing program went away"}],
            program=[TEST_BINARY], HALVERNSIGNET_SHARE_TEST_COPY_DELAY_MS="700")

        def progress_texts():
            window = window_named(process.pid, PROGRESS_TITLE)
            # Wait for figures past the first file, so the bar has moved.
            parts = texts(window) if window else []
            return parts if any(n.startswith(("512.0 KiB", "768.0 KiB")) for _, n in parts) else None

        parts = wait_for("the progress window", progress_texts)
        names = [name for _, name in parts]
        self.assertEqual(names[:2], [PROGRESS_TITLE, "Copying item 1 of 1"])
        self.assertRegex(names[2], r"^(512\.0|768\.0) KiB of 1\.5 MiB \((33|50)%\)$")
        self.assertRegex(names[3], r"^About 0:00:0\d left \(.*/s\)$")
        self.assertEqual(names[4:], ["Cancel"])
        screenshot(PROGRESS_TITLE, "progress-window.png")

        # The copy is done and the error dialog is up: the progress window is gone.
        wait_for("the error dialog", lambda: window_named(process.pid, "Error"))
        wait_for("the progress window to close", lambda: window_named(process.pid, PROGRESS_TITLE) is None, 10)
        self.assertIsNone(x_window(PROGRESS_TITLE))
        self.assertIsNone(process.poll())
        self.press(window_named(process.pid, "Error"), "Error")
        _, err = process.communicate(timeout=15)
        self.assertEqual(process.returncode, 1, err)
        # No payload names the folder's copy (the last load failed): it went.
        self.assertEqual(self.box.container_files(), [])

    def test_cancel_in_the_progress_window_stops_the_share_and_takes_back_its_copies(self):
        earlier = self.box.root / "in" / "earlier.txt"
        earlier.write_bytes(b"earlier")
        self.assertEqual(self.box.run("--file", earlier).returncode, 0)
        suite_before = self.box.suite_path.read_bytes()
        folder = self.box.root / "in" / "Holiday"
        folder.mkdir()
        for i in range(8):
            (folder / f"{i}.bin").write_bytes(bytes([i]) * (256 << 10))
        photo = self.box.root / "in" / "p.jpg"
        photo.write_bytes(b"\xff\xd8photo")
        process = self.start(
            [{"types": ["public.jpeg"], "url": photo.as_uri()},
             {"types": ["public.file-url"], "url": folder.as_uri()}],
            program=[TEST_BINARY], HALVERNSIGNET_SHARE_TEST_COPY_DELAY_MS="700")
        window = wait_for("the progress window", lambda: window_named(process.pid, PROGRESS_TITLE))
        wait_for("a copy under way", lambda: any(n.startswith(".incoming-") for n in self.box.container_files()))
        self.press(window, "Cancel")
        out, err = process.communicate(timeout=30)
        self.assertEqual(process.returncode, 3, err)
        self.assertEqual(err, "halvernsignet-share: cancelled by you: nothing was handed over, "
                              "and what the share had copied was removed\n")
        self.assertEqual(out, "")
        self.assertEqual(self.box.container_files(), ["earlier.txt"])
        self.assertEqual(self.box.suite_path.read_bytes(), suite_before)
        self.assertEqual(self.box.records(), [])

    def test_missing_halvernsignet_is_told_in_a_dialog(self):
        self.box.config.joinpath("mimeapps.list").unlink()
        for entry in (self.box.data / "applications").iterdir():
            entry.unlink()
        process = self.start([{"types": ["public.plain-text"], "string": "Hello"}])
        dialog = wait_for("the notice", lambda: window_named(process.pid, "halvernsignet is not installed"))
        self.assertIn(("push button", "OK"), texts(dialog))
        self.press(dialog, "OK")
        out, err = process.communicate(timeout=15)
        self.assertEqual((process.returncode, out), (0, ""), err)
        self.assertNotIn("not installed", err)
        self.assertEqual(self.box.stored(), ["Hello"])

    def test_a_signal_once_everything_was_handed_over_keeps_it_all_and_ends_at_once(self):
        self.box.config.joinpath("mimeapps.list").unlink()
        for entry in (self.box.data / "applications").iterdir():
            entry.unlink()
        photo = self.box.root / "in" / "p.jpg"
        photo.write_bytes(b"\xff\xd8photo")
        process = self.start([{"types": ["public.jpeg"], "url": photo.as_uri()}])
        # The share is stored; the process waits for the notice to be closed.
        wait_for("the notice", lambda: window_named(process.pid, "halvernsignet is not installed"))
        process.send_signal(signal.SIGTERM)
        out, err = process.communicate(timeout=15)
        self.assertEqual((process.returncode, out), (143, ""), err)
        self.assertRegex(err, r"(?m)^halvernsignet-share: stopped by SIGTERM once everything was handed over$")
        [record] = json.loads(self.box.stored())
        self.assertEqual(self.box.container_files(), [record["path"].rsplit("/", 1)[1]])
        self.assertEqual(self.box.records(), [])


if __name__ == "__main__":
    unittest.main()
