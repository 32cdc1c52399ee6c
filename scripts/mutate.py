#!/usr/bin/env python3
"""Mutation testing: does the test suite notice when a rule of the code is broken?

Each mutant is one small change to the source, found by its exact text (never
by line number): applied, built incrementally in an existing build folder
(ninja), tested with the tests of its layer only (unit tests first, then the
end-to-end tests that reach that code), and reverted, always, even on Ctrl-C.
A mutant is killed when a test fails (or times out), survives when all pass.

    python3 scripts/mutate.py                  # every mutant, build/ as it is
    python3 scripts/mutate.py --list           # the table, nothing run
    python3 scripts/mutate.py --only receive-deliver-ignored,file-fsync-before-rename
    python3 scripts/mutate.py --layer share --build-dir build

Needs a configured and built build folder (scripts/setup.sh). Not part of CI:
the whole table took 19 minutes on two busy cores, 5 with a warm compiler
cache (see README). A mutant
whose text is no longer in its file (the code moved on) is reported as
"pattern not found" and skipped, so the table can be brought up to date.
"""

import argparse
import os
import signal
import subprocess
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# What each layer builds and runs. Commands run in the build folder, cheapest
# first; the first that fails kills the mutant.
E2E = ["ctest", "--output-on-failure", "--timeout", "600", "-R"]
LINUX_FILES = "--gtest_filter=PosixFileManager*:RunJournal*:SweepDeadRuns*:CopyProgress*"
LAYERS = {
    "share": (["share_test"], [["share/share_test"]]),
    "platform": (["platform_test", "share_test"], [["platform/platform_test"], ["share/share_test"]]),
    "files": (["platform_linux_files_test", "halvernsignet-share"],
              [["platform/linux/files/platform_linux_files_test", LINUX_FILES],
               E2E + [r"^e2e\.(test_durability|test_leftovers|test_files_and_images)$"]]),
    "suite": (["platform_linux_suite_test", "platform_linux_files_test", "halvernsignet-share",
               "halvernsignet-receive"],
              [["platform/linux/suite/platform_linux_suite_test", "--gtest_filter=PlistUserDefaults*"],
               ["platform/linux/files/platform_linux_files_test", "--gtest_filter=RunJournal*:SweepDeadRuns*"],
               E2E + [r"^e2e\.(test_durability|test_texts_and_links|test_outcomes)$"]]),
    "app": (["app_test", "halvernsignet-share"],
            [["app/app_test"], E2E + [r"^e2e\.(test_outcomes|test_files_and_images|test_texts_and_links)$"]]),
    "receive": (["receive_test", "halvernsignet-receive", "halvernsignet-receive-c"],
                [["receive/receive_test"], E2E + [r"^e2e\.test_receive$"]]),
}
# Share-layer mutants whose effect shows only on the real disk, or with names
# only real files and movies produce.
SHARE_ON_DISK = (["share_test", "halvernsignet-share"],
                 [["share/share_test"], E2E + [r"^e2e\.test_durability$"]])
SHARE_REAL_MOVIES = (["share_test", "halvernsignet-share"],
                     [["share/share_test"], E2E + [r"^e2e\.test_untrusted_loads$"]])


@dataclass
class Mutant:
    id: str
    file: str
    find: str
    replace: str
    layer: str
    why: str = ""          # the fault a user would meet
    equivalent: str = ""   # why no test can tell it apart: not run, not scored
    layer_override: tuple = field(default=None)


