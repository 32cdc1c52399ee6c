#include "share/shared_media_file.h"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

namespace halvernsignet_mobile_Share {

using Json = nlohmann::ordered_json;

std::optional<SharedMediaType> SharedMediaTypeFromRawValue(std::int64_t rawValue) {
  switch (rawValue) {
    case 0: return SharedMediaType::image;
    case 1: return SharedMediaType::video;
    case 2: return SharedMediaType::file;
    default: return std::nullopt;
  }
}

std::int64_t RawValue(SharedMediaType type) { return static_cast<std::int64_t>(type); }

std::string_view TextForm(RedirectType type) {
  switch (type) {
    case RedirectType::media: return "media";
    case RedirectType::text: return "text";
    case RedirectType::file: return "file";
  }
  return "media";
}

std::string_view SharedMediaFile::stringValue(CodingKeys key) {
  switch (key) {
    case CodingKeys::path: return "path";
    case CodingKeys::thumbnail: return "thumbnail";
    case CodingKeys::duration: return "duration";
    case CodingKeys::type: return "type";
  }
  return "path";
}

std::optional<SharedMediaFile::CodingKeys> SharedMediaFile::codingKeyFromString(std::string_view text) {
  for (CodingKeys key : {CodingKeys::path, CodingKeys::thumbnail, CodingKeys::duration, CodingKeys::type}) {
    if (stringValue(key) == text) return key;
  }
  return std::nullopt;
}

namespace {

// A whole number is written without a fraction ("257", not "257.0"), as the
// platform's own encoder writes it; some host languages read "257.0" as
// another type.
Json NumberValue(double value) {
  constexpr double kExactIntegerLimit = 9007199254740992.0;  // 2^53
  if (std::trunc(value) == value && std::fabs(value) <= kExactIntegerLimit) {
    return Json(static_cast<std::int64_t>(value));
  }
  return Json(value);
}

void Append(platform::Data& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

// Appends `text` as a JSON string. The texts are URLs, nearly always printable
// ASCII with nothing to escape, written as they are; any other text is written
// by the JSON library, escapes and all.
void AppendString(platform::Data& out, const std::string& text) {
  const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte < 0x7f && c != '"' && c != '\\';
  });
  if (!plain) {
    Append(out, Json(text).dump());
    return;
  }
  out.push_back('"');
  Append(out, text);
  out.push_back('"');
}

void AppendKey(platform::Data& out, SharedMediaFile::CodingKeys key) {
  out.push_back('"');
  Append(out, SharedMediaFile::stringValue(key));
  Append(out, "\":");
}

// Appends the record's object; false when its duration has no JSON form.
bool AppendObject(platform::Data& out, const SharedMediaFile& record) {
  using Key = SharedMediaFile::CodingKeys;
  out.push_back('{');
  AppendKey(out, Key::path);
  AppendString(out, record.path);
  if (record.thumbnail) {
    out.push_back(',');
    AppendKey(out, Key::thumbnail);
    AppendString(out, *record.thumbnail);
  }
  if (record.duration) {
    if (!std::isfinite(*record.duration)) return false;
    out.push_back(',');
    AppendKey(out, Key::duration);
    Append(out, NumberValue(*record.duration).dump());
  }
  out.push_back(',');
  AppendKey(out, Key::type);
  Append(out, std::to_string(RawValue(record.type)));
  out.push_back('}');
  return true;
}

}  // namespace

// Written out directly, not built as a JSON document first: a document of
// 10,000 records took 50 ms to build and write, most of it allocating.
std::optional<platform::Data> encodeMediaList(const std::vector<std::shared_ptr<SharedMediaFile>>& list) {
  platform::Data out;
  out.reserve(2 + list.size() * 160);
  out.push_back('[');
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i > 0) out.push_back(',');
    if (!AppendObject(out, *list[i])) return std::nullopt;
  }
  out.push_back(']');
  return out;
}

namespace {

// The reading rules of one record; on failure, `reason` says which rule.
std::optional<SharedMediaFile> DecodeObject(const Json& object, std::string& reason) {
  if (!object.is_object()) {
    reason = "not a JSON object";
    return std::nullopt;
  }
  const auto path = object.find("path");
  if (path == object.end()) {
    reason = "\"path\" is missing";
    return std::nullopt;
  }
  if (!path->is_string()) {
    reason = "\"path\" is not a string";
    return std::nullopt;
  }

  std::optional<std::string> thumbnail;
  if (const auto it = object.find("thumbnail"); it != object.end() && !it->is_null()) {
    if (!it->is_string()) {
      reason = "\"thumbnail\" is neither a string nor null";
      return std::nullopt;
    }
    thumbnail = it->get<std::string>();
  }

  std::optional<double> duration;
  if (const auto it = object.find("duration"); it != object.end() && !it->is_null()) {
    if (!it->is_number()) {
      reason = "\"duration\" is neither a number nor null";
      return std::nullopt;
    }
    duration = it->get<double>();
  }

  const auto type = object.find("type");
  if (type == object.end()) {
    reason = "\"type\" is missing";
    return std::nullopt;
  }
  if (!type->is_number_integer()) {
    reason = "\"type\" is not an integer";
    return std::nullopt;
  }
  // An integer above the signed range is none of the three either.
  const auto kind = type->is_number_unsigned() && type->get<std::uint64_t>() > 2
                        ? std::nullopt
                        : SharedMediaTypeFromRawValue(type->get<std::int64_t>());
  if (!kind) {
    reason = "\"type\" is not 0, 1 or 2";
    return std::nullopt;
  }
  return SharedMediaFile(path->get<std::string>(), std::move(thumbnail), duration, *kind);
}

std::optional<Json> ParseJson(std::string_view text, std::string& reason) {
  Json value = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) {
    reason = "not valid JSON";
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<SharedMediaFile> decodeSharedMediaFile(std::string_view jsonObjectText, std::string* reason) {
  std::string why;
  std::optional<SharedMediaFile> record;
  if (auto object = ParseJson(jsonObjectText, why)) record = DecodeObject(*object, why);
  if (!record && reason) *reason = why;
  return record;
}

std::optional<std::vector<SharedMediaFile>> decodeMediaList(std::string_view jsonText, std::string* reason) {
  std::string why;
  auto fail = [&](std::string message) -> std::optional<std::vector<SharedMediaFile>> {
    if (reason) *reason = std::move(message);
    return std::nullopt;
  };
  const auto array = ParseJson(jsonText, why);
  if (!array) return fail(why);
  if (!array->is_array()) return fail("not a JSON array");
  std::vector<SharedMediaFile> records;
  records.reserve(array->size());
  for (std::size_t i = 0; i < array->size(); ++i) {
    auto record = DecodeObject((*array)[i], why);
    if (!record) return fail("record " + std::to_string(i + 1) + ": " + why);
    records.push_back(std::move(*record));
  }
  return records;
}

}  // namespace halvernsignet_mobile_Share
