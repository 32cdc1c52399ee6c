#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

#include "platform/linux/base/unique_fd.h"
#include "platform/status.h"

// Writing files so that a failure is never silent and a reader never sees a
// half-written one.
namespace platform::linux_platform {

class RunJournal;

// Writes all of `bytes` to `fd`, going on after interrupted and short writes.
// A failure reads "<what> <path>: <reason>".
Status WriteAll(int fd, std::string_view bytes, std::string_view what, std::string_view path);

// Closes `fd` and says whether that worked: some file systems report a failed
// write only when the file is closed ("cannot write <path>: <reason>").
Status CloseChecked(UniqueFd& fd, std::string_view path);

// Gives the unnamed file (O_TMPFILE) open as `file` the name `name` in the
// open directory `dir`; fails with EEXIST when that name is taken. The file
// stays open. Returns 0 or -1 with errno set, as linkat does.
int LinkUnnamedFile(int file, int dir, const std::string& name);

// Whether unnamed files can be named by this process: linking one may go
// through /proc/self/fd, which must then be mounted.
bool UnnamedFilesUsable();

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
