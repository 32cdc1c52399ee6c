#!/usr/bin/env python3
"""Kills shares with SIGKILL at random moments and checks what a reader finds.

Each run shares a few texts, a photo + file + movie, or one large file into a
suite that holds other keys, and is killed at a random moment of its usual
duration. After each kill: the suite parses, its other keys are intact,
"ShareKey" holds the old or the new whole value, and every file under a final
name in the container is whole (a copy equals its source, a thumbnail is a
whole PNG). Then one share runs to its end, after which no temporary of the
dead run may be left, and copies that no payload ever named are counted.

  python3 tests/reliability/crash_test.py --runs 40            # short form (CI)
  python3 tests/reliability/crash_test.py --runs 200 --seed 1  # long form

Exit status 0 when every check held, 1 otherwise; the figures go to stdout.
"""

import argparse
import collections
import hashlib
import json
import os
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import zlib
from pathlib import Path
from urllib.parse import unquote, urlparse

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
import harness  # noqa: E402
from harness import GROUP, Sandbox  # noqa: E402

OTHER_KEYS = {"theme": "dark", "launches": 42, "token": b"\x00\x01\xfe", "recent": ["a", "b"]}
PHOTO, FILE, MOVIE, LARGE = "IMG_0042.HEIC", "Field notes.pdf", "clip.mp4", "backup.bin"
LOCK = "." + GROUP + ".plist.lock"


def whole_png(path):
    """True when the file is a PNG whose every chunk is complete, up to IEND."""
    data = path.read_bytes()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return False
    at = 8
    while at + 12 <= len(data):
        length = int.from_bytes(data[at:at + 4], "big")
        kind = data[at + 4:at + 8]
        end = at + 12 + length
        if end > len(data) or zlib.crc32(data[at + 4:end - 4]) != int.from_bytes(data[end - 4:end], "big"):
            return False
        if kind == b"IEND":
            return end == len(data)
        at = end
    return False


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


