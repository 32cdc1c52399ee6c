"""The include rules of the source tree: share/ and the portable platform
layer never reach into the Linux platform or its libraries, no two files
include each other (directly or round a longer loop, counting a file's .cc and
.h as one), and the Linux platform's folders depend on one another one way."""

import re
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
SOURCES = [p for d in ("app", "share", "platform", "receive") for p in (ROOT / d).rglob("*") if p.suffix in (".cc", ".h")]


def includes(path):
    return INCLUDE.findall(path.read_text(encoding="utf-8"))


def unit(path):
    return str(path.relative_to(ROOT).with_suffix(""))


class IncludeRules(unittest.TestCase):
    def test_share_and_portable_platform_stay_portable(self):
        system = ("glib", "gio/", "gtk/", "libav", "libsw", "plist/", "linux/", "sys/", "unistd.h", "fcntl.h")
        for path in SOURCES:
            rel = path.relative_to(ROOT).as_posix()
            portable = rel.startswith("share/") or (rel.startswith("platform/") and not rel.startswith("platform/linux/"))
            if not portable:
                continue
            for kind, name in includes(path):
                with self.subTest(file=rel, include=name):
                    self.assertFalse(name.startswith("platform/linux/"), "reaches into the Linux platform")
                    if rel.startswith("share/"):
                        self.assertFalse(kind == "<" and name.startswith(system), "a system or library header in share/")

    def test_no_include_cycles_between_files(self):
        graph = {}
        for path in SOURCES:
            if path.stem.endswith("_test"):
                continue
            for kind, name in includes(path):
                target = ROOT / name
                if kind == '"' and target.suffix == ".h" and target.exists() and unit(target) != unit(path):
                    graph.setdefault(unit(path), set()).add(unit(target))
        state, cycles = {}, []

        def visit(node, stack):
            state[node] = 1
            stack.append(node)
            for nxt in sorted(graph.get(node, ())):
                if state.get(nxt) == 1:
                    cycles.append(stack[stack.index(nxt):] + [nxt])
                elif nxt not in state:
                    visit(nxt, stack)
            stack.pop()
            state[node] = 2

        for node in sorted(graph):
            if node not in state:
                visit(node, [])
        self.assertEqual(cycles, [])

    def test_linux_folders_depend_one_way(self):
        folders = {}
        for path in (ROOT / "platform" / "linux").rglob("*"):
            if path.suffix not in (".cc", ".h") or path.stem.endswith("_test"):
                continue
            here = path.relative_to(ROOT / "platform" / "linux").parts[0]
            for kind, name in includes(path):
                if name.startswith("platform/linux/"):
                    there = name.split("/")[2]
                    if there != here:
                        folders.setdefault(here, set()).add(there)

        def reaches(a, b, seen=()):
            return any(n == b or (n not in seen and reaches(n, b, seen + (n,))) for n in folders.get(a, ()))

        for folder, needs in folders.items():
            for other in needs:
                with self.subTest(folder=folder, needs=other):
                    self.assertFalse(reaches(other, folder), f"{other}/ depends on {folder}/ again")


if __name__ == "__main__":
    unittest.main()
