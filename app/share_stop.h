#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include "platform/linux/files/run_journal.h"

namespace app {

// Stopping a share midway: SIGINT, SIGTERM or SIGHUP, or the progress
// window's Cancel. What the run made is rolled back through its record (the
// suite stays as it was), one line goes to standard error, and the process
// ends at once with 128 + the signal's number (the shell's convention), or
// with kNeverCompleted for Cancel. A stop that comes once the suite holds the
// whole new payload lets the share finish (halvernsignet is opened with it).
// A second signal ends the process at once, by the signal's default action;
// the next share's sweep then clears what is left.
//
// One per process. The handlers do nothing but write to a pipe; a thread of
// this class does the rest.
class ShareStop {
 public:
  // Installs the handlers and starts the thread; `journal` may be null (then
  // nothing can be rolled back, and the line says so).
  explicit ShareStop(std::shared_ptr<platform::linux_platform::RunJournal> journal);
  ~ShareStop();  // the signals' default actions come back
  ShareStop(const ShareStop&) = delete;
  ShareStop& operator=(const ShareStop&) = delete;

  // The person pressed Cancel (any thread).
  void cancel();

  // After the share: the status a stop that came after the handoff asks for.
  std::optional<int> statusAfterHandoff() const;

 private:
  void watch();
  void stop(int signal);  // 0: Cancel

  std::shared_ptr<platform::linux_platform::RunJournal> journal_;
  int pipe_[2] = {-1, -1};
  std::thread watcher_;
  std::atomic<int> statusAfterHandoff_{-1};
};

}  // namespace app
