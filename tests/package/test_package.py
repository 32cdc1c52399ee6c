"""The Debian package and the installed tree: what they hold, that lintian,
desktop-file-validate and man accept them, and that the unpacked programs
share a photo and a movie and read it back."""

import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from harness import BUILD_DIR, Sandbox  # noqa: E402

SOURCE_DIR = Path(__file__).resolve().parents[2]
# Debian's shared FFmpeg, or a minimal static one inside the movie module
# (which then needs only libdav1d of FFmpeg's dependencies).
MINIMAL_FFMPEG = os.environ.get("HALVERNSIGNET_FFMPEG") == "minimal"

# Installed files, relative to the prefix.
INSTALLED = [
    "bin/halvernsignet-share",
    "bin/halvernsignet-receive",
    "share/applications/halvernsignet-share.desktop",
    "share/file-manager/actions/halvernsignet-share.desktop",
    "share/Thunar/sendto/halvernsignet-share.desktop",
    "share/nemo/actions/halvernsignet-share.nemo_action",
    "share/nautilus-python/extensions/halvernsignet_share.py",
    "share/man/man1/halvernsignet-share.1.gz",
    "share/man/man1/halvernsignet-receive.1.gz",
    "share/bash-completion/completions/halvernsignet-share",
    "share/bash-completion/completions/halvernsignet-receive",
    "share/doc/halvernsignet-share/copyright",
    "share/doc/halvernsignet-share/changelog.gz",
    "share/doc/halvernsignet-share/README.md",
    "share/doc/halvernsignet-share/LICENSE",
]


def run(*args, **kwargs):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, **kwargs)


# The KDE share-menu plugin, when this build made it.
KDE_PLUGIN_BUILT = (BUILD_DIR / "plugins" / "kf5" / "purpose" / "halvernsignet_share.so").is_file()


# The PCManFM menu module, when this build made it.
PCMANFM_MODULE_BUILT = (BUILD_DIR / "plugins" / "libfm" / "halvernsignet-share.so").is_file()


def kde_plugins(usr):
    return glob.glob(str(usr / "lib" / "**" / "qt5" / "plugins" / "kf5" / "purpose" / "halvernsignet_share.so"),
                     recursive=True)


def module_dir(root):
    [found] = glob.glob(str(root / "lib" / "**" / "libhalvernsignet-movies.so"), recursive=True)
    return Path(found).parent


