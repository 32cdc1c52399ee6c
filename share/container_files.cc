// Names of the copies in the app-group container, and the copy itself.
#include <string_view>
#include <vector>

#include "platform/base64.h"
#include "platform/one_line.h"
#include "share/share_view_controller.h"

namespace halvernsignet_mobile_Share {
namespace {

// Splits at every separator, keeping empty pieces.
std::vector<std::string> ComponentsSeparatedBy(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (std::size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
    pieces.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

// The last "."-separated piece of the name, as written (empty for "photo."),
// or the kind's fallback when the name holds no ".". A piece that holds a "/"
// (an escaped slash in the source URL) would reach into a subdirectory, so it
// counts as no extension.
std::string ExtensionOf(const std::string& sourceName, SharedMediaType kind) {
  const std::string fallback = kind == SharedMediaType::file ? "TXT" : "MP4";
  const auto pieces = ComponentsSeparatedBy(sourceName, '.');
  if (pieces.size() < 2 || pieces.back().find('/') != std::string::npos) return fallback;
  return pieces.back();
}

// A name that is not exactly one path component would name the container
// itself, its parent, or a place outside it.
bool IsSinglePathComponent(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

std::string ShareViewController::containerFileName(const platform::URL& source, SharedMediaType kind) {
  const std::string sourceName = source.lastPathComponent();
  if (kind == SharedMediaType::file) {
    if (IsSinglePathComponent(sourceName)) return sourceName;
    return services_.uuids->uuidString() + "." + ExtensionOf(std::string(), kind);
  }
  return services_.uuids->uuidString() + "." + ExtensionOf(sourceName, kind);
}

platform::Status ShareViewController::copyItemIntoContainer(const platform::URL& source,
                                                            const platform::URL& destination) {
  platform::NSFileManager& files = *services_.fileManager;

  // The new copy is made under a temporary name beside the destination (or
  // with no name at all) and then put in its place in one step: an earlier
  // file of the same name stays whole until the new copy is complete, and
  // survives a failed copy.
  const platform::URL temporary = destination.deletingLastPathComponent().appendingPathComponent(
      ".incoming-" + services_.uuids->uuidString());
  platform::Status status = files.copyItemIntoPlace(source, destination, temporary);
  if (status.ok()) return status;

  // The reason may repeat a path holding a line feed or an escape: the line
  // stays one line, cleaned as the names in the left-out lines are.
  // A leftover that cannot be removed is swept by a later share; the line
  // below reports the copy's own failure, which is what the person needs.
  if (files.fileExistsAtPath(temporary.path())) (void)files.removeItemAtURL(temporary);
  services_.standardOutput->writeLine("Cannot copy item at " + source.absoluteString() + " to " +
                                      destination.absoluteString() + ": " + platform::OneLine(status.message()));
  return status;
}

}  // namespace halvernsignet_mobile_Share
