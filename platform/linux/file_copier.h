#pragma once

#include <string>
#include <vector>

#include "platform/status.h"

namespace platform::linux_platform {

class CopyProgress;

// Copies the file or directory tree at `srcPath` to `dstPath`, which must not
// exist. A link at `srcPath` is followed; links inside a tree are copied as
// links. Permission bits are copied, owners and times are not. Named pipes,
// sockets and devices are refused, never opened for reading. Whatever part of
// `dstPath` was created is removed again when the copy fails. Nothing is
// flushed to disk here: every path created is appended to `created` (when
// given) so the caller can make them durable in one batch.
Status CopyItem(const std::string& srcPath, const std::string& dstPath, CopyProgress* progress,
                std::vector<std::string>* created);

// Streams the contents of the open regular file `in` into the empty file
// `out`: a reflink when the file system shares blocks, else an in-kernel copy,
// else a read/write loop through a small fixed buffer. `allowKernelCopy`
// false goes straight to the read/write loop. `srcPath` is for messages.
Status CopyFileData(int in, int out, const std::string& srcPath, CopyProgress* progress,
                    bool allowKernelCopy = true);

}  // namespace platform::linux_platform
