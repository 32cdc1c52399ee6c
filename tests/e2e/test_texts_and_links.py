import json
import os
import plistlib
import threading
import time

from harness import GROUP, Sandbox, SandboxTest


class TextsAndLinks(SandboxTest):
    def test_text_and_link_reach_the_host_as_a_list(self):
        result = self.share("--text", "Hello", "--url", "https://example.com/")
        self.assertHandedOver(result, "text")
        self.assertEqual(self.box.stored(), ["Hello", "https://example.com/"])
        self.assertEqual(result.stdout, "")
        self.assertEqual(os.stat(self.box.suite_path).st_mode & 0o777, 0o600)

    def test_attachments_keep_command_line_order_and_exact_text(self):
        result = self.share("--url", "https://example.com/a%20b?q=1#x", "--text", "", "--text", "Ünïcødé\nline")
        self.assertHandedOver(result, "text")
        self.assertEqual(self.box.stored(), ["https://example.com/a%20b?q=1#x", "", "Ünïcødé\nline"])

    def test_other_keys_of_the_suite_survive_and_a_later_share_replaces_the_value(self):
        with open(self.box.suite_path, "wb") as f:
            plistlib.dump({"theme": "dark", "count": 3, "blob": b"\x00\x01"}, f, fmt=plistlib.FMT_BINARY)
        self.assertEqual(self.share("--text", "one").returncode, 0)
        self.assertEqual(self.share("--text", "two").returncode, 0)
        suite = self.box.suite()
        self.assertEqual(suite, {"theme": "dark", "count": 3, "blob": b"\x00\x01", "ShareKey": ["two"]})

    def test_a_suite_that_does_not_parse_is_kept_aside(self):
        self.box.suite_path.write_text("this is no property list")
        self.assertEqual(self.share("--text", "x").returncode, 0)
        self.assertEqual(self.box.stored(), ["x"])
        kept = [p for p in self.box.config.iterdir() if p.name.startswith(GROUP + ".plist") and p != self.box.suite_path
                and "lock" not in p.name]
        self.assertEqual(len(kept), 1, list(self.box.config.iterdir()))
        self.assertEqual(kept[0].read_text(), "this is no property list")

    def test_failed_load_shows_the_error_alert_and_the_rest_goes_on(self):
        manifest = {"inputItems": [{"attachments": [
            {"types": ["public.plain-text"], "error": "the sharing program went away"},
            {"types": ["public.plain-text"], "string": "still here"}]}]}
        result = self.share("--manifest", "-", input=json.dumps(manifest))
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, "[ERROR] Error loading data!\n")
        self.assertIn("Error loading data", result.stderr)
        self.assertEqual(self.box.stored(), ["still here"])
        self.assertEqual(self.box.urls(), ["halvernsignet://dataUrl=ShareKey#text"])

    def test_wrong_kinds_of_items_fail(self):
        for attachment in ({"types": ["public.plain-text"], "data": "aGk="},
                           {"types": ["public.url"], "string": "https://example.com/"},
                           {"types": ["public.plain-text"]}):
            result = self.share("--manifest", "-", input=json.dumps({"inputItems": [{"attachments": [attachment]}]}))
            self.assertEqual(result.returncode, 1, attachment)
            self.assertEqual(result.stdout, "[ERROR] Error loading data!\n")
        self.assertFalse(self.box.suite_path.exists())

    def test_requests_that_never_complete_exit_3(self):
        for items in ([5], [{}], [{"attachments": []}],
                      [{"attachments": [{"types": ["public.plain-text"], "string": "a"},
                                        {"types": ["com.example.unknown"], "string": "b"}]}]):
            result = self.share("--manifest", "-", input=json.dumps({"inputItems": items}))
            self.assertEqual(result.returncode, 3, (items, result.stderr))
            self.assertEqual(result.stdout, "")
        self.assertFalse(self.box.suite_path.exists())
        self.assertEqual(self.box.urls(), [])

    def test_only_the_first_input_item_is_shared(self):
        manifest = {"inputItems": [{"attachments": [{"types": ["public.plain-text"], "string": "first"}]},
                                   {"attachments": [{"types": ["public.plain-text"], "string": "second"}]}]}
        self.assertHandedOver(self.share("--manifest", "-", input=json.dumps(manifest)), "text")
        self.assertEqual(self.box.stored(), ["first"])

    def test_delayed_loads_still_arrive_in_attachment_order(self):
        manifest = {"inputItems": [{"attachments": [
            {"types": ["public.plain-text"], "string": "slow", "delayMs": 300},
            {"types": ["public.url"], "url": "https://example.com/"}]}]}
        self.assertHandedOver(self.share("--manifest", "-", input=json.dumps(manifest)), "text")
        self.assertEqual(self.box.stored(), ["slow", "https://example.com/"])

    def test_usage_errors_share_nothing(self):
        for args in ([], ["--url", "not a url"], ["--bogus"], ["--text"], ["/no/such/path"],
                     ["--manifest", "-", "--text", "x"], ["--manifest", "/no/such/manifest.json"]):
            result = self.share(*args, input="")
            self.assertEqual(result.returncode, 2, args)
            self.assertEqual(result.stdout, "", args)
            self.assertNotEqual(result.stderr, "", args)
        for bad in ("not json", "[]", '{"inputItems": 3}', '{"inputItems": [{"attachments": [{"types": ["public.text"], '
                    '"string": "a", "url": "https://x/"}]}]}', '{"inputItems": [{"attachments": [{"types": ["public.data"], '
                    '"data": "***"}]}]}'):
            result = self.share("--manifest", "-", input=bad)
            self.assertEqual(result.returncode, 2, bad)
        self.assertFalse(self.box.suite_path.exists())
        self.assertEqual(self.box.urls(), [])

    def test_help_and_verbose(self):
        result = self.share("--help")
        self.assertEqual(result.returncode, 0)
        self.assertIn("--manifest", result.stdout)
        result = self.share("-v", "--text", "x")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout, "")
        self.assertIn(str(self.box.suite_path), result.stderr)
        self.assertIn("halvernsignet://dataUrl=ShareKey#text", result.stderr)


