#include "platform/linux/files/item_identity.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace platform::linux_platform {

ItemIdentity IdentityOf(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
          static_cast<std::int64_t>(st.st_mtim.tv_sec), static_cast<std::int64_t>(st.st_mtim.tv_nsec)};
}

bool IdentityAt(int dirFd, const std::string& name, ItemIdentity& identity) {
  struct stat st {};
  if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  identity = IdentityOf(st);
  return true;
}

}  // namespace platform::linux_platform
