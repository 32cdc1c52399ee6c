"""A share that ends keeps no copy its payload does not name: the container
holds exactly what the stored payload names, and what was there before."""

import json
import os
import subprocess

from harness import BUILD_DIR, SandboxTest

MAKE_MOVIE = str(BUILD_DIR / "make_test_movie")


class NoUnnamedCopies(SandboxTest):
    def source(self, name, content):
        path = self.box.root / "in" / name
        path.write_bytes(content)
        return path

    def movie(self, name="clip.mp4"):
        path = self.box.root / "in" / name
        subprocess.run([MAKE_MOVIE, str(path), "--seconds", "1"], check=True, capture_output=True)
        return path

    def manifest(self, *attachments):
        path = self.box.root / "manifest.json"
        path.write_text(json.dumps({"inputItems": [{"attachments": list(attachments)}]}))
        return ["--manifest", path]

    def test_the_container_holds_what_the_payload_names_and_what_was_there(self):
        broken = lambda: self.source("broken.mp4", os.urandom(50_000))  # noqa: E731
        photo = lambda: self.source("photo.jpg", b"\xff\xd8 a photo")  # noqa: E731
        big = lambda: self.source("big.iso", os.urandom(3 << 20))  # noqa: E731

        def suite_not_a_file():
            self.box.suite_path.mkdir()

        # (case, arguments, before the share, exit status, copies the payload keeps)
        cases = [
            ("file left out for its kind", lambda: ["--file", big(), "--text", "hi"], None, 4, 0),
            ("movie without a preview", lambda: ["--movie", broken()], None, 4, 0),
            ("movie without a preview beside a photo", lambda: ["--movie", broken(), "--image", photo()], None, 4, 1),
            ("movie beside a movie without a preview", lambda: ["--movie", self.movie(), "--movie", broken()],
             None, 4, 2),
            ("suite that cannot be written", lambda: ["--image", photo(), "--file", big()], suite_not_a_file, 1, 0),
            ("request never completed", lambda: self.manifest(
                {"types": ["public.jpeg"], "url": photo().as_uri()},
                {"types": ["public.file-url"], "url": big().as_uri()},
                {"types": ["com.example.unknown"], "string": "?"}), None, 3, 0),
            ("last load failed", lambda: self.manifest(
                {"types": ["public.file-url"], "url": big().as_uri()},
                {"types": ["public.jpeg"], "error": "the sharing program went away"}), None, 1, 0),
        ]
        for name, args, prepare, status, kept in cases:
            with self.subTest(name):
                self.box.cleanup()
                self.setUp()
                self.box.container.mkdir(parents=True)
                (self.box.container / "photo.jpg").write_bytes(b"an earlier share's")
                (self.box.container / "mine.txt").write_bytes(b"kept")
                if prepare:
                    prepare()
                result = self.share(*args())
                self.assertEqual(result.returncode, status, result.stderr)
                named = self.box.named_files()
                self.assertEqual(len(named), kept, named)
                self.assertEqual(self.box.container_files(), sorted(set(named) | {"mine.txt", "photo.jpg"}))
                self.assertEqual((self.box.container / "photo.jpg").read_bytes(), b"an earlier share's")
                self.assertEqual(self.box.records(), [])

    def test_an_attachment_left_out_for_its_kind_is_not_even_copied(self):
        # Were it copied, the copy would fail and say so on standard output.
        result = self.share("--file", self.box.root / "in" / "gone.bin", "--text", "hi")
        self.assertEqual((result.returncode, result.stdout), (4, ""), result.stderr)
        self.assertRegex(result.stderr, r"left out attachment 1 of 2 \(gone\.bin\): the last attachment is a text")
        self.assertEqual(self.box.stored(), ["hi"])
        self.assertEqual(self.box.container_files(), [])
