#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

#include "platform/status.h"

// Replacing a file's contents so that a reader never sees a half-written one.
namespace platform::linux_platform {

class RunJournal;

struct AtomicWriteOptions {
  // The new file's permissions. None: those of the regular file it replaces
  // (a link is followed to find them), or owner-only for a new file.
  std::optional<mode_t> mode;
  // Also sync the directory after the rename, so the new name itself is
  // durable when this returns (not only once a later batch syncs it).
  bool syncDirectory = false;
  // Where this run records what it makes, so that a later share can clear
  // what it leaves if it dies (none: nothing is recorded).
  RunJournal* journal = nullptr;
  // The file is the settings suite: its temporary is recorded as the suite's,
  // whose presence tells whether the rename happened. Otherwise the file is
  // recorded as a new item when its name was empty.
  bool isSuite = false;
};

// Replaces the file at `path` with `bytes` in one step: they go to a
// temporary file in the same directory (".<name>.<12 random letters or
// digits>"), which is synced
// to disk and then renamed over `path`. A crash leaves the old file or the
// new one, never a new name over missing contents; on failure the temporary
// file is removed and the old file is untouched.
Status WriteFileAtomically(const std::string& path, std::string_view bytes, const AtomicWriteOptions& options);

}  // namespace platform::linux_platform
