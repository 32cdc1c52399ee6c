#include "receive/payload_reading.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include <fcntl.h>

#include "platform/linux/base/file_tree.h"
#include "platform/url.h"

namespace halvernsignet_receive {
namespace {

namespace fs = std::filesystem;

// Whether `path` lies strictly below `directory` (both absolute and normal).
bool IsBelow(const fs::path& path, const fs::path& directory) {
  const fs::path relative = path.lexically_relative(directory);
  return !relative.empty() && relative != "." && *relative.begin() != "..";
}

// The first link inside the folder `folder` (a real path) that leads out of
// the container `realContainer`, with what it says; none when every link
// stays inside. Links are read, never followed.
std::optional<std::string> LinkLeadingOut(const fs::path& folder, const fs::path& realContainer) {
  std::error_code error;
  fs::recursive_directory_iterator entry(folder, fs::directory_options::skip_permission_denied, error);
  for (; !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
    if (entry.depth() >= platform::linux_platform::kMaxTreeDepth) entry.disable_recursion_pending();
    if (!entry->is_symlink(error)) continue;
    const fs::path link = entry->path();
    const std::optional<std::string> target = platform::linux_platform::ReadLinkAt(AT_FDCWD, link.string());
    if (!target ||
        platform::linux_platform::LinkLeadsOutOf(link.parent_path().string(), *target, realContainer.string())) {
      return link.lexically_relative(folder).string() + " -> " + target.value_or("?");
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ProblemWithContainerFile(const std::string& urlText, const std::string& containerDirectory) {
  const auto url = platform::URL::URLWithString(urlText);
  if (!url || !url->isFileURL()) return "not a file URL";
  // A file URL of another host names a file on another machine.
  if (!url->isLocalFileURL()) return "not a local file URL";
  const std::string path = url->path();
  if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) return "not a local file URL";

  const fs::path container = fs::path(containerDirectory).lexically_normal();
  const fs::path file = fs::path(path).lexically_normal();
  if (!IsBelow(file, container)) return "outside the container";

  std::error_code error;
  const fs::path realContainer = fs::canonical(container, error);
  if (error) return "no such file (the container is missing)";
  const fs::path realFile = fs::canonical(file, error);
  if (error) return error == std::errc::no_such_file_or_directory ? "no such file" : error.message();
  // A link inside the container may lead out of it.
  if (!IsBelow(realFile, realContainer)) return "outside the container";
  // A copied folder may hold links; one that leads out of the container
  // would send the importer there.
  if (fs::is_directory(fs::symlink_status(realFile, error))) {
    if (auto link = LinkLeadingOut(realFile, realContainer)) return "holds a link leading out of the container: " + *link;
  }
  return std::nullopt;
}

Receipt ReadPayload(const StoredValue& value, const std::string& containerDirectory) {
  Receipt receipt;
  switch (value.kind) {
    case StoredValue::Kind::absent:
      receipt.outcome = Receipt::Outcome::nothing;
      return receipt;
    case StoredValue::Kind::other:
      return Receipt::Failed("\"ShareKey\" holds " + value.description +
                             ", neither a list of strings nor data");
    case StoredValue::Kind::strings:
      receipt.outcome = Receipt::Outcome::read;
      receipt.kind = Receipt::Kind::text;
      receipt.texts = value.strings;
      return receipt;
    case StoredValue::Kind::data:
      break;
  }

  std::string reason;
  auto records = halvernsignet_mobile_Share::decodeMediaList(value.bytes, &reason);
  if (!records) return Receipt::Failed("the media list under \"ShareKey\" is refused: " + reason);
  receipt.outcome = Receipt::Outcome::read;
  receipt.kind = Receipt::Kind::media;
  receipt.media.reserve(records->size());
  for (auto& record : *records) {
    std::optional<std::string> problem;
    if (auto pathProblem = ProblemWithContainerFile(record.path, containerDirectory)) {
      problem = "path: " + *pathProblem;
    } else if (record.thumbnail) {
      if (auto thumbnailProblem = ProblemWithContainerFile(*record.thumbnail, containerDirectory)) {
        problem = "thumbnail: " + *thumbnailProblem;
      }
    }
    receipt.media.push_back(ReceivedMedia{std::move(record), std::move(problem)});
  }
  return receipt;
}

}  // namespace halvernsignet_receive
