"""The shipped desktop and file-manager entries: valid, listed by GIO for the
types people share, and launching the share target the way a file manager
does. Runs with Debian's python3 (GObject introspection)."""

import configparser
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path
from urllib.parse import unquote, urlparse

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from harness import BINARY, BUILD_DIR, SandboxTest  # noqa: E402

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


THUNAR = PACKAGING / "Thunar" / "sendto" / "halvernsignet-share.desktop"
NEMO = PACKAGING / "nemo" / "actions" / "halvernsignet-share.nemo_action"
FILE_MANAGER_ACTION = PACKAGING / "file-manager" / "actions" / "halvernsignet-share.desktop"
KDE_PLUGIN = PACKAGING / "kde-purpose" / "halvernsignet_share.json"
NAUTILUS = PACKAGING / "nautilus" / "halvernsignet_share.py"
PCMANFM = PACKAGING / "pcmanfm" / "halvernsignet_share_libfm.c"
LABEL = "Share with halvernsignet"


class ShippedEntries(unittest.TestCase):
    def test_desktop_files_validate(self):
        for path in (ENTRY, THUNAR):
            result = subprocess.run(["desktop-file-validate", str(path)], capture_output=True, text=True)
            self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""), path)

    def test_every_entry_passes_local_paths(self):
        # %F: a file on a GVfs mount arrives as its FUSE path, never as an
        # sftp:// or smb:// URI that would be shared as a link text.
        action = read_entry(FILE_MANAGER_ACTION)
        profiles = action["Desktop Entry"]["Profiles"].rstrip(";").split(";")
        execs = [read_entry(ENTRY)["Desktop Entry"]["Exec"], read_entry(THUNAR)["Desktop Entry"]["Exec"],
                 read_entry(NEMO)["Nemo Action"]["Exec"]]
        execs += [action["X-Action-Profile " + p]["Exec"] for p in profiles]
        for command in execs:
            self.assertEqual(command, "halvernsignet-share %F")

    def test_one_label_everywhere(self):
        labels = {
            "application": read_entry(ENTRY)["Desktop Entry"]["Name"],
            "Thunar": read_entry(THUNAR)["Desktop Entry"]["Name"],
            "Nemo": read_entry(NEMO)["Nemo Action"]["Name"],
            "file-manager action": read_entry(FILE_MANAGER_ACTION)["Desktop Entry"]["Name"],
            "KDE": json.loads(KDE_PLUGIN.read_text())["KPlugin"]["Name"],
        }
        self.assertIn(f'label="{LABEL}"', NAUTILUS.read_text())
        self.assertIn(f'gtk_action_new(ACTION_NAME, "{LABEL}"', PCMANFM.read_text())
        self.assertEqual(labels, dict.fromkeys(labels, LABEL))

    def test_file_manager_entries_use_their_own_keys(self):
        nemo = read_entry(NEMO)["Nemo Action"]
        self.assertEqual(nemo["Active"], "true")
        self.assertEqual(nemo["Selection"], "notnone")
        self.assertIn("any", nemo["Extensions"].split(";"))
        self.assertEqual(nemo["Quote"], "double")  # names with spaces stay one argument

        action = read_entry(FILE_MANAGER_ACTION)
        entry = action["Desktop Entry"]
        self.assertEqual(entry["Type"], "Action")
        # Selected items only: never the background of a folder (the whole folder).
        self.assertEqual((entry["TargetContext"], entry["TargetLocation"]), ("true", "false"))
        for profile in entry["Profiles"].rstrip(";").split(";"):
            # Files only: libfm-qt shows folder actions on the background too.
            self.assertEqual(action["X-Action-Profile " + profile]["MimeTypes"], "all/allfiles;")
            self.assertEqual(action["X-Action-Profile " + profile]["SelectionCount"], ">0")

        main = read_entry(ENTRY)["Desktop Entry"]
        self.assertEqual(main["NoDisplay"], "true")
        # A share target never becomes a type's opener.
        self.assertNotIn("MimeType", main)
        # The class the program's windows carry (tests/desktop/test_dialogs.py).
        self.assertEqual(main["StartupWMClass"], ENTRY.stem)


