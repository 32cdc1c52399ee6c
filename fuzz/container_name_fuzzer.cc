// Any URL text a sharing program may hand over: parsing never crashes, and
// the copy's name is always one path component inside the container.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/testing/fake_av_foundation.h"
#include "platform/testing/in_memory_file_manager.h"
#include "platform/testing/in_memory_user_defaults.h"
#include "platform/testing/recording_outcome_report.h"
#include "platform/testing/recording_output.h"
#include "platform/testing/sequential_uuid_source.h"
#include "share/share_view_controller.h"

namespace pt = platform::testing;
using halvernsignet_mobile_Share::SharedMediaType;
using halvernsignet_mobile_Share::ShareViewController;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto controller = ShareViewController::initWithNibName(
      std::nullopt, std::nullopt,
      {std::make_shared<pt::InMemoryFileManager>(), std::make_shared<pt::InMemoryUserDefaultsSuites>(),
       std::make_shared<pt::SequentialUUIDSource>(), std::make_shared<pt::FakeAVFoundation>(),
       std::make_shared<pt::RecordingOutput>(), std::make_shared<pt::RecordingOutcomeReport>()});
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto url = platform::URL::URLWithString(text);
  if (!url) return 0;
  (void)url->path();
  for (SharedMediaType kind : {SharedMediaType::image, SharedMediaType::video, SharedMediaType::file}) {
    const std::string name = controller->containerFileName(*url, kind);
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) std::abort();
    const auto container = platform::URL::fileURLWithPath("/c/group.x", true);
    const auto destination = container.appendingPathComponent(name);
    if (destination.deletingLastPathComponent().absoluteString() != container.absoluteString()) std::abort();
    if (destination.lastPathComponent() != name) std::abort();
  }
  return 0;
}