def field(deb, name):
    return run("dpkg-deb", "-f", deb, name).stdout.strip()


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = Path(tempfile.mkdtemp(prefix="hs-package-"))
        made = run("cpack", "-G", "DEB", "-B", cls.tmp / "out", cwd=BUILD_DIR)
        assert made.returncode == 0, made.stdout + made.stderr
        # One package per component: the programs, and each module.
        cls.debs = {field(deb, "Package"): deb for deb in glob.glob(str(cls.tmp / "out" / "*.deb"))}
        cls.deb = cls.debs["halvernsignet-share"]
        cls.root = cls.tmp / "root"
        for deb in cls.debs.values():
            unpacked = run("dpkg-deb", "-x", deb, cls.root)
            assert unpacked.returncode == 0, unpacked.stderr

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_holds_every_file_and_its_dependencies(self):
        modules = {"halvernsignet-share-movies", "halvernsignet-share-dialogs"}
        self.assertEqual(set(self.debs), {"halvernsignet-share"} | modules
                         | ({"halvernsignet-share-kde"} if KDE_PLUGIN_BUILT else set())
                         | ({"halvernsignet-share-pcmanfm"} if PCMANFM_MODULE_BUILT else set()))
        usr = self.root / "usr"
        for path in INSTALLED + ["lib/halvernsignet-share/libhalvernsignet-movies.so"]:
            self.assertTrue((usr / path).is_file(), path)
        # Where KDE programs look for share-menu plugins under /usr.
        self.assertEqual(len(kde_plugins(usr)), int(KDE_PLUGIN_BUILT))
        # Where libfm looks for modules under /usr.
        self.assertEqual(len(glob.glob(str(usr / "lib" / "**" / "libfm" / "modules" / "halvernsignet-share.so"),
                                       recursive=True)), int(PCMANFM_MODULE_BUILT))
        owned = {name: run("dpkg-deb", "-c", deb).stdout for name, deb in self.debs.items()}
        self.assertIn("/libhalvernsignet-movies.so", owned["halvernsignet-share-movies"])
        self.assertIn("/libhalvernsignet-dialogs.so", owned["halvernsignet-share-dialogs"])

        # The program depends on what it links; what it loads only when
        # needed (FFmpeg, GTK 4, Qt) comes with the modules' packages, which
        # it recommends (the KDE one, heavy elsewhere, it suggests).
        depends = field(self.deb, "Depends")
        for library in ("libplist", "libglib2.0-0", "libc6"):
            self.assertIn(library, depends)
        for library in ("libav", "libdav1d", "libgtk", "libqt5", "libkf5", "libfm"):
            self.assertNotIn(library, depends)
        recommends = field(self.deb, "Recommends")
        self.assertLessEqual(modules | {"python3-nautilus"}, set(recommends.replace(" ", "").split(",")))
        if KDE_PLUGIN_BUILT:
            self.assertIn("halvernsignet-share-kde", field(self.deb, "Suggests"))
            kde = self.debs["halvernsignet-share-kde"]
            self.assertIn("libkf5purpose5", field(kde, "Depends"))
            for needed in ("libkf5purpose-bin", "qml-module-org-kde-purpose", "qml-module-qtquick-layouts",
                           "qml-module-org-kde-kirigami2"):
                self.assertIn(needed, field(kde, "Recommends") + field(kde, "Depends"))
        if PCMANFM_MODULE_BUILT:
            self.assertIn("halvernsignet-share-pcmanfm", field(self.deb, "Suggests"))
            self.assertIn("libfm-gtk4", field(self.debs["halvernsignet-share-pcmanfm"], "Depends"))
        movies = field(self.debs["halvernsignet-share-movies"], "Depends")
        self.assertIn("libdav1d" if MINIMAL_FFMPEG else "libavformat", movies)
        self.assertEqual("libavformat" in movies, not MINIMAL_FFMPEG, movies)
        self.assertIn("libgtk-4-1", field(self.debs["halvernsignet-share-dialogs"], "Depends"))
        for name in modules:
            self.assertIn(f"halvernsignet-share (= {field(self.deb, 'Version')})", field(self.debs[name], "Depends"))

        # Maintainer scripts: none but CPack's ldconfig call for a library under /usr/lib.
        for name, deb in self.debs.items():
            control = Path(self.tmp / "control" / name)
            control.parent.mkdir(exist_ok=True)
            self.assertEqual(run("dpkg-deb", "-e", deb, control).returncode, 0)
            for script in ("preinst", "postinst", "prerm", "postrm", "config", "triggers"):
                if (control / script).exists():
                    commands = [line.strip() for line in (control / script).read_text().splitlines()
                                if line.strip() and not line.startswith("#")]
                    self.assertTrue(set(commands) <= {"set -e", 'if [ "$1" = "configure" ]; then',
                                                      'if [ "$1" = "remove" ]; then', "ldconfig", "fi"}, commands)

    @unittest.skipUnless(shutil.which("lintian"), "lintian is not installed")
    def test_lintian_finds_no_error(self):
        result = run("lintian", "--no-tag-display-limit", *self.debs.values())
        errors = [line for line in result.stdout.splitlines() if line.startswith("E:")]
        if MINIMAL_FFMPEG:
            # That build carries its own FFmpeg on purpose.
            errors = [line for line in errors if "embedded-library" not in line]
        self.assertEqual(errors, [], result.stdout)

    def test_unpacked_programs_share_a_photo_and_a_movie_and_read_them_back(self):
        box = Sandbox(handler=False)
        self.addCleanup(box.cleanup)
        photo = box.root / "in" / "IMG_0042.png"
        shutil.copy(SOURCE_DIR / "examples" / "IMG_0042.png", photo)
        clip = box.root / "in" / "clip.mp4"
        subprocess.run([BUILD_DIR / "make_test_movie", clip, "--seconds", "2"], check=True, capture_output=True)
        bin_dir = self.root / "usr" / "bin"
        self.assertFalse((bin_dir / "libhalvernsignet-movies.so").exists())

        shared = run(bin_dir / "halvernsignet-share", "--image", photo, "--movie", clip, env=box.env(), cwd=box.root)
        self.assertEqual(shared.returncode, 0, shared.stderr)
        self.assertNotIn("movie support is not available", shared.stderr)
        received = run(bin_dir / "halvernsignet-receive", "--json", env=box.env())
        self.assertEqual(received.returncode, 0, received.stderr)
        photo_record, movie_record = json.loads(received.stdout)["records"]
        self.assertEqual((photo_record["type"], movie_record["type"]), (0, 1))
        self.assertIn("thumbnail", movie_record)  # the module was found and made a preview
        self.assertAlmostEqual(movie_record["duration"], 2000, delta=80)
        self.assertFalse(photo_record["missing"] or movie_record["missing"])

    def test_the_program_alone_shares_and_names_the_movie_it_cannot_preview(self):
        # Installed without its recommended modules (--no-install-recommends).
        alone = self.tmp / "alone"
        self.assertEqual(run("dpkg-deb", "-x", self.deb, alone).returncode, 0)
        self.assertEqual(glob.glob(str(alone / "usr" / "lib" / "**" / "libhalvernsignet-movies.so"), recursive=True), [])
        box = Sandbox(handler=False)
        self.addCleanup(box.cleanup)
        photo = box.root / "in" / "IMG_0042.png"
        shutil.copy(SOURCE_DIR / "examples" / "IMG_0042.png", photo)
        clip = box.root / "in" / "clip.mp4"
        subprocess.run([BUILD_DIR / "make_test_movie", clip, "--seconds", "1"], check=True, capture_output=True)
        shared = run(alone / "usr" / "bin" / "halvernsignet-share", "--image", photo, "--movie", clip,
                     env=box.env(), cwd=box.root)
        self.assertEqual(shared.returncode, 4, shared.stderr)
        self.assertIn("(clip.mp4): no preview could be made: movie support is not available", shared.stderr)
        received = run(alone / "usr" / "bin" / "halvernsignet-receive", "--json", env=box.env())
        self.assertEqual([r["type"] for r in json.loads(received.stdout)["records"]], [0])


