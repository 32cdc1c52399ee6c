#include "platform/linux/files/run_sweep.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/base/file_tree.h"
#include "platform/linux/files/run_record.h"

namespace platform::linux_platform {
namespace {

using run_record::Clear;
using run_record::Entry;
using run_record::ReadRecord;

// The real path of `path`, with "..", "." and links resolved; none when some
// part of it does not exist.
std::optional<std::string> RealPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::nullopt;
  std::string text(resolved);
  std::free(resolved);
  return text;
}

bool IsLettersAndDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

// The hidden names the program gives its temporaries in the container: a
// copy's ".incoming-<UUID>", or a written file's ".<name>.<random>".
bool IsTemporaryName(const std::string& name) {
  if (name.starts_with(".incoming-")) return name.size() > 10;
  const std::size_t dot = name.rfind('.');
  return name.size() > 1 && name[0] == '.' && dot > 1 && IsLettersAndDigits(std::string_view(name).substr(dot + 1));
}

// ".<name>.old-<...>": an item moved aside while its place was taken.
bool IsAsideName(const std::string& name) { return name.size() > 1 && name[0] == '.' && name.find(".old-", 1) != std::string::npos; }

// A folder a record's lines may name items in: as configured, and resolved.
struct Place {
  std::string configured;
  std::optional<std::string> resolved;
};

// Where a line's path leads. `inPlace`: the item directly in the place, its
// folder resolved (".." and links); `nowhere`: the place itself does not
// exist, so neither does anything in it.
struct Resolved {
  bool inPlace = false;
  bool nowhere = false;
  std::string path;
  std::string name;
};

Resolved ResolveIn(const std::string& path, const Place& place) {
  Resolved result;
  const std::size_t slash = path.rfind('/');
  if (path.empty() || path.front() != '/' || slash == std::string::npos) return result;
  result.name = path.substr(slash + 1);
  if (result.name.empty() || result.name == "." || result.name == "..") return result;
  const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  if (!place.resolved) {
    result.nowhere = folder == place.configured;
    return result;
  }
  const std::optional<std::string> real = RealPath(folder);
  if (!real || *real != *place.resolved) return result;
  result.inPlace = true;
  result.path = JoinPath(*real, result.name);
  return result;
}

// What a sweep may act on of a dead run's record, every path in its resolved
// form; the lines that name anything a share cannot have made are counted
// and left out. Lines about a place that no longer exists are dropped quietly.
std::vector<Entry> TrustedEntries(const std::vector<Entry>& entries, const Place& container, const Place& suiteFolder,
                                  const std::string& suiteFile, SweepReport& report) {
  std::vector<Entry> trusted;
  for (const Entry& entry : entries) {
    Entry checked = entry;
    bool ok = false;
    bool nowhere = false;
    switch (entry.kind) {
      case 'W':
      case 'U':
        ok = true;
        break;
      case 'T': {
        const Resolved r = ResolveIn(entry.path, container);
        ok = r.inPlace && IsTemporaryName(r.name);
        nowhere = r.nowhere;
        checked.path = r.path;
        break;
      }
      case 'S': {
        const Resolved r = ResolveIn(entry.path, suiteFolder);
        const std::string prefix = "." + suiteFile + ".";
        ok = r.inPlace && r.name.size() > prefix.size() && r.name.starts_with(prefix);
        nowhere = r.nowhere;
        checked.path = r.path;
        break;
      }
      case 'N':
      case 'R': {
        const Resolved r = ResolveIn(entry.path, container);
        ok = r.inPlace;
        nowhere = r.nowhere;
        checked.path = r.path;
        break;
      }
      case 'A': {
        const Resolved aside = ResolveIn(entry.path, container);
        const Resolved original = ResolveIn(entry.other, container);
        ok = aside.inPlace && IsAsideName(aside.name) && original.inPlace;
        nowhere = aside.nowhere && original.nowhere;
        checked.path = aside.path;
        checked.other = original.path;
        break;
      }
      default:
        break;
    }
    if (ok) {
      trusted.push_back(std::move(checked));
    } else if (!nowhere) {
      if (report.linesSkipped++ == 0) {
        report.firstSkipped = std::string(1, entry.kind) + " " + entry.path + (entry.kind == 'A' ? " -> " + entry.other : "");
      }
    }
  }
  return trusted;
}

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

}  // namespace

SweepReport SweepDeadRuns(const std::string& stateDir, const SweepScope& scope) {
  SweepReport report;
  const std::string runs = JoinPath(stateDir, "runs");
  // The folder checked is the one opened: a link there is not followed, and
  // a folder swapped in afterwards is not the one read.
  UniqueFd dir(::open(runs.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir.valid()) {
    if (errno == ELOOP || errno == ENOTDIR) report.refused = runs + " is not a folder (a link, or a file)";
    return report;
  }
  struct stat folder {};
  if (::fstat(dir.get(), &folder) != 0) return report;
  if (folder.st_uid != ::geteuid()) {
    report.refused = runs + " belongs to another user (uid " + std::to_string(folder.st_uid) + ")";
    return report;
  }
  if ((folder.st_mode & 022) != 0) {
    report.refused = runs + " can be written by group or others (mode " + ModeText(folder.st_mode) + ", not 0700)";
    return report;
  }
  StatusOr<std::vector<std::string>> names = ListDirectory(dir.get(), runs);
  if (!names.ok()) return report;
  const Place container{scope.container, RealPath(scope.container)};
  const Place suiteFolder{scope.suiteFolder, RealPath(scope.suiteFolder)};

  for (const std::string& name : *names) {
    if (name.empty() || name[0] == '.') continue;
    UniqueFd fd(::openat(dir.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) continue;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      ++report.liveRuns;
      continue;
    }
    // Still the record under this name, not one another sweep has just
    // cleared and unlinked?
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_nlink == 0 ||
        ::fstatat(dir.get(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        named.st_ino != opened.st_ino || named.st_dev != opened.st_dev) {
      continue;
    }
    if (opened.st_uid != ::geteuid()) {
      ++report.recordsRefused;
      continue;
    }
    const auto entries = ReadRecord(fd.get());
    if (!entries) continue;
    Clear(TrustedEntries(*entries, container, suiteFolder, scope.suiteFile, report), /*runDied=*/true, report);
    if (::unlinkat(dir.get(), name.c_str(), 0) == 0) ++report.deadRuns;
  }
  return report;
}

}  // namespace platform::linux_platform