M = Mutant
MUTANTS = [
    # --- share/: names, the URL, the JSON form, the handoff -----------------
    M("name-dotdot-guard", "share/container_files.cc", 'name != "." && name != ".." &&', 'name != "." &&',
      "share", "--file dir/sub/.. is copied to the container's parent"),
    M("name-dot-guard", "share/container_files.cc", 'name != "." && name != ".." &&', 'name != ".." &&',
      "share", "a source named . copies onto the container itself"),
    M("name-empty-guard", "share/container_files.cc", "return !name.empty() && ", "return ",
      "share", "a nameless source copies onto the container itself"),
    M("name-slash-guard", "share/container_files.cc", "name.find('/') == std::string::npos;", "true;",
      "share", "an escaped slash reaches into a subfolder"),
    M("ext-no-dot", "share/container_files.cc", "if (pieces.size() < 2 ||", "if (pieces.size() < 1 ||",
      "share", "a name without a dot gets itself as extension"),
    M("ext-fallback-swapped", "share/container_files.cc", '? "TXT" : "MP4"', '? "MP4" : "TXT"',
      "share", "wrong fallback extension"),
    M("uuid-name-no-dot", "share/container_files.cc", 'uuidString() + "." + ExtensionOf(sourceName, kind)',
      'uuidString() + ExtensionOf(sourceName, kind)', "share", "copy names lose their dot"),
    M("cannot-copy-line", "share/container_files.cc", '"Cannot copy item at "', '"Cannot copy "',
      "share", "the failed-copy line changes"),
    M("temporary-left-after-failed-copy", "share/container_files.cc",
      "if (files.fileExistsAtPath(temporary.path())) (void)files.removeItemAtURL(temporary);", "",
      "share", "a failed copy leaves its temporary"),
    M("store-on-every-completion", "share/handoff.cc", "if (index != count - 1) return;", "if (index < 0) return;",
      "share", "the host is opened before the last item arrived"),
    M("no-flush-before-suite", "share/handoff.cc", "(void)services_.fileManager->synchronizeWrittenItems();", "",
      "share", "the suite names copies not yet on disk", layer_override=SHARE_ON_DISK),
    M("suite-failure-ignored", "share/handoff.cc", "if (!defaults->synchronize()) {",
      "if (!defaults->synchronize() && false) {", "share", "host opened on a stale payload"),
    M("url-form", "share/handoff.cc", '"://dataUrl="', '"://dataUrl"', "share", "wrong URL"),
    M("url-fragment-file", "share/shared_media_file.cc", 'case RedirectType::file: return "file";',
      'case RedirectType::file: return "media";', "share", "wrong URL fragment for files"),
    M("store-key", "share/app_group.h", 'kSharedKey = "ShareKey"', 'kSharedKey = "shareKey"',
      "share", "payload under the wrong key", layer_override=SHARE_ON_DISK),
    M("url-scheme", "share/share_view_controller.cc", 'shareProtocol("halvernsignet")',
      'shareProtocol("halvernsignet-share")', "share", "wrong URL scheme"),
    M("group-prefix", "share/app_group.h", '"group." + std::string', '"group" + std::string',
      "share", "wrong container and suite"),
    M("redirect-for-files", "share/media_items.cc",
      "self->storePayload(extensionItem, index, PayloadKind::mediaList,\n                     kind == SharedMediaType::file ? RedirectType::file",
      "self->storePayload(extensionItem, index, PayloadKind::mediaList,\n                     kind == SharedMediaType::file ? RedirectType::media", "share", "files redirect as media"),
    M("movie-without-preview", "share/media_items.cc", "} else if (kind != SharedMediaType::video) {",
      "} else if (true) {", "share", "movies handed over without thumbnail or duration"),
    M("failed-copy-not-reported", "share/media_items.cc",
      'self->reportLeftOut(extensionItem, index, itemName, "it could not be copied: " + copied.message());', "",
      "share", "a failed copy is not counted (exit 0 instead of 4)"),
    M("media-error-with-item", "share/media_items.cc", "if (error || !item ||", "if (!item ||",
      "share", "a load that failed with an item is copied"),
    M("text-error-with-item", "share/text_items.cc", "const bool delivered = !error && item &&",
      "const bool delivered = item &&", "share", "a text load that failed is stored"),
    M("link-as-path", "share/text_items.cc", "self->appendText(link.absoluteString(),",
      "self->appendText(link.path(),", "share", "links stored without scheme"),
    M("media-type-file", "share/shared_media_file.cc", "case 2: return SharedMediaType::file;",
      "case 2: return std::nullopt;", "share", "records of files are refused when read"),
    M("json-duration-key", "share/shared_media_file.cc", 'case CodingKeys::duration: return "duration";',
      'case CodingKeys::duration: return "durationMs";', "share", "wrong JSON key"),
    M("json-whole-number", "share/shared_media_file.cc", "if (std::trunc(value) == value &&", "if (false &&",
      "share", "257.0 instead of 257"),
    M("json-backslash", "share/shared_media_file.cc", "c != '\"' && c != '\\\\';", "c != '\"';",
      "share", "a backslash makes the JSON invalid"),
    M("json-separator", "share/shared_media_file.cc", "if (i > 0) out.push_back(',');",
      "if (i > 1) out.push_back(',');", "share", "JSON list without its first comma"),
    M("json-nonfinite", "share/shared_media_file.cc", "if (!std::isfinite(*record.duration)) return false;", "",
      "share", "a NaN duration written as JSON"),
    M("thumbnail-slash", "share/video_preview.cc", "std::replace(name.begin(), name.end(), '/', '_');", "",
      "share", "a thumbnail name with a slash is lost", layer_override=SHARE_REAL_MOVIES),
    M("thumbnail-padding", "share/video_preview.cc", '"==");', '"=");', "share", "wrong thumbnail name"),
    M("duration-rounding", "share/video_preview.cc", "std::round(seconds * 1000.0)", "std::floor(seconds * 1000.0)",
      "share", "duration rounded down"),
    M("kind-order", "share/handed_over_list.cc",
      "{platform::kUTTypeImage, AttachmentKind::image}, {platform::kUTTypeText, AttachmentKind::text},",
      "{platform::kUTTypeText, AttachmentKind::text}, {platform::kUTTypeImage, AttachmentKind::image},",
      "share", "an image that also offers text is shared as text"),
    M("unknown-kind-not-reported", "share/share_view_controller.cc",
      'reportLeftOut(item, index, "", "it is none of the kinds', 'if (false) reportLeftOut(item, index, "", "it is none of the kinds',
      "share", "an attachment of no known kind is dropped silently"),
    M("not-handed-over-inverted", "share/handoff.cc", "if (entry.list != handedOver)", "if (entry.list == handedOver)",
      "share", "wrong items reported as left out"),
    M("error-line", "share/handoff.cc", '"[ERROR] Error loading data!"', '"[ERROR] Error loading data"',
      "share", "the error line changes"),

    # --- platform/: URL, type identifiers -----------------------------------
    M("url-escape-at", "platform/url.cc", "\"!$&'()*+,;=:@/\"", "\"!$&'()*+,;=:/\"", "platform",
      "file URLs escape @ unlike the platform"),
    M("url-remote-host-local", "platform/url.cc",
      '(parts->host.empty() || g_ascii_strcasecmp(parts->host.c_str(), "localhost") == 0)', "true",
      "platform", "a file on another machine is copied as a local path"),
    M("url-space-allowed", "platform/url.cc", "if (c <= 0x20 || c >= 0x7f) return false;",
      "if (c < 0x20 || c >= 0x7f) return false;", "platform", "a text with a blank is taken as a URL"),
    M("url-path-trailing-slash", "platform/url.cc",
      "  while (decoded.size() > 1 && decoded.back() == '/') decoded.pop_back();\n  return decoded;",
      "  return decoded;", "platform", "a folder's path keeps its slash"),
    M("uti-file-url", "platform/type_identifiers.cc", '{"public.file-url", {"public.url"}},',
      '{"public.file-url", {"public.data"}},', "platform", "file URLs no longer conform to public.url"),
    M("uti-mpeg4", "platform/type_identifiers.cc", '{"public.mpeg-4", {"public.movie"}},',
      '{"public.mpeg-4", {"public.data"}},', "platform", "MP4 movies are not movies"),

    # --- platform/linux: the suite's crash safety, copies, the run record ---
    M("file-fsync-before-rename", "platform/linux/files/atomic_write.cc",
      "if (::fsync(fd.get()) != 0) return fail(ErrnoStatus(\"cannot write\", path, errno));", "",
      "files", "a crash leaves a suite name over missing contents"),
    M("suite-folder-fsync", "platform/linux/files/atomic_write.cc",
      "if (options.syncDirectory && ::fsync(dir) != 0)", "if (false && options.syncDirectory && ::fsync(dir) != 0)",
      "files", "a crash loses the suite's new name after the host was opened"),
    M("suite-sync-directory-option", "platform/linux/suite/plist_suite_file.cc", ".syncDirectory = true",
      ".syncDirectory = false", "suite", "the same, from the suite's side"),
    M("record-sync-before-suite", "platform/linux/files/run_journal.cc",
      "if (placedItems_ && ::fdatasync(fd_.get()) != 0) abandonLocked();", "",
      "files", "after a crash the next share removes copies the suite names"),
    M("copy-second-chunk", "platform/linux/files/file_data_copy.cc",
      "        continue;\n      }\n      if (moved == 0) {", "        return Status::OK();\n      }\n      if (moved == 0) {",
      "files", "files over 64 MiB are cut short"),
    M("copy-whole-size-check", "platform/linux/files/file_data_copy.cc",
      "if (st.st_size > 0 && copied == static_cast<std::uint64_t>(st.st_size)) return Status::OK();",
      "if (st.st_size > 0) return Status::OK();", "files", "files over 64 MiB are cut short"),
    M("copy-permissions", "platform/linux/files/file_copier.cc", "if ((permissions & ProcessUmask()) != 0 &&",
      "if (false &&", "files", "copies lose permissions the umask takes"),
    M("flush-forgets-items", "platform/linux/files/posix_file_manager_flush.cc",
      "    written_.insert(paths.begin(), paths.end());\n  }\n  return status;", "  }\n  return status;",
      "files", "a failed flush is followed by one that reports success without flushing"),
    M("copy-ahead-off", "platform/linux/files/posix_file_manager.cc", "if (!options.expectedSources.empty()) {",
      "if (false) {", "files", "no file is copied ahead"),
    M("copy-ahead-no-worker", "platform/linux/files/copy_ahead.cc", "if (UnnamedFilesIn(dir)) addWorker();", "",
      "files", "no file is copied ahead"),
    M("copy-ahead-never-taken", "platform/linux/files/posix_file_manager_placing.cc",
      "if (!copyAhead_ || !UnnamedFilesUsable()) return std::nullopt;", "return std::nullopt;",
      "files", "copies made ahead are thrown away"),
    M("container-dotdot", "platform/linux/files/posix_file_manager.cc", 'groupIdentifier == "." || groupIdentifier == ".." ||',
      'groupIdentifier == "." ||', "files", "an app group .. puts the container outside its folder"),
    M("container-mode", "platform/linux/files/posix_file_manager.cc",
      "if (::chmod(prefix.c_str(), 0700) != 0) return FolderFailure{", "if (false) return FolderFailure{", "files",
      "under a umask that takes the owner's bits, the container cannot be written"),
    M("copy-remote-url", "platform/linux/files/posix_file_manager_placing.cc", "if (!url->isLocalFileURL()) return",
      "if (false) return", "files", "non-local URLs are copied"),
    M("folder-into-itself", "platform/linux/files/file_copier.cc",
      "if (S_ISDIR(opened.st_mode) && LiesWithin(dst.dir, opened)) {", "if (false) {",
      "files", "a folder holding the container is copied into itself without end"),
    M("flush-folders-skipped", "platform/linux/files/posix_file_manager_flush.cc",
      "  if (!files.ok()) return files;\n  return FlushFolders(folders);", "  return files;",
      "files", "folder entries of copies not on disk before the suite"),
    M("syncfs-skipped", "platform/linux/files/posix_file_manager_flush.cc", "if (::syncfs(fd.get()) != 0)", "if (false)",
      "files", "copies not on disk before the suite"),
    M("syncfs-when-busy", "platform/linux/files/posix_file_manager_flush.cc", "kOthersUnwrittenLimit = std::uint64_t{8} << 20",
      "kOthersUnwrittenLimit = std::uint64_t{8} << 40", "files", "a share waits for other programs' data"),
    M("record-not-removed", "platform/linux/files/run_journal.cc",
      "  Clear(entries, /*runDied=*/false, ignored, temporariesMoved_);\n  (void)::unlink(path_.c_str());",
      "  Clear(entries, /*runDied=*/false, ignored, temporariesMoved_);", "files",
      "a finished share leaves its run record"),
    M("sweep-live-runs", "platform/linux/files/run_sweep.cc", "if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {",
      "if (false) {", "files", "a share removes a running share's copies"),
    M("sweep-ignores-failed-rename", "platform/linux/files/run_record.cc",
      "if (renaming && !failed && !Exists(entry.path)) placed.clear();",
      "if (renaming && !Exists(entry.path)) placed.clear();", "files",
      "copies of a share whose suite write failed are kept for ever"),
    M("suite-replace-not-recorded", "platform/linux/files/atomic_write.cc",
      "if (::renameat2(dir, temporaryName.c_str(), dir, name.c_str(), RENAME_NOREPLACE) == 0) return 0;",
      "if (::renameat(dir, temporaryName.c_str(), dir, name.c_str()) == 0) return 0;", "files",
      "a file written over another is removed by a later sweep"),
    M("atomic-write-keeps-mode", "platform/linux/files/atomic_write.cc",
      "(void)::fchmod(fd.get(), previous.st_mode & 07777);", "", "files", "a rewritten file loses its permissions"),
    M("suite-not-set-aside", "platform/linux/suite/plist_user_defaults.cc",
      "if (Status aside = suite.moveAside(); !aside.ok()) return aside;", "", "suite",
      "an unreadable suite is destroyed"),
    M("suite-write-failure-hidden", "platform/linux/suite/plist_user_defaults.cc",
      "if (Status written = writeStaged(); !written.ok()) {", "if (Status written = writeStaged(); false) {", "suite",
      "a suite that cannot be written reports success"),
    M("suite-shared-lock-for-writers", "platform/linux/suite/plist_suite_file.cc",
      "mode == LockMode::shared ? LOCK_SH : LOCK_EX", "LOCK_SH", "suite", "concurrent shares lose payloads"),
    M("suite-top-level-dict", "platform/linux/suite/plist_suite_file.cc",
      "if (plist_get_node_type(parsed) != PLIST_DICT) {", "if (false) {", "suite",
      "a suite that is not a dictionary is written into"),
    M("suite-name-dotdot", "platform/linux/suite/plist_suite_file.cc", 'name != "." && name != ".." &&',
      'name != "." &&', "suite", "a suite name .. writes outside the configuration folder"),

    # --- app/: exit statuses, the command line ------------------------------
    M("exit-items-left-out", "app/extension_host.cc", "return report->itemsLeftOut() > 0 ? kItemsLeftOut : kHandedOver;",
      "return kHandedOver;", "app", "exit 0 when items were left out"),
    M("exit-alert", "app/extension_host.cc", "if (alerts->presented() > 0) return kErrorAlertShown;", "",
      "app", "exit 0 after the error alert"),
    M("exit-never-completed", "app/extension_host.cc", "if (context->completions() == 0) return kNeverCompleted;", "",
      "app", "exit 0 when nothing completed the request"),
    M("exit-usage-value", "app/exit_status.h", "kUsageError = 2,", "kUsageError = 1,", "app",
      "usage errors exit like error alerts"),
    M("text-utf8-check", "app/command_line.cc", "if (!g_utf8_validate(", "if (false && !g_utf8_validate(",
      "app", "text that is not UTF-8 is stored"),
    M("folder-url-slash", "app/command_line.cc",
      "const bool isDirectory = ::stat(absolute.c_str(), &st) == 0 && S_ISDIR(st.st_mode);",
      "const bool isDirectory = false;", "app", "a folder's URL lacks its slash"),
    M("remote-file-argument", "app/command_line.cc", "if (!url->isLocalFileURL()) return Usage::InvalidArgument(",
      "if (false) return Usage::InvalidArgument(", "app", "a file URL of another machine is shared as a local path"),
    M("relative-path-made-absolute", "app/command_line.cc", "if (path.front() != '/') {", "if (false) {", "app",
      "a relative path is shared from the wrong folder",
      equivalent="URL::fileURLWithPath puts the current folder before a relative path itself: same URL"),
    M("copy-ahead-off-in-app", "app/extension_host.cc", "journal, std::move(plan.sources),", "journal, std::vector<std::string>{},",
      "app", "no file is copied ahead",
      equivalent="only a speed-up: the files are then copied by the share itself, the same bytes under the same "
                 "names (the benchmark shows it; the file manager's own test checks a copy is made ahead)"),

    # --- receive/: the host's side ------------------------------------------
    M("receive-deliver-ignored", "receive/receiver.cc", "if (options.deliver && !options.deliver(receipt)) {",
      "if (options.deliver && (options.deliver(receipt), false)) {", "receive",
      "--take removes a payload that was never handed on"),
    M("receive-take-shared-lock", "receive/receiver.cc",
      "options.take ? lp::PlistSuiteFile::LockMode::exclusive : lp::PlistSuiteFile::LockMode::shared",
      "lp::PlistSuiteFile::LockMode::shared", "receive", "two takes both get one payload"),
    M("receive-take-keeps", "receive/receiver.cc", "plist_dict_remove_item(root->get(), kSharedKey.c_str());", "",
      "receive", "a taken payload is imported again"),
    M("receive-outside-container", "receive/payload_reading.cc", '*relative.begin() != "..";', "true;",
      "receive", "records outside the container are accepted"),
    M("receive-link-out", "receive/payload_reading.cc",
      'if (!IsBelow(realFile, realContainer)) return "outside the container";', "", "receive",
      "a link inside the container leads out of it"),
    M("receive-remote-host", "receive/payload_reading.cc", 'if (!url->isLocalFileURL()) return "not a local file URL";', "",
      "receive", "a record of another machine's file is accepted"),
    M("receive-output-failure", "receive/main.cc",
      "return std::fwrite(out.data(), 1, out.size(), stdout) == out.size() && std::fflush(stdout) == 0;",
      "(void)std::fwrite(out.data(), 1, out.size(), stdout);\n    return true;", "receive",
      "--take removes a payload it could not print"),
    M("receive-nothing-status", "receive/main.cc", "platform::OneLine(group).c_str());\n      return 3;", "platform::OneLine(group).c_str());\n      return 0;",
      "receive", "an empty suite exits as if a payload was read"),
    M("receive-c-take", "receive/c_api.cc", "options.take = take != 0;", "options.take = false;", "receive",
      "the C API never takes"),
]

