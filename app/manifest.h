#pragma once

#include <cstddef>

#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/share_request.h"

namespace app {

// The longest delay a manifest may ask of a load: long enough to test slow
// providers, short enough that a typo cannot leave a request hanging.
inline constexpr int kMaxDelayMs = 600000;
// A larger manifest is refused before it is parsed (it would take several
// times its size in memory).
inline constexpr std::size_t kMaxManifestBytes = std::size_t{256} << 20;

// The input items of a manifest, or the reason it was refused.
struct ManifestResult {
  std::optional<std::vector<ItemSpec>> inputItems;
  std::string error;  // names the offending place, e.g. "inputItems[0].attachments[1].types: ..."
};

// A manifest is a JSON object {"inputItems": [ITEM, ...]}. An ITEM that is not
// an object is an input item of another kind; an object may hold
// "attachments": [{"types": [ids], one of "string" | "url" | "data" (Base64) |
// "error", "delayMs": n}, ...].
ManifestResult ParseManifest(std::string_view json);

// Reads the manifest at `path` ("-": from `standardInput`) and parses it.
ManifestResult ReadManifest(const std::string& path, std::istream& standardInput);

}  // namespace app
