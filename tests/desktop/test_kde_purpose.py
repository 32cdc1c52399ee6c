"""The KDE share-menu plugin, through KDE's share framework itself (Purpose's
alternatives model, and its helper process running the job, as in Dolphin's
Share menu), headless: offscreen Qt and a private plugin path holding the
built plugin."""

import json
import os
import shutil
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from harness import BINARY, BUILD_DIR, SandboxTest  # noqa: E402

PROBE = BUILD_DIR / "packaging" / "kde-purpose" / "purpose_probe"
PLUGIN_ID = "halvernsignet_share"
EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


class KdeShareMenu(SandboxTest):
    def setUp(self):
        super().setUp()
        # halvernsignet-share is found on PATH, as when it is installed.
        self.bin = self.box.root / "bin"
        self.bin.mkdir()
        (self.bin / "halvernsignet-share").symlink_to(BINARY)

    def probe(self, *args, with_program=True):
        path = (f"{self.bin}:" if with_program else "") + "/usr/bin:/bin"
        if not with_program:
            self.assertIsNone(shutil.which("halvernsignet-share", path=path))
        env = self.box.env(PATH=path, QT_QPA_PLATFORM="offscreen", QT_PLUGIN_PATH=str(BUILD_DIR / "plugins"),
                           XDG_RUNTIME_DIR=str(self.box.root))
        result = self.box.run(*args, env=env, program=[PROBE], timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def listed(self, mime_type, url, **kwargs):
        return PLUGIN_ID in self.probe("list", mime_type, url, **kwargs).split()

    def run_job(self, mime_type, *paths_or_urls):
        urls = [p if isinstance(p, str) else p.as_uri() for p in paths_or_urls]
        return json.loads(self.probe("run", PLUGIN_ID, mime_type, *urls))

    def source(self, name, data=None):
        path = self.box.root / "in" / name
        if data is None:
            shutil.copy(EXAMPLES / "IMG_0042.png", path)
        else:
            path.write_bytes(data)
        return path

    def movie(self):
        clip = self.box.root / "in" / "clip.mp4"
        subprocess.run([BUILD_DIR / "make_test_movie", clip, "--seconds", "1"], check=True, capture_output=True)
        return clip

    def test_listed_for_every_kind_of_item_while_the_program_is_installed(self):
        folder = self.box.root / "in"
        for mime_type in ("image/jpeg", "video/mp4", "text/plain", "inode/directory", "application/octet-stream"):
            with self.subTest(mime_type=mime_type):
                self.assertTrue(self.listed(mime_type, folder.as_uri()))
                self.assertFalse(self.listed(mime_type, folder.as_uri(), with_program=False))

    def test_a_photo_and_a_movie_reach_halvernsignet(self):
        # A name a shell would expand: the job runs the program without one.
        photo = self.source("$(touch owned) 'a b'.png")
        outcome = self.run_job("application/octet-stream", photo, self.movie())
        self.assertEqual(outcome, {"error": 0, "errorText": ""})
        self.assertEqual(self.box.urls(), ["halvernsignet://dataUrl=ShareKey#media"])
        records = json.loads(self.box.stored())
        self.assertEqual([r["type"] for r in records], [0, 1])
        self.assertFalse((self.box.root / "in" / "owned").exists())

    def test_what_did_not_reach_halvernsignet_is_named_in_the_error(self):
        cases = [
            # The program refuses the request: nothing is handed over.
            ("missing file", lambda: [self.box.root / "in" / "no such photo.jpg"], "no such photo.jpg", None),
            # Handed over without the items left out (status 4).
            ("movie with no preview", lambda: [self.source("a.png"), self.source("broken.mp4", os.urandom(50_000))],
             "broken.mp4", [0]),
            # Never a link text: a file with no local path is named, the rest goes.
            ("remote file", lambda: [self.source("a.png"), "sftp://files.example.invalid/remote.jpg"],
             "sftp://files.example.invalid/remote.jpg", [0]),
        ]
        for name, items, named, types in cases:
            with self.subTest(name):
                self.box.cleanup()
                self.setUp()
                outcome = self.run_job("application/octet-stream", *items())
                self.assertNotEqual(outcome["error"], 0)
                self.assertIn(named, outcome["errorText"])
                if types is None:
                    self.assertEqual(self.box.urls(), [])
                else:
                    self.assertEqual(self.box.urls(), ["halvernsignet://dataUrl=ShareKey#media"])
                    self.assertEqual([r["type"] for r in json.loads(self.box.stored())], types)


if __name__ == "__main__":
    unittest.main()
