"""Runs the real program in a throw-away desktop session: its own HOME and
XDG directories, and a URL handler for the halvernsignet scheme whose
command records every URL it is launched with.

What the handler recorded is read only once the program and every process it
started have exited, so "no URL was opened" is a fact, not a guess made after
a pause. GIO detaches the handler (it is orphaned at once), so this process
becomes a child subreaper: orphans of the programs it runs are re-parented to
it instead of to init, and each program runs in a process group of its own
that its handler inherits.
"""

import ctypes
import json
import os
import plistlib
import shutil
import subprocess
import tempfile
import time
import unittest
import urllib.parse
from pathlib import Path

BINARY = os.environ.get("SHARE_BINARY", str(Path(__file__).resolve().parents[2] / "build" / "halvernsignet-share"))
BUILD_DIR = Path(os.environ.get("BUILD_DIR", Path(BINARY).parent))
# The test build of the program: the same, plus a copy delay tests can set
# (HALVERNSIGNET_SHARE_TEST_COPY_DELAY_MS), which the shipped program never reads.
TEST_BINARY = os.environ.get("SHARE_TEST_BINARY", str(BUILD_DIR / "halvernsignet-share-testing"))
BUNDLE_ID = os.environ.get("HOST_APP_BUNDLE_IDENTIFIER", "com.halvernsignet.mobile")
GROUP = "group." + BUNDLE_ID

RECORDER = """#!/bin/sh
printf '%s\\n' "$1" >> "$(dirname "$0")/urls.txt"
"""

# How long the program and what it started may take to exit after a test
# expects them to be done.
SETTLE_SECONDS = 60

PR_SET_CHILD_SUBREAPER = 36


def become_subreaper():
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        errno = ctypes.get_errno()
        raise OSError(errno, "prctl(PR_SET_CHILD_SUBREAPER): " + os.strerror(errno))


become_subreaper()


def wait_for_process_group(pgid, deadline):
    """Reaps every process of group `pgid`; they are all children of this
    process once the group's leader (already reaped) has exited, whether
    they were started by it or by something it started."""
    while True:
        try:
            if os.waitid(os.P_PGID, pgid, os.WEXITED | os.WNOHANG) is not None:
                continue  # one more has exited; look again
        except ChildProcessError:
            return  # none of the group is left
        if time.monotonic() > deadline:
            raise AssertionError(f"processes started by the program (group {pgid}) are still running")
        time.sleep(0.01)


class Sandbox:
    def __init__(self, handler=True):
        self.root = Path(tempfile.mkdtemp(prefix="hs-e2e-"))
        self.home = self.root / "home"
        self.config = self.home / ".config"
        self.data = self.home / ".local" / "share"
        for d in (self.config, self.data / "applications", self.root / "in"):
            d.mkdir(parents=True)
        self.urls_file = self.root / "urls.txt"
        self.started = []  # every program run, so their process groups can be awaited
        if handler:
            self.register_handler()

    def register_handler(self):
        recorder = self.root / "record-url.sh"
        recorder.write_text(RECORDER)
        recorder.chmod(0o755)
        (self.data / "applications" / "halvernsignet-recorder.desktop").write_text(
            "[Desktop Entry]\nType=Application\nName=Recorder\n"
            f"Exec={recorder} %u\nMimeType=x-scheme-handler/halvernsignet;\nNoDisplay=true\n")
        (self.config / "mimeapps.list").write_text(
            "[Default Applications]\nx-scheme-handler/halvernsignet=halvernsignet-recorder.desktop\n")

    def cleanup(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def env(self, **extra):
        env = {k: v for k, v in os.environ.items() if not k.startswith("XDG_") and k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env.update(HOME=str(self.home), XDG_CONFIG_HOME=str(self.config), XDG_DATA_HOME=str(self.data),
                   XDG_DATA_DIRS="/usr/local/share:/usr/share", XDG_CACHE_HOME=str(self.root / "cache"))
        env.update(extra)
        return env

    def run(self, *args, input=None, env=None, timeout=120, program=None):
        proc = self.popen(*args, env=env, stdin=subprocess.PIPE, program=program)
        try:
            stdout, stderr = proc.communicate(input, timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.communicate()
            raise
        return subprocess.CompletedProcess(proc.args, proc.returncode, stdout, stderr)

    def popen(self, *args, env=None, stdin=subprocess.DEVNULL, program=None):
        """`program`: the command that runs instead of the program itself
        (another copy of it, or a wrapper that ends by exec'ing it)."""
        # A process group of its own (its id is the program's pid), which the
        # processes it starts inherit.
        proc = subprocess.Popen([*map(str, program or [BINARY]), *map(str, args)], stdin=stdin, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True, env=env or self.env(),
                                cwd=self.root / "in", process_group=0)
        self.started.append(proc)
        return proc

    def settle(self):
        """Waits until every program run here, and everything each started,
        has exited."""
        deadline = time.monotonic() + SETTLE_SECONDS
        while self.started:
            proc = self.started[0]
            proc.wait(timeout=max(0.0, deadline - time.monotonic()))
            wait_for_process_group(proc.pid, deadline)
            # Once empty, the group's id is free for reuse: never wait on it again.
            self.started.pop(0)

    # What the host application receives.
    @property
    def suite_path(self):
        return self.config / (GROUP + ".plist")

    def suite(self):
        with open(self.suite_path, "rb") as f:
            return plistlib.load(f)

    def stored(self):
        return self.suite().get("ShareKey")

    def named_files(self):
        """The container's file names the stored media list names (copies and
        thumbnails); none when the suite holds no media list."""
        if not self.suite_path.is_file() or not isinstance(self.stored(), bytes):
            return []
        names = []
        for record in json.loads(self.stored()):
            for key in ("path", "thumbnail"):
                if key in record:
                    names.append(urllib.parse.unquote(record[key].rsplit("/", 1)[1]))
        return sorted(names)

    def records(self):
        """The run records in the state folder (a finished or stopped run leaves none)."""
        runs = self.home / ".local" / "state" / "halvernsignet-share" / "runs"
        return sorted(p.name for p in runs.iterdir()) if runs.exists() else []

    @property
    def container(self):
        return self.data / "group-containers" / GROUP

    def container_files(self):
        if not self.container.exists():
            return []
        return sorted(p.name for p in self.container.iterdir())

    def urls(self):
        """Every URL the handler was launched with, read once the programs and
        whatever they started (the handler among them) have exited."""
        self.settle()
        return self.urls_file.read_text().splitlines() if self.urls_file.exists() else []


class SandboxTest(unittest.TestCase):
    handler = True

    def setUp(self):
        self.box = Sandbox(handler=self.handler)
        self.addCleanup(self.box.cleanup)

    def share(self, *args, **kwargs):
        return self.box.run(*args, **kwargs)

    def assertHandedOver(self, result, fragment, status=0):
        """Handed over with `fragment`; status 4 when some items were left out."""
        self.assertEqual(result.returncode, status, result.stderr)
        self.assertEqual(self.box.urls(), ["halvernsignet://dataUrl=ShareKey#" + fragment])
