#pragma once

#include <condition_variable>
#include <cstdint>
#include <optional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>

#include "platform/linux/base/unique_fd.h"
#include "platform/linux/files/item_identity.h"

namespace platform::linux_platform {

// What one share run has put into the container and beside the suite, written
// down before it is made, so that whatever a run that dies leaves behind can
// be found and removed by a later run, and nothing else.
//
// Each run has a record file in <stateDir>/runs/, created already locked
// (flock) and locked for the run's whole life. The kernel drops the lock when
// the process ends, however it ends, and nothing else ever holds it: a record
// whose lock can be taken belongs to a run that is certainly over. The sweep
// (SweepDeadRuns, run_sweep.h) removes only what such records name.
//
// The record is append-only text, one entry per line. A run that ends
// normally removes its record: everything it made is then either gone or
// kept for good. If the record cannot be written, the run drops it (its
// leftovers would then stay, but nothing of anyone else's is ever at risk).
//
// Safe to call from several threads at once.
class RunJournal {
 public:
  // Starts this run's record in <stateDir>/runs/ (made 0700 when missing).
  // None when it cannot be made; the run then goes on without one.
  static std::unique_ptr<RunJournal> Start(const std::string& stateDir);
  // Ends the run normally (once every load has delivered): removes the
  // temporaries still there and the record. Of the new items placed, keeps
  // those whose path `kept` holds, and removes the others while they are
  // still the items placed (the payload names them not, so nobody would);
  // without `kept`, keeps them all. Items that replaced one of their name
  // stay. Nothing is recorded afterwards. Returns how many new items went.
  int finish(const std::optional<std::unordered_set<std::string>>& kept = std::nullopt);
  ~RunJournal() { (void)finish(); }

  // How a run that is stopped midway ends.
  enum class StopOutcome {
    kRolledBack,   // everything it made is gone, and its record
    kHandedOver,   // the suite already holds its whole payload: the run goes on to its end
    kNotRunning,   // the run had already finished (nothing left to do), or its record was dropped
  };
  // Stops the run from any thread: waits for a rename of the suite under
  // way, and unless the suite was renamed, makes every thread that is about
  // to create something wait for good, and removes what the run made (new
  // items, temporaries; items moved aside go back) and its record. The
  // caller then ends the process. Called once.
  StopOutcome stop();
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // Before a temporary item is created at `path`, under a name only this run
  // uses (it starts with "."). Left by a dead run, it is removed whole.
  void willCreateTemporary(const std::string& path);

  // Before the item at `original` is moved aside to `aside` (a name starting
  // with "."). Left by a dead run, it goes back to `original` when that name
  // is empty, and is removed otherwise.
  void willMoveAside(const std::string& aside, const std::string& original);

  // Before the item `identity` is moved to `path`, a name that was empty. If
  // the run dies before its suite is written, the sweep removes the item at
  // `path`, but only while it is still this very item.
  void willPlaceNewItem(const std::string& path, const ItemIdentity& identity);

  // The item `identity` is about to replace something already at `path`
  // (after willPlaceNewItem for it found the name taken). The sweep keeps it:
  // the name was in use before this run, by a share that may have named it.
  void willReplaceItem(const std::string& path, const ItemIdentity& identity);

  // The temporary at `path` was moved into place (its name is empty again):
  // finish() need not look for it. Nothing is written; a sweep after a crash
  // still looks.
  void temporaryMoved(const std::string& path);

  // Before the suite's new contents are created at the temporary `path`,
  // which is later renamed over the suite.
  void willWriteSuite(const std::string& path);

  // Before that temporary, complete, is renamed over the suite. From here
  // on, whether the temporary still exists tells the sweep whether the rename
  // happened: if it did, a payload may name the items placed so far, and they
  // are kept. Makes the record durable when it names placed items, so that
  // it reaches the disk before the rename does.
  void willRenameSuite();

  // The rename announced by willRenameSuite failed (the temporary is about to
  // be removed): the items placed so far are named by no payload.
  void suiteRenameFailed();

  // The rename announced by willRenameSuite happened: the suite holds the
  // new payload. Nothing is written.
  void suiteRenamed();
  // Whether a suite this run wrote was renamed into place.
  bool suiteWasRenamed();

  const std::string& recordPath() const { return path_; }

 private:
  RunJournal(UniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}
  void append(const std::string& line);
  void abandonLocked();
  // Blocks, for good, a thread that would record something after stop().
  void waitWhileStopping(std::unique_lock<std::mutex>& lock);

  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  bool renameUnderWay_ = false;
  bool suiteRenamed_ = false;
  bool finished_ = false;
  UniqueFd fd_;
  std::string path_;
  std::unordered_set<std::string> temporariesMoved_;
  // The lines a finished run still acts on (temporaries, items moved aside,
  // the suite's temporary), kept so that finish() need not read back a
  // record that holds a line for every item placed.
  std::string finishLines_;
  bool placedItems_ = false;
  // The paths of the new items placed, so that a finish that keeps them all
  // need not read the record back.
  std::vector<std::string> placedPaths_;
  bool abandoned_ = false;  // or finished: nothing more is written
};

// Where the records of share runs live: <state home>/halvernsignet-share.
std::string DefaultStateDirectory();

}  // namespace platform::linux_platform
