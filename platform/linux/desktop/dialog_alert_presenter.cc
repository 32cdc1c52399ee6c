#include "platform/linux/desktop/dialog_alert_presenter.h"

#include <string>

namespace platform::linux_platform {

void DialogAlertPresenter::presentAlert(std::shared_ptr<UIAlertController> alert, bool animated) {
  if (!alert) return;
  DesktopDialogs* dialogs = dialogs_->get();
  if (dialogs == nullptr) {
    fallback_->presentAlert(std::move(alert), animated);
    return;
  }
  std::vector<std::string> buttons;
  std::size_t closeIndex = alert->actions().size();
  for (std::size_t i = 0; i < alert->actions().size(); ++i) {
    buttons.push_back(alert->actions()[i]->title());
    if (alert->actions()[i]->style() == UIAlertActionStyle::cancel) closeIndex = i;
  }
  {
    std::lock_guard lock(mutex_);
    presented_.push_back(alert);
  }
  // The window may outlive this call; the callback holds the alert.
  dialogs->showAlert(alert->title(), alert->message(), std::move(buttons), closeIndex,
                     [alert](std::size_t index) {
                       if (index < alert->actions().size()) alert->actions()[index]->pick();
                     });
}

}  // namespace platform::linux_platform
