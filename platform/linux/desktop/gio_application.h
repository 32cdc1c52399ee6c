#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/linux/desktop/desktop_portal.h"
#include "platform/responder.h"

namespace platform::linux_platform {

// What became of one openURL:.
struct OpenURLOutcome {
  enum class Status {
    noURL,         // the message came without a URL
    noHandler,     // no application handles the URL's scheme
    launched,      // the handler was started with the URL
    launchFailed,  // a handler exists but could not be started
  };
  Status status = Status::noURL;
  std::string url;
  std::string handlerId;  // desktop entry id, e.g. "org.example.App.desktop"
  std::string error;

  // One line for a verbose report.
  std::string description() const;
};

// The application at the end of the responder chain. Its openURL: starts the
// desktop's default handler for the URL's scheme (x-scheme-handler/<scheme>,
// from desktop entries and mimeapps.list) without a shell, with its standard
// streams on /dev/null so it neither writes into our output nor keeps a
// reader of our pipes waiting for it. Inside a sandbox, where no handler of
// the desktop can be seen, the desktop portal opens the URL instead.
class GioApplication : public UIResponder {
 public:
  // Told the outcome of every openURL:; nothing is printed otherwise.
  using Reporter = std::function<void(const OpenURLOutcome&)>;
  // Whether the program runs in a sandbox (asked on every openURL:).
  using SandboxCheck = std::function<bool()>;

  // The handler that the portal starts is known only to the portal.
  static constexpr const char* kPortalHandlerId = "org.freedesktop.portal.OpenURI";

  explicit GioApplication(Reporter reporter = nullptr, SandboxCheck inSandbox = RunningInSandbox)
      : reporter_(std::move(reporter)), inSandbox_(std::move(inSandbox)) {}

  bool respondsToSelector(std::string_view selector) const override;
  void performSelector(std::string_view selector, const std::optional<URL>& withObject) override;
  UIResponder* nextResponder() const override { return nullptr; }

  OpenURLOutcome openURL(const std::optional<URL>& url);

  // The outcome of the latest openURL:, none before the first.
  std::optional<OpenURLOutcome> lastOutcome() const;

 private:
  Reporter reporter_;
  SandboxCheck inSandbox_;
  mutable std::mutex mutex_;
  std::optional<OpenURLOutcome> lastOutcome_;
};

}  // namespace platform::linux_platform
