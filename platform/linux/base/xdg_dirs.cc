#include "platform/linux/base/xdg_dirs.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include <pwd.h>
#include <unistd.h>

#include "platform/linux/base/file_tree.h"

namespace platform::linux_platform {
namespace {

std::string FromVariableOr(const char* name, const char* belowHome) {
  const char* value = std::getenv(name);
  if (value != nullptr && value[0] == '/') return value;
  return JoinPath(HomeDirectory(), belowHome);
}

}  // namespace

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') return home;
  // getpwuid_r, not getpwuid: loads run on other threads at the same time.
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  int result;
  while ((result = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
         buffer.size() < (std::size_t{1} << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (result == 0 && found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] != '\0') {
    return found->pw_dir;
  }
  return "/";
}

std::string DefaultConfigHome() { return FromVariableOr("XDG_CONFIG_HOME", ".config"); }

std::string DefaultDataHome() { return FromVariableOr("XDG_DATA_HOME", ".local/share"); }

std::string DefaultStateHome() { return FromVariableOr("XDG_STATE_HOME", ".local/state"); }

}  // namespace platform::linux_platform
