#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/alert.h"
#include "platform/linux/dialogs/desktop_dialogs.h"

namespace platform::linux_platform {

// Shows alerts as modal windows on the desktop; when no window can be had,
// hands them to `fallback` (the terminal alert). Picking a button runs its
// action; closing the window otherwise runs the cancel action.
class DialogAlertPresenter : public AlertPresenter {
 public:
  DialogAlertPresenter(std::shared_ptr<LazyDesktopDialogs> dialogs, std::shared_ptr<AlertPresenter> fallback)
      : dialogs_(std::move(dialogs)), fallback_(std::move(fallback)) {}

  void presentAlert(std::shared_ptr<UIAlertController> alert, bool animated) override;

 private:
  std::shared_ptr<LazyDesktopDialogs> dialogs_;
  std::shared_ptr<AlertPresenter> fallback_;
  std::mutex mutex_;
  // Alerts stay alive, with what their actions hold, until the process ends.
  std::vector<std::shared_ptr<UIAlertController>> presented_;
};

}  // namespace platform::linux_platform
