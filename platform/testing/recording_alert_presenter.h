#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/alert.h"

namespace platform::testing {

// Keeps every alert presented; the test picks actions when it likes.
class RecordingAlertPresenter : public AlertPresenter {
 public:
  void presentAlert(std::shared_ptr<UIAlertController> alert, bool animated) override {
    std::lock_guard lock(mutex_);
    alerts_.push_back(std::move(alert));
    animated_.push_back(animated);
  }
  std::vector<std::shared_ptr<UIAlertController>> alerts() const {
    std::lock_guard lock(mutex_);
    return alerts_;
  }
  std::vector<bool> animated() const {
    std::lock_guard lock(mutex_);
    return animated_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<UIAlertController>> alerts_;
  std::vector<bool> animated_;
};

}  // namespace platform::testing
