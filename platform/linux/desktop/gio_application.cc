#include "platform/linux/desktop/gio_application.h"

#include <memory>

#include <fcntl.h>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <unistd.h>

#include "platform/glib_handles.h"
#include "platform/linux/base/unique_fd.h"

namespace platform::linux_platform {
namespace {

// Starts `app` with `uri`; an error message on failure.
std::optional<std::string> Launch(GAppInfo* app, const std::string& uri) {
  GObjectPtr<GAppLaunchContext> context(g_app_launch_context_new());
  GList uris{};
  uris.data = const_cast<char*>(uri.c_str());
  GError* rawError = nullptr;
  gboolean started;
  const UniqueFd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
  if (G_IS_DESKTOP_APP_INFO(app) && devNull.valid()) {
    // Not reaping the child ourselves makes GLib detach it, so no zombie
    // stays behind while we wait for our own loads.
    started = g_desktop_app_info_launch_uris_as_manager_with_fds(
        G_DESKTOP_APP_INFO(app), &uris, context.get(), G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, nullptr,
        devNull.get(), devNull.get(), devNull.get(), &rawError);
  } else {
    started = g_app_info_launch_uris(app, &uris, context.get(), &rawError);
  }
  const GErrorPtr error(rawError);
  if (started) return std::nullopt;
  return std::string(error && error->message ? error->message : "launch failed");
}

}  // namespace

std::string OpenURLOutcome::description() const {
  switch (status) {
    case Status::noURL:
      return "openURL: sent without a URL; nothing opened";
    case Status::noHandler:
      return "openURL: no application handles " + url + "; nothing opened";
    case Status::launched:
      return "openURL: " + url + " handed to " + handlerId;
    case Status::launchFailed:
      return "openURL: " + handlerId + " could not be started for " + url + ": " + error;
  }
  return {};
}

bool GioApplication::respondsToSelector(std::string_view selector) const { return selector == kOpenURLSelector; }

void GioApplication::performSelector(std::string_view selector, const std::optional<URL>& withObject) {
  if (selector == kOpenURLSelector) openURL(withObject);
}

OpenURLOutcome GioApplication::openURL(const std::optional<URL>& url) {
  OpenURLOutcome outcome;
  if (url && inSandbox_ && inSandbox_()) {
    outcome.url = url->absoluteString();
    outcome.handlerId = kPortalHandlerId;
    const PortalOutcome portal = OpenURIThroughPortal(outcome.url);
    outcome.status = portal.opened ? OpenURLOutcome::Status::launched : OpenURLOutcome::Status::launchFailed;
    outcome.error = portal.error;
  } else if (url) {
    outcome.url = url->absoluteString();
    const std::string scheme = url->scheme();
    GObjectPtr<GAppInfo> handler(scheme.empty() ? nullptr : g_app_info_get_default_for_uri_scheme(scheme.c_str()));
    if (!handler) {
      outcome.status = OpenURLOutcome::Status::noHandler;
    } else {
      const char* id = g_app_info_get_id(handler.get());
      outcome.handlerId = id ? id : g_app_info_get_name(handler.get());
      if (auto error = Launch(handler.get(), outcome.url)) {
        outcome.status = OpenURLOutcome::Status::launchFailed;
        outcome.error = *error;
      } else {
        outcome.status = OpenURLOutcome::Status::launched;
      }
    }
  }
  {
    std::lock_guard lock(mutex_);
    lastOutcome_ = outcome;
  }
  if (reporter_) reporter_(outcome);
  return outcome;
}

std::optional<OpenURLOutcome> GioApplication::lastOutcome() const {
  std::lock_guard lock(mutex_);
  return lastOutcome_;
}

}  // namespace platform::linux_platform
