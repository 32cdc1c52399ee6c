#include "app/desktop_feedback.h"

#include <chrono>
#include <string>

#include <unistd.h>

#include "platform/linux/desktop/desktop_notification.h"
#include "platform/linux/desktop/dialog_alert_presenter.h"
#include "platform/linux/desktop/terminal_alert_presenter.h"
#include "platform/linux/desktop/window_progress_view.h"
#include "platform/linux/files/tree_size.h"
#include "platform/one_line.h"
#include "platform/url.h"

namespace app {
namespace {

namespace lp = platform::linux_platform;

constexpr const char* kNoHandlerTitle = "halvernsignet is not installed";
constexpr const char* kNoHandlerMessage =
    "What you shared was stored, but no application opens halvernsignet: links, so halvernsignet was not "
    "opened.";

}  // namespace

CopyPlan PlanCopies(const ShareRequest& request, const std::vector<std::int64_t>& attachmentsCopied,
                    bool countBytes) {
  CopyPlan plan;
  if (request.inputItems.empty() || !request.inputItems.front().attachments) return plan;
  const std::vector<AttachmentSpec>& attachments = *request.inputItems.front().attachments;
  for (const std::int64_t index : attachmentsCopied) {
    if (index < 0 || static_cast<std::size_t>(index) >= attachments.size()) continue;
    const AttachmentSpec& spec = attachments[static_cast<std::size_t>(index)];
    if (spec.payload != AttachmentSpec::Payload::url) continue;
    const auto url = platform::URL::URLWithString(spec.value);
    if (!url || !url->isFileURL()) continue;
    ++plan.items;
    if (countBytes) plan.bytes += lp::BytesToCopy(url->path());
    if (url->isLocalFileURL()) plan.sources.push_back(url->path());
  }
  return plan;
}

DesktopFeedback::DesktopFeedback(std::FILE* verboseLog)
    : verboseLog_(verboseLog),
      windows_(lp::PreferDesktopDialogs()),
      terminal_(::isatty(STDERR_FILENO) == 1),
      dialogs_(std::make_shared<lp::LazyDesktopDialogs>(lp::DefaultDialogModulePath())),
      terminalAlerts_(std::make_shared<lp::TerminalAlertPresenter>(stderr)) {}

std::shared_ptr<lp::CopyProgress> DesktopFeedback::progress(const CopyPlan& plan, std::function<void()> cancel,
                                                            std::chrono::milliseconds testCopyDelay) {
  if (progress_) return progress_;
  std::shared_ptr<lp::ProgressView> view;
  if (terminal_) {
    view = std::make_shared<lp::TerminalProgressLine>([](std::string_view text) {
      std::fwrite(text.data(), 1, text.size(), stderr);
      std::fflush(stderr);
    });
  } else if (windows_) {
    view = std::make_shared<lp::WindowProgressView>(dialogs_, std::move(cancel));
  }
  progress_ = std::make_shared<lp::CopyProgress>(view, [] { return std::chrono::steady_clock::now(); }, true);
  if (testCopyDelay.count() > 0) progress_->setTestDelay(testCopyDelay);
  if (view) progress_->plan(plan.items, plan.bytes);
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

void DesktopFeedback::tellOutcome(const OutcomeNotice& notice) {
  std::string notShown;
  if (terminal_) {
    notShown = "standard error is a terminal";
  } else if (!windows_) {
    notShown = "no desktop session (no display named)";
  } else if (platform::Status shown = lp::ShowDesktopNotification(notice.summary, notice.body); !shown.ok()) {
    notShown = shown.message();
  }
  if (!verboseLog_) return;
  if (notShown.empty()) {
    std::fprintf(verboseLog_, "halvernsignet-share: told in a desktop notification: %s\n", notice.summary.c_str());
  } else {
    std::fprintf(verboseLog_, "halvernsignet-share: no desktop notification: %s\n", notShown.c_str());
  }
}

void DesktopFeedback::finish() {
  if (progress_) progress_->finish();
  dialogs_->waitUntilClosed();
}

}  // namespace app
