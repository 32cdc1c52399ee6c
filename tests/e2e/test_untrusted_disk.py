"""Whatever is found on disk is checked before it is acted on: the run records
a later share sweeps, the suite and its lock, links inside a shared folder,
sparse files, and names that reach the program's output lines."""

import fcntl
import os
import socket
import stat
import subprocess
import time

from harness import BUILD_DIR, GROUP, SandboxTest

RECEIVE = os.environ.get("RECEIVE_BINARY", str(BUILD_DIR / "halvernsignet-receive"))
# The bound on waiting for the suite's lock, and the slack a loaded machine needs.
LOCK_WAIT_SECONDS = 20

HEADER = "halvernsignet-share run 1\n"
NOBODY = 65534


class ForgedRunRecords(SandboxTest):
    """Records planted in the state folder, or stray lines in one, never make a
    share remove or move anything outside the container and the suite's
    folder."""

    def setUp(self):
        super().setUp()
        home = self.box.home
        self.runs = home / ".local" / "state" / "halvernsignet-share" / "runs"
        self.ssh = home / ".ssh"
        self.ssh.mkdir()
        (self.ssh / "id_ed25519").write_text("the person's key")
        self.notes = home / "notes.txt"
        self.notes.write_text("the person's notes")
        self.bashrc = home / ".bashrc"
        self.bashrc.write_text("the person's shell set-up")
        self.box.container.mkdir(parents=True)
        (self.box.container / "up").symlink_to(home)
        self.aside = self.box.container / ".photo.old-1-0-7"
        self.aside.write_text("an item moved aside")

    def plant(self, lines, name="0123abcd", mode=0o700):
        self.runs.mkdir(parents=True, exist_ok=True)
        os.chmod(self.runs, mode)
        record = self.runs / name
        record.write_text(HEADER + "".join(line + "\n" for line in lines))
        return record

    def assertSurvived(self):
        self.assertEqual((self.ssh / "id_ed25519").read_text(), "the person's key")
        self.assertEqual(self.notes.read_text(), "the person's notes")
        self.assertEqual(self.bashrc.read_text(), "the person's shell set-up")
        self.assertFalse((self.box.home / "ssh-moved").exists())
        self.assertFalse((self.box.home / "planted").exists())

    def test_lines_naming_anything_outside_the_container_are_skipped_and_said(self):
        home, container, config = self.box.home, self.box.container, self.box.config
        st = os.lstat(self.notes)
        identity = f"{st.st_dev} {st.st_ino} {st.st_mtime_ns // 10**9} {st.st_mtime_ns % 10**9}"
        forged = [
            f"T {self.ssh}",                                  # a folder in $HOME
            f"T {container}/../../../../.ssh",               # the same through ".."
            f"T {container}/up/.ssh",                         # the same through a link
            f"S {home}/.bashrc",                              # a suite temporary elsewhere
            f"S {config}/.bashrc",                            # beside the suite, but not its temporary
            f"N {identity} {self.notes}",                     # a user file with the right identity
            f"N {identity} {container}/up/notes.txt",
            f"A {self.ssh}\t{home}/ssh-moved",                # renaming in $HOME
            f"A {self.aside}\t{home}/planted",                # renaming out of the container
        ]
        self.plant(forged)
        result = self.share("--text", "hello")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertSurvived()
        self.assertEqual(self.aside.read_text(), "an item moved aside")
        said = [line for line in result.stderr.splitlines() if "skipped" in line]
        self.assertEqual(len(said), 1, result.stderr)
        self.assertIn(f"skipped {len(forged)} lines", said[0])
        self.assertEqual(self.box.stored(), ["hello"])

    def test_a_runs_folder_others_can_write_is_left_alone(self):
        planted = self.box.container / ".incoming-planted"
        planted.write_text("looks like a temporary")
        self.plant([f"T {planted}", f"T {self.ssh}"], mode=0o777)
        result = self.share("--text", "hello")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertSurvived()
        self.assertTrue(planted.exists())
        self.assertEqual(sum("left alone" in line and "0777" in line for line in result.stderr.splitlines()), 1,
                         result.stderr)

    def test_records_of_another_user_are_left_alone(self):
        if os.geteuid() != 0:
            self.skipTest("making files of another user needs root")
        planted = self.box.container / ".incoming-planted"
        planted.write_text("looks like a temporary")
        record = self.plant([f"T {planted}", f"T {self.ssh}"])
        os.chown(record, NOBODY, NOBODY)
        result = self.share("--text", "hello")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertSurvived()
        self.assertTrue(planted.exists())
        self.assertIn("belong to another user", result.stderr)

        os.chown(record, 0, 0)
        os.chown(self.runs, NOBODY, NOBODY)
        result = self.share("--text", "again")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertSurvived()
        self.assertTrue(planted.exists())
        self.assertIn("belongs to another user", result.stderr)


