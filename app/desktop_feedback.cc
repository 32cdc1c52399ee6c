#include "app/desktop_feedback.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <unistd.h>

#include "platform/linux/desktop/dialog_alert_presenter.h"
#include "platform/linux/desktop/terminal_alert_presenter.h"
#include "platform/linux/files/tree_size.h"
#include "platform/one_line.h"
#include "platform/type_identifiers.h"
#include "platform/url.h"

namespace app {
namespace {

namespace lp = platform::linux_platform;

constexpr const char* kNoHandlerTitle = "halvernsignet is not installed";
constexpr const char* kNoHandlerMessage =
    "What you shared was stored, but no application opens halvernsignet: links, so halvernsignet was not "
    "opened.";

// Test hook: HALVERNSIGNET_SHARE_TEST_COPY_DELAY_MS slows the copy of every
// file so the tests can see a long copy's progress. Nothing else reads it.
std::chrono::milliseconds TestCopyDelay() {
  const char* value = std::getenv("HALVERNSIGNET_SHARE_TEST_COPY_DELAY_MS");
  if (value == nullptr) return std::chrono::milliseconds(0);
  return std::chrono::milliseconds(std::strtol(value, nullptr, 10));
}

}  // namespace

CopyPlan PlanCopies(const ShareRequest& request) {
  CopyPlan plan;
  if (request.inputItems.empty() || !request.inputItems.front().attachments) return plan;
  for (const AttachmentSpec& spec : *request.inputItems.front().attachments) {
    if (spec.payload != AttachmentSpec::Payload::url) continue;
    // The kinds in the order the controller tries them; the first that fits wins.
    bool copied = false;
    for (const auto kind : {platform::kUTTypeImage, platform::kUTTypeText, platform::kUTTypeFileURL,
                            platform::kUTTypeURL, platform::kUTTypeMovie}) {
      bool fits = false;
      for (const std::string& type : spec.types) fits = fits || platform::UTTypeConformsTo(type, kind);
      if (!fits) continue;
      copied = kind == platform::kUTTypeImage || kind == platform::kUTTypeFileURL || kind == platform::kUTTypeMovie;
      break;
    }
    if (!copied) continue;
    const auto url = platform::URL::URLWithString(spec.value);
    if (!url || !url->isFileURL()) continue;
    ++plan.items;
    plan.bytes += lp::BytesToCopy(url->path());
  }
  return plan;
}

DesktopFeedback::DesktopFeedback(std::FILE* verboseLog)
    : verboseLog_(verboseLog),
      windows_(lp::PreferDesktopDialogs()),
      terminal_(::isatty(STDERR_FILENO) == 1),
      dialogs_(std::make_shared<lp::LazyDesktopDialogs>(lp::DefaultDialogModulePath())),
      terminalAlerts_(std::make_shared<lp::TerminalAlertPresenter>(stderr)) {}

std::shared_ptr<lp::CopyProgress> DesktopFeedback::progress(const ShareRequest& request) {
  if (progress_) return progress_;
  std::shared_ptr<lp::ProgressView> view;
  if (terminal_) {
    view = std::make_shared<lp::TerminalProgressLine>([](std::string_view text) {
      std::fwrite(text.data(), 1, text.size(), stderr);
      std::fflush(stderr);
    });
  } else if (windows_) {
    view = std::make_shared<lp::WindowProgressView>(dialogs_);
  }
  progress_ = std::make_shared<lp::CopyProgress>(view, [] { return std::chrono::steady_clock::now(); }, true);
  if (const auto delay = TestCopyDelay(); delay.count() > 0) progress_->setTestDelay(delay);
  if (view) {
    const CopyPlan plan = PlanCopies(request);
    progress_->plan(plan.items, plan.bytes);
  }
  return progress_;
}

std::shared_ptr<platform::AlertPresenter> DesktopFeedback::alerts() {
  if (!windows_) return terminalAlerts_;
  return std::make_shared<lp::DialogAlertPresenter>(dialogs_, terminalAlerts_);
}

lp::GioApplication::Reporter DesktopFeedback::openURLReporter() {
  return [this](const lp::OpenURLOutcome& outcome) {
    if (verboseLog_) std::fprintf(verboseLog_, "halvernsignet-share: %s\n", platform::OneLine(outcome.description()).c_str());
    if (outcome.status == lp::OpenURLOutcome::Status::noHandler) tellNoHandler();
  };
}

void DesktopFeedback::tellNoHandler() {
  std::call_once(noHandlerTold_, [this] {
    if (windows_) {
      if (lp::DesktopDialogs* dialogs = dialogs_->get()) {
        dialogs->showAlert(kNoHandlerTitle, kNoHandlerMessage, {"OK"}, 0, nullptr);
        return;
      }
    }
    std::fprintf(stderr,
                 "halvernsignet-share: %s: no application opens halvernsignet: links; the share was stored, "
                 "but nothing was opened\n",
                 kNoHandlerTitle);
  });
}

void DesktopFeedback::finish() {
  if (progress_) progress_->finish();
  dialogs_->waitUntilClosed();
}

}  // namespace app
