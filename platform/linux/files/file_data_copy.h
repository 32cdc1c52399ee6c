#pragma once

#include <string>

#include <sys/stat.h>

#include "platform/status.h"

namespace platform::linux_platform {

class CopyProgress;

// Streams the contents of the open regular file `in` into the empty file
// `out`: a reflink when the file system shares blocks, else an in-kernel copy,
// else a read/write loop through a small fixed buffer. `allowKernelCopy`
// false goes straight to the read/write loop. Write-back of a large file
// starts as it goes, so that a later flush waits for little. `srcPath` is
// for messages.
Status CopyFileData(int in, int out, const std::string& srcPath, CopyProgress* progress,
                    bool allowKernelCopy = true);

// CopyFileData for a source whose fstat is already known.
Status CopyOpenedFileData(int in, const struct stat& st, int out, const std::string& srcPath,
                          CopyProgress* progress, bool allowKernelCopy);

}  // namespace platform::linux_platform
