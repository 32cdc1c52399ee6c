#pragma once

#include <cstdint>
#include <string>

#include <sys/stat.h>

namespace platform::linux_platform {

// Which item a name held: a later item under the same name, or the same inode
// number reused, compares unequal.
struct ItemIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t modifiedSeconds = 0;
  std::int64_t modifiedNanoseconds = 0;

  bool operator==(const ItemIdentity&) const = default;
};

ItemIdentity IdentityOf(const struct stat& st);

// The identity of the item called `name` in the open directory `dirFd`
// (links not followed); false when there is none.
bool IdentityAt(int dirFd, const std::string& name, ItemIdentity& identity);

}  // namespace platform::linux_platform
