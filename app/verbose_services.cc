#include "app/verbose_services.h"

#include <variant>

#include "platform/one_line.h"

namespace app {
namespace {

std::string Describe(const platform::PropertyListValue& value) {
  if (const auto* list = std::get_if<std::vector<std::string>>(&value)) {
    return "a list of " + std::to_string(list->size()) + " string(s)";
  }
  const auto& data = std::get<platform::Data>(value);
  return std::to_string(data.size()) + " bytes of JSON: " + std::string(data.begin(), data.end());
}

class VerboseUserDefaults : public platform::NSUserDefaults {
 public:
  VerboseUserDefaults(std::unique_ptr<platform::NSUserDefaults> inner, std::string path, std::FILE* log)
      : inner_(std::move(inner)), path_(std::move(path)), log_(log) {}
  void setObject(const platform::PropertyListValue& value, const std::string& key) override {
    std::fprintf(log_, "halvernsignet-share: storing %s under \"%s\"\n", platform::OneLine(Describe(value)).c_str(), key.c_str());
    inner_->setObject(value, key);
  }
  bool synchronize() override {
    const bool written = inner_->synchronize();
    std::fprintf(log_, "halvernsignet-share: %s %s\n", written ? "wrote" : "could not write", platform::OneLine(path_).c_str());
    return written;
  }
  std::string synchronizeFailure() const override { return inner_->synchronizeFailure(); }

 private:
  std::unique_ptr<platform::NSUserDefaults> inner_;
  std::string path_;
  std::FILE* log_;
};

}  // namespace

std::optional<platform::URL> VerboseFileManager::containerURLForSecurityApplicationGroupIdentifier(
    const std::string& group) {
  auto url = inner_->containerURLForSecurityApplicationGroupIdentifier(group);
  if (!url) std::fprintf(log_, "halvernsignet-share: the container of %s cannot be had\n", group.c_str());
  return url;
}

platform::Status VerboseFileManager::replaceItemAtURL(const platform::URL& original, const platform::URL& newItem) {
  auto status = inner_->replaceItemAtURL(original, newItem);
  if (status.ok()) std::fprintf(log_, "halvernsignet-share: copied to %s\n", platform::OneLine(original.path()).c_str());
  return status;
}

platform::Status VerboseFileManager::copyItemIntoPlace(const platform::URL& src, const platform::URL& original,
                                                       const platform::URL& temporary) {
  auto status = inner_->copyItemIntoPlace(src, original, temporary);
  if (status.ok()) std::fprintf(log_, "halvernsignet-share: copied to %s\n", platform::OneLine(original.path()).c_str());
  return status;
}

platform::Status VerboseFileManager::writeData(const platform::Data& data, const platform::URL& url,
                                               bool atomically) {
  auto status = inner_->writeData(data, url, atomically);
  if (status.ok()) std::fprintf(log_, "halvernsignet-share: wrote %s\n", platform::OneLine(url.path()).c_str());
  return status;
}

platform::Status VerboseFileManager::synchronizeWrittenItems() {
  auto status = inner_->synchronizeWrittenItems();
  if (!status.ok()) {
    std::fprintf(log_, "halvernsignet-share: could not flush the copies to disk: %s\n", platform::OneLine(status.message()).c_str());
  }
  return status;
}

std::unique_ptr<platform::NSUserDefaults> VerboseUserDefaultsSuites::initWithSuiteName(const std::string& suiteName) {
  auto suite = inner_->initWithSuiteName(suiteName);
  const std::string path = inner_->pathForSuiteName(suiteName);
  if (!suite) {
    std::fprintf(log_, "halvernsignet-share: the suite %s cannot be opened\n", platform::OneLine(path).c_str());
    return nullptr;
  }
  return std::make_unique<VerboseUserDefaults>(std::move(suite), path, log_);
}

}  // namespace app