BACKUP_DIR_NAME = "mutation-backup"


def pattern_count(m):
    path = ROOT / m.file
    return path.read_text().count(m.find) if path.exists() else 0


def kill_group(proc):
    """Ends the command and whatever it started (its own session)."""
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    proc.wait()


def run(cmd, cwd, timeout, log):
    """Runs `cmd`; its exit status, or None on timeout. Output goes to `log`."""
    started = time.monotonic()
    with subprocess.Popen(cmd, cwd=cwd, stdout=log, stderr=subprocess.STDOUT, start_new_session=True) as proc:
        try:
            status = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            kill_group(proc)
            status = None
        except BaseException:
            kill_group(proc)
            raise
    log.write(f"\n[{' '.join(cmd)}: {status} in {time.monotonic() - started:.0f} s]\n".encode())
    log.flush()
    return status


class Applied:
    """The mutant in the source for the length of a `with`; the original text
    is back afterwards whatever happens, and a copy waits in the build folder
    in case this process is killed outright."""

    def __init__(self, path, original, mutated, backup_dir):
        self.path, self.original, self.mutated = path, original, mutated
        self.backup = backup_dir / (str(path.relative_to(ROOT)).replace("/", "__"))

    def __enter__(self):
        self.backup.parent.mkdir(parents=True, exist_ok=True)
        self.backup.write_bytes(self.original)
        self.path.write_bytes(self.mutated)
        return self

    def __exit__(self, *exc):
        self.path.write_bytes(self.original)
        self.backup.unlink(missing_ok=True)
        return False


