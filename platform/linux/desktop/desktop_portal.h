#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace platform::linux_platform {

// True inside a Flatpak sandbox (it puts /.flatpak-info at the root). There
// the desktop's handlers cannot be looked up directly; only the desktop
// portal can open a URL with one.
bool RunningInSandbox();

// What became of one request to the desktop portal.
struct PortalOutcome {
  bool opened = false;  // the portal opened the URL with an application
  std::string error;    // why not, when it did not
};

// Asks the desktop portal on the session bus to open `uri` with its handler
// (org.freedesktop.portal.Desktop, interface org.freedesktop.portal.OpenURI,
// method OpenURI), then waits for the portal's answer on the request object,
// at most `patience`: the portal may first ask the person which application
// to use, and it drops the request of a caller that has gone away.
PortalOutcome OpenURIThroughPortal(const std::string& uri,
                                   std::chrono::milliseconds patience = std::chrono::minutes(2));

}  // namespace platform::linux_platform
