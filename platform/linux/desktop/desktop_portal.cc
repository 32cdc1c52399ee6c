#include "platform/linux/desktop/desktop_portal.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include <gio/gio.h>
#include <unistd.h>

#include "platform/glib_handles.h"

namespace platform::linux_platform {
namespace {

constexpr char kPortalName[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kOpenURIInterface[] = "org.freedesktop.portal.OpenURI";
constexpr char kRequestInterface[] = "org.freedesktop.portal.Request";

// The answers a portal request ends with (the Response signal's first value).
constexpr guint32 kResponseSuccess = 0;
constexpr guint32 kResponseCancelled = 1;

struct MainContextDeleter {
  void operator()(GMainContext* context) const { g_main_context_unref(context); }
};
struct VariantDeleter {
  void operator()(GVariant* value) const { g_variant_unref(value); }
};
struct SourceDeleter {
  void operator()(GSource* source) const {
    g_source_destroy(source);
    g_source_unref(source);
  }
};

// Makes `context` the thread's default while it lives, so that the bus
// connection delivers the portal's signals to it and to nothing else.
class ThreadDefaultContext {
 public:
  ThreadDefaultContext() : context_(g_main_context_new()) { g_main_context_push_thread_default(context_.get()); }
  ~ThreadDefaultContext() { g_main_context_pop_thread_default(context_.get()); }
  ThreadDefaultContext(const ThreadDefaultContext&) = delete;
  ThreadDefaultContext& operator=(const ThreadDefaultContext&) = delete;
  GMainContext* get() const { return context_.get(); }

 private:
  std::unique_ptr<GMainContext, MainContextDeleter> context_;
};

struct Answer {
  std::optional<guint32> response;
  bool timedOut = false;
};

// Listens for the Response signal of one request object. Signals already
// queued when it goes away still reach the callback, so it waits for GDBus to
// let go of it before the answer it writes to is gone.
class ResponseSubscription {
 public:
  ResponseSubscription(GDBusConnection* bus, GMainContext* context, const std::string& requestPath, Answer* answer)
      : bus_(bus), context_(context) {
    id_ = g_dbus_connection_signal_subscribe(bus, kPortalName, kRequestInterface, "Response", requestPath.c_str(),
                                             nullptr, G_DBUS_SIGNAL_FLAGS_NONE, &ResponseSubscription::OnResponse,
                                             new Target{answer, &released_}, &ResponseSubscription::Release);
  }
  ~ResponseSubscription() {
    g_dbus_connection_signal_unsubscribe(bus_, id_);
    while (!released_) g_main_context_iteration(context_, TRUE);
  }
  ResponseSubscription(const ResponseSubscription&) = delete;
  ResponseSubscription& operator=(const ResponseSubscription&) = delete;

 private:
  struct Target {
    Answer* answer;
    bool* released;
  };
  static void OnResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant* parameters, gpointer data) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) return;
    guint32 response = 0;
    g_variant_get_child(parameters, 0, "u", &response);
    static_cast<Target*>(data)->answer->response = response;
  }
  static void Release(gpointer data) {
    auto* target = static_cast<Target*>(data);
    *target->released = true;
    delete target;
  }

  GDBusConnection* bus_;
  GMainContext* context_;
  guint id_ = 0;
  bool released_ = false;
};

// The request object the portal makes for a call with `token` as its
// handle_token: /org/freedesktop/portal/desktop/request/SENDER/TOKEN, where
// SENDER is the caller's unique bus name without its ":" and with "_" for ".".
std::string RequestPath(const char* uniqueName, const std::string& token) {
  std::string sender = uniqueName != nullptr && uniqueName[0] == ':' ? uniqueName + 1 : "";
  for (char& c : sender) {
    if (c == '.') c = '_';
  }
  return std::string(kPortalPath) + "/request/" + sender + "/" + token;
}

std::string NewToken() {
  static std::atomic<unsigned> counter{0};
  return "halvernsignet_share_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
}

PortalOutcome Failed(std::string why, GError* error = nullptr) {
  GErrorPtr owned(error);
  if (owned && owned->message) why += std::string(": ") + owned->message;
  return PortalOutcome{false, std::move(why)};
}

gboolean OnTimeout(gpointer data) {
  static_cast<Answer*>(data)->timedOut = true;
  return G_SOURCE_REMOVE;
}

// A connection of our own, closed when done, so nothing of it outlives the
// request or meets another user of the session bus in this process.
GObjectPtr<GDBusConnection> OwnSessionConnection(const char* address, GError** error) {
  return GObjectPtr<GDBusConnection>(g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, error));
}

// Runs `context` until the answer comes or `patience` has passed.
void WaitForAnswer(GMainContext* context, Answer& answer, std::chrono::milliseconds patience) {
  std::unique_ptr<GSource, SourceDeleter> timeout(
      g_timeout_source_new(static_cast<guint>(std::max<std::chrono::milliseconds::rep>(0, patience.count()))));
  g_source_set_callback(timeout.get(), &OnTimeout, &answer, nullptr);
  g_source_attach(timeout.get(), context);
  while (!answer.response && !answer.timedOut) g_main_context_iteration(context, TRUE);
}

PortalOutcome OutcomeOf(const Answer& answer) {
  if (!answer.response) return Failed("the desktop portal did not answer");
  if (*answer.response == kResponseSuccess) return PortalOutcome{true, {}};
  if (*answer.response == kResponseCancelled) return Failed("opening was cancelled");
  return Failed("the desktop portal could not open it");
}

// Asks the portal to open `uri` and waits for its answer.
PortalOutcome RequestOpening(GDBusConnection* bus, GMainContext* context, const std::string& uri,
                             std::chrono::milliseconds patience) {
  Answer answer;
  // Listening starts before the call, as the portal's answer may come before
  // the call returns.
  const std::string token = NewToken();
  const std::string expected = RequestPath(g_dbus_connection_get_unique_name(bus), token);
  auto subscription = std::make_unique<ResponseSubscription>(bus, context, expected, &answer);

  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  GError* error = nullptr;
  std::unique_ptr<GVariant, VariantDeleter> reply(g_dbus_connection_call_sync(
      bus, kPortalName, kPortalPath, kOpenURIInterface, "OpenURI",
      g_variant_new("(ssa{sv})", "", uri.c_str(), &options), G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, -1,
      nullptr, &error));
  if (!reply) return Failed("the desktop portal cannot open URLs", error);
  const gchar* handle = nullptr;
  g_variant_get(reply.get(), "(&o)", &handle);
  if (expected != handle) {
    // A portal that does not honour handle_token answers on another object.
    subscription.reset();
    subscription = std::make_unique<ResponseSubscription>(bus, context, handle, &answer);
  }
  WaitForAnswer(context, answer, patience);
  return OutcomeOf(answer);
}

}  // namespace

bool RunningInSandbox() { return ::access("/.flatpak-info", F_OK) == 0; }

PortalOutcome OpenURIThroughPortal(const std::string& uri, std::chrono::milliseconds patience) {
  GError* error = nullptr;
  GCharPtr address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error));
  if (!address) return Failed("no session bus for the desktop portal", error);

  ThreadDefaultContext context;
  GObjectPtr<GDBusConnection> bus = OwnSessionConnection(address.get(), &error);
  if (!bus) return Failed("cannot connect to the session bus", error);
  const PortalOutcome outcome = RequestOpening(bus.get(), context.get(), uri, patience);
  g_dbus_connection_close_sync(bus.get(), nullptr, nullptr);
  return outcome;
}

}  // namespace platform::linux_platform