class Install(unittest.TestCase):
    def setUp(self):
        self.destdir = Path(tempfile.mkdtemp(prefix="hs-install-"))
        self.addCleanup(shutil.rmtree, self.destdir, True)
        installed = run("cmake", "--install", BUILD_DIR, "--prefix", "/usr",
                        env={**os.environ, "DESTDIR": str(self.destdir)})
        self.assertEqual(installed.returncode, 0, installed.stderr)
        self.usr = self.destdir / "usr"

    def test_every_file_is_installed_and_accepted(self):
        for path in INSTALLED:
            self.assertTrue((self.usr / path).is_file(), path)
        self.assertTrue((module_dir(self.usr) / "libhalvernsignet-movies.so").is_file())

        for entry in ("share/applications/halvernsignet-share.desktop",
                      "share/Thunar/sendto/halvernsignet-share.desktop"):
            entry = self.usr / entry
            with self.subTest(entry=entry):
                result = run("desktop-file-validate", entry)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertEqual(result.stdout, "")

        for page in ("halvernsignet-share", "halvernsignet-receive"):
            with self.subTest(page=page):
                result = run("man", "--warnings", "-l", self.usr / "share/man/man1" / (page + ".1.gz"),
                             env={**os.environ, "MANWIDTH": "80", "MANPAGER": "cat", "PAGER": "cat"})
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stderr, "")
                self.assertIn("EXIT STATUS", result.stdout)

    def test_bash_completion_offers_options_and_paths(self):
        completions = self.usr / "share/bash-completion/completions"
        script = f"""
            source {completions / 'halvernsignet-share'}
            COMP_WORDS=(halvernsignet-share --mo); COMP_CWORD=1; _halvernsignet_share; echo "${{COMPREPLY[*]}}"
            COMP_WORDS=(halvernsignet-share --movie {self.usr}/bi); COMP_CWORD=2; _halvernsignet_share; echo "${{COMPREPLY[*]}}"
            source {completions / 'halvernsignet-receive'}
            COMP_WORDS=(halvernsignet-receive --t); COMP_CWORD=1; _halvernsignet_receive; echo "${{COMPREPLY[*]}}"
        """
        result = run("bash", "-c", script)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.splitlines(), ["--movie", f"{self.usr}/bin", "--take"])


if __name__ == "__main__":
    unittest.main()
