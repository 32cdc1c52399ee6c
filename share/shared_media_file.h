#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/data.h"

namespace halvernsignet_mobile_Share {

// The kind of a file copied into the container. The raw value is what a host
// application reads under "type".
enum class SharedMediaType : std::int64_t { image = 0, video = 1, file = 2 };

// The case for a raw value; none for anything but 0, 1 and 2.
std::optional<SharedMediaType> SharedMediaTypeFromRawValue(std::int64_t rawValue);
std::int64_t RawValue(SharedMediaType type);

// The kind of handoff the redirect URL names in its fragment.
enum class RedirectType { media, text, file };

// "media", "text" or "file".
std::string_view TextForm(RedirectType type);

// The record of one media file copied into the container. Records are shared
// by reference and never changed once made.
class SharedMediaFile {
 public:
  SharedMediaFile(std::string pathText, std::optional<std::string> thumbnailText,
                  std::optional<double> milliseconds, SharedMediaType kind)
      : path(std::move(pathText)), thumbnail(std::move(thumbnailText)), duration(milliseconds), type(kind) {}

  // The keys of the record's JSON object, in the order they are written.
  enum class CodingKeys { path, thumbnail, duration, type };
  static std::string_view stringValue(CodingKeys key);
  // The key for an exact (case-sensitive) text; none for any other text.
  static std::optional<CodingKeys> codingKeyFromString(std::string_view text);

  std::string path;                      // absolute URL text of the container copy
  std::optional<std::string> thumbnail;  // absolute URL text of the thumbnail file
  std::optional<double> duration;        // playing time in whole milliseconds
  SharedMediaType type;
};

// The compact JSON text of a list of records: an array of objects with the
// keys path, thumbnail, duration, type in that order, absent values left out.
// None when a duration is not a finite number (JSON has no form for it).
std::optional<platform::Data> encodeMediaList(const std::vector<std::shared_ptr<SharedMediaFile>>& list);

// Reads one record from the text of a JSON object, as a host application
// does; none when "path" or "type" is missing, a value has the wrong JSON
// type, or "type" is not 0, 1 or 2. `reason`, when given, is then set to
// why, in words fit for a diagnostic line.
std::optional<SharedMediaFile> decodeSharedMediaFile(std::string_view jsonObjectText,
                                                     std::string* reason = nullptr);

// Reads the JSON text of a whole media list (what encodeMediaList writes),
// each element by the rules of decodeSharedMediaFile. None when the text is
// not a JSON array or any element is not a good record: a host application
// imports a payload whole or not at all. `reason` then names the first bad
// element ("record 2: ...").
std::optional<std::vector<SharedMediaFile>> decodeMediaList(std::string_view jsonText,
                                                            std::string* reason = nullptr);

}  // namespace halvernsignet_mobile_Share
