import base64
import json
import os
import re
import struct
import subprocess

from harness import BUILD_DIR, SandboxTest

UUID = "[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}"
MAKE_MOVIE = str(BUILD_DIR / "make_test_movie")


def png_size(path):
    with open(path, "rb") as f:
        data = f.read(24)
    assert data[:8] == b"\x89PNG\r\n\x1a\n", data[:8]
    return struct.unpack(">II", data[16:24])


class Movies(SandboxTest):
    def movie(self, name, *options):
        path = self.box.root / "in" / name
        subprocess.run([MAKE_MOVIE, str(path), *map(str, options)], check=True, capture_output=True)
        return path

    def test_movie_gets_its_copy_thumbnail_and_duration(self):
        clip = self.movie("clip.mp4", "--width", "640", "--height", "360", "--seconds", "2", "--fps", "25")
        result = self.share("--movie", clip)
        self.assertHandedOver(result, "media")
        self.assertEqual(result.stdout, "")
        [record] = json.loads(self.box.stored())
        self.assertEqual(list(record), ["path", "thumbnail", "duration", "type"])
        self.assertEqual(record["type"], 1)
        copy = record["path"].rsplit("/", 1)[1]
        self.assertRegex(copy, "^" + UUID + r"\.mp4$")
        thumbnail = base64.b64encode(copy.encode()).decode().replace("==", "") + ".jpg"
        self.assertTrue(record["thumbnail"].endswith("/" + thumbnail), record)
        self.assertIsInstance(record["duration"], int)  # written as a whole number
        self.assertAlmostEqual(record["duration"], 2000, delta=80)
        self.assertEqual(sorted(self.box.container_files()), sorted([copy, thumbnail]))
        width, height = png_size(self.box.container / thumbnail)
        self.assertEqual((width, height), (360, 203))

    def test_portrait_phone_clip_gives_a_portrait_thumbnail(self):
        clip = self.movie("portrait.mov", "--width", "1280", "--height", "720", "--seconds", "1", "--rotate", "90")
        self.assertHandedOver(self.share(clip), "media")  # a bare path sniffed as a movie
        [record] = json.loads(self.box.stored())
        thumbnail = self.box.container / record["thumbnail"].rsplit("/", 1)[1]
        width, height = png_size(thumbnail)
        self.assertLess(width, height)
        self.assertEqual(height, 360)

    def test_corrupt_and_truncated_movies_end_the_request_cleanly(self):
        good = self.movie("good.mp4", "--seconds", "2")
        truncated = self.box.root / "in" / "truncated.mp4"
        truncated.write_bytes(good.read_bytes()[: os.path.getsize(good) // 3])
        garbage = self.box.root / "in" / "garbage.mp4"
        garbage.write_bytes(os.urandom(200_000))
        for movie in (truncated, garbage):
            result = self.share("--movie", movie, timeout=60)
            # Left out, exit 4, unless a preview could be made after all.
            self.assertHandedOver(result, "media", status=0 if json.loads(self.box.stored()) else 4)
            self.box.urls_file.unlink()
            self.assertEqual(result.stdout, "")
            # Only the program's own lines: none of the decoder's log.
            for line in result.stderr.splitlines():
                self.assertTrue(line.startswith("halvernsignet-share: "), result.stderr)
            for record in json.loads(self.box.stored()):
                self.assertTrue(os.path.exists(self.box.container / record["thumbnail"].rsplit("/", 1)[1]))

    def test_movie_between_other_media_keeps_attachment_order(self):
        clip = self.movie("c.mp4", "--seconds", "1")
        notes = self.box.root / "in" / "n.txt"
        notes.write_text("n")
        self.assertHandedOver(self.share("--file", notes, "--movie", clip), "media")
        records = json.loads(self.box.stored())
        self.assertEqual([r["type"] for r in records], [2, 1])
