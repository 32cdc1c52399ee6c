#pragma once

#include <string>

#include "platform/status.h"

namespace platform::linux_platform {

// Shows one desktop notification through the freedesktop notification
// service (org.freedesktop.Notifications on the session bus, through GIO's
// D-Bus; the desktop's notification daemon draws it). `body` is plain text.
// Fails, saying why, when there is no session bus or no service answers
// within a few seconds; nothing is shown then.
Status ShowDesktopNotification(const std::string& summary, const std::string& body);

}  // namespace platform::linux_platform
