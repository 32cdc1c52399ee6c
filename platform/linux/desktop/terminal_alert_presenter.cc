#include "platform/linux/desktop/terminal_alert_presenter.h"

#include <algorithm>
#include <string>
#include <string_view>

#include <glib.h>

namespace platform::linux_platform {
namespace {

// Columns a line takes, counting characters rather than bytes so that a
// non-ASCII title does not push the border out.
std::size_t Width(std::string_view text) {
  if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text.size();
  return static_cast<std::size_t>(g_utf8_strlen(text.data(), static_cast<gssize>(text.size())));
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    const auto end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return lines;
    start = end + 1;
  }
}

std::string Padded(const std::string& text, std::size_t width) {
  return text + std::string(width - std::min(width, Width(text)), ' ');
}

}  // namespace

void TerminalAlertPresenter::presentAlert(std::shared_ptr<UIAlertController> alert, bool) {
  if (!alert) return;
  std::vector<std::string> body = alert->message().empty() ? std::vector<std::string>{} : Lines(alert->message());
  std::string buttons;
  for (const auto& action : alert->actions()) {
    if (!buttons.empty()) buttons += "  ";
    buttons += "[ " + action->title() + " ]";
  }
  if (!buttons.empty()) {
    if (!body.empty()) body.emplace_back();
    body.push_back(buttons);
  }

  const std::string title = alert->title().empty() ? std::string() : " " + alert->title() + " ";
  std::size_t inner = Width(title) + 2;
  for (const auto& line : body) inner = std::max(inner, Width(line) + 2);

  std::string box = "+-" + title + std::string(inner - 1 - Width(title), '-') + "+\n";
  for (const auto& line : body) box += "| " + Padded(line, inner - 2) + " |\n";
  box += "+" + std::string(inner, '-') + "+\n";

  std::lock_guard lock(mutex_);
  presented_.push_back(std::move(alert));
  std::fwrite(box.data(), 1, box.size(), stream_);
  std::fflush(stream_);
}

std::vector<std::shared_ptr<UIAlertController>> TerminalAlertPresenter::presented() const {
  std::lock_guard lock(mutex_);
  return presented_;
}

}  // namespace platform::linux_platform
