#pragma once

#include <string>
#include <string_view>

namespace platform {

// Uniform type identifiers of the system-declared types the extension meets.
inline constexpr std::string_view kUTTypeImage = "public.image";
inline constexpr std::string_view kUTTypeMovie = "public.movie";
inline constexpr std::string_view kUTTypeText = "public.text";
inline constexpr std::string_view kUTTypeURL = "public.url";
inline constexpr std::string_view kUTTypeFileURL = "public.file-url";

// Whether `type` is `conformsTo` or a descendant of it in the type hierarchy
// (public.jpeg conforms to public.image, public.file-url to public.url, ...).
// An identifier the table does not know conforms only to itself.
bool UTTypeConformsTo(std::string_view type, std::string_view conformsTo);

// Whether the table declares the identifier.
bool UTTypeIsDeclared(std::string_view type);

}  // namespace platform
