// Any suite file's bytes, as the share and the receiver read them (XML or
// binary property list), then the value under "ShareKey" as the receiver
// reads it (a list of texts, or the media list's JSON); and the same bytes
// as a media list directly. Reading either refuses with a reason or gives
// records that were each checked against the container, which does not
// exist here, so every record must come out missing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/linux/suite/plist_suite_file.h"
#include "receive/payload_reading.h"
#include "receive/suite_value.h"
#include "share/shared_media_file.h"

namespace {

constexpr const char* kNoContainer = "/nonexistent/halvernsignet-fuzz/container";

void CheckReceipt(const halvernsignet_receive::Receipt& receipt) {
  using Outcome = halvernsignet_receive::Receipt::Outcome;
  if (receipt.outcome == Outcome::failed && receipt.error.empty()) std::abort();
  if (receipt.outcome != Outcome::read) return;
  for (const auto& media : receipt.media) {
    if (!media.missing()) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto root = platform::linux_platform::ParseSuite(bytes, "fuzz.plist");
  if (root.ok()) {
    CheckReceipt(halvernsignet_receive::ReadPayload(halvernsignet_receive::ValueForKey(root->get(), "ShareKey"),
                                                    kNoContainer));
  } else if (root.status().message().empty()) {
    std::abort();
  }

  halvernsignet_receive::StoredValue value;
  value.kind = halvernsignet_receive::StoredValue::Kind::data;
  value.bytes = std::string(bytes);
  CheckReceipt(halvernsignet_receive::ReadPayload(value, kNoContainer));
  return 0;
}
