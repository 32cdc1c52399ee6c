import json
import os
import re
from urllib.parse import quote

from harness import SandboxTest

UUID = "[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}"


class FilesAndImages(SandboxTest):
    def source(self, name, content=b"x"):
        path = self.box.root / "in" / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)
        return path

    def media(self):
        return json.loads(self.box.stored())

    def url_of(self, name):
        return "file://" + quote(str(self.box.container / name), safe="/-._~!$&'()*+,;=:@")

    def test_photo_and_file_reach_the_host_as_the_media_list(self):
        photo = self.source("IMG_0042.HEIC", os.urandom(5000))
        notes = self.source("Travel notes.pdf", b"%PDF-1.4 notes")
        result = self.share("--image", photo, "--file", notes)
        self.assertHandedOver(result, "file")
        self.assertEqual(result.stdout, "")
        names = self.box.container_files()
        self.assertEqual(len(names), 2, names)
        copy = next(n for n in names if n != "Travel notes.pdf")
        self.assertRegex(copy, "^" + UUID + r"\.HEIC$")
        self.assertEqual((self.box.container / copy).read_bytes(), photo.read_bytes())
        self.assertEqual((self.box.container / "Travel notes.pdf").read_bytes(), notes.read_bytes())
        self.assertEqual(self.media(), [{"path": self.url_of(copy), "type": 0},
                                        {"path": self.url_of("Travel notes.pdf"), "type": 2}])
        self.assertIn("/Travel%20notes.pdf", self.box.stored().decode())
        self.assertEqual(os.stat(self.box.container).st_mode & 0o777, 0o700)

    def test_missing_source_prints_the_copy_line_and_the_share_goes_on(self):
        result = self.share("--image", self.box.root / "no such.jpg")
        self.assertHandedOver(result, "media", status=4)
        line = result.stdout.rstrip("\n")
        self.assertRegex(line, r"^Cannot copy item at file://.*/no%20such\.jpg to file://.*/" + UUID + r"\.jpg: .+$")
        self.assertEqual(result.stdout.count("\n"), 1)
        self.assertEqual(self.media(), [])
        self.assertEqual(self.box.container_files(), [])

    def test_failed_copy_keeps_the_earlier_file_of_that_name(self):
        first = self.source("a/report.txt", b"first version")
        self.assertEqual(self.share("--file", first).returncode, 0)
        fifo_dir = self.box.root / "in" / "b"
        fifo_dir.mkdir()
        os.mkfifo(fifo_dir / "report.txt")  # cannot be copied
        result = self.share("--file", fifo_dir / "report.txt", timeout=30)
        self.assertEqual(result.returncode, 4)
        self.assertTrue(result.stdout.startswith("Cannot copy item at "), result.stdout)
        self.assertEqual((self.box.container / "report.txt").read_bytes(), b"first version")
        self.assertEqual(self.box.container_files(), ["report.txt"])
        second = self.source("c/report.txt", b"second version")
        self.assertEqual(self.share("--file", second).returncode, 0)
        self.assertEqual((self.box.container / "report.txt").read_bytes(), b"second version")

    def test_folder_is_copied_whole_with_links_kept_as_links(self):
        folder = self.box.root / "in" / "Holiday"
        (folder / "day 1").mkdir(parents=True)
        (folder / "day 1" / "a.txt").write_text("a")
        os.symlink("day 1/a.txt", folder / "inner")
        secret = self.box.root / "secret.txt"
        secret.write_text("outside")
        os.symlink(secret, folder / "link")  # leads out of the folder: left out
        result = self.share(folder)  # a bare path: sniffed as a folder, shared as a file
        self.assertHandedOver(result, "file", status=4)
        copy = self.box.container / "Holiday"
        self.assertEqual((copy / "day 1" / "a.txt").read_text(), "a")
        self.assertTrue(os.path.islink(copy / "inner"))
        self.assertEqual(os.readlink(copy / "inner"), "day 1/a.txt")
        self.assertFalse(os.path.lexists(copy / "link"))
        self.assertIn("left out the link " + str(folder / "link"), result.stderr)
        self.assertEqual(self.media()[0]["type"], 2)

    def test_sharing_a_folder_that_holds_the_container_fails_cleanly(self):
        result = self.share("--file", self.box.data, timeout=60)
        self.assertEqual(result.returncode, 4)  # left out
        self.assertTrue(result.stdout.startswith("Cannot copy item at "), result.stdout)
        self.assertEqual(self.media(), [])

    def test_names_that_would_leave_the_container_stay_inside(self):
        result = self.share("--manifest", "-", input=json.dumps({"inputItems": [{"attachments": [
            {"types": ["public.file-url"], "url": "file:///tmp/%2E%2E"},
            {"types": ["public.file-url"], "url": "file:///"}]}]}))
        self.assertEqual(result.returncode, 4, result.stderr)  # neither folder can be copied into itself
        for name in self.box.container_files():
            self.assertRegex(name, "^" + UUID + r"\.TXT$")
        self.assertTrue(self.box.container.is_dir())
        self.assertEqual(os.listdir(self.box.container.parent), [self.box.container.name])

    def test_a_path_ending_in_dot_dot_is_copied_under_a_fresh_name(self):
        # "dir/sub/.." is the folder dir, but its last component is "..": as a
        # copy name it would be the container's parent.
        self.source("dir/sub/inner.txt", b"inner")
        result = self.share("--file", "dir/sub/..")
        self.assertHandedOver(result, "file")
        [name] = self.box.container_files()
        self.assertRegex(name, "^" + UUID + r"\.TXT$")
        self.assertEqual((self.box.container / name / "sub" / "inner.txt").read_bytes(), b"inner")
        self.assertEqual(os.listdir(self.box.container.parent), [self.box.container.name])

    def test_bare_arguments_are_sniffed(self):
        example = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "IMG_0042.png")
        with open(example, "rb") as f:
            photo = self.source("shot", f.read())  # a PNG without an extension
        notes = self.source("notes.md", b"# notes\n")
        result = self.share("https://example.com/x", photo, "file://" + quote(str(notes)))
        # A file is the last attachment: the link is left out.
        self.assertHandedOver(result, "file", status=4)
        self.assertEqual([r["type"] for r in self.media()], [0, 2])
        names = self.box.container_files()
        self.assertIn("notes.md", names)
        self.assertTrue(any(re.match("^" + UUID + r"\.MP4$", n) for n in names), names)  # no "." in "shot"

    def test_many_files_arrive_in_attachment_order(self):
        paths = [self.source(f"many/f{i:03}.bin", os.urandom(1000)) for i in range(120)]
        args = []
        for p in paths:
            args += ["--file", p]
        self.assertHandedOver(self.share(*args), "file")
        self.assertEqual([r["path"] for r in self.media()], [self.url_of(p.name) for p in paths])
