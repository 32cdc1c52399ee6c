#pragma once

#include <string>

namespace platform::linux_platform {

// Where the program's module `fileName` is: beside the running program (a
// build tree), else in the installed place, <prefix>/lib/halvernsignet-share/.
std::string ModulePath(const std::string& fileName);

}  // namespace platform::linux_platform
