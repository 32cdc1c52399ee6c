#pragma once

#include <cstdio>
#include <memory>
#include <mutex>

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

  // The progress of the share's copies, told against what `request` will copy.
  std::shared_ptr<platform::linux_platform::CopyProgress> progress(const ShareRequest& request);
  std::shared_ptr<platform::AlertPresenter> alerts();
  // Tells the person, once, when no application opens halvernsignet's URLs.
  platform::linux_platform::GioApplication::Reporter openURLReporter();

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

// How many items a share will copy and how many bytes that is: attachments
// of the first item whose kind is copied (photo, file, movie) and that load
// as a local file. Folders are counted through.
struct CopyPlan {
  std::uint64_t items = 0;
  std::uint64_t bytes = 0;
};
CopyPlan PlanCopies(const ShareRequest& request);

}  // namespace app
