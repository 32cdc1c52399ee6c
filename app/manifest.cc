#include "app/manifest.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>

#include <nlohmann/json.hpp>

#include "platform/base64.h"
#include "platform/status_or.h"
#include "platform/url.h"

namespace app {
namespace {

using nlohmann::json;
using platform::Status;
using platform::StatusOr;

// A refusal of the manifest: the first problem met, and the parse stops there.
Status Refusal(std::string message) { return Status::InvalidArgument(std::move(message)); }

std::string TypeName(const json& value) { return value.type_name(); }

constexpr std::array<const char*, 4> kPayloadKeys = {"string", "url", "data", "error"};

Status RequireOnlyKeys(const json& object, std::initializer_list<std::string_view> allowed, const std::string& where) {
  for (const auto& [key, value] : object.items()) {
    bool known = false;
    for (auto name : allowed) known = known || key == name;
    if (!known) return Refusal(where + ": unknown key \"" + key + "\"");
  }
  return Status::OK();
}

StatusOr<std::vector<std::string>> ParseTypes(const json& object, const std::string& where) {
  const auto types = object.find("types");
  if (types == object.end()) return Refusal(where + ": \"types\" is missing");
  if (!types->is_array()) return Refusal(where + ".types: must be an array of type identifiers, not " + TypeName(*types));
  std::vector<std::string> result;
  for (std::size_t i = 0; i < types->size(); ++i) {
    const json& type = (*types)[i];
    if (!type.is_string()) {
      return Refusal(where + ".types[" + std::to_string(i) + "]: must be a string, not " + TypeName(type));
    }
    result.push_back(type.get<std::string>());
  }
  return result;
}

// The one payload an attachment delivers, if it names one, into `result`.
Status ParsePayload(const json& object, const std::string& where, AttachmentSpec& result) {
  const char* payloadKey = nullptr;
  for (const char* key : kPayloadKeys) {
    if (!object.contains(key)) continue;
    if (payloadKey) {
      return Refusal(where + ": \"" + payloadKey + "\" and \"" + key + "\" both given; an attachment delivers one");
    }
    payloadKey = key;
  }
  if (!payloadKey) return Status::OK();
  const json& value = object.at(payloadKey);
  const std::string at = where + "." + payloadKey;
  if (!value.is_string()) return Refusal(at + ": must be a string, not " + TypeName(value));
  const std::string text = value.get<std::string>();
  const std::string_view key = payloadKey;
  if (key == "string") {
    // The suite stores a text only up to its first NUL; never store it cut.
    if (text.find('\0') != std::string::npos) {
      return Refusal(at + ": the text holds a NUL character (\\u0000), which the settings suite cannot store");
    }
    result.payload = AttachmentSpec::Payload::string;
    result.value = text;
  } else if (key == "url") {
    if (!platform::URL::URLWithString(text)) return Refusal(at + ": \"" + text + "\" is not a valid URL");
    result.payload = AttachmentSpec::Payload::url;
    result.value = text;
  } else if (key == "data") {
    const std::optional<platform::Data> bytes = platform::Base64DecodedData(text);
    if (!bytes) return Refusal(at + ": not valid Base64 (standard alphabet, padded, no blanks)");
    result.payload = AttachmentSpec::Payload::data;
    result.value = platform::StringFromData(*bytes);
  } else {
    result.payload = AttachmentSpec::Payload::error;
    result.value = text;
  }
  return Status::OK();
}

StatusOr<int> ParseDelay(const json& delay, const std::string& where) {
  const std::string range = "an integer from 0 to " + std::to_string(kMaxDelayMs);
  if (!delay.is_number_integer()) return Refusal(where + ".delayMs: must be " + range + ", not " + TypeName(delay));
  const bool inRange = delay.is_number_unsigned() ? delay.get<std::uint64_t>() <= kMaxDelayMs
                                                  : delay.get<std::int64_t>() >= 0 &&
                                                        delay.get<std::int64_t>() <= kMaxDelayMs;
  if (!inRange) return Refusal(where + ".delayMs: must be " + range + ", not " + delay.dump());
  return delay.get<int>();
}

StatusOr<AttachmentSpec> ParseAttachment(const json& object, const std::string& where) {
  if (!object.is_object()) return Refusal(where + ": an attachment must be an object, not " + TypeName(object));
  if (Status keys = RequireOnlyKeys(object, {"types", "string", "url", "data", "error", "delayMs"}, where); !keys.ok()) {
    return keys;
  }
  AttachmentSpec result;
  StatusOr<std::vector<std::string>> types = ParseTypes(object, where);
  if (!types.ok()) return types.status();
  result.types = std::move(types).value();
  if (Status payload = ParsePayload(object, where, result); !payload.ok()) return payload;
  if (const auto delay = object.find("delayMs"); delay != object.end()) {
    StatusOr<int> delayMs = ParseDelay(*delay, where);
    if (!delayMs.ok()) return delayMs.status();
    result.delayMs = *delayMs;
  }
  return result;
}

StatusOr<ItemSpec> ParseItem(const json& item, const std::string& where) {
  ItemSpec result;
  if (!item.is_object()) {
    result.isExtensionItem = false;
    return result;
  }
  if (Status keys = RequireOnlyKeys(item, {"attachments"}, where); !keys.ok()) return keys;
  const auto attachments = item.find("attachments");
  if (attachments == item.end() || attachments->is_null()) return result;
  if (!attachments->is_array()) {
    return Refusal(where + ".attachments: must be an array, not " + TypeName(*attachments));
  }
  result.attachments.emplace();
  for (std::size_t i = 0; i < attachments->size(); ++i) {
    StatusOr<AttachmentSpec> attachment =
        ParseAttachment((*attachments)[i], where + ".attachments[" + std::to_string(i) + "]");
    if (!attachment.ok()) return attachment.status();
    result.attachments->push_back(std::move(attachment).value());
  }
  return result;
}

StatusOr<std::vector<ItemSpec>> ParseDocument(const json& document) {
  if (!document.is_object()) return Refusal("the top level must be an object, not " + TypeName(document));
  if (Status keys = RequireOnlyKeys(document, {"inputItems"}, "the top level"); !keys.ok()) return keys;
  const auto items = document.find("inputItems");
  if (items == document.end()) return Refusal("\"inputItems\" is missing");
  if (!items->is_array()) return Refusal("inputItems: must be an array, not " + TypeName(*items));
  std::vector<ItemSpec> parsed;
  for (std::size_t i = 0; i < items->size(); ++i) {
    StatusOr<ItemSpec> item = ParseItem((*items)[i], "inputItems[" + std::to_string(i) + "]");
    if (!item.ok()) return item.status();
    parsed.push_back(std::move(item).value());
  }
  return parsed;
}

}  // namespace

ManifestResult ParseManifest(std::string_view text) {
  const json document = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded()) return {std::nullopt, "not valid JSON"};
  // The one place where what the JSON library throws is caught: the walk
  // checks each value's type before reading it, so this is a safety net,
  // never the way a refusal travels.
  try {
    StatusOr<std::vector<ItemSpec>> parsed = ParseDocument(document);
    if (!parsed.ok()) return {std::nullopt, parsed.status().message()};
    return {std::move(parsed).value(), {}};
  } catch (const json::exception& error) {
    return {std::nullopt, error.what()};
  }
}

ManifestResult ReadManifest(const std::string& path, std::istream& standardInput) {
  std::string text;
  if (path == "-") {
    text.assign(std::istreambuf_iterator<char>(standardInput), {});
    if (standardInput.bad()) return {std::nullopt, "cannot read the manifest from standard input"};
  } else {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rbe"), std::fclose);
    if (!file) return {std::nullopt, "cannot open " + path + ": " + std::strerror(errno)};
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, n);
    if (std::ferror(file.get())) return {std::nullopt, "cannot read " + path + ": " + std::strerror(errno)};
  }
  return ParseManifest(text);
}

}  // namespace app
