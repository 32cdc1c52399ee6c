#!/usr/bin/env python3
"""Whole-process time and peak memory of a one-text share.

Alternates, in one run, the share (`build/halvernsignet-share --text Hello`,
a fresh session each time, no URL handler registered) with what a person
would do by hand instead: a python3 one-liner that writes the same value into
the same suite with plistlib. Prints medians, the ratio, and peak RSS.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
BINARY = os.environ.get("SHARE_BINARY", str(ROOT / "build" / "halvernsignet-share"))
RUNS = int(sys.argv[1]) if len(sys.argv) > 1 else 30

BY_HAND = ("import os, plistlib; p = os.environ['XDG_CONFIG_HOME'] + '/group.com.halvernsignet.mobile.plist'; "
           "d = plistlib.load(open(p, 'rb')) if os.path.exists(p) else {}; d['ShareKey'] = ['Hello']; "
           "plistlib.dump(d, open(p + '.tmp', 'wb')); os.replace(p + '.tmp', p)")


def measure(argv, env):
    start = time.perf_counter()
    result = subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    if result.returncode != 0:
        sys.exit(f"{argv[0]} failed with {result.returncode}")
    return elapsed


def peak_rss_kib(argv, env):
    # Through /usr/bin/time: a child started from this process would inherit
    # Python's own high-water mark across exec.
    out = subprocess.run(["/usr/bin/time", "-f", "%M", *argv], env=env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True, check=True)
    return int(out.stderr.strip().splitlines()[-1])


def session():
    root = Path(tempfile.mkdtemp(prefix="hs-bench-"))
    # No display: with no URL handler registered, a share on a desktop would
    # say so in a window and wait for it to be closed.
    env = {k: v for k, v in os.environ.items()
           if not k.startswith("XDG_") and k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(HOME=str(root), XDG_CONFIG_HOME=str(root / "config"), XDG_DATA_HOME=str(root / "data"))
    (root / "config").mkdir()
    return env


def main():
    commands = {"halvernsignet-share --text": [BINARY, "--text", "Hello"],
                "python3 plistlib by hand": [sys.executable, "-c", BY_HAND]}
    times = {name: [] for name in commands}
    peaks = {name: 0 for name in commands}
    for _ in range(RUNS):
        for name, argv in commands.items():
            times[name].append(measure(argv, session()))
    for name, argv in commands.items():
        peaks[name] = max(peak_rss_kib(argv, session()) for _ in range(5))
    for name in commands:
        print(f"{name:28} median {statistics.median(times[name]) * 1000:7.2f} ms   peak RSS {peaks[name] / 1024:6.1f} MiB")
    share, by_hand = (statistics.median(times[n]) for n in commands)
    print(f"ratio share / by hand: {share / by_hand:.2f} ({RUNS} alternating runs each)")


if __name__ == "__main__":
    main()
