#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/base/progress_text.h"

namespace platform::linux_platform {

// The name of the dialog module's entry: `DesktopDialogs* ()`, a new GTK
// service whose toolkit is running, or null when no display can be opened.
inline constexpr const char* kDialogModuleEntry = "halvernsignet_create_desktop_dialogs";

// Windows on the desktop for a person who has no terminal. Every call may
// come from any thread and returns at once; the windows live on a thread of
// their own, which runs the toolkit's main loop.
class DesktopDialogs {
 public:
  virtual ~DesktopDialogs() = default;

  // A modal alert with a title, a message and one button per entry of
  // `buttons`. `picked` runs (on the toolkit's thread) with the index of the
  // button the person picked, or `closeIndex` when the window is closed
  // otherwise; the window is gone afterwards.
  virtual void showAlert(std::string title, std::string message, std::vector<std::string> buttons,
                         std::size_t closeIndex, std::function<void(std::size_t)> picked) = 0;

  // Shows the progress window with these figures, or updates it.
  virtual void showProgress(const ProgressSnapshot& snapshot) = 0;
  // Gives the progress window a Cancel button: `cancelled` runs (on the
  // toolkit's thread) when the person presses it or closes the window.
  // Without it, the window has no button and closing it only hides it.
  virtual void setProgressCancelled(std::function<void()> cancelled) = 0;
  virtual void closeProgress() = 0;

  // Closes the progress window, waits until the person has closed every
  // alert, then stops the toolkit's thread.
  virtual void waitUntilClosed() = 0;
};

// Whether a window can be shown instead of writing to standard error: it is
// not a terminal, and a display is named (WAYLAND_DISPLAY or DISPLAY).
bool PreferDesktopDialogs();

// The dialog module at `modulePath`, loaded and started on first use, so a
// share that shows no window never maps the toolkit. When it cannot be had
// (no module, no display), that is said once on standard error and get()
// gives null: callers fall back to standard error.
class LazyDesktopDialogs {
 public:
  explicit LazyDesktopDialogs(std::string modulePath) : modulePath_(std::move(modulePath)) {}
  ~LazyDesktopDialogs();

  DesktopDialogs* get();
  // Waits for the windows, when the module was ever started.
  void waitUntilClosed();

 private:
  const std::string modulePath_;
  std::once_flag once_;
  std::unique_ptr<DesktopDialogs> dialogs_;
};

// The module beside the running program, or in its installed place.
std::string DefaultDialogModulePath();

}  // namespace platform::linux_platform
