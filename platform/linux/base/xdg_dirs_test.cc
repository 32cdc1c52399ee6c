#include "platform/linux/base/xdg_dirs.h"

#include <cstdlib>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace platform::linux_platform {
namespace {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) ::setenv(name, value, 1); else ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_) ::setenv(name_, old_->c_str(), 1); else ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(DefaultDataHome, FollowsTheXdgRule) {
  ScopedEnv home("HOME", "/home/someone");
  {
    ScopedEnv xdg("XDG_DATA_HOME", "/custom/data");
    EXPECT_EQ(DefaultDataHome(), "/custom/data");
  }
  for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative/data"}) {
    ScopedEnv xdg("XDG_DATA_HOME", ignored);
    EXPECT_EQ(DefaultDataHome(), "/home/someone/.local/share") << (ignored ? ignored : "unset");
  }
}

TEST(DefaultConfigHome, XdgConfigHomeOnlyWhenAbsolute) {
  ScopedEnv home("HOME", "/home/someone");
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/elsewhere/config");
    EXPECT_EQ(DefaultConfigHome(), "/elsewhere/config");
  }
  for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative/config"}) {
    ScopedEnv xdg("XDG_CONFIG_HOME", ignored);
    EXPECT_EQ(DefaultConfigHome(), "/home/someone/.config") << (ignored ? ignored : "unset");
  }
}

}  // namespace
}  // namespace platform::linux_platform
