#pragma once

#include <string>

// Where a desktop user's files go, by the XDG Base Directory rule: a variable
// counts only when it holds an absolute path; otherwise the default below the
// home directory.
namespace platform::linux_platform {

// $HOME when set and not empty, else the home directory of the user running
// this process, else "/".
std::string HomeDirectory();

// $XDG_CONFIG_HOME, else <home>/.config.
std::string DefaultConfigHome();

// $XDG_DATA_HOME, else <home>/.local/share.
std::string DefaultDataHome();

// $XDG_STATE_HOME, else <home>/.local/state.
std::string DefaultStateHome();

}  // namespace platform::linux_platform
