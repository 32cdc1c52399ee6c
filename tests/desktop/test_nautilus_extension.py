"""The GNOME Files extension, loaded with the real Nautilus GObject bindings
(Nautilus 4.0 API): the menu it offers for a selection, and what activating
it hands over to halvernsignet. Files' own file objects exist only inside
Files, so the selection is made of objects implementing Nautilus.FileInfo,
called through the bindings as Files calls them."""

import importlib.util
import json
import os
import sys
import time
import unittest
from pathlib import Path
from unittest import mock
from urllib.parse import unquote, urlparse

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from harness import BINARY, SandboxTest  # noqa: E402

import gi  # noqa: E402

gi.require_version("Nautilus", "4.0")
from gi.repository import Gio, GObject, Nautilus  # noqa: E402

EXTENSION = Path(__file__).resolve().parents[2] / "packaging" / "nautilus" / "halvernsignet_share.py"
EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


def load_extension():
    found = importlib.util.spec_from_file_location("halvernsignet_share_extension", EXTENSION)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


class SelectedFile(GObject.Object, Nautilus.FileInfo):
    def __init__(self, location):
        super().__init__()
        self.location = location

    def do_get_location(self):
        return self.location

    def do_get_uri(self):
        return self.location.get_uri()

    def do_get_name(self):
        return self.location.get_basename()

    def do_is_directory(self):
        return self.location.query_file_type(Gio.FileQueryInfoFlags.NONE, None) == Gio.FileType.DIRECTORY


class NautilusExtension(SandboxTest):
    def setUp(self):
        super().setUp()
        self.extension = load_extension()
        providers = [c for c in vars(self.extension).values()
                     if isinstance(c, type) and issubclass(c, Nautilus.MenuProvider)]
        self.assertEqual(len(providers), 1)
        self.menu = providers[0]()

    def selection(self):
        photo = self.box.root / "in" / "IMG_0042 $(touch owned).png"
        photo.write_bytes((EXAMPLES / "IMG_0042.png").read_bytes())
        notes = self.box.root / "in" / "Travel notes.txt"
        notes.write_text("Day 1: rain.\n")
        folder = self.box.root / "in" / "Trip"
        folder.mkdir()
        (folder / "day2.txt").write_text("Day 2: sun.\n")
        return [photo, notes, folder]

    def test_one_item_that_hands_the_selection_to_halvernsignet(self):
        paths = self.selection()
        [item] = self.menu.get_file_items([SelectedFile(Gio.File.new_for_path(str(p))) for p in paths])
        self.assertIsInstance(item, Nautilus.MenuItem)
        self.assertEqual(item.props.label, "Share with halvernsignet")

        bin_dir = self.box.root / "bin"
        bin_dir.mkdir()
        (bin_dir / "halvernsignet-share").symlink_to(BINARY)
        with mock.patch.dict(os.environ, self.box.env(PATH=f"{bin_dir}:/usr/bin:/bin"), clear=True):
            item.activate()

        # The program runs in a session of its own: wait for what it hands over.
        deadline = time.monotonic() + 60
        while not (self.box.urls_file.exists() and self.box.suite_path.exists()) and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(0.2)  # a second URL, which must not come, would show
        self.assertEqual(self.box.urls_file.read_text().splitlines(), ["halvernsignet://dataUrl=ShareKey#file"])
        copies = [Path(unquote(urlparse(r["path"]).path)) for r in json.loads(self.box.stored())]
        self.assertEqual([c.parent for c in copies], [self.box.container] * 3)
        self.assertEqual(copies[0].read_bytes(), paths[0].read_bytes())
        self.assertEqual(copies[1].read_text(), "Day 1: rain.\n")
        self.assertEqual((copies[2] / "day2.txt").read_text(), "Day 2: sun.\n")
        self.assertFalse((self.box.root / "in" / "owned").exists())  # no shell

    def test_nothing_offered_without_local_paths_or_on_a_folder_background(self):
        remote = SelectedFile(Gio.File.new_for_uri("sftp://files.example.invalid/notes.txt"))
        local = SelectedFile(Gio.File.new_for_path(str(self.selection()[1])))
        self.assertEqual(self.menu.get_file_items([]), [])
        self.assertEqual(self.menu.get_file_items([remote]), [])
        self.assertEqual(self.menu.get_file_items([local, remote]), [])
        background = getattr(self.menu, "get_background_items", lambda folder: [])
        self.assertEqual(background(local), [])


if __name__ == "__main__":
    unittest.main()
