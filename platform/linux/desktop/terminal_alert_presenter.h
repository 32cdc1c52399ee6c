#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/alert.h"

namespace platform::linux_platform {

// Shows alerts as a small box on a terminal stream (standard error: standard
// output belongs to the lines the host application's developers rely on).
//
//   +- Error ---------------+
//   | Error loading data    |
//   |                       |
//   | [ Error ]             |
//   +-----------------------+
class TerminalAlertPresenter : public AlertPresenter {
 public:
  explicit TerminalAlertPresenter(std::FILE* stream = stderr) : stream_(stream) {}

  void presentAlert(std::shared_ptr<UIAlertController> alert, bool animated) override;

  // Every alert shown so far, oldest first; they stay alive with the presenter.
  std::vector<std::shared_ptr<UIAlertController>> presented() const;

 private:
  std::FILE* stream_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<UIAlertController>> presented_;
};

}  // namespace platform::linux_platform
