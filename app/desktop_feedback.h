#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/outcome_notice.h"
#include "app/share_request.h"
#include "platform/alert.h"
#include "platform/linux/files/copy_progress.h"
#include "platform/linux/dialogs/desktop_dialogs.h"
#include "platform/linux/desktop/gio_application.h"

namespace app {

// How a share speaks to the person who made it: on standard error when that
// is a terminal (or there is no display), else in windows on the desktop, as
// when a file manager started it. Chooses once, at the start.
class DesktopFeedback {
 public:
  // `verboseLog`: where -v reports what became of the URL; null for none.
  explicit DesktopFeedback(std::FILE* verboseLog);
  DesktopFeedback(const DesktopFeedback&) = delete;
  DesktopFeedback& operator=(const DesktopFeedback&) = delete;

  // The progress of the share's copies, told against `plan`. A progress
  // window offers Cancel, which runs `cancel`. `testCopyDelay`: see
  // CopyProgress::setTestDelay (zero in the shipped program).
  std::shared_ptr<platform::linux_platform::CopyProgress> progress(
      const struct CopyPlan& plan, std::function<void()> cancel,
      std::chrono::milliseconds testCopyDelay = std::chrono::milliseconds(0));
  std::shared_ptr<platform::AlertPresenter> alerts();
  // Whether the copies' progress is shown at all (on a terminal or in a window).
  bool showsProgress() const { return terminal_ || windows_; }
  // Tells the person, once, when no application opens halvernsignet's URLs.
  platform::linux_platform::GioApplication::Reporter openURLReporter();

  // Tells how the share ended in one desktop notification, when there is no
  // terminal and a desktop session; -v says when none is shown, and why.
  void tellOutcome(const OutcomeNotice& notice);

  // The share is over: the progress goes away; open alerts are waited for.
  void finish();

 private:
  void tellNoHandler();

  std::FILE* const verboseLog_;
  const bool windows_;
  const bool terminal_;
  std::shared_ptr<platform::linux_platform::LazyDesktopDialogs> dialogs_;
  std::shared_ptr<platform::linux_platform::CopyProgress> progress_;
  std::shared_ptr<platform::AlertPresenter> terminalAlerts_;
  std::once_flag noHandlerTold_;
};

// What a share will copy: the attachments of the first item that the share
// copies (as the controller decides, share/handed_over_list.h) and that load
// as a file URL; `sources` are the local files among them, for the copy made
// ahead. Folders are counted through.
struct CopyPlan {
  std::uint64_t items = 0;
  std::uint64_t bytes = 0;
  std::vector<std::string> sources;
};
// `countBytes`: walk the files for the total, which only a progress view needs.
CopyPlan PlanCopies(const ShareRequest& request, const std::vector<std::int64_t>& attachmentsCopied,
                    bool countBytes = true);

}  // namespace app
