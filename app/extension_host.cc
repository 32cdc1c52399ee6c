#include "app/extension_host.h"

#include <chrono>
#include <cstdio>
#include <memory>

#include "app/desktop_feedback.h"
#include "app/verbose_services.h"
#include "platform/linux/extension/extension_request.h"
#include "platform/linux/desktop/gio_application.h"
#include "platform/linux/loading/lazy_av_foundation.h"
#include "platform/linux/suite/plist_user_defaults.h"
#include "platform/linux/files/posix_file_manager.h"
#include "platform/linux/extension/queued_item_provider.h"
#include "platform/linux/base/random_uuid_source.h"
#include "platform/linux/files/run_journal.h"
#include "platform/linux/extension/stderr_outcome_report.h"
#include "platform/linux/extension/stdio_output.h"
#include "platform/linux/base/xdg_dirs.h"
#include "platform/one_line.h"
#include "platform/linux/base/file_tree.h"
#include "share/app_group.h"
#include "share/share_view_controller.h"
#include "halvernsignet_build_config.h"

namespace app {
namespace {

namespace lp = platform::linux_platform;

lp::ItemLoadQueue::Result ResultOf(const AttachmentSpec& spec) {
  switch (spec.payload) {
    case AttachmentSpec::Payload::string:
      return {platform::LoadedItem{spec.value}, std::nullopt};
    case AttachmentSpec::Payload::url:
      if (auto url = platform::URL::URLWithString(spec.value)) return {platform::LoadedItem{*url}, std::nullopt};
      return {std::nullopt, platform::NSError{"not a URL: " + spec.value}};
    case AttachmentSpec::Payload::data:
      return {platform::LoadedItem{platform::DataFromString(spec.value)}, std::nullopt};
    case AttachmentSpec::Payload::error:
      return {std::nullopt, platform::NSError{spec.value}};
    case AttachmentSpec::Payload::none:
      break;
  }
  return {};
}

std::vector<std::shared_ptr<platform::NSObject>> InputItems(const ShareRequest& request,
                                                            const std::shared_ptr<lp::ItemLoadQueue>& queue) {
  std::vector<std::shared_ptr<platform::NSObject>> items;
  for (const ItemSpec& spec : request.inputItems) {
    if (!spec.isExtensionItem) {
      items.push_back(std::make_shared<platform::NSObject>());
      continue;
    }
    std::optional<platform::NSExtensionItem::Attachments> attachments;
    if (spec.attachments) {
      attachments.emplace();
      for (const AttachmentSpec& a : *spec.attachments) {
        attachments->push_back(std::make_shared<lp::QueuedItemProvider>(
            a.types, ResultOf(a), std::chrono::milliseconds(a.delayMs), queue));
      }
    }
    items.push_back(std::make_shared<platform::NSExtensionItem>(std::move(attachments)));
  }
  return items;
}

// The local files among the attachments of the first input item, the only
// one shared, in the order the share will copy them.
std::vector<std::string> ExpectedCopySources(const ShareRequest& request) {
  std::vector<std::string> paths;
  if (request.inputItems.empty() || !request.inputItems.front().attachments) return paths;
  for (const AttachmentSpec& a : *request.inputItems.front().attachments) {
    if (a.payload != AttachmentSpec::Payload::url) continue;
    if (auto url = platform::URL::URLWithString(a.value); url && url->isLocalFileURL()) paths.push_back(url->path());
  }
  return paths;
}

// Starts this run's record, then clears what runs that died left behind,
// before this one writes anything in the container or beside the suite.
// Records the sweep would not trust are said once, with or without -v: they
// may have been planted.
std::shared_ptr<lp::RunJournal> StartRunAndSweep(std::FILE* log) {
  const std::string stateDirectory = lp::DefaultStateDirectory();
  std::shared_ptr<lp::RunJournal> journal = lp::RunJournal::Start(stateDirectory);
  const std::string group = halvernsignet_mobile_Share::AppGroupIdentifierFor(build_config::kHostAppBundleIdentifier);
  const lp::SweepReport swept = lp::SweepDeadRuns(
      stateDirectory, {lp::JoinPath(lp::JoinPath(lp::DefaultDataHome(), "group-containers"), group),
                       lp::DefaultConfigHome(), group + ".plist"});
  if (!swept.refused.empty()) {
    std::fprintf(stderr, "halvernsignet-share: the records of earlier shares were left alone: %s\n",
                 platform::OneLine(swept.refused).c_str());
  }
  if (swept.recordsRefused > 0) {
    std::fprintf(stderr, "halvernsignet-share: left alone %d records of earlier shares in %s that belong to another user\n",
                 swept.recordsRefused, platform::OneLine(lp::JoinPath(stateDirectory, "runs")).c_str());
  }
  if (swept.linesSkipped > 0) {
    std::fprintf(stderr, "halvernsignet-share: skipped %d lines of earlier shares' records that name something "
                         "outside the container or the suite's folder (first: %s)\n",
                 swept.linesSkipped, platform::OneLine(swept.firstSkipped).c_str());
  }
  if (log) {
    if (!journal) {
      std::fprintf(log, "halvernsignet-share: cannot keep a record of this share in %s; should it be cut short, "
                        "what it leaves stays\n", stateDirectory.c_str());
    }
    if (swept.deadRuns > 0 || swept.failures > 0) {
      std::fprintf(log, "halvernsignet-share: cleared %d shares that did not finish: %d items removed, %d put back, "
                        "%d could not be cleared\n", swept.deadRuns, swept.itemsRemoved, swept.itemsRestored,
                   swept.failures);
    }
  }
  return journal;
}

}  // namespace

int RunShare(const ShareRequest& request) {
  std::FILE* log = request.verbose ? stderr : nullptr;
  DesktopFeedback feedback(log);

  const std::shared_ptr<lp::RunJournal> journal = StartRunAndSweep(log);
  auto report = std::make_shared<lp::StderrOutcomeReport>(stderr);
  std::shared_ptr<platform::NSFileManager> files = std::make_shared<lp::PosixFileManager>(
      lp::DefaultDataHome(),
      lp::PosixFileManager::Options{feedback.progress(request), lp::SyncMethod::kChooseByUnwrittenData, journal,
                                    ExpectedCopySources(request),
                                    [report](const std::string& link, const std::string& target) {
                                      report->linkLeftOut(link, target);
                                    },
                                    [log](const std::string& line, bool important) {
                                      if (important || log) {
                                        std::fprintf(stderr, "halvernsignet-share: %s\n",
                                                     platform::OneLine(line).c_str());
                                      }
                                    }});
  auto plistSuites = std::make_shared<lp::PlistUserDefaultsSuites>(lp::DefaultConfigHome(), journal);
  std::shared_ptr<platform::NSUserDefaultsSuites> suites = plistSuites;
  if (log) {
    files = std::make_shared<VerboseFileManager>(files, log);
    suites = std::make_shared<VerboseUserDefaultsSuites>(plistSuites, log);
  }
  halvernsignet_mobile_Share::PlatformServices services{
      files, suites, std::make_shared<lp::RandomUUIDSource>(), std::make_shared<lp::LazyAVFoundation>(lp::DefaultMovieModulePath()),
      std::make_shared<lp::StdioOutput>(stdout), report};

  auto alerts = std::make_shared<CountingAlertPresenter>(feedback.alerts());
  lp::GioApplication application(feedback.openURLReporter());

  auto queue = std::make_shared<lp::ItemLoadQueue>();
  auto context = std::make_shared<lp::ExtensionRequest>(InputItems(request, queue));

  auto controller = halvernsignet_mobile_Share::ShareViewController::initWithNibName(std::nullopt, std::nullopt,
                                                                                     std::move(services));
  controller->setExtensionContext(context);
  controller->setNextResponder(&application);
  controller->setAlertPresenter(alerts);
  controller->viewDidLoad();
  controller->viewDidAppear(true);
  queue->waitUntilIdle();
  // Every load has delivered: the copies made stay, any temporary goes.
  if (journal) journal->finish();
  // The process stays while the person still has an alert open.
  feedback.finish();

  if (alerts->presented() > 0) return kErrorAlertShown;
  if (context->completions() == 0) return kNeverCompleted;
  return report->itemsLeftOut() > 0 ? kItemsLeftOut : kHandedOver;
}

}  // namespace app
