#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/responder.h"

namespace platform::testing {

// A responder that records the "openURL:" messages it is sent, optionally in
// a log shared with other responders so the order across the chain shows.
class RecordingResponder : public UIResponder {
 public:
  RecordingResponder(std::string name, bool opensURLs, UIResponder* next = nullptr,
                     std::vector<std::string>* sharedLog = nullptr)
      : name_(std::move(name)), opensURLs_(opensURLs), next_(next), sharedLog_(sharedLog) {}

  bool respondsToSelector(std::string_view selector) const override {
    return opensURLs_ && selector == kOpenURLSelector;
  }
  void performSelector(std::string_view selector, const std::optional<URL>& withObject) override {
    std::lock_guard lock(mutex_);
    if (selector != kOpenURLSelector) return;
    received_.push_back(withObject);
    if (sharedLog_) sharedLog_->push_back(name_ + " " + (withObject ? withObject->absoluteString() : "(none)"));
  }
  UIResponder* nextResponder() const override { return next_; }

  std::vector<std::optional<URL>> received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }
  std::vector<std::string> receivedTexts() const {
    std::vector<std::string> texts;
    for (const auto& url : received()) texts.push_back(url ? url->absoluteString() : "(none)");
    return texts;
  }

 private:
  std::string name_;
  bool opensURLs_;
  UIResponder* next_;
  std::vector<std::string>* sharedLog_;
  mutable std::mutex mutex_;
  std::vector<std::optional<URL>> received_;
};

}  // namespace platform::testing