def restore_left_behind(backup_dir):
    """Puts back any source a killed earlier run left mutated."""
    if not backup_dir.is_dir():
        return
    for backup in backup_dir.iterdir():
        path = ROOT / backup.name.replace("__", "/")
        print(f"restoring {path.relative_to(ROOT)}, left mutated by an earlier run", flush=True)
        path.write_bytes(backup.read_bytes())
        backup.unlink()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=str(ROOT / "build"))
    parser.add_argument("--only", help="comma-separated mutant ids")
    parser.add_argument("--layer", choices=sorted(LAYERS))
    parser.add_argument("--list", action="store_true", help="print the table and stop")
    parser.add_argument("--run-equivalent", action="store_true", help="also run the mutants marked equivalent")
    parser.add_argument("--jobs", "-j", default="2", help="ninja's -j (default 2)")
    parser.add_argument("--build-timeout", type=int, default=1200)
    parser.add_argument("--test-timeout", type=int, default=900)
    parser.add_argument("--log", help="where the build and test output goes (default BUILD/mutation.log)")
    args = parser.parse_args()

    ids = [m.id for m in MUTANTS]
    duplicates = {i for i in ids if ids.count(i) > 1}
    if duplicates:
        sys.exit(f"mutate: duplicate ids {sorted(duplicates)}")
    chosen = MUTANTS
    if args.only:
        wanted = args.only.split(",")
        unknown = set(wanted) - set(ids)
        if unknown:
            sys.exit(f"mutate: no mutant called {', '.join(sorted(unknown))}")
        chosen = [m for m in MUTANTS if m.id in wanted]
    if args.layer:
        chosen = [m for m in chosen if m.layer == args.layer]
    if args.list:
        missing = 0
        for m in chosen:
            flag = f"  [equivalent: {m.equivalent}]" if m.equivalent else ""
            found = pattern_count(m)
            state = "" if found == 1 else "  [pattern not found]" if found == 0 else f"  [pattern found {found} times]"
            missing += found != 1
            print(f"{m.id:36} {m.layer:8} {m.file}: {m.why}{flag}{state}")
        print(f"{len(chosen)} mutants, {missing} whose pattern does not match exactly once")
        return 0

    build = Path(args.build_dir).resolve()
    if not (build / "build.ninja").exists():
        sys.exit(f"mutate: {build} is not a configured build folder (run scripts/setup.sh)")
    backup_dir = build / BACKUP_DIR_NAME
    log_path = Path(args.log) if args.log else build / "mutation.log"
    # SIGTERM and SIGHUP end the run as Ctrl-C does: through the reverts
    # (unless ignored, as under nohup).
    for sig in (signal.SIGTERM, signal.SIGHUP):
        if signal.getsignal(sig) != signal.SIG_IGN:
            signal.signal(sig, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt()))
    restore_left_behind(backup_dir)

    results = []
    started = time.monotonic()
    interrupted = False
    with open(log_path, "wb") as log:
        try:
            for n, m in enumerate(chosen, 1):
                label = f"[{n}/{len(chosen)}] {m.id} ({m.file})"
                if m.equivalent and not args.run_equivalent:
                    results.append((m, "equivalent", 0.0))
                    print(f"{label}: equivalent, not run: {m.equivalent}", flush=True)
                    continue
                path = ROOT / m.file
                original = path.read_bytes() if path.exists() else None
                count = pattern_count(m)
                if count != 1:
                    why = "pattern not found" if count == 0 else f"pattern found {count} times (must be once)"
                    results.append((m, why, 0.0))
                    print(f"{label}: {why}", flush=True)
                    continue
                mutated = original.decode().replace(m.find, m.replace).encode()
                targets, tests = m.layer_override or LAYERS[m.layer]
                t0 = time.monotonic()
                log.write(f"\n===== {m.id}: {m.file}\n".encode())
                log.flush()
                with Applied(path, original, mutated, backup_dir):
                    built = run(["ninja", "-j", args.jobs] + targets, build, args.build_timeout, log)
                    if built != 0:
                        outcome = "build failed" if built is not None else "build timed out"
                    else:
                        outcome = "survived"
                        for cmd in tests:
                            status = run(cmd, build, args.test_timeout, log)
                            if status != 0:
                                outcome = "killed" + (" (timeout)" if status is None else "")
                                break
                elapsed = time.monotonic() - t0
                results.append((m, outcome, elapsed))
                print(f"{label}: {outcome} in {elapsed:.0f} s", flush=True)
        except KeyboardInterrupt:
            interrupted = True
            print("\nmutate: interrupted; the source is as it was", flush=True)
        # The build folder holds the real program again.
        print("rebuilding the unmutated code ...", flush=True)
        run(["ninja", "-j", args.jobs], build, args.build_timeout, log)

    total = time.monotonic() - started
    counts = {}
    for _, outcome, _ in results:
        key = "killed" if outcome.startswith("killed") else outcome
        counts[key] = counts.get(key, 0) + 1
    killed, survived = counts.get("killed", 0), counts.get("survived", 0)
    print("\nSurvived:" if survived else "\nNo mutant survived.")
    for m, outcome, _ in results:
        if outcome == "survived":
            print(f"  {m.id} ({m.file}): {m.why}")
    not_found = [m for m, outcome, _ in results if outcome.startswith("pattern")]
    if not_found:
        print("Patterns to bring up to date:")
        for m in not_found:
            print(f"  {m.id} ({m.file})")
    print(f"\nmutants {len(results)}{' (interrupted)' if interrupted else ''}: killed {killed}, survived {survived}, "
          f"equivalent {counts.get('equivalent', 0)}, build failed {counts.get('build failed', 0)}, "
          f"pattern not found {len(not_found)}")
    if killed + survived:
        print(f"score: {killed}/{killed + survived} = {100.0 * killed / (killed + survived):.1f}% "
              f"of the non-equivalent mutants killed")
    print(f"time: {total / 60:.1f} min (log: {log_path})")
    return 1 if interrupted else 0


if __name__ == "__main__":
    sys.exit(main())
