#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "platform/linux/base/unique_fd.h"
#include "platform/status.h"
#include "platform/status_or.h"

namespace platform::linux_platform {

class CopyProgress;

// A regular file copied into an unnamed file, not yet linked anywhere.
struct UnnamedCopy {
  UniqueFd file;         // open for writing
  struct stat source {};  // the source as it was opened
  struct stat copy {};    // the copy once complete
};

// Where a copy goes: `name` in the open directory `dir`; `path` names the
// same place, for messages and for the list of what was created.
struct CopyTarget {
  int dir;
  const std::string& name;
  const std::string& path;
  // When given and the source is a regular file, the copy is made as an
  // unnamed file in `dir` (O_TMPFILE) where its file system allows, and
  // handed over here instead of being named `name`: the caller links it into
  // place. `beforeCreating` does not run then, no path is added to the
  // copied items, and `name` need not be free. Its file is left closed when
  // the copy is named.
  UnnamedCopy* unnamed = nullptr;
};

// A link inside a copied folder that was not copied: it leads out of the
// folder (see CopyItem).
struct LinkLeftOut {
  std::string path;    // the link in the source folder
  std::string target;  // what it says
};

// What a copy made: every path created, and the bytes of file data copied;
// and the links it left out.
struct CopiedItems {
  std::vector<std::string> paths;
  std::uint64_t bytes = 0;
  std::vector<LinkLeftOut> linksLeftOut;
};

// Copies the file or directory tree at `srcPath` to `dst`, which must not
// exist; `beforeCreating` (when set) runs once that is known, just before
// anything is created. A link at `srcPath` is followed; links inside a tree
// are copied as links when they stay inside the tree, and left out (listed in
// `copied`) when they lead out of it: absolute, or through ".." or other
// links past its top, so that the copy never reaches outside the container.
// Holes of sparse files stay holes. Permission bits are copied, owners and
// times are not.
// Named pipes, sockets and devices are refused, never opened for reading.
// Whatever part of `dst` was created is removed again when the copy fails.
// Nothing is flushed to disk here (write-back of large files starts as they
// are copied); what was made is added to `copied` (when given) so the caller
// can make it durable in one batch.
Status CopyItem(const std::string& srcPath, const CopyTarget& dst, CopyProgress* progress,
                CopiedItems* copied, const std::function<void()>& beforeCreating = {});

// Copies the regular file at `srcPath` (a link there followed) into a new
// unnamed file (O_TMPFILE) in the open folder `dir`, as CopyItem copies a
// regular file, and leaves it unnamed. NotSupported when `srcPath` is not a
// regular file or holds more than `maxBytes`, or when the file system makes
// no unnamed files. `dstPath` names `dir`'s side for messages.
StatusOr<UnnamedCopy> CopyFileToUnnamed(const std::string& srcPath, int dir, const std::string& dstPath,
                                        CopyProgress* progress, std::uint64_t maxBytes);

}  // namespace platform::linux_platform
