#include "platform/type_identifiers.h"

#include <array>
#include <utility>

namespace platform {
namespace {

// Each declared identifier with the identifiers it directly conforms to.
struct Declaration {
  std::string_view type;
  std::array<std::string_view, 2> parents;
};

constexpr Declaration kDeclarations[] = {
    {"public.item", {}},
    {"public.content", {"public.item"}},
    {"public.data", {"public.item"}},
    {"public.composite-content", {"public.content"}},
    {"public.directory", {"public.item"}},
    {"public.folder", {"public.directory"}},
    // images
    {"public.image", {"public.data", "public.content"}},
    {"public.jpeg", {"public.image"}},
    {"public.png", {"public.image"}},
    {"public.tiff", {"public.image"}},
    {"public.heif-standard", {"public.image"}},
    {"public.heic", {"public.heif-standard"}},
    {"public.heif", {"public.heif-standard"}},
    {"com.compuserve.gif", {"public.image"}},
    {"com.microsoft.bmp", {"public.image"}},
    {"org.webmproject.webp", {"public.image"}},
    {"public.webp", {"public.image"}},
    {"public.camera-raw-image", {"public.image"}},
    {"public.svg-image", {"public.image"}},
    // movies and sound
    {"public.audiovisual-content", {"public.data", "public.content"}},
    {"public.movie", {"public.audiovisual-content"}},
    {"public.video", {"public.movie"}},
    {"public.mpeg-4", {"public.movie"}},
    {"com.apple.quicktime-movie", {"public.movie"}},
    {"public.mpeg", {"public.movie"}},
    {"public.avi", {"public.movie"}},
    {"org.webmproject.webm", {"public.movie"}},
    {"public.3gpp", {"public.movie"}},
    {"public.3gpp2", {"public.movie"}},
    {"public.mpeg-2-transport-stream", {"public.movie"}},
    {"public.mpeg-2-video", {"public.movie"}},
    {"com.apple.m4v-video", {"public.mpeg-4"}},
    {"public.audio", {"public.audiovisual-content"}},
    {"public.mp3", {"public.audio"}},
    {"public.mpeg-4-audio", {"public.audio"}},
    {"public.aiff-audio", {"public.audio"}},
    // text
    {"public.text", {"public.data", "public.content"}},
    {"public.plain-text", {"public.text"}},
    {"public.utf8-plain-text", {"public.plain-text"}},
    {"public.utf16-plain-text", {"public.plain-text"}},
    {"public.html", {"public.text"}},
    {"public.rtf", {"public.text"}},
    {"public.xml", {"public.text"}},
    {"public.json", {"public.text"}},
    {"public.source-code", {"public.plain-text"}},
    // links and documents
    {"public.url", {"public.data"}},
    {"public.file-url", {"public.url"}},
    {"com.adobe.pdf", {"public.data", "public.composite-content"}},
    {"public.archive", {"public.data"}},
    {"public.zip-archive", {"public.archive"}},
};

const Declaration* Find(std::string_view type) {
  for (const auto& declaration : kDeclarations) {
    if (declaration.type == type) return &declaration;
  }
  return nullptr;
}

bool ConformsWithin(std::string_view type, std::string_view conformsTo, int depth) {
  if (type == conformsTo) return true;
  const Declaration* declaration = Find(type);
  if (declaration == nullptr || depth > 16) return false;
  for (std::string_view parent : declaration->parents) {
    if (!parent.empty() && ConformsWithin(parent, conformsTo, depth + 1)) return true;
  }
  return false;
}

}  // namespace

bool UTTypeConformsTo(std::string_view type, std::string_view conformsTo) {
  return ConformsWithin(type, conformsTo, 0);
}

bool UTTypeIsDeclared(std::string_view type) { return Find(type) != nullptr; }

}  // namespace platform