class SuiteThatIsNoFile(SandboxTest):
    """A named pipe, a device or a socket at the suite's path, or a link at
    its lock's, is refused: nothing handed over, never a hang."""

    def receive(self, *args, timeout=60):
        return subprocess.run([RECEIVE, *args], capture_output=True, text=True, env=self.box.env(), timeout=timeout)

    def assertRefused(self, result, reason):
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("nothing handed over", result.stderr)
        self.assertIn(reason, result.stderr)
        self.assertEqual(self.box.urls(), [])

    def test_a_pipe_a_device_or_a_socket_at_the_suite_is_refused(self):
        suite = self.box.suite_path
        listening = socket.socket(socket.AF_UNIX)
        self.addCleanup(listening.close)
        cases = [
            ("named pipe", lambda: os.mkfifo(suite)),
            ("character device", lambda: suite.symlink_to("/dev/null")),
            ("socket", lambda: listening.bind(str(suite))),
        ]
        for kind, make in cases:
            with self.subTest(kind):
                if os.path.lexists(suite):
                    suite.unlink()  # whatever an earlier case left, had it failed
                make()
                self.assertRefused(self.share("--text", "hello", timeout=30), kind)
                self.assertFalse(stat.S_ISREG(os.lstat(suite).st_mode))
                taken = self.receive("--take", timeout=30)
                self.assertEqual(taken.returncode, 1, taken.stderr)
                self.assertIn(kind, taken.stderr)
                suite.unlink()

    def test_a_link_at_the_lock_is_never_followed(self):
        elsewhere = self.box.home / "elsewhere"
        (self.box.config / f".{GROUP}.plist.lock").symlink_to(elsewhere)
        self.assertRefused(self.share("--text", "hello", timeout=30), "is a link")
        self.assertFalse(elsewhere.exists())
        self.assertFalse(self.box.suite_path.exists())

    def test_a_lock_held_forever_ends_the_share_and_the_take_after_a_bounded_wait(self):
        self.assertEqual(self.share("--text", "before").returncode, 0)
        lock = open(self.box.config / f".{GROUP}.plist.lock", "a")
        self.addCleanup(lock.close)
        fcntl.flock(lock, fcntl.LOCK_EX)
        started = time.monotonic()
        share = self.box.popen("--text", "hello")
        take = subprocess.Popen([RECEIVE, "--take"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                env=self.box.env())
        taken_out, taken_err = take.communicate(timeout=LOCK_WAIT_SECONDS + 40)
        share_out, share_err = share.communicate(timeout=LOCK_WAIT_SECONDS + 40)
        waited = time.monotonic() - started
        self.assertGreaterEqual(waited, LOCK_WAIT_SECONDS - 1)
        self.assertEqual(share.returncode, 1, share_err)
        self.assertIn(f"held by another program for {LOCK_WAIT_SECONDS} seconds", share_err)
        self.assertEqual(take.returncode, 1, taken_err)
        self.assertIn(f"held by another program for {LOCK_WAIT_SECONDS} seconds", taken_err)
        self.assertEqual(self.box.urls(), ["halvernsignet://dataUrl=ShareKey#text"])  # the first share's only
        self.assertEqual(self.box.stored(), ["before"])


class LinksOutOfASharedFolder(SandboxTest):
    """A shared folder's links are kept only while they stay inside it."""

    def make_album(self):
        album = self.box.root / "in" / "album"
        (album / "sub").mkdir(parents=True)
        (album / "photo.jpg").write_bytes(b"photo")
        (self.box.root / "in" / "outside.txt").write_text("beside the folder")
        links = {
            "ok": "photo.jpg",
            "sub/up": "../photo.jpg",
            "self": ".",
            "escape": "../outside.txt",            # ".." past the top
            "absolute": "/etc/passwd",
            "sneaky": "self/../outside.txt",       # lexically inside, out through a link
            "sub/far": "../../../../../../etc",
        }
        for name, target in links.items():
            (album / name).symlink_to(target)
        return album

    def test_links_leading_out_are_left_out_named_once_and_the_folder_handed_over(self):
        album = self.make_album()
        result = self.share("--file", album)
        self.assertHandedOver(result, "file", status=4)
        copy = self.box.container / "album"
        self.assertEqual((copy / "photo.jpg").read_bytes(), b"photo")
        for kept in ("ok", "sub/up", "self"):
            self.assertTrue((copy / kept).is_symlink(), kept)
        for left_out in ("escape", "absolute", "sneaky", "sub/far"):
            self.assertFalse(os.path.lexists(copy / left_out), left_out)
            said = [line for line in result.stderr.splitlines() if f"album/{left_out} " in line]
            self.assertEqual(len(said), 1, result.stderr)
            self.assertIn("leads out of the shared folder", said[0])
        self.assertEqual(result.stdout, "")

    def test_the_receiver_marks_a_folder_whose_copy_holds_a_link_leading_out(self):
        import json
        import plistlib
        container = self.box.container
        (container / "inside" / "deep").mkdir(parents=True)
        (container / "inside" / "deep" / "up").symlink_to("../../../../../../../../etc")
        (container / "fine").mkdir()
        (container / "fine" / "here").symlink_to("../inside")
        records = [{"path": (container / name).as_uri(), "type": 2} for name in ("inside", "fine")]
        with open(self.box.suite_path, "wb") as f:
            plistlib.dump({"ShareKey": json.dumps(records).encode()}, f)
        result = subprocess.run([RECEIVE, "--json"], capture_output=True, text=True, env=self.box.env(), timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        received = json.loads(result.stdout)["records"]
        self.assertTrue(received[0]["missing"])
        self.assertIn("holds a link leading out of the container", received[0]["problem"])
        self.assertFalse(received[1]["missing"], received[1])


class SparseFiles(SandboxTest):
    """A file with holes is copied with its holes, on every copy path."""

    MIB = 1 << 20

    def sparse(self, path, size):
        with open(path, "wb") as f:
            f.truncate(size)
            f.seek(size // 2)
            f.write(b"one written block".ljust(4096, b"x"))
        return path

    def assertCopiedWithHoles(self, source, copy):
        self.assertEqual(copy.stat().st_size, source.stat().st_size)
        self.assertLessEqual(copy.stat().st_blocks * 512, self.MIB, f"{copy} takes {copy.stat().st_blocks * 512} bytes")
        with open(source, "rb") as a, open(copy, "rb") as b:
            while True:
                chunk = a.read(self.MIB)
                self.assertEqual(chunk, b.read(self.MIB))
                if not chunk:
                    break

    def test_holes_stay_holes_when_copied_ahead_directly_and_inside_a_folder(self):
        inbox = self.box.root / "in"
        (inbox / "folder").mkdir()
        first = inbox / "first.txt"
        first.write_text("copied by the share itself; the files after it are copied ahead")
        small = self.sparse(inbox / "small.img", 8 * self.MIB)        # copied ahead (at most 16 MiB)
        large = self.sparse(inbox / "large.img", 256 * self.MIB)      # too large to copy ahead
        inner = self.sparse(inbox / "folder" / "inner.img", 64 * self.MIB)
        result = self.share("--file", first, "--file", small, "--file", large, "--file", inbox / "folder")
        self.assertHandedOver(result, "file")
        self.assertCopiedWithHoles(small, self.box.container / "small.img")
        self.assertCopiedWithHoles(large, self.box.container / "large.img")
        self.assertCopiedWithHoles(inner, self.box.container / "folder" / "inner.img")


class ControlCharactersInOutput(SandboxTest):
    """Lines that repeat a path or a text stay one line, with no raw control
    character, whatever the path holds."""

    def assertCleanLines(self, text):
        for line in text.splitlines():
            self.assertFalse(any(ord(c) < 0x20 or ord(c) == 0x7F for c in line), repr(line))

    def test_a_copy_failure_with_a_newline_and_an_escape_in_its_path_stays_one_line(self):
        folder = self.box.root / "in" / "two\nlines\x1b[31m"
        folder.mkdir()
        gone = folder / "gone\x07.txt"
        result = self.share("--file", gone, "--text", "x\x1b]0;title\x07", "--file", gone)
        self.assertEqual(result.returncode, 4, result.stderr)
        self.assertEqual(len(result.stdout.splitlines()), 2, repr(result.stdout))
        self.assertTrue(all(line.startswith("Cannot copy item at ") for line in result.stdout.splitlines()))
        self.assertIn("two lines [31m/gone .txt: No such file or directory", result.stdout)
        self.assertCleanLines(result.stdout)
        self.assertEqual(sum(line.startswith("halvernsignet-share: left out") for line in result.stderr.splitlines()),
                         3, result.stderr)
        self.assertCleanLines(result.stderr)
