#pragma once

#include <string>

#include <sys/stat.h>

#include "platform/status.h"

namespace platform::linux_platform {

class CopyProgress;

// CopyFileData (file_copier.h) for a source whose fstat is already known.
Status CopyOpenedFileData(int in, const struct stat& st, int out, const std::string& srcPath,
                          CopyProgress* progress, bool allowKernelCopy);

}  // namespace platform::linux_platform
