"""Runs the real program in a throw-away desktop session: its own HOME and
XDG directories, and a URL handler for the halvernsignet scheme whose
command records every URL it is launched with."""

import os
import plistlib
import shutil
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

BINARY = os.environ.get("SHARE_BINARY", str(Path(__file__).resolve().parents[2] / "build" / "halvernsignet-share"))
BUILD_DIR = Path(os.environ.get("BUILD_DIR", Path(BINARY).parent))
BUNDLE_ID = os.environ.get("HOST_APP_BUNDLE_IDENTIFIER", "com.halvernsignet.mobile")
GROUP = "group." + BUNDLE_ID

RECORDER = """#!/bin/sh
printf '%s\\n' "$1" >> "$(dirname "$0")/urls.txt"
"""


class Sandbox:
    def __init__(self, handler=True):
        self.root = Path(tempfile.mkdtemp(prefix="hs-e2e-"))
        self.home = self.root / "home"
        self.config = self.home / ".config"
        self.data = self.home / ".local" / "share"
        for d in (self.config, self.data / "applications", self.root / "in"):
            d.mkdir(parents=True)
        self.urls_file = self.root / "urls.txt"
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

    def run(self, *args, input=None, env=None, timeout=120):
        return subprocess.run([BINARY, *map(str, args)], input=input, capture_output=True, text=True,
                              env=env or self.env(), timeout=timeout, cwd=self.root / "in")

    def popen(self, *args, env=None):
        return subprocess.Popen([BINARY, *map(str, args)], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                text=True, env=env or self.env(), cwd=self.root / "in")

    # What the host application receives.
    @property
    def suite_path(self):
        return self.config / (GROUP + ".plist")

    def suite(self):
        with open(self.suite_path, "rb") as f:
            return plistlib.load(f)

    def stored(self):
        return self.suite().get("ShareKey")

    @property
    def container(self):
        return self.data / "group-containers" / GROUP

    def container_files(self):
        if not self.container.exists():
            return []
        return sorted(p.name for p in self.container.iterdir())

    def urls(self, expect=None, wait=5.0):
        """The URLs the handler was launched with; waits for `expect` of them."""
        deadline = time.monotonic() + wait
        while True:
            lines = self.urls_file.read_text().splitlines() if self.urls_file.exists() else []
            if expect is None or len(lines) >= expect or time.monotonic() > deadline:
                if expect is None:
                    time.sleep(0.3)  # a launch that should not happen has time to show
                    lines = self.urls_file.read_text().splitlines() if self.urls_file.exists() else []
                return lines
            time.sleep(0.02)


class SandboxTest(unittest.TestCase):
    handler = True

    def setUp(self):
        self.box = Sandbox(handler=self.handler)
        self.addCleanup(self.box.cleanup)

    def share(self, *args, **kwargs):
        return self.box.run(*args, **kwargs)

    def assertHandedOver(self, result, fragment):
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.box.urls(expect=1), ["halvernsignet://dataUrl=ShareKey#" + fragment])
