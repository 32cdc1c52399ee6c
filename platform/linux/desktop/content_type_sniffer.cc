#include "platform/linux/desktop/content_type_sniffer.h"

#include <memory>

#include <gio/gio.h>

#include "platform/glib_handles.h"

namespace platform::linux_platform {

std::string TypeIdentifierForMIMEType(std::string_view mime) {
  struct Entry {
    std::string_view mime;
    std::string_view identifier;
  };
  static constexpr Entry kExact[] = {
      {"image/jpeg", "public.jpeg"},
      {"image/png", "public.png"},
      {"image/heic", "public.heic"},
      {"image/heif", "public.heif"},
      {"image/gif", "com.compuserve.gif"},
      {"image/tiff", "public.tiff"},
      {"image/webp", "org.webmproject.webp"},
      {"video/mp4", "public.mpeg-4"},
      {"video/quicktime", "com.apple.quicktime-movie"},
      {"video/x-msvideo", "public.avi"},
      {"video/webm", "org.webmproject.webm"},
      {"text/plain", "public.plain-text"},
      {"application/pdf", "com.adobe.pdf"},
      {"inode/directory", "public.folder"},
  };
  for (const auto& entry : kExact) {
    if (entry.mime == mime) return std::string(entry.identifier);
  }
  if (mime.starts_with("image/")) return "public.image";
  if (mime.starts_with("video/")) return "public.movie";
  if (mime.starts_with("text/")) return "public.text";
  return "public.data";
}

bool IsPreviewableMovieMIMEType(std::string_view mime) {
  static constexpr std::string_view kContainers[] = {
      "video/mp4",       "video/x-m4v",   "video/quicktime", "video/x-matroska", "video/webm",
      "video/mp2t",      "video/mpeg",    "video/x-msvideo", "video/3gpp",       "video/3gpp2",
      "video/x-flv",     "video/ogg",     "video/x-ms-wmv",  "video/x-ms-asf",
  };
  for (std::string_view container : kContainers) {
    if (container == mime) return true;
  }
  return false;
}

std::string TypeIdentifierForPath(const std::string& path) {
  GObjectPtr<GFile> file(g_file_new_for_path(path.c_str()));
  // Without NOFOLLOW_SYMLINKS the link's target is examined.
  GObjectPtr<GFileInfo> info(g_file_query_info(file.get(), G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                               G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
  if (!info) return "public.data";
  const char* contentType = g_file_info_get_content_type(info.get());
  if (contentType == nullptr) return "public.data";
  GCharPtr mime(g_content_type_get_mime_type(contentType));
  const std::string_view type = mime ? mime.get() : contentType;
  if (type.starts_with("video/") && !IsPreviewableMovieMIMEType(type)) return "public.data";
  return TypeIdentifierForMIMEType(type);
}

}  // namespace platform::linux_platform
