#include "share/shared_media_file.h"

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

std::optional<SharedMediaFile::CodingKeys> SharedMediaFile::codingKeyFromInt(int) { return std::nullopt; }

std::optional<int> SharedMediaFile::intValue(CodingKeys) { return std::nullopt; }

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

std::optional<Json> ObjectForm(const SharedMediaFile& record) {
  Json object = Json::object();
  object[std::string(SharedMediaFile::stringValue(SharedMediaFile::CodingKeys::path))] = record.path;
  if (record.thumbnail) {
    object[std::string(SharedMediaFile::stringValue(SharedMediaFile::CodingKeys::thumbnail))] = *record.thumbnail;
  }
  if (record.duration) {
    if (!std::isfinite(*record.duration)) return std::nullopt;
    object[std::string(SharedMediaFile::stringValue(SharedMediaFile::CodingKeys::duration))] =
        NumberValue(*record.duration);
  }
  object[std::string(SharedMediaFile::stringValue(SharedMediaFile::CodingKeys::type))] = RawValue(record.type);
  return object;
}

}  // namespace

std::optional<platform::Data> encodeMediaList(const std::vector<std::shared_ptr<SharedMediaFile>>& list) {
  Json array = Json::array();
  for (const auto& record : list) {
    auto object = ObjectForm(*record);
    if (!object) return std::nullopt;
    array.push_back(std::move(*object));
  }
  return platform::DataFromString(array.dump());
}

std::optional<SharedMediaFile> decodeSharedMediaFile(std::string_view jsonObjectText) {
  const Json object = Json::parse(jsonObjectText, nullptr, /*allow_exceptions=*/false);
  if (!object.is_object()) return std::nullopt;

  const auto path = object.find("path");
  if (path == object.end() || !path->is_string()) return std::nullopt;

  std::optional<std::string> thumbnail;
  if (const auto it = object.find("thumbnail"); it != object.end() && !it->is_null()) {
    if (!it->is_string()) return std::nullopt;
    thumbnail = it->get<std::string>();
  }

  std::optional<double> duration;
  if (const auto it = object.find("duration"); it != object.end() && !it->is_null()) {
    if (!it->is_number()) return std::nullopt;
    duration = it->get<double>();
  }

  const auto type = object.find("type");
  if (type == object.end() || !type->is_number_integer()) return std::nullopt;
  const auto kind = SharedMediaTypeFromRawValue(type->get<std::int64_t>());
  if (!kind) return std::nullopt;

  return SharedMediaFile(path->get<std::string>(), std::move(thumbnail), duration, *kind);
}

}  // namespace halvernsignet_mobile_Share
