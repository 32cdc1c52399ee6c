#pragma once

#include <string>
#include <string_view>

namespace halvernsignet_mobile_Share {

// The app group the extension shares with the host application: "group."
// followed by the host application's bundle identifier. It names the shared
// settings suite and the container. The one place that knows the rule: the
// controller appends with it, and the command line's help names the group
// through it.
inline std::string AppGroupIdentifierFor(std::string_view hostAppBundleIdentifier) {
  return "group." + std::string(hostAppBundleIdentifier);
}

}  // namespace halvernsignet_mobile_Share
