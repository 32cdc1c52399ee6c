// Any manifest text: parsing either refuses it with a reason or gives items
// whose every URL payload is a valid URL and whose delays stay bounded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/manifest.h"
#include "platform/url.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const app::ManifestResult result =
      app::ParseManifest(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!result.inputItems) {
    if (result.error.empty()) std::abort();
    return 0;
  }
  for (const app::ItemSpec& item : *result.inputItems) {
    if (!item.attachments) continue;
    for (const app::AttachmentSpec& a : *item.attachments) {
      if (a.delayMs < 0 || a.delayMs > app::kMaxDelayMs) std::abort();
      if (a.payload == app::AttachmentSpec::Payload::url && !platform::URL::URLWithString(a.value)) std::abort();
    }
  }
  return 0;
}