# Types people open every day; none may end up opened by the share target.
EVERYDAY_TYPES = [
    "text/plain", "text/markdown", "text/html", "text/csv", "text/x-python", "application/json",
    "application/xml", "image/jpeg", "image/png", "image/gif", "image/webp", "image/svg+xml", "image/tiff",
    "image/heif", "video/mp4", "video/quicktime", "video/x-matroska", "video/webm", "video/mpeg",
    "audio/mpeg", "audio/ogg", "audio/flac", "audio/x-wav", "application/pdf", "application/zip",
    "application/x-tar", "application/gzip", "application/vnd.oasis.opendocument.text",
    "application/vnd.openxmlformats-officedocument.wordprocessingml.document",
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", "application/octet-stream",
    "application/x-executable", "inode/directory", "x-scheme-handler/file",
]

# GIO ignores an entry whose program is not there: the editor is a script.
EDITOR = """[Desktop Entry]
Type=Application
Name=Text Editor
Exec={program} %F
MimeType=text/plain;
"""


class OpeningStaysOpening(unittest.TestCase):
    """The installed tree in a throw-away desktop whose only other
    application is a text editor, with an empty mimeapps.list: no type gets
    the share target as its default or fallback opener, by GIO's rules and
    by xdg-mime's."""

    @classmethod
    def setUpClass(cls):
        cls.root = Path(tempfile.mkdtemp(prefix="hs-defaults-"))
        destdir = cls.root / "destdir"
        installed = subprocess.run(["cmake", "--install", str(BUILD_DIR), "--prefix", "/usr"],
                                   env={**os.environ, "DESTDIR": str(destdir)}, capture_output=True, text=True)
        assert installed.returncode == 0, installed.stderr
        data = destdir / "usr" / "share"
        assert (data / "applications" / "halvernsignet-share.desktop").is_file()
        editor = cls.root / "text-editor"
        editor.write_text("#!/bin/sh\n")
        editor.chmod(0o755)
        (data / "applications" / "text-editor.desktop").write_text(EDITOR.format(program=editor))
        (data / "mime").symlink_to("/usr/share/mime")  # the type hierarchy, read-only
        subprocess.run(["update-desktop-database", str(data / "applications")], check=True)
        config = cls.root / "config"
        for d in (config, cls.root / "config-dirs", cls.root / "data-home" / "applications"):
            d.mkdir(parents=True)
        (config / "mimeapps.list").write_text("")
        cls.env = {k: v for k, v in os.environ.items()
                   if not k.startswith(("XDG_", "KDE_", "GNOME_", "DESKTOP_SESSION"))}
        cls.env.update(HOME=str(cls.root), XDG_CONFIG_HOME=str(config), XDG_CONFIG_DIRS=str(cls.root / "config-dirs"),
                       XDG_DATA_HOME=str(cls.root / "data-home"), XDG_DATA_DIRS=str(data),
                       XDG_CACHE_HOME=str(cls.root / "cache"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def run_here(self, *command):
        result = subprocess.run(command, env=self.env, capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def test_no_type_is_opened_by_the_share_target(self):
        gio_answers = json.loads(self.run_here(sys.executable, "-c", f"""
import gi, json
gi.require_version("Gio", "2.0")
from gi.repository import Gio
def ids(apps): return [a.get_id() for a in apps]
def default(t, uris):
    app = Gio.AppInfo.get_default_for_type(t, uris)
    return app.get_id() if app else None
print(json.dumps({{t: {{"default": default(t, False), "default for URIs": default(t, True),
                      "all": ids(Gio.AppInfo.get_all_for_type(t)),
                      "recommended": ids(Gio.AppInfo.get_recommended_for_type(t)),
                      "fallback": ids(Gio.AppInfo.get_fallback_for_type(t))}} for t in {EVERYDAY_TYPES!r}}}))
"""))
        for content_type in EVERYDAY_TYPES:
            with self.subTest(content_type=content_type):
                self.assertNotIn("halvernsignet", json.dumps(gio_answers[content_type]))
                self.assertNotIn("halvernsignet", self.run_here("gio", "mime", content_type))
                self.assertNotIn("halvernsignet", self.run_here("xdg-mime", "query", "default", content_type))

        # The tree works: the editor is found, for its type and (by GIO,
        # which follows subclasses) for a subclass of it.
        for content_type in ("text/plain", "text/markdown"):
            self.assertEqual(gio_answers[content_type]["default"], "text-editor.desktop")
        self.assertEqual(self.run_here("xdg-mime", "query", "default", "text/plain").strip(), "text-editor.desktop")
        self.assertIn("text-editor.desktop", self.run_here("gio", "mime", "text/plain"))
        self.assertIsNone(gio_answers["image/jpeg"]["default"])


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