class WithoutHandler(SandboxTest):
    handler = False

    def test_no_handler_nothing_opened_and_told_once(self):
        result = self.share("--text", "Hello")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "")
        self.assertEqual(result.stderr.count("halvernsignet is not installed"), 1, result.stderr)
        self.assertEqual(self.box.stored(), ["Hello"])
        self.assertEqual(self.box.urls(), [])


class ConcurrentShares(SandboxTest):
    """64 shares at once against one suite that holds other keys, while a
    reader parses it: the suite always parses, the other keys survive, the
    value is one whole payload."""

    def test_suite_stays_whole(self):
        with open(self.box.suite_path, "wb") as f:
            plistlib.dump({"theme": "dark", "n": 7}, f)
        payloads = {i: [f"share {i} item {k}" for k in range(i % 4 + 1)] for i in range(64)}
        stop = threading.Event()
        problems = []

        reads = [0]

        def read_continuously():
            while not stop.is_set():
                try:
                    with open(self.box.suite_path, "rb") as f:
                        suite = plistlib.load(f)
                    reads[0] += 1
                    if suite.get("theme") != "dark" or suite.get("n") != 7:
                        problems.append(("lost keys", suite))
                    if "ShareKey" in suite and suite["ShareKey"] not in payloads.values():
                        problems.append(("torn value", suite["ShareKey"]))
                except Exception as e:  # a torn or missing file
                    problems.append(("unreadable", repr(e)))

        reader = threading.Thread(target=read_continuously)
        reader.start()
        reads_before = reads[0]
        try:
            procs = [self.box.popen(*[a for text in texts for a in ("--text", text)]) for texts in payloads.values()]
            for p in procs:
                p.communicate(timeout=120)
                self.assertEqual(p.returncode, 0)
        finally:
            stop.set()
            reader.join()
        self.assertEqual(problems, [])
        self.assertGreater(reads[0] - reads_before, 0)
        suite = self.box.suite()
        self.assertEqual((suite["theme"], suite["n"]), ("dark", 7))
        self.assertIn(suite["ShareKey"], payloads.values())
        leftovers = [p.name for p in self.box.config.iterdir() if p.name not in (
            "mimeapps.list", GROUP + ".plist") and "lock" not in p.name]
        self.assertEqual(leftovers, [])
