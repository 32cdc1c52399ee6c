#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "platform/linux/files/copy_progress.h"
#include "platform/linux/dialogs/desktop_dialogs.h"

namespace platform::linux_platform {

// The progress window as a view of a share's copy progress.
class WindowProgressView : public ProgressView {
 public:
  // `cancelled`: what the window's Cancel button asks for; none, no button.
  explicit WindowProgressView(std::shared_ptr<LazyDesktopDialogs> dialogs, std::function<void()> cancelled = nullptr)
      : dialogs_(std::move(dialogs)), cancelled_(std::move(cancelled)) {}
  void show(const ProgressSnapshot& snapshot) override {
    DesktopDialogs* d = dialogs_->get();
    if (d == nullptr) return;
    if (cancelled_) std::call_once(cancelSet_, [&] { d->setProgressCancelled(cancelled_); });
    d->showProgress(snapshot);
  }
  void end() override {
    if (DesktopDialogs* d = dialogs_->get()) d->closeProgress();
  }

 private:
  std::shared_ptr<LazyDesktopDialogs> dialogs_;
  std::function<void()> cancelled_;
  std::once_flag cancelSet_;
};

}  // namespace platform::linux_platform
