#pragma once

#include <memory>

#include <glib-object.h>

namespace platform {

// Owners for GLib memory, objects and errors.
struct GFreeDeleter {
  void operator()(gpointer p) const { g_free(p); }
};
struct GObjectDeleter {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct GErrorDeleter {
  void operator()(GError* error) const { g_error_free(error); }
};

template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectDeleter>;
using GCharPtr = std::unique_ptr<char, GFreeDeleter>;
using GErrorPtr = std::unique_ptr<GError, GErrorDeleter>;

}  // namespace platform
