#include "platform/responder.h"

namespace platform {

bool UIResponder::respondsToSelector(std::string_view) const { return false; }

void UIResponder::performSelector(std::string_view, const std::optional<URL>&) {}

UIResponder* UIResponder::nextResponder() const { return nullptr; }

}  // namespace platform
