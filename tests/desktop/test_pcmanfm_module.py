"""The PCManFM (GTK) menu module: what libfm's loader reads from it, and
the item it adds to the context menu libfm-gtk builds for a selection,
activated; in a real X server (xvfb-run, see tests/CMakeLists.txt)."""

import json
import os
import subprocess
import sys
import time
import unittest
from pathlib import Path
from urllib.parse import unquote, urlparse

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from harness import BINARY, BUILD_DIR, SandboxTest  # noqa: E402

PROBE = BUILD_DIR / "packaging" / "pcmanfm" / "libfm_menu_probe"
MODULE = BUILD_DIR / "plugins" / "libfm" / "halvernsignet-share.so"
EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


class PcmanfmMenu(SandboxTest):
    def setUp(self):
        super().setUp()
        if not os.environ.get("DISPLAY"):
            raise AssertionError("no X server: this test runs under xvfb-run")
        self.bin = self.box.root / "bin"
        self.bin.mkdir()
        (self.bin / "halvernsignet-share").symlink_to(BINARY)

    def menu(self, command, *items):
        env = self.box.env(PATH=f"{self.bin}:/usr/bin:/bin", DISPLAY=os.environ["DISPLAY"])
        result = subprocess.run([PROBE, MODULE, command, *map(str, items)], env=env, capture_output=True,
                                text=True, timeout=60, cwd=self.box.root)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout.strip()

    def test_selected_files_and_folder_reach_halvernsignet(self):
        photo = self.box.root / "in" / "Beach $(touch owned).png"
        photo.write_bytes((EXAMPLES / "IMG_0042.png").read_bytes())
        folder = self.box.root / "in" / "Trip"
        folder.mkdir()
        (folder / "day2.txt").write_text("Day 2: sun.\n")
        self.assertEqual(self.menu("activate", photo, folder), "Share with halvernsignet")

        # The program runs in a session of its own: wait for what it hands over.
        deadline = time.monotonic() + 60
        while not self.box.urls_file.exists() and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(0.2)  # a second URL, which must not come, would show
        self.assertEqual(self.box.urls_file.read_text().splitlines(), ["halvernsignet://dataUrl=ShareKey#file"])
        copies = [Path(unquote(urlparse(r["path"]).path)) for r in json.loads(self.box.stored())]
        self.assertEqual(copies[0].read_bytes(), photo.read_bytes())
        self.assertEqual((copies[1] / "day2.txt").read_text(), "Day 2: sun.\n")
        self.assertFalse((self.box.root / "in" / "owned").exists())  # no shell

    def test_no_item_for_a_file_without_a_local_path(self):
        # Nor on a folder's background: the module has no hook for it (the
        # probe would say "background item").
        self.assertEqual(self.menu("show", "trash:///"), "none")


if __name__ == "__main__":
    unittest.main()
