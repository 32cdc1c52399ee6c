#pragma once

#include <string>

namespace platform::linux_platform {

// Where the program's module `fileName` is: beside the running program (a
// build tree), else in the installed place, <bindir>/../<libdir>/halvernsignet-share/
// as configured (lib/halvernsignet-share, or a multiarch lib/<triplet>/...).
std::string ModulePath(const std::string& fileName);

}  // namespace platform::linux_platform
