"""The shipped desktop and file-manager entries: valid, listed by GIO for the
types people share, and launching the share target the way a file manager
does. Runs with Debian's python3 (GObject introspection)."""

import configparser
import json
import shutil
import subprocess
import sys
import time
import unittest
from pathlib import Path
from urllib.parse import unquote, urlparse

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from harness import BINARY, SandboxTest  # noqa: E402

import gi  # noqa: E402

gi.require_version("Gio", "2.0")
from gi.repository import Gio  # noqa: E402

PACKAGING = Path(__file__).resolve().parents[2] / "packaging"
ENTRY = PACKAGING / "halvernsignet-share.desktop"


def read_entry(path):
    parser = configparser.ConfigParser(interpolation=None, strict=True)
    parser.optionxform = str  # keys are case-sensitive
    parser.read(path, encoding="utf-8")
    return parser


class ShippedEntries(unittest.TestCase):
    def test_desktop_files_validate(self):
        for path in (ENTRY, PACKAGING / "Thunar" / "sendto" / "halvernsignet-share.desktop",
                     PACKAGING / "kio" / "servicemenus" / "halvernsignet-share.desktop"):
            result = subprocess.run(["desktop-file-validate", str(path)], capture_output=True, text=True)
            self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""), path)

    def test_every_entry_passes_local_paths(self):
        # %F: a file on a GVfs mount arrives as its FUSE path, never as an
        # sftp:// or smb:// URI that would be shared as a link text.
        dolphin = read_entry(PACKAGING / "kio" / "servicemenus" / "halvernsignet-share.desktop")
        thunar = read_entry(PACKAGING / "Thunar" / "sendto" / "halvernsignet-share.desktop")
        nemo = read_entry(PACKAGING / "nemo" / "actions" / "halvernsignet-share.nemo_action")
        main = read_entry(ENTRY)
        actions = dolphin["Desktop Entry"]["Actions"].rstrip(";").split(";")
        execs = [main["Desktop Entry"]["Exec"], thunar["Desktop Entry"]["Exec"], nemo["Nemo Action"]["Exec"]]
        execs += [dolphin["Desktop Action " + a]["Exec"] for a in actions]
        for command in execs:
            self.assertEqual(command, "halvernsignet-share %F")

    def test_file_manager_entries_use_their_own_keys(self):
        dolphin = read_entry(PACKAGING / "kio" / "servicemenus" / "halvernsignet-share.desktop")
        entry = dolphin["Desktop Entry"]
        # Every file (all types descend from application/octet-stream) and folder.
        self.assertLessEqual({"application/octet-stream", "inode/directory"}, set(entry["MimeType"].split(";")))
        self.assertEqual(entry["NoDisplay"], "true")
        for action in entry["Actions"].rstrip(";").split(";"):
            self.assertTrue(dolphin["Desktop Action " + action]["Name"])

        nemo = read_entry(PACKAGING / "nemo" / "actions" / "halvernsignet-share.nemo_action")["Nemo Action"]
        self.assertEqual(nemo["Active"], "true")
        self.assertTrue(nemo["Name"])
        self.assertEqual(nemo["Selection"], "notnone")
        self.assertIn("any", nemo["Extensions"].split(";"))
        self.assertEqual(nemo["Quote"], "double")  # names with spaces stay one argument

        main = read_entry(ENTRY)["Desktop Entry"]
        self.assertEqual(main["NoDisplay"], "true")


class LaunchedThroughGio(SandboxTest):
    """Installs the entry in the session's applications folder, pointing at
    the built program, as a package would with its own path."""

    def install_entry(self):
        apps = self.box.data / "applications"
        text = ENTRY.read_text().replace("Exec=halvernsignet-share ", f"Exec={BINARY} ")
        (apps / ENTRY.name).write_text(text)
        subprocess.run(["update-desktop-database", str(apps)], check=True)
        return apps / ENTRY.name

    def gio(self, code):
        """Runs `code` with GIO in the sandbox's session; returns its output."""
        result = subprocess.run(
            [sys.executable, "-c", "import gi, sys\ngi.require_version('Gio', '2.0')\n"
             "from gi.repository import Gio\n" + code],
            capture_output=True, text=True, env=self.box.env(), timeout=60, check=True)
        return result.stdout

    def test_listed_under_open_with_for_what_people_share(self):
        self.install_entry()
        types = ["image/jpeg", "image/png", "video/mp4", "video/quicktime", "inode/directory", "text/plain",
                 "text/markdown", "application/pdf", "application/octet-stream"]
        listed = json.loads(self.gio(
            "import json\nprint(json.dumps({t: [a.get_id() for a in Gio.AppInfo.get_all_for_type(t)]"
            f" for t in {types!r}}}))"))
        for content_type in types:
            self.assertIn("halvernsignet-share.desktop", listed[content_type], content_type)

    def test_two_files_reach_halvernsignet_as_files(self):
        entry = self.install_entry()
        photo = self.box.root / "in" / "a #%.jpg"
        shutil.copy(Path(__file__).resolve().parents[2] / "examples" / "IMG_0042.png", photo)
        notes = self.box.root / "in" / "Travel notes.txt"
        notes.write_text("Day 1: rain.\n")
        uris = [Gio.File.new_for_path(str(p)).get_uri() for p in (photo, notes)]
        self.assertIn("%23%25", uris[0])
        # A remote file with no local path (no GVfs FUSE mount here) is not
        # passed at all: it must never become a link text.
        uris.append("sftp://files.example.invalid/remote%20notes.txt")
        self.gio(f"app = Gio.DesktopAppInfo.new_from_filename({str(entry)!r})\n"
                 f"assert app.launch_uris({uris!r}, Gio.AppLaunchContext())\n")

        # GIO started the program, not this test: wait for what it hands over.
        deadline = time.monotonic() + 60
        while not self.box.urls_file.exists() and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(0.2)  # a second URL, which must not come, would show
        self.assertEqual(self.box.urls_file.read_text().splitlines(), ["halvernsignet://dataUrl=ShareKey#file"])
        records = json.loads(self.box.stored())
        self.assertEqual([r["type"] for r in records], [0, 2])
        copies = [Path(unquote(urlparse(r["path"]).path)) for r in records]
        self.assertEqual(copies[0].parent, self.box.container)
        self.assertEqual(copies[0].read_bytes(), photo.read_bytes())
        self.assertEqual(copies[1].name, "Travel notes.txt")
        self.assertEqual(copies[1].read_text(), "Day 1: rain.\n")


if __name__ == "__main__":
    unittest.main()
