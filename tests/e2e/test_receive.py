"""halvernsignet-receive against suites written by the share program and
against hand-written hostile ones, and takes racing shares."""

import concurrent.futures
import ctypes
import json
import os
import plistlib
import subprocess
import sys

from harness import BUILD_DIR, GROUP, SandboxTest

RECEIVE = os.environ.get("RECEIVE_BINARY", str(BUILD_DIR / "halvernsignet-receive"))
RECEIVE_LIBRARY = os.environ.get("RECEIVE_LIBRARY", str(BUILD_DIR / "libhalvernsignet-receive.so"))


def sanitizer_runtime(library):
    """The sanitizer runtime a sanitized build of `library` links, which must be
    loaded before anything else in a process that is not sanitized itself."""
    listing = subprocess.run(["ldd", library], capture_output=True, text=True).stdout
    for line in listing.splitlines():
        if "=>" in line and ("libasan" in line or "libtsan" in line or "libubsan" in line):
            return line.split("=>")[1].split()[0]
    return None
MAKE_MOVIE = str(BUILD_DIR / "make_test_movie")


def binary_suite_with_nested_arrays(levels, refs_per_array):
    """A binary property list {"ShareKey": [[[...]]]} nested `levels` deep,
    each array holding `refs_per_array` references to the next one."""
    objects = [b"\xd1" + (1).to_bytes(4, "big") + (2).to_bytes(4, "big"), b"\x58ShareKey"]
    for level in range(levels):
        following = (3 + level).to_bytes(4, "big")
        objects.append(bytes([0xA0 | refs_per_array]) + following * refs_per_array)
    objects.append(b"\xa0")
    body, offsets = b"bplist00", []
    for obj in objects:
        offsets.append(len(body))
        body += obj
    table = len(body)
    body += b"".join(o.to_bytes(4, "big") for o in offsets)
    return body + bytes(6) + bytes([4, 4]) + len(objects).to_bytes(8, "big") + bytes(8) + table.to_bytes(8, "big")


class Raw(bytes):
    """A whole suite file as written, instead of a value under "ShareKey"."""


