#pragma once

#include <string>
#include <string_view>

namespace halvernsignet_mobile_Share {

// The app group the extension shares with the host application: "group."
// followed by the host application's bundle identifier. It names the shared
// settings suite and the container. The one place that knows the rule: the
// controller appends with it, the command line's help names the group
// through it, and the receiving side finds the group by it.
inline std::string AppGroupIdentifierFor(std::string_view hostAppBundleIdentifier) {
  return "group." + std::string(hostAppBundleIdentifier);
}

// The key of the shared settings suite under which the payload is handed
// over, for the extension that writes it and the receiving side that reads
// and takes it.
inline constexpr std::string_view kSharedKey = "ShareKey";

}  // namespace halvernsignet_mobile_Share
