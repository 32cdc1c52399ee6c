#pragma once

#include <optional>
#include <string_view>

#include "platform/url.h"

namespace platform {

// The selector by which a responder opens a URL.
inline constexpr std::string_view kOpenURLSelector = "openURL:";

// A member of the responder chain. Responders do not own their next
// responder; whoever builds the chain keeps every member alive.
class UIResponder {
 public:
  virtual ~UIResponder() = default;

  virtual bool respondsToSelector(std::string_view selector) const;

  // Sends the message named `selector` with one argument (none when absent).
  // Any result is dropped.
  virtual void performSelector(std::string_view selector, const std::optional<URL>& withObject);

  virtual UIResponder* nextResponder() const;
};

}  // namespace platform
