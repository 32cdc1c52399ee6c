#include "platform/linux/desktop/desktop_notification.h"

#include <gio/gio.h>

#include "platform/glib_handles.h"

namespace platform::linux_platform {
namespace {

// How long a notification service may take to answer, started on demand
// by the bus included.
constexpr int kPatienceMs = 5000;

Status Failed(const std::string& what, GError* error) {
  GErrorPtr owned(error);
  return Status::NotSupported(what + (owned ? ": " + std::string(owned->message) : std::string()));
}

}  // namespace

Status ShowDesktopNotification(const std::string& summary, const std::string& body) {
  GError* error = nullptr;
  GCharPtr address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error));
  if (!address) return Failed("no session bus", error);
  // A connection of its own, closed when done.
  GObjectPtr<GDBusConnection> bus(g_dbus_connection_new_for_address_sync(
      address.get(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error));
  if (!bus) return Failed("cannot connect to the session bus", error);

  // Servers may read the body as markup: what a file name holds stays text.
  GCharPtr escaped(g_markup_escape_text(body.c_str(), -1));
  GVariantBuilder actions;
  g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string("halvernsignet-share"));
  GVariant* result = g_dbus_connection_call_sync(
      bus.get(), "org.freedesktop.Notifications", "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
      "Notify",
      g_variant_new("(susssasa{sv}i)", "halvernsignet-share", 0u, "", summary.c_str(), escaped.get(), &actions,
                    &hints, -1),
      G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kPatienceMs, nullptr, &error);
  if (result == nullptr) return Failed("no notification service answered", error);
  g_variant_unref(result);
  // Flushed before the connection closes, so the call is not lost.
  (void)g_dbus_connection_flush_sync(bus.get(), nullptr, nullptr);
  return Status::OK();
}

}  // namespace platform::linux_platform