class Receive(SandboxTest):
    handler = False

    def receive(self, *args):
        return subprocess.run([RECEIVE, *args], capture_output=True, text=True, env=self.box.env(), timeout=60)

    def received(self, *args):
        result = self.receive("--json", *args)
        self.assertEqual(result.returncode, 0, result.stderr)
        return json.loads(result.stdout)

    def write_suite(self, value, fmt=plistlib.FMT_XML, **other):
        suite = dict(other)
        if value is not None:
            suite["ShareKey"] = value
        self.box.suite_path.write_bytes(plistlib.dumps(suite, fmt=fmt))

    def in_container(self, name, content=b"x"):
        self.box.container.mkdir(parents=True, exist_ok=True)
        (self.box.container / name).write_bytes(content)
        return (self.box.container / name).as_uri()

    def test_reads_what_the_share_program_wrote(self):
        photo = self.box.root / "in" / "IMG 1.png"
        photo.write_bytes(b"\x89PNG\r\n\x1a\n" + b"\0" * 64)
        notes = self.box.root / "in" / "notes.txt"
        notes.write_text("n")
        clip = self.box.root / "in" / "clip.mp4"
        subprocess.run([MAKE_MOVIE, str(clip), "--seconds", "1"], check=True, capture_output=True)

        cases = [
            # (what is shared, what the receiver must print)
            (["--text", "Hello", "--url", "https://example.com/a?b=c"],
             {"kind": "text", "texts": ["Hello", "https://example.com/a?b=c"]}),
            # A control character makes the suite a binary property list.
            (["--text", "bell\x07 and\nnew line"], {"kind": "text", "texts": ["bell\x07 and\nnew line"]}),
            # Mixed: records with and without thumbnail and duration.
            (["--image", photo, "--movie", clip, "--file", notes], None),
        ]
        for args, expected in cases:
            with self.subTest(args=args):
                result = self.share(*args)
                self.assertIn(result.returncode, (0, 4), result.stderr)
                got = self.received()
                if expected is None:
                    records = json.loads(self.box.stored())  # as plistlib reads the suite
                    for record in records:
                        record["missing"] = False
                    expected = {"kind": "media", "records": records}
                    self.assertEqual([r["type"] for r in records], [0, 1, 2])
                    self.assertIn("thumbnail", records[1])
                self.assertEqual(got, expected)

        table = self.receive()
        self.assertEqual(table.returncode, 0)
        self.assertRegex(table.stdout, r"(?m)^2  video  1\.\d{3} s +file://.*\(thumbnail file://")

    def test_take_removes_only_the_payload_and_once(self):
        self.write_suite(["one"], other="kept")
        self.assertEqual(self.received("--take"), {"kind": "text", "texts": ["one"]})
        self.assertEqual(self.box.suite(), {"other": "kept"})
        self.assertEqual(os.stat(self.box.suite_path).st_mode & 0o777, 0o600)
        again = self.receive("--take")
        self.assertEqual(again.returncode, 3, again.stderr)
        self.assertEqual(again.stdout, "")

    def test_a_take_whose_output_cannot_be_written_keeps_the_payload(self):
        self.write_suite(["one"], other="kept")
        with open("/dev/full", "w") as full:
            result = subprocess.run([RECEIVE, "--take"], stdout=full, stderr=subprocess.PIPE, text=True,
                                    env=self.box.env(), timeout=60)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("not taken", result.stderr)
        self.assertEqual(self.box.suite(), {"ShareKey": ["one"], "other": "kept"})

    def test_refused_and_empty_suites(self):
        big_texts = ["x" * 1000] * 20000  # a 20 MB list
        deep = ("[" * 200000 + "]" * 200000).encode()
        cases = [
            # (ShareKey value or raw suite bytes, exit status, words on standard error)
            ("missing key", None, 3, "nothing under"),
            ("integer", 7, 1, "an integer"),
            ("single string", "text", 1, "a single string"),
            ("dictionary", {"path": "x"}, 1, "a dictionary"),
            ("array of mixed", ["a", 2], 1, "element 2 is an integer"),
            ("data that is no JSON", b"\xff\xfe", 1, "not valid JSON"),
            ("JSON that is no list", b'{"path":"a","type":0}', 1, "not a JSON array"),
            ("record without path", b'[{"type":0}]', 1, 'record 1: "path" is missing'),
            ("type out of range", b'[{"path":"file:///a","type":0},{"path":"file:///b","type":3}]', 1,
             'record 2: "type" is not 0, 1 or 2'),
            ("thumbnail of wrong type", b'[{"path":"file:///a","thumbnail":5,"type":1}]', 1, '"thumbnail"'),
            ("deeply nested JSON", deep, 1, "record 1"),
            ("corrupt suite", Raw(b"<plist><dict><key>ShareKey"), 1, "is not a settings suite"),
            ("suite that is an array", Raw(plistlib.dumps(["a"])), 1, "is not a settings suite"),
            ("empty suite file", Raw(b""), 1, "is not a settings suite"),
            ("deeply nested suite", Raw(b'<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>'
                                        b"<key>ShareKey</key>" + b"<array>" * 100000 + b"</array>" * 100000 +
                                        b"</dict></plist>"), 1, "nests too deep"),
            ("deeply nested binary suite", Raw(binary_suite_with_nested_arrays(100000, 1)), 1, "nests too deep"),
            ("binary suite sharing one array 2^60 times", Raw(binary_suite_with_nested_arrays(60, 2)), 1,
             "nests too deep"),
            ("binary suite nested as deep as allowed", Raw(binary_suite_with_nested_arrays(400, 1)), 1,
             "element 1 is an array"),
        ]
        for name, value, status, words in cases:
            with self.subTest(name):
                if isinstance(value, Raw):
                    self.box.suite_path.write_bytes(value)
                else:
                    self.write_suite(value, other=1)
                before = self.box.suite_path.read_bytes()
                for take in ([], ["--take"]):
                    result = self.receive("--json", *take)
                    self.assertEqual(result.returncode, status, result.stderr)
                    self.assertIn(words, result.stderr)
                    self.assertEqual(result.stdout, "")
                    # A refused payload is never taken.
                    self.assertEqual(self.box.suite_path.read_bytes(), before)

        self.write_suite(big_texts, fmt=plistlib.FMT_BINARY)
        self.assertEqual(self.received("--take")["texts"], big_texts)
        self.box.suite_path.unlink()
        self.assertEqual(self.receive().returncode, 3)

    def test_records_are_checked_against_the_container(self):
        good = self.in_container("A.png")
        thumb = self.in_container("QQ.jpg")
        (self.box.container / "folder").mkdir()
        os.symlink("/etc/hostname", self.box.container / "link-out")
        c = self.box.container.as_uri()
        records = [
            # (record, the problem expected, or None)
            ({"path": good, "type": 0}, None),
            ({"path": good, "thumbnail": thumb, "duration": 4000.5, "type": 1, "extra": [1]}, None),
            ({"path": good, "thumbnail": None, "duration": None, "type": 0}, None),
            ({"path": c + "/folder", "type": 2}, None),
            ({"path": c + "/gone.png", "type": 0}, "path: no such file"),
            ({"path": good, "thumbnail": c + "/gone.jpg", "type": 1}, "thumbnail: no such file"),
            ({"path": "file:///etc/hostname", "type": 2}, "path: outside the container"),
            ({"path": c + "/../../../../etc/hostname", "type": 2}, "path: outside the container"),
            ({"path": c + "/link-out", "type": 2}, "path: outside the container"),
            ({"path": c, "type": 2}, "path: outside the container"),
            ({"path": "https://example.com/A.png", "type": 0}, "path: not a file URL"),
            ({"path": "file://elsewhere" + self.box.container.as_posix() + "/A.png", "type": 0},
             "path: not a local file URL"),
            ({"path": self.box.container.as_posix() + "/A.png", "type": 0}, "path: not a file URL"),
        ]
        self.write_suite(json.dumps([r for r, _ in records]).encode())
        got = self.received()["records"]
        for (record, problem), out in zip(records, got):
            with self.subTest(record=record):
                self.assertEqual(out["missing"], problem is not None)
                self.assertEqual(out.get("problem"), problem)
                self.assertEqual(out["path"], record["path"])
                self.assertNotIn("extra", out)
                if record.get("thumbnail") is None:
                    self.assertNotIn("thumbnail", out)
        self.assertEqual(got[1]["duration"], 4000.5)
        self.assertEqual(len(got), len(records))

    def test_the_c_api_reads_and_takes(self):
        if sanitizer_runtime(RECEIVE_LIBRARY):
            # Python is not built with the sanitizer, so it cannot load a sanitized
            # library; the unsanitized build runs this test.
            self.skipTest("sanitized build of the C API library: run by the normal build")
        lib = ctypes.CDLL(RECEIVE_LIBRARY)
        lib.halvernsignet_receive_payload.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.POINTER(ctypes.c_void_p)]
        for name in ("path", "thumbnail", "json", "error", "problem", "text"):
            getattr(lib, "halvernsignet_receipt_" + name).restype = ctypes.c_char_p
        lib.halvernsignet_receipt_duration.restype = ctypes.c_double
        lib.halvernsignet_receipt_count.restype = ctypes.c_size_t
        for name in ("path", "thumbnail", "duration", "type", "missing", "problem", "text", "count", "kind",
                     "json", "error", "free", "outcome"):
            getattr(lib, "halvernsignet_receipt_" + name).argtypes = [ctypes.c_void_p] + (
                [ctypes.c_size_t] if name in ("path", "thumbnail", "type", "missing", "problem", "text") else
                [ctypes.c_size_t, ctypes.POINTER(ctypes.c_int)] if name == "duration" else [])

        movie = self.in_container("M.mp4")
        self.write_suite(json.dumps([{"path": movie, "thumbnail": None, "duration": 1500, "type": 1}]).encode())
        saved = dict(os.environ)
        self.addCleanup(lambda: (os.environ.clear(), os.environ.update(saved)))
        os.environ.update(self.box.env())  # the library reads the XDG variables of this process
        receipt = ctypes.c_void_p()
        self.assertEqual(lib.halvernsignet_receive_payload(GROUP.encode(), 1, ctypes.byref(receipt)), 0)
        has = ctypes.c_int()
        self.assertEqual((lib.halvernsignet_receipt_kind(receipt), lib.halvernsignet_receipt_count(receipt)), (1, 1))
        self.assertEqual(lib.halvernsignet_receipt_path(receipt, 0), movie.encode())
        self.assertIsNone(lib.halvernsignet_receipt_thumbnail(receipt, 0))
        self.assertEqual(lib.halvernsignet_receipt_duration(receipt, 0, ctypes.byref(has)), 1500.0)
        self.assertEqual((has.value, lib.halvernsignet_receipt_type(receipt, 0)), (1, 1))
        self.assertEqual(lib.halvernsignet_receipt_missing(receipt, 0), 0)
        self.assertIsNone(lib.halvernsignet_receipt_path(receipt, 1))
        self.assertEqual(json.loads(lib.halvernsignet_receipt_json(receipt))["records"][0]["missing"], False)
        lib.halvernsignet_receipt_free(receipt)
        self.assertEqual(lib.halvernsignet_receive_payload(GROUP.encode(), 1, ctypes.byref(receipt)), 3)
        lib.halvernsignet_receipt_free(receipt)

    def test_usage(self):
        self.assertEqual(self.receive("--bogus").returncode, 2)
        self.assertEqual(self.receive("--group", "../x").returncode, 1)
        help = self.receive("--help")
        self.assertEqual(help.returncode, 0)
        self.assertIn("--take", help.stdout)
        self.assertRegex(self.receive("--version").stdout, r"^halvernsignet-receive \d+\.\d+")


