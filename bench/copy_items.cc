// Copies files into an app-group container the way a share does (put into
// place in one step, through a hidden temporary name where needed), then
// makes the batch durable.
// COPY_ITEMS_SYNC=each flushes item by item, =fs with one syncfs; by default
// the file manager chooses by how much unwritten data the system holds.
// COPY_ITEMS_AHEAD=0 turns off copying ahead.
// Lets bench/copy_bench.sh measure the copy engine on its own:
//   copy_items [--file] PATH [[--file] PATH ...]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/linux/files/posix_file_manager.h"
#include "platform/linux/base/xdg_dirs.h"

using platform::URL;
using platform::linux_platform::DefaultDataHome;
using platform::linux_platform::PosixFileManager;
using platform::linux_platform::SyncMethod;

int main(int argc, char** argv) {
  PosixFileManager::Options options;
  if (const char* sync = std::getenv("COPY_ITEMS_SYNC")) {
    if (std::strcmp(sync, "each") == 0) options.sync = SyncMethod::kEachItem;
    if (std::strcmp(sync, "fs") == 0) options.sync = SyncMethod::kFileSystem;
  }
  // The files are copied ahead as in a share, unless COPY_ITEMS_AHEAD=0.
  if (const char* ahead = std::getenv("COPY_ITEMS_AHEAD"); ahead == nullptr || std::strcmp(ahead, "0") != 0) {
    for (int i = 1; i < argc; ++i) {
      if (std::strcmp(argv[i], "--file") != 0) options.expectedSources.push_back(URL::fileURLWithPath(argv[i]).path());
    }
  }
  PosixFileManager manager(DefaultDataHome(), options);
  const auto container =
      manager.containerURLForSecurityApplicationGroupIdentifier("group.bench.copy-items");
  if (!container) {
    std::fprintf(stderr, "copy_items: no container\n");
    return 1;
  }
  int failures = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--file") == 0) continue;
    const URL src = URL::fileURLWithPath(argv[i]);
    const std::string name = src.lastPathComponent();
    const URL tmp = container->appendingPathComponent("." + name + ".copying");
    const URL dst = container->appendingPathComponent(name);
    const platform::Status status = manager.copyItemIntoPlace(src, dst, tmp);
    if (!status.ok()) {
      std::fprintf(stderr, "Cannot copy item at %s: %s\n", argv[i], status.message().c_str());
      ++failures;
    }
  }
  if (platform::Status synced = manager.synchronizeWrittenItems(); !synced.ok()) {
    std::fprintf(stderr, "copy_items: %s\n", synced.message().c_str());
    return 1;
  }
  return failures == 0 ? 0 : 1;
}
