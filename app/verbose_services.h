#pragma once

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/alert.h"
#include "platform/file_manager.h"
#include "platform/linux/suite/plist_user_defaults.h"
#include "platform/user_defaults.h"

namespace app {

// Decorators that tell, on standard error, what was stored where and which
// URL was sent. They change nothing of what the wrapped services do.

class VerboseFileManager : public platform::NSFileManager {
 public:
  VerboseFileManager(std::shared_ptr<platform::NSFileManager> inner, std::FILE* log)
      : inner_(std::move(inner)), log_(log) {}
  std::optional<platform::URL> containerURLForSecurityApplicationGroupIdentifier(const std::string& group) override;
  bool fileExistsAtPath(const std::string& path) override { return inner_->fileExistsAtPath(path); }
  platform::Status removeItemAtURL(const platform::URL& url) override { return inner_->removeItemAtURL(url); }
  platform::Status copyItemAtURL(const platform::URL& src, const platform::URL& dst) override {
    return inner_->copyItemAtURL(src, dst);
  }
  platform::Status replaceItemAtURL(const platform::URL& original, const platform::URL& newItem) override;
  platform::Status copyItemIntoPlace(const platform::URL& src, const platform::URL& original,
                                     const platform::URL& temporary) override;
  platform::Status writeData(const platform::Data& data, const platform::URL& url, bool atomically) override;
  platform::Status synchronizeWrittenItems() override;

 private:
  std::shared_ptr<platform::NSFileManager> inner_;
  std::FILE* log_;
};

class VerboseUserDefaultsSuites : public platform::NSUserDefaultsSuites {
 public:
  VerboseUserDefaultsSuites(std::shared_ptr<platform::linux_platform::PlistUserDefaultsSuites> inner, std::FILE* log)
      : inner_(std::move(inner)), log_(log) {}
  std::unique_ptr<platform::NSUserDefaults> initWithSuiteName(const std::string& suiteName) override;

 private:
  std::shared_ptr<platform::linux_platform::PlistUserDefaultsSuites> inner_;
  std::FILE* log_;
};

// Counts the alerts presented, so the process can say how the share ended.
class CountingAlertPresenter : public platform::AlertPresenter {
 public:
  explicit CountingAlertPresenter(std::shared_ptr<platform::AlertPresenter> inner) : inner_(std::move(inner)) {}
  void presentAlert(std::shared_ptr<platform::UIAlertController> alert, bool animated) override {
    ++presented_;
    inner_->presentAlert(std::move(alert), animated);
  }
  int presented() const { return presented_.load(); }

 private:
  std::shared_ptr<platform::AlertPresenter> inner_;
  std::atomic<int> presented_{0};
};

}  // namespace app
