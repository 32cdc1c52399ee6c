#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/user_defaults.h"

namespace platform::testing {

// Suites kept in memory. A suite's staged values become visible on
// synchronize, as with the real suite files.
class InMemoryUserDefaultsSuites : public NSUserDefaultsSuites {
 public:
  using Suite = std::map<std::string, PropertyListValue>;

  std::unique_ptr<NSUserDefaults> initWithSuiteName(const std::string& suiteName) override {
    std::lock_guard lock(state_->mutex);
    state_->opened.push_back(suiteName);
    if (!opens_) return nullptr;
    return std::make_unique<Defaults>(state_, suiteName);
  }

  // Makes every later initWithSuiteName give none.
  void setOpens(bool opens) { opens_ = opens; }
  // Makes every later synchronize fail and change nothing (a read-only or full disk).
  void setWrites(bool writes) { state_->writes = writes; }

  std::vector<std::string> openedSuites() const {
    std::lock_guard lock(state_->mutex);
    return state_->opened;
  }
  std::optional<PropertyListValue> value(const std::string& suite, const std::string& key) const {
    std::lock_guard lock(state_->mutex);
    auto s = state_->suites.find(suite);
    if (s == state_->suites.end()) return std::nullopt;
    auto v = s->second.find(key);
    if (v == s->second.end()) return std::nullopt;
    return v->second;
  }
  int synchronizations() const {
    std::lock_guard lock(state_->mutex);
    return state_->synchronizations;
  }

 private:
  struct State {
    std::mutex mutex;
    std::map<std::string, Suite> suites;
    std::vector<std::string> opened;
    int synchronizations = 0;
    std::atomic<bool> writes{true};
  };

  class Defaults : public NSUserDefaults {
   public:
    Defaults(std::shared_ptr<State> state, std::string name) : state_(std::move(state)), name_(std::move(name)) {}
    void setObject(const PropertyListValue& value, const std::string& key) override { staged_[key] = value; }
    bool synchronize() override {
      std::lock_guard lock(state_->mutex);
      ++state_->synchronizations;
      if (!state_->writes) return false;
      for (const auto& [key, value] : staged_) state_->suites[name_][key] = value;
      staged_.clear();
      return true;
    }

   private:
    std::shared_ptr<State> state_;
    std::string name_;
    Suite staged_;
  };

  std::shared_ptr<State> state_ = std::make_shared<State>();
  std::atomic<bool> opens_{true};
};

}  // namespace platform::testing