class TakesRacingShares(SandboxTest):
    handler = False

    def test_every_payload_is_taken_at_most_once_and_whole(self):
        self.box.suite_path.write_bytes(plistlib.dumps({"other": "kept"}))
        payloads = {f"payload {i} " + "y" * 2000 for i in range(16)}

        def share(text):
            return self.box.run("--text", text)

        def take(_):
            result = subprocess.run([RECEIVE, "--take", "--json"], capture_output=True, text=True,
                                    env=self.box.env(), timeout=120)
            return result

        with concurrent.futures.ThreadPoolExecutor(max_workers=32) as pool:
            shares = [pool.submit(share, text) for text in payloads]
            takes = [pool.submit(take, i) for i in range(16)]
            shared = [f.result() for f in shares]
            taken = [f.result() for f in takes]
        for result in shared:
            self.assertEqual(result.returncode, 0, result.stderr)
        seen = []
        for result in taken:
            self.assertIn(result.returncode, (0, 3), result.stderr)
            if result.returncode == 0:
                texts = json.loads(result.stdout)["texts"]
                self.assertEqual(len(texts), 1)  # one whole payload, nothing torn
                self.assertIn(texts[0], payloads)
                seen.append(texts[0])
        # What no take saw is still in the suite, and nothing was taken twice.
        left = subprocess.run([RECEIVE, "--take", "--json"], capture_output=True, text=True, env=self.box.env())
        if left.returncode == 0:
            seen.extend(json.loads(left.stdout)["texts"])
        self.assertEqual(len(seen), len(set(seen)))
        self.assertGreater(len(seen), 0)
        self.assertEqual(self.box.suite(), {"other": "kept"})