class CrashTest:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.box = Sandbox(handler=False)
        self.named = set()          # every container name a stored payload ever named
        self.failures = []          # (run, what)
        self.figures = dict(killed=0, finished=0, torn=0, keys_lost=0, bad_value=0, partial=0,
                            leftover_runs=0, leftover_files=0, leftover_bytes=0, unnamed_runs=0, unnamed_files=0)
        self.by_kind = {"text": 0, "media": 0, "large": 0}
        self.leftover_kinds = collections.Counter()

    # --- set-up -------------------------------------------------------------
    def prepare(self):
        src = self.box.root / "in"
        rnd = random.Random(self.args.seed)
        (src / PHOTO).write_bytes(rnd.randbytes(300_000))
        (src / FILE).write_bytes(rnd.randbytes(200_000))
        with open(src / LARGE, "wb") as f:
            block = rnd.randbytes(1 << 20)
            for i in range(self.args.large_mib):
                f.write(block[i:] + block[:i])
        subprocess.run([str(harness.BUILD_DIR / "make_test_movie"), str(src / MOVIE), "--width", "320",
                        "--height", "240", "--seconds", "2", "--fps", "25"], check=True, capture_output=True)
        self.sources = {name: src / name for name in (PHOTO, FILE, MOVIE, LARGE)}
        self.source_digest = {name: digest(p) for name, p in self.sources.items()}
        self.verified = {}  # (name, inode, mtime, size) -> source it equals
        import plistlib
        with open(self.box.suite_path, "wb") as f:
            plistlib.dump(OTHER_KEYS, f, fmt=plistlib.FMT_BINARY)
        # The usual duration of each kind: the median of its latest whole runs,
        # so that the kill moments follow the machine's load.
        self.durations = {kind: collections.deque(maxlen=5) for kind in self.by_kind}
        for kind in self.by_kind:
            for _ in range(3):
                self.whole_share(kind, "calibration")

    def whole_share(self, kind, tag):
        start = time.monotonic()
        result = self.box.run(*self.arguments(kind, tag), timeout=300)
        self.durations[kind].append(time.monotonic() - start)
        self.note_payload()
        return result

    def usual_duration(self, kind):
        return statistics.median(self.durations[kind])

    def arguments(self, kind, tag):
        if kind == "text":
            return [a for k in range(4) for a in ("--text", f"{tag} text {k} " + "x" * 1500)]
        if kind == "media":
            return ["--image", self.sources[PHOTO], "--file", self.sources[FILE], "--movie", self.sources[MOVIE]]
        return ["--file", self.sources[LARGE]]

    # --- what a reader finds ------------------------------------------------
    def read_suite(self):
        import plistlib
        with open(self.box.suite_path, "rb") as f:
            return plistlib.load(f)

    def note_payload(self):
        value = self.read_suite().get("ShareKey")
        if isinstance(value, bytes):
            try:
                records = json.loads(value)
            except ValueError:
                return value
            for record in records:
                for key in ("path", "thumbnail"):
                    if key in record:
                        self.named.add(Path(unquote(urlparse(record[key]).path)).name)
        return value

    def container_name_kind(self, name):
        """The source a final name must equal, "png" for a thumbnail, or None."""
        if name in (FILE, LARGE):
            return name
        if name.endswith(".HEIC"):
            return PHOTO
        if name.endswith(".mp4"):
            return MOVIE
        if name.endswith(".jpg"):
            return "png"
        return None

    def whole_under_final_name(self, path):
        kind = self.container_name_kind(path.name)
        if kind == "png":
            return whole_png(path)
        if kind is None or not path.is_file():
            return False
        info = path.stat()
        key = (path.name, info.st_ino, info.st_mtime_ns, info.st_size)
        if key not in self.verified:
            same = info.st_size == self.sources[kind].stat().st_size and digest(path) == self.source_digest[kind]
            if not same:
                return False
            self.verified[key] = kind
        return True

    def new_value_is_whole(self, kind, tag, value):
        if kind == "text":
            return value == [a for a in self.arguments(kind, tag) if a != "--text"]
        try:
            records = json.loads(value)
        except (TypeError, ValueError):
            return False
        expected = [PHOTO, FILE, MOVIE] if kind == "media" else [LARGE]
        if [r.get("type") for r in records] != [{PHOTO: 0, FILE: 2, MOVIE: 1, LARGE: 2}[e] for e in expected]:
            return False
        for record, source in zip(records, expected):
            copy = Path(unquote(urlparse(record["path"]).path))
            if copy.parent != self.box.container or self.container_name_kind(copy.name) != source:
                return False
            if not copy.exists() or not self.whole_under_final_name(copy):
                return False
            if source == MOVIE and not whole_png(Path(unquote(urlparse(record["thumbnail"]).path))):
                return False
        return True

    def fail(self, run, what):
        self.failures.append((run, what))

    def check_after_kill(self, run, kind, tag, old):
        try:
            suite = self.read_suite()
        except Exception as e:  # torn, empty or missing
            self.figures["torn"] += 1
            self.fail(run, f"suite unreadable: {e!r}")
            return
        if {k: v for k, v in suite.items() if k != "ShareKey"} != OTHER_KEYS:
            self.figures["keys_lost"] += 1
            self.fail(run, f"other keys changed: {suite}")
        value = suite.get("ShareKey")
        if value != old and not self.new_value_is_whole(kind, tag, value):
            self.figures["bad_value"] += 1
            self.fail(run, f"ShareKey neither old nor new: {value!r:.200}")
        self.note_payload()
        for entry in self.box.container.iterdir():
            if not entry.name.startswith(".") and not self.whole_under_final_name(entry):
                self.figures["partial"] += 1
                self.fail(run, f"not whole under a final name: {entry.name}")

    def leftovers(self):
        found = [p for p in self.box.container.iterdir() if p.name.startswith(".")]
        found += [p for p in self.box.config.iterdir() if p.name not in (GROUP + ".plist", LOCK)]
        return found

    def temporary_kind(self, path):
        if path.parent == self.box.config:
            return "beside the suite"
        if path.name.startswith(".incoming-"):
            return ".incoming-*"
        if ".old-" in path.name:
            return "moved-aside"
        return "thumbnail" if ".jpg." in path.name else "other"

    def check_after_next_share(self, run):
        temporaries = self.leftovers()
        if temporaries:
            self.figures["leftover_runs"] += 1
            self.figures["leftover_files"] += len(temporaries)
            for p in temporaries:
                self.leftover_kinds[self.temporary_kind(p)] += 1
                files = [p] if p.is_file() else [f for f in p.rglob("*") if f.is_file()]
                self.figures["leftover_bytes"] += sum(f.stat().st_size for f in files)
                if self.args.leftovers == "fail":
                    self.fail(run, f"temporary left after the next share: {p.name}")
                shutil.rmtree(p) if p.is_dir() and not p.is_symlink() else p.unlink()
        unnamed = [p for p in self.box.container.iterdir() if not p.name.startswith(".") and p.name not in self.named]
        if unnamed:
            self.figures["unnamed_runs"] += 1
            self.figures["unnamed_files"] += len(unnamed)
            for p in unnamed:
                if self.args.unnamed == "fail":
                    self.fail(run, f"copy no payload names, left after the next share: {p.name}")
                p.unlink()

    # --- the runs -----------------------------------------------------------
    def run(self):
        self.prepare()
        for run in range(self.args.runs):
            kind = self.rng.choice(list(self.by_kind))
            self.by_kind[kind] += 1
            tag = f"run {run}"
            old = self.read_suite().get("ShareKey")
            delay = self.rng.uniform(0, self.usual_duration(kind))
            start = time.monotonic()
            process = subprocess.Popen([harness.BINARY, *map(str, self.arguments(kind, tag))], env=self.box.env(),
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=self.box.root / "in")
            time.sleep(delay)
            process.send_signal(signal.SIGKILL)
            process.wait()
            if process.returncode == -signal.SIGKILL:
                self.figures["killed"] += 1
            else:
                self.figures["finished"] += 1
                self.durations[kind].append(time.monotonic() - start)
            self.check_after_kill(run, kind, tag, old)

            next_kind = self.rng.choice(["text", "media"])
            result = self.whole_share(next_kind, f"after {run}")
            if result.returncode != 0:
                self.fail(run, f"the next share failed: {result.returncode} {result.stderr}")
            self.check_after_next_share(run)
        return self.report()

    def report(self):
        f = self.figures
        print(f"crash test: seed {self.args.seed}, {self.args.runs} runs "
              f"(text {self.by_kind['text']}, photo+file+movie {self.by_kind['media']}, "
              f"{self.args.large_mib} MiB file {self.by_kind['large']}); {f['killed']} killed, "
              f"{f['finished']} finished before the kill")
        print("  usual durations at the end: " +
              ", ".join(f"{k} {self.usual_duration(k) * 1000:.0f} ms" for k in self.durations))
        print(f"  torn or unreadable suites:          {f['torn']}")
        print(f"  other keys changed:                 {f['keys_lost']}")
        print(f"  ShareKey neither old nor new whole: {f['bad_value']}")
        print(f"  partial files under final names:    {f['partial']}")
        print(f"  temporaries left after next share:  {f['leftover_files']} in {f['leftover_runs']} runs "
              f"({f['leftover_bytes'] / 2**20:.1f} MiB" +
              "".join(f"; {n} {k}" for k, n in sorted(self.leftover_kinds.items())) + ")"
              + (" [counted only]" if self.args.leftovers == "count" else ""))
        print(f"  copies no payload names:            {f['unnamed_files']} in {f['unnamed_runs']} runs"
              + (" [counted only]" if self.args.unnamed == "count" else ""))
        for run, what in self.failures[:20]:
            print(f"  FAIL run {run}: {what}")
        return 1 if self.failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=40)
    parser.add_argument("--seed", type=int, default=None, help="makes the kinds and kill moments repeatable")
    parser.add_argument("--large-mib", type=int, default=64, help="size of the large file")
    parser.add_argument("--leftovers", choices=("fail", "count"), default="fail",
                        help="temporaries of a dead run left after the next share: fail, or only count them")
    parser.add_argument("--unnamed", choices=("fail", "count"), default="fail",
                        help="copies no payload names left after the next share: fail, or only count them")
    parser.add_argument("--keep", action="store_true", help="keep the sandbox for inspection")
    args = parser.parse_args()
    if args.seed is None:
        args.seed = random.SystemRandom().randrange(1 << 31)
    test = CrashTest(args)
    try:
        status = test.run()
    finally:
        if args.keep:
            print(f"  sandbox kept: {test.box.root}")
        else:
            test.box.cleanup()
    sys.exit(status)


if __name__ == "__main__":
    main()
