#include "platform/linux/files/run_journal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/base/file_tree.h"
#include "platform/linux/base/file_writing.h"
#include "platform/linux/base/xdg_dirs.h"

namespace platform::linux_platform {
namespace {

// First line of every record; a record without it is one whose run is still
// between creating and locking it.
constexpr std::string_view kHeader = "halvernsignet-share run 1\n";

// A record line holds its path last; these three characters would end or
// split it, so they are escaped.
std::string Escape(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    out += next == 'n' ? '\n' : next == 't' ? '\t' : next;
  }
  return out;
}

std::string IdentityText(const ItemIdentity& id) {
  return std::to_string(id.device) + " " + std::to_string(id.inode) + " " +
         std::to_string(id.modifiedSeconds) + " " + std::to_string(id.modifiedNanoseconds);
}

std::string RandomHex(std::size_t bytes) {
  std::vector<unsigned char> random(bytes);
  std::size_t got = 0;
  while (got < bytes) {
    const ssize_t n = ::getrandom(random.data() + got, bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {};
    }
    got += static_cast<std::size_t>(n);
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char b : random) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

// Writes the whole of `text`; one write for a record line, which O_APPEND
// puts whole at the end.
bool WriteText(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t put = ::write(fd, text.data(), text.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

bool MakeDirectories(const std::string& path) {
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string prefix = path.substr(0, end);
    if (!prefix.empty() && ::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (end == std::string::npos) break;
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Temporaries and aside names are hidden names under an absolute path; an
// entry that names anything else is not one this program wrote.
bool IsOwnHiddenName(const std::string& path) {
  return !path.empty() && path.front() == '/' && BaseName(path).size() > 1 && BaseName(path)[0] == '.';
}

// One parsed record line.
struct Entry {
  char kind = 0;
  std::string path;
  std::string other;  // "A": the original name
  ItemIdentity identity;
};

std::optional<Entry> ParseLine(std::string_view line) {
  if (line.size() < 1) return std::nullopt;
  Entry entry;
  entry.kind = line[0];
  if (entry.kind == 'W' || entry.kind == 'U') return entry;
  if (line.size() < 3 || line[1] != ' ') return std::nullopt;
  std::string_view rest = line.substr(2);
  switch (entry.kind) {
    case 'T':
    case 'S':
      entry.path = Unescape(rest);
      return entry;
    case 'A': {
      const auto tab = rest.find('\t');
      if (tab == std::string_view::npos) return std::nullopt;
      entry.path = Unescape(rest.substr(0, tab));
      entry.other = Unescape(rest.substr(tab + 1));
      return entry;
    }
    case 'N':
    case 'R': {
      std::int64_t numbers[4];
      for (std::int64_t& number : numbers) {
        const auto space = rest.find(' ');
        if (space == std::string_view::npos) return std::nullopt;
        const std::string digits(rest.substr(0, space));
        char* end = nullptr;
        errno = 0;
        number = std::strtoll(digits.c_str(), &end, 10);
        if (digits.empty() || *end != '\0' || errno != 0) return std::nullopt;
        rest = rest.substr(space + 1);
      }
      entry.identity = {static_cast<std::uint64_t>(numbers[0]), static_cast<std::uint64_t>(numbers[1]),
                        numbers[2], numbers[3]};
      entry.path = Unescape(rest);
      return entry;
    }
    default:
      return std::nullopt;
  }
}

// The record's entries; none when it lacks its header. A last line without
// its line feed was cut short by the run's end and is ignored.
std::optional<std::vector<Entry>> ReadRecord(int fd) {
  std::string text;
  char buffer[16384];
  for (off_t offset = 0;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    offset += n;
  }
  if (!text.starts_with(kHeader)) return std::nullopt;
  std::vector<Entry> entries;
  for (std::size_t start = kHeader.size();;) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;
    if (auto entry = ParseLine(std::string_view(text).substr(start, end - start))) {
      entries.push_back(std::move(*entry));
    }
    start = end + 1;
  }
  return entries;
}

// Removes the item at `path` if it is still the one `identity` describes.
bool RemoveIfSame(const std::string& path, const ItemIdentity& identity, SweepReport& report) {
  StatusOr<ParentAndName> item = OpenParent(path);
  ItemIdentity now;
  if (!item.ok() || !IdentityAt(item->parent.get(), item->name, now) || !(now == identity)) return false;
  if (RemoveTreeAt(item->parent.get(), item->name, path).ok()) {
    ++report.itemsRemoved;
    return true;
  }
  ++report.failures;
  return false;
}

void RemoveIfPresent(const std::string& path, SweepReport& report) {
  if (!IsOwnHiddenName(path) || !Exists(path)) return;
  StatusOr<ParentAndName> item = OpenParent(path);
  if (item.ok() && RemoveTreeAt(item->parent.get(), item->name, path).ok()) {
    ++report.itemsRemoved;
  } else if (Exists(path)) {
    ++report.failures;
  }
}

// Puts an item that was moved aside back under its name, unless that name
// has been filled since (then the aside item was replaced, and goes).
void SettleAside(const std::string& aside, const std::string& original, SweepReport& report) {
  if (!IsOwnHiddenName(aside) || original.empty() || original.front() != '/' || !Exists(aside)) return;
  if (::renameat2(AT_FDCWD, aside.c_str(), AT_FDCWD, original.c_str(), RENAME_NOREPLACE) == 0) {
    ++report.itemsRestored;
    return;
  }
  if ((errno == EINVAL || errno == ENOSYS) && !Exists(original) &&
      ::rename(aside.c_str(), original.c_str()) == 0) {
    ++report.itemsRestored;
    return;
  }
  RemoveIfPresent(aside, report);
}

// Clears what a record names. `runDied`: the run ended without finishing, so
// the new items it placed are removed unless its suite may name them; a run
// that finished keeps them.
void Clear(const std::vector<Entry>& entries, bool runDied, SweepReport& report,
           const std::unordered_set<std::string>& knownGone = {}) {
  std::vector<const Entry*> placed;  // new items no written suite can name
  std::set<std::pair<std::string, std::string>> replaced;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& entry = entries[i];
    if (entry.kind == 'N') placed.push_back(&entry);
    if (entry.kind == 'R') replaced.emplace(entry.path, IdentityText(entry.identity));
    if (entry.kind != 'S') continue;
    // Once the rename was under way and the suite's temporary is gone, the
    // suite may name everything placed before.
    bool renaming = false;
    bool failed = false;
    for (std::size_t j = i + 1; j < entries.size() && entries[j].kind != 'S'; ++j) {
      renaming = renaming || entries[j].kind == 'W';
      failed = failed || entries[j].kind == 'U';
    }
    if (renaming && !failed && !Exists(entry.path)) placed.clear();
  }
  // New items first, temporaries last: should this sweep itself be cut short,
  // the next one still finds the suite's temporary and judges the same way.
  if (runDied) {
    for (const Entry* entry : placed) {
      if (replaced.contains({entry->path, IdentityText(entry->identity)})) continue;
      RemoveIfSame(entry->path, entry->identity, report);
    }
  }
  for (const Entry& entry : entries) {
    if (entry.kind == 'A') SettleAside(entry.path, entry.other, report);
  }
  for (const Entry& entry : entries) {
    if (entry.kind == 'S' || (entry.kind == 'T' && !knownGone.contains(entry.path))) {
      RemoveIfPresent(entry.path, report);
    }
  }
}

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

// Removes the new items a record names that `kept` does not, while each is
// still the item placed; an item that replaced one of its name stays.
void RemoveUnnamed(const std::vector<Entry>& entries, const std::unordered_set<std::string>& kept,
                   SweepReport& report) {
  std::set<std::pair<std::string, std::string>> replaced;
  for (const Entry& entry : entries) {
    if (entry.kind == 'R') replaced.emplace(entry.path, IdentityText(entry.identity));
  }
  for (const Entry& entry : entries) {
    if (entry.kind != 'N' || kept.contains(entry.path)) continue;
    if (replaced.contains({entry.path, IdentityText(entry.identity)})) continue;
    RemoveIfSame(entry.path, entry.identity, report);
  }
}

}  // namespace

ItemIdentity IdentityOf(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
          static_cast<std::int64_t>(st.st_mtim.tv_sec), static_cast<std::int64_t>(st.st_mtim.tv_nsec)};
}

bool IdentityAt(int dirFd, const std::string& name, ItemIdentity& identity) {
  struct stat st {};
  if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  identity = IdentityOf(st);
  return true;
}

std::unique_ptr<RunJournal> RunJournal::Start(const std::string& stateDir) {
  const std::string runs = JoinPath(stateDir, "runs");
  if (stateDir.empty() || stateDir.front() != '/' || !MakeDirectories(runs)) return nullptr;
  UniqueFd dir(::open(runs.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const std::string name = RandomHex(16);
  if (!dir.valid() || name.empty()) return nullptr;
  const std::string path = JoinPath(runs, name);

  // Made without a name, locked, and only then linked in: no sweep can ever
  // see this record unlocked while the run lives.
  UniqueFd fd(::openat(dir.get(), ".", O_TMPFILE | O_RDWR | O_APPEND | O_CLOEXEC, 0600));
  if (fd.valid()) {
    if (::flock(fd.get(), LOCK_EX) != 0 || !WriteText(fd.get(), kHeader) ||
        LinkUnnamedFile(fd.get(), dir.get(), name) != 0) {
      fd.reset();
    }
  }
  if (!fd.valid()) {
    // No unnamed files here: create, lock, then write the header. A sweep
    // that comes in between finds no header and leaves the record alone.
    fd = UniqueFd(::openat(dir.get(), name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_APPEND | O_CLOEXEC, 0600));
    if (!fd.valid()) return nullptr;
    if (::flock(fd.get(), LOCK_EX) != 0 || !WriteText(fd.get(), kHeader)) {
      (void)::unlinkat(dir.get(), name.c_str(), 0);
      return nullptr;
    }
  }
  return std::unique_ptr<RunJournal>(new RunJournal(std::move(fd), path));
}

int RunJournal::finish(const std::optional<std::unordered_set<std::string>>& kept) {
  std::lock_guard lock(mutex_);
  if (abandoned_) return 0;
  abandoned_ = true;
  finished_ = true;
  // The new items no payload names go (the record is read back only when
  // there are any).
  SweepReport unnamed;
  if (kept && std::any_of(placedPaths_.begin(), placedPaths_.end(),
                          [&](const std::string& path) { return !kept->contains(path); })) {
    if (const auto entries = ReadRecord(fd_.get())) RemoveUnnamed(*entries, *kept, unnamed);
  }
  // Whatever temporaries are still there go; the other items placed stay.
  std::vector<Entry> entries;
  for (std::size_t start = 0, end; (end = finishLines_.find('\n', start)) != std::string::npos; start = end + 1) {
    if (auto entry = ParseLine(std::string_view(finishLines_).substr(start, end - start))) {
      entries.push_back(std::move(*entry));
    }
  }
  SweepReport ignored;
  Clear(entries, /*runDied=*/false, ignored, temporariesMoved_);
  (void)::unlink(path_.c_str());
  return unnamed.itemsRemoved;
}

RunJournal::StopOutcome RunJournal::stop() {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  // A rename under way is let through: its outcome decides.
  changed_.wait(lock, [this] { return !renameUnderWay_; });
  if (finished_) return StopOutcome::kNotRunning;
  if (suiteRenamed_) {
    stopping_ = false;
    changed_.notify_all();
    return StopOutcome::kHandedOver;
  }
  if (abandoned_) return StopOutcome::kNotRunning;
  abandoned_ = true;
  // Every thread that would make something now waits at its next line, but
  // one may have written its line and not yet made the item: a second pass,
  // a moment later, finds it (further passes only while something resists).
  for (int pass = 0; pass < 5; ++pass) {
    if (pass > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto entries = ReadRecord(fd_.get());
    if (!entries) break;
    SweepReport report;
    Clear(*entries, /*runDied=*/true, report);
    if (pass > 0 && report.failures == 0) break;
  }
  (void)::unlink(path_.c_str());
  return StopOutcome::kRolledBack;
}

void RunJournal::waitWhileStopping(std::unique_lock<std::mutex>& lock) {
  changed_.wait(lock, [this] { return !stopping_; });
}

void RunJournal::append(const std::string& line) {
  std::unique_lock lock(mutex_);
  waitWhileStopping(lock);
  if (abandoned_) return;
  if (!WriteText(fd_.get(), line)) {
    abandonLocked();
    return;
  }
  // The kinds of line Clear() acts on when the run finished.
  if (line[0] == 'T' || line[0] == 'A' || line[0] == 'S') finishLines_ += line;
}

void RunJournal::abandonLocked() {
  // A record that may be missing lines could misjudge; without it the run's
  // leftovers merely stay.
  abandoned_ = true;
  (void)::unlink(path_.c_str());
}

void RunJournal::willCreateTemporary(const std::string& path) { append("T " + Escape(path) + "\n"); }

void RunJournal::temporaryMoved(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (!abandoned_) temporariesMoved_.insert(path);
}

void RunJournal::willMoveAside(const std::string& aside, const std::string& original) {
  append("A " + Escape(aside) + "\t" + Escape(original) + "\n");
}

void RunJournal::willPlaceNewItem(const std::string& path, const ItemIdentity& identity) {
  append("N " + IdentityText(identity) + " " + Escape(path) + "\n");
  std::lock_guard lock(mutex_);
  placedItems_ = true;
  if (!abandoned_) placedPaths_.push_back(path);
}

void RunJournal::willReplaceItem(const std::string& path, const ItemIdentity& identity) {
  append("R " + IdentityText(identity) + " " + Escape(path) + "\n");
}

void RunJournal::willWriteSuite(const std::string& path) { append("S " + Escape(path) + "\n"); }

void RunJournal::willRenameSuite() {
  std::unique_lock lock(mutex_);
  waitWhileStopping(lock);
  renameUnderWay_ = true;
  if (abandoned_) return;
  if (!WriteText(fd_.get(), "W\n")) {
    abandonLocked();
    return;
  }
  // Should the machine stop after the suite's rename reached the disk, this
  // entry must have too, or its absence would send the placed items away.
  if (placedItems_ && ::fdatasync(fd_.get()) != 0) abandonLocked();
}

void RunJournal::suiteRenameFailed() {
  std::lock_guard lock(mutex_);
  // Written even while stopping: stop() waits for it.
  if (!abandoned_ && !WriteText(fd_.get(), "U\n")) abandonLocked();
  renameUnderWay_ = false;
  changed_.notify_all();
}

void RunJournal::suiteRenamed() {
  std::lock_guard lock(mutex_);
  renameUnderWay_ = false;
  suiteRenamed_ = true;
  changed_.notify_all();
}

bool RunJournal::suiteWasRenamed() {
  std::lock_guard lock(mutex_);
  return suiteRenamed_;
}

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

std::string DefaultStateDirectory() { return JoinPath(DefaultStateHome(), "halvernsignet-share"); }

}  // namespace platform::linux_platform
