#pragma once

#include <optional>
#include <string>
#include <vector>

namespace app {

// One attachment as the command line or a manifest describes it: which type
// identifiers its provider offers and what a load of it delivers.
struct AttachmentSpec {
  std::vector<std::string> types;                // identifiers offered
  enum class Payload { none, string, url, data, error } payload = Payload::none;
  std::string value;                            // the string, the URL text, the decoded bytes, or the error message
  int delayMs = 0;
};

// isExtensionItem false: an input item of some other kind, which the
// extension must pass over.
struct ItemSpec {
  bool isExtensionItem = true;
  std::optional<std::vector<AttachmentSpec>> attachments;
};

struct ShareRequest {
  std::vector<ItemSpec> inputItems;
  bool verbose = false;
};

}  // namespace app
