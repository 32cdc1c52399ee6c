#include "tests/support/fake_desktop_portal.h"

#include <future>

namespace testsupport {
namespace {

constexpr char kIntrospection[] =
    "<node><interface name='org.freedesktop.portal.OpenURI'>"
    "<method name='OpenURI'><arg type='s' name='parent_window' direction='in'/>"
    "<arg type='s' name='uri' direction='in'/><arg type='a{sv}' name='options' direction='in'/>"
    "<arg type='o' name='handle' direction='out'/></method>"
    "<property name='version' type='u' access='read'/>"
    "</interface></node>";

}  // namespace

FakeDesktopPortal::FakeDesktopPortal(const std::string& busAddress, std::uint32_t response) : response_(response) {
  context_ = g_main_context_new();
  loop_ = g_main_loop_new(context_, FALSE);
  std::promise<void> ready;
  auto started = ready.get_future();
  thread_ = std::thread([this, busAddress, &ready] {
    g_main_context_push_thread_default(context_);
    serve(busAddress);
    ready.set_value();
    if (serving_) g_main_loop_run(loop_);
    g_main_context_pop_thread_default(context_);
  });
  started.wait();
}

FakeDesktopPortal::~FakeDesktopPortal() {
  g_main_context_invoke(
      context_, [](gpointer loop) { g_main_loop_quit(static_cast<GMainLoop*>(loop)); return G_SOURCE_REMOVE; },
      loop_);
  thread_.join();
  g_main_loop_unref(loop_);
  g_main_context_unref(context_);
}

std::vector<FakeDesktopPortal::Call> FakeDesktopPortal::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

void FakeDesktopPortal::serve(const std::string& busAddress) {
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      busAddress.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  if (bus == nullptr) return;
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  static const GDBusInterfaceVTable vtable = {&FakeDesktopPortal::OnMethodCall, nullptr, nullptr, {}};
  const guint registered = g_dbus_connection_register_object(bus, "/org/freedesktop/portal/desktop",
                                                             node->interfaces[0], &vtable, this, nullptr, nullptr);
  g_dbus_node_info_unref(node);
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
      g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u /* DO_NOT_QUEUE */), G_VARIANT_TYPE("(u)"),
      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
  if (registered != 0 && reply != nullptr) {
    guint32 result = 0;
    g_variant_get(reply, "(u)", &result);
    serving_ = result == 1;  // primary owner
  }
  if (reply) g_variant_unref(reply);
  // The connection lives as long as the process; the bus goes down with the test.
}

void FakeDesktopPortal::OnMethodCall(GDBusConnection* connection, const gchar* sender, const gchar*,
                                     const gchar*, const gchar* method, GVariant* parameters,
                                     GDBusMethodInvocation* invocation, gpointer data) {
  auto* self = static_cast<FakeDesktopPortal*>(data);
  if (g_strcmp0(method, "OpenURI") != 0) {
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod", method);
    return;
  }
  const gchar* parent = nullptr;
  const gchar* uri = nullptr;
  GVariant* options = nullptr;
  g_variant_get(parameters, "(&s&s@a{sv})", &parent, &uri, &options);
  const gchar* token = nullptr;
  g_variant_lookup(options, "handle_token", "&s", &token);
  Call call{parent, uri, token ? token : ""};
  g_variant_unref(options);

  std::string senderPart = sender[0] == ':' ? sender + 1 : sender;
  for (char& c : senderPart) {
    if (c == '.') c = '_';
  }
  const std::string handle = "/org/freedesktop/portal/desktop/request/" + senderPart + "/" +
                             (call.handleToken.empty() ? std::string("t") : call.handleToken);
  {
    std::lock_guard lock(self->mutex_);
    self->calls_.push_back(std::move(call));
  }
  g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", handle.c_str()));
  GVariantBuilder results;
  g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
  g_dbus_connection_emit_signal(connection, sender, handle.c_str(), "org.freedesktop.portal.Request", "Response",
                                g_variant_new("(ua{sv})", self->response_, &results), nullptr);
}

}  // namespace testsupport
