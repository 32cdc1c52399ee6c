#include "platform/linux/files/run_journal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/base/file_tree.h"
#include "platform/linux/base/file_writing.h"
#include "platform/linux/base/xdg_dirs.h"
#include "platform/linux/files/run_record.h"

namespace platform::linux_platform {
namespace {

using run_record::Clear;
using run_record::Entry;
using run_record::Escape;
using run_record::IdentityText;
using run_record::kHeader;
using run_record::ParseLine;
using run_record::ReadRecord;
using run_record::RemoveUnnamed;
using run_record::WriteText;

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

bool MakeDirectories(const std::string& path) {
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string prefix = path.substr(0, end);
    if (!prefix.empty() && ::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (end == std::string::npos) break;
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

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

std::string DefaultStateDirectory() { return JoinPath(DefaultStateHome(), "halvernsignet-share"); }

}  // namespace platform::linux_platform
