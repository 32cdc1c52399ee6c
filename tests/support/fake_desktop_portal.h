#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gio/gio.h>

namespace testsupport {

// A stand-in for the desktop portal's OpenURI on a private session bus (see
// GTestDBus): owns org.freedesktop.portal.Desktop, records every OpenURI
// call, answers it with the request object the caller expects and then
// emits that object's Response with `response` (0 opened, 1 cancelled,
// 2 failed). Serves on a thread of its own.
class FakeDesktopPortal {
 public:
  struct Call {
    std::string parentWindow;
    std::string uri;
    std::string handleToken;
  };

  FakeDesktopPortal(const std::string& busAddress, std::uint32_t response);
  ~FakeDesktopPortal();
  FakeDesktopPortal(const FakeDesktopPortal&) = delete;
  FakeDesktopPortal& operator=(const FakeDesktopPortal&) = delete;

  // False when the portal's name could not be taken on the bus.
  bool serving() const { return serving_; }
  std::vector<Call> calls() const;

 private:
  static void OnMethodCall(GDBusConnection* connection, const gchar* sender, const gchar* path,
                           const gchar* interfaceName, const gchar* method, GVariant* parameters,
                           GDBusMethodInvocation* invocation, gpointer self);
  void serve(const std::string& busAddress);

  std::uint32_t response_;
  GMainContext* context_ = nullptr;
  GMainLoop* loop_ = nullptr;
  bool serving_ = false;
  mutable std::mutex mutex_;
  std::vector<Call> calls_;
  std::thread thread_;
};

}  // namespace testsupport
