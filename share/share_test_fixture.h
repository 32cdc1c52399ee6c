#pragma once

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "halvernsignet_build_config.h"
#include "platform/testing/fake_av_foundation.h"
#include "platform/testing/fake_extension_context.h"
#include "platform/testing/fake_item_provider.h"
#include "platform/testing/in_memory_file_manager.h"
#include "platform/testing/in_memory_user_defaults.h"
#include "platform/testing/recording_alert_presenter.h"
#include "platform/testing/recording_outcome_report.h"
#include "platform/testing/recording_output.h"
#include "platform/testing/recording_responder.h"
#include "platform/testing/sequential_uuid_source.h"
#include "share/share_view_controller.h"

namespace halvernsignet_mobile_Share {

namespace pt = platform::testing;

// A controller on fakes of every platform service, shown with a request whose
// first item has the attachments a test names.
class ShareTest : public ::testing::Test {
 protected:
  const std::string group = std::string("group.") + build_config::kHostAppBundleIdentifier;

  std::shared_ptr<pt::InMemoryFileManager> files = std::make_shared<pt::InMemoryFileManager>();
  std::shared_ptr<pt::InMemoryUserDefaultsSuites> defaults = std::make_shared<pt::InMemoryUserDefaultsSuites>();
  std::shared_ptr<pt::SequentialUUIDSource> uuids = std::make_shared<pt::SequentialUUIDSource>();
  std::shared_ptr<pt::FakeAVFoundation> av = std::make_shared<pt::FakeAVFoundation>();
  std::shared_ptr<pt::RecordingOutput> output = std::make_shared<pt::RecordingOutput>();
  std::shared_ptr<pt::RecordingOutcomeReport> report = std::make_shared<pt::RecordingOutcomeReport>();
  std::shared_ptr<pt::RecordingAlertPresenter> alerts = std::make_shared<pt::RecordingAlertPresenter>();
  pt::RecordingResponder application{"application", true};
  std::vector<std::shared_ptr<pt::FakeItemProvider>> providers;
  std::shared_ptr<pt::FakeExtensionContext> context;
  std::shared_ptr<ShareViewController> controller;

  ~ShareTest() override {
    for (const auto& provider : providers) provider->dropPendingLoads();
  }

  PlatformServices services() { return PlatformServices{files, defaults, uuids, av, output, report}; }

  std::shared_ptr<ShareViewController> makeController() {
    auto made = ShareViewController::initWithNibName(std::nullopt, std::nullopt, services());
    made->setAlertPresenter(alerts);
    made->setNextResponder(&application);
    return made;
  }

  // Shows the controller for a request of these input items.
  void show(std::vector<std::shared_ptr<platform::NSObject>> items) {
    context = std::make_shared<pt::FakeExtensionContext>(std::move(items));
    controller = makeController();
    controller->setExtensionContext(context);
    controller->viewDidLoad();
    controller->viewDidAppear(true);
  }

  // Shows the controller for one item whose attachments offer these types.
  void share(const std::vector<std::vector<std::string>>& attachmentTypes) {
    platform::NSExtensionItem::Attachments attachments;
    for (const auto& types : attachmentTypes) {
      providers.push_back(std::make_shared<pt::FakeItemProvider>(types));
      attachments.push_back(providers.back());
    }
    show({std::make_shared<platform::NSExtensionItem>(attachments)});
  }

  pt::FakeItemProvider& attachment(std::size_t i) { return *providers.at(i); }

  static platform::URL File(const std::string& path) { return platform::URL::fileURLWithPath(path); }

  std::string containerPath() const { return files->containerPath(group); }
  std::string containerURL() const { return "file://" + containerPath() + "/"; }

  std::optional<platform::PropertyListValue> stored() const { return defaults->value(group, "ShareKey"); }
  std::vector<std::string> storedText() const {
    auto value = stored();
    if (!value || !std::holds_alternative<std::vector<std::string>>(*value)) {
      ADD_FAILURE() << "no list of strings stored";
      return {};
    }
    return std::get<std::vector<std::string>>(*value);
  }
  std::string storedJson() const {
    auto value = stored();
    if (!value || !std::holds_alternative<platform::Data>(*value)) {
      ADD_FAILURE() << "no data stored";
      return {};
    }
    return platform::StringFromData(std::get<platform::Data>(*value));
  }
  std::vector<std::string> opened() const { return application.receivedTexts(); }
};

}  // namespace halvernsignet_mobile_Share
