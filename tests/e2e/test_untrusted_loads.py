"""Loads that must not be trusted: URLs that name no local file, texts the
suite cannot hold, data that only looks like a movie, copy names whose
thumbnail name would hold a "/"."""

import base64
import json
import re
import subprocess

from harness import BUILD_DIR, SandboxTest

UUID = "[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}"


class UntrustedLoads(SandboxTest):
    def manifest(self, *attachments):
        return self.share("--manifest", "-", input=json.dumps({"inputItems": [{"attachments": list(attachments)}]}))

    def test_urls_that_name_no_local_file_are_never_copied(self):
        for kind, url in [("public.image", "https://evil.example/etc/hostname"),
                          ("public.file-url", "file://otherhost/etc/hostname"),
                          ("public.movie", "ftp://evil.example/etc/hostname")]:
            with self.subTest(url=url):
                result = self.manifest({"types": [kind], "url": url})
                self.assertRegex(result.stdout, "^Cannot copy item at " + re.escape(url) +
                                 r" to file://\S+/(hostname|" + UUID + r"\.MP4): .+\n$")
                self.assertEqual(json.loads(self.box.stored()), [])
                self.assertEqual(self.box.container_files(), [])

    def test_text_holding_a_nul_is_refused_whole(self):
        result = self.manifest({"types": ["public.plain-text"], "string": "a\u0000b"})
        self.assertEqual(result.returncode, 2)
        self.assertIn("NUL", result.stderr)
        self.assertEqual(result.stdout, "")
        self.assertFalse(self.box.suite_path.exists())
        self.assertEqual(self.box.urls(), [])

    def test_data_that_only_looks_like_a_movie_is_shared_as_a_file(self):
        lookalike = bytearray(b"\x5a" * 4096)
        lookalike[0:2] = b"\x12\xaf"  # what shared-mime-info takes for a FLIC animation
        path = self.box.root / "in" / "scan-0001"
        path.write_bytes(bytes(lookalike))
        result = self.share(path)
        self.assertHandedOver(result, "file")
        self.assertEqual([r["type"] for r in json.loads(self.box.stored())], [2])
        self.assertEqual(self.box.container_files(), ["scan-0001"])

    def test_movie_whose_thumbnail_name_would_hold_a_slash_keeps_its_preview(self):
        made = self.box.root / "in" / "clip.mp4"
        subprocess.run([str(BUILD_DIR / "make_test_movie"), str(made), "--seconds", "1"], check=True,
                       capture_output=True)
        clip = made.rename(made.with_name("clip.M?V"))  # the "?" gives the Base64 text a "/"
        result = self.share("--movie", clip)
        self.assertHandedOver(result, "media")
        [record] = json.loads(self.box.stored())
        copy = record["path"].rsplit("/", 1)[1].replace("%3F", "?")
        self.assertRegex(copy, "^" + UUID + r"\.M\?V$")
        encoded = base64.b64encode(copy.encode()).decode().replace("==", "")
        self.assertIn("/", encoded)  # what the name is built from
        thumbnail = encoded.replace("/", "_") + ".jpg"
        self.assertTrue(record["thumbnail"].endswith("/" + thumbnail), record)
        self.assertEqual(sorted(self.box.container_files()), sorted([copy, thumbnail]))
