#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/linux/dialogs/desktop_dialogs.h"
#include "platform/linux/loading/module_path.h"
#include "platform/one_line.h"

namespace platform::linux_platform {
namespace {

bool Named(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

}  // namespace

bool PreferDesktopDialogs() {
  return ::isatty(STDERR_FILENO) != 1 && (Named("WAYLAND_DISPLAY") || Named("DISPLAY"));
}

LazyDesktopDialogs::~LazyDesktopDialogs() { waitUntilClosed(); }

DesktopDialogs* LazyDesktopDialogs::get() {
  std::call_once(once_, [this] {
    void* module = ::dlopen(modulePath_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      std::fprintf(stderr, "halvernsignet-share: dialogs are not available: %s\n", OneLine(::dlerror()).c_str());
      return;
    }
    using Entry = DesktopDialogs* (*)();
    auto entry = reinterpret_cast<Entry>(::dlsym(module, kDialogModuleEntry));
    if (entry == nullptr) {
      std::fprintf(stderr, "halvernsignet-share: %s is not a dialog module\n", OneLine(modulePath_).c_str());
      return;
    }
    dialogs_.reset(entry());
    if (!dialogs_) std::fprintf(stderr, "halvernsignet-share: dialogs are not available: cannot open the display\n");
  });
  return dialogs_.get();
}

void LazyDesktopDialogs::waitUntilClosed() {
  // The module is never unloaded: its thread and the toolkit stay mapped
  // until the process ends.
  if (dialogs_) dialogs_->waitUntilClosed();
}

std::string DefaultDialogModulePath() { return ModulePath("libhalvernsignet-dialogs.so"); }

}  // namespace platform::linux_platform
